#pragma once
// Deliberate faults of a simulated chip and the seeded random source that
// drives them.  Everything here is deterministic: the same fault list and seed,
// fed the same bytes, give the same run.

#include <cstdint>
#include <string>

#include "sim/Rng.h"

namespace talvo::sim {

// Reads a whole decimal number within [lo, hi]; false otherwise.
bool parseNumber(const std::string& text, double lo, double hi, double* out);

// A fault selection, written as "key=value,key=value":
//   drop=P            each byte on the wire (either direction) is lost with probability P
//   corrupt=P         each byte has one bit flipped with probability P
//   delay=SECONDS     every answer of the chip comes this much later
//   delay-from=N      ... only the answers to the N-th frame of a session and later
//                     (0, the default: the STC status frame too)
//   silent-after=N    the chip answers the first N frames of a session, then nothing
//   nack-block=N      the N-th data block (1-based) is refused once: STC chips give no
//                     answer (the host must resend), STM32 chips NACK it
//   nack-count=K      ... K times in a row instead of once (each resend is refused again)
//   bad-ack=N         STC: the answer to the N-th data block arriving carries a wrong data
//                     sum (the chip stored the block as sent)
//   truncate-status=K the STC status frame is cut after K bytes
//   hangup-block=N    the wire is hung up when the N-th data block arrives (once per run)
//   bad-word=N        the N-th four-byte word (1-based) an STM32 writes to flash is stored
//                     with one bit wrong, and acknowledged all the same (once per run)
//   seed=N            seed of the random source (default 1)
struct FaultSpec {
    double drop = 0.0;
    double corrupt = 0.0;
    double delay = 0.0;
    int delayFrom = 0;
    int silentAfter = -1;
    int nackBlock = -1;
    int nackCount = 1;
    int badAck = -1;
    int truncateStatus = -1;
    int hangupBlock = -1;
    int badWord = -1;
    uint64_t seed = 1;

    bool any() const;
    std::string describe() const;
    // Parses one "key=value" item into *this; false with *error set on a
    // key it does not know or a value out of range.
    bool parseItem(const std::string& item, std::string* error);
    // Parses a whole comma- (or semicolon-) separated list.
    static bool parse(const std::string& text, FaultSpec* out, std::string* error);
};

} // namespace talvo::sim
