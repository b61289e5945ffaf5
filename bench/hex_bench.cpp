// Converting the Intel HEX of a 256 KB image: TALVO's converter against
// `objcopy -I ihex -O binary` and `srec_cat -intel ... -binary` on the same
// file in the same run.  Prints the median of several runs of each and the
// ratios; checks that all outputs agree.
//
// Usage: hex_bench [RUNS] [RECORD_BYTES]   (defaults 15 and 16)
#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include "image/HexToBin.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Runs a program with stdout/stderr sent to /dev/null; returns its exit status.
int spawnWait(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double medianMs(int runs, const std::function<bool()>& once) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        if (!once())
            return -1;
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

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
                   "-output_block_size=" + std::to_string(recordBytes)}) != 0) {
        std::fprintf(stderr, "hex_bench: srec_cat could not write the HEX file\n");
        return 1;
    }
    const QString hexQ = QString::fromStdString(hex);
    const QString outQ = QString::fromStdString(out);

    talvo::HexToBin converter;
    const double inProcess = medianMs(runs, [&] { return converter.Convert(hexQ, outQ).ok(); });
    const bool sameInProcess = readFile(outQ) == image;
    const double cli = medianMs(runs, [&] { return spawnWait({TALVO_CLI, "hex2bin", hex, out}) == 0; });
    const bool sameCli = readFile(outQ) == image;
    const double startup = medianMs(runs, [&] { return spawnWait({TALVO_CLI, "--version"}) == 0; });
    const double viaObjcopy = medianMs(runs, [&] { return spawnWait({objcopy, "-I", "ihex", "-O", "binary", hex, out}) == 0; });
    const bool sameObjcopy = readFile(outQ) == image;
    const double viaSrec = medianMs(runs, [&] {
        return spawnWait({srecCat, hex, "-intel", "-offset", "-0x08000000", "-o", out, "-binary"}) == 0;
    });
    const bool sameSrec = readFile(outQ) == image;

    std::printf("HEX of a %d-byte image, %d-byte records: %lld bytes; median of %d runs\n", int(image.size()),
                recordBytes, static_cast<long long>(QFile(hexQ).size()), runs);
    std::printf("  HexToBin::Convert (in process)  %8.2f ms\n", inProcess);
    std::printf("  talvo hex2bin (process)         %8.2f ms\n", cli);
    std::printf("  talvo --version (start-up only) %8.2f ms\n", startup);
    std::printf("  objcopy -I ihex -O binary       %8.2f ms\n", viaObjcopy);
    std::printf("  srec_cat -intel ... -binary     %8.2f ms\n", viaSrec);
    std::printf("ratios (below 1 = faster than the tool):\n");
    std::printf("  talvo hex2bin / objcopy   %.2f\n", cli / viaObjcopy);
    std::printf("  talvo hex2bin / srec_cat  %.2f\n", cli / viaSrec);
    std::printf("  in process / objcopy      %.2f\n", inProcess / viaObjcopy);
    std::printf("  in process / srec_cat     %.2f\n", inProcess / viaSrec);
    if (!(sameInProcess && sameCli && sameObjcopy && sameSrec) || inProcess < 0 || cli < 0 || viaObjcopy < 0 ||
        viaSrec < 0) {
        std::fprintf(stderr, "hex_bench: outputs differ or a run failed (%d %d %d %d)\n", sameInProcess, sameCli,
                     sameObjcopy, sameSrec);
        return 1;
    }
    return 0;
}
