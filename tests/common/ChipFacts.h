#pragma once
// The chip facts files beside the repository (TALVO_SHARED_DIR), read as the
// tables built from them are compared with them.
#include <QFile>
#include <QString>
#include <QStringList>

#include <optional>

namespace talvo::test {

// The data rows of the CSV file `name`, comment and empty lines left out;
// its header line (the first other line) goes to *headerSeen.  nullopt when
// the file is not there.
inline std::optional<QStringList> ChipFactsRows(const QString& name, QString* headerSeen) {
    QFile csv(QStringLiteral(TALVO_SHARED_DIR "/") + name);
    if (!csv.open(QIODevice::ReadOnly | QIODevice::Text)) return std::nullopt;
    QStringList rows;
    bool header = false;
    while (!csv.atEnd()) {
        const QString line = QString::fromUtf8(csv.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(u'#')) continue;
        if (!header) {
            *headerSeen = line;
            header = true;
            continue;
        }
        rows << line;
    }
    return rows;
}

} // namespace talvo::test
