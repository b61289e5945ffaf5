// `talvo hex2bin IN OUT`: converts an Intel HEX file into a flat binary file.
#include "cli/Command.h"
#include "image/HexToBin.h"

namespace talvo::cli {
namespace {

int runHex2Bin(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("IN"), QStringLiteral("The Intel HEX file."));
    parser.addPositionalArgument(QStringLiteral("OUT"), QStringLiteral("The binary image to write (replaced whole)."));
    if (const int rc = parseSubcommand(parser, QStringLiteral("hex2bin"),
                                       QStringLiteral("Converts an Intel HEX file into a flat binary image; exit 3 "
                                                      "for malformed HEX input."),
                                       arguments, 2, 2);
        rc >= 0)
        return rc;
    const QStringList args = parser.positionalArguments();
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
