// Look-ups in the STC model table (the rows themselves: StcModelTable.cpp).
#include "protocol/StcModels.h"

#include <QStringList>

#include <algorithm>

namespace talvo::protocol {

std::vector<StcModelInfo> FindStcModels(uint16_t code) {
    std::vector<StcModelInfo> found;
    for (const StcModelInfo& m : StcModelTable())
        if (m.code == code) found.push_back(m);
    return found;
}

std::optional<uint32_t> StcCodeFlashBytes(uint16_t code) {
    std::optional<uint32_t> bytes;
    for (const StcModelInfo& m : FindStcModels(code)) bytes = std::min(bytes.value_or(m.codeFlashBytes), m.codeFlashBytes);
    return bytes;
}

QString StcModelName(uint16_t code) {
    QStringList names;
    for (const StcModelInfo& m : FindStcModels(code)) names << QString::fromLatin1(m.name);
    return names.join(QLatin1Char('/'));
}

} // namespace talvo::protocol
