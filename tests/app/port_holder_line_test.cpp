// A port held by another program without a lock: the chip's answers go to
// that program and the download times out.  The connect diagnosis then names
// the program (pid and command line) in one line before the checklist, for
// STC and STM32 downloads alike; the failure named is still the stage's.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/ControlIds.h"
#include "app/MainWindowCore.h"
#include "host/SerialDownloadHost.h"
#include "panel/MemoryPanel.h"
#include "common/IsolatedRoots.h"
#include "common/QtPrinters.h"
#include "platform/PortHolders.h"
#include "platform/PtyPair.h"
#include "protocol/ChipTypes.h"
#include "protocol/Diagnosis.h"

using namespace talvo;

TEST(PortHoldersLine, NamesEveryHolderAndShortensLongCommands) {
    EXPECT_EQ(SerialDownloadHost::PortHoldersLine("ttyUSB0", {}), QString());
    const QString longCommand = "minicom -D /dev/ttyUSB0 " + QString(200, u'x');
    const QString line =
        SerialDownloadHost::PortHoldersLine("ttyUSB0", {{1234, "cat /dev/ttyUSB0"}, {5678, longCommand}});
    EXPECT_TRUE(line.startsWith("串口 ttyUSB0 正被其他程序打开：进程 1234（cat /dev/ttyUSB0）、进程 5678（minicom -D"))
        << line.toStdString();
    EXPECT_TRUE(line.contains(QChar(0x2026)));
    EXPECT_FALSE(line.contains(longCommand));
    EXPECT_FALSE(line.contains('\n'));
}

TEST(PortHoldersLine, AConnectTimeoutNamesTheProgramHoldingThePort) {
    test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    ASSERT_EQ(::fcntl(pty.master, F_SETFD, FD_CLOEXEC), 0); // the child is no other end
    // `cat` started with fork and exec (as ThreadSanitizer follows them).
    const QByteArray catPath = QFile::encodeName(QStandardPaths::findExecutable("cat"));
    const QByteArray slave = QFile::encodeName(pty.slavePath);
    char* const argv[] = {const_cast<char*>(catPath.constData()), const_cast<char*>(slave.constData()), nullptr};
    const pid_t cat = fork();
    if (cat == 0) { // only what may run in the child of a threaded process
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) ::dup2(null, 1);
        ::execv(argv[0], argv);
        ::_exit(127);
    }
    ASSERT_GT(cat, 0);
    struct Reaper {
        pid_t pid;
        ~Reaper() {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    } reaper{cat};
    QElapsedTimer t;
    t.start();
    while (findPortHolders(pty.slavePath).empty() && t.elapsed() < 20000) QThread::msleep(10);
    const QString holderLine = QStringLiteral("串口 %1 正被其他程序打开：进程 %2（%3 %1）。它会读走芯片的应答，请先关闭它再下载")
                                   .arg(pty.slavePath)
                                   .arg(cat)
                                   .arg(QStandardPaths::findExecutable("cat"));

    struct Case {
        const char* family;
        int chipType;
        QString stageLine;
    };
    for (const Case& c : {Case{"STC89", 1, QStringLiteral("连接超时...")}, Case{"STM32", 0, QString()}}) {
        SCOPED_TRACE(c.family);
        test::IsolatedRoots roots;
        MemoryPanel panel;
        CoreServices services = roots.services();
        services.extraPorts = {pty.slavePath};
        MainWindowCore core(panel, services);
        core.Initialise();
        panel.setCurrentIndex(ctl::ChipType, c.chipType);
        ASSERT_TRUE(core.SelectPort(pty.slavePath));
        ASSERT_TRUE(core.SetFirmwareFile(QStringLiteral(TALVO_SOURCE_DIR "/examples/stc89-blink/blink.hex")));
        core.StartDownload();
        core.StopPortWatch();
        EXPECT_FALSE(core.LastReport().success);
        const QString diagnosis = holderLine + "\r\n" + protocol::ConnectDiagnosisText();
        const qsizetype at = panel.logLines.indexOf(diagnosis);
        ASSERT_GT(at, 0) << panel.logLines.join('\n').toStdString();
        if (!c.stageLine.isEmpty()) {
            EXPECT_EQ(panel.logLines[at - 1], c.stageLine);
        }
        // The failure is the stage's line, not the holders' or the checklist.
        EXPECT_FALSE(core.LastReport().failure.isEmpty());
        EXPECT_FALSE(core.LastReport().failure.contains(protocol::ConnectDiagnosisText()));
        EXPECT_FALSE(core.LastReport().failure.contains(QStringLiteral("正被其他程序打开")));
    }
}
