// `talvo porttest`: the port loopback test from the command line.  The log
// lines go to standard output as the window shows them; the message for a
// port that cannot be opened goes to standard error.
#include <QCommandLineParser>

#include "panel/MemoryPanel.h"
#include "cli/Command.h"
#include "host/SerialDownloadHost.h"
#include "porttest/HostPortTestLink.h"
#include "porttest/PortTestCore.h"
#include "porttest/PortTestIds.h"

namespace talvo::cli {
namespace {

int runPortTest(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sends six 512-byte blocks through PORT, two each at 9600, 57600 and 115200 baud,\n"
        "and compares what comes back.  Join the board's P3.0 and P3.1 (RXD and TXD)\n"
        "first, so that every byte sent returns.  Exit code 0 when the state reads\n"
        "\"测试 OK\", 1 when the test failed, 2 for wrong arguments."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Shows this help."));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("The serial port: a device path, a name under /dev, or "
                                                       "sim:loopback (a simulated loopback plug)."),
                                        QStringLiteral("PORT"));
    parser.addOption(helpOption);
    parser.addOption(portOption);

    QStringList argv = args;
    argv.prepend(QStringLiteral("talvo porttest"));
    if (!parser.parse(argv)) {
        err(QStringLiteral("talvo porttest: %1; see 'talvo porttest --help'\n").arg(parser.errorText()));
        return ExitUsage;
    }
    if (parser.isSet(helpOption)) {
        out(QStringLiteral("Usage: talvo porttest --port PORT [--trace[=FILE]]\n\n") +
            parser.applicationDescription() + QStringLiteral("\n\nOptions:\n") +
            QStringLiteral("  --port PORT       %1\n").arg(portOption.description()) +
            QStringLiteral("  --trace[=FILE]    every byte on the wire to standard error (or FILE)\n") +
            QStringLiteral("  -h, --help        %1\n").arg(helpOption.description()));
        return ExitOk;
    }
    if (!parser.positionalArguments().isEmpty()) {
        err(QStringLiteral("talvo porttest: unexpected argument '%1'; see 'talvo porttest --help'\n")
                .arg(parser.positionalArguments().first()));
        return ExitUsage;
    }
    const QString port = parser.value(portOption);
    if (!parser.isSet(portOption) || port.isEmpty()) {
        err(QStringLiteral("talvo porttest: --port PORT is required; see 'talvo porttest --help'\n"));
        return ExitUsage;
    }
    if (const QString why = SimPortProblem(port); !why.isEmpty()) return usageError(QStringLiteral("porttest"), why);

    MemoryPanel panel;
    panel.onLogLine = [](const QString& line) {
        QString shown = line;
        shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        out(shown + QLatin1Char('\n'));
    };
    panel.onMessage = [](const ShownMessage& m) {
        err(QStringLiteral("%1: %2\n").arg(m.caption.isEmpty() ? QStringLiteral("talvo porttest") : m.caption, m.text));
    };
    HostReports reports;
    reports.message = [&panel](const QString& text, const QString& caption, MsgIcon icon) {
        panel.messageBox(text, caption, icon);
    };
    SerialDownloadHost host(reports);
    HostPortTestLink link(host, [port] { return port; });
    PortTestCore test(panel, link);
    test.ResetPortTest();
    const bool passed = test.RunLoopbackTest();
    err(panel.text(ptctl::State) + QLatin1Char('\n'));
    return passed ? ExitOk : ExitFailure;
}

} // namespace

TALVO_SUBCOMMAND(porttest, "porttest",
                 "porttest --port PORT  loopback test of a serial port with P3.0 and P3.1 joined "
                 "(exit 0 on \"测试 OK\")",
                 runPortTest);

} // namespace talvo::cli
