#pragma once
// The saved settings: a handful of named text values under one key.  On
// Linux they live in one file, ~/.config/TALVO/TALVO.conf (where QSettings
// keeps organisation and application "TALVO"; $XDG_CONFIG_HOME moves it);
// tests give a file of their own.
//
// Only a regular file is read or written: a FIFO, a device or a folder at the
// path is never opened (opening a FIFO waits for a writer for ever); the
// store says so instead.  The file is read once, at the first openForRead,
// and the values come from that reading until the next write.

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QSettings;

namespace talvo {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // True when the settings exist and can be read.  False when there are
    // none yet (*problem empty: the first run) or when they cannot be read
    // (*problem says why, e.g. the path is a FIFO, not a regular file).
    virtual bool openForRead(QString* problem = nullptr) = 0;
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
    // An empty path selects the user's file of organisation/application "TALVO".
    explicit QSettingsStore(QString iniPath = {});
    ~QSettingsStore() override;
    bool openForRead(QString* problem = nullptr) override;
    std::optional<QString> readValue(const QString& name, int maxBytes, QString* reason = nullptr) override;
    bool writeValues(const std::vector<std::pair<QString, QString>>& values, QString* reason) override;
    QString location() const override { return path_; }
    QString fileName() const { return path_; }

private:
    void read();

    QString path_;
    bool read_ = false;                 // the file was read (or found absent or unreadable)
    std::unique_ptr<QSettings> values_; // what it held; null when absent or unreadable
    QString problem_;                   // why it could not be read
};

} // namespace talvo
