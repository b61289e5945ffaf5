// accessories_bench [SECONDS] [--idle-only]: what the accessories cost the
// window (--idle-only: part 1 alone).
//  1. CPU time of the idle main window with the slogan strip scrolling, then
//     with the strip stopped; the difference is the strip's cost (goal: the
//     idle window with the strip at most 0.5 % of one core).  The display is
//     whatever the environment gives (QT_QPA_PLATFORM, DISPLAY: run it under
//     xvfb-run for X11); without either, the offscreen platform.
//  2. The serial terminal showing a 1 MB burst written at once into a pty:
//     how long until every byte is shown, and the longest stall of the event
//     loop meanwhile (a 10 ms timer's worst lateness).
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

#include "gui/CTALVODlg.h"
#include "gui/Ccom_Debug.h"
#include "gui/Fonts.h"
#include "gui/Marquee.h"
#include "platform/PtyPair.h"
#include "platform/QSettingsStore.h"
#include "serial/SerialTerminal.h"

using namespace talvo;
using namespace talvo::gui;

namespace {

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// CPU share of one core while the event loop runs for `seconds`.
double idleShare(double seconds) {
    QElapsedTimer wall;
    const double cpu0 = cpuSeconds();
    wall.start();
    QTimer::singleShot(static_cast<int>(seconds * 1000), [] { QCoreApplication::exit(0); });
    QApplication::exec();
    return (cpuSeconds() - cpu0) / (static_cast<double>(wall.nsecsElapsed()) / 1e9) * 100.0;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

constexpr int kIdleRounds = 5;

} // namespace

int main(int argc, char** argv) {
    if (qgetenv("QT_QPA_PLATFORM").isEmpty() && qgetenv("DISPLAY").isEmpty() && qgetenv("WAYLAND_DISPLAY").isEmpty())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setFont(DialogFont());
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;

    QTemporaryDir dir;
    QDir(dir.path()).mkpath("class/tty"); // an empty sysfs: no USB port, no message box
    QSettingsStore store(dir.filePath("TALVO.conf"));
    CTALVODlg w(CoreServices{&store, nullptr, {}, dir.path(), dir.path(), {}, {}});
    w.RecordMessageBoxes = true;
    w.show();
    idleShare(1.0); // settle

    // The strip scrolling and stopped take turns, so that a change of the
    // machine's load meanwhile weighs on both alike; the medians are shown.
    std::vector<double> with, without;
    for (int round = 0; round < kIdleRounds; ++round) {
        w.slogan()->Start(16, 1);
        with.push_back(idleShare(seconds / kIdleRounds));
        w.slogan()->Stop();
        without.push_back(idleShare(seconds / kIdleRounds));
    }
    const double withStrip = median(with), withoutStrip = median(without);
    std::printf("idle main window on %s, %.0f s each in %d turns (CPU time / wall time, one core = 100 %%; medians):\n",
                qPrintable(QGuiApplication::platformName()), seconds, kIdleRounds);
    std::printf("  slogan scrolling   %6.3f %%\n", withStrip);
    std::printf("  slogan stopped     %6.3f %%\n", withoutStrip);
    std::printf("  the strip's cost   %6.3f %%   (goal: the window with it <= 0.5 %%)\n", withStrip - withoutStrip);
    if (argc > 2 && std::strcmp(argv[2], "--idle-only") == 0)
        return 0;

    test::PtyPair pty;
    if (!pty.ok()) {
        std::fprintf(stderr, "no pty\n");
        return 1;
    }
    Ccom_Debug term(dir.path(), dir.path(), {pty.slavePath});
    term.show();
    static_cast<QComboBox*>(term.control(term::Baud))->setCurrentText("921600");
    term.TogglePort();
    QByteArray burst;
    for (int line = 0; burst.size() < (1 << 20); ++line)
        burst += QByteArray::number(line).rightJustified(8, '0') + " the quick brown fox jumps over the lazy dog\n";
    burst.truncate(1 << 20);

    qint64 worst = 0;
    QElapsedTimer sinceTick;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        worst = std::max(worst, sinceTick.elapsed() - 10);
        sinceTick.restart();
    });
    QElapsedTimer total;
    total.start();
    sinceTick.start();
    probe.start(10);
    std::thread writer([&] { pty.writeMaster(std::vector<uint8_t>(burst.begin(), burst.end())); });
    QTimer done;
    QObject::connect(&done, &QTimer::timeout, [&] {
        if (term.shownBytes() >= static_cast<uint64_t>(burst.size()) || total.elapsed() > 120000)
            QCoreApplication::exit(0);
    });
    done.start(20);
    QApplication::exec();
    writer.join();
    term.FlushReceived();
    const bool whole = term.receivedText() == QString::fromLatin1(burst);
    std::printf("terminal, 1 MB burst from a pty at 921600 baud (text display):\n");
    std::printf("  all shown after    %6lld ms   (%s)\n", static_cast<long long>(total.elapsed()),
                whole ? "every byte" : "BYTES MISSING");
    std::printf("  longest stall      %6lld ms   of the event loop (10 ms timer lateness)\n",
                static_cast<long long>(worst));
    return whole ? 0 : 1;
}
