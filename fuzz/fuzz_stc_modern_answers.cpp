// libFuzzer target for the answers of the STC15A, STC15 and STC8 bootloaders
// judged against the request they answer, at every step of a download: an
// answer is taken only whole and of its step, with what the step needs from
// it (a count per challenge, a 7-byte ID); a refusal says why.
//
// Input: one byte of settings (bits 0-2: the family, bits 3-5: the step),
// one byte N, the N-byte request payload, then the answer payload.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "FuzzCheck.h"
#include "StcModernFuzz.h"
#include "protocol/StcModernAnswers.h"

using namespace talvo::protocol;
using talvo::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const StcModernFamily family = talvo::fuzz::modernFamily(data[0] & 7);
    const auto step = static_cast<StcModernStep>((data[0] >> 3) & 7);
    const size_t n = std::min<size_t>(data[1], size - 2);
    const QByteArray request(reinterpret_cast<const char*>(data + 2), static_cast<qsizetype>(n));
    const QByteArray answer(reinterpret_cast<const char*>(data + 2 + n), static_cast<qsizetype>(size - 2 - n));

    const StcModernAnswer a = ReadStcModernAnswer(family, step, answer, request);
    if (!a.ok) {
        require(!a.why.isEmpty() || a.locked);
    } else {
        require(!a.locked);
        require(!answer.isEmpty());
        if (step == StcModernStep::Calibration) {
            // One count per challenge: never more than the request carries.
            require(static_cast<qsizetype>(a.counts.size()) * 2 <= request.size());
            require(static_cast<qsizetype>(a.counts.size()) * 2 <= answer.size());
        }
        if (step == StcModernStep::Erase) require(a.uid.size() == 7);
    }
    require(StcModernWriteData(family, request).size() <= request.size());
    return 0;
}
