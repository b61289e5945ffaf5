// `talvo download` with several --port options, as a person runs it: the
// command against simulated boards, one process per board, its output read
// back.  Each good board's flash is checked from the simulator's own dump.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <atomic>
#include <csignal>
#include <thread>
#include <unistd.h>

#include "common/FileOpens.h"
#include "common/ProcessRun.h"
#include "common/Wait.h"

namespace {

const QString kHex = QStringLiteral(TALVO_SOURCE_DIR "/examples/stc89-blink/blink.hex");
const QString kBin = QStringLiteral(TALVO_SOURCE_DIR "/examples/stc89-blink/blink.bin");
const QString kSuccess = QString(39, u' ') + QStringLiteral("数 据 下 载 成 功!");
// A real chip answers a rate switch 0.1 s after the frame, and the host must
// have its port at the new rate by then; on a busy machine a starved process
// can miss that.  These simulated chips wait 1 s, as the wire's timing is not
// what these tests are about.
const QString kBoard = QStringLiteral("sim:stc89c52rc,switchfloor=1");

using talvo::test::readFile;

talvo::test::ProcessRun runTalvo(const QStringList& args) {
    return talvo::test::runProcess(QStringLiteral(TALVO_CLI), args);
}

// The summary row of `label`: its cells split at runs of two or more blanks.
QStringList summaryRow(const QString& out, const QString& label) {
    const QStringList lines = out.split(QLatin1Char('\n'));
    const qsizetype head =
        lines.indexOf(QRegularExpression(QStringLiteral("^PORT +CHIP +CRYSTAL +RATE +BYTES +TIME +RESULT$")));
    if (head < 0) return {};
    for (qsizetype i = head + 1; i < lines.size(); ++i)
        if (lines[i].startsWith(label + QStringLiteral("  "))) {
            // The result is the last cell, whatever blanks it holds.
            QStringList cells = lines[i].split(QRegularExpression(QStringLiteral(" {2,}")));
            while (cells.size() > 7) cells[6] += QStringLiteral("  ") + cells.takeAt(7);
            return cells;
        }
    return {};
}

} // namespace

// Boards good and bad together: every good board is programmed whatever the
// others do, each log line names its board, the table sums up each one, and
// the exit code says whether all succeeded.
TEST(SeveralBoards, EachBoardIsProgrammedOrFailsOnItsOwn) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray image = readFile(kBin);
    ASSERT_FALSE(image.isEmpty());
    // "{dump}" in a port stands for a file of its own, where the simulator
    // writes the chip's flash when it ends.
    struct Board {
        QString port;
        QString label; // as the output names it ("" = the port)
        bool good;
        double crystal; // a good board's crystal in MHz
        QString failure = {}; // a bad board's result after "FAILED: " ("" = any)
    };
    struct Case {
        const char* name;
        std::vector<Board> boards;
        int exitCode;
    };
    const std::vector<Case> cases = {
        {"one silent board among three",
         {{kBoard + ",dump={dump}", "", true, 11.0592},
          {kBoard + ",freq=12,dump={dump}", "", true, 12},
          {"sim:stc89c52rc,silent-after=3", "", false, 0},
          // Its port goes away during the transfer: the port-lost line, not the write failure after it.
          {"sim:stc89c52rc,hangup-block=1", "", false, 0,
           QStringLiteral("串口 sim:stc89c52rc,hangup-block=1 已断开（USB 转换器被拔出，或设备挂断）")}},
         1},
        {"all good, one crystal twice as fast",
         {{kBoard + ",dump={dump}", "", true, 11.0592},
          {kBoard + ",freq=22.1184,dump={dump}", "", true, 22.1184}},
         0},
        {"the same simulated chip twice is two boards",
         {{kBoard, kBoard + " #1", true, 11.0592}, {kBoard, kBoard + " #2", true, 11.0592}},
         0},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QStringList args{"download", "--chip", "stc89"};
        std::vector<QString> dumps, labels;
        for (const Board& b : c.boards) {
            dumps.push_back(b.port.contains("{dump}") ? dir.filePath(QStringLiteral("flash%1.bin").arg(n++))
                                                      : QString());
            const QString port = QString(b.port).replace("{dump}", dumps.back());
            labels.push_back(b.label.isEmpty() ? port : b.label);
            args << "--port" << port;
        }
        args << kHex;
        const talvo::test::ProcessRun r = runTalvo(args);
        ASSERT_EQ(r.exitCode, c.exitCode) << r.out.toStdString() << r.err.toStdString();

        int good = 0;
        for (size_t i = 0; i < c.boards.size(); ++i) {
            const Board& b = c.boards[i];
            const QString& label = labels[i];
            SCOPED_TRACE(label.toStdString());
            // Its log lines carry its name.
            EXPECT_TRUE(
                r.out.contains(QRegularExpression("^\\[" + QRegularExpression::escape(label) + "\\] +正在连机...$",
                                                  QRegularExpression::MultilineOption)));
            EXPECT_EQ(
                r.out.contains(QRegularExpression("^\\[" + QRegularExpression::escape(label) + "\\] +" + kSuccess + "$",
                                                  QRegularExpression::MultilineOption)),
                b.good);
            // Progress of a transfer, in plain lines when standard error is no terminal.
            EXPECT_EQ(r.err.contains(QRegularExpression("^" + QRegularExpression::escape(label) + " +progress 100%$",
                                                        QRegularExpression::MultilineOption)),
                      b.good)
                << r.err.toStdString();
            const QStringList row = summaryRow(r.out, label);
            ASSERT_EQ(row.size(), 7) << r.out.toStdString();
            if (b.good) {
                ++good;
                EXPECT_EQ(row[1], "STC89C52");
                ASSERT_TRUE(row[2].endsWith(" MHz")) << row[2].toStdString();
                EXPECT_NEAR(row[2].chopped(4).toDouble(), b.crystal, b.crystal * 0.01);
                EXPECT_GE(row[3].toInt(), 9600);
                EXPECT_EQ(row[4].toInt(), image.size());
                EXPECT_TRUE(row[5].endsWith(" s"));
                EXPECT_EQ(row[6], "ok");
                if (!dumps[i].isEmpty()) {
                    EXPECT_EQ(readFile(dumps[i]).left(image.size()), image);
                }
            } else {
                EXPECT_EQ(row[4], "-");
                EXPECT_TRUE(row[6].startsWith("FAILED: ")) << row[6].toStdString();
                EXPECT_GT(row[6].size(), 8);
                if (!b.failure.isEmpty()) {
                    EXPECT_EQ(row[6], "FAILED: " + b.failure);
                }
            }
        }
        EXPECT_TRUE(r.out.endsWith(QStringLiteral("%1 of %2 boards programmed\n").arg(good).arg(c.boards.size())));
    }
}

// One --port is the plain download: no names, no table.
TEST(SeveralBoards, OnePortKeepsThePlainDownload) {
    const talvo::test::ProcessRun r = runTalvo({"download", "--chip", "stc89", "--port", kBoard, kHex});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("正在连机...\n")));
    EXPECT_TRUE(r.out.endsWith(kSuccess + "\n"));
    EXPECT_FALSE(r.out.contains("boards programmed"));
    EXPECT_FALSE(r.out.contains("[sim:"));
}

// Wrong combinations are refused before any board is touched, and a
// mistyped simulated board is named with what its option takes (not with the
// advice to unplug a converter); the firmware file stays as it was.
TEST(SeveralBoards, ArgumentsThatCannotWorkAreRefused) {
    QTemporaryDir dir;
    const QString bad = dir.filePath("bad.hex");
    ASSERT_TRUE(talvo::test::writeFile(bad, ":10000000ZZ\n"));
    const QString firmware = dir.filePath("fw.hex");
    const QByteArray hex = readFile(kHex);
    ASSERT_TRUE(talvo::test::writeFile(firmware, hex));
    const QString link = dir.filePath("trace.log");
    ASSERT_TRUE(QFile::link(firmware, link));
    struct Case {
        QStringList args;
        int exitCode;
        const char* says;
    };
    const std::vector<Case> cases = {
        {{"--port", "/dev/null", "--port", "/dev/null", kHex}, 2, "--port /dev/null is given twice"},
        {{"--port", "null", "--port", "/dev/null", kHex}, 2, "are the same device /dev/null"},
        {{"--port", "sim:stc89c52rc", "--port", "sim:stc90c516", "--child-report", kHex}, 2, "takes one --port"},
        {{"--port", "sim:stc89c52rc", "--port", "sim:stc90c516", bad}, 3, "bad.hex"},
        {{"--port", "sim:stc89c52rc,freq=abc", kHex},
         2,
         "--port sim:stc89c52rc,freq=abc: option 'freq=abc': expects a crystal frequency in MHz"},
        {{"--port", "sim:stc89c52rc", "--port", "sim:nosuch", kHex}, 2, "--port sim:nosuch: no simulator named 'nosuch'"},
        {{"--port", "sim:stc89c52rc,silent-after=x", kHex}, 2, "silent-after"},
        // The wire trace into the firmware file (here through a link to it).
        {{"--port", "sim:stc89c52rc", "--trace=" + link, firmware}, 2, "written into the firmware file"},
        {{"--port", "sim:stc89c52rc", "--port", "sim:stc90c516", "--trace=" + firmware, firmware},
         2,
         "written into the firmware file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        const talvo::test::ProcessRun r = runTalvo(QStringList{"download", "--chip", "stc89"} + c.args);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains(QStringLiteral("USB"))) << r.err.toStdString();
        EXPECT_FALSE(r.out.contains(QStringLiteral("正在连机")));
        EXPECT_EQ(readFile(firmware), hex);
    }
}

// Ctrl-C reaches the whole process group; SIGTERM (a service manager, kill)
// only the command, which passes it on.  Either way every board stops
// cleanly (its download ends with its own line and report) and the table
// still comes.
TEST(SeveralBoards, CtrlCOrSigtermStopsEveryBoard) {
    struct Case {
        const char* name;
        bool wholeGroup;
        int signal;
    };
    for (const Case& c : {Case{"Ctrl-C", true, SIGINT}, Case{"SIGTERM to the command", false, SIGTERM}}) {
        SCOPED_TRACE(c.name);
        QProcess p;
        p.setChildProcessModifier([] { ::setpgid(0, 0); });
        p.start(QStringLiteral(TALVO_CLI),
                {"download", "--chip", "stc89", "--port", "sim:stc89c52rc", "--port", "sim:stc89c52rc,freq=12", kHex});
        ASSERT_TRUE(p.waitForStarted());
        QByteArray out;
        auto connecting = [&] {
            out += p.readAllStandardOutput();
            return out.count(QStringLiteral("正在连机...").toUtf8()) == 2;
        };
        ASSERT_TRUE(talvo::test::waitUntil(connecting)) << out.toStdString();
        const auto pid = static_cast<pid_t>(p.processId());
        ASSERT_EQ(::kill(c.wholeGroup ? -pid : pid, c.signal), 0);
        ASSERT_TRUE(p.waitForFinished(60000));
        out += p.readAllStandardOutput();
        const QString text = QString::fromUtf8(out);
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 1);
        for (const QString& label : {QStringLiteral("sim:stc89c52rc"), QStringLiteral("sim:stc89c52rc,freq=12")}) {
            const QStringList row = summaryRow(text, label);
            ASSERT_EQ(row.size(), 7) << text.toStdString();
            EXPECT_TRUE(row[6].startsWith(QStringLiteral("FAILED: "))) << row[6].toStdString();
            EXPECT_TRUE(text.contains(QRegularExpression(
                "^\\[" + QRegularExpression::escape(label) + "\\] +下载已取消$", QRegularExpression::MultilineOption)))
                << text.toStdString();
        }
        EXPECT_TRUE(text.endsWith("0 of 2 boards programmed (stopped)\n")) << text.toStdString();
    }
}

namespace {

// CRC-32 (zlib's), bit by bit.
quint32 crc32(const QByteArray& bytes) {
    quint32 c = 0xFFFFFFFFu;
    for (char b : bytes) {
        c ^= static_cast<quint8>(b);
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

// An Intel HEX file of `image` from address 0.
QByteArray hexOf(const QByteArray& image) {
    QByteArray text;
    for (qsizetype at = 0; at < image.size(); at += 16) {
        const QByteArray data = image.mid(at, 16);
        QByteArray record;
        record.append(char(data.size())).append(char(at >> 8)).append(char(at & 0xFF)).append('\0').append(data);
        quint8 sum = 0;
        for (char c : record) sum = quint8(sum + quint8(c));
        record.append(char(quint8(0x100 - sum)));
        text += ':' + record.toHex().toUpper() + '\n';
    }
    return text + ":00000001FF\n";
}

} // namespace

// The file read once, by the command itself: while it is replaced every few
// milliseconds by one of two images, every board gets the same image, whose
// size and CRC-32 the summary shows, and no board's process opens the file.
TEST(SeveralBoards, EveryBoardGetsTheOneImageReadWhileTheFileIsReplaced) {
    ASSERT_EQ(crc32("123456789"), 0xCBF43926u); // the standard check value
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir().mkpath(dir.filePath("fw")) && QDir().mkpath(dir.filePath("spare")));
    QByteArray a(600, '\0'), b(400, '\0');
    for (int i = 0; i < a.size(); ++i) a[i] = char(i * 7 + 1);
    for (int i = 0; i < b.size(); ++i) b[i] = char(0xA5 ^ (i * 3));
    const QByteArray hexes[2] = {hexOf(a), hexOf(b)};
    const QString firmware = dir.filePath("fw/firmware.hex");
    ASSERT_TRUE(talvo::test::writeFile(firmware, hexes[0]));
    talvo::test::FolderOpens opens(dir.filePath("fw"));
    ASSERT_TRUE(opens.valid());

    // Each replacement is written beside the folder and renamed into it whole.
    std::atomic<bool> replacing{true};
    std::atomic<int> replaced{0};
    std::thread replacer([&] {
        for (int n = 1; replacing; ++n) {
            const QString spare = dir.filePath("spare/next.hex");
            if (talvo::test::writeFile(spare, hexes[n % 2]) &&
                ::rename(QFile::encodeName(spare).constData(), QFile::encodeName(firmware).constData()) == 0)
                ++replaced;
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    });
    QStringList args{"download", "--chip", "stc89"};
    std::vector<QString> dumps;
    for (int i = 0; i < 3; ++i) {
        dumps.push_back(dir.filePath(QStringLiteral("flash%1.bin").arg(i)));
        args << "--port" << kBoard + ",dump=" + dumps.back();
    }
    args << firmware;
    const talvo::test::ProcessRun r = runTalvo(args);
    replacing = false;
    replacer.join();
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_GE(replaced.load(), 2) << "the file was replaced while the boards were programmed";
    EXPECT_EQ(opens.opensOf("firmware.hex"), 1) << "one reading, by the command; none by the boards";
    // Every board holds the same one of the two images.
    const QByteArray first = readFile(dumps[0]);
    const QByteArray programmed = first.startsWith(a) ? a : b;
    for (const QString& dump : dumps) {
        SCOPED_TRACE(dump.toStdString());
        EXPECT_EQ(readFile(dump).left(programmed.size()), programmed);
    }

    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^image (.+): (\\d+) bytes(?: at 0x[0-9A-F]{8})?, CRC-32 ([0-9a-f]{8})$"),
                           QRegularExpression::MultilineOption)
            .match(r.out);
    ASSERT_TRUE(m.hasMatch()) << r.out.toStdString();
    EXPECT_EQ(m.captured(1), firmware);
    // The summary names it once, with its size and CRC-32: each board's flash has that CRC.
    const int size = m.captured(2).toInt();
    EXPECT_EQ(size, programmed.size());
    for (const QString& dump : dumps)
        EXPECT_EQ(QStringLiteral("%1").arg(crc32(readFile(dump).left(size)), 8, 16, QLatin1Char('0')), m.captured(3))
            << dump.toStdString();
    EXPECT_EQ(r.out.count(QRegularExpression(QStringLiteral("^image "), QRegularExpression::MultilineOption)), 1);
}

// One board: the file is read and converted once, and no folder is watched
// (nothing would ever hear of a change).
TEST(SeveralBoards, OneBoardReadsTheFileOnceAndWatchesNoFolder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString firmware = dir.filePath("blink.hex");
    ASSERT_TRUE(QFile::copy(kHex, firmware));
    talvo::test::FolderOpens opens(dir.path());
    ASSERT_TRUE(opens.valid());
    QProcess p;
    p.start(QStringLiteral(TALVO_CLI), {"download", "--chip", "stc89", "--port", kBoard, firmware});
    ASSERT_TRUE(p.waitForStarted());
    QByteArray out;
    ASSERT_TRUE(talvo::test::waitUntil([&] {
        out += p.readAllStandardOutput();
        return out.contains(QStringLiteral("正在连机...").toUtf8()) || p.state() == QProcess::NotRunning;
    }));
    // The download is under way: whatever the command set up for it is there.
    EXPECT_FALSE(talvo::test::watchesFolder(p.processId(), dir.path()));
    ASSERT_TRUE(p.waitForFinished(talvo::test::kProcessLimitMs));
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_EQ(opens.opensOf("blink.hex"), 1);
}
