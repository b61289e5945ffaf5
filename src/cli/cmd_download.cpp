// `talvo download`: the window's download, from the command line.  The same
// download host and protocols run it (log lines, tick limits) as in the
// window, without a window core; the log goes to standard output line by
// line, progress to standard error -- a bar on a terminal, plain lines
// otherwise.  Several --port options program the same image into
// every board at once (MultiDownload.h).
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

#include "cli/Command.h"
#include "cli/ConsoleHost.h"
#include "cli/ImageHandover.h"
#include "cli/MultiDownload.h"
#include "host/SerialDownloadHost.h"
#include "image/FirmwareImage.h"
#include "platform/OsVersion.h"
#include "platform/WireTrace.h"
#include "protocol/ChipTypes.h"
#include "protocol/DownloadJob.h"
#include "serial/DriverCheck.h"
#include "serial/PortList.h"
#include "sim/BoardFlash.h"

namespace talvo::cli {
namespace {

int runDownload(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption chipOption(
        QStringLiteral("chip"),
        QStringLiteral("The chip type: %1; or auto (STC: the family the chip's first answer names).  Left out: "
                       "auto, and stm32 for a simulated STM32 board.")
            .arg(protocol::ChipTypeNamesHelp()),
        QStringLiteral("NAME"));
    const QCommandLineOption freqOption(
        QStringLiteral("freq"),
        QStringLiteral("STC15/STC8: trim the internal RC oscillator to MHZ for the program (default: the frequency "
                       "the chip runs at now; a chip never trimmed needs it)."),
        QStringLiteral("MHZ"));
    const QCommandLineOption baudOption(
        QStringLiteral("baud"),
        QStringLiteral("STC: the transfer rate, when the chip's timer makes it within 3 % (otherwise the download "
                       "stops before the switch naming the nearest rates it makes); default: the speed mode's.  "
                       "STM32: the line rate (default 115200; the bootloader measures it from the start byte)."),
        QStringLiteral("N"));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("The serial port: a device (/dev/ttyUSB0, ttyUSB0), a "
                                                       "pseudo-terminal, or sim:CHIP[,options] for a simulated board. "
                                                       "Repeat it to program several boards at once."),
                                        QStringLiteral("PORT"));
    const QCommandLineOption lowSpeedOption(QStringLiteral("low-speed"),
                                            QStringLiteral("STC: handshake and download at 4800 baud (\"低速下载\")."));
    const QCommandLineOption verifyOption(QStringLiteral("verify"),
                                          QStringLiteral("STM32: read every written block back and compare."));
    const QCommandLineOption addressOption(
        QStringLiteral("address"),
        QStringLiteral("STM32: where the first byte of a .bin file goes (default 0x08000000, the flash start); "
                       "inside the flash area 0x08000000 to 0x080FFFFF and a multiple of 4.  A HEX file with an "
                       "extended linear address record carries its own addresses."),
        QStringLiteral("ADDR"));
    const QCommandLineOption eraseOption(
        QStringLiteral("erase"),
        QStringLiteral("STM32: 'all' erases the whole flash first (mass erase) instead of only the pages or sectors "
                       "the image lies in; nothing outside the image is kept then."),
        QStringLiteral("all"));
    const QCommandLineOption unprotectOption(
        QStringLiteral("unprotect"),
        QStringLiteral("STM32: a read-protected chip gets its protection removed (Readout Unprotect), which ERASES "
                       "THE WHOLE CHIP, and the download goes on.  Without it such a chip is left as it is."));
    const QCommandLineOption goOption(
        QStringLiteral("go"),
        QStringLiteral("STM32: start the application with the Go command at the image's start after the writes "
                       "(boards without a reset circuit), instead of releasing the reset line."));
    QCommandLineOption childReportOption(QString::fromLatin1(kChildReportOption),
                                         QStringLiteral("One board of a run of several: tagged lines for the parent."));
    childReportOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({chipOption, portOption, lowSpeedOption, verifyOption, addressOption, eraseOption, unprotectOption,
                       goOption, freqOption, baudOption, childReportOption});
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The firmware: Intel HEX, or .bin as it is."));
    const QString description = QStringLiteral(
        "Programs a chip through its serial bootloader, as the window's \"下载程序\" does, and prints the log.\n"
        "STC: the image goes to the chip from address 0.  STM32: the image is written at its own addresses\n"
        "(those of a HEX file with an extended linear address record; a .bin and a HEX without one start at\n"
        "0x08000000, a .bin at --address ADDR when given); only the pages it lies in are erased, and what\n"
        "else those pages hold is read first and written back (--erase all: the whole flash is erased).\n"
        "A read-protected STM32 is refused with the protection line (exit 1), nothing erased; --unprotect\n"
        "removes the protection, which erases the whole chip, and goes on.\n"
        "\nExit codes: 0 the download succeeded: the chip acknowledged every block (STC: each block's\n"
        "data sum; STM32: each write, and with --verify the read-back matched the image); on a simulated\n"
        "board the flash was also compared with the image.  1 the download failed while talking to the\n"
        "chip.  2 wrong arguments.  3 a problem with the firmware file, found before any port is opened:\n"
        "unreadable, malformed HEX, empty, too large for the chip type, a .bin that holds Intel HEX text,\n"
        "an STM32 image outside the flash area.\n"
        "\n--trace (or --trace=FILE) logs every byte on the wire.  Ctrl-C stops the download (the port is closed).\n"
        "FILE is read and converted once, at the start.\n"
        "\nWith several --port options every board gets that one image at once, each in a process of its own:\n"
        "the log lines start with their port, standard error shows a progress line per board, and the summary\n"
        "gives the image's size and CRC-32 and each board's port, chip, crystal, rate, bytes, time and result.\n"
        "Exit 0 only when every board succeeded; a board that fails does not stop the others; Ctrl-C stops them all.\n"
        "\nExamples:\n"
        "  talvo download --chip stc89 --port /dev/ttyUSB0 blink.hex\n"
        "  talvo download --chip stc12 --port ttyUSB0 --low-speed firmware.hex\n"
        "  talvo download --chip stc89 --port sim:stc89c52rc,freq=20 examples/stc89-blink/blink.hex\n"
        "  talvo download --port sim:iap15f2k61s2 --freq 22.1184 --baud 57600 firmware.hex\n"
        "  talvo download --chip stm32 --port ttyUSB0 --address 0x08004000 --verify app.bin\n"
        "  talvo download --chip stm32 --port ttyUSB0 --erase all --go --baud 57600 firmware.hex\n"
        "  talvo download --chip stc89 --port ttyUSB0 --port ttyUSB1 --port ttyUSB2 blink.hex");
    if (const int rc = parseSubcommand(parser, QStringLiteral("download"), description, args, 0, 1); rc >= 0)
        return rc;
    const bool childReport = parser.isSet(childReportOption);
    const QStringList ports = parser.values(portOption);
    // Left out: the family from the chip's first answer, except on a
    // simulated STM32 board (an STM32 sends nothing until spoken to).
    const QString chipName = parser.isSet(chipOption) ? parser.value(chipOption)
                             : !ports.isEmpty() && ports.first().startsWith(QLatin1String("sim:stm32"))
                                 ? QStringLiteral("stm32")
                                 : QStringLiteral("auto");
    const bool stcAuto = chipName.trimmed().compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0;
    const int chipType = stcAuto ? -1 : protocol::ChipTypeByName(chipName);
    if (chipType < 0 && !stcAuto)
        return usageError(QStringLiteral("download"),
                          QStringLiteral("unknown chip '%1' (%2, auto)").arg(chipName, protocol::ChipTypeNamesHelp()));
    const bool stc = stcAuto || !protocol::IsStm32ChipType(chipType);
    double userHz = 0;
    if (parser.isSet(freqOption)) {
        bool number = false;
        const double mhz = parser.value(freqOption).toDouble(&number);
        if (!stc) return usageError(QStringLiteral("download"), QStringLiteral("--freq is for STC15 and STC8 chips"));
        if (!number || mhz < 1 || mhz > 45)
            return usageError(QStringLiteral("download"),
                              QStringLiteral("--freq %1: not a frequency of 1 to 45 MHz").arg(parser.value(freqOption)));
        userHz = mhz * 1e6;
    }
    uint32_t stcBaud = 0;
    if (stc && parser.isSet(baudOption)) {
        bool number = false;
        const uint rate = parser.value(baudOption).toUInt(&number);
        if (!number || rate < 1200 || rate > 921600)
            return usageError(QStringLiteral("download"),
                              QStringLiteral("--baud %1: not a rate of 1200 to 921600").arg(parser.value(baudOption)));
        if (parser.isSet(lowSpeedOption))
            return usageError(QStringLiteral("download"),
                              QStringLiteral("--baud and --low-speed exclude each other (low speed stays at 4800 baud)"));
        stcBaud = rate;
    }
    if (ports.isEmpty()) return usageError(QStringLiteral("download"), QStringLiteral("--port is required"));
    if (ports.size() > 1) {
        if (childReport)
            return usageError(QStringLiteral("download"),
                              QStringLiteral("--%1 takes one --port").arg(kChildReportOption));
        if (const QString why = CheckSeveralPorts(ports); !why.isEmpty())
            return usageError(QStringLiteral("download"), why);
    }
    // A board of several takes its image from the parent, not from a file.
    if (parser.positionalArguments().isEmpty() != childReport)
        return usageError(QStringLiteral("download"), childReport
                                                          ? QStringLiteral("--%1 takes the image on standard input, not FILE")
                                                                .arg(kChildReportOption)
                                                          : QStringLiteral("missing argument"));
    for (const QString& p : ports)
        if (const QString why = SimPortProblem(p); !why.isEmpty()) return usageError(QStringLiteral("download"), why);
    const QString port = ports.first();

    // The image: read and converted here, once (a board of several gets it
    // from its parent).  A file that cannot be read, converted or placed: say
    // why before anything opens.
    LoadedImage image;
    QString source;
    if (childReport) {
        QFile in;
        QString why;
        std::optional<HandedImage> handed;
        if (!in.open(stdin, QIODevice::ReadOnly))
            why = in.errorString();
        else
            handed = DecodeHandedImage(in.readAll(), &why);
        if (!handed) {
            protocol::DownloadReport report;
            report.failure = QStringLiteral("no image from the parent process: %1").arg(why);
            WriteChildRecord(ChildRecord::Report, QString::fromUtf8(EncodeReport(report)));
            return ExitFailure;
        }
        image = handed->image;
        source = handed->source;
    } else {
        const QString file = parser.positionalArguments().first();
        source = QFileInfo(file).absoluteFilePath();
        if (WireTrace::writesTo(file))
            return usageError(QStringLiteral("download"),
                              QStringLiteral("the wire trace would be written into the firmware file %1; give "
                                             "--trace another file")
                                  .arg(file));
        image = ReadFirmwareFile(file);
    }
    const bool stm32 = !stc;
    // Options of the other family are refused, not ignored.
    for (const QCommandLineOption* o : {&verifyOption, &eraseOption, &unprotectOption, &goOption})
        if (!stm32 && parser.isSet(*o))
            return usageError(QStringLiteral("download"), QStringLiteral("--%1 is an STM32 option; --chip %2 is an STC chip")
                                                              .arg(o->names().first(), chipName));
    if (stm32 && parser.isSet(lowSpeedOption))
        return usageError(QStringLiteral("download"),
                          QStringLiteral("--low-speed is an STC option; an STM32 runs at --baud N (default 115200)"));
    if (parser.isSet(eraseOption) && parser.value(eraseOption) != QLatin1String("all"))
        return usageError(QStringLiteral("download"),
                          QStringLiteral("--erase %1: takes 'all' (mass erase); without --erase only the pages or sectors "
                                         "the image lies in are erased")
                              .arg(parser.value(eraseOption)));
    uint32_t baud = protocol::kStm32DefaultBaud;
    if (stm32 && parser.isSet(baudOption))
        if (const QString why = Stm32BaudProblem(parser.value(baudOption), &baud); !why.isEmpty())
            return usageError(QStringLiteral("download"), why);
    quint32 binAddress = kStm32FlashStart;
    if (parser.isSet(addressOption)) {
        const QString text = parser.value(addressOption);
        bool number = false;
        const qulonglong a = text.trimmed().toULongLong(&number, 0);
        const auto why = [&](const QString& what) {
            return usageError(QStringLiteral("download"), QStringLiteral("--address %1: %2").arg(text, what));
        };
        if (!stm32) return why(QStringLiteral("only STM32 downloads are placed (STC images start at address 0)"));
        if (!IsRawBinaryName(source))
            return why(QStringLiteral("it places a .bin file; a HEX file carries its own addresses"));
        if (!number) return why(QStringLiteral("not a number (write 0x08004000 or 134234112)"));
        if (a < kStm32FlashStart || a >= quint64(kStm32FlashStart) + kStm32FlashAreaBytes)
            return why(QStringLiteral("not inside the STM32 flash area 0x%1 to 0x%2")
                           .arg(QString::number(kStm32FlashStart, 16).toUpper().rightJustified(8, u'0'),
                                QString::number(kStm32FlashStart + kStm32FlashAreaBytes - 1, 16)
                                    .toUpper()
                                    .rightJustified(8, u'0')));
        if (a % 4 != 0) return why(QStringLiteral("not a multiple of 4 (the bootloader writes flash in 4-byte words)"));
        binAddress = static_cast<quint32>(a);
    }
    const ChipImage placed =
        image.ok ? PrepareChipImage(image, stm32 ? ChipFamily::Stm32 : ChipFamily::Stc, binAddress) : ChipImage{};
    if (!image.ok || !placed.ok()) {
        const QString file = childReport ? source : parser.positionalArguments().first();
        err(QStringLiteral("talvo download: %1: %2\n").arg(file, (image.ok ? placed.message : image.message).trimmed()));
        if (image.line > 0)
            err(QStringLiteral("talvo download: %1: line %2, record %3\n").arg(file).arg(image.line).arg(image.record));
        return ExitBadFirmware;
    }
    if (ports.size() > 1) {
        SeveralBoards run;
        run.ports = ports;
        run.chip = chipName;
        if (parser.isSet(freqOption)) run.stcArguments << QStringLiteral("--freq=") + parser.value(freqOption);
        run.lowSpeed = parser.isSet(lowSpeedOption);
        run.verify = parser.isSet(verifyOption);
        run.image = image;
        run.source = source;
        run.placed = placed;
        if (parser.isSet(addressOption)) run.address = parser.value(addressOption);
        run.massErase = parser.isSet(eraseOption);
        run.unprotect = parser.isSet(unprotectOption);
        run.go = parser.isSet(goOption);
        if (parser.isSet(baudOption)) run.baud = parser.value(baudOption);
        // main() took the trace options out of the arguments; the children get them as they were given.
        for (const QString& a : QCoreApplication::arguments())
            if (a == QLatin1String("--trace") || a.startsWith(QLatin1String("--trace="))) run.traceArguments << a;
        return DownloadSeveralBoards(run);
    }

    ConsoleReports console(QStringLiteral("download"));
    int childPercent = -1;
    QStringList childMessages; // the message boxes' texts, in order
    QStringList& messages = childReport ? childMessages : console.messages;
    HostReports reports = console.reports;
    if (childReport) {
        // The parent prints; progress goes to it at each percent.
        reports.log = [](const QString& line) { WriteChildRecord(ChildRecord::Log, line); };
        reports.message = [&](const QString& text, const QString&, MsgIcon) {
            childMessages << text;
            WriteChildRecord(ChildRecord::Message, text);
        };
        reports.progress = [&](int p) {
            p = std::clamp(p, 0, 1024);
            const int percent = p * 100 / 1024;
            if (percent == childPercent && p != 0) return;
            childPercent = percent;
            WriteChildRecord(ChildRecord::Progress, QString::number(p));
        };
    }
    SerialDownloadHost host(reports);

    // The port as the window lists it: its line, and for a Prolific
    // converter whose driver fails the check the other parameter of the STC
    // rate switch.
    const PortListing listing = listSerialPorts(QString(), {port});
    if (!listing.systemListReadable) reports.message(noPortListMessage(), AppTitle(), MsgIcon::Warning);
    for (const QString& line : listing.logLines) reports.log(line);
    if (const QString overlap = OverlapLogLine(image); !overlap.isEmpty()) reports.log(overlap);
    const qsizetype entry = listing.devices.indexOf(port);
    const bool driverRefused =
        entry >= 0 && isProlificEntry(listing.entries[entry]) &&
        !driverSuitsSystem(windowsGroupOf(currentOsVersion()), ReadDriverVersion(QString(), listing.driverFileName));

    protocol::DownloadJob job;
    job.chipType = chipType;
    job.image = placed.bytes;
    job.address = placed.address;
    job.lowSpeed = parser.isSet(lowSpeedOption);
    job.verify = parser.isSet(verifyOption);
    job.stcAuto = stcAuto;
    job.stcUserHz = userHz;
    job.stcBaud = stcBaud;
    job.massErase = parser.isSet(eraseOption);
    job.unprotect = parser.isSet(unprotectOption);
    job.go = parser.isSet(goOption);
    job.stm32Baud = baud;
    if (driverRefused) job.stcDriverParameter = protocol::kStcDriverRefused;

    protocol::DownloadReport report =
        RunStoppable(host, port, [&job](protocol::DownloadHost& h) { return protocol::RunDownload(h, job); });
    console.end();

    if (report.success) {
        const QString verdict = sim::SimFlashMismatch(port, placed.bytes, placed.address);
        if (!verdict.isEmpty()) {
            // The last line of the log says how the download ended: not with
            // the chip's success lines when its flash does not hold the image.
            report.success = false;
            report.failure = QStringLiteral("the simulated chip's flash %1").arg(verdict);
            const QString line = report.failure + QStringLiteral(": the download failed");
            if (childReport)
                WriteChildRecord(ChildRecord::Log, line);
            else
                out(QStringLiteral("talvo download: %1\n").arg(line));
        }
    }
    TakeFailureFromMessages(report, messages);
    if (const QString hint = BaudRefusedHint(report, baud); !hint.isEmpty()) {
        if (childReport)
            WriteChildRecord(ChildRecord::Message, hint);
        else
            err(QStringLiteral("talvo download: %1\n").arg(hint));
    }
    if (childReport) WriteChildRecord(ChildRecord::Report, QString::fromUtf8(EncodeReport(report)));
    return report.success ? ExitOk : ExitFailure;
}

} // namespace

TALVO_SUBCOMMAND(
    download, "download",
    "download [--chip NAME] --port PORT [--port PORT...] [--low-speed] [--freq MHZ] [--baud N] [--verify] [--address ADDR]"
    " [--erase all] [--unprotect] [--go] [--trace[=FILE]] FILE"
    "  program a chip (or several boards at once)",
    runDownload);

} // namespace talvo::cli
