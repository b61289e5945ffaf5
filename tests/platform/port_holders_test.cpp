// Other processes holding a serial device: a real pty held by child
// processes, found through /proc and named with their command lines; this
// process and the pty's other end (a process holding its master) left out.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/QtPrinters.h"
#include "platform/PortHolders.h"
#include "platform/PtyPair.h"

using namespace talvo;

namespace {

// Asks until `want` holders are seen (the child opens the device in its own
// time) or 20 s have passed.
std::vector<PortHolder> holdersWhenSettled(const QString& device, size_t want) {
    QElapsedTimer t;
    t.start();
    std::vector<PortHolder> found = findPortHolders(device);
    while (found.size() != want && t.elapsed() < 20000) {
        QThread::msleep(10);
        found = findPortHolders(device);
    }
    return found;
}

// A child process that holds both sides of a pty of its own, as a simulated
// chip behind a pty link does, and sleeps.
struct PtyOwner {
    pid_t pid = -1;
    QString slavePath;
    PtyOwner() {
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        char name[128];
        if (ptsname_r(master, name, sizeof name) != 0) return;
        const int slave = ::open(name, O_RDWR | O_NOCTTY);
        if (slave < 0) return;
        slavePath = QString::fromLocal8Bit(name);
        const QByteArray sleep = QFile::encodeName(QStandardPaths::findExecutable("sleep"));
        char* const argv[] = {const_cast<char*>(sleep.constData()), const_cast<char*>("120"), nullptr};
        pid = fork();
        if (pid == 0) { // only what may run in the child of a threaded process
            execv(argv[0], argv);
            _exit(127);
        }
        ::close(master);
        ::close(slave);
    }
    ~PtyOwner() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
};

} // namespace

TEST(PortHolders, NamesTheOtherProcessesThatHoldAPty) {
    test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    // The children do not inherit the master: they would be the other end.
    ASSERT_EQ(::fcntl(pty.master, F_SETFD, FD_CLOEXEC), 0);
    // This process holds the master and, here, the slave too: not listed.
    const int own = ::open(QFile::encodeName(pty.slavePath).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(own, 0);
    EXPECT_TRUE(findPortHolders(pty.slavePath).empty());

    QProcess cat;
    cat.setStandardOutputFile(QProcess::nullDevice());
    cat.start("cat", {pty.slavePath});
    ASSERT_TRUE(cat.waitForStarted());
    QProcess reader;
    reader.setStandardInputFile(pty.slavePath);
    reader.start("sleep", {"120"});
    ASSERT_TRUE(reader.waitForStarted());

    const std::vector<PortHolder> found = holdersWhenSettled(pty.slavePath, 2);
    ASSERT_EQ(found.size(), 2u);
    const auto [first, second] = cat.processId() < reader.processId() ? std::pair(0, 1) : std::pair(1, 0);
    EXPECT_EQ(found[first].pid, cat.processId());
    // The command lines as the children were started (QProcess gives the
    // program's path as their first word).
    EXPECT_EQ(found[first].command, QStandardPaths::findExecutable("cat") + " " + pty.slavePath);
    EXPECT_EQ(found[second].pid, reader.processId());
    EXPECT_EQ(found[second].command, QStandardPaths::findExecutable("sleep") + " 120");

    cat.kill();
    cat.waitForFinished();
    reader.kill();
    reader.waitForFinished();
    EXPECT_TRUE(holdersWhenSettled(pty.slavePath, 0).empty());
    ::close(own);

    // What is no character device has no holders.
    EXPECT_TRUE(findPortHolders("/nonexistent/ttyUSB9").empty());
    EXPECT_TRUE(findPortHolders("/proc/self/status").empty());
}

TEST(PortHolders, TheProcessAtThePtysOtherEndIsNotAHolder) {
    PtyOwner owner;
    ASSERT_GT(owner.pid, 0);
    QProcess cat;
    cat.setStandardOutputFile(QProcess::nullDevice());
    cat.start("cat", {owner.slavePath});
    ASSERT_TRUE(cat.waitForStarted());
    const std::vector<PortHolder> found = holdersWhenSettled(owner.slavePath, 1);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].pid, cat.processId());
    cat.kill();
    cat.waitForFinished();
    EXPECT_TRUE(holdersWhenSettled(owner.slavePath, 0).empty());
}
