#include "protocol/Stm32Download.h"

#include <QStringList>

#include <algorithm>

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
    Stm32Session(DownloadHost& host, const Stm32Options& options) : host_(host), image_(options.image), verify_(options.verify) {
        report_.baud = kStm32Baud;
    }

    DownloadReport Run() {
        if (image_.isEmpty()) {
            Fail({QStringLiteral("固件为空（0 字节）：没有可写入的数据，下载未开始")});
            return report_;
        }
        if (Connect() && Identify() && CheckFits() && Erase() && Write() && (!verify_ || Verify())) Finish();
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
        return QStringLiteral("串口 %1 已断开（USB 转换器被拔出，或设备挂断）").arg(host_.PortName());
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
            return Fail({kTimeoutLine, host_.ConnectDiagnosis(), RefusalLine(refusal)});
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

    // Block i (1-based) of the image, padded to whole words, and its address.
    int BlockCount() const { return Stm32BlockCount(static_cast<int>(image_.size())); }
    QByteArray Block(int i) const {
        return Stm32PadToWords(image_.mid((i - 1) * kStm32BlockSize, kStm32BlockSize));
    }
    static uint32_t BlockAddress(int i) {
        return kStm32FlashBase + static_cast<uint32_t>((i - 1) * kStm32BlockSize);
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
        // The start byte is sent once; only a received byte 0x79 acknowledges it.
        WaitResult result = WaitResult::PortLost;
        if (host_.Send(QByteArray(1, static_cast<char>(kStm32Start))))
            result = host_.Wait(kConnectTicks, [](const QByteArray& r) { return r.contains(static_cast<char>(kStm32Ack)); });
        if (result == WaitResult::PortLost) return Fail({kTimeoutLine, PortLostLine(), kReplugLine});
        // The count ran far past the limit while the program was served: the
        // system stalled (a converter that hangs), not the chip.
        if (result == WaitResult::TimedOut && host_.Ticks() > kPumpStallTicks) return Fail({kTimeoutLine, kReplugLine});
        if (result != WaitResult::Replied) return FailWait(result, kTimeoutLine, true);
        host_.ResetTicks();
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

    // Refuses, before anything is erased, an image the chip cannot take.
    bool CheckFits() {
        pageSize_ = part_ ? part_->pageSize : kStm32DefaultPageSize;
        // The flash size is trusted only where the table says where it lies.
        const int flashBytes = part_ ? flashKb_ * 1024 : 0;
        if (flashBytes > 0 && image_.size() > flashBytes)
            return Fail({QStringLiteral("文件大小 %1 字节超出芯片FLASH（%2 KB），未擦除也未写入")
                             .arg(image_.size())
                             .arg(flashKb_)});
        pages_ = Stm32ErasePages(static_cast<int>(image_.size()), pageSize_, flashBytes / pageSize_);
        if (!extendedErase_ && pages_ > kStm32PageListMax)
            return Fail({QStringLiteral("文件需要擦除 %1 页，擦除命令 0x43 最多只能指定 %2 页，未擦除也未写入")
                             .arg(pages_)
                             .arg(kStm32PageListMax)});
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
        const QByteArray list = extendedErase_ ? Stm32ExtendedPageList(pages_) : Stm32PageList(pages_);
        const int ticks = kCommandTicks + (pages_ * kEraseTicksPerTenPages + 9) / 10;
        return Stm32Command(list, 1,
                            {QStringLiteral("擦除页 0 至 %1（每页 %2 字节）").arg(pages_ - 1).arg(pageSize_),
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
            report_.bytes = std::min(static_cast<int>(image_.size()), i * kStm32BlockSize);
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
    const bool verify_;
    DownloadReport report_;

    QByteArray reply_;          // the last accepted reply, acknowledge first
    bool extendedErase_ = false;
    uint16_t pid_ = 0;
    const Stm32Part* part_ = nullptr;
    int flashKb_ = 0;
    int pageSize_ = kStm32DefaultPageSize;
    int pages_ = 0;
};

} // namespace

DownloadReport DownloadStm32(DownloadHost& host, const Stm32Options& options) {
    return Stm32Session(host, options).Run();
}

} // namespace talvo::protocol
