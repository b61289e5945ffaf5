#pragma once
// The one surface through which the core reports to a person: log lines,
// progress, message boxes, control states and selections.  The window, the
// command line and the tests each implement it; the core never prints or
// draws by itself.
//
// Controls are addressed by numeric ids: the main window's in
// app/ControlIds.h, the port test window's in porttest/PortTestIds.h.

#include <QString>
#include <QStringList>

namespace talvo {

enum class MsgIcon { None, Information, Warning, Error };

// The application's title: the caption of the message boxes that name no
// caption of their own.
inline QString AppTitle() { return QStringLiteral("TALVO"); }

class FrontPanel {
public:
    virtual ~FrontPanel() = default;

    // Texts of edit boxes, static texts and buttons.
    virtual QString text(int id) const = 0;
    virtual void setText(int id, const QString& text) = 0;

    virtual bool isEnabled(int id) const = 0;
    virtual void setEnabled(int id, bool enabled) = 0;

    // Combo boxes (unsorted): items and the selected index (-1 = none).
    virtual QStringList items(int id) const = 0;
    virtual void setItems(int id, const QStringList& items) = 0;
    virtual int currentIndex(int id) const = 0;
    virtual void setCurrentIndex(int id, int index) = 0;

    // Radio buttons.
    virtual bool isChecked(int id) const = 0;
    virtual void setChecked(int id, bool checked) = 0;

    // Progress bars.
    virtual void setProgressRange(int id, int low, int high) = 0;
    virtual void setProgress(int id, int position) = 0;
    virtual int progress(int id) const = 0;

    // Status bar parts (0, 1, 2).
    virtual QString statusText(int part) const = 0;
    virtual void setStatusText(int part, const QString& text) = 0;

    // A modal message box with an OK button; returns when it is dismissed.
    virtual void messageBox(const QString& text, const QString& caption, MsgIcon icon) = 0;
    // The same box, with what caused it in more detail than the box says (the
    // file concerned and the reason).  A person sees only the box; front ends
    // that log their boxes log the cause with it.
    virtual void messageBoxWithCause(const QString& text, const QString& caption, MsgIcon icon, const QString& cause) {
        (void)cause;
        messageBox(text, caption, icon);
    }

    // A modal question with two answers (the second is the default and the
    // escape); true when the person chose `yesText`.
    virtual bool askQuestion(const QString& text, const QString& caption, const QString& yesText,
                             const QString& noText) = 0;

    // The open-file dialog; `filter` is in Qt's syntax ("Text (*.a *.b);;...").
    // An empty result means the user cancelled.
    virtual QString askOpenFileName(const QString& filter, const QString& defaultSuffix) = 0;

    // One line was appended to the log (after the log control took it);
    // front ends that stream the log (the command line) print it here.
    virtual void logLineAppended(const QString& line) { (void)line; }

    // The application ends with this exit code (the main window closed).
    virtual void quitApplication(int exitCode) = 0;
};

} // namespace talvo
