#pragma once
// Core services that touch nothing of the machine the tests run on: the
// settings in a file of their own, and empty sysfs and device roots (no
// ports, nothing to watch but an empty folder).

#include <QDir>
#include <QTemporaryDir>

#include <functional>

#include "app/MainWindowCore.h"
#include "platform/QSettingsStore.h"

namespace talvo::test {

struct IsolatedRoots {
    QTemporaryDir dir;
    QSettingsStore settings{dir.filePath(QStringLiteral("TALVO.conf"))};

    IsolatedRoots() {
        QDir().mkpath(dir.filePath(QStringLiteral("sys/class/tty")));
        QDir().mkpath(dir.filePath(QStringLiteral("dev")));
    }
    CoreServices services(TickSource* ticks = nullptr, std::function<QDateTime()> clock = {}) {
        CoreServices s;
        s.settings = &settings;
        s.ticks = ticks;
        s.clock = std::move(clock);
        s.sysfsRoot = dir.filePath(QStringLiteral("sys"));
        s.devRoot = dir.filePath(QStringLiteral("dev"));
        return s;
    }
};

} // namespace talvo::test
