// libFuzzer target for a whole STC download on whatever the chip sends: the
// status frame, the switch answers, the acknowledges of the control
// information, the erase and every block, the closing answers -- cut,
// joined, garbled or missing, as FuzzChip.h sends them from the input to the
// virtual-time host.  The download is the one that ships: the chip type's
// family row, the session and its block cutter.  Every run must end in
// success with its two lines or in a failure that ended the download and
// said why; no crash, no undefined behaviour, no endless wait.
//
// Input: one byte of settings (bits 0-1: chip type 1 to 4, bit 2: low-speed
// mode, bits 3-5: the image's length in 64-byte steps), then the chunks.
#include <cstddef>
#include <cstdint>

#include "FuzzChip.h"
#include "protocol/DownloadJob.h"

using namespace talvo::protocol;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    DownloadJob job;
    job.chipType = 1 + (data[0] & 3);
    job.lowSpeed = (data[0] & 4) != 0;
    job.image = talvo::fuzz::fuzzImage((data[0] >> 3) & 7);
    talvo::fuzz::FuzzChip chip(data + 1, size - 1);
    talvo::fuzz::FuzzHost host(chip);
    const DownloadReport report = RunDownload(host, job);
    talvo::fuzz::checkDownloadEnd(host, report.success);
    if (report.success) {
        // Every block went out: the transfer cannot succeed on fewer sends.
        talvo::fuzz::require(host.sends >= static_cast<int>(job.image.size() / 128 + 1));
        talvo::fuzz::require(report.baud > 0);
    }
    return 0;
}
