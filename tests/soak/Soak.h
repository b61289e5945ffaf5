#pragma once
// Fault-injection soak: seeded downloads through the protocol code over the
// virtual-time host, against simulated chips of every family that misbehave
// in one way per run (lost or flipped bits, late or missing answers, a cut
// status frame, a refused block, a pulled converter, a clock at the edge of
// the UART's tolerance, replies handed over in pieces).
//
// Every run must end in exactly one of two ways: success with the chip's
// flash equal to the image, or failure with a log line that names the stage.
// Anything else is a violation: a success over a wrong flash, a failure
// without its line, a run past the time the protocol's tick limits, resends
// and wire time allow, the port left open, a thread or file descriptor more
// than before.
//
// A family is one row of Families(): its chips, the fault kinds that apply,
// how a case is downloaded, its stage lines and its time bound.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "protocol/DownloadHost.h"
#include "sim/Faults.h"

namespace talvo::sim {
class SimChip;
class VirtualHost;
} // namespace talvo::sim

namespace talvo::soak {

enum class FaultKind {
    None,           // a clean run
    Drop,           // bytes lost on the wire
    Corrupt,        // bits flipped on the wire
    Delay,          // every answer late, around and beyond the tick limits
    SilentAfter,    // the chip stops answering after frame N
    NackBlock,      // one data block refused, once or several times in a row
    BadAck,         // the answer to one data block carries a wrong sum
    BadWord,        // one written word stored wrongly and acknowledged all the same (read back: verify on)
    TruncateStatus, // the STC status frame cut short
    HangUp,         // the converter pulled out at data block N
    RateInside,     // the chip's clock drifts until the link's rate error lies just inside the UART tolerance
    RateOutside,    // ... just outside it
    SplitReads,     // received bytes handed over in random pieces
    Mixed,          // split reads with a few lost and flipped bits and late answers
    LostCopy        // STC: one block's frame lost once, blocks with the same data sum after it;
                    // the run may take one resend longer than without the loss, no more
};

struct FaultKindInfo {
    FaultKind kind;
    const char* name;
};
const std::vector<FaultKindInfo>& FaultKinds();
const char* FaultKindName(FaultKind kind);

// One download of the soak, all of it derived from the family and the seed.
struct SoakCase {
    std::string family;     // Family::key
    uint64_t seed = 0;
    FaultKind kind = FaultKind::None;
    std::string chip;       // simulator name
    std::string selector;   // the whole chip selector: options and faults
    std::string faultFree;  // the selector without the faults (the case's clean twin)
    int chipType = 0;       // index in the chip-type list
    bool lowSpeed = false;  // STC: handshake and download at 4800
    bool verify = false;    // STM32: every written block read back
    double splitChance = 0; // VirtualHost::splitReads
    QByteArray image;
    size_t flashOffset = 0; // STM32: where in the flash the image starts (behind a bootloader of its own)
    bool readProtected = false; // STM32: the chip starts read-protected (simulator option rdp)
    bool unprotect = false;     // STM32: the download removes the protection (the chip erases its flash)
    bool massErase = false;     // STM32: the download erases the whole flash first
    double userHz = 0;          // STC15/STC8: the frequency to trim to (`--freq`; 0: the chip's own)
    uint32_t transferBaud = 0;  // STC: the transfer rate asked for (`--baud`; 0: the speed mode's)
    QByteArray oldFlash;    // what the chip holds before the download (its flash's first bytes)
    // One line naming everything above, for the report and for reproducing.
    std::string describe() const;
};

struct SoakResult {
    SoakCase c;
    bool success = false;
    // "success", the stage the failure line names, or "undetectable": a
    // success over a wrong flash that only frames altered past their
    // checksum explain.
    QString stage;
    // Empty for a run that ended as it must; otherwise "what: details".
    std::vector<std::string> violations;
    double elapsed = 0;                  // virtual seconds
    double bound = 0;                    // the most the run may take
    QStringList log;
};

// A line of the log that names where a download failed.
struct StageLine {
    const char* prefix; // the log line begins with this
    const char* stage;  // the table's column
};

// The wire time and pauses a run spent, for the family's bound.
struct RunCost {
    double hostWireSeconds = 0; // every byte the host sent, at its rate
    double pauseSeconds = 0;    // the protocol's own pauses, and the host's waits for the line before a close or a new rate
};

struct Family {
    const char* key;   // "stc-one-byte"
    const char* title; // "STC one-byte checksum (STC89, STC90)"
    std::vector<std::string> chips;
    std::vector<FaultKind> kinds;
    std::vector<StageLine> stages;
    // Fills in the family's part of a case (chip options, image, speed mode).
    std::function<void(SoakCase&, sim::Rng&)> makeCase;
    // The frames or commands a download of the case exchanges, roughly
    // (where a chip may fall silent), and its data blocks.
    std::function<int(const SoakCase&)> frames;
    std::function<int(const SoakCase&)> blocks;
    // The most a download of this case may take: the protocol's tick limits
    // for every wait it can make, its resends, its pauses and the wire time.
    std::function<double(const SoakCase&, const RunCost&)> bound;
    // The rate error of the case's download link while the chip's clock
    // keeps its mark (the rate faults drift it from there).
    std::function<double(const SoakCase&)> linkError;
    // The download itself, through the protocol code.
    std::function<protocol::DownloadReport(sim::VirtualHost&, const SoakCase&)> download;
    // Where the chip's flash took data frames the host never sent so: the
    // wire altered them in a way their checksum cannot show (two bit errors
    // that cancel in a sum), and no host can tell such a frame from its own.
    // The flash ranges [first, last) those frames wrote or should have written.
    std::function<std::vector<std::pair<size_t, size_t>>(const SoakCase&, const sim::SimChip&)> unseenWireErrors;
    // What else a success needs of the chip (STC: the frames that end a
    // session; STM32: the flash outside the image as it was): "" when it
    // holds, else what is wrong.
    std::function<std::string(const SoakCase&, const sim::SimChip&)> missingAfterSuccess;
};

const std::vector<Family>& Families();
const Family* FindFamily(const std::string& key);

// The case of `seed` for `family`.
SoakCase MakeCase(const Family& family, uint64_t seed);
// Downloads the case and judges how it ended; `trace` gets the chip's trace.
SoakResult RunCase(const Family& family, const SoakCase& c,
                   const std::function<void(const std::string&)>& trace = {});

// Outcomes by fault kind for one family.
class Tally {
public:
    explicit Tally(const Family& family) : family_(family) {}
    void add(const SoakResult& r);
    int runs() const { return runs_; }
    int violations() const { return static_cast<int>(bad_.size()); }
    const std::vector<SoakResult>& violating() const { return bad_; }
    // The table outcome x fault kind, the seeds and every violating case.
    std::string report(uint64_t firstSeed) const;

private:
    const Family& family_;
    int runs_ = 0;
    double virtualSeconds_ = 0;
    double worstShare_ = 0; // elapsed / bound, the largest
    std::map<std::pair<FaultKind, QString>, int> counts_;
    std::map<std::string, int> violationCounts_;
    std::vector<SoakResult> bad_;
};

// Open file descriptors and threads of this process.
int OpenFileDescriptors();
int Threads();

// While a case runs, a crash or a run that never returns prints the case
// before the process ends, so that the seed is never lost.
void InstallCrashReport();

} // namespace talvo::soak
