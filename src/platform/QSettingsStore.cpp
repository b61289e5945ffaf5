#include "platform/QSettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace talvo {

namespace {

QString kindOf(mode_t mode) {
    if (S_ISFIFO(mode)) return QStringLiteral("a named pipe (FIFO)");
    if (S_ISDIR(mode)) return QStringLiteral("a folder");
    if (S_ISCHR(mode)) return QStringLiteral("a character device");
    if (S_ISBLK(mode)) return QStringLiteral("a block device");
    if (S_ISSOCK(mode)) return QStringLiteral("a socket");
    return QStringLiteral("not a regular file");
}

QString notRegular(mode_t mode) {
    return QStringLiteral("the path is %1, not a regular file; it is left as it is").arg(kindOf(mode));
}

QString systemText(int e) { return QString::fromLocal8Bit(std::strerror(e)); }

// "" when `path` may be written: absent, or a regular file (also through a
// link); otherwise why not.
QString writableKind(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
    return S_ISREG(st.st_mode) ? QString() : notRegular(st.st_mode);
}

} // namespace

QSettingsStore::QSettingsStore(QString iniPath) : path_(std::move(iniPath)) {
    // Where QSettings keeps the native settings of organisation and
    // application "TALVO" in the user's scope; named here, so that finding
    // the path does not read the file.
    if (path_.isEmpty())
        path_ = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                QStringLiteral("/TALVO/TALVO.conf");
}

QSettingsStore::~QSettingsStore() = default;

void QSettingsStore::read() {
    read_ = true;
    values_.reset();
    problem_.clear();
    struct stat st {};
    if (::stat(QFile::encodeName(path_).constData(), &st) != 0) {
        // No settings yet (also when a folder on the way is missing).
        if (errno != ENOENT && errno != ENOTDIR) problem_ = QStringLiteral("cannot look at the file: %1").arg(systemText(errno));
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        problem_ = notRegular(st.st_mode);
        return;
    }
    auto values = std::make_unique<QSettings>(path_, QSettings::IniFormat);
    if (values->status() != QSettings::NoError) {
        problem_ = values->status() == QSettings::AccessError ? QStringLiteral("the file cannot be read")
                                                               : QStringLiteral("the file is not in settings format");
        return;
    }
    values_ = std::move(values);
}

bool QSettingsStore::openForRead(QString* problem) {
    if (!read_) read();
    if (problem) *problem = problem_;
    return values_ != nullptr;
}

std::optional<QString> QSettingsStore::readValue(const QString& name, int maxBytes, QString* reason) {
    const auto refuse = [reason](const QString& why) {
        if (reason) *reason = why;
        return std::nullopt;
    };
    if (!openForRead()) return refuse(problem_.isEmpty() ? QStringLiteral("there is no settings file") : problem_);
    QSettings& s = *values_;
    if (!s.contains(name))
        return refuse(s.allKeys().isEmpty() ? QStringLiteral("the file holds no settings at all (damaged, or not a settings file)")
                                            : QStringLiteral("value missing from the file"));
    const QVariant v = s.value(name);
    // Lists and other kinds are not texts.
    if (v.typeId() != QMetaType::QString)
        return refuse(QStringLiteral("value is a %1, not a text").arg(QString::fromLatin1(v.typeName())));
    const QString text = v.toString();
    if ((text.size() + 1) * 2 > maxBytes) // would not fit the value buffer
        return refuse(QStringLiteral("value of %1 characters is longer than the %2 bytes a value may hold")
                          .arg(text.size())
                          .arg(maxBytes));
    return text;
}

bool QSettingsStore::writeValues(const std::vector<std::pair<QString, QString>>& values, QString* reason) {
    const auto refuse = [reason](const QString& why) {
        if (reason) *reason = why;
        return false;
    };
    const QFileInfo info(path_);
    if (!QDir().mkpath(info.absolutePath())) return refuse(QStringLiteral("cannot create folder %1").arg(info.absolutePath()));
    if (const QString why = writableKind(path_); !why.isEmpty()) return refuse(why);
    // Made while the reading is held, QSettings takes the file's content from
    // it instead of reading the file again (unless the file changed since).
    QSettings s(path_, QSettings::IniFormat);
    // The next read sees what is written now.
    read_ = false;
    values_.reset();
    for (const auto& [name, value] : values) s.setValue(name, value);
    s.sync();
    if (s.status() != QSettings::NoError)
        return refuse(QStringLiteral("cannot write %1 (%2)")
                          .arg(path_, s.status() == QSettings::AccessError ? QStringLiteral("access denied")
                                                                           : QStringLiteral("format error")));
    return true;
}

} // namespace talvo
