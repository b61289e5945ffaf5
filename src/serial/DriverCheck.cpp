#include "serial/DriverCheck.h"

#include <QFile>

namespace talvo {

WindowsGroup windowsGroupOf(const OsVersionFacts& os) {
    if (!os.windowsNt) return WindowsGroup::Other;
    if (os.major == 5 && os.minor >= 0 && os.minor <= 3) return WindowsGroup::XpGroup;
    if (os.major == 6 && (os.minor == 0 || os.minor == 1)) return WindowsGroup::VistaGroup;
    return WindowsGroup::Other;
}

QString windowsLabel(const OsVersionFacts& os) {
    if (!os.windowsNt) return {};
    if (os.major == 5 && os.minor == 0) return QStringLiteral("Windows   2000");
    if (os.major == 5 && os.minor == 1) return QStringLiteral("Windows   XP");
    if (os.major == 5 && (os.minor == 2 || os.minor == 3)) return QStringLiteral("Windows   2003   Server");
    if (os.major == 6 && os.minor == 0) return QStringLiteral("VISTA");
    if (os.major == 6 && os.minor == 1) return QStringLiteral("WIN7");
    return {};
}

bool driverSuitsSystem(WindowsGroup group, const QString& driverVersion) {
    switch (group) {
    case WindowsGroup::XpGroup: return driverVersion == QLatin1String("2.0.0.18");
    case WindowsGroup::VistaGroup: return driverVersion == QLatin1String("3.3.11.152");
    case WindowsGroup::Other: return true;
    }
    return true;
}

QString ReadDriverVersion(const QString& sysfsRoot, const QString& module) {
    if (module.isEmpty() || module.contains(QLatin1Char('/')) || module.startsWith(QLatin1Char('.'))) return {};
    const QString root = sysfsRoot.isEmpty() ? QStringLiteral("/sys") : sysfsRoot;
    QFile f(root + QStringLiteral("/module/") + module + QStringLiteral("/version"));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.read(256)).trimmed();
}

} // namespace talvo
