#pragma once
// The status frame of the STC15A, STC15 and STC8 bootloaders (type byte 50,
// two checksum bytes, 8E1), read into its fields, and what follows from it:
// the chip's protocol family, the chip type a user should choose for it, and
// the frequency the chip runs its user program at now.
//
// All three layouts share the version (payload byte 17), the stepping letter
// (18) and the model code (20-21); the rest differs:
//   STC15A (58 bytes): four clock counts c1..c4 (1-8) on the status-count
//     scale N = 7 f / (12 B_h), two more counts (9-12), option bytes
//     MCS0..MCS12 (23-35; MCS3-MCS4 the stored RC trim), seven trim constants
//     T0..T6 (51-57) that the host echoes in its calibration frames;
//   STC15 (37 bytes, STC15W4 series 46): wake-up timer frequency (1-2), the
//     factory fine trim for 24 MHz (4), MCS2..MCS4 (5-7), the stored RC
//     frequency in Hz (8-11, FFFFFFFF = never trimmed), MCSX (12), the count
//     of the clock the bootloader runs on (13-14: f = B_h x count), the third
//     version digit (22, low nibble), MCSY (37, STC15W4 only);
//   STC8 (42 bytes; STC8G/8H the same): the stored user frequency in Hz (1-4,
//     FFFFFFFF = untrimmed), the stored trim T, F (5, 6) and clock divider (7),
//     MCS0..MCS2 (9-11), the bootloader clock's count (13-14), MCS3, MCS4
//     (15, 16), the third version digit (22), the wake-up timer frequency
//     (23-24), the internal reference voltage in mV (35-36), the BCD
//     manufacturing date (37-39).
// Multi-byte fields are big-endian.  Codes F294 and F2D4 name an STC15A part
// (bootloader version below 7.0) and an STC15 part (7.0 and later).

#include <QByteArray>
#include <QDate>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace talvo::protocol {

// The bootloader protocols of the newer STC families.  Stc8d and Stc8g are
// the newer STC8 variant (STC8G, STC8H, STC8A8K..D4, STC32): the STC8
// status layout and command set with another calibration.
enum class StcModernFamily { Stc15a, Stc15, Stc8, Stc8d, Stc8g };

// The family's key as the model table writes it ("stc15a").
const char* StcModernFamilyKey(StcModernFamily family);
// The family a model table key names; nullopt for the older families and
// "unassigned".
std::optional<StcModernFamily> StcModernFamilyFromKey(const QString& key);

// The protocol family of the model `code` names, from the model table's
// family column ("stc89" ... "stc8g", or "unassigned"); for the codes that
// name an STC15A and an STC15 part, `version` (status payload byte 17)
// decides.  Empty when the table does not know the code.
QString StcFamilyOfModel(uint16_t code, uint8_t version);

// The chip type a user chooses for a chip of protocol family `familyKey`
// whose model is `modelName`, as `talvo download --chip` names it ("stc89",
// "stc90", "stc11", "stc12", "stc15", "stc8"); empty for "unassigned" and
// unknown keys.  The stc12a and stc12b families (STC12C2052, STC12C52xx/56xx)
// take the STC12 chip type, the closest the list has.
QString StcChipTypeFor(const QString& familyKey, const QString& modelName);

// Payload bytes each layout needs (the open host refuses status frames
// shorter than 23 bytes; these are the captured lengths).
inline constexpr int kStc15aStatusBytes = 58;
inline constexpr int kStc15StatusBytes = 37;
inline constexpr int kStc15W4StatusBytes = 46;
inline constexpr int kStc8StatusBytes = 42;

struct StcModernStatus {
    StcModernFamily family = StcModernFamily::Stc15;
    uint16_t modelCode = 0;
    uint8_t version = 0;    // 0x71 = 7.1
    uint8_t stepping = 0;   // 'S'
    int versionDigit = -1;  // third version digit (STC15, STC8); -1 for STC15A
    QString versionText;    // "7.1.4S", "6.7Q"
    bool marker = false;    // commands after the calibration carry 5A A5 (bootloader 7.2 and later)

    // STC15A: c1..c4; STC15, STC8: the bootloader clock's count (one value).
    std::vector<uint16_t> counts;
    // STC15A: the two further counts of bytes 9-12 (meaning unknown).
    std::vector<uint16_t> extraCounts;
    // STC15, STC8: the stored user frequency in Hz; nullopt = never trimmed.
    std::optional<uint32_t> storedHz;
    bool internalRc = true; // STC15: MCS4 bit 0 (0: external crystal or clock)
    // STC15A: the stored trim MCS3 MCS4 (band, fine); STC8: T, F.
    uint8_t trimHigh = 0, trimLow = 0;
    int divider = 1;        // STC8: the stored clock divider
    uint8_t factoryTrim24 = 0; // STC15: fine trim for 24 MHz in band 40
    // Option bytes: STC15A MCS0..MCS12; STC15 MCS2, MCS3, MCS4, MCSX and (STC15W4)
    // MCSY; STC8 MCS0..MCS4.
    QByteArray options;
    QByteArray trimConstants; // STC15A: T0..T6
    uint16_t wakeupHz = 0;    // STC15, STC8
    uint16_t referenceMv = 0; // STC8
    QDate made;               // STC8; invalid when the bytes are not a date
};

// Reads a status payload (type byte 50 first) of `family`; nullopt with *why
// set when it is not one (wrong type, too short for the layout).
std::optional<StcModernStatus> ReadStcModernStatus(const QByteArray& payload, StcModernFamily family,
                                                   QString* why = nullptr);

// The family a status payload belongs to, by its model code and version
// through the model table; nullopt with *why set for a payload that is too
// short, a code of an older or unassigned family, or a code the table does
// not know.
std::optional<StcModernFamily> StcModernFamilyOfStatus(const QByteArray& payload, QString* why = nullptr);

// The frequency the chip runs its user program at, as its status says.
struct StcCurrentClock {
    enum class Source {
        Counts,     // STC15A: B_h x mean(c1..c4) x 12 / 7
        Stored,     // STC15, STC8: the stored (trimmed) frequency
        External,   // STC15 with an external clock: B_h x count
        Untrimmed,  // STC15, STC8 never trimmed: no user frequency known
    } source = Source::Untrimmed;
    double hz = 0;        // 0 when Untrimmed
    double bootClockHz = 0; // STC15, STC8: the clock the bootloader runs on (B_h x count)
};
StcCurrentClock CurrentStcClock(const StcModernStatus& status, int handshakeBaud);

} // namespace talvo::protocol
