#pragma once
// Subcommands of the `talvo` command.  Each lives in its own source file and
// registers itself with TALVO_SUBCOMMAND; main() dispatches by name.

#include <QString>
#include <QStringList>

namespace talvo::cli {

// Exit codes of `talvo` (documented in `talvo --help` and the README).
enum ExitCode : int {
    ExitOk = 0,
    ExitFailure = 1,     // the operation ran and failed (download failed, port not found, ...)
    ExitUsage = 2,       // wrong arguments
    ExitMalformedHex = 3 // malformed Intel HEX input
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

} // namespace talvo::cli

#define TALVO_SUBCOMMAND(ident, name, usage, fn) \
    static const ::talvo::cli::Registrar ident##_registrar{::talvo::cli::Subcommand{name, usage, fn}}
