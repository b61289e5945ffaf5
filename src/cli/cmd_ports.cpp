// `talvo ports`: the serial-port list as the window shows it.
#include <QCoreApplication>

#include "cli/Command.h"
#include "platform/PortWatch.h"
#include "platform/ThreadNotifier.h"
#include "serial/PortList.h"

namespace talvo::cli {
namespace {

// The list items on standard output, one per line; the log lines and the
// message for an unreadable tty list on standard error.  True when the
// system's list could be read.
bool printPorts(const QString& sysfs, const QStringList& extra) {
    const PortListing listing = listSerialPorts(sysfs, extra);
    if (!listing.systemListReadable) err(noPortListMessage() + QLatin1Char('\n'));
    for (const QString& line : listing.logLines) err(line + QLatin1Char('\n'));
    const QStringList items = listing.entries.isEmpty() ? QStringList{noPortItem()} : listing.entries;
    for (const QString& item : items) out(item + QLatin1Char('\n'));
    return listing.systemListReadable;
}

int runPorts(const QStringList& args) {
    QString sysfs;
    QString dev;
    QStringList extra;
    bool watch = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("--watch")) {
            watch = true;
        } else if (a == QLatin1String("--sysfs") && hasValue) {
            sysfs = args[++i];
        } else if (a == QLatin1String("--dev") && hasValue) {
            dev = args[++i];
        } else if (a == QLatin1String("--port") && hasValue) {
            extra << args[++i];
        } else {
            err(QStringLiteral("talvo ports: unexpected argument '%1'\n"
                               "usage: talvo ports [--sysfs ROOT] [--dev ROOT] [--port PATH]... [--watch]\n")
                    .arg(a));
            return ExitUsage;
        }
    }
    if (!watch) return printPorts(sysfs, extra) ? ExitOk : ExitFailure;

    // The watch thread only rings; the list is printed on this thread.  The
    // watch starts before the first list is printed, so that a converter
    // plugged in between the two is not missed.
    ThreadNotifier changed([sysfs, extra] {
        out(QStringLiteral("\n"));
        printPorts(sysfs, extra);
    });
    PortWatch watcher(dev, [&changed] { changed.notify(); });
    QString error;
    const bool watching = changed.valid() && watcher.start(&error);
    printPorts(sysfs, extra);
    if (!watching) {
        err(QStringLiteral("talvo ports: %1\n")
                .arg(error.isEmpty() ? QStringLiteral("cannot create the wake-up event of the watch") : error));
        return ExitFailure;
    }
    return QCoreApplication::exec();
}

} // namespace

TALVO_SUBCOMMAND(ports, "ports",
                 "ports [--sysfs ROOT] [--dev ROOT] [--port PATH]... [--watch]  list the USB serial ports "
                 "(log lines on stderr); --watch lists again at every change until interrupted",
                 runPorts);

} // namespace talvo::cli
