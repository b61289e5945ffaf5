// The STC download against its floor, and what it costs the processor.
//
// 1. Wall time: a 32 KB image (or the chip's code flash, when smaller) into
//    each STC family -- the STC15A, STC15 and STC8 rows with the RC trimmed
//    to the frequency the chip runs at now -- through the download
//    host (the window's and `talvo download`'s) on a paced simulated wire in
//    real time, against the protocol floor:
//    the same download run in virtual time (sim/VirtualHost), where the host
//    costs nothing -- every byte takes its time on the wire at the rates used,
//    the chip takes its own times, and the download's fixed pauses and tick
//    limits apply exactly.  Same chip, same options, same image, same run.
// 2. Processor: `talvo download` as its own process against `talvo sim
//    --pace` behind a pseudo-terminal: the download process's CPU time over
//    its wall time.
// 3. One lost block (the families that resend a block), in virtual time: a firmware-like image (code, then a
//    long run of FF whose blocks all have the same data sum) with the first
//    copy of the run's first block lost, against the same download without
//    the loss.  The loss may cost its resend (the 0.9 s resend interval, the
//    copy's wire time), not a wait and a second copy for every block after it.
// 4. The waits for the line before a rate change or a close (the bytes
//    written last must have left the converter), per download (STC89 to
//    STC12) in virtual
//    time: with a driver that reports an empty transmitter, and behind a
//    converter whose driver cannot (its writes return at once).
//
// Usage: stc_bench [IMAGE_BYTES]   (default 32768)
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>

#include "host/SerialDownloadHost.h"
#include "platform/SimBoardSet.h"
#include "protocol/DownloadJob.h"
#include "sim/Simulators.h"
#include "sim/StcChip.h"
#include "sim/StcModernChip.h"
#include "sim/VirtualHost.h"

using namespace talvo;

namespace {

QByteArray image(int n) {
    QByteArray b(n, '\0');
    uint32_t x = 0x12345678;
    for (int i = 0; i < n; ++i) {
        x = x * 1664525u + 1013904223u;
        b[i] = static_cast<char>(x >> 24);
    }
    return b;
}

struct VirtualRun {
    double seconds = -1;     // -1: the download failed
    double lineWaits = 0;    // the host's waits for the line
};

// The download in virtual time (the floor, with `selector` as given).
VirtualRun virtualDownload(const std::string& selector, int chipType, const QByteArray& img,
                           bool writeReturnsAtOnce = false) {
    std::string error;
    auto chip = sim::makeChip(selector, &error);
    if (!chip) return {};
    sim::VirtualHost host(*chip);
    host.writeReturnsAtOnce = writeReturnsAtOnce;
    protocol::StcOptions o;
    o.chipType = chipType;
    o.image = img;
    protocol::CMcuType mcu(host, o);
    const bool ok = mcu.RunStcDownload().success;
    return {ok ? host.elapsedSeconds() : -1, host.lineWaitSeconds};
}
double floorSeconds(const std::string& selector, int chipType, const QByteArray& img) {
    return virtualDownload(selector, chipType, img).seconds;
}

// Code for a quarter of the image, then FF: the run's blocks share one sum.
QByteArray firmwareLike(int n) {
    QByteArray b = image(n / 4);
    b.append(QByteArray(n - b.size(), '\xFF'));
    return b;
}

// The download through the download host, on the paced in-process wire.
double hostSeconds(const QString& port, int chipType, const QByteArray& img) {
    SerialDownloadHost host({});
    protocol::DownloadJob job;
    job.chipType = chipType;
    job.image = img;
    QElapsedTimer t;
    t.start();
    const protocol::DownloadReport report =
        host.Run(port, [&job](protocol::DownloadHost& h) { return protocol::RunDownload(h, job); });
    const double s = t.nsecsElapsed() / 1e9;
    return report.success ? s : -1;
}

// `talvo download` in its own process against `talvo sim --pace` on a pty:
// its CPU seconds and wall seconds.
bool processFigures(const QString& talvo, const char* chip, const char* chipName, const QString& file, double* cpu,
                    double* wall) {
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("pty"));
    QProcess sim;
    sim.start(talvo, {QStringLiteral("sim"), QString::fromLatin1(chip), QStringLiteral("--pace"), QStringLiteral("--link"), link});
    for (int i = 0; i < 500 && !QFile::exists(link); ++i) QThread::msleep(10);
    if (!QFile::exists(link)) return false;
    QElapsedTimer t;
    t.start();
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid == 0) {
        const QByteArray exe = talvo.toLocal8Bit(), port = link.toLocal8Bit(), fw = file.toLocal8Bit();
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        execl(exe.constData(), exe.constData(), "download", "--chip", chipName, "--port", port.constData(),
              fw.constData(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    *wall = t.nsecsElapsed() / 1e9;
    *cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    sim.terminate();
    sim.waitForFinished(5000);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The bytes of `img` that fit the simulated chip's code flash.
QByteArray fitting(const char* chip, const QByteArray& img) {
    std::string error;
    auto c = sim::makeChip(chip, &error);
    if (const auto* modern = dynamic_cast<const sim::StcModernChip*>(c.get()))
        return img.left(static_cast<qsizetype>(modern->codeFlashBytes()));
    return img;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    sim::registerSimulators();
    const int bytes = argc > 1 ? std::atoi(argv[1]) : 32768;
    QTemporaryDir dir;
    const QByteArray img = image(bytes);

    struct Family {
        const char* name;
        const char* chip;
        const char* chipName;
        int chipType;
        bool resends; // a lost block is sent again (STC89 to STC12)
    };
    const Family families[] = {{"STC one-byte (STC90C516RD+)", "stc90c516", "stc90", 4, true},
                               {"STC two-byte (STC12C5A60S2)", "stc12c5a60s2", "stc12", 3, true},
                               {"STC15A (STC15F104E)", "stc15f104e", "stc15", 5, false},
                               {"STC15 (IAP15F2K61S2)", "iap15f2k61s2", "stc15", 5, false},
                               {"STC8 (STC8A8K64S4A12)", "stc8a8k64s4a12", "stc8", 6, false}};
    std::printf("STC download of %d bytes (or the chip's code flash), wall time against the protocol floor "
                "(virtual time, same run):\n",
                bytes);
    for (const Family& fam : families) {
        const QByteArray mine = fitting(fam.chip, img);
        const double floor = floorSeconds(fam.chip, fam.chipType, mine);
        const double real = hostSeconds(QStringLiteral("sim:") + fam.chip, fam.chipType, mine);
        releaseSimBoards();
        std::printf("  %-28s %6lld B  wall %7.3f s  floor %7.3f s  ratio %.3f\n", fam.name,
                    static_cast<long long>(mine.size()), real, floor, floor > 0 && real > 0 ? real / floor : -1.0);
    }
    std::printf("One lost block (the first of a run of FF), %d bytes, virtual time:\n", bytes);
    const QByteArray firmware = firmwareLike(bytes);
    const int lost = bytes / 4 / 128 + 1;
    for (const Family& fam : families) {
        if (!fam.resends) continue;
        const double without = virtualDownload(fam.chip, fam.chipType, firmware).seconds;
        const double with =
            virtualDownload(std::string(fam.chip) + ",nack-block=" + std::to_string(lost), fam.chipType, firmware).seconds;
        std::printf("  %-28s lost block costs %6.3f s (with %7.3f s, without %7.3f s; resend interval 0.9 s)\n", fam.name,
                    with > 0 && without > 0 ? with - without : -1.0, with, without);
    }
    std::printf("Waits for the line before a rate change or a close, per %d-byte download, virtual time:\n", bytes);
    for (const Family& fam : families) {
        if (!fam.resends) continue;
        const VirtualRun drained = virtualDownload(fam.chip, fam.chipType, img);
        const VirtualRun atOnce = virtualDownload(fam.chip, fam.chipType, img, true);
        std::printf("  %-28s line waits %6.3f s (driver reports an empty transmitter), %6.3f s (writes return at once%s)\n",
                    fam.name, drained.lineWaits, atOnce.lineWaits, atOnce.seconds > 0 ? "" : "; FAILED");
    }
    const QString talvo = QStringLiteral(TALVO_CLI);
    std::printf("talvo download as a process against talvo sim --pace on a pty:\n");
    for (const Family& fam : families) {
        const QString file = dir.filePath(QString::fromLatin1(fam.chip) + QStringLiteral(".bin"));
        QFile f(file);
        f.open(QIODevice::WriteOnly);
        f.write(fitting(fam.chip, img));
        f.close();
        double cpu = 0, wall = 0;
        const bool ok = processFigures(talvo, fam.chip, fam.chipName, file, &cpu, &wall);
        std::printf("  %-28s %s wall %7.3f s  CPU %6.3f s  CPU/wall %.2f %%\n", fam.name, ok ? "ok    " : "FAILED", wall,
                    cpu, wall > 0 ? 100.0 * cpu / wall : -1.0);
    }
    return 0;
}
