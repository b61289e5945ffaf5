// `talvo download` as a user runs it: exit codes, the log on standard
// output, and Ctrl-C in the middle of a download.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

namespace {

struct Result {
    int exitCode = -1;
    QString out, err;
};

Result talvo(const QStringList& args, int signalAfterMs = -1) {
    QProcess p;
    p.start(QStringLiteral(TALVO_EXE), QStringList{QStringLiteral("download")} + args);
    Result r;
    if (!p.waitForStarted(10000)) return r;
    if (signalAfterMs >= 0) {
        // Ctrl-C once the download is under way (its log says so).
        QByteArray seen;
        QElapsedTimer t;
        t.start();
        while (!seen.contains("正在下载数据") && t.elapsed() < 60000 && p.state() == QProcess::Running) {
            p.waitForReadyRead(100);
            seen += p.readAllStandardOutput();
        }
        ::kill(static_cast<pid_t>(p.processId()), SIGINT);
        r.out = QString::fromUtf8(seen);
    }
    if (!p.waitForFinished(120000)) p.kill();
    r.out += QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

const QString kBlink = QStringLiteral(TALVO_SOURCE_DIR "/examples/stc89-blink/blink.hex");

} // namespace

TEST(DownloadCommand, ExitCodesAndTheLog) {
    QTemporaryDir dir;
    QFile bad(dir.filePath("bad.hex"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(":10000000ZZ\n");
    bad.close();
    struct Case {
        QStringList args;
        int exitCode;
        const char* says;
    };
    const Case cases[] = {
        {{"--chip", "stc89", "--port", "sim:stc89c52rc,scale=0.2,switchfloor=0.5", kBlink}, 0, "数 据 下 载 成 功!"},
        {{"--chip", "stc12", "--port", "sim:stc12c5a60s2,freq=16,scale=0.2,switchfloor=0.5", "--low-speed", kBlink}, 0, "下载波特率: 4800"},
        {{"--chip", "stc12", "--port", "sim:stc12c5a60s2,freq=24", "--low-speed", kBlink}, 1, "高速下载"},
        {{"--chip", "stc89", "--port", "sim:stc89c52rc", dir.filePath("none.hex")}, 1, "none.hex"},
        {{"--chip", "stc89", "--port", "sim:stc89c52rc", bad.fileName()}, 3, "bad.hex"},
        {{"--chip", "stc77", "--port", "sim:stc89c52rc", kBlink}, 2, "unknown chip 'stc77'"},
        {{"--chip", "stc89", kBlink}, 2, "--port is required"},
        {{"--chip=stc89", "--port=sim:stc89c52rc", "--bogus", kBlink}, 2, "Unknown option 'bogus'"},
    };
    for (const Case& c : cases) {
        const Result r = talvo(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args.join(' ').toStdString() << "\n" << r.out.toStdString() << r.err.toStdString();
        EXPECT_TRUE((r.out + r.err).contains(QString::fromUtf8(c.says))) << c.says << "\n" << r.out.toStdString() << r.err.toStdString();
    }
}

TEST(DownloadCommand, CtrlCStopsTheDownloadAndClosesThePort) {
    QTemporaryDir dir;
    const QString dump = dir.filePath("flash.bin");
    QFile image(dir.filePath("big.bin"));
    ASSERT_TRUE(image.open(QIODevice::WriteOnly));
    image.write(QByteArray(30000, '\x55'));
    image.close();
    QElapsedTimer t;
    t.start();
    const Result r = talvo({"--chip", "stc90", "--port", "sim:stc90c516,dump=" + dump, image.fileName()}, 0);
    EXPECT_EQ(r.exitCode, 1) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("下载已取消")) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains("数 据 下 载 成 功!"));
    EXPECT_LT(t.elapsed(), 15000) << "the 30 KB download would take about 20 s";
    EXPECT_TRUE(QFile::exists(dump)) << "the simulated board ended with the process";
}
