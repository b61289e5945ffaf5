// `talvo`: the command-line face of TALVO.
#include <QCoreApplication>

#include <cstdio>
#include <map>
#include <string>

#include "cli/Command.h"
#include "platform/Language.h"
#include "platform/SimBoardSet.h"
#include "platform/SimRegistry.h"
#include "platform/WireTrace.h"
#include "sim/Simulators.h"

namespace talvo::cli {

namespace {
std::map<std::string, Subcommand>& registry() {
    static std::map<std::string, Subcommand> commands;
    return commands;
}
} // namespace

void registerSubcommand(const Subcommand& command) { registry()[command.name] = command; }

void out(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

void err(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

int usageError(const QString& name, const QString& message) {
    QString m = message;
    if (m.endsWith(QLatin1Char('.'))) m.chop(1);
    err(QStringLiteral("talvo %1: %2; see 'talvo %1 --help'\n").arg(name, m));
    return ExitUsage;
}

int parseSubcommand(QCommandLineParser& parser, const QString& name, const QString& description,
                    const QStringList& args, int minPositional, int maxPositional) {
    parser.setApplicationDescription(description);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    parser.addOption(help);
    if (!parser.parse(QStringList{QStringLiteral("talvo ") + name} + args))
        return usageError(name, parser.errorText());
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        // Qt's help names the program by the path it was started with.
        const QString program = QCoreApplication::arguments().value(0);
        const QString usage = QStringLiteral("Usage: ") + program;
        if (text.startsWith(usage)) text.replace(0, usage.size(), QStringLiteral("Usage: talvo ") + name);
        out(text);
        return ExitOk;
    }
    const qsizetype n = parser.positionalArguments().size();
    if (n < minPositional)
        return usageError(name, QStringLiteral("missing argument%1").arg(minPositional - n > 1 ? "s" : ""));
    if (maxPositional >= 0 && n > maxPositional)
        return usageError(name, QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().at(maxPositional)));
    return -1;
}

QString SimPortProblem(const QString& port) {
    if (!port.startsWith(QLatin1String(talvo::kSimPortPrefix))) return {};
    std::string error;
    if (talvo::sim::checkSelector(port.toStdString(), &error)) return {};
    return QStringLiteral("--port %1: %2").arg(port, QString::fromStdString(error));
}

static QString helpText() {
    QString h = QStringLiteral(
        "Usage: talvo COMMAND [ARGS...]\n"
        "       talvo --version | --help\n"
        "\n"
        "--lang zh|en (before or after the command) chooses the language of the output:\n"
        "Chinese or English (default: the settings' Language=zh|en, else the locale:\n"
        "Chinese for a Chinese locale or none (C, POSIX), English otherwise).\n"
        "\n"
        "TALVO programs STC 8051 and STM32 microcontrollers through their serial\n"
        "bootloaders.  The window is `talvo-gui`.\n"
        "\nCommands that open serial ports take --trace (every byte on the wire, with\n"
        "its time and line settings, to standard error) or --trace=FILE; the window\n"
        "reads the environment variable TALVO_TRACE=FILE.\n"
        "\nEvery command takes --help; options take their value as --opt=value or --opt value.\n"
        "\nCommands:\n");
    for (const auto& [name, command] : registry())
        h += QStringLiteral("  %1\n").arg(QString::fromUtf8(command.usage));
    h += QStringLiteral(
        "\nExit codes:\n"
        "  0  success\n"
        "  1  the operation failed (see the message)\n"
        "  2  wrong arguments\n"
        "  3  a problem with the firmware file: hex2bin, malformed Intel HEX; download, anything\n"
        "     found in the file before a port is opened (unreadable, malformed HEX, empty, too\n"
        "     large for the chip type, a .bin holding Intel HEX text, outside the STM32 flash)\n");
    return h;
}

} // namespace talvo::cli

int main(int argc, char** argv) {
    using namespace talvo::cli;
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("TALVO"));
    QCoreApplication::setApplicationName(QStringLiteral("TALVO"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TALVO_VERSION));

    // The language of what talvo prints: --lang zh|en (anywhere before "--"),
    // the settings' "Language", then the locale.  Qt's own messages (those of
    // the option parser) stay as they are, which the exit-2 texts rely on.
    QStringList all = QCoreApplication::arguments();
    const std::optional<QString> lang = talvo::takeLanguageOption(all);
    if (lang && !talvo::parseLanguage(*lang)) {
        err(QStringLiteral("talvo: --lang takes zh or en, not '%1'\n").arg(*lang));
        return ExitUsage;
    }
    QString langError;
    if (!talvo::installTranslations(
            app, talvo::chooseLanguage(lang.value_or(QString()), talvo::settingsLanguage(), talvo::environmentLocale()),
            false, &langError))
        err(QStringLiteral("talvo: %1\n").arg(langError));

    QStringList args = all.mid(1);
    if (args.isEmpty() || args.first() == QLatin1String("--help") || args.first() == QLatin1String("-h")) {
        out(helpText());
        return args.isEmpty() ? ExitUsage : ExitOk;
    }
    if (args.first() == QLatin1String("--version")) {
        out(QStringLiteral("talvo %1 (Qt %2)\n").arg(QStringLiteral(TALVO_VERSION), QString::fromLatin1(qVersion())));
        return ExitOk;
    }
    const std::string name = args.first().toStdString();
    const auto it = registry().find(name);
    if (it == registry().end()) {
        err(QStringLiteral("talvo: unknown command '%1'; see 'talvo --help'\n").arg(args.first()));
        return ExitUsage;
    }
    args.removeFirst();
    // Every command that opens serial ports traces the wire with --trace;
    // `talvo sim` traces its own end of the pty instead.
    if (name != "sim") {
        QString error;
        if (!talvo::WireTrace::takeOption(args, &error)) {
            err(QStringLiteral("talvo: %1\n").arg(error));
            return ExitUsage;
        }
    }
    talvo::sim::registerSimulators();
    const int rc = it->second.run(args);
    // Simulated boards end here (their chips write any requested dumps).
    talvo::releaseSimBoards();
    return rc;
}
