#include "gui/HelpWindow.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QGuiApplication>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace talvo::gui {

namespace {
constexpr QSize kInitialSize(860, 680);
// What the window's frame, the scroll bar, the page's margins and a list's
// indentation take from the window's width.
constexpr int kPageChrome = 110;
const char kFallbackLanguage[] = "zh";

// Pictures wider than the page are shown scaled down to its width, so that
// the page needs no sideways scrolling in the window's size.
class HelpBrowser : public QTextBrowser {
public:
    using QTextBrowser::QTextBrowser;
    int MaxPictureWidth = kInitialSize.width() - kPageChrome;
    QVariant loadResource(int type, const QUrl& name) override {
        QVariant resource = QTextBrowser::loadResource(type, name);
        if (type != QTextDocument::ImageResource) return resource;
        QImage picture;
        if (resource.userType() == QMetaType::QByteArray)
            picture.loadFromData(resource.toByteArray());
        else
            picture = qvariant_cast<QImage>(resource);
        if (picture.width() <= MaxPictureWidth) return resource;
        return picture.scaledToWidth(MaxPictureWidth, Qt::SmoothTransformation);
    }
};
} // namespace

HelpWindow::HelpWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("help"));
    setWindowTitle(QCoreApplication::translate("HelpWindow", "TALVO 帮助"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    Browser = new HelpBrowser(this);
    Browser->setOpenLinks(true);
    Browser->setOpenExternalLinks(false);
    Browser->document()->setDocumentMargin(12);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Browser);
    layout->addWidget(buttons);
    QSize size = kInitialSize;
    if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableSize() * 9 / 10);
    resize(size);
}

bool HelpWindow::ShowPage(const QString& page) {
    if (!QFileInfo(page).isReadable()) return false;
    static_cast<HelpBrowser*>(Browser)->MaxPictureWidth = std::max(100, width() - kPageChrome);
    Browser->setSource(QUrl::fromLocalFile(page));
    if (!Browser->documentTitle().isEmpty()) setWindowTitle(Browser->documentTitle());
    return !Browser->document()->isEmpty();
}

QStringList HelpWindow::DefaultFolders() {
    return {QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/doc/talvo/help")),
            QStringLiteral(TALVO_HELP_BUILD_DIR)};
}

QString HelpWindow::PagePath(const QStringList& folders, const QString& language) {
    for (const QString& lang : {language, QString::fromLatin1(kFallbackLanguage)})
        for (const QString& folder : folders) {
            const QString page = QDir(folder).filePath(QStringLiteral("index.%1.html").arg(lang));
            if (QFileInfo(page).isFile()) return page;
        }
    return {};
}

QString HelpWindow::Language() {
    const QLocale::Language language = QLocale().language();
    return language == QLocale::Chinese || language == QLocale::C ? QStringLiteral("zh") : QStringLiteral("en");
}

} // namespace talvo::gui
