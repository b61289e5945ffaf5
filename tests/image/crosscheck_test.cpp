// Cross-check of the converter against independent tools: GNU objcopy
// (binutils) and srec_cat (srecord), both as HEX writers and as readers.
//
// Many images are generated (random sizes up to the protocols' limits, gaps,
// record lengths 16/32/255, segment and linear address records, records in
// shuffled order, overlapping records).  For each, the image the generator
// meant is built directly from its pieces, and the converter's output must
// equal it and what `objcopy -I ihex -O binary` and `srec_cat ... -o -binary`
// read from the same file.
//
// Where the semantics differ (each has its own test below):
//  * Origin.  objcopy's binary output starts at the lowest address present;
//    the converter starts at address 0, or with linear records at the first
//    linear base seen, and srec_cat at the address given by -offset.  The
//    comparison shifts accordingly and checks the converter's leading bytes
//    are zeros.
//  * Start segment address records (type 03, which objcopy writes when the
//    start address is not 0) are refused by the converter (message 6); the
//    tools accept them.
//  * A record that crosses a 64 KB boundary under a segment record: srec_cat
//    wraps the address within the segment (as Intel's definition does), the
//    converter and objcopy go on past the boundary.  Generated files never
//    cross a boundary; the difference is pinned down below.
//  * Data below the first linear base: the tools place it, the converter
//    refuses it with a message (it lays images out from that base).
//  * Overlaps: the later record wins in all three (srec_cat needs
//    -contradictory-bytes=warning to accept them at all).
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

#include "HexWriter.h"
#include "image/HexToBin.h"

using namespace talvo;
using namespace talvo::test;

namespace {

struct Piece {
    uint32_t address;
    QByteArray data;
};

enum class Addressing { None, Segment, Linear };

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

// Runs a tool; returns its exit code (-1 if it could not run) and keeps stderr.
int run(const QString& program, const QStringList& args, QString* err = nullptr) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(120000))
        return -1;
    if (err)
        *err = QString::fromUtf8(p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// Removes the end-of-file record (the tools end lines with CR LF or LF).
void dropEndRecord(QByteArray& text) {
    text.replace(":00000001FF\r\n", "");
    text.replace(":00000001FF\n", "");
}

QString hexArg(int64_t v) {
    return (v < 0 ? QStringLiteral("-0x") : QStringLiteral("0x")) + QString::number(v < 0 ? -v : v, 16);
}

// Writes records with this file's own writer: each record tagged with the
// address record it needs.  Records never cross a 64 KB boundary.
QByteArray writeRecords(const std::vector<Piece>& records, Addressing mode, uint32_t firstLinearBase) {
    QByteArray text;
    int64_t current = -1;
    if (mode == Addressing::Linear) {
        text += linearRecord(static_cast<uint16_t>(firstLinearBase >> 16));
        current = firstLinearBase >> 16;
    }
    for (const Piece& r : records) {
        const uint32_t upper = r.address >> 16;
        if (mode != Addressing::None && upper != current) {
            text += mode == Addressing::Linear ? linearRecord(static_cast<uint16_t>(upper))
                                               : segmentRecord(static_cast<uint16_t>(upper << 12));
            current = upper;
        }
        text += dataRecord(static_cast<uint16_t>(r.address & 0xFFFF), r.data);
    }
    return text;
}

// Cuts pieces into records of `length` bytes, split at 64 KB boundaries.
std::vector<Piece> cutRecords(const std::vector<Piece>& pieces, int length) {
    std::vector<Piece> out;
    for (const Piece& p : pieces) {
        for (int at = 0; at < p.data.size();) {
            const uint32_t addr = p.address + static_cast<uint32_t>(at);
            const int room = static_cast<int>(0x10000 - (addr & 0xFFFF));
            const int n = std::min({length, room, static_cast<int>(p.data.size()) - at});
            out.push_back({addr, p.data.mid(at, n)});
            at += n;
        }
    }
    return out;
}

class CrossCheck : public ::testing::Test {
protected:
    void SetUp() override {
        objcopy = QStandardPaths::findExecutable(QStringLiteral("objcopy"));
        srecCat = QStandardPaths::findExecutable(QStringLiteral("srec_cat"));
        if (objcopy.isEmpty() || srecCat.isEmpty())
            GTEST_SKIP() << "objcopy (binutils) and srec_cat (srecord) are needed for the cross-check; missing: "
                         << (objcopy.isEmpty() ? "objcopy " : "") << (srecCat.isEmpty() ? "srec_cat" : "");
        ASSERT_TRUE(dir.isValid());
    }
    QString path(const QString& name) const { return dir.filePath(name); }

    // The converter against the expected image and both readers.
    void checkAll(const QString& hexPath, const QByteArray& expected, uint32_t origin, uint32_t lowest,
                  const std::string& label) {
        SCOPED_TRACE(label);
        const HexResult r = HexToBin::ConvertFile(hexPath);
        ASSERT_TRUE(r.ok()) << r.message.toStdString() << " " << r.where().toStdString();
        ASSERT_EQ(r.image.size(), expected.size());
        ASSERT_TRUE(r.image == expected) << "differs from the generated image";

        const QString viaObjcopy = path(QStringLiteral("objcopy.bin"));
        QString err;
        ASSERT_EQ(run(objcopy, {"-I", "ihex", "-O", "binary", hexPath, viaObjcopy}, &err), 0) << err.toStdString();
        const QByteArray o = readFile(viaObjcopy);
        const int lead = static_cast<int>(lowest - origin);
        ASSERT_TRUE(r.image.mid(lead) == o) << "differs from objcopy (" << o.size() << " bytes)";
        ASSERT_EQ(r.image.left(lead).count('\0'), lead);

        const QString viaSrec = path(QStringLiteral("srec.bin"));
        ASSERT_EQ(run(srecCat, {"-contradictory-bytes=warning", "-disable-sequence-warnings", hexPath, "-intel",
                                "-offset", hexArg(-int64_t(origin)), "-o", viaSrec, "-binary"},
                      &err),
                  0)
            << err.toStdString();
        ASSERT_TRUE(r.image == readFile(viaSrec)) << "differs from srec_cat";
    }

    // srec_cat writes the pieces as one HEX file with records of `length` bytes.
    void writeWithSrecCat(const std::vector<Piece>& pieces, int length, const QString& hexPath) {
        QStringList args;
        for (size_t p = 0; p < pieces.size(); ++p) {
            const QString bin = path(QStringLiteral("piece%1.bin").arg(p));
            writeFile(bin, pieces[p].data);
            args << bin << "-binary" << "-offset" << hexArg(pieces[p].address);
        }
        args << "-o" << hexPath << "-intel" << QStringLiteral("-output_block_size=%1").arg(length);
        QString err;
        ASSERT_EQ(run(srecCat, args, &err), 0) << err.toStdString();
    }

    QString objcopy, srecCat;
    QTemporaryDir dir;
};

// The image the pieces (and then the patches, in order) make, from `origin` on.
QByteArray buildImage(const std::vector<Piece>& pieces, uint32_t origin) {
    uint32_t end = origin;
    for (const Piece& p : pieces)
        end = std::max(end, p.address + static_cast<uint32_t>(p.data.size()));
    QByteArray image(static_cast<int>(end - origin), '\0');
    for (const Piece& p : pieces)
        image.replace(static_cast<int>(p.address - origin), p.data.size(), p.data);
    return image;
}

// Random pieces inside [base, base + span): 1..4 pieces with gaps between them.
std::vector<Piece> randomPieces(std::mt19937& rng, uint32_t base, int span) {
    const int count = std::uniform_int_distribution<int>(1, 4)(rng);
    std::vector<uint32_t> cuts;
    for (int i = 0; i < 2 * count; ++i)
        cuts.push_back(std::uniform_int_distribution<uint32_t>(0, static_cast<uint32_t>(span))(rng));
    std::sort(cuts.begin(), cuts.end());
    std::vector<Piece> pieces;
    std::uniform_int_distribution<int> byte(0, 255);
    for (int i = 0; i + 1 < int(cuts.size()); i += 2) {
        const int n = static_cast<int>(cuts[i + 1] - cuts[i]);
        if (n == 0)
            continue;
        QByteArray data(n, '\0');
        for (char& c : data)
            c = char(byte(rng));
        pieces.push_back({base + cuts[i], data});
    }
    if (pieces.empty())
        pieces.push_back({base, QByteArray(1, '\x5A')});
    return pieces;
}

uint32_t lowestOf(const std::vector<Piece>& pieces) {
    uint32_t low = UINT32_MAX;
    for (const Piece& p : pieces)
        low = std::min(low, p.address);
    return low;
}

} // namespace

TEST_F(CrossCheck, GeneratedImagesAgreeWithObjcopyAndSrecCat) {
    const int kCases = 240;
    const int kLengths[] = {16, 32, 255};
    for (int i = 0; i < kCases; ++i) {
        std::mt19937 rng(20261207u + static_cast<unsigned>(i));
        const int kind = i % 6;
        const int length = kLengths[(i / 6) % 3];
        const QString hexPath = path(QStringLiteral("case.hex"));
        std::vector<Piece> pieces;
        uint32_t origin = 0;
        std::string label = "case " + std::to_string(i) + " kind " + std::to_string(kind) + " records of " +
                            std::to_string(length);

        if (kind == 0 || kind == 1) {
            // srec_cat writes: linear records for an STM32-sized image at 0x08000000,
            // or a plain image of STC size below 64 KB.
            const bool linear = kind == 0;
            const int span = std::uniform_int_distribution<int>(1, linear ? 261888 : 65408)(rng);
            pieces = randomPieces(rng, linear ? 0x08000000u : 0u, span);
            writeWithSrecCat(pieces, length, hexPath);
            if (HasFatalFailure())
                return;
            origin = linear ? (lowestOf(pieces) & 0xFFFF0000u) : 0;
        } else if (kind == 2 || kind == 3) {
            // objcopy writes each piece (segment records below 1 MB, linear above);
            // the parts are joined in address order, each after an address record of its own.
            const bool linear = kind == 3;
            const uint32_t base = linear ? 0x08000000u : std::uniform_int_distribution<uint32_t>(0, 0xB0000)(rng);
            pieces = randomPieces(rng, base, std::uniform_int_distribution<int>(1, 261888)(rng));
            QByteArray joined;
            for (size_t p = 0; p < pieces.size(); ++p) {
                const QString bin = path(QStringLiteral("piece%1.bin").arg(p));
                const QString part = path(QStringLiteral("piece%1.hex").arg(p));
                writeFile(bin, pieces[p].data);
                QString err;
                ASSERT_EQ(run(objcopy, {"-I", "binary", "-O", "ihex", "--change-section-address",
                                        ".data=" + hexArg(pieces[p].address), bin, part},
                              &err),
                          0)
                    << err.toStdString();
                QByteArray text = readFile(part);
                dropEndRecord(text);
                joined += (linear ? QByteArray() : segmentRecord(0)) + text;
            }
            writeFile(hexPath, joined + eofRecord());
            origin = linear ? (lowestOf(pieces) & 0xFFFF0000u) : 0;
        } else if (kind == 4) {
            // This file's writer, records in shuffled order.
            const bool linear = (i / 6) % 2 == 0;
            const uint32_t base = linear ? 0x08000000u + std::uniform_int_distribution<uint32_t>(0, 0x30000)(rng)
                                         : std::uniform_int_distribution<uint32_t>(0, 0xB0000)(rng);
            pieces = randomPieces(rng, base, std::uniform_int_distribution<int>(1, 261888)(rng));
            std::vector<Piece> records = cutRecords(pieces, length);
            std::shuffle(records.begin(), records.end(), rng);
            origin = linear ? (lowestOf(pieces) & 0xFFFF0000u) : 0;
            writeFile(hexPath, writeRecords(records, linear ? Addressing::Linear : Addressing::Segment, origin) +
                                   eofRecord());
        } else {
            // srec_cat's file with overlapping records appended: the later ones win.
            const bool linear = (i / 6) % 2 == 1;
            const uint32_t base = linear ? 0x08000000u : 0u;
            const int span = std::uniform_int_distribution<int>(1, linear ? 261888 : 65408)(rng);
            pieces = randomPieces(rng, base, span);
            writeWithSrecCat(pieces, length, hexPath);
            if (HasFatalFailure())
                return;
            origin = linear ? (lowestOf(pieces) & 0xFFFF0000u) : 0;
            // Patches over and around the pieces, some overlapping each other.
            const uint32_t low = lowestOf(pieces);
            uint32_t high = 0;
            for (const Piece& p : pieces)
                high = std::max(high, p.address + static_cast<uint32_t>(p.data.size()));
            std::vector<Piece> patches;
            const int n = std::uniform_int_distribution<int>(1, 12)(rng);
            for (int k = 0; k < n; ++k) {
                const int size = std::uniform_int_distribution<int>(1, 255)(rng);
                const uint32_t at = std::uniform_int_distribution<uint32_t>(low, high - 1)(rng);
                QByteArray data(size, '\0');
                for (char& c : data)
                    c = char(rng());
                patches.push_back({at, data});
            }
            QByteArray text = readFile(hexPath);
            dropEndRecord(text);
            text += writeRecords(cutRecords(patches, 255), linear ? Addressing::Linear : Addressing::None,
                                 linear ? origin : 0);
            writeFile(hexPath, text + eofRecord());
            pieces.insert(pieces.end(), patches.begin(), patches.end());
        }
        checkAll(hexPath, buildImage(pieces, origin), origin, lowestOf(pieces), label);
        if (HasFatalFailure())
            return;
    }
}

TEST_F(CrossCheck, StartSegmentRecordsAreRefused) {
    // objcopy writes a type 03 record when the start address is not 0.
    const QString bin = path(QStringLiteral("s.bin"));
    const QString hex = path(QStringLiteral("s.hex"));
    writeFile(bin, QByteArray(40, '\x11'));
    ASSERT_EQ(run(objcopy, {"-I", "binary", "-O", "ihex", "--change-addresses", "0x1200", bin, hex}), 0);
    ASSERT_TRUE(readFile(hex).contains(":04000003"));
    ASSERT_EQ(run(objcopy, {"-I", "ihex", "-O", "binary", hex, path(QStringLiteral("o.bin"))}), 0);
    const HexResult r = HexToBin::ConvertFile(hex);
    EXPECT_EQ(r.kind, HexResult::Kind::Malformed);
    EXPECT_EQ(r.message, QStringLiteral("传入的hex文件格式错误6,转换终止!\n"));
}

TEST_F(CrossCheck, SegmentRecordAcrossA64KBoundary) {
    const QByteArray data = counting(16);
    const QString hex = path(QStringLiteral("w.hex"));
    writeFile(hex, segmentRecord(0x1000) + dataRecord(0xFFF8, data) + eofRecord());
    const HexResult r = HexToBin::ConvertFile(hex);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.image.mid(0x1FFF8), data); // straight on past 0x20000

    const QString viaSrec = path(QStringLiteral("w.bin"));
    ASSERT_EQ(run(srecCat, {"-disable-sequence-warnings", hex, "-intel", "-o", viaSrec, "-binary"}), 0);
    const QByteArray s = readFile(viaSrec);
    EXPECT_EQ(s.mid(0x1FFF8, 8), data.left(8));
    EXPECT_EQ(s.mid(0x10000, 8), data.mid(8)); // srec_cat wraps within the segment

    const QString viaObjcopy = path(QStringLiteral("w2.bin"));
    ASSERT_EQ(run(objcopy, {"-I", "ihex", "-O", "binary", hex, viaObjcopy}), 0);
    EXPECT_EQ(readFile(viaObjcopy), data);
}

TEST_F(CrossCheck, DataBelowTheFirstLinearBase) {
    const QString hex = path(QStringLiteral("b.hex"));
    writeFile(hex, linearRecord(0x0801) + dataRecord(0, counting(4)) + linearRecord(0x0800) +
                       dataRecord(0, counting(4)) + eofRecord());
    const QString viaObjcopy = path(QStringLiteral("b.bin"));
    ASSERT_EQ(run(objcopy, {"-I", "ihex", "-O", "binary", hex, viaObjcopy}), 0);
    EXPECT_EQ(readFile(viaObjcopy).size(), 0x10004); // the tool lays it out from 0x08000000
    EXPECT_EQ(HexToBin::ConvertFile(hex).kind, HexResult::Kind::Malformed);
}
