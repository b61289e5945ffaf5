#pragma once
// A front panel held in memory: the state of every control, the message
// boxes shown and the log lines, for the command line and the tests.  An
// optional sink receives each log line and message box as it happens.
// Controls come into being as they are first set (a combo box without
// items, a progress bar of range 0 to 100).

#include <QMap>
#include <algorithm>
#include <functional>
#include <vector>

#include "panel/FrontPanel.h"

namespace talvo {

struct ShownMessage {
    QString text;
    QString caption;
    MsgIcon icon;
    QString cause = {}; // what messageBoxWithCause gave ("" for a plain box)
};

class MemoryPanel : public FrontPanel {
public:
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
    void messageBoxWithCause(const QString& text, const QString& caption, MsgIcon icon, const QString& cause) override;
    bool askQuestion(const QString& text, const QString& caption, const QString& yesText, const QString& noText) override;
    QString askOpenFileName(const QString& filter, const QString& defaultSuffix) override;
    void logLineAppended(const QString& line) override;
    void quitApplication(int exitCode) override;

    // What happened, for callers that look afterwards.
    std::vector<ShownMessage> messages;
    QStringList logLines;
    int exitCode = -1;                 // -1 until quitApplication
    QString nextOpenFileName;          // the answer of the next open-file dialog
    std::vector<ShownMessage> questions; // every question asked
    std::vector<bool> answers;         // the answers of the next questions, in order (none left: no)
    std::vector<int> progressHistory;  // every position set on the progress bar

    // Optional live sinks (the command line prints through them).
    std::function<void(const QString&)> onLogLine;
    std::function<void(const ShownMessage&)> onMessage;
    std::function<void(int)> onProgress;

private:
    struct Control {
        QString text;
        bool enabled = true;
        bool checked = false;
        QStringList items;
        int index = -1;
        int low = 0, high = 100, position = 0;
    };
    QMap<int, Control> controls_;
    QString status_[3];
};

} // namespace talvo
