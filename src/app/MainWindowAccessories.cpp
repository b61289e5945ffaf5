// The main window's side of the accessories: the port test's link over the
// window's channel, and the "VerifyStm32" setting.
#include "app/MainWindowCore.h"

#include "platform/SettingsStore.h"
#include "porttest/ChannelPortTestLink.h"
#include "serial/SerialChannel.h"

namespace talvo {

namespace {

const QString kVerifyStm32Key = QStringLiteral("VerifyStm32");

// Opens the current port the way a download does: PortOpenAllowed set, then
// OpenPort, which shows its own message when the port cannot be opened.
class MainWindowPortTestLink final : public ChannelPortTestLink {
public:
    explicit MainWindowPortTestLink(MainWindowCore& core) : ChannelPortTestLink(*core.Channel, QString()), Core(core) {}

    bool OpenTestPort(uint32_t baud, uint8_t parity, uint8_t eventChar, QString* reason) override {
        SetPort(Core.CurrentPort);
        Core.PortOpenAllowed = true;
        if (Core.OpenPort(baud, parity, eventChar)) return true;
        if (reason)
            *reason = Core.CurrentPort.isEmpty() ? QStringLiteral("没有可用的串口（串口列表为空）") : LastReason();
        return false;
    }

private:
    MainWindowCore& Core;
};

} // namespace

PortTestLink& MainWindowCore::PortTestChannel() {
    if (!PortTestLinkImpl) PortTestLinkImpl = std::make_shared<MainWindowPortTestLink>(*this);
    return *PortTestLinkImpl;
}

void MainWindowCore::LoadAccessorySettings() {
    SettingsStore& store = *Services.settings;
    VerifyStm32Flag = false;
    if (!store.openForRead()) return;
    if (auto value = store.readValue(kVerifyStm32Key, 64)) VerifyStm32Flag = value->trimmed() == QLatin1String("1");
}

void MainWindowCore::SetVerifyStm32(bool on) {
    VerifyStm32Flag = on;
    QString reason;
    if (!Services.settings->writeValues({{kVerifyStm32Key, on ? QStringLiteral("1") : QStringLiteral("0")}}, &reason))
        AppendLog(QStringLiteral("错误：无法保存设置 VerifyStm32（%1）").arg(reason));
}

} // namespace talvo
