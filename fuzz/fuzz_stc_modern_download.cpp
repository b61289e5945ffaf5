// libFuzzer target for a whole STC15A, STC15 or STC8 download on whatever
// the chip sends: the status frame, the calibration counts, the switch, the
// prepare, erase, block, finish and option answers -- cut, joined, garbled or
// missing, as FuzzChip.h sends them from the input to the virtual-time host,
// with the `--freq` and `--baud` a user may give.  The download is the one
// that ships.  Every run must end in success with its two lines or in a
// failure that ended the download and said why; no crash, no undefined
// behaviour, no endless wait.
//
// Input: two bytes of settings (first: bit 0 chip type "STC15系列" or
// "STC8系列", bit 1 low-speed mode, bits 2-4 the image's length in 64-byte
// steps; second: `--freq` and `--baud` as StcModernFuzz.h lists them), then
// the chunks.
#include <cstddef>
#include <cstdint>

#include "FuzzChip.h"
#include "StcModernFuzz.h"
#include "protocol/DownloadJob.h"

using namespace talvo::protocol;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    DownloadJob job;
    job.chipType = (data[0] & 1) ? 6 : 5;
    job.lowSpeed = (data[0] & 2) != 0;
    job.image = talvo::fuzz::fuzzImage((data[0] >> 2) & 7);
    job.stcUserHz = talvo::fuzz::kModernFreqs[data[1] & 15] * 1e6;
    job.stcBaud = talvo::fuzz::kModernBauds[data[1] >> 4];
    talvo::fuzz::FuzzChip chip(data + 2, size - 2);
    talvo::fuzz::FuzzHost host(chip);
    const DownloadReport report = RunDownload(host, job);
    talvo::fuzz::checkDownloadEnd(host, report.success);
    if (report.success) {
        // Every block went out (64 bytes at the most per block).
        talvo::fuzz::require(host.sends >= static_cast<int>((job.image.size() + 63) / 64));
        talvo::fuzz::require(report.baud > 0);
        if (job.stcBaud > 0) talvo::fuzz::require(report.baud == job.stcBaud);
    }
    return 0;
}
