#include "serial/PortList.h"

#include <QCoreApplication>

#include "platform/UsbSerialScan.h"

namespace talvo {

QString composePortEntry(const QString& friendlyName) {
    const qsizetype open = friendlyName.indexOf(QLatin1Char('('));
    const qsizetype close = friendlyName.indexOf(QLatin1Char(')'));
    const QString description = open >= 0 ? friendlyName.left(open) : QString();
    const QString port = close > open ? friendlyName.mid(open + 1, close - open - 1) : QString();
    return QStringLiteral("%1 (%2)").arg(port, description);
}

QString portEntryDevice(const QString& entry) {
    const qsizetype cut = entry.indexOf(QLatin1String(" ("));
    return cut >= 0 ? entry.left(cut) : entry;
}

QString portEntryDescription(const QString& entry) {
    const qsizetype open = entry.indexOf(QLatin1String(" ("));
    if (open < 0) return {};
    const qsizetype close = entry.lastIndexOf(QLatin1Char(')'));
    return close > open ? entry.mid(open + 2, close - open - 2) : entry.mid(open + 2);
}

bool isProlificEntry(const QString& entry) {
    return portEntryDescription(entry).startsWith(QLatin1String("Prolific"));
}

QString noPortItem() { return QCoreApplication::translate("PortList", "无可以的串口号!"); }

QString portLogLine(const QString& entry) { return QCoreApplication::translate("PortList", "当前设备串口号： ") + entry; }

QString noPortListMessage() { return QCoreApplication::translate("PortList", "没找到可用的串口，请将开发试验仪连接到您的电脑上!"); }

PortListing listSerialPorts(const QString& sysfsRoot, const QStringList& extraPorts) {
    PortListing listing;
    const UsbSerialScan scan = scanUsbSerialPorts(sysfsRoot);
    listing.systemListReadable = scan.classReadable;
    for (const UsbSerialPort& port : scan.ports) {
        const QString friendly = port.friendlyName();
        const QString entry = composePortEntry(friendly);
        listing.entries << entry;
        listing.devices << port.ttyName;
        listing.logLines << portLogLine(entry);
        if (friendly.startsWith(QLatin1String("Prolific")) && !port.service.isEmpty())
            listing.driverFileName = port.service;
    }
    for (const QString& extra : extraPorts)
        if (!extra.isEmpty()) {
            listing.entries << extra;
            listing.devices << extra; // a path, whatever characters it holds
        }
    return listing;
}

} // namespace talvo
