#pragma once
// The serial-port list of the main window and of `talvo ports`: one entry
// per USB serial port, composed from the port's friendly name, then the
// entries given on the command line (--port PATH).
//
// Entry rule: {port name} " (" {description} ")", where {port name} is the
// text between the first "(" and the first ")" of the friendly name and
// {description} everything before that "(" (its trailing blank included):
//   "Prolific Technology Inc. USB-Serial Controller (ttyUSB0)"
//     -> "ttyUSB0 (Prolific Technology Inc. USB-Serial Controller )"
// The device of an entry is the text before " (" (the whole entry when it has
// none), opened under the device root.

#include <QString>
#include <QStringList>

namespace talvo {

QString composePortEntry(const QString& friendlyName);
// The device an entry names: "ttyUSB0", "/dev/pts/3", "sim:STC89".
QString portEntryDevice(const QString& entry);
// The description part: the text between the first " (" and the last ")".
QString portEntryDescription(const QString& entry);
// The selected entry names a Prolific converter (its description begins
// with "Prolific").
bool isProlificEntry(const QString& entry);

// The item shown when no port is listed.
QString noPortItem();
// Log line written for every port found.
QString portLogLine(const QString& entry);
// Message box text when the system's tty list cannot be read.
QString noPortListMessage();

struct PortListing {
    bool systemListReadable = true; // false: show noPortListMessage() and go on
    QStringList entries;            // USB serial ports, then the extra ports
    // The device of each entry, by position.  Usually portEntryDevice() of
    // the entry; it differs when a product string holds parentheses of its
    // own ("ABC Port (Interface 0) (ttyUSB5)" lists as "Interface 0 (ABC
    // Port )" but opens ttyUSB5).
    QStringList devices;
    QStringList logLines;           // one per USB serial port found
    QString driverFileName;         // module of the last Prolific port found ("" = none)
};

// Scans `sysfsRoot` ("" = /sys) and appends `extraPorts` (entries are the
// paths themselves).
PortListing listSerialPorts(const QString& sysfsRoot, const QStringList& extraPorts);

} // namespace talvo
