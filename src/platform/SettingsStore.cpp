#include "platform/SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <memory>

namespace talvo {

namespace {
std::unique_ptr<QSettings> makeSettings(const QString& iniPath) {
    if (iniPath.isEmpty())
        return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                           QStringLiteral("TALVO"), QStringLiteral("TALVO"));
    return std::make_unique<QSettings>(iniPath, QSettings::IniFormat);
}
} // namespace

QSettingsStore::QSettingsStore(QString iniPath) : iniPath_(std::move(iniPath)) {}

QString QSettingsStore::fileName() const { return makeSettings(iniPath_)->fileName(); }

bool QSettingsStore::openForRead() {
    auto s = makeSettings(iniPath_);
    const QFileInfo info(s->fileName());
    return info.exists() && info.isReadable() && s->status() == QSettings::NoError;
}

std::optional<QString> QSettingsStore::readValue(const QString& name, int maxBytes, QString* reason) {
    const auto refuse = [reason](const QString& why) {
        if (reason) *reason = why;
        return std::nullopt;
    };
    auto s = makeSettings(iniPath_);
    if (s->status() != QSettings::NoError)
        return refuse(s->status() == QSettings::AccessError ? QStringLiteral("the file cannot be read")
                                                            : QStringLiteral("the file is not in settings format"));
    if (!s->contains(name))
        return refuse(s->allKeys().isEmpty() ? QStringLiteral("the file holds no settings at all (damaged, or not a settings file)")
                                             : QStringLiteral("value missing from the file"));
    const QVariant v = s->value(name);
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
    auto s = makeSettings(iniPath_);
    const QFileInfo info(s->fileName());
    if (!QDir().mkpath(info.absolutePath())) {
        if (reason) *reason = QStringLiteral("cannot create folder %1").arg(info.absolutePath());
        return false;
    }
    for (const auto& [name, value] : values) s->setValue(name, value);
    s->sync();
    if (s->status() != QSettings::NoError) {
        if (reason)
            *reason = QStringLiteral("cannot write %1 (%2)")
                          .arg(s->fileName(), s->status() == QSettings::AccessError ? QStringLiteral("access denied")
                                                                                   : QStringLiteral("format error"));
        return false;
    }
    return true;
}

} // namespace talvo
