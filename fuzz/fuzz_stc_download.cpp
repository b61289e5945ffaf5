// libFuzzer target for a whole STC download on whatever the chip sends: the
// status frame, the switch answers, the acknowledges of the control
// information, the erase and every block, the closing answers -- cut,
// joined, garbled or missing, as FuzzHost.h reads them from the input.  Every
// run must end in success with its two lines or in a failure that ended the
// download and said why; no crash, no undefined behaviour, no endless wait.
//
// Input: one byte of settings (bits 0-1: chip type 1 to 4, bit 2: low-speed
// mode, bits 3-5: the image's length in 64-byte steps), then the chunks.
#include <cstddef>
#include <cstdint>

#include "FuzzHost.h"
#include "protocol/CMcuType.h"

using namespace talvo::protocol;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    StcOptions o;
    o.chipType = 1 + (data[0] & 3);
    o.lowSpeed = (data[0] & 4) != 0;
    const QByteArray image = talvo::fuzz::fuzzImage((data[0] >> 3) & 7);
    o.image = image;

    talvo::fuzz::FuzzHost host(data + 1, size - 1);
    CMcuType mcu(host, o);
    const DownloadReport report = mcu.RunStcDownload();
    talvo::fuzz::checkDownloadEnd(host, report.success);
    if (report.success) {
        // Every block went out: the transfer cannot succeed on fewer sends.
        talvo::fuzz::require(host.sends >= static_cast<int>(image.size() / 128 + 1));
        talvo::fuzz::require(report.baud > 0);
    }
    return 0;
}
