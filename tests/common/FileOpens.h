#pragma once
// Who opens which file, seen from outside: opens of the files of a folder
// (inotify IN_OPEN events, which the kernel queues at each open), and the
// folders a running process watches with inotify (its /proc fdinfo).

#include <QDir>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QString>

#include <cerrno>
#include <climits>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace talvo::test {

// Counts the opens of each file of `folder` from construction on.  The closes
// are watched too: inotify merges an event into the one queued before it when
// they are the same, so opens one after the other would count as one; with a
// close between them they do not.  (Opens at the same moment by two
// processes may still count as one.)
class FolderOpens {
public:
    explicit FolderOpens(const QString& folder) {
        fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ >= 0 && ::inotify_add_watch(fd_, QFile::encodeName(folder).constData(), IN_OPEN | IN_CLOSE) < 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~FolderOpens() {
        if (fd_ >= 0) ::close(fd_);
    }
    FolderOpens(const FolderOpens&) = delete;
    FolderOpens& operator=(const FolderOpens&) = delete;

    bool valid() const { return fd_ >= 0; }
    // Opens of the file `name` so far; -1 when events were lost (queue overflow).
    int opensOf(const QString& name) {
        drain();
        return overflow_ ? -1 : counts_.value(name);
    }

private:
    void drain() {
        alignas(inotify_event) char buffer[64 * (sizeof(inotify_event) + NAME_MAX + 1)];
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0) return;
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
                if (e->mask & IN_Q_OVERFLOW) overflow_ = true;
                if ((e->mask & IN_OPEN) && e->len > 0) ++counts_[QFile::decodeName(e->name)];
                at += ssize_t(sizeof(inotify_event) + e->len);
            }
        }
    }
    int fd_ = -1;
    bool overflow_ = false;
    QHash<QString, int> counts_;
};

// Whether process `pid` holds an inotify watch on `folder` (by its inode).
inline bool watchesFolder(qint64 pid, const QString& folder) {
    struct stat st {};
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0) return false;
    const QString inode = QStringLiteral("ino:%1 ").arg(quint64(st.st_ino), 0, 16);
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString& fd : fds.entryList(QDir::Files | QDir::System)) {
        char target[64] = {};
        const ssize_t n = ::readlink(QFile::encodeName(fds.filePath(fd)).constData(), target, sizeof target - 1);
        if (n <= 0 || QByteArray(target, n) != "anon_inode:inotify") continue;
        QFile info(QStringLiteral("/proc/%1/fdinfo/%2").arg(pid).arg(fd));
        if (!info.open(QIODevice::ReadOnly)) continue;
        for (const QByteArray& line : info.readAll().split('\n'))
            if (line.startsWith("inotify ") && QString::fromLatin1(line).contains(inode)) return true;
    }
    return false;
}

} // namespace talvo::test
