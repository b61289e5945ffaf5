// No text of the window is cut off, in English and in Chinese: every label,
// button, check box, radio button and group box title of the main window,
// the port test and the serial terminal fits its widget at the window's
// fixed size.
#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTranslator>
#include <QtTest>

#include "common/IsolatedRoots.h"
#include "gui/CTALVOApp.h"
#include "gui/CTALVODlg.h"
#include "gui/Ccom_Debug.h"
#include "gui/CPortTest.h"
#include "gui/Fonts.h"
#include "platform/Language.h"

using namespace talvo;
using namespace talvo::gui;

namespace {

// "widget: text (needs N px, has M px)" for every text of `window` that
// does not fit.
QStringList clippedTexts(QWidget* window) {
    QStringList clipped;
    const auto check = [&](QWidget* w, QString text, int available) {
        text.remove(QLatin1Char('&'));
        if (text.isEmpty()) return;
        const int widest = [&] {
            int most = 0;
            for (const QString& line : text.split(QLatin1Char('\n')))
                most = std::max(most, w->fontMetrics().horizontalAdvance(line));
            return most;
        }();
        if (widest > available)
            clipped << QStringLiteral("%1 \"%2\" (needs %3 px, has %4 px)")
                           .arg(QLatin1String(w->metaObject()->className()), text)
                           .arg(widest)
                           .arg(available);
    };
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window)) continue;
        QStyle* style = w->style();
        if (auto* label = qobject_cast<QLabel*>(w)) {
            if (label->wordWrap()) {
                if (label->heightForWidth(label->contentsRect().width()) > label->contentsRect().height())
                    clipped << QStringLiteral("QLabel \"%1\" (wrapped, too tall)").arg(label->text());
                continue;
            }
            check(label, label->text(), label->contentsRect().width() - 2 * label->margin());
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            // The area the style draws the text in, inside its frame and
            // beside the indicator of a check box or radio button.
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            const QStyle::SubElement contents = qobject_cast<QRadioButton*>(w) ? QStyle::SE_RadioButtonContents
                                                : qobject_cast<QCheckBox*>(w)  ? QStyle::SE_CheckBoxContents
                                                                               : QStyle::SE_PushButtonContents;
            check(button, button->text(), style->subElementRect(contents, &option, button).width());
        } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
            // The title sits on the frame, a few pixels in from each side.
            check(group, group->title(), group->width() - 2 * style->pixelMetric(QStyle::PM_LayoutLeftMargin));
        }
    }
    return clipped;
}

} // namespace

class TextFitTest : public QObject {
    Q_OBJECT

private slots:
    void everyTextFitsInEitherLanguage_data() {
        QTest::addColumn<int>("language");
        QTest::newRow("English") << int(Language::English);
        QTest::newRow("Chinese") << int(Language::Chinese);
    }

    void everyTextFitsInEitherLanguage() {
        QFETCH(int, language);
        QApplication::setFont(DialogFont());
        for (QTranslator* t : qApp->findChildren<QTranslator*>()) QCoreApplication::removeTranslator(t);
        CTALVOApp::InstallLanguage(Language(language));

        test::IsolatedRoots roots;
        CoreServices services = roots.services();
        services.extraPorts = {QStringLiteral("sim:loopback")};
        CTALVODlg w(services);
        w.RecordMessageBoxes = true;
        w.show();
        if (Language(language) == Language::English)
            QCOMPARE(w.findChild<QPushButton*>("1005")->text(), QString("Download"));
        QStringList clipped = clippedTexts(&w);
        w.portTest()->ShowTool();
        clipped << clippedTexts(w.portTest());
        w.serialDebug()->show();
        clipped << clippedTexts(w.serialDebug());
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QLatin1Char('\n'))));
        w.core().StopPortWatch();
    }
};

QTEST_MAIN(TextFitTest)
#include "text_fit_test.moc"
