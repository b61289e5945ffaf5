// The USB serial device list: every column read from sysfs, and the access
// verdict for a node the user may and may not open.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/FakeSysfs.h"
#include "serial/UsbPortInfo.h"

using namespace talvo;

TEST(UsbPortInfo, ListsEveryPortWithItsIdsStringsAndAccess) {
    test::FakeSysfs sys;
    sys.addUsbSerial("ttyUSB0", "1-2", "Prolific Technology Inc.", "USB-Serial Controller");
    sys.addAcm("ttyACM0", "1-3", "", "");
    sys.addPlatformPort("ttyS0");
    QFile serial(sys.root() + "/devices/pci0000:00/0000:00:14.0/usb1/1-2/serial");
    ASSERT_TRUE(serial.open(QIODevice::WriteOnly));
    serial.write("A1B2C3\n");
    serial.close();
    QTemporaryDir dev;
    QFile node(dev.filePath("ttyUSB0"));
    ASSERT_TRUE(node.open(QIODevice::WriteOnly));
    node.close();

    const auto ports = describeUsbSerialPorts(sys.root(), dev.path());
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].device, dev.filePath("ttyACM0"));
    EXPECT_EQ(ports[0].driver, "cdc_acm");
    EXPECT_FALSE(ports[0].accessible); // no node under the device root
    EXPECT_TRUE(ports[0].access.contains("不存在")) << ports[0].access.toStdString();
    EXPECT_EQ(ports[1].device, dev.filePath("ttyUSB0"));
    EXPECT_EQ(ports[1].driver, "pl2303");
    EXPECT_EQ(ports[1].vidPid, "067b:2303");
    EXPECT_EQ(ports[1].manufacturer, "Prolific Technology Inc.");
    EXPECT_EQ(ports[1].product, "USB-Serial Controller");
    EXPECT_EQ(ports[1].serial, "A1B2C3");
    EXPECT_TRUE(ports[1].accessible);
    EXPECT_EQ(ports[1].access, "可以打开");
    EXPECT_TRUE(ports[1].fix.isEmpty());
}

TEST(UsbPortInfo, ANodeOfAnotherGroupNamesTheCommandThatFixesIt) {
    // As root every node can be opened; the verdict for others is judged
    // by an unprivileged child process.
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the node to another owner";
    QTemporaryDir dir;
    ASSERT_TRUE(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
    const QByteArray node = QFile::encodeName(dir.filePath("ttyUSB9"));
    QFile f(dir.filePath("ttyUSB9"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    ASSERT_EQ(::chown(node.constData(), 0, 20), 0); // root:dialout (gid 20 on Debian)
    ASSERT_EQ(::chmod(node.constData(), 0660), 0);
    int pipeFd[2];
    ASSERT_EQ(::pipe(pipeFd), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFd[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
        UsbPortInfo info;
        judgeAccess(QString::fromLocal8Bit(node), &info);
        const QByteArray out = (QString::number(info.accessible) + "\n" + info.access + "\n" + info.fix).toUtf8();
        [[maybe_unused]] auto w = ::write(pipeFd[1], out.constData(), static_cast<size_t>(out.size()));
        ::_exit(0);
    }
    ::close(pipeFd[1]);
    QByteArray got;
    char buf[512];
    for (ssize_t r; (r = ::read(pipeFd[0], buf, sizeof buf)) > 0;) got.append(buf, r);
    ::close(pipeFd[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child could not drop its rights";
    const QStringList lines = QString::fromUtf8(got).split('\n');
    ASSERT_EQ(lines.size(), 3) << got.toStdString();
    EXPECT_EQ(lines[0], "0");
    EXPECT_TRUE(lines[1].contains("没有权限")) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].contains("0660")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("sudo usermod -aG ")) << lines[2].toStdString();
}
