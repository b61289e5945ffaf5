#pragma once
// The USB serial ports present, read from sysfs:
//   ttyUSB*  whose device is a usb-serial port (pl2303, ch341-uart, cp210x,
//            ftdi_sio, ...): port -> USB interface -> USB device;
//   ttyACM*  whose device is a USB interface bound to cdc_acm -> USB device.
// On-board ports (ttyS*) and everything without a USB parent are left out.
// Nothing here depends on udev, which may not run in containers.

#include <QString>

#include <vector>

namespace talvo {

struct UsbSerialPort {
    QString ttyName;                      // "ttyUSB0"
    QString deviceClass = QStringLiteral("Ports"); // a tty class device
    QString enumerator = QStringLiteral("USB");    // found on the USB bus
    QString driver;                       // bound driver ("pl2303", "cdc_acm")
    QString service;                      // its module ("pl2303"); the driver's name when built in
    QString manufacturer;                 // USB device strings, "" when missing
    QString product;
    QString usbDevicePath;                // canonical sysfs path of the USB device

    // The manufacturer and product strings (or the driver's name when both
    // are missing) followed by " (ttyUSB0)".
    QString friendlyName() const;
};

struct UsbSerialScan {
    bool classReadable = false;           // SYSFS/class/tty could be read
    std::vector<UsbSerialPort> ports;     // in tty order: ttyACM0, ttyACM1, ttyUSB0, ttyUSB2, ttyUSB10
};

// A USB device string made fit for a port entry: control characters (a
// newline would split the entry over two lines) become blanks and runs of
// blanks one blank; a parenthesis without its partner is dropped, since the
// first "(" and ")" of the friendly name mark where the tty name is read
// from.  Matched pairs stay, and such names are composed by the entry rule.
QString cleanUsbString(const QString& raw);

// `sysfsRoot` "" = /sys.
UsbSerialScan scanUsbSerialPorts(const QString& sysfsRoot);

// One sysfs attribute's text, trimmed; "" when it is missing.
QString readSysfsAttribute(const QString& path);

} // namespace talvo
