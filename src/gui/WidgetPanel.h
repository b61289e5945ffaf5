#pragma once
// A FrontPanel over a window's widgets, addressed by control id: the
// smaller windows (the port test) bind their core through it.  Multi-line
// edits keep the text exactly as the core wrote it ("\r\n" separators) and
// show it with plain line breaks, scrolled to the end.

#include <QMap>
#include <QString>
#include <QStringList>

#include "panel/FrontPanel.h"

class QWidget;

namespace talvo::gui {

// A modal box with an OK button over `owner` (when it is shown), captioned
// `caption` or "TALVO".
void ShowMessageBox(QWidget* owner, const QString& text, const QString& caption, MsgIcon icon);

class WidgetPanel : public FrontPanel {
public:
    explicit WidgetPanel(QWidget* owner) : Owner(owner) {}

    void addControl(int id, QWidget* w) { Controls.insert(id, w); }
    QWidget* control(int id) const { return Controls.value(id); }

    QString text(int id) const override;
    void setText(int id, const QString& text) override;
    bool isEnabled(int id) const override;
    void setEnabled(int id, bool enabled) override;
    QStringList items(int id) const override;
    void setItems(int id, const QStringList& items) override;
    int currentIndex(int id) const override;
    void setCurrentIndex(int id, int index) override;
    bool isChecked(int id) const override;
    void setChecked(int id, bool checked) override;
    void setProgressRange(int id, int low, int high) override;
    void setProgress(int id, int position) override;
    int progress(int id) const override;
    QString statusText(int part) const override;
    void setStatusText(int part, const QString& text) override;
    void messageBox(const QString& text, const QString& caption, MsgIcon icon) override;
    bool askQuestion(const QString& text, const QString& caption, const QString& yesText, const QString& noText) override;
    QString askOpenFileName(const QString& filter, const QString& defaultSuffix) override;
    void quitApplication(int exitCode) override;

    // Message boxes are recorded instead of shown when this is set (tests).
    bool RecordMessageBoxes = false;
    QStringList RecordedMessages;

protected:
    QMap<int, QWidget*> Controls;

private:
    QWidget* Owner;
    QMap<int, QString> RawTexts; // multi-line edits, as written
};

} // namespace talvo::gui
