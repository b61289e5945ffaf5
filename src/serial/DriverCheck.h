#pragma once
// The USB-serial driver check: is the installed Prolific driver the version
// known to work well on this operating system?  Only two Windows groups have
// such a version; on every other system (Linux included) the answer is yes.

#include <QString>

#include "platform/OsVersion.h"

namespace talvo {

enum class WindowsGroup { XpGroup, VistaGroup, Other };

// NT 5.0, 5.1, 5.2, 5.3 -> XP group; NT 6.0, 6.1 -> Vista group; else other.
WindowsGroup windowsGroupOf(const OsVersionFacts& os);
// "Windows   2000", "Windows   XP", "Windows   2003   Server", "VISTA",
// "WIN7"; "" for the systems without a label.
QString windowsLabel(const OsVersionFacts& os);

// The decision table: XP group accepts exactly "2.0.0.18", Vista group
// exactly "3.3.11.152"; the other group accepts any version (or none).
bool driverSuitsSystem(WindowsGroup group, const QString& driverVersion);

// The version of driver module `module` (/sys/module/NAME/version, trimmed);
// "" when the module is not named, not loaded or carries no version.
// `sysfsRoot` "" = /sys.
QString ReadDriverVersion(const QString& sysfsRoot, const QString& module);

} // namespace talvo
