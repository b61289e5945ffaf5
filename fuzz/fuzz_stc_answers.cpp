// libFuzzer target for the STC answer assembler: the scan that finds the
// chip's answer frames in whatever bytes arrived since a frame was sent
// (noise, the echo of the sync stream, cut and corrupted frames, several
// answers at once).  Every frame it returns must be well-formed; a frame the
// chip could send must be found whole, and any part of it reported as a frame
// begun but not complete.
//
// Input: one byte of settings (bit 0: two-byte checksum form, bit 1: the
// status form that may begin at 68 00, bits 2..7: where to cut the frame
// below), then the received bytes.
#include <cstddef>
#include <cstdint>

#include "StcFuzzChecks.h"

using namespace talvo::protocol;
using talvo::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int form = (data[0] & 1) ? 2 : 1;
    const bool statusForm = (data[0] & 2) != 0;
    const QByteArray received(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));

    const StcScan scan = ScanStcFrames(received, form, statusForm);
    talvo::fuzz::checkStcScan(received, scan, form, statusForm);
    for (const StcChipFrame& f : scan.frames) (void)ReadStcStatus(f);

    // The same bytes as the payload of a frame the chip could send: found
    // whole, alone; cut anywhere, a frame begun.
    const qsizetype most = kStcMaxChipFrame - (form == 2 ? 6 : 5);
    const QByteArray payload = received.left(most);
    if (payload.isEmpty()) return 0;
    const QByteArray frame = talvo::fuzz::chipFrame(payload, form);
    const StcScan whole = ScanStcFrames(frame, form, statusForm);
    require(whole.frames.size() == 1 && whole.frames[0].payload == payload && whole.frames[0].offset == 0 &&
            !whole.partial);
    const qsizetype cut = 1 + (data[0] >> 2) % (frame.size() - 1);
    const StcScan part = ScanStcFrames(frame.left(cut), form, statusForm);
    talvo::fuzz::checkStcScan(frame.left(cut), part, form, statusForm);
    require(!part.frames.empty() || part.partial);
    return 0;
}
