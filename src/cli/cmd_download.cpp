// `talvo download`: the window's download, from the command line.  The same
// core runs it (log lines, tick limits, protocols); the log goes to standard
// output line by line, progress to standard error -- a bar on a terminal,
// plain lines otherwise.
#include <QFileInfo>

#include <csignal>
#include <cstdio>
#include <unistd.h>

#include "app/ControlIds.h"
#include "app/MainWindowCore.h"
#include "app/MemoryPanel.h"
#include "cli/Command.h"
#include "image/FirmwareImage.h"
#include "platform/SettingsStore.h"
#include "platform/SimRegistry.h"
#include "platform/SimWireDevice.h"
#include "protocol/ChipTypes.h"
#include "sim/SimChip.h"

namespace talvo::cli {
namespace {

// The command line keeps no settings: the window's are left alone.
class NoSettings final : public SettingsStore {
public:
    bool openForRead() override { return false; }
    std::optional<QString> readValue(const QString&, int, QString*) override { return std::nullopt; }
    bool writeValues(const std::vector<std::pair<QString, QString>>&, QString*) override { return true; }
    QString location() const override { return QStringLiteral("(the command line keeps no settings)"); }
};

// The core to stop on Ctrl-C / SIGTERM (set while a download runs).
std::atomic<MainWindowCore*> gRunning{nullptr};
void onStopSignal(int) {
    if (MainWindowCore* core = gRunning.load()) core->RequestCancel();
}

// Progress on standard error: a bar redrawn in place on a terminal, a plain
// line at every tenth otherwise.
class ProgressPrinter {
public:
    explicit ProgressPrinter(bool terminal) : Terminal(terminal) {}
    void position(int p) {
        const int percent = std::clamp(p, 0, 1024) * 100 / 1024;
        if (Terminal) {
            if (p == 0 && !Shown) return;
            Shown = p != 0;
            if (!Shown) {
                clear();
                return;
            }
            const int width = 40;
            const int filled = percent * width / 100;
            err(QStringLiteral("\r[%1%2] %3%").arg(QString(filled, u'#'), QString(width - filled, u'.')).arg(percent, 3));
            return;
        }
        if (percent / 10 != LastTenth && p != 0) {
            LastTenth = percent / 10;
            err(QStringLiteral("progress %1%\n").arg(percent));
        }
        if (p == 0) LastTenth = -1;
    }
    // A log line is about to be printed: the bar makes room and comes back after.
    void clear() {
        if (Terminal && Shown) err(QStringLiteral("\r\033[K"));
    }
    void restore(int p) {
        if (Terminal && Shown) position(p);
    }

private:
    bool Terminal;
    bool Shown = false;
    int LastTenth = -1;
};

// For a simulated board: does its flash hold the image?  "" when it does.
QString compareSimFlash(const QString& port, const QByteArray& image) {
    if (!port.startsWith(QLatin1String(kSimPortPrefix))) return {};
    auto board = findSimBoard(port.mid(int(sizeof kSimPortPrefix) - 1));
    if (!board) return QStringLiteral("the simulated board is gone");
    QString verdict;
    board->withPeer([&](WirePeer& peer) {
        auto* chip = dynamic_cast<sim::SimChip*>(&peer);
        if (!chip) return;
        const auto& flash = chip->flash();
        if (flash.size() < static_cast<size_t>(image.size())) {
            verdict = QStringLiteral("the image (%1 bytes) is larger than the chip's flash (%2 bytes)")
                          .arg(image.size())
                          .arg(flash.size());
            return;
        }
        for (qsizetype i = 0; i < image.size(); ++i)
            if (flash[static_cast<size_t>(i)] != static_cast<uint8_t>(image[i])) {
                verdict = QStringLiteral("differs at 0x%1: expected %2, found %3")
                              .arg(i, 4, 16, QLatin1Char('0'))
                              .arg(static_cast<uint8_t>(image[i]), 2, 16, QLatin1Char('0'))
                              .arg(flash[static_cast<size_t>(i)], 2, 16, QLatin1Char('0'));
                return;
            }
    });
    return verdict;
}

QString printable(const QString& line) {
    QString s = line;
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return s;
}

int runDownload(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption chipOption(QStringLiteral("chip"),
                                        QStringLiteral("The chip type: %1.").arg(protocol::ChipTypeNamesHelp()),
                                        QStringLiteral("NAME"));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("The serial port: a device (/dev/ttyUSB0, ttyUSB0), a "
                                                       "pseudo-terminal, or sim:CHIP[,options] for a simulated board."),
                                        QStringLiteral("PORT"));
    const QCommandLineOption lowSpeedOption(QStringLiteral("low-speed"),
                                            QStringLiteral("STC: handshake and download at 4800 baud (\"低速下载\")."));
    const QCommandLineOption verifyOption(QStringLiteral("verify"),
                                          QStringLiteral("STM32: read every written block back and compare."));
    parser.addOptions({chipOption, portOption, lowSpeedOption, verifyOption});
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The firmware: Intel HEX, or .bin as it is."));
    const QString description = QStringLiteral(
        "Programs a chip through its serial bootloader, as the window's \"下载程序\" does, and prints the log.\n"
        "Exit 0 when the download succeeded, 1 when it failed, 2 for wrong arguments, 3 for a malformed HEX file.\n"
        "--trace (or --trace=FILE) logs every byte on the wire.  Ctrl-C stops the download (the port is closed).\n"
        "\nExamples:\n"
        "  talvo download --chip stc89 --port /dev/ttyUSB0 blink.hex\n"
        "  talvo download --chip stc12 --port ttyUSB0 --low-speed firmware.hex\n"
        "  talvo download --chip stc89 --port sim:stc89c52rc,freq=20 examples/stc89-blink/blink.hex");
    if (const int rc = parseSubcommand(parser, QStringLiteral("download"), description, args, 1, 1); rc >= 0)
        return rc;
    if (!parser.isSet(chipOption)) return usageError(QStringLiteral("download"), QStringLiteral("--chip is required"));
    const int chipType = protocol::ChipTypeByName(parser.value(chipOption));
    if (chipType < 0)
        return usageError(QStringLiteral("download"),
                          QStringLiteral("unknown chip '%1' (%2)").arg(parser.value(chipOption), protocol::ChipTypeNamesHelp()));
    const QStringList ports = parser.values(portOption);
    if (ports.size() != 1)
        return usageError(QStringLiteral("download"), ports.isEmpty() ? QStringLiteral("--port is required")
                                                                      : QStringLiteral("one --port only"));
    const QString port = ports.first();
    const QString file = parser.positionalArguments().first();

    // A file that cannot be read or converted: say why before anything opens.
    const LoadedImage probe = ReadFirmwareFile(file);
    if (!probe.ok) {
        err(QStringLiteral("talvo download: %1: %2\n").arg(file, probe.message.trimmed()));
        return probe.kind == HexResult::Kind::Malformed ? ExitMalformedHex : ExitFailure;
    }

    NoSettings settings;
    MemoryPanel panel;
    CoreServices services;
    services.settings = &settings;
    services.extraPorts = {port};
    MainWindowCore core(panel, services);
    core.Initialise();
    panel.setCurrentIndex(ctl::ChipType, chipType);
    const bool lowSpeed = parser.isSet(lowSpeedOption);
    panel.setChecked(ctl::HighSpeed, !lowSpeed);
    panel.setChecked(ctl::LowSpeed, lowSpeed);
    core.OnSpeedMode(lowSpeed);
    core.SetVerifyStm32(parser.isSet(verifyOption));
    core.SelectPort(port);
    core.FirmwarePath = QFileInfo(file).absoluteFilePath();
    core.FirmwareName = QFileInfo(file).fileName();

    ProgressPrinter progress(::isatty(STDERR_FILENO) == 1);
    int position = 0;
    panel.onLogLine = [&](const QString& line) {
        progress.clear();
        out(printable(line) + QLatin1Char('\n'));
        progress.restore(position);
    };
    panel.onMessage = [&](const ShownMessage& m) {
        progress.clear();
        err(QStringLiteral("talvo download: %1\n").arg(printable(m.text)));
        progress.restore(position);
    };
    panel.onProgress = [&](int p) {
        position = p;
        progress.position(p);
    };

    struct sigaction sa {};
    struct sigaction oldInt {}, oldTerm {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &oldInt);
    sigaction(SIGTERM, &sa, &oldTerm);
    gRunning = &core;
    core.StartDownload();
    gRunning = nullptr;
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);
    progress.clear();
    core.StopPortWatch();

    bool ok = core.LastReport().success;
    if (ok) {
        const QString verdict = compareSimFlash(port, core.ImageBytes.left(core.ImageSize));
        if (!verdict.isEmpty()) {
            err(QStringLiteral("talvo download: the simulated chip's flash %1\n").arg(verdict));
            ok = false;
        }
    }
    return ok ? ExitOk : ExitFailure;
}

} // namespace

TALVO_SUBCOMMAND(download, "download",
                 "download --chip NAME --port PORT [--low-speed] [--verify] [--trace[=FILE]] FILE  program a chip",
                 runDownload);

} // namespace talvo::cli
