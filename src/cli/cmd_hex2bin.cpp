// `talvo hex2bin IN OUT`: converts an Intel HEX file into a flat binary file.
#include "cli/Command.h"
#include "image/HexToBin.h"

namespace talvo::cli {
namespace {

int runHex2Bin(const QStringList& args) {
    if (args.size() != 2) {
        err(QStringLiteral("usage: talvo hex2bin IN OUT\n"));
        return ExitUsage;
    }
    HexToBin converter;
    const HexResult r = converter.Convert(args[0], args[1]);
    if (r.ok())
        return ExitOk;
    // The converter's own message first, as the window shows it; then where.
    err(r.message.endsWith(QLatin1Char('\n')) ? r.message : r.message + QLatin1Char('\n'));
    if (!r.where().isEmpty())
        err(QStringLiteral("talvo hex2bin: %1: %2\n").arg(args[0], r.where()));
    return r.exitCode() == 3 ? ExitMalformedHex : ExitFailure;
}

} // namespace

TALVO_SUBCOMMAND(hex2bin, "hex2bin", "hex2bin IN OUT      convert an Intel HEX file into a flat binary image (exit 3: malformed HEX)", runHex2Bin);

} // namespace talvo::cli
