// The STC download: the port, the handshake with its sync stream and RTS
// pulse, the crystal and the rate, the family's switch and erase, the block
// transfer and the closing frames.
#include "protocol/CMcuType.h"

#include <QCoreApplication>

#include <algorithm>

#include "protocol/Diagnosis.h"
#include "protocol/StcModels.h"
#include "protocol/StcTransferRate.h"

namespace talvo::protocol {

namespace {

QString SuccessDoneText() { return QString(39, u' ') + QCoreApplication::translate("CMcuType", "文 件 下 载 完 毕!"); }
QString SuccessWrittenText() {
    return QString(39, u' ') + QCoreApplication::translate("CMcuType", "数 据 下 载 成 功!");
}
QString CancelledText() { return QCoreApplication::translate("CMcuType", "下载已取消"); }
QString Switch1DoneText() { return QCoreApplication::translate("CMcuType", "调整波特率1完成!"); }
QString Switch2DoneText() { return QCoreApplication::translate("CMcuType", "调整波特率2完成!"); }
QString Switch1LateText() { return QCoreApplication::translate("CMcuType", "调整波特率一超时"); }
QString Switch2LateText() { return QCoreApplication::translate("CMcuType", "调整波特率二超时"); }
QString ControlInfoText() { return QCoreApplication::translate("CMcuType", "正在发送控制信息..."); }
QString BlockFailedText() { return QCoreApplication::translate("CMcuType", "写数据失败，重试!"); }

// The second rate of the one-byte high-speed switch, and of the two-byte
// switch's first and third steps: the number 1200, whatever the handshake.
constexpr uint32_t kStcSwitchBackRate = 1200;

QByteArray hexBytes(const char* digits) { return QByteArray::fromHex(digits); }

uint8_t dataSum(const QByteArray& block) {
    unsigned s = 0;
    for (char c : block) s += static_cast<uint8_t>(c);
    return static_cast<uint8_t>(s & 0xFF);
}

// Copies of the last block written that the chip may still answer, and how
// soon after the next block has gone out such an answer could come.
//
// Say the first answer seen belonged to the first copy and was seen as it
// arrived: the copies still unanswered went out at least one resend interval
// (the count at the first resend) after the first one, and the chip,
// answering them no faster than that one less the spread of its answer
// times, cannot answer them within that interval of the next block's send.
// An answer of the next block's sum that comes sooner is the next block's
// own, and the copies of the earlier block it waited for were lost -- the
// chip answers in order.  So a copy lost on the wire costs its resend and
// nothing more, while an answer that really comes late still does not count
// for the next block.  (An answer that was there before the last copy had
// gone out cannot belong to that copy: an earlier one was answered late, and
// the last copy's answer is still to come.)
struct EarlierCopies {
    int count = 0;       // copies that may still be answered
    uint8_t sum = 0;     // their data sum
    int quietTicks = -1; // the next block's count up to which none of their answers can arrive; -1: none known
    static EarlierCopies After(int sends, int answered, int firstResendTick, bool seenOnArrival, uint8_t sum) {
        EarlierCopies e;
        e.count = std::max(0, sends - answered);
        e.sum = sum;
        // Two ticks for the coarseness of the count at both ends, one for the
        // time between the acknowledgement and the next send.
        if (e.count > 0 && answered == 1 && firstResendTick > 0 && seenOnArrival)
            e.quietTicks = firstResendTick - kStcAnswerSpreadTicks - 3;
        return e;
    }
};

} // namespace

CMcuType::CMcuType(DownloadHost& host, StcOptions options)
    : Host(host),
      Options(std::move(options)),
      Family(Options.autoFamily ? nullptr : ChipTypeAt(Options.chipType).stc()),
      Blocks(StcBlocks(Options.image, HandshakeFamily().blockSize)) {}

const StcFamily& CMcuType::HandshakeFamily() const { return Family ? *Family : *FindStcFamily("stc89"); }

// ---------------------------------------------------------------------------
// The whole download

DownloadReport CMcuType::RunStcDownload() {
    Report.bytes = static_cast<int>(Options.image.size());
    const bool done = OpenForHandshake() && ConnectStc() && IdentifyChip() && CheckImageFits() &&
                      (Family->modern() ? RunModernDownload()
                                        : MeasureAndChooseRate() && SwitchForFamily() && SendBlocks() &&
                                              SendClosingFrames());
    if (done) Finish();
    Report.success = done;
    Report.chip = ModelLabel;
    Report.crystalMHz = CrystalMHz;
    Report.baud = DownloadBaud;
    return Report;
}

bool CMcuType::OpenForHandshake() {
    const StcHandshakeLine& line = Options.lowSpeed ? HandshakeFamily().lowSpeed : HandshakeFamily().highSpeed;
    HandshakeBaud = Options.handshakeBaud > 0 ? Options.handshakeBaud : line.baud;
    Host.SetReplyDelay(line.settleMs);
    DriverParameter = Options.lowSpeed ? kStcDriverAccepted : Options.driverParameter;
    // With the family still unknown the status is read on 8N1: an 8E1
    // chip's parity bit then stands where the stop bit is awaited, and every
    // byte's value arrives.
    LineParity = Options.autoFamily ? kParityNone : Parity();
    if (Host.OpenPort(static_cast<uint32_t>(HandshakeBaud), LineParity, kStcStatusEventChar)) {
        Host.StartReader();
        return true;
    }
    Host.EndDownload();
    Host.Log(Host.PortDiagnosis());
    return false;
}

void CMcuType::Finish() {
    Host.Log(SuccessDoneText());
    Host.Log(SuccessWrittenText());
    Host.StopSync();
    Host.Progress(0);
    Host.ClosePort();
}

// ---------------------------------------------------------------------------
// Frames and waits

void CMcuType::SendFrame(uint8_t command, const QByteArray& data, int form) {
    Host.Send(BuildFrame(command, data, form));
}

bool CMcuType::FailWait(WaitResult result) {
    Host.EndDownload();
    if (result == WaitResult::PortLost) {
        Host.Log(PortLostText(Host.PortName()));
    } else if (result == WaitResult::Cancelled) {
        Host.Log(CancelledText());
        Stopped = true;
    }
    return false;
}

bool CMcuType::StageFailed(const QString& line) {
    if (!Stopped) Host.Log(line);
    return false;
}

bool CMcuType::Exchange(uint8_t command, const QByteArray& data, bool send, int form) {
    Host.ResetTicks();
    if (send) SendFrame(command, data, form);
    const int answer = AnswerForm();
    const uint8_t writeAnswer = HandshakeFamily().writeAnswer;
    const bool skipWriteAnswers = WriteAnswersMayFollow;
    const WaitResult r = Host.Wait(kStcReplyTicks, [=](const QByteArray& received) {
        const StcScan scan = ScanStcFrames(received, answer);
        return std::any_of(scan.frames.begin(), scan.frames.end(), [&](const StcChipFrame& f) {
            return !skipWriteAnswers || !IsStcWriteAnswer(f, writeAnswer);
        });
    });
    if (r != WaitResult::Replied) return FailWait(r);
    Host.ResetTicks();
    return true;
}

bool CMcuType::Reopen(uint32_t baud, int pauseMs) {
    Host.ClosePort();
    if (pauseMs > 0) Host.Pause(pauseMs);
    if (Host.OpenPort(baud, Parity(), kStcReplyEventChar)) return true;
    Host.EndDownload();
    return false;
}

bool CMcuType::Configure(uint32_t baud) {
    QString reason;
    if (Host.ConfigurePort(baud, Parity(), kStcReplyEventChar, &reason)) return true;
    // Carrying on at the old rate would only time out later.
    Host.EndDownload();
    Host.Log(QCoreApplication::translate("CMcuType", "串口 %1 无法设置为 %2 波特%3：%4")
                 .arg(Host.PortName())
                 .arg(baud)
                 .arg(Parity() ? QCoreApplication::translate("CMcuType", "（偶校验）") : QString())
                 .arg(reason));
    return false;
}

void CMcuType::ReportVersion() {
    Host.Log(VersionLine(Status->version, Status->stepping));
    Host.Log(ModelLabel);
}

QByteArray CMcuType::ModelCode() const {
    return QByteArray(reinterpret_cast<const char*>(Status->model), 2);
}

// ---------------------------------------------------------------------------
// Handshake, model and clock

bool CMcuType::TakeStatus(const StcChipFrame& frame, int form) {
    // STC89/90: type 00, one checksum byte; every other family: type 50,
    // two; each with the model code at payload bytes 20-21.
    const QByteArray& p = frame.payload;
    if (p.size() < kStcStatusMinimumBytes || static_cast<uint8_t>(p[0]) != (form == 1 ? 0x00 : 0x50)) return false;
    const auto status = ReadStcStatus(frame);
    if (!status) return false;
    Status = status;
    StatusPayload = p;
    StatusForm = form;
    return true;
}

bool CMcuType::ConnectStc() {
    Host.StartSync();
    Host.Log(QCoreApplication::translate("CMcuType", "正在连机..."));
    const int form = AnswerForm();
    QString heard;
    bool ackWanted = false; // the STC15A's 80 frame came: it waits for the host's
    bool acked = false;
    // The status frame of the chosen family's checksum form, or of the
    // other: a chip of another family says what it is.
    auto statusJudge = [&](const QByteArray& received) {
        for (const int f : {form, 3 - form}) {
            const StcScan scan = ScanStcFrames(received, f, f == 1);
            for (const StcChipFrame& frame : scan.frames) {
                if (f == 2 && frame.payload == QByteArray(1, char(0x80))) {
                    if (acked) continue;
                    ackWanted = true;
                    return true;
                }
                if (TakeStatus(frame, f)) return true;
            }
            if (f == form) heard = scan.rejected;
        }
        return false;
    };
    // An STC15A answers the sync stream with a one-byte frame 80 first and
    // sends its status once the host's 80 frame (8E1) and more sync follow.
    auto wait = [&](int limit) {
        for (;;) {
            const WaitResult r = Host.Wait(limit, statusJudge);
            if (r != WaitResult::Replied || !ackWanted) return r;
            ackWanted = false;
            acked = true;
            if (LineParity != kParityEven) {
                QString reason;
                if (!Host.ConfigurePort(static_cast<uint32_t>(HandshakeBaud), kParityEven, kStcStatusEventChar, &reason))
                    return WaitResult::PortLost;
                LineParity = kParityEven;
            }
            Host.Send(BuildFrame(0x80, {}, 2));
        }
    };
    // The chip's supply is cut while RTS is set: the first ticks power it
    // off, then it starts its bootloader and hears the sync stream.
    Host.SetRts(true);
    WaitResult r = wait(kStcRtsTicks);
    if (r == WaitResult::TimedOut && Host.Ticks() <= kStcPumpStallTicks) {
        Host.SetRts(false);
        r = wait(kStcConnectTicks);
    }
    if (r == WaitResult::Replied) {
        Host.StopSync();
        Host.ResetTicks();
        Host.SetReplyDelay(0);
        return true;
    }
    const QByteArray received = Host.Received();
    if (r == WaitResult::Cancelled) return FailWait(r);
    // The count ran far past the limit while the program was served: the
    // system stalled (a converter that hangs), not the chip.  Read before
    // EndDownload resets it.
    const bool stalled = Host.Ticks() > kStcPumpStallTicks;
    Host.EndDownload();
    Host.Log(QCoreApplication::translate("CMcuType", "连接超时..."));
    if (r == WaitResult::PortLost || stalled) {
        if (r == WaitResult::PortLost) Host.Log(PortLostText(Host.PortName()));
        Host.Log(QCoreApplication::translate("CMcuType", "请拔掉USB 重试识别"));
        return false;
    }
    // Something came, but no whole status frame: say what, so that a wrong
    // rate or wiring can be told from silence.
    if (!received.isEmpty()) {
        Host.Log(QCoreApplication::translate("CMcuType", "收到 %1 字节，但没有完整的状态帧%2：%3")
                     .arg(received.size())
                     .arg(heard.isEmpty() ? QString() : QCoreApplication::translate("CMcuType", "（%1）").arg(heard))
                     .arg(QString::fromLatin1(received.left(24).toHex(' ')) + (received.size() > 24 ? " ..." : "")));
        // A chip of a family with other line settings sends bytes that fit
        // no frame (a frame of this family cut short is no sign of that).
        if (!Options.autoFamily && !ScanStcFrames(received, form, form == 1).partial)
            Host.Log(QCoreApplication::translate(
                         "CMcuType",
                         "芯片类型可能选错了：收到的字节不属于“%1”的状态帧（可改用 --chip auto 或选择其他芯片类型）")
                         .arg(ChipTypeDisplayName(QString::fromUtf8(ChipTypeAt(Options.chipType).listText))));
    }
    Host.Log(Host.ConnectDiagnosis());
    return false;
}

namespace {

// Families that speak the same protocol: a chip type of the same group
// downloads to the chip (STC89 and STC90; STC11 and STC12).
QString ProtocolGroup(const StcFamily& f) {
    return f.modern() ? QString::fromLatin1(f.key) : QString::number(f.checksumForm);
}

QString SizeText(uint32_t bytes) {
    if (bytes % 1024 == 0) return QStringLiteral("%1 KB").arg(bytes / 1024);
    if (bytes > 1024 && bytes % 512 == 0) return QStringLiteral("%1 KB").arg(bytes / 1024.0, 0, 'f', 1);
    return QCoreApplication::translate("CMcuType", "%1 字节").arg(bytes);
}

} // namespace

bool CMcuType::IdentifyChip() {
    const uint16_t code = Status->modelCode();
    const QString hexCode = QStringLiteral("%1").arg(code, 4, 16, QLatin1Char('0')).toUpper();
    const QString key = StcFamilyOfModel(code, Status->version);
    const QString name = StcModelName(code);
    const int suggested = key.isEmpty() ? -1 : ChipTypeByName(StcChipTypeFor(key, name));
    const StcFamily* answered = suggested >= 0 ? ChipTypeAt(suggested).stc() : nullptr;
    if (Options.autoFamily) {
        // A model the table does not know: its frame's checksum form still
        // tells the one-byte families from the others.
        if (!answered && StatusForm == 1) answered = FindStcFamily("stc89");
        if (!answered) {
            Host.EndDownload();
            Host.Log(QCoreApplication::translate("CMcuType", "无法从型号代码 %1%2 判断芯片系列：请选择芯片类型")
                         .arg(hexCode, name.isEmpty() ? QString()
                                                      : QCoreApplication::translate("CMcuType", "（%1）").arg(name)));
            return false;
        }
        Family = answered;
        Blocks = StcBlocks(Options.image, Family->blockSize);
        for (const ChipTypeInfo& c : ChipTypes())
            if (c.stc() == Family)
                Host.Log(QCoreApplication::translate("CMcuType", "芯片类型：%1（由芯片的状态帧判断）")
                             .arg(ChipTypeDisplayName(QString::fromUtf8(c.listText))));
        if (Family->parity != LineParity) {
            if (!Configure(static_cast<uint32_t>(HandshakeBaud))) return false;
            LineParity = Family->parity;
        }
    } else if (!Family) {
        // The download stops here; its caller stops the channel.
        Host.Log(QCoreApplication::translate("CMcuType", " 不支持这种MCU"));
        return false;
    }
    const bool sameForm = StatusForm == Family->checksumForm;
    if (sameForm && (!answered || ProtocolGroup(*answered) == ProtocolGroup(*Family))) {
        ReportModel();
        return true;
    }
    // Well-formed for another family: stop before anything changes on the chip.
    Host.EndDownload();
    const QString chosen = ChipTypeDisplayName(QString::fromUtf8(ChipTypeAt(Options.chipType).listText));
    if (answered) {
        Report.suggestedChipType = suggested;
        ModelLabel = name;
        Host.Log(
            QCoreApplication::translate(
                "CMcuType",
                "连接的芯片是 %1（型号代码 %2），应选择芯片类型“%3”，而不是“%4”：请改选后重新下载（芯片需重新上电）")
                .arg(name, hexCode, ChipTypeDisplayName(QString::fromUtf8(ChipTypeAt(suggested).listText)), chosen));
    } else {
        Host.Log((StatusForm == 1
                      ? QCoreApplication::translate(
                            "CMcuType", "芯片类型可能选错了：芯片的状态帧（型号代码 %1）用单字节校验和，不属于“%2”")
                      : QCoreApplication::translate(
                            "CMcuType", "芯片类型可能选错了：芯片的状态帧（型号代码 %1）用双字节校验和，不属于“%2”"))
                     .arg(hexCode, chosen));
    }
    return false;
}

void CMcuType::ReportModel() {
    const std::vector<StcModelInfo> rows = FindStcModels(Status->modelCode());
    if (rows.empty()) return;
    QString name = StcModelName(Status->modelCode());
    const StcModelInfo* row = &rows.front();
    if (rows.size() > 1) {
        // One code, two models: the status frame's version tells them apart.
        const QString key = StcFamilyOfModel(Status->modelCode(), Status->version);
        for (const StcModelInfo& m : rows)
            if (key == QLatin1String(m.family)) row = &m;
        name = QString::fromUtf8(row->name);
    }
    Host.Log(QCoreApplication::translate("CMcuType", "型号 %1，程序空间 %2，EEPROM %3")
                 .arg(name, SizeText(row->codeFlashBytes), SizeText(row->eepromBytes)));
}

bool CMcuType::CheckImageFits() {
    const uint16_t code = Status->modelCode();
    const QString hexCode = QStringLiteral("%1").arg(code, 4, 16, QLatin1Char('0')).toUpper();
    const std::optional<uint32_t> flash = StcCodeFlashBytes(code);
    if (!flash) {
        Host.Log(QCoreApplication::translate("CMcuType", "未知的型号代码 %1：芯片程序区大小未知，不检查文件大小")
                     .arg(hexCode));
        return true;
    }
    CodeFlashBytes = *flash;
    if (static_cast<int64_t>(Options.image.size()) <= static_cast<int64_t>(CodeFlashBytes)) return true;
    // Refused while the chip still holds its old program.
    Host.EndDownload();
    Host.Log(QCoreApplication::translate("CMcuType",
                                         "文件大小 %1 字节超出芯片 %2（型号代码 %3）的程序区 %4 字节，未擦除也未写入")
                 .arg(Options.image.size())
                 .arg(StcModelName(code), hexCode)
                 .arg(CodeFlashBytes));
    return false;
}

bool CMcuType::MeasureAndChooseRate() {
    CrystalMHz = MeasureClock(Status->counts, HandshakeBaud, Family->familyCode);
    Host.Log(QCoreApplication::translate("CMcuType", "晶振频率:%1 MHZ").arg(FrequencyText(CrystalMHz)));
    const bool sixClock = Status->sixClockMarker();
    Rate = ChooseDownloadBaud(CrystalMHz, HandshakeBaud, Family->familyCode, sixClock);
    if (!Rate.ok) {
        // Refused before any switch: the chip stays at the handshake rate.
        Host.Log(QCoreApplication::translate("CMcuType", "无法为此晶振选择下载波特率：%1").arg(Rate.note));
        if (Options.lowSpeed) {
            const RateChoice high = ChooseDownloadBaud(CrystalMHz, Family->highSpeed.baud, Family->familyCode, sixClock);
            if (high.ok)
                Host.Log(
                    QCoreApplication::translate("CMcuType", "低速下载无法用于此晶振，请选择“高速下载”（可用 %1 波特）")
                        .arg(high.baud));
        }
        Host.Message(QCoreApplication::translate("CMcuType", "当前不支持这种晶振"));
        Host.EndDownload();
        return false;
    }
    if (Options.transferBaud && !Options.lowSpeed) {
        // The rate the user asked for, when the chip's timer makes it.
        const StcRateChoice asked = OldStcTransferRate(Options.transferBaud, CrystalMHz, Family->familyCode);
        if (!asked.ok) {
            Host.EndDownload();
            Host.Log(StcRateRefusal(asked));
            return false;
        }
        Rate.baud = asked.baud;
        Rate.reload = static_cast<int>(asked.reload);
        Rate.chipRate = asked.chipRate;
        Rate.mended = false;
    }
    DownloadBaud = Rate.baud;
    Host.Log(QCoreApplication::translate("CMcuType", "下载波特率: %1 (重装值 %2，芯片实际 %3 波特)%4")
                 .arg(DownloadBaud)
                 .arg(QString::asprintf("%02X", static_cast<unsigned>(Rate.reload)))
                 .arg(Rate.chipRate, 0, 'f', 0)
                 .arg(Rate.mended ? QCoreApplication::translate("CMcuType", "；%1").arg(Rate.note) : QString()));
    return true;
}

// ---------------------------------------------------------------------------
// Family dispatch and the switch-and-erase operations

bool CMcuType::SwitchForFamily() {
    Host.Log(QCoreApplication::translate("CMcuType", "调整波特率..."));
    if (HandshakeBaud != 1200 && HandshakeBaud != 2400 && HandshakeBaud != 4800) {
        Host.Message(QCoreApplication::translate("CMcuType", "当前不支持这种晶振"));
        Host.EndDownload();
        return false;
    }
    const bool fixed = Options.lowSpeed;
    const uint32_t b = DownloadBaud;
    // The switch parameter: the head, the reload byte, the tail of the speed
    // mode; at high speed the driver parameter closes it.
    QByteArray p = hexBytes(Family->switchHead);
    p.append(static_cast<char>(Rate.reload));
    if (fixed) {
        p.append(hexBytes(Family->switchTailLow));
    } else {
        p.append(hexBytes(Family->switchTailHigh));
        p.append(static_cast<char>(DriverParameter));
    }
    ModelLabel = QString::fromUtf8(Family->label);
    if (Family->labelTakesModelByte) ModelLabel += QString::number(Status->model[1]);

    switch (Family->switchVariant) {
    case StcSwitchVariant::OneByte:
        if (fixed) {
            SwitchRate1 = SwitchRate2 = SwitchRate3 = static_cast<uint32_t>(HandshakeBaud);
        } else {
            SwitchRate1 = b;
            SwitchRate2 = kStcSwitchBackRate;
            SwitchRate3 = SwitchRate4 = b;
        }
        ReportVersion();
        return fixed ? SwitchAndEraseForm1Fixed(p) : SwitchAndEraseForm1(p);
    case StcSwitchVariant::TwoByte: {
        const QByteArray p1 = hexBytes(Family->prepareData) + ModelCode();
        if (fixed) {
            SwitchRate1 = SwitchRate2 = SwitchRate3 = SwitchRate4 = static_cast<uint32_t>(HandshakeBaud);
        } else {
            SwitchRate1 = kStcSwitchBackRate;
            SwitchRate2 = b;
            SwitchRate3 = kStcSwitchBackRate;
            SwitchRate4 = b;
        }
        ReportVersion();
        return fixed ? SwitchAndEraseForm2Fixed(p1, p, p) : SwitchAndEraseForm2(p1, p, p);
    }
    case StcSwitchVariant::Modern: break; // RunModernDownload
    }
    return false;
}

bool CMcuType::SwitchAndEraseForm1(const QByteArray& p) {
    // 8F at the handshake rate; its answer comes at the new rate.
    SendFrame(0x8F, p + hexBytes("81"), 1);
    if (!Reopen(SwitchRate1, kStcFirstSwitchPauseMs)) return false;
    if (!Exchange(0, {}, false, 1)) return StageFailed(Switch1LateText());
    Host.Log(Switch1DoneText());
    // Back at the handshake rate for 8E, whose answer comes at the new rate,
    // where the chip then stays.
    if (!Reopen(SwitchRate2, kStcFirstSwitchPauseMs)) return false;
    Host.SetReplyDelay(0);
    SendFrame(0x8E, p, 1);
    if (!Reopen(SwitchRate3, kStcSecondSwitchPauseMs)) return false;
    if (!Exchange(0, {}, false, 1)) return StageFailed(Switch2LateText());
    Host.Log(Switch2DoneText());
    return SendControlInfo() && EraseForm1();
}

bool CMcuType::SwitchAndEraseForm2(const QByteArray& p1, const QByteArray& p2, const QByteArray& p3) {
    if (!Configure(SwitchRate1) || !PrepareForm2(p1, p2)) return false;
    Host.Pause(kStcTwoByteSwitchPauseMs);
    if (!Reopen(SwitchRate2, 0)) return false;
    Host.SetReplyDelay(0);
    if (!Exchange(0, {}, false, 2)) return StageFailed(Switch2LateText());
    Host.Log(Switch2DoneText());
    Host.Log(ControlInfoText());
    if (!Reopen(SwitchRate3, 0)) return false;
    SendFrame(0x8E, p3, 2);
    if (!Reopen(SwitchRate4, 0)) return false;
    if (!Exchange(0, {}, false, 2)) return StageFailed(Switch2LateText());
    return EraseForm2();
}

bool CMcuType::SwitchAndEraseForm1Fixed(const QByteArray& p) {
    if (!Configure(SwitchRate1)) return false;
    if (!Exchange(0x8F, p + hexBytes("81"), true, 1)) return StageFailed(Switch1LateText());
    Host.Log(Switch1DoneText());
    Host.SetReplyDelay(0);
    if (!Exchange(0x8E, p, true, 1)) return StageFailed(Switch2LateText());
    Host.Log(Switch2DoneText());
    if (!SendControlInfo()) return false;
    if (!Reopen(SwitchRate3, 0)) return false;
    return EraseForm1();
}

bool CMcuType::SwitchAndEraseForm2Fixed(const QByteArray& p1, const QByteArray& p2, const QByteArray& p3) {
    if (!Configure(SwitchRate1) || !PrepareForm2(p1, p2)) return false;
    Host.SetReplyDelay(kStcFixedSwitchSettleMs);
    if (!Exchange(0, {}, false, 2)) return StageFailed(Switch2LateText());
    Host.Log(Switch2DoneText());
    Host.Log(ControlInfoText());
    if (!Exchange(0x8E, p3, true, 2)) return StageFailed(Switch2LateText());
    return EraseForm2();
}

bool CMcuType::PrepareForm2(const QByteArray& p1, const QByteArray& p2) {
    if (!Exchange(0x50, p1, true, 2)) return StageFailed(Switch1LateText());
    Host.Log(Switch1DoneText());
    SendFrame(0x8F, p2 + hexBytes("83"), 2);
    return true;
}

bool CMcuType::SendControlInfo() {
    Host.Log(ControlInfoText());
    for (int i = 0; i < kStcControlFrames; ++i)
        if (!Exchange(0x80, hexBytes("02003601") + ModelCode(), true, 1))
            return StageFailed(QCoreApplication::translate("CMcuType", "写芯片超时!"));
    return true;
}

// The one-byte families' erase of the pages the image and its zero block need.
bool CMcuType::EraseForm1() {
    Host.Log(QCoreApplication::translate("CMcuType", "正在擦除用户程序区..."));
    const QByteArray data = QByteArray(1, static_cast<char>(ErasePages())) + hexBytes("333333333333");
    if (!Exchange(0x84, data, true, 1)) return StageFailed(QCoreApplication::translate("CMcuType", "擦除失败!"));
    Host.Log(QCoreApplication::translate("CMcuType", "擦除用户程序区完成!"));
    Host.SetReplyDelay(kStcTransferSettleMs);
    return true;
}

// The two-byte families' fixed erase frame.
bool CMcuType::EraseForm2() {
    Host.Send(StcTwoByteEraseFrame(ErasePages()));
    if (!Exchange(0x84, {}, false, 2)) return StageFailed(QCoreApplication::translate("CMcuType", "擦除失败"));
    Host.SetReplyDelay(kStcTransferSettleMs);
    return true;
}

int CMcuType::BlocksToSend() const {
    const int n = static_cast<int>(Blocks.size());
    const int64_t closingAddress = static_cast<int64_t>(n - 1) * Family->blockSize;
    if (n > 1 && CodeFlashBytes > 0 && closingAddress >= CodeFlashBytes) return n - 1;
    return n;
}

uint8_t CMcuType::ErasePages() const {
    // The one-byte families erase what the blocks need; the two-byte
    // families' erase frame names 60 KB, or what the blocks need where they
    // reach beyond it (a 62 KB chip: flash that is not erased would keep
    // bits the writes cannot set).
    const int needed = StcErasePages(BlocksToSend() * Family->blockSize);
    const int pages =
        Family->switchVariant == StcSwitchVariant::OneByte ? needed : std::max<int>(kStcTwoByteErasePages, needed);
    if (CodeFlashBytes == 0) return static_cast<uint8_t>(pages);
    return static_cast<uint8_t>(std::min<int64_t>(pages, CodeFlashBytes / kStcPageSize));
}

// ---------------------------------------------------------------------------
// The block transfer: one write frame per block, each answered by the chip
// with the sum of the data it took; a block is sent again when its answer is
// late (or does not carry the right sum), and the transfer fails when it
// stays away.

bool CMcuType::SendBlocks() {
    Host.Log(QCoreApplication::translate("CMcuType", "正在下载数据,请稍侯... ..."));
    const int n = BlocksToSend();
    if (n < 1) return true;
    // The progress step counts the image blocks (the zero block after them
    // only fills the bar); a single block fills it at once.
    const int imageBlocks = static_cast<int>(Blocks.size()) - 1;
    const int step = imageBlocks > 0 ? 1024 / imageBlocks : 1024;
    const int form = Family->checksumForm;
    const uint8_t writeAnswer = Family->writeAnswer;
    auto answersWithSum = [form, writeAnswer](const QByteArray& received, uint8_t sum) {
        const StcScan scan = ScanStcFrames(received, form);
        return static_cast<int>(std::count_if(scan.frames.begin(), scan.frames.end(), [&](const StcChipFrame& f) {
            return IsStcWriteAnswer(f, writeAnswer) && static_cast<uint8_t>(f.payload[1]) == sum;
        }));
    };
    // The chip answers every copy of a block it takes, in order, and an
    // answer names only the data's sum.  A block sent again may therefore
    // still be answered after the next block has gone out; while the next
    // block has the same sum, that many answers do not count for it -- except
    // an answer that comes before any of those could (see EarlierCopies).
    WriteAnswersMayFollow = true;
    EarlierCopies earlier;
    uint16_t address = 0;
    for (int i = 0; i < n; ++i) {
        Host.ResetTicks();
        const QByteArray& block = Blocks[static_cast<size_t>(i)];
        const QByteArray frame = BuildWriteFrame(address, block, form);
        const uint8_t sum = dataSum(block);
        const bool alike = earlier.count > 0 && sum == earlier.sum;
        const int notOurs = alike ? earlier.count : 0;
        const int quietTicks = alike ? earlier.quietTicks : -1;
        int looks = 0;              // the judge's looks since the last copy went out
        int presentAtSend = -1;     // answers of this sum there when the first copy had gone out: not its own
        bool beforeEarlier = false; // answered while no earlier copy could be
        auto acknowledged = [&](const QByteArray& received) {
            const int answers = answersWithSum(received, sum);
            const bool arrivedSince = looks++ > 0;
            if (presentAtSend < 0) presentAtSend = answers;
            if (answers > notOurs) return true;
            if (arrivedSince && answers > presentAtSend && Host.Ticks() <= quietTicks) beforeEarlier = true;
            return beforeEarlier;
        };
        Host.Send(frame);
        int sends = 1;
        int firstResendTick = -1;
        address = static_cast<uint16_t>(address + Family->blockSize);
        int lastSend = 0;
        for (;;) {
            looks = 0;
            const WaitResult r = Host.Wait(std::min(lastSend + kStcBlockResendTicks, kStcBlockTicks), acknowledged);
            if (r == WaitResult::Replied) {
                // Answers of this block seen: those that came after an
                // earlier copy's could no longer (see EarlierCopies), else
                // those beyond the earlier copies'.  Each other copy sent may
                // still be answered.
                const int answers = answersWithSum(Host.Received(), sum);
                const int ours = beforeEarlier ? answers - presentAtSend : std::max(0, answers - notOurs);
                earlier = EarlierCopies::After(sends, ours, firstResendTick, looks > 1, sum);
                break;
            }
            if (r != WaitResult::TimedOut) {
                FailWait(r);
                return StageFailed(BlockFailedText());
            }
            if (Host.Ticks() > kStcBlockTicks) {
                Host.EndDownload();
                return StageFailed(BlockFailedText());
            }
            // The answers to the copies already sent still count.
            if (firstResendTick < 0) firstResendTick = Host.Ticks();
            Host.Send(frame, true);
            ++sends;
            lastSend = Host.Ticks();
        }
        Host.Progress(std::min(1024, step * (i + 1)));
    }
    return true;
}

// ---------------------------------------------------------------------------
// Closing frames

bool CMcuType::SendClosingFrames() {
    for (const StcClosingFrame& f : Family->closing) {
        if (!f.awaited) {
            SendFrame(f.command, hexBytes(f.data), f.form);
            continue;
        }
        if (!Exchange(f.command, hexBytes(f.data), true, f.form))
            return StageFailed(QCoreApplication::translate("CMcuType", "写数据超时"));
    }
    return true;
}

} // namespace talvo::protocol
