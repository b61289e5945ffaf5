// Converting the Intel HEX of a 256 KB image: TALVO's converter against
// `objcopy -I ihex -O binary` and `srec_cat -intel ... -binary` on the same
// file in the same run.  The programs take turns (one run of each per round,
// the order rotating from round to round), so a machine whose load changes
// during the run weighs on all of them alike.  Prints the median wall time
// and the median processor time (user + system) of each, and the ratios;
// checks that all outputs agree.
//
// Usage: hex_bench [RUNS] [RECORD_BYTES]   (defaults 15 and 16)
// The last line is "hex2bin/objcopy: RATIO (wall), RATIO (CPU)".
#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include "image/HexToBin.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Times {
    double wallMs = -1;
    double cpuMs = -1;
};

// Runs a program with stdout/stderr sent to /dev/null; its wall and processor
// time, or -1 for both when it could not start or did not exit with 0.
Times spawnWait(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto t0 = Clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return {};
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    const double wall = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};
    const double cpu = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                       (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    return {wall, cpu};
}

double median(std::vector<double> v) {
    if (v.empty() || *std::min_element(v.begin(), v.end()) < 0)
        return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Contender {
    const char* label;
    std::vector<std::string> argv; // empty: the converter in this process
    bool writesImage;
    std::vector<double> wall, cpu;
    bool sameImage = true;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    const int recordBytes = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 255) : 16;
    const std::string objcopy = QStandardPaths::findExecutable(QStringLiteral("objcopy")).toStdString();
    const std::string srecCat = QStandardPaths::findExecutable(QStringLiteral("srec_cat")).toStdString();
    if (objcopy.empty() || srecCat.empty()) {
        std::fprintf(stderr, "hex_bench: objcopy and srec_cat are needed\n");
        return 1;
    }
    QTemporaryDir dir;
    const std::string bin = dir.filePath(QStringLiteral("image.bin")).toStdString();
    const std::string hex = dir.filePath(QStringLiteral("image.hex")).toStdString();
    const std::string out = dir.filePath(QStringLiteral("out.bin")).toStdString();

    // 256 KB of random bytes at 0x08000000, written as HEX by srec_cat.
    QByteArray image(256 * 1024, '\0');
    std::mt19937 rng(1);
    for (char& c : image)
        c = char(rng());
    QFile f(QString::fromStdString(bin));
    if (!f.open(QIODevice::WriteOnly) || f.write(image) != image.size())
        return 1;
    f.close();
    if (spawnWait({srecCat, bin, "-binary", "-offset", "0x08000000", "-o", hex, "-intel",
                   "-output_block_size=" + std::to_string(recordBytes)})
            .wallMs < 0) {
        std::fprintf(stderr, "hex_bench: srec_cat could not write the HEX file\n");
        return 1;
    }
    const QString hexQ = QString::fromStdString(hex);
    const QString outQ = QString::fromStdString(out);

    std::vector<Contender> all = {
        {"HexToBin::Convert (in process)", {}, true, {}, {}},
        {"talvo hex2bin (process)", {TALVO_CLI, "hex2bin", hex, out}, true, {}, {}},
        {"talvo --version (via talvo-cli)", {TALVO_CLI, "--version"}, false, {}, {}},
        {"objcopy -I ihex -O binary", {objcopy, "-I", "ihex", "-O", "binary", hex, out}, true, {}, {}},
        {"srec_cat -intel ... -binary", {srecCat, hex, "-intel", "-offset", "-0x08000000", "-o", out, "-binary"}, true, {}, {}},
    };
    talvo::HexToBin converter;
    // One round before the measured ones brings the files and programs into the page cache.
    for (int round = -1; round < runs; ++round) {
        for (size_t k = 0; k < all.size(); ++k) {
            Contender& c = all[(k + static_cast<size_t>(std::max(round, 0))) % all.size()];
            QFile::remove(outQ);
            Times t;
            if (c.argv.empty()) {
                const auto t0 = Clock::now();
                const bool ok = converter.Convert(hexQ, outQ).ok();
                const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
                t = ok ? Times{ms, ms} : Times{};
            } else {
                t = spawnWait(c.argv);
            }
            if (c.writesImage)
                c.sameImage = c.sameImage && readFile(outQ) == image;
            if (round >= 0) {
                c.wall.push_back(t.wallMs);
                c.cpu.push_back(t.cpuMs);
            }
        }
    }

    std::printf("HEX of a %d-byte image, %d-byte records: %lld bytes; median of %d rounds, the programs taking turns\n",
                int(image.size()), recordBytes, static_cast<long long>(QFile(hexQ).size()), runs);
    std::printf("  %-34s %9s %9s\n", "", "wall ms", "CPU ms");
    bool allOk = true;
    for (const Contender& c : all) {
        std::printf("  %-34s %9.2f %9.2f%s\n", c.label, median(c.wall), median(c.cpu),
                    c.sameImage ? "" : "   OUTPUT DIFFERS");
        allOk = allOk && c.sameImage && median(c.wall) > 0;
    }
    const auto ratio = [&](int a, int b, bool cpu) {
        const double x = median(cpu ? all[a].cpu : all[a].wall), y = median(cpu ? all[b].cpu : all[b].wall);
        return x > 0 && y > 0 ? x / y : -1.0;
    };
    std::printf("ratios (below 1 = faster than the tool), wall / CPU:\n");
    std::printf("  talvo hex2bin / srec_cat  %.2f / %.2f\n", ratio(1, 4, false), ratio(1, 4, true));
    std::printf("  in process / objcopy      %.2f\n", ratio(0, 3, false));
    std::printf("hex2bin/objcopy: %.2f (wall), %.2f (CPU)\n", ratio(1, 3, false), ratio(1, 3, true));
    if (!allOk) {
        std::fprintf(stderr, "hex_bench: outputs differ or a run failed\n");
        return 1;
    }
    return 0;
}
