#pragma once
// Facts about the running operating system that the USB-serial driver check
// needs.  Only Windows NT versions map to a driver rule; everything else
// (Linux included) falls in the group without one.

#include <QString>

namespace talvo {

struct OsVersionFacts {
    bool windowsNt = false; // the NT platform of Windows
    int major = 0;
    int minor = 0;
    QString system;         // "Linux"
    QString release;        // "6.1.0-18-amd64"
};

// The facts of this machine (uname on Linux).
OsVersionFacts currentOsVersion();

} // namespace talvo
