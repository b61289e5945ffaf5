#include "cli/Hex2Bin.h"

#include <cstdio>
#include <string>

#include <sys/stat.h>

#include "image/HexCore.h"

namespace talvo::cli {

namespace {
void err(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}
} // namespace

int ConvertHexFile(const char* in, const char* out, std::string (*message)(const hexcore::Result&), bool quiet) {
    struct stat source {}, target {};
    if (::stat(in, &source) == 0 && ::stat(out, &target) == 0 && source.st_dev == target.st_dev &&
        source.st_ino == target.st_ino) {
        if (!quiet)
            err("talvo hex2bin: " + std::string(out) + " is the same file as " + std::string(in) +
                "; the image would overwrite its own source (choose another OUT)\n");
        return Hex2BinUsage;
    }
    const hexcore::Result r = hexcore::Convert(in, out);
    if (r.ok())
        return Hex2BinOk;
    if (quiet) return r.kind == hexcore::Kind::Malformed ? Hex2BinMalformed : Hex2BinFailure;
    // The converter's own message first, as the window shows it; then where.
    const std::string text = message ? message(r) : r.message;
    const bool ends = !text.empty() && text.back() == '\n';
    err(ends ? text : text + '\n');
    if (const std::string where = hexcore::Where(r); !where.empty())
        err("talvo hex2bin: " + std::string(in) + ": " + where + '\n');
    return r.kind == hexcore::Kind::Malformed ? Hex2BinMalformed : Hex2BinFailure;
}

} // namespace talvo::cli
