#include "cli/ConsoleHost.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <unistd.h>

#include "cli/Command.h"
#include "protocol/Stm32Frames.h"

namespace talvo::cli {

namespace {
// The host to stop on Ctrl-C / SIGTERM (set while an operation runs).
std::atomic<SerialDownloadHost*> gRunning{nullptr};
void onStopSignal(int) {
    if (SerialDownloadHost* host = gRunning.load()) host->RequestCancel();
}
// The lowest rate the STM32 bootloaders measure from the start byte.
constexpr uint32_t kStm32MinBaud = 1200;
} // namespace

void ProgressPrinter::position(int p) {
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

void ProgressPrinter::clear() {
    if (Terminal && Shown) err(QStringLiteral("\r\033[K"));
}

void ProgressPrinter::restore(int p) {
    if (Terminal && Shown) position(p);
}

QString printable(const QString& line) {
    QString s = line;
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return s;
}

ConsoleReports::ConsoleReports(const QString& command) : Progress(::isatty(STDERR_FILENO) == 1) {
    reports.log = [this](const QString& line) {
        Progress.clear();
        out(printable(line) + QLatin1Char('\n'));
        Progress.restore(Position);
    };
    reports.message = [this, command](const QString& text, const QString&, MsgIcon) {
        messages << text;
        Progress.clear();
        err(QStringLiteral("talvo %1: %2\n").arg(command, printable(text)));
        Progress.restore(Position);
    };
    reports.progress = [this](int p) {
        Position = std::clamp(p, 0, 1024);
        Progress.position(Position);
    };
}

protocol::DownloadReport RunStoppable(SerialDownloadHost& host, const QString& port,
                                      const std::function<protocol::DownloadReport(protocol::DownloadHost&)>& operation) {
    struct sigaction sa {};
    struct sigaction oldInt {}, oldTerm {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &oldInt);
    sigaction(SIGTERM, &sa, &oldTerm);
    gRunning = &host;
    protocol::DownloadReport report = host.Run(port, operation);
    gRunning = nullptr;
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);
    return report;
}

void TakeFailureFromMessages(protocol::DownloadReport& report, const QStringList& messages) {
    if (report.success || !report.failure.trimmed().isEmpty() || messages.isEmpty()) return;
    QStringList lines;
    for (const QString& line : printable(messages.last()).split(QLatin1Char('\n')))
        if (!line.trimmed().isEmpty()) lines << line.trimmed();
    report.failure = lines.join(QLatin1Char(' '));
}

bool ParseNumber(const QString& text, qulonglong* value) {
    bool ok = false;
    *value = text.trimmed().toULongLong(&ok, 0);
    return ok;
}

QString Stm32BaudProblem(const QString& text, uint32_t* baud) {
    qulonglong n = 0;
    if (!ParseNumber(text, &n) || n == 0) return QStringLiteral("--baud %1: not a rate (write 115200 or 57600)").arg(text);
    if (n < kStm32MinBaud)
        return QStringLiteral("--baud %1: below %2, the lowest rate the STM32 bootloader measures").arg(text).arg(kStm32MinBaud);
    if (n > 0xFFFFFFFFull) return QStringLiteral("--baud %1: no serial port runs at this rate").arg(text);
    *baud = static_cast<uint32_t>(n);
    return {};
}

QString BaudRefusedHint(const protocol::DownloadReport& report, uint32_t baud) {
    if (report.success || baud == protocol::kStm32DefaultBaud) return {};
    if (!report.failure.contains(QStringLiteral("%1 baud").arg(baud))) return {};
    return QStringLiteral("--baud %1: the port does not run at this rate (the converter or its driver cannot make it); "
                          "try a standard rate such as 115200, 57600 or 38400")
        .arg(baud);
}

} // namespace talvo::cli
