// `talvo hex2bin`: the converter's message on standard error and the exit
// codes scripts test for (0 ok, 1 file trouble, 2 usage, 3 malformed HEX).
// `talvo` is a launcher that converts the plain form itself and runs the Qt
// command program talvo-cli for everything else: both must answer alike.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include "image/HexWriter.h"

using namespace talvo::test;

namespace {

struct CliRun {
    int exitCode = -1;
    QString err;
    QString out;
};

CliRun runProgram(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    CliRun r;
    if (!p.waitForFinished(60000))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.err = QString::fromUtf8(p.readAllStandardError());
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    return r;
}

CliRun runTalvo(const QStringList& args) { return runProgram(QStringLiteral(TALVO_CLI), args); }

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
}

} // namespace

TEST(Hex2BinCommand, MessagesAndExitCodes) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString out = dir.filePath(QStringLiteral("out.bin"));
    const auto input = [&](const QByteArray& text) {
        const QString path = dir.filePath(QStringLiteral("in.hex"));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
        return path;
    };
    const QByteArray lead = dataRecord(0, bytes({1, 2, 3}));
    struct Case {
        QByteArray text;
        const char* message;
    };
    // ":02123400112285": length 1-2, address 3-6, type 7-8, data 9-12, checksum 13-14.
    const QByteArray good = dataRecord(0x1234, bytes({0x11, 0x22}));
    const auto patch = [&](std::initializer_list<std::pair<int, char>> changes) {
        QByteArray t = good;
        for (const auto& [index, c] : changes)
            t[index] = c;
        return t;
    };
    // Each record also breaks every later check, so only the order picks the message.
    const Case malformed[] = {
        {patch({{2, 'X'}, {3, 'X'}}), "传入的hex长度错误,转换终止!"},
        {patch({{4, 'X'}, {5, 'X'}, {8, 'X'}, {13, 'X'}}), "传入的hex文件格式错误3,转换终止!"},
        {patch({{6, 'X'}, {7, 'X'}, {10, 'X'}}), "传入的hex文件格式错误4,转换终止!"},
        {patch({{8, 'x'}, {9, 'X'}, {14, 'X'}}), "传入的hex文件格式错误5,转换终止!"},
        {patch({{8, '3'}, {10, 'g'}}), "传入的hex文件格式错误6,转换终止!"},    // type 3 refused before data
        {hexRecord(6, 0, QByteArray()), "传入的hex文件格式错误6,转换终止!"},
        {patch({{12, 'g'}, {13, 'X'}}), "传入的hex文件格式错误7,转换终止!"},
        {":0200000211", "传入的hex文件格式错误7,转换终止!"},                  // truncated record
        {patch({{14, ' '}, {10, '0'}}), "传入的hex文件格式错误8,转换终止!"},
        {hexRecord(0, 0, bytes({1}), 1), "传入的hex文件校验和错误9,转换终止!"},
        {hexRecord(2, 0, bytes({0x10})), "扩展段地址记录数据格式出错,异常退出"},
        {hexRecord(2, 4, bytes({0x10, 0})), "扩展段地址记录数据格式出错,异常退出"},
        {hexRecord(4, 1, bytes({0, 1})), "扩展线性地址记录数据格式出错,异常退出"},
    };
    for (const Case& c : malformed) {
        const CliRun r = runTalvo({QStringLiteral("hex2bin"), input(lead + c.text + eofRecord()), out});
        EXPECT_EQ(r.exitCode, 3) << c.message;
        EXPECT_TRUE(r.err.startsWith(QString::fromUtf8(c.message) + QLatin1Char('\n'))) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("line 2, record 2"))) << r.err.toStdString();
        EXPECT_FALSE(QFile::exists(out));
    }
    // Missing end-of-file record: the start-character message names the file.
    const QString in = input(lead);
    CliRun r = runTalvo({QStringLiteral("hex2bin"), in, out});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("无法在%1文件中找到起始字符,异常退出\n").arg(in))) << r.err.toStdString();

    // File trouble is exit 1, wrong arguments exit 2.
    // The file trouble names the file and the reason; a FIFO (which nobody
    // writes) is refused at once instead of waited on.
    r = runTalvo({QStringLiteral("hex2bin"), dir.filePath(QStringLiteral("missing.hex")), out});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("无法打开文件1: %1 (").arg(dir.filePath(QStringLiteral("missing.hex")))))
        << r.err.toStdString();
    r = runTalvo({QStringLiteral("hex2bin"), input(lead + eofRecord()), dir.filePath(QStringLiteral("x/y.bin"))});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("无法打开文件2: %1 (").arg(dir.filePath(QStringLiteral("x/y.bin")))))
        << r.err.toStdString();
    const QString fifo = dir.filePath(QStringLiteral("pipe.hex"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    r = runTalvo({QStringLiteral("hex2bin"), fifo, out});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, QStringLiteral("无法打开文件1: %1 (这是命名管道(FIFO),不是普通文件)\n").arg(fifo));
    EXPECT_EQ(runTalvo({QStringLiteral("hex2bin"), in}).exitCode, 2);

    // Success writes the image.
    r = runTalvo({QStringLiteral("hex2bin"), input(":020000021000EC\n" + dataRecord(0x10, bytes({7})) + eofRecord()), out});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    QFile o(out);
    ASSERT_TRUE(o.open(QIODevice::ReadOnly));
    const QByteArray image = o.readAll();
    ASSERT_EQ(image.size(), 0x10011);
    EXPECT_EQ(image.at(0x10010), 7);
}

// Every outcome of the plain form, converted by the launcher itself and by
// talvo-cli: the same exit code, the same texts and the same target.
TEST(Hex2BinCommand, LauncherConvertsAsTheCommandProgramDoes) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto file = [&](const QString& name, const QByteArray& text) {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
        return path;
    };
    const QByteArray good = linearRecord(0x0800) + dataRecord(0, counting(16)) + dataRecord(0x20, counting(5)) + eofRecord();
    const QString fifo = dir.filePath(QStringLiteral("pipe.hex"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    struct Case {
        QString in;
        QString out;
        bool targetExists;
    };
    const Case cases[] = {
        {file(QStringLiteral("good.hex"), good), QStringLiteral("a.bin"), false},
        {file(QStringLiteral("good.hex"), good), QStringLiteral("a.bin"), true},              // replaced whole
        {file(QStringLiteral("100%2 固件.hex"), good), QStringLiteral("b %1.bin"), false},     // names kept as given
        {file(QStringLiteral("sum.hex"), dataRecord(0, counting(4)).replace("0102", "0103") + eofRecord()),
         QStringLiteral("a.bin"), true},                                                      // old target kept
        {file(QStringLiteral("noeof.hex"), dataRecord(0, counting(4))), QStringLiteral("c.bin"), false},
        {file(QStringLiteral("below.hex"), linearRecord(0x0800) + dataRecord(0, counting(2)) + linearRecord(0x07FF) +
                                               dataRecord(0, counting(2)) + eofRecord()),
         QStringLiteral("c.bin"), false},
        {file(QStringLiteral("seg.hex"), hexRecord(2, 4, bytes({0x10, 0})) + eofRecord()), QStringLiteral("c.bin"), false},
        {dir.filePath(QStringLiteral("missing.hex")), QStringLiteral("c.bin"), false},
        {fifo, QStringLiteral("c.bin"), false},
        {dir.filePath(QStringLiteral("folder")), QStringLiteral("c.bin"), false},
        {file(QStringLiteral("good.hex"), good), QStringLiteral("folder"), false},
        {file(QStringLiteral("good.hex"), good), QStringLiteral("no/such/c.bin"), false},
    };
    for (const Case& c : cases) {
        CliRun runs[2];
        QByteArray targets[2];
        const QString programs[2] = {QStringLiteral(TALVO_CLI), QStringLiteral(TALVO_CLI_QT)};
        for (int k = 0; k < 2; ++k) {
            const QString out = dir.filePath(c.out);
            if (!QFileInfo(out).isDir()) {
                QFile::remove(out);
                if (c.targetExists)
                    file(c.out, "old target");
            }
            runs[k] = runProgram(programs[k], {QStringLiteral("hex2bin"), c.in, out});
            targets[k] = QFileInfo(out).isDir() ? QByteArray("<folder>") : contents(out);
        }
        const std::string what = (c.in + QStringLiteral(" -> ") + c.out).toStdString();
        EXPECT_GE(runs[0].exitCode, 0) << what;
        EXPECT_EQ(runs[0].exitCode, runs[1].exitCode) << what;
        EXPECT_EQ(runs[0].err, runs[1].err) << what;
        EXPECT_EQ(runs[0].out, runs[1].out) << what;
        EXPECT_EQ(targets[0], targets[1]) << what;
    }
    // The good file's image, the old target kept over a bad checksum, and a
    // message naming a file whose name holds "%2" as it is.
    QFile::remove(dir.filePath(QStringLiteral("a.bin")));
    EXPECT_EQ(runTalvo({QStringLiteral("hex2bin"), dir.filePath(QStringLiteral("good.hex")), dir.filePath(QStringLiteral("a.bin"))}).exitCode, 0);
    EXPECT_EQ(contents(dir.filePath(QStringLiteral("a.bin"))), counting(16) + QByteArray(16, '\0') + counting(5));
    EXPECT_EQ(runTalvo({QStringLiteral("hex2bin"), dir.filePath(QStringLiteral("sum.hex")), dir.filePath(QStringLiteral("a.bin"))}).exitCode, 3);
    EXPECT_EQ(contents(dir.filePath(QStringLiteral("a.bin"))), counting(16) + QByteArray(16, '\0') + counting(5));
    const QString odd = dir.filePath(QStringLiteral("100%2 固件.hex"));
    QFile::remove(odd);
    EXPECT_EQ(runTalvo({QStringLiteral("hex2bin"), odd, dir.filePath(QStringLiteral("x.bin"))}).err,
              QStringLiteral("无法打开文件1: %1 (%2)\n").arg(odd, QString::fromLocal8Bit(strerror(ENOENT))));
}

// OUT naming IN itself -- as it is, through a symbolic link, a hard link or
// another spelling of its path -- is refused before anything is written, by
// the launcher and by talvo-cli alike: the source stays as it was.
TEST(Hex2BinCommand, AnOutputThatIsTheInputFileIsRefused) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray text = dataRecord(0, counting(16)) + eofRecord();
    const QString in = dir.filePath(QStringLiteral("fw.hex"));
    QFile f(in);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(text) == text.size());
    f.close();
    ASSERT_TRUE(QFile::link(in, dir.filePath(QStringLiteral("soft.bin"))));
    ASSERT_EQ(::link(QFile::encodeName(in).constData(), QFile::encodeName(dir.filePath(QStringLiteral("hard.bin"))).constData()), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    const QString outs[] = {in, dir.filePath(QStringLiteral("soft.bin")), dir.filePath(QStringLiteral("hard.bin")),
                            dir.filePath(QStringLiteral("sub/../fw.hex"))};
    for (const QString& out : outs) {
        for (const QString& program : {QStringLiteral(TALVO_CLI), QStringLiteral(TALVO_CLI_QT)}) {
            SCOPED_TRACE((program + QStringLiteral(" -> ") + out).toStdString());
            const CliRun r = runProgram(program, {QStringLiteral("hex2bin"), in, out});
            EXPECT_EQ(r.exitCode, 2);
            EXPECT_EQ(r.err, QStringLiteral("talvo hex2bin: %1 is the same file as %2; the image would overwrite its own "
                                            "source (choose another OUT)\n")
                                 .arg(out, in));
            EXPECT_EQ(contents(in), text);
            EXPECT_EQ(contents(out), text);
        }
    }
}

// Everything but the plain form goes to talvo-cli with the same arguments,
// found next to the launcher or in ../libexec/talvo/ of an installation.
TEST(Hex2BinCommand, LauncherHandsEverythingElseToTheCommandProgram) {
    const QStringList handedOver[] = {
        {QStringLiteral("--version")},
        {QStringLiteral("hex2bin"), QStringLiteral("--help")},
        {QStringLiteral("hex2bin"), QStringLiteral("a.hex")},
        {QStringLiteral("hex2bin"), QStringLiteral("--bogus"), QStringLiteral("a.hex"), QStringLiteral("b.bin")},
        {QStringLiteral("nosuch"), QStringLiteral("a"), QStringLiteral("b")},
        {},
    };
    for (const QStringList& args : handedOver) {
        const CliRun viaLauncher = runTalvo(args);
        const CliRun direct = runProgram(QStringLiteral(TALVO_CLI_QT), args);
        EXPECT_EQ(viaLauncher.exitCode, direct.exitCode) << args.join(' ').toStdString();
        EXPECT_EQ(viaLauncher.out, direct.out) << args.join(' ').toStdString();
        EXPECT_EQ(viaLauncher.err, direct.err) << args.join(' ').toStdString();
    }
    // The help names the command as it was started, not the program behind it.
    EXPECT_TRUE(runTalvo({QStringLiteral("hex2bin"), QStringLiteral("--help")}).out.startsWith(QStringLiteral("Usage: talvo hex2bin")));

    // An installation's layout: bin/talvo and libexec/talvo/talvo-cli.
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("bin")));
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("libexec/talvo")));
    const QString launcher = root.filePath(QStringLiteral("bin/talvo"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(TALVO_CLI), launcher));
    CliRun r = runProgram(launcher, {QStringLiteral("--version")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("talvo: cannot run talvo-cli (looked for %1/bin/talvo-cli and %1/bin/../libexec/talvo/talvo-cli)")
                                     .arg(QFileInfo(root.path()).canonicalFilePath())))
        << r.err.toStdString();
    ASSERT_TRUE(QFile::link(QStringLiteral(TALVO_CLI_QT), root.filePath(QStringLiteral("libexec/talvo/talvo-cli"))));
    r = runProgram(launcher, {QStringLiteral("--version")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, runProgram(QStringLiteral(TALVO_CLI_QT), {QStringLiteral("--version")}).out);
}
