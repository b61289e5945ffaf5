#include "gui/CTALVOApp.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include "gui/CTALVODlg.h"
#include "gui/Fonts.h"
#include "platform/WireTrace.h"
#include "sim/Simulators.h"

namespace talvo::gui {

namespace {

void print(FILE* to, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), to);
    std::fflush(to);
}

// The sizes of the hicolor icon theme that a desktop entry's icon is looked up in.
constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// Writes DIR/NxN/apps/talvo.png for every size; false with a message on stderr.
bool ExportIcon(const QString& dir) {
    for (int size : kIconSizes) {
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(dir).arg(size);
        const QString file = folder + QStringLiteral("/talvo.png");
        if (!QDir().mkpath(folder) || !CTALVODlg::DrawIcon(size).save(file, "PNG")) {
            print(stderr, QStringLiteral("talvo-gui: cannot write the icon %1\n").arg(file));
            return false;
        }
    }
    return true;
}

// --measure-start: when the window's first paint is done, how long after the
// start that was, the processor time spent until then (a figure that a busy
// machine hardly changes) and the resident memory.  The start is the moment in
// TALVO_START_NS (CLOCK_MONOTONIC nanoseconds, set by a caller just before it
// starts the program), or else the process's start as the kernel records it
// (in steps of its clock tick, usually 10 ms).
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
                print(stdout, QStringLiteral("first paint: %1 ms after the start, CPU %2 ms, RSS %3 kB (%4)\n")
                                  .arg(ms, 0, 'f', 1)
                                  .arg(cpu, 0, 'f', 1)
                                  .arg(rss)
                                  .arg(QGuiApplication::platformName()));
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

QString CTALVOApp::UsageText() {
    return QStringLiteral(
        "Usage: talvo-gui [--port PATH|sim:CHIP]... [--trace[=FILE]] [--screenshot FILE.png] [--measure-start]\n"
        "       talvo-gui --export-icon DIR | --version | --help\n"
        "\n"
        "The TALVO window: programs STC 8051 and STM32 microcontrollers through\n"
        "their serial bootloaders.\n"
        "\n"
        "  --port PATH|sim:CHIP  add an entry to the port list (repeatable)\n"
        "  --trace[=FILE]        log every byte on the wire to standard error or FILE\n"
        "                        (also: environment variable TALVO_TRACE=FILE)\n"
        "  --screenshot FILE     save a picture of the window and end; message boxes\n"
        "                        are answered and logged to standard error\n"
        "  --export-icon DIR     write the window icon as DIR/NxN/apps/talvo.png and end\n"
        "  --measure-start       at the window's first paint, print how long after the\n"
        "                        start it came and the resident memory, and close\n"
        "  --version             print the version and the Qt version\n"
        "  --help                print this text\n");
}

QString CTALVOApp::VersionText() {
    return QStringLiteral("talvo-gui %1 (Qt %2)\n").arg(QStringLiteral(TALVO_VERSION), QString::fromLatin1(qVersion()));
}

std::optional<int> CTALVOApp::AnswerWithoutDisplay(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            print(stdout, UsageText());
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            print(stdout, VersionText());
            return 0;
        }
    }
    return std::nullopt;
}

bool CTALVOApp::NeedsNoDisplay(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--export-icon") == 0) return true;
    return false;
}

void CTALVOApp::InstallQtTranslations() {
    // The window speaks Chinese whatever the machine's locale is; Qt's own
    // texts follow it.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    auto* translator = new QTranslator(qApp);
    if (translator->load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator; // Qt's texts stay English; the window itself is unaffected
}

int CTALVOApp::Run(const QStringList& arguments) {
    QApplication::setFont(DialogFont());
    InstallQtTranslations();

    sim::registerSimulators();
    QStringList args = arguments;
    QString traceError;
    if (!WireTrace::takeOption(args, &traceError)) {
        print(stderr, QStringLiteral("talvo-gui: %1\n").arg(traceError));
        return 2;
    }

    CoreServices services;
    QString screenshot;
    bool measureStart = false;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--port") && i + 1 < args.size()) {
            services.extraPorts << args[++i];
        } else if (a == QLatin1String("--screenshot") && i + 1 < args.size()) {
            screenshot = args[++i];
        } else if (a == QLatin1String("--measure-start")) {
            measureStart = true;
        } else if (a == QLatin1String("--export-icon") && i + 1 < args.size()) {
            return ExportIcon(args[++i]) ? 0 : 1;
        } else {
            print(stderr, QStringLiteral("talvo-gui: unknown argument '%1'; see --help\n").arg(a));
            return 2;
        }
    }

    // Nobody answers a message box in the screenshot mode: the window logs
    // and answers its boxes itself, from its very first one on.
    // Nor while the start is measured: a box must not hold the measurement up.
    CTALVODlg dlg(services, nullptr, !screenshot.isEmpty() || measureStart);
    if (measureStart)
        new FirstPaintProbe(dlg);
    dlg.show();
    if (!screenshot.isEmpty()) {
        QTimer::singleShot(300, &dlg, [&dlg, screenshot] {
            const bool ok = dlg.grab().save(screenshot);
            print(ok ? stdout : stderr, QStringLiteral("%1 %2\n").arg(QLatin1String(ok ? "saved" : "cannot save"), screenshot));
            QCoreApplication::exit(ok ? 0 : 1);
        });
    }
    return QApplication::exec();
}

} // namespace talvo::gui
