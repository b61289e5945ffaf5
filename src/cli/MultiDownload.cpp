#include "cli/MultiDownload.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSize>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <memory>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

#include "cli/Command.h"
#include "cli/ImageHandover.h"
#include "platform/SystemSerialDeviceFactory.h"
#include "platform/SimRegistry.h"
#include "platform/ThreadNotifier.h"

namespace talvo::cli {

namespace {

// A board asked to stop (Ctrl-C, SIGTERM) that has not ended this long
// afterwards is killed.
constexpr int kStopGraceMs = 5000;
// On a terminal the progress lines are redrawn at most this often.
constexpr int kProgressRedrawMs = 100;
constexpr int kBarWidth = 30;

QStringList textLines(const QString& text) {
    QString s = text;
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return s.split(QLatin1Char('\n'));
}

// Columns a character takes on a terminal: East Asian wide characters (the
// log's Chinese) take two.
bool isWide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

int displayWidth(const QString& s) {
    int w = 0;
    for (char32_t c : s.toUcs4()) w += isWide(c) ? 2 : 1;
    return w;
}

QString padded(const QString& s, int width) { return s + QString(std::max(0, width - displayWidth(s)), u' '); }

// The longest start of `s` that fits in `width` columns.
QString cut(const QString& s, int width) {
    QString out;
    int w = 0;
    for (char32_t c : s.toUcs4()) {
        w += isWide(c) ? 2 : 1;
        if (w > width) break;
        out += QString::fromUcs4(&c, 1);
    }
    return out;
}

// The boards' progress on standard error: on a terminal one line per board,
// kept below the log and redrawn in place; otherwise a plain line at every
// tenth of each board's download.
class BoardScreen {
public:
    BoardScreen(const QStringList& labels, bool terminal)
        : Labels(labels),
          Terminal(terminal),
          Positions(size_t(labels.size()), 0),
          States(size_t(labels.size())),
          LastTenth(size_t(labels.size()), -1) {
        for (const QString& l : labels) LabelWidth = std::max(LabelWidth, displayWidth(l));
        Redraw.setSingleShot(true);
        Redraw.setInterval(kProgressRedrawMs);
        QObject::connect(&Redraw, &QTimer::timeout, [this] {
            erase();
            draw();
        });
    }

    int labelWidth() const { return LabelWidth; }

    void setProgress(int board, int position) {
        const auto b = size_t(board);
        Positions[b] = std::clamp(position, 0, 1024);
        if (Terminal) {
            if (!Redraw.isActive()) Redraw.start();
            return;
        }
        const int percent = Positions[b] * 100 / 1024;
        if (position == 0) {
            LastTenth[b] = -1;
        } else if (percent / 10 != LastTenth[b]) {
            LastTenth[b] = percent / 10;
            err(QStringLiteral("%1 progress %2%\n").arg(padded(Labels[board], LabelWidth)).arg(percent));
        }
    }

    // A board has ended: its line says how (a download that succeeded
    // stands full, though the window's bar goes back to 0 at the end).
    void ended(int board, bool succeeded) {
        States[size_t(board)] = succeeded ? QStringLiteral("ok") : QStringLiteral("FAILED");
        if (succeeded) Positions[size_t(board)] = 1024;
        if (Terminal && !Redraw.isActive()) Redraw.start();
    }

    // Lines for standard output and standard error; on a terminal the
    // progress lines make room for them and come back below.
    void print(const QString& toOut, const QString& toErr) {
        if (toOut.isEmpty() && toErr.isEmpty()) return;
        erase();
        if (!toOut.isEmpty()) out(toOut);
        if (!toErr.isEmpty()) err(toErr);
        draw();
    }

    // The progress lines go; what follows (the summary) takes their place.
    void finish() {
        Redraw.stop();
        erase();
        Finished = true;
    }

private:
    static QSize terminalSize() {
        winsize ws{};
        if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0)
            return QSize(ws.ws_col, ws.ws_row);
        return QSize(80, 24);
    }

    void draw() {
        if (!Terminal || Finished) return;
        const QSize size = terminalSize();
        QStringList lines;
        if (Labels.size() <= size.height() - 2) {
            for (qsizetype i = 0; i < Labels.size(); ++i) {
                const int p = Positions[size_t(i)];
                const int filled = p * kBarWidth / 1024;
                lines << QStringLiteral("%1 [%2%3] %4% %5")
                             .arg(padded(Labels[i], LabelWidth), QString(filled, u'#'),
                                  QString(kBarWidth - filled, u'.'))
                             .arg(p * 100 / 1024, 3)
                             .arg(States[size_t(i)]);
            }
        } else {
            // More boards than the terminal has lines: one line for them all.
            int done = 0, sum = 0;
            for (qsizetype i = 0; i < Labels.size(); ++i) {
                done += States[size_t(i)].isEmpty() ? 0 : 1;
                sum += Positions[size_t(i)];
            }
            lines << QStringLiteral("%1 boards: %2 ended, %3 running, %4% on average")
                         .arg(Labels.size())
                         .arg(done)
                         .arg(Labels.size() - done)
                         .arg(sum * 100 / 1024 / int(Labels.size()));
        }
        QString text;
        // A line that wrapped would spoil the count of lines to go back.
        for (const QString& l : lines) text += cut(l, size.width() - 1) + QLatin1Char('\n');
        err(text);
        Drawn = int(lines.size());
    }

    void erase() {
        if (Drawn == 0) return;
        err(QStringLiteral("\033[%1A\r\033[J").arg(Drawn));
        Drawn = 0;
    }

    QStringList Labels;
    bool Terminal;
    int LabelWidth = 0;
    std::vector<int> Positions;
    std::vector<QString> States;
    std::vector<int> LastTenth;
    QTimer Redraw;
    int Drawn = 0;
    bool Finished = false;
};

struct Board {
    QString port;
    QString label;
    QProcess* process = nullptr;
    QByteArray pendingOut, pendingErr; // a line not yet complete
    std::optional<protocol::DownloadReport> report;
    QString ending; // how the process ended when it left no report
    double seconds = 0;
    bool done = false;
    bool succeeded() const { return done && ending.isEmpty() && report && report->success; }
};

// The stop request of a signal handler, rung on the event loop's thread.
std::atomic<ThreadNotifier*> gStopBell{nullptr};
void onStopSignal(int) {
    if (ThreadNotifier* bell = gStopBell.load()) bell->notify();
}

QString summaryTable(const std::vector<Board>& boards) {
    const QStringList head = {QStringLiteral("PORT"),  QStringLiteral("CHIP"),  QStringLiteral("CRYSTAL"),
                              QStringLiteral("RATE"),  QStringLiteral("BYTES"), QStringLiteral("TIME"),
                              QStringLiteral("RESULT")};
    std::vector<QStringList> rows{head};
    for (const Board& b : boards) {
        const protocol::DownloadReport r = b.report.value_or(protocol::DownloadReport{});
        const QString dash = QStringLiteral("-");
        QString result;
        if (b.succeeded())
            result = QStringLiteral("ok");
        else if (!b.ending.isEmpty())
            result = QStringLiteral("FAILED: ") + b.ending;
        else
            result = QStringLiteral("FAILED: ") +
                     (r.failure.trimmed().isEmpty() ? QStringLiteral("(no reason given)") : r.failure.trimmed());
        rows.push_back({b.label, r.chip.isEmpty() ? dash : r.chip,
                        r.crystalMHz > 0 ? QStringLiteral("%1 MHz").arg(r.crystalMHz, 0, 'f', 3) : dash,
                        r.baud > 0 ? QString::number(r.baud) : dash,
                        // A failed board's flash holds an unknown part of the image.
                        b.succeeded() && r.bytes > 0 ? QString::number(r.bytes) : dash,
                        QStringLiteral("%1 s").arg(b.seconds, 0, 'f', 1), result});
    }
    std::vector<int> widths(head.size(), 0);
    for (const QStringList& row : rows)
        for (qsizetype c = 0; c < row.size(); ++c)
            widths[size_t(c)] = std::max(widths[size_t(c)], displayWidth(row[c]));
    // Numbers stand right-aligned, text left-aligned; the result is last and not padded.
    const std::vector<bool> right = {false, false, true, true, true, true, false};
    QString text;
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype c = 0; c < row.size(); ++c) {
            const int gap = widths[size_t(c)] - displayWidth(row[c]);
            if (c + 1 == row.size())
                line += row[c];
            else if (right[size_t(c)])
                line += QString(gap, u' ') + row[c] + QStringLiteral("  ");
            else
                line += row[c] + QString(gap, u' ') + QStringLiteral("  ");
        }
        text += line + QLatin1Char('\n');
    }
    return text;
}

} // namespace

void WriteChildRecord(ChildRecord tag, const QString& text) {
    QString lines;
    for (const QString& line : textLines(text))
        lines += QLatin1Char(char(tag)) + (QLatin1Char(' ') + line) + QLatin1Char('\n');
    out(lines);
}

QByteArray EncodeReport(const protocol::DownloadReport& report) {
    const QJsonObject o{
        {QStringLiteral("success"), report.success},       {QStringLiteral("chip"), report.chip},
        {QStringLiteral("crystalMHz"), report.crystalMHz}, {QStringLiteral("baud"), double(report.baud)},
        {QStringLiteral("bytes"), report.bytes},           {QStringLiteral("failure"), report.failure}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<protocol::DownloadReport> DecodeReport(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    const QJsonObject o = doc.object();
    if (!o.value(QStringLiteral("success")).isBool()) return std::nullopt;
    protocol::DownloadReport r;
    r.success = o.value(QStringLiteral("success")).toBool();
    r.chip = o.value(QStringLiteral("chip")).toString();
    r.crystalMHz = o.value(QStringLiteral("crystalMHz")).toDouble();
    r.baud = static_cast<uint32_t>(std::max(0.0, o.value(QStringLiteral("baud")).toDouble()));
    r.bytes = o.value(QStringLiteral("bytes")).toInt();
    r.failure = o.value(QStringLiteral("failure")).toString();
    return r;
}

QString CheckSeveralPorts(const QStringList& ports) {
    QHash<QString, QString> seen; // the device itself -> the port as given
    for (const QString& port : ports) {
        if (port.isEmpty()) return QStringLiteral("an empty --port");
        if (port.startsWith(QLatin1String(kSimPortPrefix))) continue;
        const QString path = SystemSerialDeviceFactory::resolve(port, QString());
        const QString canonical = QFileInfo(path).canonicalFilePath();
        const QString device = canonical.isEmpty() ? QDir::cleanPath(path) : canonical;
        if (const auto it = seen.constFind(device); it != seen.cend()) {
            if (*it == port) return QStringLiteral("--port %1 is given twice (one process per board)").arg(port);
            return QStringLiteral("--port %1 and --port %2 are the same device %3 (one process per board)")
                .arg(*it, port, device);
        }
        seen.insert(device, port);
    }
    return {};
}

QStringList BoardLabels(const QStringList& ports) {
    QStringList labels;
    QHash<QString, int> seen;
    for (const QString& port : ports) {
        const int k = ++seen[port];
        labels << (ports.count(port) > 1 ? QStringLiteral("%1 #%2").arg(port).arg(k) : port);
    }
    return labels;
}

int DownloadSeveralBoards(const SeveralBoards& run) {
    std::vector<Board> boards;
    const QStringList labels = BoardLabels(run.ports);
    boards.resize(size_t(run.ports.size()));
    for (size_t i = 0; i < boards.size(); ++i) {
        boards[i].port = run.ports[qsizetype(i)];
        boards[i].label = labels[qsizetype(i)];
    }

    BoardScreen screen(labels, ::isatty(STDERR_FILENO) == 1);
    const int prefixWidth = screen.labelWidth() + 2;
    auto prefix = [&](const Board& b) {
        return padded(QStringLiteral("[%1]").arg(b.label), prefixWidth) + QLatin1Char(' ');
    };

    QEventLoop loop;
    int running = 0;
    bool stopping = false;
    QElapsedTimer clock;
    QTimer killTimer;
    killTimer.setSingleShot(true);

    auto takeLines = [](QByteArray& pending, const QByteArray& chunk, bool all) {
        pending += chunk;
        QList<QByteArray> lines;
        qsizetype nl;
        while ((nl = pending.indexOf('\n')) >= 0) {
            lines << pending.left(nl);
            pending.remove(0, nl + 1);
        }
        if (all && !pending.isEmpty()) {
            lines << pending;
            pending.clear();
        }
        return lines;
    };

    auto readOut = [&](int index, bool all) {
        Board& b = boards[size_t(index)];
        QString toOut, toErr;
        for (const QByteArray& raw : takeLines(b.pendingOut, b.process->readAllStandardOutput(), all)) {
            const QString payload = QString::fromUtf8(raw.mid(2));
            const char tag = raw.size() >= 2 && raw[1] == ' ' ? raw[0] : '\0';
            switch (static_cast<ChildRecord>(tag)) {
            case ChildRecord::Log:
                toOut += prefix(b) + payload + QLatin1Char('\n');
                break;
            case ChildRecord::Message:
                toErr += prefix(b) + QStringLiteral("talvo download: ") + payload + QLatin1Char('\n');
                break;
            case ChildRecord::Progress:
                screen.setProgress(index, payload.toInt());
                break;
            case ChildRecord::Report:
                b.report = DecodeReport(raw.mid(2));
                break;
            default:
                toOut += prefix(b) + QString::fromUtf8(raw) + QLatin1Char('\n');
                break; // not ours: shown as it is
            }
        }
        screen.print(toOut, toErr);
    };
    auto readErr = [&](int index, bool all) {
        Board& b = boards[size_t(index)];
        QString toErr;
        for (const QByteArray& raw : takeLines(b.pendingErr, b.process->readAllStandardError(), all))
            toErr += prefix(b) + QString::fromUtf8(raw) + QLatin1Char('\n');
        screen.print(QString(), toErr);
    };
    auto ended = [&](int index) {
        Board& b = boards[size_t(index)];
        b.done = true;
        b.seconds = double(clock.nsecsElapsed()) / 1e9;
        screen.ended(index, b.succeeded());
        if (--running == 0) loop.quit();
    };

    QStringList common{QStringLiteral("download"), QStringLiteral("--chip=") + run.chip,
                       QStringLiteral("--") + QLatin1String(kChildReportOption)};
    if (run.lowSpeed) common << QStringLiteral("--low-speed");
    if (run.verify) common << QStringLiteral("--verify");
    if (!run.address.isEmpty()) common << QStringLiteral("--address=") + run.address;
    if (run.massErase) common << QStringLiteral("--erase=all");
    if (run.unprotect) common << QStringLiteral("--unprotect");
    if (run.go) common << QStringLiteral("--go");
    if (!run.baud.isEmpty()) common << QStringLiteral("--baud=") + run.baud;
    common << run.traceArguments << run.stcArguments;
    const QByteArray handedImage = EncodeHandedImage(run.image, run.source);

    clock.start();
    for (int i = 0; i < int(boards.size()); ++i) {
        Board& b = boards[size_t(i)];
        b.process = new QProcess(&loop);
        b.process->setProgram(QCoreApplication::applicationFilePath());
        b.process->setArguments(common + QStringList{QStringLiteral("--port=") + b.port});
        // A parent that dies without a word (SIGKILL) still stops its boards cleanly.
        b.process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        QObject::connect(b.process, &QProcess::readyReadStandardOutput, [&, i] { readOut(i, false); });
        QObject::connect(b.process, &QProcess::readyReadStandardError, [&, i] { readErr(i, false); });
        QObject::connect(b.process, &QProcess::finished, [&, i](int code, QProcess::ExitStatus status) {
            Board& board = boards[size_t(i)];
            readOut(i, true);
            readErr(i, true);
            if (status == QProcess::CrashExit)
                board.ending = stopping ? QStringLiteral("stopped") : QStringLiteral("the download process was killed");
            else if (!board.report)
                board.ending = QStringLiteral("the download process ended (exit code %1) without a report").arg(code);
            else if (board.report->success && code != ExitOk)
                board.ending = QStringLiteral("the download process ended with exit code %1").arg(code);
            ended(i);
        });
        QObject::connect(b.process, &QProcess::errorOccurred, [&, i](QProcess::ProcessError error) {
            Board& board = boards[size_t(i)];
            if (error != QProcess::FailedToStart || board.done) return;
            board.ending =
                QStringLiteral("cannot start %1: %2").arg(board.process->program(), board.process->errorString());
            ended(i);
        });
        ++running;
    }

    // Ctrl-C and SIGTERM stop every board; the children hear Ctrl-C from the
    // terminal themselves, SIGTERM only from here.  A second request, or a
    // board that has not ended in time, ends them at once.
    auto killAll = [&] {
        for (Board& b : boards)
            if (!b.done && b.process->state() != QProcess::NotRunning) b.process->kill();
    };
    QObject::connect(&killTimer, &QTimer::timeout, killAll);
    ThreadNotifier bell([&] {
        if (stopping) {
            killAll();
            return;
        }
        stopping = true;
        screen.print(QString(), QStringLiteral("talvo download: stopping every board\n"));
        for (Board& b : boards)
            if (!b.done && b.process->state() != QProcess::NotRunning) b.process->terminate();
        killTimer.start(kStopGraceMs);
    });
    struct sigaction sa {};
    struct sigaction oldInt {
    }, oldTerm{};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    gStopBell = &bell;
    sigaction(SIGINT, &sa, &oldInt);
    sigaction(SIGTERM, &sa, &oldTerm);

    for (Board& b : boards) {
        b.process->start();
        // Every board the same bytes; the pipe takes them as the child reads.
        b.process->write(handedImage);
        b.process->closeWriteChannel();
    }
    if (running > 0) loop.exec();

    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);
    gStopBell = nullptr;
    screen.finish();

    int good = 0;
    for (const Board& b : boards) good += b.succeeded() ? 1 : 0;
    // The bytes each chip is given, where the chip type places them (an
    // STM32 image at its own address).
    const QString at = run.placed.address == 0
                           ? QString()
                           : QStringLiteral(" at 0x") + QString::number(run.placed.address, 16).toUpper().rightJustified(8, u'0');
    out(QStringLiteral("\nimage %1: %2 bytes%3, CRC-32 %4\n")
            .arg(run.source)
            .arg(run.placed.bytes.size())
            .arg(at)
            .arg(Crc32Text(Crc32(run.placed.bytes))) +
        summaryTable(boards) +
        QStringLiteral("%1 of %2 boards programmed%3\n")
            .arg(good)
            .arg(boards.size())
            .arg(stopping ? QStringLiteral(" (stopped)") : QString()));
    return good == int(boards.size()) ? ExitOk : ExitFailure;
}

} // namespace talvo::cli
