#include "platform/OsVersion.h"

#include <QRegularExpression>

#include <sys/utsname.h>

namespace talvo {

OsVersionFacts currentOsVersion() {
    OsVersionFacts facts;
    struct utsname u {};
    if (uname(&u) != 0) return facts;
    facts.system = QString::fromLocal8Bit(u.sysname);
    facts.release = QString::fromLocal8Bit(u.release);
    static const QRegularExpression kVersion(QStringLiteral("^(\\d+)\\.(\\d+)"));
    const auto m = kVersion.match(facts.release);
    if (m.hasMatch()) {
        facts.major = m.captured(1).toInt();
        facts.minor = m.captured(2).toInt();
    }
    return facts;
}

} // namespace talvo
