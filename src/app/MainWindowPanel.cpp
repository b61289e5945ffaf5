#include "app/MainWindowPanel.h"

#include <QCoreApplication>

#include "app/ControlIds.h"
#include "protocol/ChipTypes.h"

namespace talvo {

QStringList InitialBaudItems() {
    return {"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "57600", "115200"};
}

namespace {
// The chip types' names as a person reads them in the list; a name without a
// translation is shown as it stands.
[[maybe_unused]] const char* const kChipTypeNames[] = {
    QT_TRANSLATE_NOOP("ChipTypes", "STC89C5XX系列"), QT_TRANSLATE_NOOP("ChipTypes", "STC11F60系列"),
    QT_TRANSLATE_NOOP("ChipTypes", "STC12C60系列"),  QT_TRANSLATE_NOOP("ChipTypes", "STC90C5XX系列"),
    QT_TRANSLATE_NOOP("ChipTypes", "STC15系列"),     QT_TRANSLATE_NOOP("ChipTypes", "STC8系列"),
};
} // namespace

QString ChipTypeDisplayName(const QString& listText) {
    return QCoreApplication::translate("ChipTypes", listText.toUtf8().constData());
}

QStringList InitialChipTypeItems() {
    QStringList items;
    for (const QString& text : protocol::ChipTypeListTexts()) items << ChipTypeDisplayName(text);
    return items;
}

QStringList InitialPortItems() { return {QStringLiteral("FDASF")}; }

MainWindowPanel::MainWindowPanel() {
    setItems(ctl::PortList, InitialPortItems());
    setItems(ctl::BaudList, InitialBaudItems());
    setItems(ctl::ChipType, InitialChipTypeItems());
}

} // namespace talvo
