#include "protocol/Stm32Session.h"

#include <QStringList>

#include <algorithm>

#include "protocol/Diagnosis.h"
#include "protocol/Stm32Frames.h"
#include "protocol/Stm32Parts.h"

namespace talvo::protocol {

namespace {

// ---- Link and timing ------------------------------------------------------------
constexpr uint32_t kStm32Baud = 115200;
constexpr double kBitsPerChar = 11; // 8E1: start, eight data bits, parity, stop
// Tick limits (100 ms ticks; a wait fails once the count passes its limit).
constexpr int kConnectTicks = 30; // the acknowledge of the start byte
constexpr int kCommandTicks = 40; // any command, address or page list
constexpr int kBlockTicks = 30;   // the acknowledge of a data block
constexpr int kPumpStallTicks = 32; // passed while the program was served: the system stalled
// Erasing takes up to 40 ms a page: a page list gets 0.4 ticks a page more.
constexpr int kEraseTicksPerTenPages = 4;
// The reset sequence on the control lines (RTS drives BOOT0, DTR drives RESET).
constexpr int kResetHoldMs = 500;
constexpr int kBootStartMs = 500;
constexpr int kReleaseMs = 200;
// Get answers with a list of about this many bytes (15 on F0 and F1 parts).
constexpr int kListReplyBytes = 20;
// Reads of the bytes an erase would take with it, until two agree.
constexpr int kKeptReadTries = 3;

// How long the receiver lets a reply of `bytes` bytes settle after its
// acknowledge before handing it on: the time the rest of it takes on the
// line, halved because the receiver waits twice (on waking and on reading),
// and a millisecond more.  A lone acknowledge needs no wait.  Bytes that come
// later still reach the reply, only a poll later.
int SettleMs(int bytes) {
    if (bytes <= 1) return 0;
    const double ms = (bytes - 1) * kBitsPerChar * 1000.0 / kStm32Baud / 2;
    return static_cast<int>(ms) + 2;
}

const QString kTimeoutLine = QStringLiteral("连接超时...");
const QString kBlockFailedLine = QStringLiteral("写数据失败，重试!");
const QString kReplugLine = QStringLiteral("请拔掉USB 重试识别");

// "0x08000A00", "0x5A": addresses and bytes as the chip's manuals write them.
QString hexNumber(uint32_t v, int digits) {
    return QStringLiteral("0x") + QStringLiteral("%1").arg(v, digits, 16, QLatin1Char('0')).toUpper();
}
QString hex8(uint32_t v) { return hexNumber(v, 8); }
QString hex2(uint8_t v) { return hexNumber(v, 2); }

// What a step is called in the line that reports its refusal, and why a chip
// refuses it.
struct Refusal {
    QString step;
    QString cause;
};

enum class Judged { Incomplete, Acknowledged, Refused };

// The reply to a command: complete with its acknowledge and `length` bytes
// (0: a Get / Get ID list, whose length its second byte gives), or refused.
// Only a received byte 0x79 acknowledges; a first byte that is neither
// acknowledge nor refusal is never accepted.
Judged JudgeReply(const QByteArray& r, int length) {
    if (r.isEmpty()) return Judged::Incomplete;
    const auto first = static_cast<uint8_t>(r[0]);
    if (first == kStm32Nack) return Judged::Refused;
    if (first != kStm32Ack) return Judged::Incomplete;
    const int need = length > 0 ? length : Stm32ListReplyLength(r);
    return need > 0 && r.size() >= need ? Judged::Acknowledged : Judged::Incomplete;
}

class Stm32Session {
public:
    Stm32Session(DownloadHost& host, const Stm32Options& options)
        : host_(host),
          image_(options.image),
          address_(options.address),
          verify_(options.verify) {
        report_.baud = kStm32Baud;
    }

    DownloadReport Run() {
        if (image_.isEmpty()) {
            Fail({QStringLiteral("固件为空（0 字节）：没有可写入的数据，下载未开始")});
            return report_;
        }
        if (Connect() && Identify() && CheckFits() && Keep() && Erase() && Write() && (!verify_ || Verify())) Finish();
        return report_;
    }

private:
    // ---- Failures ----------------------------------------------------------------
    // Ends the download and logs `lines`; the last one names what failed.
    bool Fail(const QStringList& lines) {
        host_.EndDownload();
        for (const QString& l : lines) host_.Log(l);
        report_.failure = lines.isEmpty() ? QString() : lines.last();
        return false;
    }
    QString PortLostLine() const {
        return PortLostText(host_.PortName());
    }
    QString CancelledLine() const { return QStringLiteral("下载已取消"); }
    QString RefusalLine(const Refusal& r) const {
        return QStringLiteral("芯片拒绝了%1（NACK 0x1F），可能原因：%2").arg(r.step, r.cause);
    }
    // A wait that ended without the awaited reply.  `stageLine` is the line
    // the stage reports a failure with.
    bool FailWait(WaitResult result, const QString& stageLine, bool diagnose) {
        if (result == WaitResult::Cancelled) return Fail({CancelledLine()});
        if (result == WaitResult::PortLost) return Fail({stageLine, PortLostLine()});
        return diagnose ? Fail({stageLine, host_.ConnectDiagnosis()}) : Fail({stageLine});
    }

    // ---- One command ---------------------------------------------------------------
    // Sends `bytes` and waits for the acknowledge and `length` reply bytes (0:
    // a list reply).  The reply is assembled from everything received since
    // the bytes were sent.  A refusal ends the download at once; so does a
    // reply that does not come within `ticks`.
    bool Stm32Command(const QByteArray& bytes, int length, const Refusal& refusal, int ticks = kCommandTicks) {
        host_.SetReplyDelay(SettleMs(length > 0 ? length : kListReplyBytes));
        host_.ResetTicks();
        WaitResult result = WaitResult::PortLost;
        if (host_.Send(bytes))
            result = host_.Wait(ticks, [length](const QByteArray& r) { return JudgeReply(r, length) != Judged::Incomplete; });
        if (result == WaitResult::Replied) {
            reply_ = host_.Received();
            host_.ResetTicks();
            if (JudgeReply(reply_, length) == Judged::Acknowledged) return true;
            QStringList lines{kTimeoutLine, host_.ConnectDiagnosis(), RefusalLine(refusal)};
            if (!refusalNote_.isEmpty()) lines << refusalNote_;
            return Fail(lines);
        }
        return FailWait(result, kTimeoutLine, true);
    }
    bool Command(Stm32Code code, int length, const Refusal& refusal) {
        return Stm32Command(Stm32CommandBytes(code), length, refusal);
    }
    // Read Memory or Write Memory, and the address it works at.
    bool CommandAt(Stm32Code code, const QString& verb, uint32_t address, const QString& addressCause) {
        if (!Command(code, 1,
                     {QStringLiteral("%1命令 %2").arg(verb, hex2(static_cast<uint8_t>(code))),
                      QStringLiteral("芯片处于读保护状态（Readout Protection）")}))
            return false;
        return Stm32Command(Stm32AddressFrame(address), 1,
                            {QStringLiteral("%1地址 %2").arg(verb, hex8(address)), addressCause});
    }
    // Read Memory of `count` bytes at `address` into reply_ (acknowledge first).
    bool ReadMemory(uint32_t address, int count) {
        if (!CommandAt(Stm32Code::ReadMemory, QStringLiteral("读存储器"), address,
                       QStringLiteral("此地址在这个芯片上不可读（芯片型号与地址不符？）")))
            return false;
        return Stm32Command(Stm32ReadCountFrame(count), count + 1,
                            {QStringLiteral("读取 %1 字节（地址 %2）").arg(count).arg(hex8(address)),
                             QStringLiteral("读取范围超出存储区")});
    }

    // Block i (1-based) of what is written (the image and the bytes kept
    // around it), padded to whole words, and its address.
    int BlockCount() const { return Stm32BlockCount(static_cast<int>(written_.size())); }
    QByteArray Block(int i) const { return Stm32PadToWords(written_.mid((i - 1) * kStm32BlockSize, kStm32BlockSize)); }
    uint32_t BlockAddress(int i) const { return writeAddress_ + static_cast<uint32_t>((i - 1) * kStm32BlockSize); }
    uint64_t ImageEnd() const { return uint64_t(address_) + static_cast<uint64_t>(image_.size()); }
    // "0x08004000 至 0x08004BB7": the addresses from `first` up to (not including) `end`.
    static QString Span(uint64_t first, uint64_t end) {
        return QStringLiteral("%1 至 %2").arg(hex8(static_cast<uint32_t>(first)), hex8(static_cast<uint32_t>(end - 1)));
    }

    // ---- Stages --------------------------------------------------------------------
    bool Connect() {
        if (!host_.OpenPort(kStm32Baud, kParityEven, kStm32Ack)) return Fail({host_.PortDiagnosis()});
        host_.StartReader();
        host_.Log(QStringLiteral("正在连机..."));
        // BOOT0 high and the chip held in reset; then out of reset into the
        // system bootloader.
        host_.SetRts(true);
        host_.SetDtr(true);
        if (!host_.Pause(kResetHoldMs)) return Fail({CancelledLine()});
        host_.ForgetReceived();
        host_.SetDtr(false);
        if (!host_.Pause(kBootStartMs)) return Fail({CancelledLine()});
        host_.SetReplyDelay(SettleMs(1));
        host_.ResetTicks();
        // The start byte is sent once; a received byte 0x79 acknowledges it,
        // and 0x1F says the bootloader runs already.
        WaitResult result = WaitResult::PortLost;
        if (host_.Send(QByteArray(1, static_cast<char>(kStm32Start))))
            result = host_.Wait(kConnectTicks, [](const QByteArray& r) {
                return r.contains(static_cast<char>(kStm32Ack)) || r.contains(static_cast<char>(kStm32Nack));
            });
        if (result == WaitResult::PortLost) return Fail({kTimeoutLine, PortLostLine(), kReplugLine});
        // The count ran far past the limit while the program was served: the
        // system stalled (a converter that hangs), not the chip.
        if (result == WaitResult::TimedOut && host_.Ticks() > kPumpStallTicks) return Fail({kTimeoutLine, kReplugLine});
        if (result != WaitResult::Replied) return FailWait(result, kTimeoutLine, true);
        host_.ResetTicks();
        // A bootloader that already runs (its last host went away without a
        // reset) takes a second start byte as a command it does not know.
        if (!host_.Received().contains(static_cast<char>(kStm32Ack)))
            host_.Log(
                QStringLiteral("引导程序已在运行：起始字节 0x7F 得到 NACK 0x1F（芯片未复位，上次的连接仍在），继续"));
        host_.Log(QStringLiteral("连接成功"));
        host_.ForgetReceived();
        return true;
    }

    bool Identify() {
        const QString garbled = QStringLiteral("芯片收到的命令有误（串口参数或连线？）");
        if (!Command(Stm32Code::Get, 0, {QStringLiteral("Get 命令 0x00"), garbled})) return false;
        host_.Log(Stm32VersionLine(static_cast<uint8_t>(reply_[2])));
        extendedErase_ = Stm32Offers(reply_, Stm32Code::ExtendedErase) && !Stm32Offers(reply_, Stm32Code::Erase);

        if (!Command(Stm32Code::GetId, 0, {QStringLiteral("Get ID 命令 0x02"), garbled})) return false;
        pid_ = reply_.size() >= 4 ? static_cast<uint16_t>(static_cast<uint8_t>(reply_[2]) << 8 | static_cast<uint8_t>(reply_[3])) : 0;
        host_.Log(Stm32DeviceIdLine(pid_));
        report_.chip = Stm32PartLabel(pid_);
        part_ = FindStm32Part(pid_);
        if (!part_)
            host_.Log(QStringLiteral("未知的芯片ID 0x%1：按STM32F1处理（FLASH大小读自 %2，按 %3 字节一页擦除）")
                          .arg(pid_, 4, 16, QLatin1Char('0'))
                          .arg(hex8(kStm32F1FlashSizeAddress))
                          .arg(kStm32DefaultPageSize));

        // The flash size in KB, then a half-word the SRAM line looks at.
        const uint32_t at = part_ ? part_->flashSizeAddress : kStm32F1FlashSizeAddress;
        if (!ReadMemory(at, 4)) return false;
        flashKb_ = static_cast<uint8_t>(reply_[1]) | static_cast<uint8_t>(reply_[2]) << 8;
        const uint16_t word = static_cast<uint16_t>(static_cast<uint8_t>(reply_[3]) | static_cast<uint8_t>(reply_[4]) << 8);
        host_.Log(Stm32FlashSizeLine(flashKb_));
        host_.Log(Stm32SramLine(flashKb_, word, part_));
        return true;
    }

    // Refuses, before anything is erased, an image the chip cannot take: one
    // that does not lie within its flash, or whose pages the erase command
    // cannot name.
    bool CheckFits() {
        pageSize_ = part_ ? part_->pageSize : kStm32DefaultPageSize;
        // The flash size is trusted only where the table says where it lies.
        const uint64_t flashBytes = part_ ? uint64_t(flashKb_) * 1024 : 0;
        flashEnd_ = flashBytes > 0 ? kStm32FlashBase + flashBytes : 0;
        const uint64_t end = ImageEnd();
        const QString image = QStringLiteral("映像 %1（%2 字节）").arg(Span(address_, end)).arg(image_.size());
        if (flashEnd_ > 0 && (address_ < kStm32FlashBase || end > flashEnd_))
            return Fail({QStringLiteral("%1不在芯片FLASH %2（%3 KB）之内，未擦除也未写入")
                             .arg(image, Span(kStm32FlashBase, flashEnd_))
                             .arg(flashKb_)});
        if (address_ < kStm32FlashBase || end > 0xFFFFFFFFull)
            return Fail(
                {QStringLiteral("%1不在芯片FLASH（从 %2 起）之内，未擦除也未写入").arg(image, hex8(kStm32FlashBase))});
        pages_ = Stm32PagesCovering(address_, static_cast<uint32_t>(end), pageSize_);
        if (!extendedErase_ && pages_.last() >= kStm32PageListMax)
            return Fail(
                {pages_.first == 0
                     ? QStringLiteral("文件需要擦除 %1 页，擦除命令 0x43 最多只能指定 %2 页，未擦除也未写入")
                           .arg(pages_.count)
                           .arg(kStm32PageListMax)
                     : QStringLiteral("文件需要擦除第 %1 至 %2 页，擦除命令 0x43 只能指定第 0 至 %3 页，未擦除也未写入")
                           .arg(pages_.first)
                           .arg(pages_.last())
                           .arg(kStm32PageListMax - 1)});
        return true;
    }

    // Reads `count` bytes at `address` until two reads agree, three times at
    // most: a reply carries no checksum, and bytes garbled on the line would
    // be written back garbled.
    bool ReadAgreed(uint32_t address, int count, QByteArray* into) {
        QByteArray seen[kKeptReadTries];
        for (int n = 0; n < kKeptReadTries; ++n) {
            if (!ReadMemory(address, count)) return false;
            seen[n] = reply_.mid(1, count);
            for (int k = 0; k < n; ++k)
                if (seen[k] == seen[n]) {
                    into->append(seen[n]);
                    return true;
                }
        }
        return Fail({QStringLiteral("擦除的页中映像以外的数据（%1 起 %2 字节）%3 次读出各不相同（线路干扰？），"
                                    "为免写回错误的数据，未擦除也未写入")
                         .arg(hex8(address))
                         .arg(count)
                         .arg(kKeptReadTries)});
    }
    // Reads the bytes from `first` up to `end` into *into, 256 at a time.
    bool ReadRange(uint32_t first, uint64_t end, QByteArray* into) {
        for (uint64_t at = first; at < end; at += kStm32BlockSize)
            if (!ReadAgreed(static_cast<uint32_t>(at), static_cast<int>(std::min<uint64_t>(kStm32BlockSize, end - at)),
                            into))
                return false;
        return true;
    }

    // The erase takes whole pages.  What the image's first and last page hold
    // outside the image is read before the erase and written back with the
    // image, so nothing the user did not ask to change is lost.  Erased flash
    // reads 0xFF: such bytes at the outer ends need no writing.
    bool Keep() {
        const uint64_t pageStart = kStm32FlashBase + uint64_t(pages_.first) * pageSize_;
        uint64_t pageEnd = kStm32FlashBase + uint64_t(pages_.first + pages_.count) * pageSize_;
        if (flashEnd_ > 0) pageEnd = std::min(pageEnd, flashEnd_);
        const uint64_t end = ImageEnd();
        QStringList outside;
        if (pageStart < address_) outside << Span(pageStart, address_);
        if (end < pageEnd) outside << Span(end, pageEnd);
        QByteArray head, tail;
        refusalNote_ = QStringLiteral("擦除的页中映像以外的数据（%1）读不出来，擦除会丢失它们：未擦除也未写入。"
                                      "读保护的芯片只能先解除读保护，而那会擦除整个FLASH")
                           .arg(outside.join(QStringLiteral("、")));
        const bool read = ReadRange(static_cast<uint32_t>(pageStart), address_, &head) &&
                          ReadRange(static_cast<uint32_t>(end), pageEnd, &tail);
        refusalNote_.clear();
        if (!read) return false;

        qsizetype from = 0;
        while (from < head.size() && static_cast<uint8_t>(head[from]) == 0xFF) ++from;
        qsizetype to = tail.size();
        while (to > 0 && static_cast<uint8_t>(tail[to - 1]) == 0xFF) --to;
        QStringList kept;
        if (from < head.size()) kept << Span(pageStart + from, address_);
        if (to > 0) kept << Span(end, end + to);
        // Whole words: the bootloader writes flash a word at a time, and the
        // pages begin and end on words.
        from -= static_cast<qsizetype>((pageStart + from) % kStm32WordSize);
        const auto tailEnd = end + static_cast<uint64_t>(to);
        to = std::min(tail.size(),
                      to + static_cast<qsizetype>((kStm32WordSize - tailEnd % kStm32WordSize) % kStm32WordSize));
        writeAddress_ = static_cast<uint32_t>(pageStart + from);
        written_ = head.mid(from) + image_ + tail.left(to);
        if (!kept.isEmpty())
            host_.Log(QStringLiteral("擦除的页中映像以外的数据已读出，将随映像写回：%1")
                          .arg(kept.join(QStringLiteral("、"))));
        return true;
    }

    bool Erase() {
        const Stm32Code code = extendedErase_ ? Stm32Code::ExtendedErase : Stm32Code::Erase;
        if (!Command(code, 1,
                     {QStringLiteral("擦除命令 %1").arg(hex2(static_cast<uint8_t>(code))),
                      QStringLiteral("芯片处于读保护状态，或引导程序不支持这个擦除命令")}))
            return false;
        host_.Log(Stm32ImageSizeLine(Stm32ImageKb(static_cast<int>(image_.size()))));
        host_.Log(QStringLiteral("擦除芯片"));
        const QByteArray list = extendedErase_ ? Stm32ExtendedPageList(pages_.first, pages_.count)
                                               : Stm32PageList(pages_.first, pages_.count);
        const int ticks = kCommandTicks + (pages_.count * kEraseTicksPerTenPages + 9) / 10;
        return Stm32Command(
            list, 1,
            {QStringLiteral("擦除页 %1 至 %2（每页 %3 字节）").arg(pages_.first).arg(pages_.last()).arg(pageSize_),
             QStringLiteral("页号超出芯片FLASH范围，或FLASH写保护")},
            ticks);
    }

    bool Write() {
        host_.Log(QStringLiteral("正在下载数据,请稍侯... ..."));
        const int blocks = BlockCount();
        for (int i = 1; i <= blocks; ++i) {
            const uint32_t address = BlockAddress(i);
            const QByteArray block = Block(i);
            if (!CommandAt(Stm32Code::WriteMemory, QStringLiteral("写存储器"), address,
                           QStringLiteral("地址超出芯片FLASH范围")))
                return false;
            // The block is sent once; there is no resend.
            host_.ResetTicks();
            WaitResult result = WaitResult::PortLost;
            if (host_.Send(Stm32DataFrame(block)))
                result = host_.Wait(kBlockTicks, [](const QByteArray& r) { return JudgeReply(r, 1) != Judged::Incomplete; });
            if (result != WaitResult::Replied) return FailWait(result, kBlockFailedLine, false);
            host_.ResetTicks();
            if (JudgeReply(host_.Received(), 1) == Judged::Refused)
                return Fail({kBlockFailedLine,
                             RefusalLine({QStringLiteral("数据块（地址 %1，%2 字节）").arg(hex8(address)).arg(block.size()),
                                          QStringLiteral("FLASH写保护或未擦除，或数据在线路上出错")})});
            // Image bytes written so far (the kept ones around it not counted).
            const uint64_t through = std::min<uint64_t>(uint64_t(address) + block.size(), ImageEnd());
            report_.bytes = through > address_ ? static_cast<int>(through - address_) : 0;
            host_.Progress(Stm32Progress(i, blocks));
        }
        return true;
    }

    // Reads every written block back and compares it with what was written.
    bool Verify() {
        host_.Log(QStringLiteral("正在校验数据..."));
        const int blocks = BlockCount();
        for (int i = 1; i <= blocks; ++i) {
            const uint32_t address = BlockAddress(i);
            const QByteArray block = Block(i);
            if (!ReadMemory(address, static_cast<int>(block.size()))) return false;
            const QByteArray found = reply_.mid(1, block.size());
            const auto diff = std::mismatch(block.begin(), block.end(), found.begin(), found.end());
            if (diff.first != block.end()) {
                const auto at = static_cast<uint32_t>(diff.first - block.begin());
                return Fail({QStringLiteral("校验失败：地址 %1 应为 %2，读出 %3")
                                 .arg(hex8(address + at), hex2(static_cast<uint8_t>(*diff.first)),
                                      hex2(static_cast<uint8_t>(*diff.second)))});
            }
            host_.Progress(Stm32Progress(i, blocks));
        }
        host_.Log(QStringLiteral("校验成功：读回 %1 字节，与文件一致").arg(image_.size()));
        return true;
    }

    void Finish() {
        host_.SetReplyDelay(0);
        host_.Progress(0);
        if (!verify_) host_.Log(QStringLiteral("未校验：写入的数据没有读回比较"));
        const QString indent(39, QLatin1Char(' '));
        host_.Log(indent + QStringLiteral("文 件 下 载 完 毕!"));
        host_.Log(indent + QStringLiteral("数 据 下 载 成 功!"));
        report_.success = true;
        // BOOT0 low, the chip held in reset; the port's close lets it go.
        host_.SetRts(false);
        host_.SetDtr(true);
        host_.Pause(kReleaseMs);
        host_.ClosePort();
    }

    DownloadHost& host_;
    const QByteArray image_;
    const uint32_t address_; // where image_[0] goes
    const bool verify_;
    DownloadReport report_;

    QByteArray reply_;          // the last accepted reply, acknowledge first
    QString refusalNote_;       // said last when a command is refused meanwhile
    bool extendedErase_ = false;
    uint16_t pid_ = 0;
    const Stm32Part* part_ = nullptr;
    int flashKb_ = 0;
    uint64_t flashEnd_ = 0; // the end of the flash, 0 when not known
    int pageSize_ = kStm32DefaultPageSize;
    Stm32Pages pages_; // the pages the image lies in
    uint32_t writeAddress_ = kStm32FlashBase;
    QByteArray written_; // what is written from writeAddress_: the image and the bytes kept around it
};

} // namespace

DownloadReport DownloadStm32(DownloadHost& host, const Stm32Options& options) {
    return Stm32Session(host, options).Run();
}

} // namespace talvo::protocol
