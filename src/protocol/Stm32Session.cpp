#include "protocol/Stm32Session.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>

#include "protocol/Stm32Frames.h"
#include "protocol/Stm32Link.h"
#include "protocol/Stm32Parts.h"
#include "protocol/Stm32Plan.h"

namespace talvo::protocol {

namespace {

using stm32::Hex2;
using stm32::Hex8;
using stm32::Span;
using stm32::Stm32Link;

// Erasing a unit takes up to 50 ms a KB (an F4 sector erased byte by byte:
// up to 800 ms for 16 KB, 4 s for 128 KB), and at least 40 ms however small
// (an F1 or G0 page takes up to 40 ms).  An erase command gets the sum over
// its units on top of its command limit.
constexpr int kEraseMsPerKb = 50;
constexpr int kEraseMsPerUnit = 40;
// Reads of the bytes an erase would take with it, until two agree.
constexpr int kKeptReadTries = 3;
// Reading more pieces (of 256 bytes) than this to keep them moves the bar.
constexpr int kKeptPiecesShown = 16;

QString BlockFailedLineText() { return QCoreApplication::translate("Stm32Session", "写数据失败，重试!"); }

class Stm32Session {
public:
    Stm32Session(DownloadHost& host, const Stm32Options& options)
        : link_(host, options.baud),
          host_(host),
          options_(options),
          image_(options.image),
          address_(options.address) {}

    Stm32Report Run() {
        if (image_.isEmpty()) {
            link_.Fail(
                {QCoreApplication::translate("Stm32Session", "固件为空（0 字节）：没有可写入的数据，下载未开始")});
            return link_.report();
        }
        const auto onProtected =
            options_.unprotect ? Stm32Link::OnProtected::Unprotect : Stm32Link::OnProtected::Refuse;
        if (link_.Connect() &&
            link_.Identify(onProtected,
                           QCoreApplication::translate(
                               "Stm32Session", "（FLASH中的程序和数据全部丢失），之后才能下载；未擦除也未写入")) &&
            CheckFits() && Keep() && Erase() && Write() && (!options_.verify || Verify()) && StartApplication())
            Finish();
        return link_.report();
    }

private:
    uint64_t ImageEnd() const { return uint64_t(address_) + static_cast<uint64_t>(image_.size()); }
    int Unit() const { return link_.writeUnit(); }
    int BlockCount() const { return Stm32BlockCount(static_cast<int>(written_.bytes.size())); }
    bool Fail(const QStringList& lines) { return link_.Fail(lines); }

    // Refuses, before anything is erased, an image the chip cannot take: one
    // that does not lie within its flash, or whose units the erase commands
    // cannot name.
    bool CheckFits() {
        const uint64_t flashEnd = link_.flashEnd();
        const uint64_t end = ImageEnd();
        const QString image = QCoreApplication::translate("Stm32Session", "映像 %1（%2 字节）")
                                  .arg(Span(address_, end))
                                  .arg(image_.size());
        if (flashEnd > 0 && (address_ < kStm32FlashBase || end > flashEnd))
            return Fail({QCoreApplication::translate("Stm32Session", "%1不在芯片FLASH %2（%3 KB）之内，未擦除也未写入")
                             .arg(image, Span(kStm32FlashBase, flashEnd))
                             .arg(link_.flashKb())});
        if (address_ < kStm32FlashBase || end > 0xFFFFFFFFull)
            return Fail({QCoreApplication::translate("Stm32Session", "%1不在芯片FLASH（从 %2 起）之内，未擦除也未写入")
                             .arg(image, Hex8(kStm32FlashBase))});
        const Stm32Layout layout = link_.layout();
        const QString name = link_.part() ? QString::fromUtf8(link_.part()->name) : QString();
        if (options_.massErase) {
            // Page by page where the bootloader refuses a mass erase.
            if (link_.part() && link_.part()->has(Stm32Flag::NoMassErase)) {
                const auto all = layout.All();
                if (!all)
                    return Fail(
                        {QCoreApplication::translate(
                             "Stm32Session", "%1 不接受整片擦除命令，而它的擦除布局或FLASH大小未知：无法整片擦除，"
                                             "未擦除也未写入")
                             .arg(name)});
                units_ = *all;
            }
        } else {
            const auto units = layout.Covering(address_, end);
            if (!layout.known())
                return Fail({QCoreApplication::translate(
                                 "Stm32Session", "%1 的擦除布局（页或扇区的大小）未知：无法只擦除映像所在的部分，"
                                                 "未擦除也未写入；整片擦除（擦除整个FLASH）可以写入它")
                                 .arg(name)});
            if (!units)
                return Fail({QCoreApplication::translate("Stm32Session", "%1不在 %2 的擦除单元之内，未擦除也未写入")
                                 .arg(image, name)});
            units_ = *units;
        }
        if (!link_.extendedErase() && units_.count > 0 && units_.last() >= kStm32PageListMax)
            return Fail(
                {units_.first == 0
                     ? QCoreApplication::translate(
                           "Stm32Session", "文件需要擦除 %1 页，擦除命令 0x43 最多只能指定 %2 页，未擦除也未写入")
                           .arg(units_.count)
                           .arg(kStm32PageListMax)
                     : QCoreApplication::translate(
                           "Stm32Session",
                           "文件需要擦除第 %1 至 %2 页，擦除命令 0x43 只能指定第 0 至 %3 页，未擦除也未写入")
                           .arg(units_.first)
                           .arg(units_.last())
                           .arg(kStm32PageListMax - 1)});
        return true;
    }

    // Reads `count` bytes at `address` until two reads agree, three times at
    // most: a reply carries no checksum, and bytes garbled on the line would
    // be written back garbled.
    bool ReadAgreed(uint32_t address, int count, QByteArray* into) {
        QByteArray seen[kKeptReadTries];
        for (int n = 0; n < kKeptReadTries; ++n) {
            if (!link_.ReadMemory(address, count)) return false;
            seen[n] = link_.reply().mid(1, count);
            for (int k = 0; k < n; ++k)
                if (seen[k] == seen[n]) {
                    into->append(seen[n]);
                    return true;
                }
        }
        return Fail({QCoreApplication::translate(
                         "Stm32Session", "擦除的%1中映像以外的数据（%2 起 %3 字节）%4 次读出各不相同（线路干扰？），"
                                         "为免写回错误的数据，未擦除也未写入")
                         .arg(link_.layout().unitWord(), Hex8(address))
                         .arg(count)
                         .arg(kKeptReadTries)});
    }
    // Reads the bytes from `first` up to `end` into *into, 256 at a time.
    // Where there is much to read (a sector's worth), the bar follows it.
    bool ReadRange(uint64_t first, uint64_t end, QByteArray* into) {
        for (uint64_t at = first; at < end; at += kStm32BlockSize) {
            if (!ReadAgreed(static_cast<uint32_t>(at), static_cast<int>(std::min<uint64_t>(kStm32BlockSize, end - at)),
                            into))
                return false;
            ++keptPiecesRead_;
            if (keptPieces_ > kKeptPiecesShown) host_.Progress(Stm32Progress(keptPiecesRead_, keptPieces_));
        }
        return true;
    }

    // The erase takes whole units.  What the image's units hold outside the
    // image is read before the erase and written back with the image, so
    // nothing the user did not ask to change is lost -- also where a unit is
    // a 128 KB sector and the reading takes a while.  A mass erase, asked
    // for, keeps nothing.
    bool Keep() {
        if (options_.massErase) {
            const uint64_t start = address_ - address_ % static_cast<uint32_t>(Unit());
            written_ = Stm32MergeKept(start, address_, image_,
                                      QByteArray(static_cast<qsizetype>(address_ - start), '\xFF'), {}, Unit());
            return true;
        }
        const Stm32Layout layout = link_.layout();
        const uint64_t end = ImageEnd();
        uint64_t unitsEnd = units_.end;
        if (link_.flashEnd() > 0) unitsEnd = std::min(unitsEnd, link_.flashEnd());
        QStringList outside;
        if (units_.start < address_) outside << Span(units_.start, address_);
        if (end < unitsEnd) outside << Span(end, unitsEnd);
        const uint64_t outsideBytes = (address_ - units_.start) + (unitsEnd - end);
        if (outsideBytes > 0)
            host_.Log(QCoreApplication::translate("Stm32Session",
                                                  "擦除的%1中映像以外还有 %2 字节（%3）：先读出，以便随映像写回")
                          .arg(layout.unitWord())
                          .arg(outsideBytes)
                          .arg(outside.join(QCoreApplication::translate("Stm32Session", "、"))));
        QByteArray head, tail;
        link_.SetRefusalNote(
            QCoreApplication::translate("Stm32Session",
                                        "擦除的%1中映像以外的数据（%2）读不出来，擦除会丢失它们：未擦除也未写入。"
                                        "读保护的芯片只能先解除读保护，而那会擦除整个FLASH")
                .arg(layout.unitWord(), outside.join(QCoreApplication::translate("Stm32Session", "、"))));
        keptPieces_ = Stm32BlockCount(static_cast<int>(address_ - units_.start)) +
                      Stm32BlockCount(static_cast<int>(unitsEnd - end));
        const bool read = ReadRange(units_.start, address_, &head) && ReadRange(end, unitsEnd, &tail);
        link_.SetRefusalNote({});
        if (!read) return false;
        written_ = Stm32MergeKept(units_.start, address_, image_, head, tail, Unit());
        if (!written_.kept.isEmpty())
            host_.Log(
                QCoreApplication::translate("Stm32Session", "擦除的%1中映像以外的数据已读出，将随映像写回：%2")
                    .arg(layout.unitWord(), written_.kept.join(QCoreApplication::translate("Stm32Session", "、"))));
        return true;
    }

    static int EraseTicks(const Stm32Layout& layout, const Stm32EraseChunk& chunk) {
        uint64_t ms = 0;
        for (int n = chunk.first; n < chunk.first + chunk.count; ++n) {
            const auto unit = layout.Units(n, 1);
            const uint64_t bytes = unit ? unit->end - unit->start : 0;
            ms += std::max<uint64_t>(kEraseMsPerUnit, bytes * kEraseMsPerKb / 1024);
        }
        return Stm32Link::kCommandTicks + static_cast<int>((ms + 99) / 100);
    }

    bool Erase() {
        const bool extended = link_.extendedErase();
        const Stm32Code code = extended ? Stm32Code::ExtendedErase : Stm32Code::Erase;
        const stm32::Refusal commandRefusal{
            QCoreApplication::translate("Stm32Session", "擦除命令 %1").arg(Hex2(static_cast<uint8_t>(code))),
            QCoreApplication::translate("Stm32Session", "芯片处于读保护状态，或引导程序不支持这个擦除命令")};
        auto announce = [&] {
            host_.Log(Stm32ImageSizeLine(Stm32ImageKb(static_cast<int>(image_.size()))));
            host_.Log(QCoreApplication::translate("Stm32Session", "擦除芯片"));
        };
        if (options_.massErase && units_.count == 0) {
            if (!link_.Command(code, 1, commandRefusal)) return false;
            announce();
            host_.Log(QCoreApplication::translate("Stm32Session", "整片擦除：擦除整个FLASH（按要求）"));
            return link_.Command(Stm32MassEraseFrame(extended), 1,
                                 {QCoreApplication::translate("Stm32Session", "整片擦除"),
                                  QCoreApplication::translate("Stm32Session", "这个芯片不接受整片擦除，或FLASH写保护")},
                                 link_.MassEraseTicks());
        }
        const Stm32Layout layout = link_.layout();
        bool first = true;
        for (const Stm32EraseChunk& chunk : Stm32EraseChunks(units_, Stm32MaxUnitsPerErase(link_.part(), extended))) {
            if (!link_.Command(code, 1, commandRefusal)) return false;
            if (first) {
                announce();
                if (options_.massErase)
                    host_.Log(QCoreApplication::translate(
                                  "Stm32Session", "整片擦除：这个芯片不接受整片擦除命令，逐%1擦除整个FLASH（按要求）")
                                  .arg(layout.unitWord()));
                first = false;
            }
            const Stm32Units span = layout.Units(chunk.first, chunk.count).value_or(units_);
            const QString step = layout.uniform()
                                     ? QCoreApplication::translate("Stm32Session", "擦除页 %1 至 %2（每页 %3 字节）")
                                           .arg(chunk.first)
                                           .arg(span.last())
                                           .arg(layout.pageSize())
                                     : QCoreApplication::translate("Stm32Session", "擦除扇区 %1 至 %2（%3）")
                                           .arg(chunk.first)
                                           .arg(span.last())
                                           .arg(Span(span.start, span.end));
            if (!link_.Command(
                    Stm32EraseList(chunk, extended), 1,
                    {step, QCoreApplication::translate("Stm32Session", "%1号超出芯片FLASH范围，或FLASH写保护")
                               .arg(layout.unitWord())},
                    EraseTicks(layout, chunk)))
                return false;
        }
        return true;
    }

    bool Write() {
        host_.Log(QCoreApplication::translate("Stm32Session", "正在下载数据,请稍侯... ..."));
        const int blocks = BlockCount();
        for (int i = 1; i <= blocks; ++i) {
            const uint32_t address = Stm32WriteBlockAddress(written_, i);
            const QByteArray block = Stm32WriteBlock(written_, i, Unit());
            if (!link_.CommandAt(Stm32Code::WriteMemory, QCoreApplication::translate("Stm32Session", "写存储器"),
                                 address, QCoreApplication::translate("Stm32Session", "地址超出芯片FLASH范围")))
                return false;
            // The block is sent once; there is no resend.
            bool refused = false;
            if (!link_.Ask(Stm32DataFrame(block), 1, Stm32Link::kBlockTicks, &refused, BlockFailedLineText(), false)) {
                if (!refused) return false;
                return Fail(
                    {BlockFailedLineText(),
                     QCoreApplication::translate("Stm32Session",
                                                 "芯片拒绝了数据块（地址 %1，%2 字节）（NACK 0x1F），可能原因：%3")
                         .arg(Hex8(address))
                         .arg(block.size())
                         .arg(QCoreApplication::translate("Stm32Session", "FLASH写保护或未擦除，或数据在线路上出错"))});
            }
            // Image bytes written so far (the kept ones around it not counted).
            const uint64_t through = std::min<uint64_t>(uint64_t(address) + block.size(), ImageEnd());
            link_.report().bytes = through > address_ ? static_cast<int>(through - address_) : 0;
            host_.Progress(Stm32Progress(i, blocks));
        }
        return true;
    }

    // Reads every written block back and compares it with what was written.
    bool Verify() {
        host_.Log(QCoreApplication::translate("Stm32Session", "正在校验数据..."));
        const int blocks = BlockCount();
        for (int i = 1; i <= blocks; ++i) {
            const uint32_t address = Stm32WriteBlockAddress(written_, i);
            const QByteArray block = Stm32WriteBlock(written_, i, Unit());
            if (!link_.ReadMemory(address, static_cast<int>(block.size()))) return false;
            const QByteArray found = link_.reply().mid(1, block.size());
            const auto diff = std::mismatch(block.begin(), block.end(), found.begin(), found.end());
            if (diff.first != block.end()) {
                const auto at = static_cast<uint32_t>(diff.first - block.begin());
                return Fail({QCoreApplication::translate("Stm32Session", "校验失败：地址 %1 应为 %2，读出 %3")
                                 .arg(Hex8(address + at), Hex2(static_cast<uint8_t>(*diff.first)),
                                      Hex2(static_cast<uint8_t>(*diff.second)))});
            }
            host_.Progress(Stm32Progress(i, blocks));
        }
        host_.Log(QCoreApplication::translate("Stm32Session", "校验成功：读回 %1 字节，与文件一致").arg(image_.size()));
        return true;
    }

    // Go to the image's start: the chip loads its stack pointer from there
    // and jumps to the address in the next word.
    bool StartApplication() {
        if (!options_.go) return true;
        if (!link_.Offers(Stm32Code::Go)) {
            host_.Log(
                QCoreApplication::translate("Stm32Session", "引导程序不支持 Go 命令（0x21）：改由复位线启动程序"));
            return true;
        }
        if (!link_.CommandAt(Stm32Code::Go, QStringLiteral("Go "), address_,
                             QCoreApplication::translate("Stm32Session", "此地址不在FLASH或RAM中，不能从这里启动程序")))
            return false;
        started_ = true;
        host_.Log(QCoreApplication::translate("Stm32Session",
                                              "已用 Go 命令（0x21）从 %1 启动程序（栈指针取自 %1，入口地址取自 %2）")
                      .arg(Hex8(address_), Hex8(address_ + 4)));
        return true;
    }

    void Finish() {
        QStringList lines;
        if (!options_.verify) lines << QCoreApplication::translate("Stm32Session", "未校验：写入的数据没有读回比较");
        // A chip that starts its bootloader while its flash looked empty at
        // the last reset: a reset after this download may start it again.
        const Stm32Part* part = link_.part();
        if (!started_ && part && (part->has(Stm32Flag::OblLaunchReset) || part->has(Stm32Flag::PemptyReset)))
            lines << QCoreApplication::translate(
                         "Stm32Session",
                         "提示：%1 烧写原本为空的芯片后，复位可能仍进入引导程序；断电重启一次即可运行程序")
                         .arg(QString::fromUtf8(part->name));
        const QString indent(39, QLatin1Char(' '));
        lines << indent + QCoreApplication::translate("Stm32Session", "文 件 下 载 完 毕!")
              << indent + QCoreApplication::translate("Stm32Session", "数 据 下 载 成 功!");
        link_.Finish(lines, started_);
    }

    Stm32Link link_;
    DownloadHost& host_;
    const Stm32Options options_;
    const QByteArray image_;
    const uint32_t address_; // where image_[0] goes
    Stm32Units units_;       // the units erased one by one (none: a mass erase)
    Stm32Written written_;   // the image and the bytes kept around it
    bool started_ = false;   // the application runs (Go)
    int keptPieces_ = 0;     // pieces of 256 bytes to read before the erase
    int keptPiecesRead_ = 0;
};

} // namespace

Stm32Report DownloadStm32(DownloadHost& host, const Stm32Options& options) { return Stm32Session(host, options).Run(); }

} // namespace talvo::protocol
