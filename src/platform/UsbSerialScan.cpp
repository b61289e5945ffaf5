#include "platform/UsbSerialScan.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace talvo {

namespace {

// The last element of the path a sysfs link points to ("" when missing).
QString linkName(const QString& path) {
    const QString target = QFileInfo(path).canonicalFilePath();
    return target.isEmpty() ? QString() : QFileInfo(target).fileName();
}

QString parentOf(const QString& path) { return QFileInfo(path).absolutePath(); }

bool isUsbDevice(const QString& dir) { return QFileInfo::exists(dir + QStringLiteral("/idVendor")); }
bool isUsbInterface(const QString& dir) { return QFileInfo::exists(dir + QStringLiteral("/bInterfaceNumber")); }

} // namespace

QString cleanUsbString(const QString& raw) {
    QString text = raw;
    std::vector<qsizetype> open; // positions of '(' not closed yet
    std::vector<qsizetype> stray;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
            c.category() == QChar::Separator_Line || c.category() == QChar::Separator_Paragraph)
            text[i] = QLatin1Char(' ');
        else if (c == QLatin1Char('('))
            open.push_back(i);
        else if (c == QLatin1Char(')') && !open.empty())
            open.pop_back();
        else if (c == QLatin1Char(')'))
            stray.push_back(i);
    }
    stray.insert(stray.end(), open.begin(), open.end());
    std::sort(stray.begin(), stray.end());
    for (auto it = stray.rbegin(); it != stray.rend(); ++it) text.remove(*it, 1);
    return text.simplified();
}

QString readSysfsAttribute(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.read(4096)).trimmed();
}

QString UsbSerialPort::friendlyName() const {
    QString name = manufacturer;
    if (!product.isEmpty()) name = name.isEmpty() ? product : name + QLatin1Char(' ') + product;
    if (name.isEmpty()) name = driver;
    return QStringLiteral("%1 (%2)").arg(name, ttyName);
}

UsbSerialScan scanUsbSerialPorts(const QString& sysfsRoot) {
    UsbSerialScan scan;
    const QString root = sysfsRoot.isEmpty() ? QStringLiteral("/sys") : sysfsRoot;
    QDir ttyClass(root + QStringLiteral("/class/tty"));
    if (!ttyClass.exists() || !ttyClass.isReadable()) return scan;
    scan.classReadable = true;

    static const QRegularExpression kName(QStringLiteral("^tty(USB|ACM)([0-9]+)$"));
    struct Found {
        QString prefix;
        qulonglong number;
        UsbSerialPort port;
    };
    std::vector<Found> found;
    const QStringList names = ttyClass.entryList(QDir::Dirs | QDir::Files | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const auto m = kName.match(name);
        if (!m.hasMatch()) continue;
        const QString device = QFileInfo(ttyClass.filePath(name) + QStringLiteral("/device")).canonicalFilePath();
        if (device.isEmpty()) continue;
        const QString subsystem = linkName(device + QStringLiteral("/subsystem"));
        QString usbDevice;
        if (m.captured(1) == QLatin1String("USB")) {
            if (subsystem != QLatin1String("usb-serial")) continue;
            const QString interface = parentOf(device);
            if (!isUsbInterface(interface)) continue;
            usbDevice = parentOf(interface);
        } else {
            if (subsystem != QLatin1String("usb") || !isUsbInterface(device)) continue;
            usbDevice = parentOf(device);
        }
        if (!isUsbDevice(usbDevice)) continue;
        UsbSerialPort port;
        port.ttyName = name;
        port.driver = linkName(device + QStringLiteral("/driver"));
        if (port.driver.isEmpty()) continue; // no driver bound: not a usable port
        port.service = linkName(device + QStringLiteral("/driver/module"));
        if (port.service.isEmpty()) port.service = port.driver;
        port.manufacturer = cleanUsbString(readSysfsAttribute(usbDevice + QStringLiteral("/manufacturer")));
        port.product = cleanUsbString(readSysfsAttribute(usbDevice + QStringLiteral("/product")));
        port.usbDevicePath = usbDevice;
        found.push_back(Found{m.captured(1), m.captured(2).toULongLong(), port});
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        return a.number < b.number;
    });
    for (Found& f : found) scan.ports.push_back(std::move(f.port));
    return scan;
}

} // namespace talvo
