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
    QCommandLineParser parser;
    const QCommandLineOption watchOption(QStringLiteral("watch"),
                                         QStringLiteral("List again at every change, until interrupted."));
    const QCommandLineOption sysfsOption(QStringLiteral("sysfs"), QStringLiteral("Read the devices under ROOT instead of /sys."),
                                         QStringLiteral("ROOT"));
    const QCommandLineOption devOption(QStringLiteral("dev"), QStringLiteral("Watch ROOT instead of /dev."),
                                       QStringLiteral("ROOT"));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Add a port that is no USB converter (repeatable)."),
                                        QStringLiteral("PATH"));
    parser.addOptions({watchOption, sysfsOption, devOption, portOption});
    if (const int rc = parseSubcommand(parser, QStringLiteral("ports"),
                                       QStringLiteral("Lists the USB serial ports as the window lists them (log "
                                                      "lines on standard error)."),
                                       args, 0, 0);
        rc >= 0)
        return rc;
    const QString sysfs = parser.value(sysfsOption);
    const QString dev = parser.value(devOption);
    const QStringList extra = parser.values(portOption);
    const bool watch = parser.isSet(watchOption);
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
