#include "platform/PortHolders.h"

#include <QDir>
#include <QFile>

#include <algorithm>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace talvo {

namespace {

// The major numbers of Unix 98 pty slaves (/dev/pts/N: 136 to 143) and the
// pty multiplexer /dev/ptmx (5, 2).
constexpr unsigned kPtsFirstMajor = 136, kPtsLastMajor = 143;
constexpr unsigned kPtmxMajor = 5, kPtmxMinor = 2;

QString commandOf(const QString& procDir) {
    QFile cmdline(procDir + QStringLiteral("/cmdline"));
    QByteArray bytes;
    if (cmdline.open(QIODevice::ReadOnly)) bytes = cmdline.read(4096);
    while (bytes.endsWith('\0')) bytes.chop(1);
    if (!bytes.isEmpty()) return QString::fromLocal8Bit(bytes.replace('\0', ' '));
    QFile comm(procDir + QStringLiteral("/comm"));
    if (comm.open(QIODevice::ReadOnly)) return QLatin1Char('[') + QString::fromLocal8Bit(comm.readAll().trimmed()) + QLatin1Char(']');
    return {};
}

// The pty index that the master descriptor `fd` of a process stands for
// ("tty-index:" in its fdinfo), -1 when it does not say.
long ptyIndexOfMaster(const QString& procDir, const QString& fd) {
    QFile info(procDir + QStringLiteral("/fdinfo/") + fd);
    if (!info.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : info.readAll().split('\n'))
        if (line.startsWith("tty-index:")) {
            bool ok = false;
            const long index = line.mid(10).trimmed().toLong(&ok);
            return ok ? index : -1;
        }
    return -1;
}

} // namespace

std::vector<PortHolder> findPortHolders(const QString& devicePath, const QString& procRoot) {
    std::vector<PortHolder> holders;
    struct stat device {};
    if (::stat(QFile::encodeName(devicePath).constData(), &device) != 0 || !S_ISCHR(device.st_mode)) return holders;
    const unsigned major = ::major(device.st_rdev), minor = ::minor(device.st_rdev);
    const bool ptySlave = major >= kPtsFirstMajor && major <= kPtsLastMajor;
    const long ptyIndex = ptySlave ? static_cast<long>((major - kPtsFirstMajor) * 256 + minor) : -1;

    const QString root = procRoot.isEmpty() ? QStringLiteral("/proc") : procRoot;
    const qint64 self = ::getpid();
    const QStringList pids = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : pids) {
        bool numeric = false;
        const qint64 pid = name.toLongLong(&numeric);
        if (!numeric || pid == self) continue;
        const QString procDir = root + QLatin1Char('/') + name;
        bool holds = false, otherEnd = false;
        // Unreadable (another user's process): nothing to see.
        for (const QString& fd : QDir(procDir + QStringLiteral("/fd")).entryList(QDir::System | QDir::NoDotAndDotDot)) {
            struct stat target {};
            if (::stat(QFile::encodeName(procDir + QStringLiteral("/fd/") + fd).constData(), &target) != 0 ||
                !S_ISCHR(target.st_mode))
                continue;
            if (target.st_rdev == device.st_rdev) holds = true;
            else if (ptySlave && ::major(target.st_rdev) == kPtmxMajor && ::minor(target.st_rdev) == kPtmxMinor &&
                     ptyIndexOfMaster(procDir, fd) == ptyIndex)
                otherEnd = true;
        }
        if (holds && !otherEnd) holders.push_back({pid, commandOf(procDir)});
    }
    std::sort(holders.begin(), holders.end(), [](const PortHolder& a, const PortHolder& b) { return a.pid < b.pid; });
    return holders;
}

} // namespace talvo
