// The size limits of both families and the reading of files.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "HexWriter.h"
#include "image/FirmwareImage.h"

using namespace talvo;
using namespace talvo::test;

TEST(ImageLimits, EachFamilyRefusesWhatItCannotCarry) {
    EXPECT_FALSE(CheckImageSize(0, ChipFamily::Stc).isEmpty());
    EXPECT_FALSE(CheckImageSize(0, ChipFamily::Stm32).isEmpty());
    EXPECT_TRUE(CheckImageSize(1, ChipFamily::Stc).isEmpty());
    // STC: the zero block of the last image block must still get a 16-bit address.
    EXPECT_TRUE(CheckImageSize(65408, ChipFamily::Stc).isEmpty());
    const QString stc = CheckImageSize(65409, ChipFamily::Stc);
    EXPECT_TRUE(stc.contains(QStringLiteral("65409")) && stc.contains(QStringLiteral("65408"))) << stc.toStdString();
    EXPECT_FALSE(CheckImageSize(1022 * 128 + 1, ChipFamily::Stc).isEmpty());
    EXPECT_TRUE(CheckImageSize(261888, ChipFamily::Stm32).isEmpty());
    const QString arm = CheckImageSize(261889, ChipFamily::Stm32);
    EXPECT_TRUE(arm.contains(QStringLiteral("261889")) && arm.contains(QStringLiteral("261888")));
    EXPECT_TRUE(CheckImageSize(65409, ChipFamily::Stm32).isEmpty());
}

TEST(ReadFirmwareFile, BinFilesAsTheyAreHexThroughTheConverter) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray oldTmp = qgetenv("TMPDIR");
    const QString tmp = dir.filePath(QStringLiteral("tmp"));
    QDir().mkpath(tmp);
    qputenv("TMPDIR", QFile::encodeName(tmp));

    const auto write = [&](const QString& name, const QByteArray& content) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        return f.fileName();
    };
    // Raw images, any case of the suffix; a ".bin" that happens to look like HEX stays raw.
    const QByteArray raw = QByteArray(":00000001FF\n") + counting(40);
    for (const char* name : {"a.bin", "b.BIN", "c.Bin"}) {
        const LoadedImage r = ReadFirmwareFile(write(QString::fromLatin1(name), raw));
        ASSERT_TRUE(r.ok) << name;
        EXPECT_EQ(r.bytes, raw);
    }
    // HEX, whatever the suffix, through the converter; the temporary file goes away.
    for (const char* name : {"d.hex", "e.ihx", "noext"}) {
        const LoadedImage r = ReadFirmwareFile(write(QString::fromLatin1(name), dataRecord(4, counting(4)) + eofRecord()));
        ASSERT_TRUE(r.ok) << name << r.message.toStdString();
        EXPECT_EQ(r.bytes, QByteArray(4, '\0') + counting(4));
    }
    const LoadedImage bad = ReadFirmwareFile(write(QStringLiteral("bad.hex"), ":0Z"));
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(bad.kind, HexResult::Kind::Malformed);
    EXPECT_EQ(bad.message, QStringLiteral("传入的hex长度错误,转换终止!\n"));
    EXPECT_FALSE(ReadFirmwareFile(dir.filePath(QStringLiteral("missing.bin"))).ok);
    EXPECT_TRUE(ReadFirmwareFile(dir.filePath(QStringLiteral("missing.hex")))
                    .message.startsWith(QStringLiteral("无法打开文件1: ") + dir.filePath(QStringLiteral("missing.hex"))));
    EXPECT_TRUE(QDir(tmp).entryList(QDir::Files | QDir::NoDotAndDotDot).isEmpty());

    if (oldTmp.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", oldTmp);
}

// Only regular files are read, whatever the name says and wherever a link
// points: a character device would never end (the image grew until memory
// ran out) and opening a FIFO without a writer waited for ever.  Each gets
// one message that names the file and what it is.
TEST(ReadFirmwareFile, AnythingButARegularFileIsRefusedAtOnce) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fifo = dir.filePath(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const struct {
        const char* name;
        QString target;
        const char* kind;
    } cases[] = {
        {"zero.bin", QStringLiteral("/dev/zero"), "这是字符设备,不是普通文件"},
        {"zero.hex", QStringLiteral("/dev/zero"), "这是字符设备,不是普通文件"},
        {"fifo.bin", fifo, "这是命名管道(FIFO),不是普通文件"},
        {"fifo.hex", fifo, "这是命名管道(FIFO),不是普通文件"},
        {"folder.bin", dir.path(), "这是文件夹,不是普通文件"},
    };
    for (const auto& c : cases) {
        const QString link = dir.filePath(QString::fromLatin1(c.name));
        ASSERT_TRUE(QFile::link(c.target, link));
        const LoadedImage r = ReadFirmwareFile(link);
        EXPECT_FALSE(r.ok) << c.name;
        EXPECT_TRUE(r.bytes.isEmpty()) << c.name;
        EXPECT_TRUE(r.message.contains(link) && r.message.contains(QString::fromUtf8(c.kind)))
            << c.name << ": " << r.message.toStdString();
        EXPECT_TRUE(r.message.startsWith(QStringLiteral("无法打开文件"))) << r.message.toStdString();
    }
    // The converter's own entry points refuse them alike.
    const HexResult fromFifo = HexToBin::ConvertFile(fifo);
    EXPECT_EQ(fromFifo.exitCode(), 1);
    EXPECT_TRUE(fromFifo.message.contains(QStringLiteral("命名管道"))) << fromFifo.message.toStdString();
}

namespace {

// Writes `content` to `name` in `dir` and reads it as a firmware file.
LoadedImage loadAs(const QTemporaryDir& dir, const QString& name, const QByteArray& content) {
    QFile f(dir.filePath(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
    f.close();
    return ReadFirmwareFile(f.fileName());
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(ReadFirmwareFile, ABinHoldingIntelHexTextIsRefused) {
    // Programmed as it is, such a file puts its characters into the chip.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray blinkHex = fileBytes(QStringLiteral(TALVO_SOURCE_DIR "/examples/stm32f103-blink/blink.hex"));
    const QByteArray blinkBin = fileBytes(QStringLiteral(TALVO_SOURCE_DIR "/examples/stm32f103-blink/blink.bin"));
    ASSERT_FALSE(blinkHex.isEmpty());
    QByteArray crlf = blinkHex;
    crlf.replace("\n", "\r\n");
    const struct {
        const char* name;
        QByteArray content;
        bool refused;
    } rows[] = {
        {"blink.hex renamed", blinkHex, true},
        {"CR LF, white space before, an end-of-file mark after", "\n  " + crlf + "\x1A", true},
        {"lower-case digits, cut short", blinkHex.toLower().left(200), true},
        {"the real image", blinkBin, false},
        {"text that starts like a record, then bytes", QByteArray(":00000001FF\n") + counting(40), false},
        {"too short for a record", ":0000", false},
        {"hexadecimal digits without a colon first", "0123456789ABCDEF0123", false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const LoadedImage l = loadAs(dir, QStringLiteral("firmware.bin"), r.content);
        EXPECT_EQ(l.ok, !r.refused);
        if (r.refused) {
            EXPECT_EQ(l.kind, HexResult::Kind::Malformed);
            EXPECT_TRUE(l.message.contains(QStringLiteral("看起来是Intel HEX文本")) && l.message.contains(dir.filePath("firmware.bin")))
                << l.message.toStdString();
        } else {
            EXPECT_EQ(l.bytes, r.content);
        }
    }
}

TEST(PrepareChipImage, StcFlatFromZeroStm32AtItsOwnAddresses) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray app = counting(16);
    const struct Row {
        const char* name;
        const char* file;
        QByteArray content;
        ChipFamily family;
        quint32 unplacedAt;
        quint32 address;     // expected, when placed
        QByteArray bytes;    // expected, when placed
        const char* refusal; // expected part of the message, when refused
    } rows[] = {
        {"application behind a bootloader", "app.hex", linearRecord(0x0800) + dataRecord(0x4000, app) + eofRecord(),
         ChipFamily::Stm32, kStm32FlashStart, 0x08004000, app, nullptr},
        {"the same file for an STC chip: flat from the first linear base", "app.hex",
         linearRecord(0x0800) + dataRecord(0x4000, app) + eofRecord(), ChipFamily::Stc, kStm32FlashStart, 0,
         QByteArray(0x4000, '\0') + app, nullptr},
        {"gaps inside keep their zeros", "gaps.hex",
         linearRecord(0x0800) + dataRecord(0x4000, app.left(4)) + dataRecord(0x4010, app.left(4)) + eofRecord(),
         ChipFamily::Stm32, kStm32FlashStart, 0x08004000, app.left(4) + QByteArray(12, '\0') + app.left(4), nullptr},
        {"no linear record: offsets from the flash start", "plain.hex", dataRecord(0x0100, app) + eofRecord(),
         ChipFamily::Stm32, kStm32FlashStart, 0x08000100, app, nullptr},
        {"segment records: offsets from the flash start", "seg.hex", segmentRecord(0x1000) + dataRecord(0x10, app) + eofRecord(),
         ChipFamily::Stm32, kStm32FlashStart, 0x08010010, app, nullptr},
        {"a .bin at the flash start", "app.bin", app, ChipFamily::Stm32, kStm32FlashStart, 0x08000000, app, nullptr},
        {"a .bin at an address", "app.bin", app, ChipFamily::Stm32, 0x08004000, 0x08004000, app, nullptr},
        {"a HEX file for address 0", "zero.hex", linearRecord(0x0000) + dataRecord(0, app) + eofRecord(), ChipFamily::Stm32,
         kStm32FlashStart, 0, {}, "映像位于 0x00000000 至 0x0000000F，不在STM32的FLASH区域 0x08000000 至 0x080FFFFF 之内"},
        {"a .bin running past the flash area", "app.bin", app + app, ChipFamily::Stm32, 0x080FFFF0, 0, {},
         "映像位于 0x080FFFF0 至 0x0810000F"},
        {"empty", "empty.hex", eofRecord(), ChipFamily::Stm32, kStm32FlashStart, 0, {}, "固件映像为空"},
        {"empty, STC", "empty.hex", eofRecord(), ChipFamily::Stc, kStm32FlashStart, 0, {}, "固件映像为空"},
        {"beyond the STC protocol", "big.bin", QByteArray(kStcMaxImageBytes + 1, '\x55'), ChipFamily::Stc, kStm32FlashStart, 0,
         {}, "超出STC下载的上限"},
        {"an STM32 image's own size counts, not its address", "high.hex",
         linearRecord(0x0800) + linearRecord(0x0804) + dataRecord(0, app) + eofRecord(), ChipFamily::Stm32, kStm32FlashStart,
         0x08040000, app, nullptr},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const LoadedImage loaded = loadAs(dir, QString::fromLatin1(r.file), r.content);
        ASSERT_TRUE(loaded.ok) << loaded.message.toStdString();
        const ChipImage c = PrepareChipImage(loaded, r.family, r.unplacedAt);
        if (r.refusal) {
            EXPECT_FALSE(c.ok());
            EXPECT_TRUE(c.message.contains(QString::fromUtf8(r.refusal))) << c.message.toStdString();
        } else {
            ASSERT_TRUE(c.ok()) << c.message.toStdString();
            EXPECT_EQ(c.address, r.address);
            EXPECT_EQ(c.bytes, r.bytes);
        }
    }
}

TEST(OverlapLogLine, NamesTheFirstRangeAndCountsTheRest) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_EQ(OverlapLogLine(loadAs(dir, "fine.hex", dataRecord(0, counting(8)) + dataRecord(8, counting(8)) + eofRecord())),
              QString());
    EXPECT_EQ(OverlapLogLine(loadAs(dir, "one.hex",
                                    linearRecord(0x0800) + dataRecord(0x10, counting(16)) + dataRecord(0x18, counting(4)) + eofRecord())),
              QStringLiteral("HEX文件的数据记录有重叠：地址 0x08000018 至 0x0800001B 被后面的记录再次写入，以后写入的为准"));
    EXPECT_EQ(OverlapLogLine(loadAs(dir, "two.hex",
                                    dataRecord(0, counting(4)) + dataRecord(2, counting(1)) + dataRecord(0x10, counting(4)) +
                                        dataRecord(0x11, counting(1)) + eofRecord())),
              QStringLiteral("HEX文件的数据记录有重叠：地址 0x00000002 至 0x00000002 被后面的记录再次写入，以后写入的为准（共 2 处重叠，这是第一处）"));
}
