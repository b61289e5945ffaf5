// talvo_soak: the whole fault-injection soak by hand.
//
//   talvo_soak                          1000 seeded runs of every family, the tables
//   talvo_soak --runs 200 --family stc-two-byte --first-seed 5000
//   talvo_soak --family stc-one-byte --seed 17 --verbose   one run with its log (and --trace: the chip's)
//
// Exits 0 when every run ended as it must, 1 otherwise, 2 on bad arguments.
#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "soak/Soak.h"

using namespace talvo::soak;

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: talvo_soak [--runs N] [--first-seed S] [--family KEY]\n"
                 "       talvo_soak --family KEY --seed S [--verbose] [--trace]\n"
                 "families:");
    for (const Family& f : Families()) std::fprintf(stderr, " %s", f.key);
    std::fprintf(stderr, "\n");
    return 2;
}

bool toNumber(const char* text, uint64_t* out) {
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (!*text || *end) return false;
    *out = v;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    uint64_t runs = 1000, firstSeed = 1, seed = 0;
    bool oneSeed = false, verbose = false, trace = false;
    std::string familyKey;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](uint64_t* out) { return i + 1 < argc && toNumber(argv[++i], out); };
        if (a == "--runs") {
            if (!value(&runs) || runs == 0) return usage();
        } else if (a == "--first-seed") {
            if (!value(&firstSeed)) return usage();
        } else if (a == "--seed") {
            if (!value(&seed)) return usage();
            oneSeed = true;
        } else if (a == "--family" && i + 1 < argc) {
            familyKey = argv[++i];
            if (!FindFamily(familyKey)) return usage();
        } else if (a == "--verbose") {
            verbose = true;
        } else if (a == "--trace") {
            trace = verbose = true;
        } else {
            return usage();
        }
    }
    InstallCrashReport();

    if (oneSeed) {
        if (familyKey.empty()) return usage();
        const Family& family = *FindFamily(familyKey);
        const SoakCase c = MakeCase(family, seed);
        std::printf("%s\n", c.describe().c_str());
        const SoakResult r = RunCase(family, c, trace ? [](const std::string& line) { std::printf("  %s\n", line.c_str()); }
                                                      : std::function<void(const std::string&)>{});
        if (verbose)
            for (const QString& line : r.log) std::printf("| %s\n", line.toUtf8().constData());
        std::printf("outcome: %s, %.3f s of its bound %.3f s\n", r.stage.toUtf8().constData(), r.elapsed, r.bound);
        for (const auto& v : r.violations) std::printf("VIOLATION: %s\n", v.c_str());
        return r.violations.empty() ? 0 : 1;
    }

    const int fds = OpenFileDescriptors();
    const int threads = Threads();
    const auto started = std::chrono::steady_clock::now();
    int violations = 0;
    for (const Family& family : Families()) {
        if (!familyKey.empty() && familyKey != family.key) continue;
        Tally tally(family);
        for (uint64_t s = firstSeed; s < firstSeed + runs; ++s) tally.add(RunCase(family, MakeCase(family, s)));
        std::printf("%s\n", tally.report(firstSeed).c_str());
        std::fflush(stdout);
        violations += tally.violations();
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("file descriptors %d before, %d after; threads %d before, %d after; %.1f s of wall time\n", fds,
                OpenFileDescriptors(), threads, Threads(), wall);
    const bool leaked = OpenFileDescriptors() != fds || Threads() != threads;
    std::printf("%s\n", violations == 0 && !leaked ? "every run ended as it must" : "VIOLATIONS (see above)");
    return violations == 0 && !leaked ? 0 : 1;
}
