// The STC download sequence: the port, the handshake with its sync stream and
// RTS pulse, the crystal and the rate, the family dispatch, the transfer and
// the closing frames.
#include <QObject>

#include <algorithm>

#include "protocol/ChipTypes.h"
#include "protocol/Diagnosis.h"
#include "protocol/CMcuType.h"
#include "protocol/StcModels.h"

namespace talvo::protocol {

namespace {

const QString kSuccessDone = QString(39, u' ') + QStringLiteral("文 件 下 载 完 毕!");
const QString kSuccessWritten = QString(39, u' ') + QStringLiteral("数 据 下 载 成 功!");

// The bytes of a HexText frame.
QByteArray frameBytes(const QString& text) { return QByteArray::fromHex(text.toLatin1()); }

} // namespace

std::vector<QByteArray> StcBlocks(const QByteArray& image) {
    std::vector<QByteArray> blocks;
    for (qsizetype at = 0; at < image.size(); at += 128) {
        QByteArray b = image.mid(at, 128);
        b.append(QByteArray(128 - b.size(), '\0'));
        blocks.push_back(b);
    }
    blocks.push_back(QByteArray(128, '\0'));
    return blocks;
}

CMcuType::CMcuType(DownloadHost& host, StcOptions options) : Host(host), Options(std::move(options)) {}

void CMcuType::send(const QString& frameText) { Host.Send(frameBytes(frameText)); }

QString CMcuType::modelCode() const { return Status ? Status->modelText.mid(2, 4) : QString(); }

bool CMcuType::failWait(WaitResult result) {
    Host.EndDownload();
    if (result == WaitResult::PortLost) {
        Host.Log(PortLostText(Host.PortName()));
    } else if (result == WaitResult::Cancelled) {
        Host.Log(QStringLiteral("下载已取消"));
        Stopped = true;
    }
    return false;
}

bool CMcuType::StageFailed(const QString& line) {
    if (!Stopped) Host.Log(line);
    return false;
}

bool CMcuType::Exchange(const QString& command, const QString& data1, const QString& data2, bool send, int form) {
    Host.ResetTicks();
    if (send) this->send(BuildFrame(QStringLiteral("6A"), command, data1, data2, form));
    const int answer = answerForm();
    const bool skipWriteAnswers = WriteAnswersMayFollow;
    const WaitResult r = Host.Wait(kStcReplyTicks, [answer, skipWriteAnswers](const QByteArray& received) {
        const StcScan scan = ScanStcFrames(received, answer);
        return std::any_of(scan.frames.begin(), scan.frames.end(), [&](const StcChipFrame& f) {
            return !skipWriteAnswers || !IsStcWriteAnswer(f, answer);
        });
    });
    if (r != WaitResult::Replied) return failWait(r);
    Host.ResetTicks();
    return true;
}

void CMcuType::ReportVersion(const QString& label) {
    Host.Log(VersionLine(Status ? Status->versionText : QString()));
    Host.Log(label);
}

// ---------------------------------------------------------------------------
// Handshake

bool CMcuType::ConnectStc() {
    Host.StartSync();
    Host.Log(QStringLiteral("正在连机..."));
    const int form = FamilyCode == 0 ? 1 : answerForm();
    std::optional<StcStatus> status;
    QString heard;
    auto statusJudge = [&](const QByteArray& received) {
        const StcScan scan = ScanStcFrames(received, form, true);
        for (const StcChipFrame& f : scan.frames)
            if (auto s = ReadStcStatus(f)) {
                status = s;
                return true;
            }
        heard = scan.rejected;
        return false;
    };
    // The chip's supply is cut while RTS is set: the first ticks power it
    // off, then it starts its bootloader and hears the sync stream.
    Host.SetRts(true);
    WaitResult r = Host.Wait(kStcRtsTicks, statusJudge);
    if (r == WaitResult::TimedOut && Host.Ticks() <= kStcPumpStallTicks) {
        Host.SetRts(false);
        r = Host.Wait(kStcConnectTicks, statusJudge);
    }
    if (r == WaitResult::Replied) {
        Host.StopSync();
        Status = status;
        Host.ResetTicks();
        Host.SetReplyDelay(0);
        return true;
    }
    const QByteArray received = Host.Received();
    if (r == WaitResult::Cancelled) return failWait(r);
    // The count ran far past the limit while the program was served: the
    // system stalled (a converter that hangs), not the chip.  Read before
    // EndDownload resets it.
    const bool stalled = Host.Ticks() > kStcPumpStallTicks;
    Host.EndDownload();
    Host.Log(QStringLiteral("连接超时..."));
    if (r == WaitResult::PortLost || stalled) {
        if (r == WaitResult::PortLost)
            Host.Log(PortLostText(Host.PortName()));
        Host.Log(QStringLiteral("请拔掉USB 重试识别"));
        return false;
    }
    // Something came, but no whole status frame: say what, so that a wrong
    // rate or wiring can be told from silence.
    if (!received.isEmpty())
        Host.Log(QStringLiteral("收到 %1 字节，但没有完整的状态帧%2：%3")
                     .arg(received.size())
                     .arg(heard.isEmpty() ? QString() : QStringLiteral("（%1）").arg(heard))
                     .arg(QString::fromLatin1(received.left(24).toHex(' ')) + (received.size() > 24 ? " ..." : "")));
    Host.Log(Host.ConnectDiagnosis());
    return false;
}

bool CMcuType::CheckImageFits() {
    const uint16_t code = static_cast<uint16_t>(Status->model[0] << 8 | Status->model[1]);
    const QString hexCode = QStringLiteral("%1").arg(code, 4, 16, QLatin1Char('0')).toUpper();
    const std::optional<uint32_t> flash = StcCodeFlashBytes(code);
    if (!flash) {
        Host.Log(QStringLiteral("未知的型号代码 %1：芯片程序区大小未知，不检查文件大小").arg(hexCode));
        return true;
    }
    CodeFlashBytes = *flash;
    if (static_cast<int64_t>(Options.imageBytes) <= static_cast<int64_t>(CodeFlashBytes)) return true;
    // Refused while the chip still holds its old program.
    Host.EndDownload();
    Host.Log(QStringLiteral("文件大小 %1 字节超出芯片 %2（型号代码 %3）的程序区 %4 字节，未擦除也未写入")
                 .arg(Options.imageBytes)
                 .arg(StcModelName(code), hexCode)
                 .arg(CodeFlashBytes));
    return false;
}

int CMcuType::BlocksToSend() const {
    const int n = static_cast<int>(Options.blocks.size());
    const int64_t closingAddress = static_cast<int64_t>(n - 1) * kStcBlockSize;
    if (n > 1 && CodeFlashBytes > 0 && closingAddress >= CodeFlashBytes) return n - 1;
    return n;
}

uint8_t CMcuType::ErasePages(int form) const {
    // The one-byte families erase what the blocks need; the two-byte
    // families' erase frame names 60 KB, or what the blocks need where they
    // reach beyond it (a 62 KB chip: flash that is not erased would keep
    // bits the writes cannot set).
    const int needed = StcErasePages(BlocksToSend() * kStcBlockSize);
    const int pages = form == 1 ? needed : std::max<int>(kStcTwoByteErasePages, needed);
    if (CodeFlashBytes == 0) return static_cast<uint8_t>(pages);
    return static_cast<uint8_t>(std::min<int64_t>(pages, CodeFlashBytes / kStcPageSize));
}

bool CMcuType::MeasureAndChooseRate() {
    CrystalMHz = MeasureClock(Status->counts, HandshakeBaud, FamilyCode);
    Host.Log(QStringLiteral("晶振频率:") + FrequencyText(CrystalMHz) + QStringLiteral(" MHZ"));
    const bool sixClock = Status->modelText.startsWith(QLatin1String("fcf0"));
    Rate = ChooseDownloadBaud(CrystalMHz, HandshakeBaud, FamilyCode, sixClock);
    if (!Rate.ok) {
        // Refused before any switch: the chip stays at the handshake rate.
        Host.Log(QStringLiteral("无法为此晶振选择下载波特率：%1").arg(Rate.note));
        if (HandshakeBaud == kStcLowSpeedHandshake) {
            const RateChoice high = ChooseDownloadBaud(CrystalMHz, kStcHighSpeedHandshake, FamilyCode, sixClock);
            if (high.ok)
                Host.Log(QStringLiteral("低速下载无法用于此晶振，请选择“高速下载”（可用 %1 波特）").arg(high.baud));
        }
        Host.Message(QStringLiteral("当前不支持这种晶振"));
        Host.EndDownload();
        return false;
    }
    DownloadBaud = Rate.baud;
    ReloadText = QString::asprintf("%02x", static_cast<unsigned>(Rate.reload));
    Host.Log(QStringLiteral("下载波特率: %1 (重装值 %2，芯片实际 %3 波特)%4")
                 .arg(DownloadBaud)
                 .arg(ReloadText.toUpper())
                 .arg(Rate.chipRate, 0, 'f', 0)
                 .arg(Rate.mended ? QStringLiteral("；") + Rate.note : QString()));
    return true;
}

// ---------------------------------------------------------------------------
// Family dispatch

bool CMcuType::SwitchForFamily(int chipType) {
    const bool rateOk = HandshakeBaud == 1200 || HandshakeBaud == 2400 || HandshakeBaud == 4800;
    if (!rateOk || chipType < 1 || chipType > 4) {
        Host.Message(QStringLiteral("当前不支持这种晶振"));
        Host.EndDownload();
        return false;
    }
    const ChipTypeInfo& info = ChipTypeAt(chipType);
    const QString rr = ReloadText;
    const QString dd = DriverParameter;
    const bool fixed = HandshakeBaud == 4800;
    const uint32_t b = DownloadBaud;

    ModelLabel = QString::fromUtf8(info.label);
    if (info.labelTakesModelByte && Status) ModelLabel += QString::number(Status->model[1]);

    if (info.familyCode == 1) {
        const QString p = fixed ? QStringLiteral("FF") + rr + QStringLiteral("009C50")
                                : QStringLiteral("FF") + rr + QStringLiteral("0014") + dd;
        if (fixed) {
            SwitchRate1 = SwitchRate2 = SwitchRate3 = 4800;
        } else {
            SwitchRate1 = b;
            SwitchRate2 = 1200;
            SwitchRate3 = SwitchRate4 = b;
        }
        ReportVersion(ModelLabel);
        return fixed ? SwitchAndEraseForm1Fixed(p) : SwitchAndEraseForm1(p);
    }
    const QString p1 = QString::fromLatin1(info.prepareData) + modelCode();
    const QString p23 = fixed ? QStringLiteral("C0") + rr + QStringLiteral("3FFE50")
                              : QStringLiteral("C0") + rr + QStringLiteral("3F1A") + dd;
    if (fixed) {
        SwitchRate1 = SwitchRate2 = SwitchRate3 = SwitchRate4 = 4800;
    } else {
        SwitchRate1 = 1200;
        SwitchRate2 = b;
        SwitchRate3 = 1200;
        SwitchRate4 = b;
    }
    ReportVersion(ModelLabel);
    return fixed ? SwitchAndEraseForm2Fixed(p1, p23, p23) : SwitchAndEraseForm2(p1, p23, p23);
}

// ---------------------------------------------------------------------------
// Closing frames and the whole sequence

bool CMcuType::SendClosingFrames() {
    switch (ChipTypeAt(Options.chipType).closing) {
    case StcClosing::OptionsThenEnd:
        if (!Exchange(QStringLiteral("8D"), QStringLiteral("FDFFF3FF"), {}, true, 1) ||
            !Exchange(QStringLiteral("82"), {}, {}, true, 1))
            return StageFailed(QStringLiteral("写数据超时"));
        return true;
    case StcClosing::SixtyNineThenEnd:
        if (!Exchange(QStringLiteral("69"), QStringLiteral("07003601D17E"), {}, true, 2))
            return StageFailed(QStringLiteral("写数据超时"));
        send(BuildFrame(QStringLiteral("6A"), QStringLiteral("82"), {}, {}, 1));
        return true;
    case StcClosing::EndOnly:
        send(BuildFrame(QStringLiteral("6A"), QStringLiteral("82"), {}, {}, 1));
        return true;
    }
    return false;
}

DownloadReport CMcuType::RunStcDownload() {
    DownloadReport report;
    report.bytes = Options.imageBytes;
    // The last line the download wrote, for the report of a failure.
    auto finish = [&](bool ok) {
        report.success = ok;
        report.chip = ModelLabel;
        report.crystalMHz = CrystalMHz;
        report.baud = DownloadBaud;
        return report;
    };

    const ChipTypeInfo& info = ChipTypeAt(Options.chipType);
    DriverParameter = Options.driverParameter;
    if (Options.lowSpeed) {
        HandshakeBaud = kStcLowSpeedHandshake;
        Host.SetReplyDelay(kStcLowSpeedSettleMs);
        DriverParameter = QStringLiteral("28");
    } else {
        HandshakeBaud = kStcHighSpeedHandshake;
        Host.SetReplyDelay(kStcHighSpeedSettleMs);
    }
    FamilyCode = info.familyCode;

    if (!Host.OpenPort(static_cast<uint32_t>(HandshakeBaud), StcParity(info.familyCode), kStcStatusEventChar)) {
        Host.EndDownload();
        Host.Log(Host.PortDiagnosis());
        return finish(false);
    }
    Host.StartReader();
    if (!ConnectStc()) return finish(false);

    if (info.familyCode == 0) {
        Host.Log(QStringLiteral(" 不支持这种MCU"));
        return finish(false);
    }
    if (!CheckImageFits()) return finish(false);
    if (!MeasureAndChooseRate()) return finish(false);
    Host.Log(QStringLiteral("调整波特率..."));
    if (!SwitchForFamily(Options.chipType)) return finish(false);
    if (!SendBlocks(FamilyCode)) return finish(false);
    if (!SendClosingFrames()) return finish(false);

    Host.Log(kSuccessDone);
    Host.Log(kSuccessWritten);
    Host.StopSync();
    Host.Progress(0);
    Host.ClosePort();
    return finish(true);
}

} // namespace talvo::protocol
