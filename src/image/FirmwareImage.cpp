// Firmware image: file reading and size limits.
#include "image/FirmwareImage.h"

#include <QCoreApplication>

#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <unistd.h>

namespace talvo {

QString CheckImageSize(qint64 size, ChipFamily family) {
    if (size <= 0)
        return QCoreApplication::translate("FirmwareImage", "固件映像为空(0字节): 文件中没有任何数据,无法下载\n");
    if (family == ChipFamily::Stc && size > kStcMaxImageBytes)
        return QCoreApplication::translate("FirmwareImage", "固件映像%1字节超出STC下载的上限%2字节: 128字节数据块及结束块的16位地址最高为0xFF80,无法下载\n")
            .arg(size)
            .arg(kStcMaxImageBytes);
    if (family == ChipFamily::Stm32 && size > kStm32MaxImageBytes)
        return QCoreApplication::translate("FirmwareImage", "固件映像%1字节超出STM32下载的上限%2字节(1023个256字节块),无法下载\n")
            .arg(size)
            .arg(kStm32MaxImageBytes);
    return {};
}

bool IsRawBinaryName(const QString& path) { return path.endsWith(QLatin1String(".bin"), Qt::CaseInsensitive); }

bool LooksLikeIntelHexText(const QByteArray& bytes) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    qsizetype i = 0;
    while (i < bytes.size() && space(bytes[i]))
        ++i;
    // The shortest record, ":00000001FF", has eleven characters.
    if (bytes.size() - i < 11 || bytes[i] != ':')
        return false;
    for (; i < bytes.size(); ++i) {
        const char c = bytes[i];
        const bool digit = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
        // 0x1A: the end-of-file mark some old tools append to text files.
        if (!digit && c != ':' && c != '\x1A' && !space(c))
            return false;
    }
    return true;
}

namespace {

// "0x08004000": addresses as the chip's manuals write them.
QString address8(quint64 v) {
    return QStringLiteral("0x") + QStringLiteral("%1").arg(v, 8, 16, QLatin1Char('0')).toUpper();
}

} // namespace

QString OverlapLogLine(const LoadedImage& image) {
    if (image.overlaps.empty())
        return {};
    const AddressRange& o = image.overlaps.front();
    QString line = QCoreApplication::translate("FirmwareImage", "HEX文件的数据记录有重叠：地址 %1 至 %2 被后面的记录再次写入，以后写入的为准")
                       .arg(address8(o.first), address8(o.last));
    if (image.overlaps.size() > 1)
        line += QCoreApplication::translate("FirmwareImage", "（共 %1 处重叠，这是第一处）").arg(image.overlaps.size());
    return line;
}

ChipImage PrepareChipImage(const LoadedImage& image, ChipFamily family, quint32 unplacedAt) {
    ChipImage r;
    if (family == ChipFamily::Stc) {
        r.bytes = image.bytes;
        r.message = CheckImageSize(r.bytes.size(), family);
        return r;
    }
    if (image.bytes.isEmpty()) {
        r.message = CheckImageSize(0, family);
        return r;
    }
    const quint64 origin = image.linear ? image.origin : unplacedAt;
    const quint64 first = origin + (image.lowest - image.origin);
    const quint64 last = origin + (image.highest - image.origin);
    const quint64 areaEnd = quint64(kStm32FlashStart) + kStm32FlashAreaBytes;
    if (first < kStm32FlashStart || last >= areaEnd) {
        r.message = QCoreApplication::translate("FirmwareImage", "映像位于 %1 至 %2，不在STM32的FLASH区域 %3 至 %4 之内，无法下载\n")
                        .arg(address8(first), address8(last), address8(kStm32FlashStart), address8(areaEnd - 1));
        return r;
    }
    r.bytes = image.bytes.mid(static_cast<qsizetype>(image.lowest - image.origin),
                              static_cast<qsizetype>(image.highest - image.lowest + 1));
    r.address = static_cast<quint32>(first);
    r.message = CheckImageSize(r.bytes.size(), family);
    return r;
}

namespace {

LoadedImage failed(const QString& message, HexResult::Kind kind = HexResult::Kind::IoError) {
    LoadedImage r;
    r.message = message;
    r.kind = kind;
    return r;
}

// Reads a whole regular file, refusing files larger than the converter's limit.
LoadedImage readWhole(const QString& path) {
    QString reason;
    const int fd = HexToBin::OpenRegularFile(path, &reason);
    if (fd < 0)
        return failed(QCoreApplication::translate("FirmwareImage", "无法打开文件: %1 (%2)\n").arg(path, reason));
    QFile f;
    if (!f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return failed(QCoreApplication::translate("FirmwareImage", "无法打开文件: %1 (%2)\n").arg(path, f.errorString()));
    }
    if (f.size() > HexToBin::kMaxImageBytes)
        return failed(QCoreApplication::translate("FirmwareImage", "文件%1有%2字节,超出映像上限%3字节,无法加载\n")
                          .arg(path)
                          .arg(f.size())
                          .arg(HexToBin::kMaxImageBytes),
                      HexResult::Kind::Malformed);
    LoadedImage r;
    r.bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
        return failed(QCoreApplication::translate("FirmwareImage", "读取文件%1失败: %2\n").arg(path, f.errorString()));
    r.ok = true;
    if (!r.bytes.isEmpty())
        r.highest = static_cast<quint64>(r.bytes.size() - 1);
    return r;
}

} // namespace

LoadedImage ReadFirmwareFile(const QString& path) {
    if (IsRawBinaryName(path)) {
        LoadedImage r = readWhole(path);
        if (r.ok && LooksLikeIntelHexText(r.bytes))
            return failed(QCoreApplication::translate("FirmwareImage", "文件%1的内容看起来是Intel HEX文本，不是二进制映像：按原样下载会把这些字符写进芯片。"
                                         "请把它的扩展名改为.hex再下载\n")
                              .arg(path),
                          HexResult::Kind::Malformed);
        return r;
    }
    const HexResult converted = HexToBin::ConvertFile(path);
    if (!converted.ok()) {
        LoadedImage r = failed(converted.message, converted.kind);
        r.line = converted.line;
        r.record = converted.record;
        return r;
    }
    LoadedImage r;
    r.ok = true;
    r.bytes = converted.image;
    r.linear = converted.linear;
    r.origin = converted.origin;
    r.lowest = converted.lowest;
    r.highest = converted.highest;
    r.overlaps = converted.overlaps;
    return r;
}

} // namespace talvo
