#include "protocol/Stm32Link.h"

#include <QCoreApplication>

#include <algorithm>

#include "protocol/Diagnosis.h"

namespace talvo::protocol::stm32 {

namespace {

constexpr double kBitsPerChar = 11; // 8E1: start, eight data bits, parity, stop
constexpr int kPumpStallTicks = 32; // passed while the program was served: the system stalled
// The reset sequence on the control lines (RTS drives BOOT0, DTR drives RESET).
constexpr int kResetHoldMs = 500;
constexpr int kBootStartMs = 500;
constexpr int kReleaseMs = 200;
// A chip that reset itself (after Readout Protect or Unprotect) starts its
// bootloader again: the start byte waits this long.
constexpr int kSelfResetMs = 500;
// Read Memory refused this often in a row: the chip is read-protected.
constexpr int kProtectionProbes = 3;
// Get answers with a list of about this many bytes (15 on F0 and F1 parts).
constexpr int kListReplyBytes = 20;
// A mass erase (also the one of Readout Unprotect): at least as long as
// stm32flash allows (35 s), and 50 ms a KB of flash (an F4 erasing byte by
// byte takes up to 32 s for 1 MB).
constexpr int kMassEraseMinTicks = 350;
constexpr int kMassEraseMsPerKb = 50;

QString TimeoutLineText() { return QCoreApplication::translate("Stm32Link", "连接超时..."); }
QString ReplugLineText() { return QCoreApplication::translate("Stm32Link", "请拔掉USB 重试识别"); }

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

// Two acknowledges in a row (Readout Protect and Unprotect: the command
// taken, then the work done); a refusal in either place refuses.
Judged JudgeAcks(const QByteArray& r) {
    for (qsizetype i = 0; i < std::min<qsizetype>(r.size(), 2); ++i) {
        const auto b = static_cast<uint8_t>(r[i]);
        if (b == kStm32Nack) return Judged::Refused;
        if (b != kStm32Ack) return Judged::Incomplete;
    }
    return r.size() >= 2 ? Judged::Acknowledged : Judged::Incomplete;
}

} // namespace

QString Hex8(uint32_t v) {
    return QStringLiteral("0x") + QStringLiteral("%1").arg(v, 8, 16, QLatin1Char('0')).toUpper();
}
QString Hex2(uint8_t v) {
    return QStringLiteral("0x") + QStringLiteral("%1").arg(v, 2, 16, QLatin1Char('0')).toUpper();
}
QString Span(uint64_t first, uint64_t end) {
    return QCoreApplication::translate("Stm32Link", "%1 至 %2")
        .arg(Hex8(static_cast<uint32_t>(first)), Hex8(static_cast<uint32_t>(end - 1)));
}

Stm32Link::Stm32Link(DownloadHost& host, uint32_t baud) : host_(host), baud_(baud > 0 ? baud : kStm32DefaultBaud) {
    report_.baud = baud_;
}

// ---- Failures ---------------------------------------------------------------------------

bool Stm32Link::Fail(const QStringList& lines) {
    host_.EndDownload();
    for (const QString& l : lines) host_.Log(l);
    report_.failure = lines.isEmpty() ? QString() : lines.last();
    return false;
}

bool Stm32Link::FailWait(WaitResult result, const QString& stageLine, bool diagnose) {
    if (result == WaitResult::Cancelled) return Cancelled();
    if (result == WaitResult::PortLost) return Fail({stageLine, PortLostText(host_.PortName())});
    return diagnose ? Fail({stageLine, host_.ConnectDiagnosis()}) : Fail({stageLine});
}

// ---- Commands ---------------------------------------------------------------------------

// The time the rest of the reply takes on the line, halved because the
// receiver waits twice (on waking and on reading), and a millisecond more.
// A lone acknowledge needs no wait.  Bytes that come later still reach the
// reply, only a poll later.
int Stm32Link::SettleMs(int bytes) const {
    if (bytes <= 1) return 0;
    const double ms = (bytes - 1) * kBitsPerChar * 1000.0 / baud_ / 2;
    return static_cast<int>(ms) + 2;
}

int Stm32Link::WireTicks(int bytes) const { return static_cast<int>(bytes * kBitsPerChar * 10 / baud_); }

bool Stm32Link::Ask(const QByteArray& bytes, int length, int ticks, bool* refused) {
    return Ask(bytes, length, ticks, refused, TimeoutLineText());
}

bool Stm32Link::Ask(const QByteArray& bytes, int length, int ticks, bool* refused, const QString& stageLine,
                    bool diagnose) {
    const int expected = length > 0 ? length : kListReplyBytes;
    host_.SetReplyDelay(SettleMs(expected));
    host_.ResetTicks();
    *refused = false;
    WaitResult result = WaitResult::PortLost;
    if (host_.Send(bytes))
        result = host_.Wait(ticks + WireTicks(expected),
                            [length](const QByteArray& r) { return JudgeReply(r, length) != Judged::Incomplete; });
    if (result != WaitResult::Replied) return FailWait(result, stageLine, diagnose);
    reply_ = host_.Received();
    host_.ResetTicks();
    if (JudgeReply(reply_, length) == Judged::Acknowledged) return true;
    *refused = true;
    return false;
}

bool Stm32Link::Command(const QByteArray& bytes, int length, const Refusal& refusal, int ticks) {
    bool refused = false;
    if (Ask(bytes, length, ticks, &refused)) return true;
    if (!refused) return false; // failed and said why
    return Refused(refusal);
}

bool Stm32Link::Refused(const Refusal& refusal) {
    QStringList lines{TimeoutLineText(), host_.ConnectDiagnosis(),
                      QCoreApplication::translate("Stm32Link", "芯片拒绝了%1（NACK 0x1F），可能原因：%2")
                          .arg(refusal.step, refusal.cause)};
    if (!refusalNote_.isEmpty()) lines << refusalNote_;
    return Fail(lines);
}

bool Stm32Link::CommandAt(Stm32Code code, const QString& verb, uint32_t address, const QString& addressCause) {
    if (!Command(code, 1,
                 {QCoreApplication::translate("Stm32Link", "%1命令 %2").arg(verb, Hex2(static_cast<uint8_t>(code))),
                  QCoreApplication::translate("Stm32Link", "芯片处于读保护状态（Readout Protection）")}))
        return false;
    return Command(Stm32AddressFrame(address), 1,
                   {QCoreApplication::translate("Stm32Link", "%1地址 %2").arg(verb, Hex8(address)), addressCause});
}

namespace {
QString ReadVerbText() { return QCoreApplication::translate("Stm32Link", "读存储器"); }
QString UnreadableCauseText() {
    return QCoreApplication::translate("Stm32Link", "此地址在这个芯片上不可读（芯片型号与地址不符？）");
}
} // namespace

bool Stm32Link::ReadMemory(uint32_t address, int count) {
    if (!CommandAt(Stm32Code::ReadMemory, ReadVerbText(), address, UnreadableCauseText())) return false;
    return Command(Stm32ReadCountFrame(count), count + 1,
                   {QCoreApplication::translate("Stm32Link", "读取 %1 字节（地址 %2）").arg(count).arg(Hex8(address)),
                    QCoreApplication::translate("Stm32Link", "读取范围超出存储区")});
}

// ---- Connect ----------------------------------------------------------------------------

bool Stm32Link::Connect() {
    if (!host_.OpenPort(baud_, kParityEven, kStm32Ack)) return Fail({host_.PortDiagnosis()});
    host_.StartReader();
    host_.Log(QCoreApplication::translate("Stm32Link", "正在连机..."));
    // BOOT0 high and the chip held in reset; then out of reset into the
    // system bootloader.
    host_.SetRts(true);
    host_.SetDtr(true);
    if (!host_.Pause(kResetHoldMs)) return Cancelled();
    host_.ForgetReceived();
    host_.SetDtr(false);
    if (!host_.Pause(kBootStartMs)) return Cancelled();
    if (!Sync()) return false;
    host_.Log(QCoreApplication::translate("Stm32Link", "连接成功"));
    return true;
}

bool Stm32Link::Sync() {
    host_.SetReplyDelay(SettleMs(1));
    host_.ResetTicks();
    // The start byte is sent once; the bootloader measures the rate from it.
    // A received byte 0x79 acknowledges it, and 0x1F says the bootloader
    // runs already.
    WaitResult result = WaitResult::PortLost;
    if (host_.Send(QByteArray(1, static_cast<char>(kStm32Start))))
        result = host_.Wait(kConnectTicks, [](const QByteArray& r) {
            return r.contains(static_cast<char>(kStm32Ack)) || r.contains(static_cast<char>(kStm32Nack));
        });
    if (result == WaitResult::PortLost)
        return Fail({TimeoutLineText(), PortLostText(host_.PortName()), ReplugLineText()});
    // The count ran far past the limit while the program was served: the
    // system stalled (a converter that hangs), not the chip.
    if (result == WaitResult::TimedOut && host_.Ticks() > kPumpStallTicks)
        return Fail({TimeoutLineText(), ReplugLineText()});
    if (result != WaitResult::Replied) return FailWait(result, TimeoutLineText(), true);
    host_.ResetTicks();
    // A bootloader that already runs (its last host went away without a
    // reset) takes a second start byte as a command it does not know.
    if (!host_.Received().contains(static_cast<char>(kStm32Ack)))
        host_.Log(QCoreApplication::translate(
            "Stm32Link", "引导程序已在运行：起始字节 0x7F 得到 NACK 0x1F（芯片未复位，上次的连接仍在），继续"));
    host_.ForgetReceived();
    return true;
}

// ---- Identify ---------------------------------------------------------------------------

bool Stm32Link::Identify(OnProtected onProtected, const QString& protectedTail) {
    const QString garbled = QCoreApplication::translate("Stm32Link", "芯片收到的命令有误（串口参数或连线？）");
    if (!Command(Stm32Code::Get, 0, {QCoreApplication::translate("Stm32Link", "Get 命令 0x00"), garbled})) return false;
    getReply_ = reply_;
    host_.Log(Stm32VersionLine(static_cast<uint8_t>(reply_[2])));
    extendedErase_ = Offers(Stm32Code::ExtendedErase) && !Offers(Stm32Code::Erase);

    if (!Command(Stm32Code::GetId, 0, {QCoreApplication::translate("Stm32Link", "Get ID 命令 0x02"), garbled}))
        return false;
    pid_ = reply_.size() >= 4
               ? static_cast<uint16_t>(static_cast<uint8_t>(reply_[2]) << 8 | static_cast<uint8_t>(reply_[3]))
               : 0;
    host_.Log(Stm32DeviceIdLine(pid_));
    report_.chip = Stm32PartLabel(pid_);
    part_ = FindStm32Part(pid_);
    if (!part_)
        host_.Log(QCoreApplication::translate(
                      "Stm32Link", "未知的芯片ID 0x%1：按STM32F1处理（FLASH大小读自 %2，按 %3 字节一页擦除）")
                      .arg(pid_, 4, 16, QLatin1Char('0'))
                      .arg(Hex8(kStm32F1FlashSizeAddress))
                      .arg(kStm32DefaultPageSize));

    // The first read tells whether the chip is read-protected.
    const Access access = ReadAccess();
    if (access == Access::Failed) return false;
    if (access == Access::Protected) {
        report_.readProtected = true;
        if (onProtected == OnProtected::Refuse) return Fail({ProtectionLine() + protectedTail});
        const QString found =
            QCoreApplication::translate("Stm32Link", "芯片的读保护已开启（读存储器命令 0x11 三次得到 NACK 0x1F）");
        if (onProtected == OnProtected::Accept) {
            host_.Log(found);
            return true;
        }
        host_.Log(QCoreApplication::translate("Stm32Link", "%1：按要求解除读保护，这会擦除整个芯片").arg(found));
        if (!Unprotect()) return false;
        if (!Command(Stm32Code::ReadMemory, 1,
                     {QCoreApplication::translate("Stm32Link", "解除读保护后的读存储器命令 0x11"),
                      QCoreApplication::translate("Stm32Link", "读保护没有解除")}))
            return false;
    }
    return ReadFlashSize();
}

Stm32Link::Access Stm32Link::ReadAccess() {
    // A chip without protection takes Read Memory whenever the Get reply
    // offers it.  A refusal may be a command garbled on the line; three in a
    // row are the protection (whose removal erases the chip: it must not be
    // mistaken).
    for (int attempt = 0; attempt < kProtectionProbes; ++attempt) {
        bool refused = false;
        if (Ask(Stm32CommandBytes(Stm32Code::ReadMemory), 1, kCommandTicks, &refused)) return Access::Readable;
        if (!refused) return Access::Failed;
    }
    return Access::Protected;
}

QString Stm32Link::ProtectionLine() const {
    return QCoreApplication::translate("Stm32Link",
                                       "读保护已开启：芯片拒绝读出和写入FLASH（读存储器命令 0x11 三次得到 NACK 0x1F）；"
                                       "解除读保护会擦除整个芯片");
}

// Read Memory's command has been acknowledged: its address and count follow.
bool Stm32Link::ReadFlashSize() {
    const bool fromRegister = !part_ || part_->flashSizeAddress != 0;
    const uint32_t at = !part_ ? kStm32F1FlashSizeAddress : fromRegister ? part_->flashSizeAddress : part_->flashStart;
    // F1 parts and unknown IDs: the flash size and the half-word after it;
    // others the size alone (what follows it may not be readable); without a
    // register, a word at the flash start (it shows whether reads work).
    const int count = !part_ || part_->isF1() ? 4 : fromRegister ? 2 : 4;
    const uint64_t tableBytes = part_ && part_->flashEnd > part_->flashStart ? part_->flashEnd - part_->flashStart : 0;
    const Refusal addressRefusal{QCoreApplication::translate("Stm32Link", "%1地址 %2").arg(ReadVerbText(), Hex8(at)),
                                 UnreadableCauseText()};
    // A known part whose bootloader does not let its register be read still
    // has the table's size.
    bool refused = false;
    bool registerRead = false;
    if (Ask(Stm32AddressFrame(at), 1, kCommandTicks, &refused)) {
        if (!Command(Stm32ReadCountFrame(count), count + 1,
                     {QCoreApplication::translate("Stm32Link", "读取 %1 字节（地址 %2）").arg(count).arg(Hex8(at)),
                      QCoreApplication::translate("Stm32Link", "读取范围超出存储区")}))
            return false;
        registerRead = fromRegister;
    } else if (!refused) {
        return false;
    } else if (!fromRegister || tableBytes == 0) {
        return Refused(addressRefusal);
    }

    uint16_t word = 0xFFFF;
    if (registerRead) {
        flashKb_ = static_cast<uint8_t>(reply_[1]) | static_cast<uint8_t>(reply_[2]) << 8;
        if (count == 4)
            word = static_cast<uint16_t>(static_cast<uint8_t>(reply_[3]) | static_cast<uint8_t>(reply_[4]) << 8);
        if (part_) flashKb_ = Stm32FlashKbFromRegister(*part_, flashKb_);
    } else {
        flashKb_ = static_cast<int>(tableBytes / 1024);
    }
    host_.Log(Stm32FlashSizeLine(flashKb_));
    host_.Log(Stm32SramLine(flashKb_, word, part_));
    if (!part_) return true; // the flash's end is not known: only its start bounds the image

    const QString name = QString::fromUtf8(part_->name);
    if (!fromRegister) {
        if (tableBytes > 0)
            host_.Log(QCoreApplication::translate("Stm32Link",
                                                  "%1 的FLASH大小寄存器未知：FLASH大小取自芯片表（该型号最大的容量）")
                          .arg(name));
    } else if (!registerRead) {
        host_.Log(QCoreApplication::translate("Stm32Link",
                                              "芯片拒绝读出FLASH大小寄存器 %1：FLASH大小取自芯片表（%2 最大的容量）")
                      .arg(Hex8(at), name));
    } else if (tableBytes > 0 && (flashKb_ == 0 || uint64_t(flashKb_) * 1024 > tableBytes)) {
        host_.Log(
            QCoreApplication::translate("Stm32Link", "FLASH大小寄存器读出 %1 KB，%2 最大只有 %3 KB：按 %3 KB 处理")
                .arg(flashKb_)
                .arg(name)
                .arg(tableBytes / 1024));
        flashKb_ = static_cast<int>(tableBytes / 1024);
    }
    flashEnd_ = flashKb_ > 0 ? part_->flashStart + uint64_t(flashKb_) * 1024 : 0;
    return true;
}

Stm32Layout Stm32Link::layout() const {
    if (!part_) return Stm32Layout::Pages(kStm32DefaultPageSize, kStm32FlashBase, flashEnd_);
    return Stm32Layout(part_->eraseLayout, part_->flashStart, flashEnd_);
}

int Stm32Link::MassEraseTicks() const {
    uint64_t kb = uint64_t(flashKb_);
    if (kb == 0 && part_ && part_->flashEnd > part_->flashStart) kb = (part_->flashEnd - part_->flashStart) / 1024;
    return std::max<int>(kMassEraseMinTicks, kCommandTicks + static_cast<int>(kb * kMassEraseMsPerKb / 100));
}

// ---- Read protection --------------------------------------------------------------------

bool Stm32Link::DoubleAck(Stm32Code code, int ticks, const Refusal& refusal) {
    host_.SetReplyDelay(0);
    host_.ResetTicks();
    WaitResult result = WaitResult::PortLost;
    if (host_.Send(Stm32CommandBytes(code)))
        result = host_.Wait(ticks, [](const QByteArray& r) { return JudgeAcks(r) != Judged::Incomplete; });
    if (result != WaitResult::Replied) return FailWait(result, TimeoutLineText(), true);
    host_.ResetTicks();
    if (JudgeAcks(host_.Received()) == Judged::Acknowledged) return true;
    return Fail({QCoreApplication::translate("Stm32Link", "芯片拒绝了%1（NACK 0x1F），可能原因：%2")
                     .arg(refusal.step, refusal.cause)});
}

bool Stm32Link::Unprotect() {
    if (!Offers(Stm32Code::ReadoutUnprotect))
        return Fail({QCoreApplication::translate(
            "Stm32Link", "引导程序不支持解除读保护的命令（Readout Unprotect 0x92）：读保护无法解除")});
    host_.Log(QCoreApplication::translate("Stm32Link",
                                          "正在解除读保护（Readout Unprotect 0x92）：芯片擦除整个FLASH后复位..."));
    if (!DoubleAck(Stm32Code::ReadoutUnprotect, MassEraseTicks(),
                   {QCoreApplication::translate("Stm32Link", "解除读保护的命令 Readout Unprotect 0x92"),
                    QCoreApplication::translate("Stm32Link", "读保护为第2级（无法解除）")}))
        return false;
    // The chip resets and starts its bootloader again (BOOT0 is still high).
    if (!host_.Pause(kSelfResetMs)) return Cancelled();
    host_.ForgetReceived();
    if (!Sync()) return false;
    report_.unprotected = true;
    host_.Log(QCoreApplication::translate("Stm32Link", "读保护已解除：整个FLASH已被芯片擦除"));
    return true;
}

bool Stm32Link::Protect() {
    if (!Offers(Stm32Code::ReadoutProtect))
        return Fail(
            {QCoreApplication::translate("Stm32Link", "引导程序不支持设置读保护的命令（Readout Protect 0x82）")});
    host_.Log(
        QCoreApplication::translate("Stm32Link", "正在设置读保护（Readout Protect 0x82）：芯片写入选项字节后复位..."));
    if (!DoubleAck(Stm32Code::ReadoutProtect, kCommandTicks,
                   {QCoreApplication::translate("Stm32Link", "设置读保护的命令 Readout Protect 0x82"),
                    QCoreApplication::translate("Stm32Link", "选项字节写保护")}))
        return false;
    if (!host_.Pause(kSelfResetMs)) return Cancelled();
    host_.ForgetReceived();
    if (!Sync()) return false;
    // The protection shows as refused reads.
    const Access access = ReadAccess();
    if (access == Access::Failed) return false;
    if (access == Access::Readable)
        return Fail(
            {QCoreApplication::translate("Stm32Link", "芯片确认了读保护命令，复位后却仍可读出：读保护没有生效")});
    report_.readProtected = true;
    return true;
}

// ---- The end ----------------------------------------------------------------------------

void Stm32Link::Finish(const QStringList& lines, bool applicationStarted) {
    host_.SetReplyDelay(0);
    host_.Progress(0);
    for (const QString& l : lines) host_.Log(l);
    report_.success = true;
    if (!applicationStarted) {
        // BOOT0 low, the chip held in reset; the port's close lets it go.
        host_.SetRts(false);
        host_.SetDtr(true);
        host_.Pause(kReleaseMs);
    }
    host_.ClosePort();
}

} // namespace talvo::protocol::stm32
