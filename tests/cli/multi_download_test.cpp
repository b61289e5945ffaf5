// `talvo download` with several --port options, as a person runs it: the
// command against simulated boards, one process per board, its output read
// back.  Each good board's flash is checked from the simulator's own dump.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>
#include <unistd.h>

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
          {"sim:stc89c52rc,silent-after=3", "", false, 0}},
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
            }
        }
        EXPECT_TRUE(r.out.endsWith(QStringLiteral("%1 of %2 boards programmed\n").arg(good).arg(c.boards.size())));
    }
}

// One --port is the download as it always was: no names, no table.
TEST(SeveralBoards, OnePortKeepsThePlainDownload) {
    const talvo::test::ProcessRun r = runTalvo({"download", "--chip", "stc89", "--port", kBoard, kHex});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("正在连机...\n")));
    EXPECT_TRUE(r.out.endsWith(kSuccess + "\n"));
    EXPECT_FALSE(r.out.contains("boards programmed"));
    EXPECT_FALSE(r.out.contains("[sim:"));
}

// Wrong combinations are refused before any board is touched.
TEST(SeveralBoards, ArgumentsThatCannotWorkAreRefused) {
    QTemporaryDir dir;
    const QString bad = dir.filePath("bad.hex");
    ASSERT_TRUE(talvo::test::writeFile(bad, ":10000000ZZ\n"));
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
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        const talvo::test::ProcessRun r = runTalvo(QStringList{"download", "--chip", "stc89"} + c.args);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
        EXPECT_FALSE(r.out.contains(QStringLiteral("正在连机")));
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
