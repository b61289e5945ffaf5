#include "panel/MemoryPanel.h"

namespace talvo {

QString MemoryPanel::text(int id) const { return controls_.value(id).text; }
void MemoryPanel::setText(int id, const QString& text) { controls_[id].text = text; }
bool MemoryPanel::isEnabled(int id) const { return controls_.value(id).enabled; }
void MemoryPanel::setEnabled(int id, bool enabled) { controls_[id].enabled = enabled; }
QStringList MemoryPanel::items(int id) const { return controls_.value(id).items; }

void MemoryPanel::setItems(int id, const QStringList& items) {
    Control& c = controls_[id];
    c.items = items;
    c.index = -1;
}

int MemoryPanel::currentIndex(int id) const { return controls_.value(id).index; }

void MemoryPanel::setCurrentIndex(int id, int index) {
    Control& c = controls_[id];
    c.index = (index >= 0 && index < c.items.size()) ? index : -1;
}

bool MemoryPanel::isChecked(int id) const { return controls_.value(id).checked; }
void MemoryPanel::setChecked(int id, bool checked) { controls_[id].checked = checked; }

void MemoryPanel::setProgressRange(int id, int low, int high) {
    Control& c = controls_[id];
    c.low = low;
    c.high = high;
}

void MemoryPanel::setProgress(int id, int position) {
    Control& c = controls_[id];
    // A progress bar holds positions outside its range at the nearest end.
    c.position = std::clamp(position, c.low, std::max(c.low, c.high));
    progressHistory.push_back(c.position);
    if (onProgress) onProgress(c.position);
}

int MemoryPanel::progress(int id) const { return controls_.value(id).position; }

QString MemoryPanel::statusText(int part) const { return part >= 0 && part < 3 ? status_[part] : QString(); }

void MemoryPanel::setStatusText(int part, const QString& text) {
    if (part >= 0 && part < 3) status_[part] = text;
}

void MemoryPanel::messageBox(const QString& text, const QString& caption, MsgIcon icon) {
    messageBoxWithCause(text, caption, icon, QString());
}

void MemoryPanel::messageBoxWithCause(const QString& text, const QString& caption, MsgIcon icon, const QString& cause) {
    messages.push_back({text, caption, icon, cause});
    if (onMessage) onMessage(messages.back());
}

bool MemoryPanel::askQuestion(const QString& text, const QString& caption, const QString&, const QString&) {
    questions.push_back({text, caption, MsgIcon::Warning});
    if (answers.empty()) return false;
    const bool yes = answers.front();
    answers.erase(answers.begin());
    return yes;
}

QString MemoryPanel::askOpenFileName(const QString&, const QString&) {
    QString answer;
    answer.swap(nextOpenFileName);
    return answer;
}

void MemoryPanel::logLineAppended(const QString& line) {
    logLines.push_back(line);
    if (onLogLine) onLogLine(line);
}

void MemoryPanel::quitApplication(int code) { exitCode = code; }

} // namespace talvo
