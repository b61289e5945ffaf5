#pragma once
// What the one-board commands that talk to a chip share (download, read,
// protect, unprotect): the log on standard output line by line, progress on
// standard error (a bar redrawn in place on a terminal, a plain line at
// every tenth otherwise), message boxes as lines on standard error, Ctrl-C
// and SIGTERM stopping the operation at its next wait, and the STM32 line
// rate option.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

#include "host/SerialDownloadHost.h"
#include "protocol/DownloadHost.h"

namespace talvo::cli {

class ProgressPrinter {
public:
    explicit ProgressPrinter(bool terminal) : Terminal(terminal) {}
    void position(int p);
    // A log line is about to be printed: the bar makes room and comes back after.
    void clear();
    void restore(int p);

private:
    bool Terminal;
    bool Shown = false;
    int LastTenth = -1;
};

// A line as the terminal shows it ("\r\n" ends it as "\n" does).
QString printable(const QString& line);

// The reports of command `command`, printing as said above.  It must outlive
// the host it is given to.
class ConsoleReports {
public:
    explicit ConsoleReports(const QString& command);
    ConsoleReports(const ConsoleReports&) = delete;
    ConsoleReports& operator=(const ConsoleReports&) = delete;

    HostReports reports;
    QStringList messages; // the message boxes' texts, in order
    // The operation has ended: the bar goes.
    void end() { Progress.clear(); }

private:
    ProgressPrinter Progress;
    int Position = 0;
};

// Runs `operation` on `port` through `host`; Ctrl-C and SIGTERM stop it
// meanwhile (the port is closed).
protocol::DownloadReport RunStoppable(SerialDownloadHost& host, const QString& port,
                                      const std::function<protocol::DownloadReport(protocol::DownloadHost&)>& operation);

// A report that failed without a line of its own (a port that cannot be
// opened ends with a message box) takes the last message's text as its
// failure.
void TakeFailureFromMessages(protocol::DownloadReport& report, const QStringList& messages);

// --baud for STM32: "" when `text` is a rate the bootloader can measure
// from the start byte (*baud set), else why not.  Whether the converter
// can make it shows when the port is set up.
QString Stm32BaudProblem(const QString& text, uint32_t* baud);
// After a failed operation at a rate given with --baud: a hint when the
// port refused that rate ("" otherwise).
QString BaudRefusedHint(const protocol::DownloadReport& report, uint32_t baud);

// A number as the options take it: decimal, or 0x... hexadecimal.
bool ParseNumber(const QString& text, qulonglong* value);

} // namespace talvo::cli
