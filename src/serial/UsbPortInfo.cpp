#include "serial/UsbPortInfo.h"

#include <QCoreApplication>

#include <QFile>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/UsbSerialScan.h"

namespace talvo {

namespace {

QString groupName(gid_t gid) {
    // getgrgid_r: this may run beside other threads that look up groups.
    char buffer[4096];
    struct group entry {};
    struct group* found = nullptr;
    if (getgrgid_r(gid, &entry, buffer, sizeof buffer, &found) == 0 && found) return QString::fromLocal8Bit(found->gr_name);
    return QString::number(gid);
}

} // namespace

void judgeAccess(const QString& node, UsbPortInfo* info) {
    const QByteArray path = QFile::encodeName(node);
    struct stat st {};
    if (::stat(path.constData(), &st) != 0) {
        const int e = errno;
        info->accessible = false;
        info->access = QCoreApplication::translate("UsbPortInfo", "设备节点不存在（%1: %2）").arg(node, QString::fromLocal8Bit(std::strerror(e)));
        return;
    }
    if (::access(path.constData(), R_OK | W_OK) == 0) {
        info->accessible = true;
        info->access = QCoreApplication::translate("UsbPortInfo", "可以打开");
        return;
    }
    const int e = errno;
    info->accessible = false;
    const QString group = groupName(st.st_gid);
    info->access = QCoreApplication::translate("UsbPortInfo", "没有权限（%1，属于 %2 组，权限 %3）")
                       .arg(QString::fromLocal8Bit(std::strerror(e)), group)
                       .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
    // Joining the node's group is the fix when the group may read and write it.
    if (e == EACCES && (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP) && st.st_gid != 0)
        info->fix = QCoreApplication::translate("UsbPortInfo", "sudo usermod -aG %1 $USER（然后重新登录）").arg(group);
}

std::vector<UsbPortInfo> describeUsbSerialPorts(const QString& sysfsRoot, const QString& devRoot) {
    const QString dev = devRoot.isEmpty() ? QStringLiteral("/dev") : devRoot;
    std::vector<UsbPortInfo> out;
    for (const UsbSerialPort& port : scanUsbSerialPorts(sysfsRoot).ports) {
        UsbPortInfo info;
        info.device = dev + QLatin1Char('/') + port.ttyName;
        info.driver = port.driver;
        const QString vid = readSysfsAttribute(port.usbDevicePath + QStringLiteral("/idVendor"));
        const QString pid = readSysfsAttribute(port.usbDevicePath + QStringLiteral("/idProduct"));
        if (!vid.isEmpty() || !pid.isEmpty()) info.vidPid = vid + QLatin1Char(':') + pid;
        info.manufacturer = port.manufacturer;
        info.product = port.product;
        info.serial = readSysfsAttribute(port.usbDevicePath + QStringLiteral("/serial"));
        judgeAccess(info.device, &info);
        out.push_back(std::move(info));
    }
    return out;
}

} // namespace talvo
