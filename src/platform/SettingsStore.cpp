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

std::optional<QString> QSettingsStore::readValue(const QString& name, int maxBytes) {
    auto s = makeSettings(iniPath_);
    if (s->status() != QSettings::NoError || !s->contains(name)) return std::nullopt;
    const QVariant v = s->value(name);
    if (v.typeId() != QMetaType::QString) return std::nullopt; // lists and other kinds are not texts
    const QString text = v.toString();
    if ((text.size() + 1) * 2 > maxBytes) return std::nullopt; // would not fit the value buffer
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
