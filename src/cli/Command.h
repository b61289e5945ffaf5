#pragma once
// Subcommands of the `talvo` command.  Each lives in its own source file and
// registers itself with TALVO_SUBCOMMAND; main() dispatches by name.

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

namespace talvo::cli {

// Exit codes of `talvo` (documented in `talvo --help` and the README).
enum ExitCode : int {
    ExitOk = 0,
    ExitFailure = 1,      // the operation ran and failed (download failed, port not found, ...)
    ExitUsage = 2,        // wrong arguments
    ExitMalformedHex = 3, // hex2bin: malformed Intel HEX input
    // download: a problem knowable from the firmware file alone (unreadable,
    // malformed HEX, empty, too large for the chip type's protocol, a .bin
    // holding Intel HEX text, outside the STM32 flash area)
    ExitBadFirmware = 3
};

struct Subcommand {
    const char* name;
    const char* usage;   // one line: "NAME ARGS  what it does"
    int (*run)(const QStringList& args); // args without the subcommand's name
};

void registerSubcommand(const Subcommand& command);

struct Registrar {
    explicit Registrar(const Subcommand& command) { registerSubcommand(command); }
};

// Prints to standard output / standard error (UTF-8).
void out(const QString& text);
void err(const QString& text);

// Parses a subcommand's arguments (without its name) with `parser`, to which
// the subcommand has added its options and positional arguments; adds
// --help.  Returns -1 when the command is to run; otherwise the exit code:
// 0 after printing the help for --help, 2 after printing one line that says
// what is wrong (an unknown option, a missing value, too many or too few
// arguments) and how to get the help.  `description` heads the help;
// `minPositional`/`maxPositional` bound the positional arguments (-1: any).
int parseSubcommand(QCommandLineParser& parser, const QString& name, const QString& description,
                    const QStringList& args, int minPositional, int maxPositional);
// The same error line, for checks the subcommand makes itself; returns 2.
int usageError(const QString& name, const QString& message);

// "" unless `port` is a simulated board ("sim:...") whose chip name or an
// option is wrong; then what is wrong ("--port sim:x,freq=abc: option
// 'freq=abc': expects ...").  No board is made.
QString SimPortProblem(const QString& port);

} // namespace talvo::cli

#define TALVO_SUBCOMMAND(ident, name, usage, fn) \
    static const ::talvo::cli::Registrar ident##_registrar{::talvo::cli::Subcommand{name, usage, fn}}
