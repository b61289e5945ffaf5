// `talvo download` as a user runs it: exit codes, the log on standard
// output, and Ctrl-C in the middle of a download.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <random>

#include "image/HexWriter.h"

namespace {

struct Result {
    int exitCode = -1;
    QString out, err;
};

Result talvoDownload(const QStringList& args, int signalAfterMs = -1) {
    QProcess p;
    p.start(QStringLiteral(TALVO_CLI), QStringList{QStringLiteral("download")} + args);
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
const QString kSuccess = QString(39, u' ') + QStringLiteral("数 据 下 载 成 功!");

QString write(const QTemporaryDir& dir, const QString& name, const QByteArray& content) {
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
        ADD_FAILURE() << "cannot write " << name.toStdString();
    return f.fileName();
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray randomBytes(int n, unsigned seed) {
    std::mt19937 rng(seed);
    QByteArray b(n, '\0');
    for (auto& c : b) c = static_cast<char>(rng() & 0xFF);
    return b;
}

QString lastLine(const QString& text) { return text.trimmed().split(QLatin1Char('\n')).last(); }

} // namespace

TEST(DownloadCommand, ExitCodesAndTheLog) {
    QTemporaryDir dir;
    QFile bad(dir.filePath("bad.hex"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(":10000000ZZ\n");
    bad.close();
    // Problems knowable from the file alone all exit 3, before any port opens.
    const QString empty = write(dir, "empty.hex", talvo::test::eofRecord());
    const QString big = write(dir, "big.bin", QByteArray(70000, '\x55'));
    const QString huge = write(dir, "huge.bin", QByteArray(16 * 1024 * 1024 + 1, '\x55'));
    const QString hexText = write(dir, "text.bin", readAll(kBlink));
    const QString atZero =
        write(dir, "zero.hex", talvo::test::linearData(0, QByteArray(16, '\x11')) + talvo::test::eofRecord());
    const QString app = write(dir, "app.bin", QByteArray(16, '\x11'));
    const QString stm32 = QStringLiteral("sim:stm32f103");
    struct Case {
        QStringList args;
        int exitCode;
        const char* says;
    };
    const Case cases[] = {
        {{"--chip", "stc89", "--port", "sim:stc89c52rc,scale=0.2,switchfloor=0.5", kBlink}, 0, "数 据 下 载 成 功!"},
        {{"--chip", "stc12", "--port", "sim:stc12c5a60s2,freq=16,scale=0.2,switchfloor=0.5", "--low-speed", kBlink},
         0,
         "下载波特率: 4800"},
        {{"--chip", "stc12", "--port", "sim:stc12c5a60s2,freq=24", "--low-speed", kBlink}, 1, "高速下载"},
        {{"--chip", "stc89", "--port", "sim:stc89c52rc", dir.filePath("none.hex")}, 3, "none.hex"},
        {{"--chip", "stc89", "--port", "sim:stc89c52rc", bad.fileName()}, 3, "bad.hex: line 1, record 1"},
        {{"--chip", "stc89", "--port", "sim:stc89c52rc", empty}, 3, "固件映像为空"},
        {{"--chip", "stc89", "--port", "sim:stc89c52rc", big}, 3, "超出STC下载的上限"},
        {{"--chip", "stm32", "--port", stm32, huge}, 3, "超出映像上限"},
        {{"--chip", "stc89", "--port", "sim:stc89c52rc", hexText}, 3, "看起来是Intel HEX文本"},
        {{"--chip", "stm32", "--port", stm32, atZero}, 3, "不在STM32的FLASH区域 0x08000000 至 0x080FFFFF 之内"},
        {{"--chip", "stm32", "--port", stm32, "--address", "0x08000002", app},
         2,
         "--address 0x08000002: not a multiple of 4"},
        {{"--chip", "stm32", "--port", stm32, "--address=0x20000000", app},
         2,
         "not inside the STM32 flash area 0x08000000 to 0x080FFFFF"},
        {{"--chip", "stm32", "--port", stm32, "--address", "beef", app}, 2, "--address beef: not a number"},
        {{"--chip", "stm32", "--port", stm32, "--address", "0x08004000", atZero},
         2,
         "a HEX file carries its own addresses"},
        {{"--chip", "stc89", "--port", "sim:stc89c52rc", "--address", "0x08004000", app},
         2,
         "only STM32 downloads are placed"},
        {{"--chip", "stc77", "--port", "sim:stc89c52rc", kBlink}, 2, "unknown chip 'stc77'"},
        {{"--chip", "stc89", kBlink}, 2, "--port is required"},
        {{"--chip=stc89", "--port=sim:stc89c52rc", "--bogus", kBlink}, 2, "Unknown option 'bogus'"},
    };
    for (const Case& c : cases) {
        const Result r = talvoDownload(c.args);
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
    const Result r = talvoDownload({"--chip", "stc90", "--port", "sim:stc90c516,dump=" + dump, image.fileName()}, 0);
    EXPECT_EQ(r.exitCode, 1) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("下载已取消")) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains("数 据 下 载 成 功!"));
    EXPECT_LT(t.elapsed(), 15000) << "the 30 KB download would take about 20 s";
    EXPECT_TRUE(QFile::exists(dump)) << "the simulated board ended with the process";
}

TEST(DownloadCommand, AnApplicationBehindItsBootloaderLeavesTheBootloaderIntact) {
    // A board whose flash holds a 16 KB bootloader; the application goes
    // behind it, from a HEX file with its own addresses or from a .bin with
    // --address.  Nothing below 0x08004000 changes.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray boot = randomBytes(16 * 1024, 1);
    const QByteArray app = randomBytes(3000, 2);
    const QString bootFile = write(dir, "boot.bin", boot);
    // One record written twice: the later one wins, and the log says where.
    const QByteArray overlap = talvo::test::dataRecord(0x4010, app.mid(0x10, 16));
    const QString hex =
        write(dir, "app.hex", talvo::test::linearData(0x08004000, app) + overlap + talvo::test::eofRecord());
    const QString bin = write(dir, "app.bin", app);
    const struct {
        const char* name;
        QStringList args;
    } rows[] = {
        {"HEX", {hex}},
        {"HEX, verified", {"--verify", hex}},
        {".bin at --address", {"--address", "0x08004000", bin}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const QString dump = dir.filePath("flash.bin");
        QFile::remove(dump);
        const Result res = talvoDownload(
            QStringList{"--chip", "stm32", "--port", "sim:stm32f103,load=" + bootFile + ",dump=" + dump} + r.args);
        ASSERT_EQ(res.exitCode, 0) << res.out.toStdString() << res.err.toStdString();
        EXPECT_EQ(lastLine(res.out), kSuccess);
        EXPECT_TRUE(res.out.contains(QStringLiteral("文件大小： 3 KB"))) << res.out.toStdString();
        EXPECT_EQ(res.out.contains(QStringLiteral(
                      "HEX文件的数据记录有重叠：地址 0x08004010 至 0x0800401F 被后面的记录再次写入，以后写入的为准")),
                  r.args.last() == hex)
            << res.out.toStdString();
        const QByteArray flash = readAll(dump);
        ASSERT_EQ(flash.size(), 64 * 1024);
        EXPECT_TRUE(flash.left(boot.size()) == boot) << "the bootloader changed";
        EXPECT_TRUE(flash.mid(0x4000, app.size()) == app);
        EXPECT_EQ(flash.mid(0x4000 + app.size()), QByteArray(64 * 1024 - 0x4000 - app.size(), '\xFF'));
    }
}

TEST(DownloadCommand, AFlashThatDiffersFromTheImageDoesNotEndInSuccess) {
    // Without --verify the chip's acknowledges are all the download knows; on
    // a simulated board the command compares the flash itself, and when a word
    // was stored wrongly the log does not end with the success line.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString bin = write(dir, "app.bin", randomBytes(3000, 3));
    const Result r = talvoDownload({"--chip", "stm32", "--port", "sim:stm32f103,bad-word=5", bin});
    EXPECT_EQ(r.exitCode, 1) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(kSuccess)) << "the chip acknowledged every block";
    EXPECT_NE(lastLine(r.out), kSuccess);
    EXPECT_TRUE(lastLine(r.out).contains(QStringLiteral("the simulated chip's flash differs at 0x08000010")))
        << r.out.toStdString();
}

// Every STC simulator old and new, as its chip type and with the family from
// the chip's first answer (`--chip auto`, and --chip left out): exit 0, which
// on a simulated board means its flash holds the image.  A chip of another
// family stops before the switch, naming it and the chip type to choose.
TEST(DownloadCommand, EveryStcSimulatorByChipTypeAndAuto) {
    QTemporaryDir dir;
    const QString image = write(dir, "image.bin", randomBytes(3000, 19));
    const struct {
        const char* port;
        const char* chip;
    } boards[] = {
        {"sim:stc15f104e", "stc15"},     {"sim:iap15f2k61s2", "stc15"}, {"sim:stc15w4k56s4", "stc15"},
        {"sim:stc8a8k64s4a12", "stc8"},  {"sim:stc8g1k08", "stc8"},     {"sim:stc89c52rc", "stc89"},
        {"sim:stc90c516", "stc90"},      {"sim:stc12c5a60s2", "stc12"}, {"sim:stc11f60", "stc11"},
        {"sim:stc15l104w", "stc15"},
    };
    for (const auto& b : boards) {
        for (const QString chip : {QString::fromLatin1(b.chip), QStringLiteral("auto"), QString()}) {
            // The STC15W4K56S4 and STC15L104W come untrimmed: trimmed to
            // 11.0592 MHz as asked.  Answers ten times sooner.
            const QString scale = QStringLiteral(",scale=0.1");
            QStringList args = {"--port", QString::fromLatin1(b.port) + scale, "--freq", "11.0592", image};
            if (!chip.isEmpty()) args = QStringList{"--chip", chip} + args;
            const Result r = talvoDownload(args);
            EXPECT_EQ(r.exitCode, 0) << args.join(' ').toStdString() << "\n" << r.out.toStdString() << r.err.toStdString();
            EXPECT_TRUE(r.out.contains(kSuccess)) << args.join(' ').toStdString();
        }
    }
    const Result wrong = talvoDownload({"--chip", "stc89", "--port", "sim:stc12c5a60s2", image});
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_TRUE(lastLine(wrong.out).contains(QStringLiteral("STC12C5A60S2"))) << wrong.out.toStdString();
    EXPECT_TRUE(lastLine(wrong.out).contains(QStringLiteral("应选择芯片类型“STC12C60系列”"))) << wrong.out.toStdString();
    EXPECT_FALSE(wrong.out.contains(QStringLiteral("调整波特率")));
    // --baud the chip's timer cannot make: refused before the switch, the nearest rates named.
    const Result rate = talvoDownload({"--port", "sim:iap15f2k61s2", "--baud", "850000", image});
    EXPECT_EQ(rate.exitCode, 1);
    EXPECT_TRUE(lastLine(rate.out).endsWith(QStringLiteral("可用的相近波特率：460800、921600"))) << rate.out.toStdString();
}
