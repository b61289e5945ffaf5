#include "protocol/Stm32Frames.h"

#include <QCoreApplication>

#include <algorithm>

namespace talvo::protocol {

uint8_t XorChecksum(const QByteArray& bytes) {
    uint8_t x = 0;
    for (char c : bytes) x ^= static_cast<uint8_t>(c);
    return x;
}

namespace {

QByteArray withXor(QByteArray bytes) {
    bytes.append(static_cast<char>(XorChecksum(bytes)));
    return bytes;
}

QByteArray withComplement(uint8_t value) {
    QByteArray f;
    f.append(static_cast<char>(value));
    f.append(static_cast<char>(~value & 0xFF));
    return f;
}

void appendWord(QByteArray* out, int value) {
    out->append(static_cast<char>((value >> 8) & 0xFF));
    out->append(static_cast<char>(value & 0xFF));
}

} // namespace

QByteArray Stm32CommandBytes(Stm32Code code) { return withComplement(static_cast<uint8_t>(code)); }

QByteArray Stm32AddressFrame(uint32_t address) {
    QByteArray a;
    for (int shift = 24; shift >= 0; shift -= 8) a.append(static_cast<char>((address >> shift) & 0xFF));
    return withXor(a);
}

QByteArray Stm32ReadCountFrame(int count) { return withComplement(static_cast<uint8_t>(count - 1)); }

QByteArray Stm32DataFrame(const QByteArray& data) {
    QByteArray f;
    f.reserve(data.size() + 2);
    f.append(static_cast<char>((data.size() - 1) & 0xFF));
    f.append(data);
    return withXor(f);
}

QByteArray Stm32PadTo(QByteArray block, int unit) {
    const auto rest = block.size() % unit;
    if (rest) block.append(unit - rest, '\xFF');
    return block;
}

int Stm32BlockCount(int imageSize) { return (imageSize + kStm32BlockSize - 1) / kStm32BlockSize; }

int Stm32ImageKb(int imageSize) { return imageSize / 1024 + 1; }

QByteArray Stm32PageList(int firstPage, int pages) {
    QByteArray list;
    list.append(static_cast<char>((pages - 1) & 0xFF));
    for (int p = firstPage; p < firstPage + pages; ++p) list.append(static_cast<char>(p & 0xFF));
    return withXor(list);
}

QByteArray Stm32ExtendedPageList(int firstPage, int pages) {
    QByteArray list;
    appendWord(&list, pages - 1);
    for (int p = firstPage; p < firstPage + pages; ++p) appendWord(&list, p);
    return withXor(list);
}

QByteArray Stm32MassEraseFrame(bool extended) {
    return extended ? QByteArray::fromHex("ffff00") : QByteArray::fromHex("ff00");
}

int Stm32ListReplyLength(const QByteArray& reply) {
    return reply.size() < 2 ? 0 : static_cast<uint8_t>(reply[1]) + 4;
}

bool Stm32Offers(const QByteArray& getReply, Stm32Code code) {
    // 79, N, version, N command codes, 79.
    const int end = std::min<int>(Stm32ListReplyLength(getReply) - 1, static_cast<int>(getReply.size()));
    for (int i = 3; i < end; ++i)
        if (static_cast<uint8_t>(getReply[i]) == static_cast<uint8_t>(code)) return true;
    return false;
}

int Stm32Progress(int block, int blocks) {
    // One block fills the bar; otherwise the step 1024 / (C - 1), held at the
    // bar's end.
    if (blocks <= 1) return 1024;
    return std::min(1024, 1024 / (blocks - 1) * block);
}

QString Stm32VersionLine(uint8_t version) {
    const QString digits = QStringLiteral("%1").arg(version, 2, 16, QLatin1Char('0'));
    return QCoreApplication::translate("Stm32Frames", "bootloader版本:%1.%2").arg(digits.left(1), digits.mid(1));
}

QString Stm32DeviceIdLine(uint16_t pid) {
    return QStringLiteral("Device ID:%1").arg(pid, 4, 16, QLatin1Char('0'));
}

QString Stm32FlashSizeLine(int kb) {
    return QCoreApplication::translate("Stm32Frames", "FLASH大小: %1 KB").arg(kb, 2, 10, QLatin1Char('0'));
}

QString Stm32SramLine(int flashKb, uint16_t word, const Stm32Part* part) {
    if (part && (!part->isF1() || part->flashSizeAddress == 0)) {
        const int kb = Stm32SramKb(*part);
        return kb ? QCoreApplication::translate("Stm32Frames", "SRAM：     %1 KB").arg(kb) : QStringLiteral("    ???");
    }
    if (word != 0xFFFF) return QCoreApplication::translate("Stm32Frames", "SRAM：");
    switch (flashKb) {
    case 32:
        return QCoreApplication::translate("Stm32Frames", "SRAM：     %1 KB").arg(10);
    case 64:
    case 128:
        return QCoreApplication::translate("Stm32Frames", "SRAM：     %1 KB").arg(20);
    default: return QStringLiteral("    ???");
    }
}

QString Stm32ImageSizeLine(int kb) { return QCoreApplication::translate("Stm32Frames", "文件大小： %1 KB").arg(kb); }

} // namespace talvo::protocol
