#pragma once
// The saved settings: a handful of named text values under one key
// (QSettingsStore keeps them in a file).

#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

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

} // namespace talvo
