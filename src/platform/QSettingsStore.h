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

#include <memory>

#include "platform/SettingsStore.h"

class QSettings;

namespace talvo {

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
