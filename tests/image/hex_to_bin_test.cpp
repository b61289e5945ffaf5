// The Intel HEX converter: placement rules, the format's corner cases and the
// order of its checks.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>

#include "HexWriter.h"
#include "image/HexToBin.h"

using namespace talvo;
using namespace talvo::test;

namespace {

HexResult convert(const QByteArray& text) { return HexToBin::ConvertBytes(text, QStringLiteral("in.hex")); }

QByteArray pattern(int n, int seed = 1) {
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i)
        b[i] = char((i * 7 + seed * 13) & 0xFF);
    return b;
}

} // namespace

TEST(HexPairToByte, DigitsAndErrors) {
    EXPECT_EQ(HexToBin::HexPairToByte('4', 'f').byte, 0x4F);
    EXPECT_EQ(HexToBin::HexPairToByte('a', 'B').byte, 0xAB);
    EXPECT_FALSE(HexToBin::HexPairToByte('F', 'F').error);
    // Bad first digit: 0; bad second only: 16 * first.
    EXPECT_EQ(HexToBin::HexPairToByte('G', '1').byte, 0);
    EXPECT_TRUE(HexToBin::HexPairToByte('G', '1').error);
    EXPECT_EQ(HexToBin::HexPairToByte('3', 'g').byte, 0x30);
    EXPECT_TRUE(HexToBin::HexPairToByte('3', 'g').error);
    EXPECT_TRUE(HexToBin::HexPairToByte('3', -1).error);
    EXPECT_TRUE(HexToBin::HexPairToByte(':', '0').error);
}

TEST(HexToBin, PlacementRules) {
    // A leading extended linear record changes nothing below 64 KB.
    const QByteArray body = dataRecord(0x0000, pattern(16)) + dataRecord(0x0010, pattern(5, 2));
    const HexResult plain = convert(body + eofRecord());
    const HexResult linear = convert(linearRecord(0x0800) + body + eofRecord());
    ASSERT_TRUE(plain.ok()) << plain.message.toStdString();
    ASSERT_TRUE(linear.ok());
    EXPECT_EQ(plain.image, pattern(16) + pattern(5, 2));
    EXPECT_EQ(linear.image, plain.image);

    // Segment 0x1000, address 0x0010 -> offset 0x10010; the gap reads as zeros.
    const HexResult seg = convert(":020000021000EC\n" + dataRecord(0x0010, bytes({0xA5, 0x5A})) + eofRecord());
    ASSERT_TRUE(seg.ok()) << seg.message.toStdString();
    ASSERT_EQ(seg.image.size(), 0x10012);
    EXPECT_EQ(seg.image.mid(0x10010), bytes({0xA5, 0x5A}));
    EXPECT_EQ(seg.image.left(0x10010).count('\0'), 0x10010);

    // Later records win; a zero-length record neither writes nor extends.
    const HexResult over = convert(dataRecord(0, pattern(8)) + dataRecord(2, bytes({1, 2})) +
                                   dataRecord(0x40, QByteArray()) + eofRecord());
    ASSERT_TRUE(over.ok());
    QByteArray expected = pattern(8);
    expected[2] = 1;
    expected[3] = 2;
    EXPECT_EQ(over.image, expected);

    // Records of the format's full 255 bytes.
    const HexResult big = convert(dataRecord(0x100, pattern(255)) + dataRecord(0x1FF, pattern(255, 3)) + eofRecord());
    ASSERT_TRUE(big.ok()) << big.message.toStdString();
    EXPECT_EQ(big.image.size(), 0x1FF + 255);
    EXPECT_EQ(big.image.mid(0x100, 255), pattern(255));
    EXPECT_EQ(big.image.mid(0x1FF), pattern(255, 3));
}

TEST(HexToBin, LinearAddressesAboveOneSegmentLieFlat) {
    // 0x0800FFF0.. and 0x08010000.. follow each other instead of folding onto offset 0.
    const QByteArray text = linearRecord(0x0800) + dataRecord(0x0000, pattern(4)) + dataRecord(0xFFF0, pattern(16)) +
                            linearRecord(0x0801) + dataRecord(0x0000, pattern(16, 5)) + hexRecord(5, 0, bytes({8, 0, 1, 0x41})) +
                            eofRecord();
    const HexResult r = convert(text);
    ASSERT_TRUE(r.ok()) << r.message.toStdString();
    ASSERT_EQ(r.image.size(), 0x10010);
    EXPECT_EQ(r.image.left(4), pattern(4));
    EXPECT_EQ(r.image.mid(0xFFF0, 16), pattern(16));
    EXPECT_EQ(r.image.mid(0x10000), pattern(16, 5));

    // Data placed before any linear record lies at linear base 0, so a later
    // base record lays its data above it instead of folding onto it.
    const HexResult plainThenLinear =
        convert(dataRecord(0x0000, pattern(4)) + linearRecord(0x0001) + dataRecord(0x0000, pattern(4, 9)) + eofRecord());
    ASSERT_TRUE(plainThenLinear.ok()) << plainThenLinear.message.toStdString();
    ASSERT_EQ(plainThenLinear.image.size(), 0x10004);
    EXPECT_EQ(plainThenLinear.image.left(4), pattern(4));
    EXPECT_EQ(plainThenLinear.image.mid(0x10000), pattern(4, 9));

    // Data below the first linear base cannot be placed: refused with line and value.
    const HexResult below = convert(linearRecord(0x0801) + dataRecord(0, pattern(4)) + linearRecord(0x0800) +
                                    dataRecord(0x10, pattern(4)) + eofRecord());
    EXPECT_EQ(below.kind, HexResult::Kind::Malformed);
    EXPECT_EQ(below.line, 4);
    EXPECT_TRUE(below.message.contains(QStringLiteral("08000010"))) << below.message.toStdString();
    EXPECT_TRUE(below.message.contains(QStringLiteral("08010000")));
    // ...but a zero-length record there places nothing and is no fault.
    const HexResult emptyBelow = convert(linearRecord(0x0801) + dataRecord(0, pattern(4)) + linearRecord(0x0800) +
                                         dataRecord(0x10, QByteArray()) + eofRecord());
    ASSERT_TRUE(emptyBelow.ok()) << emptyBelow.message.toStdString();
    EXPECT_EQ(emptyBelow.image, pattern(4));

    // A layout that would need gigabytes is refused, not allocated.
    const HexResult huge = convert(linearRecord(0x0000) + dataRecord(0, pattern(1)) + linearRecord(0x7FFF) +
                                   dataRecord(0, pattern(1)) + eofRecord());
    EXPECT_EQ(huge.kind, HexResult::Kind::Malformed);
    EXPECT_TRUE(huge.message.contains(QStringLiteral("7FFF0000"))) << huge.message.toStdString();
}

TEST(HexToBin, WhereTheImageLiesAndWhatOverlaps) {
    // The image's place in the file's addresses: absolute with an extended
    // linear address record, offsets without one; the range data covers;
    // and every address a later record wrote again.
    using Ranges = std::vector<std::pair<quint64, quint64>>;
    const struct Row {
        const char* name;
        QByteArray text;
        bool linear;
        quint64 origin, lowest, highest;
        Ranges overlaps;
    } rows[] = {
        {"application behind a bootloader", linearRecord(0x0800) + dataRecord(0x4000, pattern(16)) + dataRecord(0x4010, pattern(4)),
         true, 0x08000000, 0x08004000, 0x08004013, {}},
        {"no linear record", dataRecord(0x0100, pattern(8)), false, 0, 0x100, 0x107, {}},
        {"segment records only", segmentRecord(0x1000) + dataRecord(0x0010, pattern(2)), false, 0, 0x10010, 0x10011, {}},
        {"two linear segments", linearRecord(0x0800) + dataRecord(0xFFF0, pattern(16)) + linearRecord(0x0801) + dataRecord(0, pattern(4)),
         true, 0x08000000, 0x0800FFF0, 0x08010003, {}},
        {"data before the linear record", dataRecord(0x0000, pattern(4)) + linearRecord(0x0000) + dataRecord(0x0010, pattern(4)),
         true, 0, 0, 0x13, {}},
        {"a later record over an earlier one", dataRecord(0, pattern(8)) + dataRecord(2, bytes({1, 2})), false, 0, 0, 7, {{2, 3}}},
        {"two overlaps, by address", linearRecord(0x0800) + dataRecord(0, pattern(16)) + dataRecord(8, pattern(16)) +
                                         dataRecord(0x100, pattern(4)) + dataRecord(0x102, pattern(4)),
         true, 0x08000000, 0x08000000, 0x08000105, {{0x08000008, 0x0800000F}, {0x08000102, 0x08000103}}},
        {"overlaps that continue each other are one range",
         dataRecord(0, pattern(8)) + dataRecord(4, pattern(4)) + dataRecord(8, pattern(4)) + dataRecord(6, pattern(4)),
         false, 0, 0, 11, {{4, 9}}},
        {"downwards, and touching without overlap", dataRecord(0x10, pattern(4)) + dataRecord(0x14, pattern(4)) +
                                                        dataRecord(0x00, pattern(0x10)) + dataRecord(0x0C, pattern(8)),
         false, 0, 0, 0x17, {{0x0C, 0x13}}},
        {"a record across several earlier ones", dataRecord(0, pattern(2)) + dataRecord(4, pattern(2)) + dataRecord(8, pattern(2)) +
                                                     dataRecord(1, pattern(8)),
         false, 0, 0, 9, {{1, 1}, {4, 5}, {8, 8}}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const HexResult h = convert(r.text + eofRecord());
        ASSERT_TRUE(h.ok()) << h.message.toStdString();
        EXPECT_EQ(h.linear, r.linear);
        EXPECT_EQ(h.origin, r.origin);
        EXPECT_EQ(h.lowest, r.lowest);
        EXPECT_EQ(h.highest, r.highest);
        EXPECT_EQ(h.highest - h.origin + 1, quint64(h.image.size()));
        Ranges got;
        for (const AddressRange& o : h.overlaps) got.emplace_back(o.first, o.last);
        EXPECT_EQ(got, r.overlaps);
    }
    // The later record still wins.
    const HexResult over = convert(dataRecord(0, pattern(8)) + dataRecord(2, bytes({1, 2})) + eofRecord());
    EXPECT_EQ(over.image.mid(2, 2), bytes({1, 2}));
}

TEST(HexToBin, TextBetweenRecordsAndTheStartCharacterSearch) {
    const QByteArray rec = dataRecord(0, pattern(4));
    // Lower-case digits, blank lines, spaces and comments between records.
    const HexResult lower = convert("# header\r\n\r\n" + hexRecord(0, 0x10, pattern(4), 0, true) + "  \t\n" +
                                    eofRecord().toLower());
    ASSERT_TRUE(lower.ok()) << lower.message.toStdString();
    EXPECT_EQ(lower.image.mid(0x10), pattern(4));

    // After a record's newline, 252 more characters may come before ':'
    // (253 in all); one more is the 254th and ends the search.
    EXPECT_TRUE(convert(rec + QByteArray(252, ' ') + eofRecord()).ok());
    const HexResult far = convert(rec + QByteArray(253, ' ') + eofRecord());
    EXPECT_EQ(far.kind, HexResult::Kind::Malformed);
    EXPECT_EQ(far.message, QStringLiteral("无法在in.hex文件中找到起始字符,异常退出\n"));

    // CR LF counts as one character, as a text-mode stream reads it.
    EXPECT_TRUE(convert(rec + QByteArray("\r\n").repeated(252) + eofRecord()).ok());

    // No end-of-file record: the search runs into the end of the file.
    const HexResult noEof = convert(rec);
    EXPECT_EQ(noEof.kind, HexResult::Kind::Malformed);
    EXPECT_EQ(noEof.message, QStringLiteral("无法在in.hex文件中找到起始字符,异常退出\n"));
}

TEST(HexToBin, EndOfFileRules) {
    // A normal end: whatever follows is not read.
    const HexResult normal = convert(dataRecord(0, pattern(2)) + eofRecord() + "garbage:ZZ");
    ASSERT_TRUE(normal.ok());
    EXPECT_EQ(normal.image, pattern(2));

    // An end-of-file record with a length does not end; the next data record
    // ends the conversion silently without being written.
    const QByteArray eofWithLength = hexRecord(1, 0, bytes({0x12}));
    const HexResult late = convert(dataRecord(0, pattern(2)) + eofWithLength + hexRecord(5, 0, bytes({0, 0, 0, 0})) +
                                   dataRecord(0x20, pattern(4)) + dataRecord(0x40, pattern(4)));
    ASSERT_TRUE(late.ok()) << late.message.toStdString();
    EXPECT_EQ(late.image, pattern(2));
    // An address record after it sets a new mode, and data goes on being placed.
    const HexResult resumed = convert(dataRecord(0, pattern(2)) + eofWithLength + linearRecord(0) +
                                      dataRecord(0x4, pattern(2)) + eofRecord());
    ASSERT_TRUE(resumed.ok());
    EXPECT_EQ(resumed.image, pattern(2) + QByteArray(2, '\0') + pattern(2));
}

TEST(HexToBin, FilesAndTargets) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString in = dir.filePath(QStringLiteral("in.hex"));
    const QString out = dir.filePath(QStringLiteral("out.bin"));
    QFile f(in);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(dataRecord(0x10, pattern(8)) + eofRecord());
    f.close();

    HexToBin converter;
    HexResult r = converter.Convert(in, out);
    ASSERT_TRUE(r.ok()) << r.message.toStdString();
    QFile o(out);
    ASSERT_TRUE(o.open(QIODevice::ReadOnly));
    EXPECT_EQ(o.readAll(), QByteArray(16, '\0') + pattern(8));
    o.close();

    // A malformed source leaves an existing target as it was, and creates none.
    QFile bad(dir.filePath(QStringLiteral("bad.hex")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(":0Z\n");
    bad.close();
    r = converter.Convert(bad.fileName(), out);
    EXPECT_EQ(r.exitCode(), 3);
    EXPECT_EQ(QFileInfo(out).size(), 24);
    r = converter.Convert(bad.fileName(), dir.filePath(QStringLiteral("new.bin")));
    EXPECT_EQ(r.exitCode(), 3);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("new.bin"))));

    // An existing target is replaced whole and keeps its permissions; a link
    // is written through; no helper file stays behind.
    ASSERT_TRUE(QFile::setPermissions(out, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
    QFile f2(in);
    ASSERT_TRUE(f2.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f2.write(dataRecord(0, pattern(4)) + eofRecord());
    f2.close();
    ASSERT_TRUE(converter.Convert(in, out).ok());
    EXPECT_EQ(QFileInfo(out).size(), 4);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(out).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    const QString link = dir.filePath(QStringLiteral("link.bin"));
    ASSERT_TRUE(QFile::link(out, link));
    f2.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f2.write(dataRecord(0, pattern(6)) + eofRecord());
    f2.close();
    ASSERT_TRUE(converter.Convert(in, link).ok());
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(QFileInfo(out).size(), 6);
    EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("*.tmp")}, QDir::Files | QDir::Hidden).size(), 0);

    // Unreadable source, then uncreatable target, each with its message.
    // Each names the file and the reason.
    r = converter.Convert(dir.filePath(QStringLiteral("missing.hex")), out);
    EXPECT_EQ(r.message, QStringLiteral("无法打开文件1: %1 (%2)\n")
                             .arg(dir.filePath(QStringLiteral("missing.hex")), QString::fromLocal8Bit(strerror(ENOENT))));
    EXPECT_EQ(r.exitCode(), 1);
    r = converter.Convert(dir.path(), out);
    EXPECT_EQ(r.message, QStringLiteral("无法打开文件1: %1 (这是文件夹,不是普通文件)\n").arg(dir.path()));
    r = converter.Convert(in, dir.filePath(QStringLiteral("no/such/dir.bin")));
    EXPECT_EQ(r.message, QStringLiteral("无法打开文件2: %1 (%2)\n")
                             .arg(dir.filePath(QStringLiteral("no/such/dir.bin")), QString::fromLocal8Bit(strerror(ENOENT))));
    EXPECT_EQ(r.exitCode(), 1);
}


// The line a diagnostic names is the same whichever line ends the file has
// (a CR-only file is no one long "line 1"), read from memory or a file.
TEST(HexToBin, DiagnosticsCountLinesWithEveryLineEnd) {
    QByteArray badChecksum = dataRecord(0x20, pattern(4));
    badChecksum[badChecksum.size() - 2] = badChecksum.at(badChecksum.size() - 2) == '0' ? '1' : '0';
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const QByteArray& eol : {QByteArray("\n"), QByteArray("\r\n"), QByteArray("\r")}) {
        // A blank line before the faulty record: it is record 3 on line 4.
        QByteArray text = dataRecord(0, pattern(4)).trimmed() + eol + dataRecord(0x10, pattern(4)).trimmed() + eol +
                          eol + badChecksum.trimmed() + eol + eofRecord().trimmed() + eol;
        const HexResult fromMemory = HexToBin::ConvertBytes(text, QStringLiteral("in.hex"));
        QFile f(dir.filePath(QStringLiteral("eol.hex")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
        f.close();
        const HexResult fromFile = HexToBin::ConvertFile(f.fileName());
        for (const HexResult& r : {fromMemory, fromFile}) {
            EXPECT_EQ(r.kind, HexResult::Kind::Malformed) << eol.toHex().toStdString();
            EXPECT_EQ(r.where(), QStringLiteral("line 4, record 3")) << eol.toHex().toStdString();
        }
    }
}
