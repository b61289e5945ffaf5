#include "gui/WidgetPanel.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>

#include <algorithm>

namespace talvo::gui {

QString WidgetPanel::text(int id) const {
    QWidget* w = Controls.value(id);
    if (qobject_cast<QPlainTextEdit*>(w)) return RawTexts.value(id);
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* cb = qobject_cast<QComboBox*>(w)) return cb->currentText();
    return {};
}

void WidgetPanel::setText(int id, const QString& text) {
    QWidget* w = Controls.value(id);
    if (auto* pe = qobject_cast<QPlainTextEdit*>(w)) {
        RawTexts[id] = text;
        QString shown = text;
        shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        pe->setPlainText(shown);
        pe->verticalScrollBar()->setValue(pe->verticalScrollBar()->maximum());
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        e->setText(text);
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        l->setText(text);
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        b->setText(text);
    }
}

bool WidgetPanel::isEnabled(int id) const {
    QWidget* w = Controls.value(id);
    return w && w->isEnabled();
}

void WidgetPanel::setEnabled(int id, bool enabled) {
    if (QWidget* w = Controls.value(id)) w->setEnabled(enabled);
}

QStringList WidgetPanel::items(int id) const {
    QStringList out;
    if (auto* cb = qobject_cast<QComboBox*>(Controls.value(id)))
        for (int i = 0; i < cb->count(); ++i) out << cb->itemText(i);
    return out;
}

void WidgetPanel::setItems(int id, const QStringList& items) {
    if (auto* cb = qobject_cast<QComboBox*>(Controls.value(id))) {
        cb->clear();
        cb->addItems(items);
        cb->setCurrentIndex(-1);
    }
}

int WidgetPanel::currentIndex(int id) const {
    auto* cb = qobject_cast<QComboBox*>(Controls.value(id));
    return cb ? cb->currentIndex() : -1;
}

void WidgetPanel::setCurrentIndex(int id, int index) {
    if (auto* cb = qobject_cast<QComboBox*>(Controls.value(id)))
        cb->setCurrentIndex(index >= 0 && index < cb->count() ? index : -1);
}

bool WidgetPanel::isChecked(int id) const {
    auto* b = qobject_cast<QAbstractButton*>(Controls.value(id));
    return b && b->isChecked();
}

void WidgetPanel::setChecked(int id, bool checked) {
    if (auto* b = qobject_cast<QAbstractButton*>(Controls.value(id))) b->setChecked(checked);
}

void WidgetPanel::setProgressRange(int id, int low, int high) {
    if (auto* p = qobject_cast<QProgressBar*>(Controls.value(id))) p->setRange(low, high);
}

void WidgetPanel::setProgress(int id, int position) {
    if (auto* p = qobject_cast<QProgressBar*>(Controls.value(id)))
        p->setValue(std::clamp(position, p->minimum(), std::max(p->minimum(), p->maximum())));
}

int WidgetPanel::progress(int id) const {
    auto* p = qobject_cast<QProgressBar*>(Controls.value(id));
    return p ? p->value() : 0;
}

// These windows have no status bar, no file dialog and do not end the application.
QString WidgetPanel::statusText(int) const { return {}; }
void WidgetPanel::setStatusText(int, const QString&) {}
QString WidgetPanel::askOpenFileName(const QString&, const QString&) { return {}; }
void WidgetPanel::quitApplication(int) {}

void WidgetPanel::messageBox(const QString& text, const QString& caption, MsgIcon icon) {
    if (RecordMessageBoxes) {
        RecordedMessages << text;
        return;
    }
    ShowMessageBox(Owner, text, caption, icon);
}

void ShowMessageBox(QWidget* owner, const QString& text, const QString& caption, MsgIcon icon) {
    QMessageBox box(owner && owner->isVisible() ? owner : nullptr);
    box.setWindowTitle(caption.isEmpty() ? QStringLiteral("TALVO") : caption);
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok);
    switch (icon) {
    case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    case MsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case MsgIcon::Error: box.setIcon(QMessageBox::Critical); break;
    case MsgIcon::None: break;
    }
    box.exec();
}

bool WidgetPanel::askQuestion(const QString& text, const QString& caption, const QString& yesText,
                              const QString& noText) {
    QMessageBox box(Owner && Owner->isVisible() ? Owner : nullptr);
    box.setObjectName(QStringLiteral("question"));
    box.setWindowTitle(caption.isEmpty() ? QStringLiteral("TALVO") : caption);
    box.setText(text);
    box.setIcon(QMessageBox::Warning);
    QPushButton* yes = box.addButton(yesText, QMessageBox::AcceptRole);
    QPushButton* no = box.addButton(noText, QMessageBox::RejectRole);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

} // namespace talvo::gui
