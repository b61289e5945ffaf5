#pragma once
// Builds a small sysfs tree in a temporary folder: USB serial converters
// (usb-serial ports and CDC ACM interfaces), on-board ports and driver
// modules, with the links the kernel makes.

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

namespace talvo::test {

class FakeSysfs {
public:
    FakeSysfs() { QDir(root()).mkpath("class/tty"); }
    QString root() const { return Dir.path(); }

    // ttyUSBn on USB device `usbDev` ("1-2"), bound to `driver` from
    // `module`; manufacturer/product files only when not empty.
    void addUsbSerial(const QString& tty, const QString& usbDev, const QString& manufacturer, const QString& product,
                      const QString& driver = "pl2303", const QString& module = "pl2303") {
        const QString dev = usbDevice(usbDev, manufacturer, product);
        const QString port = dev + "/" + usbDev + ":1.0/" + tty;
        mkdir(port);
        write(dev + "/" + usbDev + ":1.0/bInterfaceNumber", "00");
        mkdir("bus/usb-serial/drivers/" + driver);
        link("bus/usb-serial", port + "/subsystem");
        link("bus/usb-serial/drivers/" + driver, port + "/driver");
        if (!module.isEmpty()) {
            mkdir("module/" + module);
            link("module/" + module, "bus/usb-serial/drivers/" + driver + "/module");
        }
        classEntry(tty, port);
    }

    // ttyACMn: the tty's device is the USB interface bound to cdc_acm.
    void addAcm(const QString& tty, const QString& usbDev, const QString& manufacturer, const QString& product) {
        const QString dev = usbDevice(usbDev, manufacturer, product);
        const QString intf = dev + "/" + usbDev + ":1.0";
        mkdir(intf);
        write(intf + "/bInterfaceNumber", "00");
        mkdir("bus/usb/drivers/cdc_acm");
        link("bus/usb", intf + "/subsystem");
        link("bus/usb/drivers/cdc_acm", intf + "/driver");
        classEntry(tty, intf);
    }

    // An on-board UART: no USB parent.
    void addPlatformPort(const QString& tty) {
        const QString dev = "devices/platform/serial8250/" + tty;
        mkdir(dev);
        mkdir("bus/platform");
        link("bus/platform", dev + "/subsystem");
        classEntry(tty, dev);
    }

    void setModuleVersion(const QString& module, const QString& version) {
        mkdir("module/" + module);
        write("module/" + module + "/version", version + "\n");
    }

    void remove(const QString& tty) { QDir(root() + "/class/tty/" + tty).removeRecursively(); }

private:
    QString usbDevice(const QString& usbDev, const QString& manufacturer, const QString& product) {
        const QString dev = "devices/pci0000:00/0000:00:14.0/usb1/" + usbDev;
        mkdir(dev);
        write(dev + "/idVendor", "067b");
        write(dev + "/idProduct", "2303");
        if (!manufacturer.isEmpty()) write(dev + "/manufacturer", manufacturer + "\n");
        if (!product.isEmpty()) write(dev + "/product", product + "\n");
        return dev;
    }
    void classEntry(const QString& tty, const QString& device) {
        mkdir("class/tty/" + tty);
        link(device, "class/tty/" + tty + "/device");
    }
    void mkdir(const QString& rel) { QDir(root()).mkpath(rel); }
    void write(const QString& rel, const QString& text) {
        QFile f(root() + "/" + rel);
        if (f.open(QIODevice::WriteOnly)) f.write(text.toUtf8());
    }
    // A relative link, as sysfs has them.
    void link(const QString& targetRel, const QString& linkRel) {
        const QString linkPath = root() + "/" + linkRel;
        const QString target = QDir(QFileInfo(linkPath).absolutePath()).relativeFilePath(root() + "/" + targetRel);
        QFile::remove(linkPath);
        QFile::link(target, linkPath);
    }

    QTemporaryDir Dir;
};

} // namespace talvo::test
