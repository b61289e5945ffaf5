// Firmware image: file reading, size limits and block cutting.
#include "image/FirmwareImage.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <unistd.h>

namespace talvo {

BlockTable BuildBlockTexts(const QByteArray& image, ChipFamily family) {
    const int blockBytes = family == ChipFamily::Stc ? kStcBlockBytes : kStm32BlockBytes;
    BlockTable table;
    const qsizetype dataBlocks = (image.size() + blockBytes - 1) / blockBytes;
    table.texts.resize(std::max<size_t>(kBlockTableEntries, static_cast<size_t>(dataBlocks) + (family == ChipFamily::Stc ? 2 : 1)));

    const QString zeroBlock(2 * kStcBlockBytes, QLatin1Char('0'));
    if (image.isEmpty()) {
        if (family == ChipFamily::Stc) {
            // The padding step fills the empty current block, which lands in entry 0.
            table.texts[0] = zeroBlock;
            table.texts[1] = zeroBlock;
            table.count = 1;
        }
        return table;
    }
    for (qsizetype b = 0; b < dataBlocks; ++b) {
        const QByteArray chunk = image.mid(b * blockBytes, blockBytes);
        QString text = QString::fromLatin1(chunk.toHex());
        if (family == ChipFamily::Stc && chunk.size() < blockBytes)
            text += QString(2 * (blockBytes - chunk.size()), QLatin1Char('0'));
        table.texts[static_cast<size_t>(b) + 1] = text;
    }
    if (family == ChipFamily::Stc) {
        table.count = static_cast<int>(dataBlocks) + 1;
        table.texts[static_cast<size_t>(table.count)] = zeroBlock;
    } else {
        table.count = static_cast<int>(dataBlocks);
    }
    return table;
}

QString CheckImageSize(qint64 size, ChipFamily family) {
    if (size <= 0)
        return QStringLiteral("固件映像为空(0字节): 文件中没有任何数据,无法下载\n");
    if (family == ChipFamily::Stc && size > kStcMaxImageBytes)
        return QStringLiteral("固件映像%1字节超出STC下载的上限%2字节: 128字节数据块及结束块的16位地址最高为0xFF80,无法下载\n")
            .arg(size)
            .arg(kStcMaxImageBytes);
    if (family == ChipFamily::Stm32 && size > kStm32MaxImageBytes)
        return QStringLiteral("固件映像%1字节超出STM32下载的上限%2字节(1023个256字节块),无法下载\n")
            .arg(size)
            .arg(kStm32MaxImageBytes);
    return {};
}

bool IsRawBinaryName(const QString& path) { return path.endsWith(QLatin1String(".bin"), Qt::CaseInsensitive); }

namespace {

LoadedImage failed(const QString& message, HexResult::Kind kind = HexResult::Kind::IoError) {
    LoadedImage r;
    r.message = message;
    r.kind = kind;
    return r;
}

// Reads a whole regular file, refusing files larger than the converter's limit.
LoadedImage readWhole(const QString& path, const QString& tooLargeName) {
    QString reason;
    const int fd = HexToBin::OpenRegularFile(path, &reason);
    if (fd < 0)
        return failed(QStringLiteral("无法打开文件: %1 (%2)\n").arg(path, reason));
    QFile f;
    if (!f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return failed(QStringLiteral("无法打开文件: %1 (%2)\n").arg(path, f.errorString()));
    }
    if (f.size() > HexToBin::kMaxImageBytes)
        return failed(QStringLiteral("文件%1有%2字节,超出映像上限%3字节,无法加载\n")
                          .arg(tooLargeName)
                          .arg(f.size())
                          .arg(HexToBin::kMaxImageBytes),
                      HexResult::Kind::Malformed);
    LoadedImage r;
    r.bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
        return failed(QStringLiteral("读取文件%1失败: %2\n").arg(tooLargeName, f.errorString()));
    r.ok = true;
    return r;
}

} // namespace

LoadedImage ReadFirmwareFile(const QString& path) {
    if (IsRawBinaryName(path))
        return readWhole(path, path);
    HexToBin converter;
    const HexResult converted = converter.ConvertToTemp(path);
    if (!converted.ok()) {
        LoadedImage r = failed(converted.message, converted.kind);
        r.line = converted.line;
        r.record = converted.record;
        return r;
    }
    LoadedImage r = readWhole(converted.tempPath, converted.tempPath);
    QFile::remove(converted.tempPath);
    return r;
}

} // namespace talvo
