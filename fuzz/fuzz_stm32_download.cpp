// libFuzzer target for a whole STM32 download on whatever the bootloader
// sends: the acknowledge of the start byte, the Get and Get ID lists, the
// flash size read, the acknowledges of the erase and of every write (and,
// verified, every block read back; the refusals of a read-protected chip
// and the removal of its protection) -- cut, joined, garbled, refused or
// missing, as FuzzChip.h sends them from the input to the virtual-time host.
// This drives the reply assembler and the identification fields as the
// download uses them.  Every
// run must end in success with its two lines (and every byte written) or in
// a failure that ended the download and said why.
//
// Input: one byte of settings (bit 0: verify, bit 1: remove a read
// protection, bit 2: mass erase, bit 3: Go, bits 4-7: the image's length in
// 64-byte steps), then the chunks.
#include <cstddef>
#include <cstdint>

#include "FuzzChip.h"
#include "protocol/DownloadJob.h"

using namespace talvo::protocol;
using talvo::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    DownloadJob o;
    o.chipType = 0;
    o.verify = (data[0] & 1) != 0;
    o.unprotect = (data[0] & 2) != 0;
    o.massErase = (data[0] & 4) != 0;
    o.go = (data[0] & 8) != 0;
    o.image = talvo::fuzz::fuzzImage(data[0] >> 4);

    talvo::fuzz::FuzzChip chip(data + 1, size - 1);
    talvo::fuzz::FuzzHost host(chip);
    const DownloadReport report = RunDownload(host, o);
    talvo::fuzz::checkDownloadEnd(host, report.success);
    // The protection is removed only when asked for, and only once found.
    require(!report.unprotected || (o.unprotect && report.readProtected));
    if (report.success) {
        require(report.bytes == o.image.size());
        // Connect, identify (5), erase (2), three sends per block, three more verified.
        const int blocks = static_cast<int>((o.image.size() + 255) / 256);
        require(host.sends >= 8 + blocks * (o.verify ? 6 : 3));
    } else {
        require(report.failure == host.log.last());
    }
    return 0;
}
