#pragma once
// `talvo download` with several --port options: the same image into every
// board at once, one `talvo download` process per port.  Nothing in the
// download path is shared between downloads (each host has its own channel,
// tick and state), so boards could share a process; a process each is the
// sturdier choice: a board whose process crashes or hangs in a driver
// cannot take the others down, and the system reclaims a wedged device when
// that one process ends.
//
// The parent reads and converts the firmware file once; each child runs the
// ordinary one-board download with the hidden option --child-report, takes
// the image from its standard input (ImageHandover.h; it never opens the
// file) and writes tagged lines on its standard output instead of the usual
// log, bar and messages:
//   "L text"      one line of the log
//   "M text"      one line of a message box
//   "P position"  progress, 0 to 1024
//   "R {json}"    the download's report, the child's last line
// Its standard error (a wire trace, Qt's warnings) is passed on, marked with
// the port.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

#include "image/FirmwareImage.h"
#include "protocol/DownloadHost.h"

namespace talvo::cli {

inline constexpr char kChildReportOption[] = "child-report";

// The tags of a child's lines.
enum class ChildRecord : char { Log = 'L', Message = 'M', Progress = 'P', Report = 'R' };

// Writes `text` to standard output as records of kind `tag`, one per line of
// the text ("\r\n" and "\n" both end a line).
void WriteChildRecord(ChildRecord tag, const QString& text);

// The report as one line of JSON, and back (nullopt when `json` is not a
// report: a child that died half-way through its last line).
QByteArray EncodeReport(const protocol::DownloadReport& report);
std::optional<protocol::DownloadReport> DecodeReport(const QByteArray& json);

struct SeveralBoards {
    QStringList ports; // as given, in order
    QString chip;      // the --chip value as given
    bool lowSpeed = false;
    bool verify = false;
    LoadedImage image;          // the firmware, read once
    QString source;             // the file it was read from, absolute path
    QString address;            // --address as given ("" = not given), passed to every child
    bool massErase = false;     // STM32: --erase all
    bool unprotect = false;     // STM32: --unprotect
    bool go = false;            // STM32: --go
    QString baud;               // --baud as given ("" = not given)
    ChipImage placed;           // what each chip is given: the image as the chip type places it
    QStringList traceArguments; // --trace / --trace=FILE as given, passed to every child
    QStringList stcArguments;   // --freq as given, passed to every child
};

// "" when the ports can be programmed together; otherwise why not (a device
// named twice, also under two names, would have two processes fight over
// it).  A simulated board named twice is two boards: each process has its own.
QString CheckSeveralPorts(const QStringList& ports);

// The name each board goes by in the log, the progress and the summary: its
// port, with " #2", " #3"... for the second and later boards of a selector
// given more than once.
QStringList BoardLabels(const QStringList& ports);

// Runs every board to its end and prints the summary: the image's size and
// CRC-32, and each board's result.  0 when each one succeeded, 1 otherwise
// (also after Ctrl-C or SIGTERM, which stop every board).
int DownloadSeveralBoards(const SeveralBoards& run);

} // namespace talvo::cli
