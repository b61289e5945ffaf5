// `talvo porttest` as a process: the log on standard output and the exit code,
// against the in-process loopback plug, a silent one, a pty with
// `talvo sim loopback` behind it, and wrong arguments.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

namespace {

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
    qint64 ms = 0;
};

CliRun runTalvo(const QStringList& args) {
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(QStringLiteral(TALVO_CLI), args);
    CliRun r;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.ms = t.elapsed();
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QString passOutput() {
    const QString wr = "wirte 512bytes..." + QString(10, ' ') + "OK \n";
    const QString cmp = "Compare Data..." + QString(10, ' ') + "OK \n";
    return "set baud rate to 9600 bps..." + QString(31, ' ') + "OK\n" + wr + cmp + wr + cmp +
           "set baud rate to 57600 bps..." + QString(10, ' ') + "OK\n" + wr + cmp + wr + cmp +
           "set baud rate to 115200 bps..." + QString(11, ' ') + "OK \n" + wr + cmp + wr + cmp + QString(35, ' ') +
           "END  TEST \n" + QString(27, '-') + "Successful" + QString(29, '-') + "!   \n";
}

} // namespace

TEST(PortTestCommand, PassesThroughTheSimulatedPlugWithTheExactLog) {
    const CliRun r = runTalvo({"porttest", "--port", "sim:loopback"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, passOutput());
    EXPECT_TRUE(r.err.contains("测试 OK"));
}

TEST(PortTestCommand, SilentPortFailsAfterAboutThreeSeconds) {
    const CliRun r = runTalvo({"porttest", "--port=sim:loopback,drop=1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_GE(r.ms, 3000);
    EXPECT_EQ(r.out, "set baud rate to 9600 bps..." + QString(31, ' ') + "OK\nwirte 512bytes..." + QString(10, ' ') +
                         "OK \nConnect port read..." + QString(10, ' ') + "FAIL \n");
    EXPECT_TRUE(r.err.contains("测试失败."));
}

TEST(PortTestCommand, PassesThroughAPtyWithTheLoopbackSimulatorBehindIt) {
    QTemporaryDir dir;
    const QString link = dir.filePath("loop");
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(TALVO_CLI), {"sim", "loopback", "--link", link});
    QElapsedTimer t;
    t.start();
    while (!QFileInfo::exists(link) && sim.state() != QProcess::NotRunning && t.elapsed() < 15000) QThread::msleep(20);
    ASSERT_TRUE(QFileInfo::exists(link)) << "talvo sim made no link";
    const CliRun r = runTalvo({"porttest", "--port", link});
    sim.terminate();
    sim.waitForFinished(10000);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, passOutput());
}

TEST(PortTestCommand, WrongArgumentsExitTwoAndHelpExitsZero) {
    struct Case {
        QStringList args;
        int exit;
        const char* stderrHas;
    };
    const Case cases[] = {
        {{"porttest"}, 2, "--port PORT is required"},
        {{"porttest", "--port"}, 2, "Missing value"},
        {{"porttest", "--bogus", "--port", "sim:loopback"}, 2, "Unknown option"},
        {{"porttest", "--port", "sim:loopback", "extra"}, 2, "unexpected argument 'extra'"},
        {{"porttest", "--port", ""}, 2, "--port PORT is required"},
        // A mistyped simulated port: named with what it takes, not as a port that cannot be opened.
        {{"porttest", "--port", "sim:nosuch"}, 2, "--port sim:nosuch: no simulator named 'nosuch' (known: "},
        {{"porttest", "--port", "sim:loopback,idle=soon"}, 2, "option 'idle=soon': expects seconds"},
        {{"porttest", "--help"}, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliRun r = runTalvo(c.args);
        EXPECT_EQ(r.exitCode, c.exit);
        EXPECT_TRUE(r.err.contains(c.stderrHas)) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains("USB") || r.out.contains(QStringLiteral("测试失败"))) << r.err.toStdString();
        if (c.exit == 0) {
            EXPECT_TRUE(r.out.contains("Usage: talvo porttest --port PORT"));
        }
    }
}
