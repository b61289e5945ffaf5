// The STM32 commands as a user runs them, each a `talvo` process against a
// simulated board: download with its STM32 options, read, and the refusals
// of both.  A board starts with older contents (load=) and leaves its flash
// in a file (dump=); `talvo read` then reads that flash from a board that
// starts with it.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <random>

#include "common/ProcessRun.h"

namespace {

using talvo::test::readFile;
using talvo::test::runProcess;
using talvo::test::writeFile;

constexpr quint32 kFlash = 0x08000000;
constexpr quint32 kAppAt = 0x08004000; // a sector boundary on the F401, a page boundary elsewhere
constexpr int kOldBytes = 24 * 1024;   // what the board holds before
constexpr int kAppBytes = 6000;

QByteArray randomBytes(int n, unsigned seed) {
    std::mt19937 rng(seed);
    QByteArray b(n, '\0');
    for (auto& c : b) c = static_cast<char>(rng() & 0xFF);
    return b;
}

talvo::test::ProcessRun talvo(const QStringList& args) { return runProcess(QStringLiteral(TALVO_CLI), args); }

std::string said(const talvo::test::ProcessRun& r) { return (r.out + r.err).toStdString(); }

QStringList readArgs(const QString& port, const QStringList& more) {
    return QStringList{QStringLiteral("read"), QStringLiteral("--chip"), QStringLiteral("stm32"), QStringLiteral("--port"),
                       port} +
           more;
}

struct Stm32CommandsTest : ::testing::TestWithParam<const char*> {
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(writeFile(oldFile, old));
        ASSERT_TRUE(writeFile(appFile, app));
    }
    QString chip() const { return QString::fromLatin1(GetParam()); }
    // A board of this chip holding `old`, its flash left in `dump`.
    QString board(const QString& options, const QString& dump) const {
        return QStringLiteral("sim:%1%2,load=%3,dump=%4").arg(chip(), options, oldFile, dump);
    }
    QStringList download(const QString& port, const QStringList& more) const {
        return QStringList{QStringLiteral("download"), QStringLiteral("--chip"), QStringLiteral("stm32"),
                           QStringLiteral("--port"), port, QStringLiteral("--address"), QStringLiteral("0x08004000")} +
               more + QStringList{appFile};
    }
    // The flash as it must be after the app was written at kAppAt: `around`
    // where the app is not (the old contents, or FF after an erase of all).
    QByteArray expected(const QByteArray& around) const {
        QByteArray flash = around;
        flash.replace(kAppAt - kFlash, kAppBytes, app);
        return flash;
    }

    QTemporaryDir dir;
    const QByteArray old = randomBytes(kOldBytes, 1);
    const QByteArray app = randomBytes(kAppBytes, 2);
    const QString oldFile = dir.filePath(QStringLiteral("old.bin"));
    const QString appFile = dir.filePath(QStringLiteral("app.bin"));
};

// Each option of the download on each simulator: the flash holds the image,
// what lies outside it is kept (or erased with --erase all), and `talvo
// read` returns that flash.
TEST_P(Stm32CommandsTest, DownloadOptionsAndTheReadBack) {
    const QByteArray erased(kOldBytes, '\xFF');
    const struct Row {
        const char* name;
        QStringList options;
        bool massErase;
        const char* logSays;
    } rows[] = {
        {"download", {}, false, "未校验"},
        {"--verify", {"--verify"}, false, "校验成功"},
        {"--erase all", {"--erase", "all"}, true, "整片擦除"},
        {"--go", {"--go"}, false, "已用 Go 命令（0x21）从 0x08004000 启动程序"},
        {"--baud 57600", {"--baud", "57600"}, false, "configured 57600 8E1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QString dump = dir.filePath(QStringLiteral("dump.bin"));
        QFile::remove(dump);
        const QString trace = QStringLiteral("--trace=") + dir.filePath(QStringLiteral("trace.txt"));
        const auto r = talvo(download(board({}, dump), row.options + QStringList{trace}));
        ASSERT_EQ(r.exitCode, 0) << said(r);
        const QString log = r.out + QString::fromUtf8(readFile(dir.filePath(QStringLiteral("trace.txt"))));
        EXPECT_TRUE(log.contains(QString::fromUtf8(row.logSays))) << said(r);
        const QByteArray want = expected(row.massErase ? erased : old);
        EXPECT_TRUE(readFile(dump).left(kOldBytes) == want) << "the board's flash";
        EXPECT_EQ(readFile(dump).mid(kOldBytes), QByteArray(readFile(dump).size() - kOldBytes, '\xFF'));

        // The same flash through `talvo read` (at a rate that keeps it short),
        // over an OUT that --force replaces.
        const QString out = dir.filePath(QStringLiteral("out.bin"));
        const auto read = talvo(readArgs(QStringLiteral("sim:%1,load=%2").arg(chip(), dump),
                                         {QStringLiteral("--length"), QString::number(kOldBytes), QStringLiteral("--baud"),
                                          QStringLiteral("921600"), QStringLiteral("--force"), out}));
        ASSERT_EQ(read.exitCode, 0) << said(read);
        EXPECT_TRUE(readFile(out) == want) << "talvo read";
    }
}

// A read-protected board: the download stops with the protection line and
// leaves the chip as it was; with --unprotect the chip is erased whole and
// programmed.  The default read covers the whole flash.
TEST_P(Stm32CommandsTest, ReadProtectionAndTheWholeFlash) {
    const QString dump = dir.filePath(QStringLiteral("dump.bin"));
    const auto refused = talvo(download(board(QStringLiteral(",rdp"), dump), {}));
    EXPECT_EQ(refused.exitCode, 1) << said(refused);
    EXPECT_TRUE(refused.out.trimmed().endsWith(QStringLiteral("之后才能下载；未擦除也未写入"))) << said(refused);
    EXPECT_TRUE(refused.out.contains(QStringLiteral("读保护已开启：芯片拒绝读出和写入FLASH"))) << said(refused);
    EXPECT_TRUE(readFile(dump).left(kOldBytes) == old) << "a refused download changed the flash";

    // Nothing read, nothing written: an existing OUT stays, even with --force.
    const QString out = dir.filePath(QStringLiteral("out.bin"));
    ASSERT_TRUE(writeFile(out, "keep"));
    const auto unreadable = talvo(readArgs(board(QStringLiteral(",rdp"), dump), {QStringLiteral("--force"), out}));
    EXPECT_EQ(unreadable.exitCode, 1) << said(unreadable);
    EXPECT_TRUE(unreadable.out.contains(QStringLiteral("读保护已开启"))) << said(unreadable);
    EXPECT_EQ(readFile(out), "keep");

    const auto unprotected =
        talvo(download(board(QStringLiteral(",rdp"), dump), {QStringLiteral("--unprotect"), QStringLiteral("--verify")}));
    ASSERT_EQ(unprotected.exitCode, 0) << said(unprotected);
    EXPECT_TRUE(unprotected.out.contains(QStringLiteral("读保护已解除"))) << said(unprotected);
    const QByteArray flash = readFile(dump);
    ASSERT_GT(flash.size(), kOldBytes);
    QByteArray want(flash.size(), '\xFF');
    want.replace(kAppAt - kFlash, kAppBytes, app);
    EXPECT_TRUE(flash == want) << "the unprotected chip holds more than the image";

    // The whole flash by default (fast, so that 256 KB stay short).
    const QString whole = dir.filePath(QStringLiteral("whole.bin"));
    const auto read = talvo(readArgs(QStringLiteral("sim:%1,load=%2").arg(chip(), dump),
                                     {QStringLiteral("--baud"), QStringLiteral("921600"), whole}));
    ASSERT_EQ(read.exitCode, 0) << said(read);
    EXPECT_TRUE(readFile(whole) == flash);
    EXPECT_TRUE(read.out.contains(QStringLiteral("%1 bytes from 0x08000000").arg(flash.size()))) << said(read);
}

INSTANTIATE_TEST_SUITE_P(Simulators, Stm32CommandsTest, ::testing::Values("stm32f401", "stm32g071", "stm32l431"));

// What `talvo read` and the STM32 options of `talvo download` refuse, and
// that a refused OUT is left as it was (or not made).
TEST(Stm32Commands, Refusals) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString existing = dir.filePath(QStringLiteral("existing.bin"));
    ASSERT_TRUE(writeFile(existing, "precious"));
    const QString fresh = dir.filePath(QStringLiteral("fresh.bin"));
    const QString dangling = dir.filePath(QStringLiteral("dangling.bin"));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("nowhere")), dangling));
    const QString app = dir.filePath(QStringLiteral("app.bin"));
    ASSERT_TRUE(writeFile(app, randomBytes(100, 3)));
    const QString port = QStringLiteral("sim:stm32g071");
    const auto read = [&](const QStringList& more) { return readArgs(port, more); };
    const auto download = [&](const QString& chip, const QString& onPort, const QStringList& more) {
        return QStringList{QStringLiteral("download"), QStringLiteral("--chip"), chip, QStringLiteral("--port"), onPort} +
               more + QStringList{app};
    };
    const struct Case {
        QStringList args;
        int exitCode;
        const char* says;
    } cases[] = {
        {read({"/dev/null"}), 2, "/dev/null is not a regular file"},
        {read({"--force", "/dev/null"}), 2, "/dev/null is not a regular file"},
        {read({dir.path()}), 2, "is a folder"},
        {read({existing}), 2, "existing.bin exists; --force overwrites it"},
        {read({dangling}), 2, "is a link to nothing"},
        {read({dir.filePath("no/such/folder.bin")}), 2, "does not exist"},
        {read({"--address", "beef", fresh}), 2, "--address beef: not a number"},
        {read({"--address", "0x100000000", fresh}), 2, "beyond the 32-bit address space"},
        {read({"--address", "0xFFFFFF00", "--length", "0x200", fresh}), 2, "runs past the end of the 32-bit address space"},
        {read({"--length", "0", fresh}), 2, "--length 0: not a number of bytes above 0"},
        {read({"--length", "0x20001", fresh}), 1, "超出芯片FLASH 0x08000000 至 0x0801FFFF（128 KB），未读出"},
        {read({"--address", "0x08040000", fresh}), 1, "不在芯片FLASH 0x08000000 至 0x0801FFFF 之内"},
        {read({"--baud", "300", fresh}), 2, "--baud 300: below 1200"},
        {{"read", "--chip", "stc89", "--port", port, fresh}, 2, "serves --chip stm32 only"},
        {{"read", "--chip", "stm32", "--port", port, "--port", port, fresh}, 2, "one --port only"},
        {{"protect", "--chip", "stm32", "--port", port, fresh}, 2, "unexpected argument"},
        {download("stc89", "sim:stc89c52rc", {"--erase", "all"}), 2, "--erase is an STM32 option; --chip stc89 is an STC chip"},
        {download("stc12", "sim:stc12c5a60s2", {"--go"}), 2, "--go is an STM32 option"},
        {download("stc89", "sim:stc89c52rc", {"--unprotect"}), 2, "--unprotect is an STM32 option"},
        {download("stm32", port, {"--erase", "pages"}), 2, "--erase pages: takes 'all'"},
        {download("stm32", port, {"--baud", "fast"}), 2, "--baud fast: not a rate"},
        {download("stm32", port, {"--low-speed"}), 2, "--low-speed is an STC option"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const auto r = talvo(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << said(r);
        EXPECT_TRUE((r.out + r.err).contains(QString::fromUtf8(c.says))) << c.says << "\n" << said(r);
    }
    EXPECT_EQ(readFile(existing), "precious");
    EXPECT_FALSE(QFileInfo::exists(fresh)) << "a failed read made its OUT";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 3)
        << "a temporary file was left: " << QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).join(' ').toStdString();
}

} // namespace
