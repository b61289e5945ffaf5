#include "gui/StartMeasure.h"

#include <QEvent>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

namespace talvo::gui {

namespace {

double MillisecondsSinceStart() {
    timespec now{};
    if (const char* given = std::getenv("TALVO_START_NS"); given && *given) {
        clock_gettime(CLOCK_MONOTONIC, &now);
        const double nowNs = double(now.tv_sec) * 1e9 + double(now.tv_nsec);
        return (nowNs - std::strtod(given, nullptr)) / 1e6;
    }
    // Field 22 of /proc/self/stat, after the parenthesised command name.
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i) {}
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double startS = std::strtod(field.c_str(), nullptr) / double(sysconf(_SC_CLK_TCK));
    return (double(now.tv_sec) + double(now.tv_nsec) / 1e9 - startS) * 1e3;
}

// Processor time (user + system) of this process so far, in milliseconds.
double CpuMilliseconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

long ResidentKilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

// Watches the window for its first paint; once that has been handled (the
// zero timer runs after the paint pass of the window and its controls),
// prints the figures and closes the window as a user would.
class FirstPaintProbe : public QObject {
public:
    explicit FirstPaintProbe(QWidget& window) : QObject(&window), Window(window) { window.installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &Window && event->type() == QEvent::Paint && !Seen) {
            Seen = true;
            QTimer::singleShot(0, this, [this] {
                const double ms = MillisecondsSinceStart();
                const double cpu = CpuMilliseconds();
                const long rss = ResidentKilobytes();
                const QByteArray line = QStringLiteral("first paint: %1 ms after the start, CPU %2 ms, RSS %3 kB (%4)\n")
                                            .arg(ms, 0, 'f', 1)
                                            .arg(cpu, 0, 'f', 1)
                                            .arg(rss)
                                            .arg(QGuiApplication::platformName())
                                            .toUtf8();
                std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
                std::fflush(stdout);
                Window.close();
            });
        }
        return false;
    }

private:
    QWidget& Window;
    bool Seen = false;
};

} // namespace

void MeasureFirstPaint(QWidget& window) { new FirstPaintProbe(window); }

} // namespace talvo::gui
