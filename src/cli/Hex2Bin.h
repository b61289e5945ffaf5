#pragma once
// `talvo hex2bin IN OUT` once its arguments are known: converts, prints the
// converter's message and where it applies to standard error, and returns
// the exit code.  Free of Qt: the `talvo` launcher runs it without loading
// the Qt command program, which runs it too after parsing options.

#include <string>

namespace talvo::hexcore {
struct Result;
}

namespace talvo::cli {

// Exit codes of the conversion (the same values as ExitOk, ExitFailure,
// ExitUsage and ExitMalformedHex of the Qt command program).
enum Hex2BinExit : int { Hex2BinOk = 0, Hex2BinFailure = 1, Hex2BinUsage = 2, Hex2BinMalformed = 3 };

// OUT naming the same file as IN (also through a symbolic or hard link) is
// refused before anything is written: the image would replace its source.
// `message` gives the converter's message as it is printed (null: its own
// words, in Chinese); with `quiet` a failed conversion prints nothing.
int ConvertHexFile(const char* in, const char* out, std::string (*message)(const hexcore::Result&) = nullptr,
                   bool quiet = false);

} // namespace talvo::cli
