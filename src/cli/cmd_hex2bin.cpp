// `talvo hex2bin IN OUT`: converts an Intel HEX file into a flat binary file.
// The `talvo` launcher runs the plain form (two operands, no options) itself
// through ConvertHexFile; this command takes every other form (--help,
// options, wrong arguments) and the plain form that failed there (to report
// it in the reader's language), and ends in the same ConvertHexFile.
#include <QFile>

#include "cli/Command.h"
#include "cli/Hex2Bin.h"
#include "image/HexCore.h"
#include "image/HexToBin.h"

namespace talvo::cli {
namespace {

static_assert(int(Hex2BinOk) == int(ExitOk) && int(Hex2BinFailure) == int(ExitFailure) &&
              int(Hex2BinUsage) == int(ExitUsage) && int(Hex2BinMalformed) == int(ExitMalformedHex));

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
    // The converter's message in the reader's language.
    const auto message = [](const hexcore::Result& r) { return HexToBin::MessageText(r).toStdString(); };
    return ConvertHexFile(QFile::encodeName(args[0]).constData(), QFile::encodeName(args[1]).constData(), message);
}

} // namespace

TALVO_SUBCOMMAND(hex2bin, "hex2bin", "hex2bin IN OUT      convert an Intel HEX file into a flat binary image (exit 3: malformed HEX)", runHex2Bin);

} // namespace talvo::cli
