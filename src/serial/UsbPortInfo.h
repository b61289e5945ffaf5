#pragma once
// What a user opens the device manager for: every USB serial port with its
// device node, driver, USB vendor:product id, manufacturer, product and
// serial number, and whether the current user may open it (and, if not, the
// one command that fixes it).

#include <QString>

#include <vector>

namespace talvo {

struct UsbPortInfo {
    QString device;       // "/dev/ttyUSB0"
    QString driver;       // "pl2303", "cdc_acm"
    QString vidPid;       // "067b:2303"
    QString manufacturer;
    QString product;
    QString serial;
    bool accessible = false; // the current user may read and write the node
    QString access;          // "可以打开", or why not
    QString fix;             // the command that gives access ("" when none is needed or known)
};

// `sysfsRoot` "" = /sys, `devRoot` "" = /dev.
std::vector<UsbPortInfo> describeUsbSerialPorts(const QString& sysfsRoot, const QString& devRoot);

// The access verdict for one device node: whether this process may open it
// for reading and writing, a text for the user, and the fix when the node
// belongs to a group the user is not in (usually dialout).
void judgeAccess(const QString& node, UsbPortInfo* info);

} // namespace talvo
