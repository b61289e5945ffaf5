// The four switch-and-erase operations: the link moves from the handshake
// rate to the download rate in two acknowledged steps, the one-byte families
// get their control information, and the chip's program area is erased.
#include "protocol/CMcuType.h"

namespace talvo::protocol {

namespace {
const QString k6A = QStringLiteral("6A");
const QString kSwitch1Done = QStringLiteral("调整波特率1完成!");
const QString kSwitch2Done = QStringLiteral("调整波特率2完成!");
const QString kSwitch1Late = QStringLiteral("调整波特率一超时");
const QString kSwitch2Late = QStringLiteral("调整波特率二超时");
const QString kControlInfo = QStringLiteral("正在发送控制信息...");
constexpr int kControlFrames = 5;
} // namespace

bool CMcuType::reopen(uint32_t baud, int pauseMs) {
    Host.ClosePort();
    if (pauseMs > 0) Host.Pause(pauseMs);
    if (Host.OpenPort(baud, parity(), kStcReplyEventChar)) return true;
    Host.EndDownload();
    return false;
}

bool CMcuType::configure(uint32_t baud) {
    QString reason;
    if (Host.ConfigurePort(baud, parity(), kStcReplyEventChar, &reason)) return true;
    // Carrying on at the old rate would only time out later.
    Host.EndDownload();
    Host.Log(QStringLiteral("串口 %1 无法设置为 %2 波特%3：%4")
                 .arg(Host.PortName())
                 .arg(baud)
                 .arg(parity() ? QStringLiteral("（偶校验）") : QString())
                 .arg(reason));
    return false;
}

// The one-byte families' control information: five times, each answered.
static bool sendControlInfo(CMcuType& mcu, DownloadHost& host, const QString& modelCode) {
    host.Log(kControlInfo);
    for (int i = 0; i < kControlFrames; ++i) {
        if (!mcu.Exchange(QStringLiteral("80"), QStringLiteral("02003601") + modelCode, {}, true, 1))
            return mcu.StageFailed(QStringLiteral("写芯片超时!"));
    }
    return true;
}

// The one-byte families' erase of the pages the image and its zero block need.
static bool eraseForm1(CMcuType& mcu, DownloadHost& host) {
    host.Log(QStringLiteral("正在擦除用户程序区..."));
    const QString pages = QString::asprintf("%02X", mcu.ErasePages(1));
    if (!mcu.Exchange(QStringLiteral("84"), pages + QStringLiteral("333333333333"), {}, true, 1))
        return mcu.StageFailed(QStringLiteral("擦除失败!"));
    host.Log(QStringLiteral("擦除用户程序区完成!"));
    host.SetReplyDelay(kStcTransferSettleMs);
    return true;
}

// The two-byte families' fixed erase frame.
static bool eraseForm2(CMcuType& mcu, DownloadHost& host) {
    host.Send(StcTwoByteEraseFrame(mcu.ErasePages(2)));
    if (!mcu.Exchange(QStringLiteral("84"), {}, {}, false, 2)) return mcu.StageFailed(QStringLiteral("擦除失败"));
    host.SetReplyDelay(kStcTransferSettleMs);
    return true;
}

bool CMcuType::SwitchAndEraseForm1(const QString& p) {
    // 8F at the handshake rate; its answer comes at the new rate.
    send(BuildFrame(k6A, QStringLiteral("8F"), p, QStringLiteral("81"), 1));
    if (!reopen(SwitchRate1, 20)) return false;
    if (!Exchange({}, {}, {}, false, 1)) return StageFailed(kSwitch1Late);
    Host.Log(kSwitch1Done);
    // Back at the handshake rate for 8E, whose answer comes at the new rate,
    // where the chip then stays.
    if (!reopen(SwitchRate2, 20)) return false;
    Host.SetReplyDelay(0);
    send(BuildFrame(k6A, QStringLiteral("8E"), p, {}, 1));
    if (!reopen(SwitchRate3, 50)) return false;
    if (!Exchange({}, {}, {}, false, 1)) return StageFailed(kSwitch2Late);
    Host.Log(kSwitch2Done);
    if (!sendControlInfo(*this, Host, modelCode())) return false;
    return eraseForm1(*this, Host);
}

// The two-byte families' first switch step: the port at the first rate, the
// 50 frame answered, and the 8F frame sent.
static bool prepareForm2(CMcuType& mcu, DownloadHost& host, const QString& p1, const QString& p2) {
    if (!mcu.Exchange(QStringLiteral("50"), p1, {}, true, 2)) return mcu.StageFailed(kSwitch1Late);
    host.Log(kSwitch1Done);
    host.Send(QByteArray::fromHex(CMcuType::BuildFrame(k6A, QStringLiteral("8F"), p2, QStringLiteral("83"), 2).toLatin1()));
    return true;
}

bool CMcuType::SwitchAndEraseForm2(const QString& p1, const QString& p2, const QString& p3) {
    if (!configure(SwitchRate1) || !prepareForm2(*this, Host, p1, p2)) return false;
    Host.Pause(10);
    if (!reopen(SwitchRate2, 0)) return false;
    Host.SetReplyDelay(0);
    if (!Exchange({}, {}, {}, false, 2)) return StageFailed(kSwitch2Late);
    Host.Log(kSwitch2Done);
    Host.Log(kControlInfo);
    if (!reopen(SwitchRate3, 0)) return false;
    send(BuildFrame(k6A, QStringLiteral("8E"), p3, {}, 2));
    if (!reopen(SwitchRate4, 0)) return false;
    if (!Exchange({}, {}, {}, false, 2)) return StageFailed(kSwitch2Late);
    return eraseForm2(*this, Host);
}

bool CMcuType::SwitchAndEraseForm1Fixed(const QString& p) {
    if (!configure(SwitchRate1)) return false;
    if (!Exchange(QStringLiteral("8F"), p, QStringLiteral("81"), true, 1)) return StageFailed(kSwitch1Late);
    Host.Log(kSwitch1Done);
    Host.SetReplyDelay(0);
    if (!Exchange(QStringLiteral("8E"), p, {}, true, 1)) return StageFailed(kSwitch2Late);
    Host.Log(kSwitch2Done);
    if (!sendControlInfo(*this, Host, modelCode())) return false;
    if (!reopen(SwitchRate3, 0)) return false;
    return eraseForm1(*this, Host);
}

bool CMcuType::SwitchAndEraseForm2Fixed(const QString& p1, const QString& p2, const QString& p3) {
    if (!configure(SwitchRate1) || !prepareForm2(*this, Host, p1, p2)) return false;
    Host.SetReplyDelay(10);
    if (!Exchange({}, {}, {}, false, 2)) return StageFailed(kSwitch2Late);
    Host.Log(kSwitch2Done);
    Host.Log(kControlInfo);
    if (!Exchange(QStringLiteral("8E"), p3, {}, true, 2)) return StageFailed(kSwitch2Late);
    return eraseForm2(*this, Host);
}

} // namespace talvo::protocol
