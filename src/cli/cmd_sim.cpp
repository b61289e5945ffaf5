// `talvo sim`: a simulated chip behind a pseudo-terminal.
#include <csignal>
#include <cstdio>

#include <QElapsedTimer>

#include "cli/Command.h"
#include "sim/PtyServer.h"
#include "sim/Simulators.h"

namespace talvo::cli {

namespace {

void onSignal(int) { sim::PtyServer::requestStop(); }

QString listText() {
    QString t = QStringLiteral("Simulated chips (talvo sim CHIP, or --port sim:CHIP[,freq=MHZ][,faults=LIST]):\n");
    for (const auto& e : sim::chipList())
        t += QStringLiteral("  %1  %2\n").arg(QString::fromStdString(e.name), -14).arg(QString::fromStdString(e.description));
    t += QStringLiteral(
        "\nChip options (after the name, comma-separated): freq=MHZ, clock=6|12, scale=X (time scale of\n"
        "erase/write/answer delays, 0 = instant), tolerance=PCT, drift=PCT (the chip's clock off by as much\n"
        "after its first answer), jitter=on|off|A:B:C:D:E:F:G:H, idle=SECONDS, reopen=SECONDS,\n"
        "switchfloor=SECONDS, dump=FILE (the flash is written there when the chip ends),\n"
        "load=FILE[@ADDR] (the file's bytes are in the flash from ADDR, decimal or 0x..., when the chip\n"
        "starts; without @ADDR from the flash start, 0x08000000 on STM32: a board that holds a\n"
        "bootloader of its own, say), rdp (STM32: readout protection on; Readout Unprotect erases the\n"
        "flash and drops it).\n"
        "Faults: drop=P, corrupt=P, delay=SECONDS, delay-from=N, silent-after=N, nack-block=N, nack-count=K,\n"
        "bad-ack=N, truncate-status=K, hangup-block=N, bad-word=N, seed=N.\n"
        "\nBehind the pty: the chip starts when a program opens the port, stops when the port stays closed\n"
        "for 0.5 s (reopen=SECONDS; a quicker re-open, as in a rate switch, finds it as it was), and\n"
        "restarts after 2 s without traffic (idle=SECONDS).  A pty carries no parity, so the host\n"
        "is taken to use the chip's own (8E1 chips work with hosts set to 8N1, e.g. stm32flash -m 8n1).\n"
        "The host's rate is read from the pty's settings; --pace writes each answer byte at that rate.\n");
    return t;
}

int runSim(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption listOption(QStringLiteral("list"), QStringLiteral("List the simulated chips and their options."));
    const QCommandLineOption freqOption(QStringLiteral("freq"), QStringLiteral("Crystal frequency in MHz (STC chips)."),
                                        QStringLiteral("MHZ"));
    const QCommandLineOption linkOption(QStringLiteral("link"),
                                        QStringLiteral("Make PATH a symbolic link to the pseudo-terminal."),
                                        QStringLiteral("PATH"));
    const QCommandLineOption dumpOption(QStringLiteral("dump"), QStringLiteral("Write the chip's flash to FILE when it stops."),
                                        QStringLiteral("FILE"));
    const QCommandLineOption faultsOption(QStringLiteral("faults"),
                                          QStringLiteral("Chip options and faults, comma-separated (see --list)."),
                                          QStringLiteral("LIST"));
    const QCommandLineOption paceOption(QStringLiteral("pace"), QStringLiteral("Send each answer byte at the line rate."));
    const QCommandLineOption traceOption(QStringLiteral("trace"), QStringLiteral("Trace the chip's side on standard error."));
    parser.addOptions({listOption, freqOption, linkOption, dumpOption, faultsOption, paceOption, traceOption});
    parser.addPositionalArgument(QStringLiteral("CHIP"), QStringLiteral("The chip to simulate (see --list)."));
    if (const int rc = parseSubcommand(parser, QStringLiteral("sim"),
                                       QStringLiteral("Serves a simulated chip on a pseudo-terminal until stopped "
                                                      "(Ctrl-C or SIGTERM); its path is printed on standard output."),
                                       args, 0, 1);
        rc >= 0)
        return rc;
    if (parser.isSet(listOption)) {
        out(listText());
        return ExitOk;
    }
    if (parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("sim"), QStringLiteral("name a chip; `talvo sim --list` shows them"));
    const QString chipName = parser.positionalArguments().first();
    QStringList extra;
    if (parser.isSet(freqOption)) extra << QStringLiteral("freq=") + parser.value(freqOption);
    for (const QString& f : parser.values(faultsOption)) extra << f.split(QLatin1Char(','), Qt::SkipEmptyParts);
    const QString link = parser.value(linkOption);
    const QString dump = parser.value(dumpOption);
    const bool pace = parser.isSet(paceOption);
    const bool trace = parser.isSet(traceOption);
    QString selector = chipName;
    for (const auto& e : extra) selector += QLatin1Char(',') + e;
    std::string error;
    auto chip = sim::makeChip(selector.toStdString(), &error);
    if (!chip) {
        err(QStringLiteral("talvo sim: %1\n").arg(QString::fromStdString(error)));
        return ExitUsage;
    }

    QElapsedTimer clock;
    clock.start();
    sim::PtyServer::Options options;
    options.link = link.toStdString();
    options.pace = pace;
    if (trace) {
        options.trace = [&clock](const std::string& s) {
            err(QStringLiteral("%1 %2\n").arg(clock.nsecsElapsed() / 1e9, 10, 'f', 6).arg(QString::fromStdString(s)));
        };
        chip->setTrace(options.trace);
    }
    options.announce = [&](const std::string& path) {
        out(QString::fromStdString(path) + QLatin1Char('\n'));
        err(QStringLiteral("talvo sim: %1 on %2%3; stop with Ctrl-C or SIGTERM\n")
                .arg(QString::fromStdString(chip->name()), QString::fromStdString(path),
                     link.isEmpty() ? QString() : QStringLiteral(" (link %1)").arg(link)));
    };
    // A stop signal that comes while the server starts (the link already
    // exists) waits until the server can take it, so the flash is still dumped.
    sigset_t stops, before;
    sigemptyset(&stops);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stops, s);
    sigprocmask(SIG_BLOCK, &stops, &before);
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &sa, nullptr);
    sim::PtyServer server(*chip, options);
    const bool started = server.start(&error);
    sigprocmask(SIG_SETMASK, &before, nullptr);
    if (!started) {
        err(QStringLiteral("talvo sim: %1\n").arg(QString::fromStdString(error)));
        return ExitFailure;
    }

    int rc = server.serve(&error) == 0 ? ExitOk : ExitFailure;
    if (rc != ExitOk) err(QStringLiteral("talvo sim: %1\n").arg(QString::fromStdString(error)));
    if (!dump.isEmpty()) {
        if (!chip->dumpFlash(dump.toStdString(), &error)) {
            err(QStringLiteral("talvo sim: %1\n").arg(QString::fromStdString(error)));
            rc = ExitFailure;
        }
    }
    return rc;
}

} // namespace

TALVO_SUBCOMMAND(sim, "sim",
                 "sim CHIP [--freq MHZ] [--link PATH] [--dump FILE] [--faults LIST] [--pace] [--trace] | sim --list"
                 "  serve a simulated chip on a pseudo-terminal",
                 runSim);

} // namespace talvo::cli
