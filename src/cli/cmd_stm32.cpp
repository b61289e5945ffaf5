// `talvo read`, `talvo protect` and `talvo unprotect`: the STM32 system
// bootloader's read-out and read protection from the command line.  They run
// on the download host as `talvo download` does: the log on standard output,
// progress on standard error, Ctrl-C stops them (the port is closed).
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/Command.h"
#include "cli/ConsoleHost.h"
#include "cli/ImageHandover.h"
#include "host/SerialDownloadHost.h"
#include "protocol/ChipTypes.h"
#include "protocol/Stm32Session.h"

namespace talvo::cli {
namespace {

// --chip, --port and --baud, which every one of these commands takes.
struct Stm32Target {
    QCommandLineOption chip{QStringLiteral("chip"), QStringLiteral("The chip type: stm32 (the only one these commands serve)."),
                            QStringLiteral("NAME")};
    QCommandLineOption port{QStringLiteral("port"),
                            QStringLiteral("The serial port: a device (/dev/ttyUSB0, ttyUSB0), a pseudo-terminal, or "
                                           "sim:CHIP[,options] for a simulated board."),
                            QStringLiteral("PORT")};
    QCommandLineOption baud{QStringLiteral("baud"),
                            QStringLiteral("The line rate (default 115200; the bootloader measures it from the start byte)."),
                            QStringLiteral("N")};
    QString portName;
    uint32_t rate = protocol::kStm32DefaultBaud;

    void addTo(QCommandLineParser& parser) const { parser.addOptions({chip, port, baud}); }
    // -1 when the options name one STM32 on one port; otherwise the exit code
    // after the line that says what is wrong.
    int check(const QCommandLineParser& parser, const QString& command) {
        if (!parser.isSet(chip)) return usageError(command, QStringLiteral("--chip stm32 is required"));
        const int type = protocol::ChipTypeByName(parser.value(chip));
        if (type < 0)
            return usageError(command, QStringLiteral("unknown chip '%1' (%2)")
                                           .arg(parser.value(chip), protocol::ChipTypeNamesHelp()));
        if (!protocol::IsStm32ChipType(type))
            return usageError(command, QStringLiteral("--chip %1: STC bootloaders have no command for this; it serves "
                                                      "--chip stm32 only")
                                           .arg(parser.value(chip)));
        const QStringList ports = parser.values(port);
        if (ports.isEmpty()) return usageError(command, QStringLiteral("--port is required"));
        if (ports.size() > 1) return usageError(command, QStringLiteral("one --port only (one chip at a time)"));
        portName = ports.first();
        if (const QString why = SimPortProblem(portName); !why.isEmpty()) return usageError(command, why);
        if (parser.isSet(baud))
            if (const QString why = Stm32BaudProblem(parser.value(baud), &rate); !why.isEmpty())
                return usageError(command, why);
        return -1;
    }
};

// Runs `operation` with the console's reports; the exit code.
int runOnChip(const QString& command, const Stm32Target& target,
              const std::function<protocol::DownloadReport(protocol::DownloadHost&)>& operation,
              const std::function<bool()>& afterSuccess = {}) {
    ConsoleReports console(command);
    SerialDownloadHost host(console.reports);
    protocol::DownloadReport report = RunStoppable(host, target.portName, operation);
    console.end();
    TakeFailureFromMessages(report, console.messages);
    if (const QString hint = BaudRefusedHint(report, target.rate); !hint.isEmpty())
        err(QStringLiteral("talvo %1: %2\n").arg(command, hint));
    if (!report.success) return ExitFailure;
    if (afterSuccess && !afterSuccess()) return ExitFailure;
    return ExitOk;
}

// ---- talvo read ---------------------------------------------------------------------

// Where the read-out goes.  "" when `given` can take it (*path: the file to
// write, a link's target for a link), else why not.
QString OutProblem(const QString& given, bool force, QString* path, bool* replace) {
    QFileInfo info(given);
    if (info.isSymLink()) {
        if (!info.exists()) return QStringLiteral("%1 is a link to nothing (%2)").arg(given, info.symLinkTarget());
        info = QFileInfo(info.canonicalFilePath());
    }
    *replace = info.exists();
    if (info.exists()) {
        if (info.isDir()) return QStringLiteral("%1 is a folder; give a file name").arg(given);
        if (!info.isFile())
            return QStringLiteral("%1 is not a regular file (a device, a pipe or a socket); the read-out goes into a "
                                  "file only")
                .arg(given);
        if (!force) return QStringLiteral("%1 exists; --force overwrites it").arg(given);
    }
    const QFileInfo folder(info.absolutePath());
    if (!folder.isDir()) return QStringLiteral("the folder %1 does not exist").arg(folder.filePath());
    if (!folder.isWritable()) return QStringLiteral("cannot write into the folder %1").arg(folder.filePath());
    *path = info.absoluteFilePath();
    return {};
}

// Writes `data` into `path` at once: into a temporary file beside it, then
// renamed into place (over the old file only when `replace`).  A new file
// gets the usual permissions; a replaced one keeps its own.
QString WriteOut(const QString& path, const QByteArray& data, bool replace) {
    const QFileInfo info(path);
    QTemporaryFile tmp(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
    if (!tmp.open()) return QStringLiteral("cannot make a temporary file in %1: %2").arg(info.absolutePath(), tmp.errorString());
    mode_t mode = 0;
    struct stat old {};
    if (replace && ::stat(QFile::encodeName(path).constData(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (tmp.write(data) != data.size() || !tmp.flush() || ::fsync(tmp.handle()) != 0 || ::fchmod(tmp.handle(), mode) != 0)
        return QStringLiteral("cannot write %1: %2").arg(tmp.fileName(), tmp.errorString());
    const QByteArray from = QFile::encodeName(tmp.fileName());
    const QByteArray to = QFile::encodeName(path);
    int rc = replace ? ::rename(from.constData(), to.constData())
                     : ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
    if (rc != 0 && !replace && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without the no-replace rename.
        rc = QFileInfo::exists(path) ? (errno = EEXIST, -1) : ::rename(from.constData(), to.constData());
    }
    if (rc != 0) {
        const int e = errno;
        return e == EEXIST ? QStringLiteral("%1 appeared while the chip was read; --force overwrites it").arg(path)
                           : QStringLiteral("cannot put the read-out into %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(e)));
    }
    tmp.setAutoRemove(false); // it is the file now
    return {};
}

int runRead(const QStringList& args) {
    const QString name = QStringLiteral("read");
    QCommandLineParser parser;
    Stm32Target target;
    target.addTo(parser);
    const QCommandLineOption addressOption(QStringLiteral("address"),
                                           QStringLiteral("The first address to read (default 0x08000000, the flash start)."),
                                           QStringLiteral("A"));
    const QCommandLineOption lengthOption(
        QStringLiteral("length"),
        QStringLiteral("How many bytes to read (default: up to the end of the flash, whose size the chip tells)."),
        QStringLiteral("N"));
    const QCommandLineOption forceOption(QStringLiteral("force"), QStringLiteral("Overwrite OUT when it exists."));
    parser.addOptions({addressOption, lengthOption, forceOption});
    parser.addPositionalArgument(QStringLiteral("OUT"), QStringLiteral("The file the bytes go into (.bin, as they are)."));
    const QString description = QStringLiteral(
        "Reads an STM32's memory through its system bootloader into a file: by default the whole flash, whose\n"
        "size the chip's flash-size register (or TALVO's chip table) gives -- a backup before programming.\n"
        "OUT is written only when the whole range was read, into a temporary file beside it that is then\n"
        "renamed; an existing OUT is replaced only with --force, and a device or a folder is refused.\n"
        "A read-protected chip cannot be read (exit 1; 'talvo unprotect' removes the protection and erases\n"
        "the chip).\n"
        "\nExit codes: 0 read and written; 1 the read or the writing of OUT failed (OUT unchanged); 2 wrong\n"
        "arguments (also an OUT that may not be written).\n"
        "\nExamples:\n"
        "  talvo read --chip stm32 --port ttyUSB0 backup.bin\n"
        "  talvo read --chip stm32 --port ttyUSB0 --address 0x08004000 --length 0x1000 --force app.bin");
    if (const int rc = parseSubcommand(parser, name, description, args, 1, 1); rc >= 0) return rc;
    if (const int rc = target.check(parser, name); rc >= 0) return rc;

    protocol::Stm32ReadOptions options;
    options.baud = target.rate;
    qulonglong n = 0;
    if (parser.isSet(addressOption)) {
        const QString text = parser.value(addressOption);
        if (!ParseNumber(text, &n)) return usageError(name, QStringLiteral("--address %1: not a number (write 0x08004000)").arg(text));
        if (n > 0xFFFFFFFFull) return usageError(name, QStringLiteral("--address %1: beyond the 32-bit address space").arg(text));
        options.address = static_cast<uint32_t>(n);
    }
    if (parser.isSet(lengthOption)) {
        const QString text = parser.value(lengthOption);
        if (!ParseNumber(text, &n) || n == 0)
            return usageError(name, QStringLiteral("--length %1: not a number of bytes above 0").arg(text));
        if (options.address + n > 0x100000000ull)
            return usageError(name, QStringLiteral("--length %1: from %2 it runs past the end of the 32-bit address space")
                                        .arg(text, parser.value(addressOption)));
        options.length = static_cast<uint32_t>(n);
    }
    QString path;
    bool replace = false;
    if (const QString why = OutProblem(parser.positionalArguments().first(), parser.isSet(forceOption), &path, &replace);
        !why.isEmpty())
        return usageError(name, why);

    protocol::Stm32ReadOut result;
    return runOnChip(
        name, target,
        [&](protocol::DownloadHost& host) {
            result = protocol::ReadStm32(host, options);
            return result.report;
        },
        [&] {
            if (const QString why = WriteOut(path, result.data, replace); !why.isEmpty()) {
                err(QStringLiteral("talvo read: %1; nothing written\n").arg(why));
                return false;
            }
            out(QStringLiteral("talvo read: %1: %2 bytes from 0x%3, CRC-32 %4\n")
                    .arg(path)
                    .arg(result.data.size())
                    .arg(result.address, 8, 16, QLatin1Char('0'))
                    .arg(Crc32Text(Crc32(result.data))));
            return true;
        });
}

// ---- talvo protect / unprotect ------------------------------------------------------

int runProtection(const QString& name, const QStringList& args, const QString& description,
                  protocol::Stm32Report (*operation)(protocol::DownloadHost&, uint32_t)) {
    QCommandLineParser parser;
    Stm32Target target;
    target.addTo(parser);
    if (const int rc = parseSubcommand(parser, name, description, args, 0, 0); rc >= 0) return rc;
    if (const int rc = target.check(parser, name); rc >= 0) return rc;
    return runOnChip(name, target, [&](protocol::DownloadHost& host) { return operation(host, target.rate); });
}

int runProtect(const QStringList& args) {
    return runProtection(
        QStringLiteral("protect"), args,
        QStringLiteral("Turns an STM32's read protection on (Readout Protect): its flash can no longer be read or\n"
                       "written through the bootloader or a debugger.  The chip resets; TALVO connects again and\n"
                       "checks that reads are refused.  A chip already protected is left as it is.  Removing the\n"
                       "protection ('talvo unprotect') erases the whole chip.\n"
                       "\nExit codes: 0 the chip is protected; 1 it failed; 2 wrong arguments.\n"
                       "\nExample:\n  talvo protect --chip stm32 --port ttyUSB0"),
        &protocol::ProtectStm32);
}

int runUnprotect(const QStringList& args) {
    return runProtection(
        QStringLiteral("unprotect"), args,
        QStringLiteral("Removes an STM32's read protection (Readout Unprotect).  THE CHIP ERASES ITS WHOLE FLASH\n"
                       "doing so: the program and every byte of data are gone.  A chip without protection is left\n"
                       "as it is.  ('talvo download --unprotect' does the same before a download.)\n"
                       "\nExit codes: 0 the chip is unprotected (and erased, when it was protected); 1 it failed;\n"
                       "2 wrong arguments.\n"
                       "\nExample:\n  talvo unprotect --chip stm32 --port ttyUSB0"),
        &protocol::UnprotectStm32);
}

} // namespace

TALVO_SUBCOMMAND(read, "read",
                 "read --chip stm32 --port PORT [--address A] [--length N] [--baud N] [--force] OUT"
                 "  save an STM32's flash (or a range) into a file",
                 runRead);
TALVO_SUBCOMMAND(protect, "protect", "protect --chip stm32 --port PORT [--baud N]  turn an STM32's read protection on",
                 runProtect);
TALVO_SUBCOMMAND(unprotect, "unprotect",
                 "unprotect --chip stm32 --port PORT [--baud N]  remove an STM32's read protection (ERASES the chip)",
                 runUnprotect);

} // namespace talvo::cli
