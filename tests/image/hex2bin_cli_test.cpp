// `talvo hex2bin`: the converter's message on standard error and the exit
// codes scripts test for (0 ok, 1 file trouble, 2 usage, 3 malformed HEX).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "HexWriter.h"

using namespace talvo::test;

namespace {

struct CliRun {
    int exitCode = -1;
    QString err;
};

CliRun runTalvo(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(TALVO_CLI), args);
    CliRun r;
    if (!p.waitForFinished(60000))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
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
