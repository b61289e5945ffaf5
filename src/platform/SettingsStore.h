#pragma once
// The saved settings: a handful of named text values under one key.  On
// Linux they live in QSettings' native store for organisation and application
// "TALVO" (~/.config/TALVO/TALVO.conf); tests give a file of their own.

#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

namespace talvo {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // True when the settings exist and can be read at all.
    virtual bool openForRead() = 0;
    // One value; nullopt when it is missing or cannot be read as a text of at
    // most maxBytes bytes in UTF-16 with its terminating null (*reason then
    // says which).
    virtual std::optional<QString> readValue(const QString& name, int maxBytes, QString* reason = nullptr) = 0;
    // Creates the settings if needed and writes every value; false with a
    // reason when the store cannot be written.
    virtual bool writeValues(const std::vector<std::pair<QString, QString>>& values, QString* reason) = 0;
    // Where the settings live (a file path), for messages.
    virtual QString location() const = 0;
};

class QSettingsStore final : public SettingsStore {
public:
    // An empty path selects the native store of organisation/application "TALVO".
    explicit QSettingsStore(QString iniPath = {});
    bool openForRead() override;
    std::optional<QString> readValue(const QString& name, int maxBytes, QString* reason = nullptr) override;
    bool writeValues(const std::vector<std::pair<QString, QString>>& values, QString* reason) override;
    QString location() const override { return fileName(); }
    QString fileName() const;

private:
    QString iniPath_;
};

} // namespace talvo
