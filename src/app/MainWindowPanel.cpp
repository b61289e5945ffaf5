#include "app/MainWindowPanel.h"

#include <QCoreApplication>

#include "app/ControlIds.h"
#include "protocol/ChipTypes.h"

namespace talvo {

QStringList InitialBaudItems() {
    return {"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "57600", "115200"};
}

QStringList InitialChipTypeItems() {
    QStringList items;
    for (const QString& text : protocol::ChipTypeListTexts()) items << protocol::ChipTypeDisplayName(text);
    return items;
}

QStringList InitialPortItems() { return {QStringLiteral("FDASF")}; }

MainWindowPanel::MainWindowPanel() {
    setItems(ctl::PortList, InitialPortItems());
    setItems(ctl::BaudList, InitialBaudItems());
    setItems(ctl::ChipType, InitialChipTypeItems());
}

} // namespace talvo
