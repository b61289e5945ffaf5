// The STC download's steps for the STC15A, STC15 and STC8 bootloaders: the
// status frame read into its fields, the RC oscillator trimmed to the user
// frequency, the rate switch, prepare, erase, block writes, finish, the
// option block (the chip's option bytes kept, the new trim and frequency
// written) and the closing frame.
#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <cmath>

#include "protocol/CMcuType.h"
#include "protocol/Diagnosis.h"
#include "protocol/StcModels.h"
#include "protocol/StcTransferRate.h"

namespace talvo::protocol {

namespace {

QString SwitchDoneText() { return QCoreApplication::translate("CMcuType", "调整波特率1完成!"); }
QString SwitchLateText() { return QCoreApplication::translate("CMcuType", "调整波特率一超时"); }
QString BlockFailedText() { return QCoreApplication::translate("CMcuType", "写数据失败，重试!"); }
// "校准频率失败：" and why.
QString CalibrationFailedText(const QString& why) {
    return QCoreApplication::translate("CMcuType", "校准频率失败：%1").arg(why);
}

constexpr uint8_t kPulse = 0xFE;       // STC15/STC8 calibration pulse
constexpr uint8_t kStc15aPulse = 0x7F; // STC15A calibration pulse
// STC8G/8H1K below this target use the STC8H procedure (bands 00-30).
constexpr double kStc8gLowestHz = 27360000.0;

QString Mhz(double hz) { return QString::number(hz / 1e6, 'f', 4); }

QByteArray Bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values) b.append(static_cast<char>(v));
    return b;
}

void AppendWord(QByteArray* b, unsigned w) {
    b->append(static_cast<char>(w >> 8));
    b->append(static_cast<char>(w));
}

} // namespace

// ---------------------------------------------------------------------------
// The modern download, step by step

bool CMcuType::RunModernDownload() {
    QString why;
    const auto family = StcModernFamilyOfStatus(StatusPayload, &why);
    if (family) Modern = ReadStcModernStatus(StatusPayload, *family, &why);
    if (!Modern || !QString::fromLatin1(Family->modernProtocols).split(u' ').contains(StcModernFamilyKey(Modern->family))) {
        Host.EndDownload();
        Host.Log(QCoreApplication::translate("CMcuType", "无法读取芯片的状态帧：%1")
                     .arg(why.isEmpty() ? QStringLiteral("not of this chip type") : why));
        return false;
    }
    ModelLabel = StcModelName(Modern->modelCode);
    Host.Log(QStringLiteral("MCU Version:") + Modern->versionText);
    return ModernChooseTarget() && ModernHandshake() && ModernCalibrate() && ModernChooseRate() && ModernSwitch() &&
           ModernPrepare() && ModernErase() && ModernWrite() && ModernFinish() && ModernOptions() &&
           (ModernLeave(), true);
}

bool CMcuType::ModernChooseTarget() {
    const StcCurrentClock now = CurrentStcClock(*Modern, HandshakeBaud);
    if (now.source != StcCurrentClock::Source::Untrimmed)
        Host.Log(QCoreApplication::translate("CMcuType", "用户程序当前运行频率: %1 MHz%2")
                     .arg(Mhz(now.hz))
                     .arg(now.source == StcCurrentClock::Source::External
                              ? QCoreApplication::translate("CMcuType", "（外部时钟）")
                              : QString()));
    if (now.source == StcCurrentClock::Source::External) {
        // No RC to trim: the chip runs on its crystal or external clock.
        TargetHz = now.hz;
        return true;
    }
    if (Options.userHz > 0) {
        TargetHz = Options.userHz;
        return true;
    }
    if (now.source == StcCurrentClock::Source::Untrimmed) {
        // Never trimmed: the RC runs at its factory setting, which is the
        // clock the bootloader runs on now.  Trim to the common frequency
        // nearest to it (within 3 %), so that the program runs as the chip
        // does today; another frequency takes --freq.
        if (now.bootClockHz <= 0) {
            Host.EndDownload();
            Host.Log(QCoreApplication::translate("CMcuType",
                                                 "芯片的内部RC振荡器从未校准，不知道用户程序应运行的频率：请指定目标频率"
                                                 "（talvo download --freq MHZ）"));
            return false;
        }
        TargetHz = NearestCommonStcFrequency(now.bootClockHz);
        Host.Log(QCoreApplication::translate(
                     "CMcuType", "芯片的内部RC振荡器从未校准：按芯片现在运行的频率 %1 MHz 校准（另选频率：talvo download --freq MHZ）")
                     .arg(Mhz(TargetHz)));
        return true;
    }
    TargetHz = now.hz;
    return true;
}

bool CMcuType::ModernHandshake() {
    if (!IsModernProtocol(StcModernFamily::Stc15a)) return true;
    QByteArray p = Bytes({0x50, 0x00, 0x00, 0x36, 0x01});
    AppendWord(&p, Modern->modelCode);
    return ModernExchange(StcModernStep::Handshake, p, kStcModernReplyTicks, SwitchLateText()).has_value();
}

bool CMcuType::ModernCalibrate() {
    if (IsModernProtocol(StcModernFamily::Stc15) && !Modern->internalRc) {
        // External clock: the switch carries the factory trim for 24 MHz and
        // a reload from the measured clock; the option block keeps 24 MHz.
        ProgramTrim = UserTrim = StcTrim{Modern->factoryTrim24, 0x40};
        ProgramHz = ReachedHz = TargetHz;
        return true;
    }
    Host.Log(QCoreApplication::translate("CMcuType", "校准频率... 目标 %1 MHz").arg(Mhz(TargetHz)));
    const bool ok = IsModernProtocol(StcModernFamily::Stc15a) ? Calibrate15a()
                    : IsModernProtocol(StcModernFamily::Stc15) ? Calibrate15()
                                                               : Calibrate8();
    if (!ok) return false;
    Host.Log(QCoreApplication::translate("CMcuType", "校准频率完成: 目标 %1 MHz，实际 %2 MHz（误差 %3%，微调值 %4）")
                 .arg(Mhz(TargetHz), Mhz(ReachedHz))
                 .arg((ReachedHz / TargetHz - 1) * 100, 0, 'f', 2)
                 .arg(QStringLiteral("%1").arg(UserTrim.word(), 4, 16, QLatin1Char('0')).toUpper()));
    return true;
}

bool CMcuType::Calibrate15a() {
    const StcModernFamily fam = StcModernFamily::Stc15a;
    Stc15aHigh = Options.stc15aHighSpeed.value_or(!Options.lowSpeed);
    const double user = StcTrimCount(fam, TargetHz, HandshakeBaud);
    ProgramHz = Stc15aHigh ? kStcHighSpeedHz : kStcNormalSpeedHz;
    QString why;
    const auto round1 = Stc15aFirstRound(TargetHz, Stc15aHigh, &why);
    if (!round1) return Host.EndDownload(), StageFailed(CalibrationFailedText(why));
    const auto counts1 = CalibrationRound(*round1, 0);
    if (!counts1) return false;
    const auto program = Stc15aProgrammingTrim(*round1, *counts1, StcTrimCount(fam, ProgramHz, HandshakeBaud), &why);
    const auto round2 = program ? Stc15aSecondRound(*round1, *counts1, user, &why) : std::nullopt;
    if (!round2) return Host.EndDownload(), StageFailed(CalibrationFailedText(why));
    const auto counts2 = CalibrationRound(*round2, 0);
    if (!counts2) return false;
    const int best = NearestCount(*counts2, user);
    UserTrim = (*round2)[static_cast<size_t>(best)];
    ProgramTrim = *program;
    ReachedHz = StcTrimFrequency(fam, (*counts2)[static_cast<size_t>(best)], HandshakeBaud);
    return true;
}

bool CMcuType::Calibrate15() {
    const StcModernFamily fam = StcModernFamily::Stc15;
    const double user = StcTrimCount(fam, TargetHz, HandshakeBaud);
    const double program = StcTrimCount(fam, kStcHighSpeedHz, HandshakeBaud);
    const std::vector<StcTrim> round1 = Stc15FirstRound();
    const auto counts1 = CalibrationRound(round1, kStcCalibrationSlots);
    if (!counts1) return false;
    QString why;
    auto u = Stc15Estimate(round1, *counts1, user, &why);
    auto p = u ? Stc15Estimate(round1, *counts1, program, &why) : std::nullopt;
    if (!u || !p) return Host.EndDownload(), StageFailed(CalibrationFailedText(why));
    // A window whose counts all lie on one side of a target is moved to its
    // nearest trim and measured once more.
    constexpr int kWindow = kStcCalibrationSlots / 2;
    constexpr int kRounds = 2;
    for (int round = 0;; ++round) {
        const std::vector<StcTrim> trims = Stc15SecondRound(*u, *p);
        const auto counts = CalibrationRound(trims, 0);
        if (!counts) return false;
        const int ui = NearestCount(*counts, user, 0, kWindow);
        const int pi = NearestCount(*counts, program, kWindow, kWindow);
        const bool again = StcCountsOneSided(*counts, user, 0, kWindow) ||
                           StcCountsOneSided(*counts, program, kWindow, kWindow);
        if (!again || round + 1 == kRounds) {
            UserTrim = trims[static_cast<size_t>(ui)];
            ProgramTrim = trims[static_cast<size_t>(pi)];
            ReachedHz = StcTrimFrequency(fam, (*counts)[static_cast<size_t>(ui)], HandshakeBaud);
            // The chip's programming clock as measured: its reload follows it.
            ProgramHz = StcTrimFrequency(fam, (*counts)[static_cast<size_t>(pi)], HandshakeBaud);
            return true;
        }
        u = trims[static_cast<size_t>(ui)];
        p = trims[static_cast<size_t>(pi)];
    }
}

bool CMcuType::Calibrate8() {
    // STC8G/8H1K parts below 27.36 MHz and STC8H parts use the banded
    // procedure; the STC8A/8F the coarse-fine one.
    StcModernFamily fam = Modern->family;
    if (fam == StcModernFamily::Stc8g && TargetHz < kStc8gLowestHz) fam = StcModernFamily::Stc8d;
    ProgramHz = kStc8ProgramHz;
    QString why;
    std::optional<Stc8Estimate> estimate;
    if (fam == StcModernFamily::Stc8) {
        // Two trims first (enough where the divided clock lies between
        // them), every coarse step where it does not.
        for (const Stc8FirstRoundKind kind : {Stc8FirstRoundKind::Narrow, Stc8FirstRoundKind::Wide}) {
            const std::vector<StcTrim> round1 = Stc8FirstRound(kind);
            const auto counts1 = CalibrationRound(round1, 0);
            if (!counts1) return false;
            if ((estimate = Stc8EstimateTrim(fam, round1, *counts1, TargetHz, HandshakeBaud, &why))) break;
        }
    } else {
        const std::vector<StcTrim> round1 = fam == StcModernFamily::Stc8g ? Stc8gFirstRound() : Stc8dFirstRound();
        const auto counts1 = CalibrationRound(round1, 0);
        if (!counts1) return false;
        estimate = Stc8EstimateTrim(fam, round1, *counts1, TargetHz, HandshakeBaud, &why);
    }
    if (!estimate) return Host.EndDownload(), StageFailed(CalibrationFailedText(why));
    const std::vector<StcTrim> round2 =
        fam == StcModernFamily::Stc8 ? Stc8SecondRound(estimate->trim, true) : Stc8dSecondRound(estimate->trim);
    const auto counts2 = CalibrationRound(round2, 0);
    if (!counts2) return false;
    const int best = NearestCount(*counts2, estimate->target);
    UserTrim = round2[static_cast<size_t>(best)];
    Divider = estimate->divider;
    ReachedHz = StcTrimFrequency(fam, (*counts2)[static_cast<size_t>(best)], HandshakeBaud, Divider);
    return true;
}

std::optional<std::vector<uint16_t>> CMcuType::CalibrationRound(const std::vector<StcTrim>& challenges, int slotCount) {
    const bool a15 = IsModernProtocol(StcModernFamily::Stc15a);
    const int n = static_cast<int>(challenges.size());
    QByteArray p;
    if (a15) {
        p = QByteArray(1, char(0x65)) + Modern->trimConstants + Bytes({0xFF, 0xFF, 0x06, n});
        for (const StcTrim& t : challenges) p += Bytes({t.first, t.second, 0x02, 0x00});
    } else {
        p = Bytes({0x00, n});
        for (const StcTrim& t : challenges) p += Bytes({t.first, t.second});
        if (slotCount > n) p += QByteArray(2 * (slotCount - n), '\0');
    }
    // The chip measures one trim per pulse; the STC8G's rounds carry filler
    // bytes right after the frame.
    const bool stc8g = IsModernProtocol(StcModernFamily::Stc8g) && TargetHz >= kStc8gLowestHz;
    const int filler = !stc8g ? 0 : n == static_cast<int>(Stc8gFirstRound().size()) ? kStc8gFirstRoundFiller
                                                                                     : kStc8gSecondRoundFiller;
    const QByteArray pulses(n, static_cast<char>(a15 ? kStc15aPulse : kPulse));
    Host.ResetTicks();
    Host.Send(BuildFrame(static_cast<uint8_t>(p[0]), p.mid(1), 2) + QByteArray(filler, char(kStc8gFillerByte)) + pulses);
    auto answered = [](const QByteArray& received) { return !ScanStcFrames(received, 2).frames.empty(); };
    WaitResult r = WaitResult::TimedOut;
    for (;;) {
        r = Host.Wait(std::min(Host.Ticks() + kStcPulseRepeatTicks, kStcCalibrationTicks), answered);
        if (r != WaitResult::TimedOut || Host.Ticks() > kStcCalibrationTicks) break;
        // Silence: more pulses (a chip that missed some measures on).
        Host.Send(pulses, true);
    }
    if (r != WaitResult::Replied) {
        FailWait(r);
        StageFailed(CalibrationFailedText(QCoreApplication::translate("CMcuType", "芯片没有回答校准命令")));
        return std::nullopt;
    }
    const StcChipFrame f = ScanStcFrames(Host.Received(), 2).frames.front();
    const StcModernAnswer a = ReadStcModernAnswer(Modern->family, StcModernStep::Calibration, f.payload, p);
    if (!a.ok) {
        Host.EndDownload();
        StageFailed(CalibrationFailedText(a.why));
        return std::nullopt;
    }
    Host.ResetTicks();
    return a.counts;
}

bool CMcuType::ModernChooseRate() {
    const uint32_t baud = Options.transferBaud ? Options.transferBaud
                          : Options.lowSpeed   ? static_cast<uint32_t>(HandshakeBaud)
                                               : kStcModernHighSpeedBaud;
    StcRateChoice rate;
    if (IsModernProtocol(StcModernFamily::Stc15a))
        rate = Stc15aTransferRate(baud, Stc15aHigh);
    else if (IsModernProtocol(StcModernFamily::Stc15))
        rate = Stc15TransferRate(baud, ProgramHz, Stc15HasUart(Modern->modelCode));
    else
        rate = Stc8TransferRate(baud, ProgramHz);
    if (!rate.ok) {
        // Refused before the switch: the chip keeps its program.
        Host.EndDownload();
        Host.Log(StcRateRefusal(rate));
        return false;
    }
    DownloadBaud = baud;
    SwitchReload = rate.reload;
    if (IsModernProtocol(StcModernFamily::Stc15) && !Stc15HasUart(Modern->modelCode))
        SwitchReload2 = Stc15UartlessReload2(baud, ProgramHz);
    Host.Log(QCoreApplication::translate("CMcuType", "下载波特率: %1 (重装值 %2，芯片实际 %3 波特)")
                 .arg(DownloadBaud)
                 .arg(QString::number(SwitchReload, 16).toUpper())
                 .arg(rate.chipRate, 0, 'f', 0));
    return true;
}

bool CMcuType::ModernSwitch() {
    Host.Log(QCoreApplication::translate("CMcuType", "调整波特率..."));
    if (IsModernProtocol(StcModernFamily::Stc15a)) {
        // The chip answers at the new rate.  The host takes it as soon as the
        // frame has left (the configure waits for that): a chip, or a fast
        // converter, may answer well before the 0.1 s other hosts pause here,
        // and bytes received at the old rate would be garbled.
        const QByteArray p = Bytes({0x8E, ProgramTrim.first, ProgramTrim.second, static_cast<int>(SwitchReload), 0xA1,
                                    0x64, Stc15aHigh ? 0xB8 : 0xDC, 0x00, Stc15aHigh ? 0x81 : 0x83, 0x20, 0xFF, 0x00});
        Host.ResetTicks();
        Host.Send(BuildFrame(0x8E, p.mid(1), 2));
        if (!Configure(DownloadBaud)) return false;
        if (!ModernExchange(StcModernStep::Switch, p, kStcModernReplyTicks, SwitchLateText(), false)) return false;
        Host.Log(SwitchDoneText());
        return true;
    }
    QByteArray p = Bytes({0x01});
    if (IsStc8Protocol()) {
        p += Bytes({0x00, 0x00});
    } else {
        p += Bytes({ProgramTrim.first, ProgramTrim.second});
    }
    AppendWord(&p, static_cast<unsigned>(SwitchReload));
    if (IsModernProtocol(StcModernFamily::Stc15) && !Stc15HasUart(Modern->modelCode))
        AppendWord(&p, SwitchReload2);
    else
        p += Bytes({UserTrim.second, UserTrim.first});
    const bool newer = IsModernProtocol(StcModernFamily::Stc8d) || IsModernProtocol(StcModernFamily::Stc8g);
    p.append(static_cast<char>(newer ? kStc8NewerFlashWait : StcFlashWait(ProgramHz)));
    // The answer comes at the handshake rate; then both sides change.
    if (!ModernExchange(StcModernStep::Switch, p, kStcModernReplyTicks, SwitchLateText())) return false;
    if (IsModernProtocol(StcModernFamily::Stc15) && !Host.Pause(kStcModernSwitchPauseMs))
        return FailWait(WaitResult::Cancelled);
    if (!Configure(DownloadBaud)) return false;
    Host.Log(SwitchDoneText());
    return true;
}

QByteArray CMcuType::WithMarker(uint8_t command, const char* withoutMarker) const {
    QByteArray p(1, static_cast<char>(command));
    if (Modern->marker) return p + Bytes({0x00, 0x00, 0x5A, 0xA5});
    return p + QByteArray::fromHex(withoutMarker);
}

bool CMcuType::ModernPrepare() {
    if (IsModernProtocol(StcModernFamily::Stc15a)) return true;
    return ModernExchange(StcModernStep::Prepare, WithMarker(0x05), kStcModernReplyTicks,
                          QCoreApplication::translate("CMcuType", "芯片没有回答准备命令"))
        .has_value();
}

bool CMcuType::ModernErase() {
    Host.Log(QCoreApplication::translate("CMcuType", "正在擦除用户程序区..."));
    QByteArray p;
    if (IsModernProtocol(StcModernFamily::Stc15a)) {
        // Pages of 256 bytes: those of the image, and the whole code flash.
        const int flash = CodeFlashBytes ? static_cast<int>(CodeFlashBytes) : static_cast<int>(Options.image.size());
        p = Bytes({0x84, 0xFF, 0x00, StcErasePages(static_cast<int>(Options.image.size())), 0x00, 0x00,
                   StcErasePages(flash)});
        p += QByteArray(12, '\0');
        for (int b = 0x80; b >= 0x5F; --b) p.append(static_cast<char>(b));
    } else {
        p = WithMarker(0x03, "00");
    }
    const auto a =
        ModernExchange(StcModernStep::Erase, p, kStcEraseTicks, QCoreApplication::translate("CMcuType", "擦除失败!"));
    if (!a) return false;
    Uid = a->uid;
    Host.Log(QCoreApplication::translate("CMcuType", "擦除用户程序区完成!"));
    return true;
}

int CMcuType::ModernBlockSize() const {
    // The STC15A's write frame holds 64 bytes.  The maker's tool writes 128
    // on the larger STC15 parts and 64 on the 4 KB ones; 64 is all that is
    // known to work on STC8 parts.
    if (IsModernProtocol(StcModernFamily::Stc15) && CodeFlashBytes >= 8192) return 128;
    return 64;
}

bool CMcuType::ModernWrite() {
    Host.Log(QCoreApplication::translate("CMcuType", "正在下载数据,请稍侯... ..."));
    const int size = ModernBlockSize();
    const bool a15 = IsModernProtocol(StcModernFamily::Stc15a);
    const int n = static_cast<int>((Options.image.size() + size - 1) / size);
    for (int i = 0; i < n; ++i) {
        QByteArray block = Options.image.mid(static_cast<qsizetype>(i) * size, size);
        block.append(QByteArray(size - block.size(), '\0'));
        const unsigned address = static_cast<unsigned>(i * size);
        QByteArray p;
        if (a15) {
            p = Bytes({0x00, 0x00, 0x00});
            AppendWord(&p, address);
            AppendWord(&p, static_cast<unsigned>(size));
        } else {
            p = Bytes({i == 0 ? 0x22 : 0x02});
            AppendWord(&p, address);
            if (Modern->marker) p += Bytes({0x5A, 0xA5});
        }
        if (!ModernExchange(StcModernStep::Write, p + block, kStcModernBlockTicks, BlockFailedText())) return false;
        Host.Progress(std::min(1024, 1024 * (i + 1) / n));
    }
    return true;
}

bool CMcuType::ModernFinish() {
    if (IsModernProtocol(StcModernFamily::Stc15a)) {
        QByteArray p = Bytes({0x69, 0x00, 0x00, 0x36, 0x01});
        AppendWord(&p, Modern->modelCode);
        return ModernExchange(StcModernStep::Finish, p, kStcModernReplyTicks,
                              QCoreApplication::translate("CMcuType", "写数据超时"))
            .has_value();
    }
    // Bootloaders from 7.2 on close the writes with 07.
    if (!Modern->marker) return true;
    return ModernExchange(StcModernStep::Finish, WithMarker(0x07), kStcModernReplyTicks,
                          QCoreApplication::translate("CMcuType", "写数据超时"))
        .has_value();
}

bool CMcuType::ModernOptions() {
    // The option bytes go back as the chip has them; the trim and the
    // frequency are the new ones.
    const QByteArray& mcs = Modern->options;
    auto mcsAt = [&](int i) { return i < mcs.size() ? static_cast<uint8_t>(mcs[i]) : 0xFF; };
    const uint32_t hz = static_cast<uint32_t>(std::lround(ReachedHz));
    QByteArray p;
    if (IsModernProtocol(StcModernFamily::Stc15a)) {
        p = QByteArray(1, char(0x8D)) + mcs.left(13);
        p.resize(1 + 13, char(0xFF));
        p[1 + 3] = static_cast<char>(UserTrim.first);
        p[1 + 4] = static_cast<char>(UserTrim.second);
        p += QByteArray(6, char(0xFF));
    } else if (IsModernProtocol(StcModernFamily::Stc15)) {
        // MCS2, MCS3, MCS4, MCSX, MCSY (STC15W4).
        QByteArray b(64, char(0xFF));
        const uint32_t stored = Modern->internalRc ? hz : 24000000u;
        for (int k = 0; k < 4; ++k) b[23 + 2 * k] = static_cast<char>(stored >> (24 - 8 * k));
        b[31] = static_cast<char>(mcsAt(3));
        b[55] = static_cast<char>(mcsAt(4));
        b[59] = static_cast<char>(UserTrim.first);
        b[60] = static_cast<char>(UserTrim.second + 0x3F);
        for (int k = 0; k < 3; ++k) b[61 + k] = static_cast<char>(mcsAt(k));
        p = WithMarker(0x04, "0000") + b;
    } else {
        // MCS0..MCS4.
        QByteArray b(40, char(0xFF));
        b[3] = b[6] = b[22] = '\0';
        for (int k = 0; k < 4; ++k) b[24 + k] = static_cast<char>(hz >> (24 - 8 * k));
        b[28] = static_cast<char>(UserTrim.first);
        b[29] = static_cast<char>(UserTrim.second);
        b[30] = static_cast<char>(Divider);
        b[32] = static_cast<char>(mcsAt(0));
        for (int k = 0; k < 4; ++k) b[36 + k] = static_cast<char>(mcsAt(1 + k));
        p = WithMarker(0x04) + b;
    }
    return ModernExchange(StcModernStep::Options, p, kStcModernReplyTicks,
                          QCoreApplication::translate("CMcuType", "写数据超时"))
        .has_value();
}

void CMcuType::ModernLeave() {
    // The chip starts the user program; it does not answer.
    SendFrame(IsStc8Protocol() ? 0xFF : 0x82, {}, 2);
}

std::optional<StcModernAnswer> CMcuType::ModernExchange(StcModernStep step, const QByteArray& payload, int ticks,
                                                        const QString& failLine, bool send) {
    Host.ResetTicks();
    if (send) SendFrame(static_cast<uint8_t>(payload[0]), payload.mid(1), 2);
    const WaitResult r =
        Host.Wait(ticks, [](const QByteArray& received) { return !ScanStcFrames(received, 2).frames.empty(); });
    if (r != WaitResult::Replied) {
        FailWait(r);
        StageFailed(failLine);
        return std::nullopt;
    }
    Host.ResetTicks();
    const StcChipFrame f = ScanStcFrames(Host.Received(), 2).frames.front();
    const StcModernAnswer a = ReadStcModernAnswer(Modern->family, step, f.payload, payload);
    if (!a.ok) {
        Host.EndDownload();
        if (a.locked) {
            StageFailed(QCoreApplication::translate("CMcuType", "芯片已被密码锁定（准备命令的回答为 0F），无法下载"));
        } else {
            StageFailed(QCoreApplication::translate("CMcuType", "%1：%2").arg(failLine, a.why));
        }
        return std::nullopt;
    }
    return a;
}

} // namespace talvo::protocol
