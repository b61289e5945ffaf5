#include "app/MainWindowPanel.h"

#include "app/ControlIds.h"
#include "protocol/ChipTypes.h"

namespace talvo {

QStringList InitialBaudItems() {
    return {"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "57600", "115200"};
}

QStringList InitialChipTypeItems() { return protocol::ChipTypeListTexts(); }

QStringList InitialPortItems() { return {QStringLiteral("FDASF")}; }

MainWindowPanel::MainWindowPanel() {
    setItems(ctl::PortList, InitialPortItems());
    setItems(ctl::BaudList, InitialBaudItems());
    setItems(ctl::ChipType, InitialChipTypeItems());
}

} // namespace talvo
