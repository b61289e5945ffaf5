// `talvo`: the command users run.  It converts Intel HEX itself and hands
// every other command line to the Qt command program `talvo-cli`.
//
// Converting a file should not cost more than the conversion: a program
// linked against QtCore spends about as long in the dynamic loader (QtCore,
// ICU, glib, pcre2, ...) as objcopy needs for a whole 256 KB image.  So the
// plain form `talvo hex2bin IN OUT` runs here on the Qt-free converter core,
// and everything else -- other commands, --help, --version, options, wrong
// arguments, including hex2bin with options -- is executed by talvo-cli with
// the same arguments, so its output and exit codes are those of the one
// program that parses command lines.  A plain conversion that fails is
// handed over too, silently: talvo-cli converts again and reports the
// failure in the reader's language (Chinese or English, from --lang, the
// settings and the locale), which needs its translations.  A failed
// conversion leaves no file behind, so the second run finds the same.
//
// talvo-cli is looked for next to this program (the build tree) and then in
// ../libexec/talvo/ (an installation).
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include <limits.h>
#include <unistd.h>

#include "cli/Hex2Bin.h"

namespace {

constexpr const char* kCommandProgram = "talvo-cli";

// An operand that the Qt parser could read as nothing but an operand.
bool plainOperand(const char* a) { return a[0] != '-'; }

// The folder this program lies in, links resolved.
std::string ownFolder() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    const std::string self(path, static_cast<size_t>(n));
    const size_t slash = self.rfind('/');
    return slash == std::string::npos ? std::string() : self.substr(0, slash);
}

int handOver(char** argv) {
    const std::string dir = ownFolder();
    if (dir.empty()) {
        std::fprintf(stderr, "talvo: cannot find where this program lies (/proc/self/exe: %s)\n", std::strerror(errno));
        return talvo::cli::Hex2BinFailure;
    }
    const std::string candidates[] = {dir + '/' + kCommandProgram, dir + "/../libexec/talvo/" + kCommandProgram};
    int error = 0; // the first reason other than a missing file, if any
    for (const std::string& c : candidates) {
        ::execv(c.c_str(), argv);
        if (error == 0 || error == ENOENT)
            error = errno;
    }
    std::fprintf(stderr, "talvo: cannot run %s (looked for %s and %s): %s; is the installation complete?\n",
                 kCommandProgram, candidates[0].c_str(), candidates[1].c_str(), std::strerror(error));
    return talvo::cli::Hex2BinFailure;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "hex2bin") == 0 && plainOperand(argv[2]) && plainOperand(argv[3])) {
        // The system's reasons (a missing file, a full disk) in the user's
        // language, as the Qt program gives them (strerror reads these two).
        std::setlocale(LC_CTYPE, "");
        std::setlocale(LC_MESSAGES, "");
        if (talvo::cli::ConvertHexFile(argv[2], argv[3], nullptr, true) == talvo::cli::Hex2BinOk)
            return talvo::cli::Hex2BinOk;
    }
    return handOver(argv);
}
