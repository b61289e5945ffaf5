#include "sim/StcModernChip.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "protocol/StcModels.h"

namespace talvo::sim {

namespace {

std::string hex2(unsigned v, int digits = 2) {
    char b[16];
    std::snprintf(b, sizeof b, "%0*X", digits, v);
    return b;
}

uint16_t word16(const Bytes& b, size_t i) { return static_cast<uint16_t>(b[i] << 8 | b[i + 1]); }
void put16(Bytes& b, size_t i, unsigned v) {
    b[i] = static_cast<uint8_t>(v >> 8);
    b[i + 1] = static_cast<uint8_t>(v);
}
void put32(Bytes& b, size_t i, uint32_t v) {
    put16(b, i, v >> 16);
    put16(b, i + 2, v & 0xFFFF);
}

// Timings (seconds, before the time scale) that no model sets apart.
constexpr double kStatusAfterBurst = 0.3; // the status (STC15A: its 80 frame) after the sync burst began
constexpr double kAckToStatus = 0.16;     // STC15A: status after the chip's 80 frame (capture)
constexpr double kControlAnswer = 0.02;   // 8F, 01, 05, 07, 8D answers
constexpr double kStc15aSwitchAnswer = 0.2; // 84 at the new rate (the host waits 0.1 s, then switches)

constexpr uint8_t kMarker0 = 0x5A, kMarker1 = 0xA5;
constexpr uint8_t kAck = 0x54;
// STC15A: 7 f / (12 B); STC15, STC8: 2 f / B; STC8G: f / B.
double countUnit(ModernProtocol p, uint32_t baud) {
    switch (p) {
    case ModernProtocol::Stc15a: return 7.0 / (12.0 * baud);
    case ModernProtocol::Stc15:
    case ModernProtocol::Stc8: return 2.0 / baud;
    case ModernProtocol::Stc8g: return 1.0 / baud;
    }
    return 0;
}

// Captured status payloads (type byte first).
const char* const kStc15f104eStatus =
    "50 02 B0 02 B0 02 AF 02 B0 02 E6 02 E7 00 00 00 00 67 51 FF F2 94 8C EF 3B F5 58 34 FF FF FF FF FF FF FF FF FF"
    "FF FF 00 00 00 00 FF FF FF FF FF FF FF FF 58 50 0C 94 21 FF 29";
const char* const kIap15f2k61s2Status = "50 87 D3 75 9C F7 BB 9F 00 A8 AD 40 FD 09 FE 00 00 71 53 00 F4 49 04 06 58 9C 02"
                                        "0E 14 17 19 19 00 F4 F4 04 D2";
const char* const kStc15w4k56s4Status = "50 8D FF 73 96 F5 7B 9F FF FF FF FF FF 27 ED 00 00 73 54 00 F5 28 04 06 70 96 02"
                                        "15 19 1C 1E 23 00 EC E0 04 D7 F8 73 BF FF FF 15 09 25 60";
const char* const kStc8a8k64s4a12Status = "50 00 54 62 58 5D 00 04 FF FD 8B BF FF 27 4A F7 FE 73 55 00 F6 28 09 85 E3 5F"
                                          "80 07 20 20 20 01 00 00 FE 05 3A 17 05 25 91 FF";

// The STC15F104E's band 58 as captured at 9600 baud: the first round's
// 5800/5880/58FF, the second round's 5824..582E and the stored trim 5834
// (status counts 688).  Bands 18, 98 and D8 were not captured: they take the
// challenge table's ranges as 1/2, 2 and 3 times band 58.
std::vector<std::vector<RcKnot>> stc15aBands() {
    const std::vector<RcKnot> b58 = {{0x00, 586}, {0x24, 658}, {0x25, 660}, {0x26, 663}, {0x27, 666},
                                     {0x28, 666}, {0x29, 668}, {0x2A, 671}, {0x2B, 674}, {0x2C, 673},
                                     {0x2D, 676}, {0x2E, 680}, {0x34, 688}, {0x80, 837}, {0xFF, 1085}};
    auto scaled = [&](double k) {
        return std::vector<RcKnot>{{0x00, 586 * k}, {0x80, 837 * k}, {0xFF, 1085 * k}};
    };
    return {scaled(0.5), b58, scaled(2.0), scaled(3.0)};
}

// IAP15F2K61S2 at 9600 baud: the first round (T 00/80/FF in each band) and
// the third round (70..75 in band 80, 74..79 in band 40).  Bands C0, 80, 40, 00.
std::vector<std::vector<RcKnot>> iap15Bands() {
    return {{{0x00, 0x0337}, {0x80, 0x049A}, {0xFF, 0x0602}},
            {{0x00, 0x066B},
             {0x70, 0x08E1},
             {0x71, 0x08EB},
             {0x72, 0x08F5},
             {0x73, 0x08FA},
             {0x74, 0x08FF},
             {0x75, 0x0904},
             {0x80, 0x0927},
             {0xFF, 0x0BE8}},
            {{0x00, 0x0D0A},
             {0x74, 0x1200},
             {0x75, 0x120A},
             {0x76, 0x1219},
             {0x77, 0x1223},
             {0x78, 0x122D},
             {0x79, 0x1237},
             {0x80, 0x125A},
             {0xFF, 0x179B}},
            {{0x00, 0x148F}, {0x80, 0x1C96}}};
}

// STC15W4K56S4: the measured band table (MHz at T 00/80/FF) as counts at
// 2400 baud (f / 1200), and the programming trim 72/40 the captured switch
// frame's reload F6FF says ran at 22.128 MHz.
std::vector<std::vector<RcKnot>> stc15w4Bands() {
    auto c = [](double mhz) { return mhz * 1e6 / 1200.0; };
    return {{{0x00, c(4.03)}, {0x80, c(5.76)}, {0xFF, c(7.45)}},
            {{0x00, c(7.99)}, {0x80, c(11.36)}, {0xFF, c(14.65)}},
            {{0x00, c(16.2)}, {0x72, c(22.128)}, {0x80, c(22.8)}, {0xFF, c(29.1)}},
            {{0x00, c(25.5)}, {0x80, c(35.4)}}};
}

// STC15L104W (no UART): the measured band table (MHz at T 00/80/FF) as
// counts at 9600 baud (f / 4800), and the programming trim 8C/40 that the
// captured switch frame's reloads say ran at 22.147 MHz.
std::vector<std::vector<RcKnot>> stc15l104wBands() {
    auto c = [](double mhz) { return mhz * 1e6 / 4800.0; };
    return {{{0x00, c(3.73)}, {0x80, c(5.29)}, {0xFF, c(6.90)}},
            {{0x00, c(7.53)}, {0x80, c(10.72)}, {0xFF, c(13.96)}},
            {{0x00, c(15.3)}, {0x80, c(21.5)}, {0x8C, c(22.147)}, {0xFF, c(27.6)}},
            {{0x00, c(23.9)}, {0x80, c(32.8)}}};
}

// The STC15L104W's status was not captured: the IAP15F2K61S2's layout with
// its code F2D4 and bootloader 7.1.4Q, never trimmed (frequency FFFFFFFF),
// and the clock count 0000 the facts give for this part.
Bytes stc15l104wStatus() {
    Bytes s = bytesFromHex(kIap15f2k61s2Status);
    put32(s, 8, 0xFFFFFFFFu);
    put16(s, 13, 0x0000);
    s[18] = 0x51;
    put16(s, 20, 0xF2D4);
    return s;
}

// STC8A8K64S4A12 at 2400 baud, position T + 0.32 F: the maker's first round
// (T 00, 80) and second round (7C..7E, F 0..3), and T FF from the measured
// 31.60 MHz scaled as the chip's T 80 runs below the measured table.
std::vector<std::vector<RcKnot>> stc8aBands() {
    std::vector<RcKnot> k = {{0x00, 0x36AD}};
    const uint16_t round2[] = {0x4DC6, 0x4DDB, 0x4DE7, 0x4DF3, 0x4DF6, 0x4E0E,
                               0x4E11, 0x4E26, 0x4E26, 0x4E32, 0x4E41, 0x4E56};
    for (int i = 0; i < 12; ++i) k.push_back({0x7C + i / 4 + 0.32 * (i % 4), static_cast<double>(round2[i])});
    k.push_back({0x80, 0x4E83});
    k.push_back({0xFF, 26050});
    return {k};
}

// STC8G1K08 (no capture): a low band of about 16.8-31.3 MHz (band bytes 00, 10,
// 20, 30) and a high band of 27-50 MHz (band byte 80), counts f / 2400.
std::vector<std::vector<RcKnot>> stc8gBands() {
    auto c = [](double mhz) { return mhz * 1e6 / 2400.0; };
    return {{{0x00, c(16.8)}, {0xFF, c(31.3)}}, {{0x00, c(27.0)}, {0xFF, c(50.0)}}};
}

// The STC8G1K08's status: the STC8 layout with its code F754, bootloader
// 7.4.1U, trimmed to 11.0592 MHz (T 5E in the low band, divider 2), the
// bootloader clock 24 MHz (count 2710 at 2400 baud).
Bytes stc8gStatus() {
    Bytes s = bytesFromHex(kStc8a8k64s4a12Status);
    put32(s, 1, 11059200);
    s[5] = 0x5E;
    s[6] = 0x00;
    s[7] = 0x02;
    put16(s, 13, 0x2710);
    s[17] = 0x74;
    put16(s, 20, 0xF754);
    s[22] = 0x01;
    return s;
}

} // namespace

const std::vector<StcModernModel>& stcModernModels() {
    static const std::vector<StcModernModel> models = {
        {"stc15f104e", "STC15F104E (STC15A, bootloader 6.7Q, 8E1, 4 KB; RC oscillator: freq=MHZ, rc=PCT)",
         ModernProtocol::Stc15a, 0xF294, bytesFromHex(kStc15f104eStatus), 9600, bytesFromHex("0A 00 00 28 02 C4 EB"),
         stc15aBands(), 9600, 0, {0, 0},
         /*calibration*/ 0.09, /*erase*/ 0.8, /*write*/ 0.03, 0.045, /*options*/ 0.1, false},
        {"iap15f2k61s2", "IAP15F2K61S2 (STC15, bootloader 7.1.4S, 8E1, 61 KB; freq=MHZ, untrimmed, rc=PCT, locked)",
         ModernProtocol::Stc15, 0xF449, bytesFromHex(kIap15f2k61s2Status), 9600, bytesFromHex("0D 00 00 21 02 26 32"),
         iap15Bands(), 9600, 0x09FE * 9600.0, {0x74, 0x80}, 0.20, 3.45, 0.01, 0.03, 0.12, false},
        {"stc15l104w",
         "STC15L104W (STC15 without a UART, bootloader 7.1.4Q, 8E1, 4 KB; status not captured: as delivered, "
         "untrimmed; freq=MHZ, rc=PCT, locked)",
         ModernProtocol::Stc15, 0xF2D4, stc15l104wStatus(), 9600, bytesFromHex("F2 D4 00 5A 13 27 08"),
         stc15l104wBands(), 9600, 0, {0, 0}, 0.20, 0.38, 0.01, 0.03, 0.12, false},
        {"stc15w4k56s4",
         "STC15W4K56S4 (STC15, bootloader 7.3.4T, 8E1, 56 KB; as delivered: untrimmed; freq=MHZ, rc=PCT, locked)",
         ModernProtocol::Stc15, 0xF528, bytesFromHex(kStc15w4k56s4Status), 2400, bytesFromHex("F5 28 00 A5 03 27 49"),
         stc15w4Bands(), 2400, 0x27ED * 2400.0, {0, 0}, 0.20, 2.9, 0.10, 0.16, 0.45, false},
        {"stc8a8k64s4a12",
         "STC8A8K64S4A12 (STC8, bootloader 7.3.9U, 8E1, 63.5 KB; freq=MHZ, untrimmed, rc=PCT, locked)",
         ModernProtocol::Stc8, 0xF628, bytesFromHex(kStc8a8k64s4a12Status), 2400, bytesFromHex("F6 28 02 BC 26 98 DF"),
         stc8aBands(), 2400, 0x274A * 2400.0, {0, 0}, 0.09, 1.5, 0.01, 0.03, 0.1, false},
        {"stc8g1k08",
         "STC8G1K08 (newer STC8 variant, 8E1, 8 KB; untried on real chips: no captures exist; freq=MHZ, untrimmed, rc=PCT)",
         ModernProtocol::Stc8g, 0xF754, stc8gStatus(), 2400, bytesFromHex("F7 54 00 9A 33 71 C2"), stc8gBands(), 2400,
         24000000.0, {0, 0}, 0.09, 0.6, 0.01, 0.03, 0.1, true},
    };
    return models;
}

const StcModernModel* findStcModernModel(const std::string& name) {
    for (const auto& m : stcModernModels())
        if (m.name == name) return &m;
    return nullptr;
}

namespace {
size_t tableBytes(uint16_t code, bool withEeprom) {
    const auto rows = protocol::FindStcModels(code);
    size_t code_ = 0, eeprom = 0;
    for (const auto& r : rows) {
        code_ = code_ ? std::min<size_t>(code_, r.codeFlashBytes) : r.codeFlashBytes;
        eeprom = std::max<size_t>(eeprom, r.eepromBytes);
    }
    return withEeprom ? code_ + eeprom : code_;
}
} // namespace

StcModernChip::StcModernChip(const StcModernModel& model, ChipOptions options)
    : SimChip(model.name, std::move(options), tableBytes(model.code, true)), model_(model),
      codeBytes_(tableBytes(model.code, false)),
      assembler_({[this](Bytes f, bool garbled, TimePoint at) { handleFrame(std::move(f), garbled, at); },
                  [this](const Bytes& f, TimePoint at, const std::string& why) { reject(f, at, why); },
                  [this](uint8_t b, bool, TimePoint at) { return pulse(b, at); }},
                 options_.frameGap) {
    // Knots in counts at the knot rate -> Hz.
    const double unit = countUnit(model_.protocol, model_.knotBaud);
    for (auto& band : model_.bands)
        for (auto& k : band) k.count /= unit;
    const Bytes& s = model_.status;
    switch (model_.protocol) {
    case ModernProtocol::Stc15a:
        mcs_.assign(s.begin() + 23, s.begin() + 36);
        trim_[0] = s[26];
        trim_[1] = s[27];
        break;
    case ModernProtocol::Stc15:
        mcs_ = {s[5], s[6], s[7], s[12], static_cast<uint8_t>(s.size() > 37 ? s[37] : 0xFF)};
        if (const uint32_t hz = static_cast<uint32_t>(word16(s, 8)) << 16 | word16(s, 10); hz != 0xFFFFFFFFu)
            storedHz_ = hz;
        trim_[0] = model_.userTrim[0];
        trim_[1] = model_.userTrim[1];
        break;
    default:
        if (const uint32_t hz = static_cast<uint32_t>(word16(s, 1)) << 16 | word16(s, 3); hz != 0xFFFFFFFFu)
            storedHz_ = hz;
        trim_[0] = s[5];
        trim_[1] = s[6];
        divider_ = std::max<int>(1, s[7]);
        mcs_ = {s[9], s[10], s[11], s[15], s[16]};
        break;
    }
    if (options_.freqSet) trimTo(options_.freqMHz * 1e6);
    if (options_.untrimmed && !isStc15a()) storedHz_.reset();
    handshake_ = settingsAt(model_.statusBaud);
    setUart(handshake_);
}

// ---- The oscillator ---------------------------------------------------------------

double StcModernChip::rcHz(uint8_t first, uint8_t second) const {
    size_t band = 0;
    double x = first;
    switch (model_.protocol) {
    case ModernProtocol::Stc15a:
        band = first >> 6;
        x = second;
        break;
    case ModernProtocol::Stc15: band = 3 - (second >> 6); break;
    case ModernProtocol::Stc8: x = first + 0.32 * (second & 0x03); break;
    case ModernProtocol::Stc8g: band = (second & 0x80) ? 1 : 0; break;
    }
    const auto& k = model_.bands[std::min(band, model_.bands.size() - 1)];
    size_t i = 1;
    while (i + 1 < k.size() && k[i].x < x) ++i;
    // Between knots i-1 and i, or beyond the ends along the last segment.
    const double hz = k[i - 1].count + (x - k[i - 1].x) * (k[i].count - k[i - 1].count) / (k[i].x - k[i - 1].x);
    return std::max(hz, 0.0) * (1.0 + options_.rcOffset);
}

double StcModernChip::exactCount(uint8_t first, uint8_t second, uint32_t baud) const {
    return rcHz(first, second) * countUnit(model_.protocol, baud);
}

double StcModernChip::userHz() const {
    if (isStc15a()) return rcHz(trim_[0], trim_[1]);
    return storedHz_ ? static_cast<double>(*storedHz_) : 0.0;
}

void StcModernChip::trimTo(double hz) {
    // The trim (and STC8 divider) whose RC frequency lies nearest `hz`.
    double bestErr = -1;
    auto consider = [&](uint8_t a, uint8_t b, int d) {
        const double err = std::fabs(rcHz(a, b) - d * hz);
        if (bestErr < 0 || err < bestErr - 1e-9) {
            bestErr = err;
            trim_[0] = a;
            trim_[1] = b;
            divider_ = d;
        }
    };
    switch (model_.protocol) {
    case ModernProtocol::Stc15a:
        for (uint8_t band : {0x18, 0x58, 0x98, 0xD8})
            for (int t = 0; t < 256; ++t) consider(band, static_cast<uint8_t>(t), 1);
        mcs_[3] = trim_[0];
        mcs_[4] = trim_[1];
        return;
    case ModernProtocol::Stc15:
        for (uint8_t band : {0xC0, 0x80, 0x40, 0x00})
            for (int t = 0; t < 256; ++t) consider(static_cast<uint8_t>(t), band, 1);
        break;
    case ModernProtocol::Stc8:
    case ModernProtocol::Stc8g: {
        // The smallest divider that brings d x hz within the oscillator's range.
        const bool g = model_.protocol == ModernProtocol::Stc8g;
        const double lo = rcHz(0, 0), hi = g ? rcHz(0xFF, 0x80) : rcHz(0xFF, 3);
        int d = 1;
        while (d < 5 && d * hz < lo) ++d;
        if (d * hz > hi) d = 1;
        for (int t = 0; t < 256; ++t)
            for (uint8_t b : g ? std::vector<uint8_t>{0x00, 0x80} : std::vector<uint8_t>{0, 1, 2, 3})
                consider(static_cast<uint8_t>(t), b, d);
        break;
    }
    }
    storedHz_ = static_cast<uint32_t>(std::lround(hz));
}

int StcModernChip::jitter() {
    ++jitterDraws_;
    return options_.jitter == ChipOptions::Jitter::Seeded ? noise_.range(-1, 1) : 0;
}

uint16_t StcModernChip::measuredCount(uint8_t first, uint8_t second) {
    const long c = std::lround(exactCount(first, second, handshake_.baud)) + jitter();
    return static_cast<uint16_t>(std::clamp(c, 0L, 65535L));
}

LineSettings StcModernChip::settingsAt(double rate) const {
    LineSettings s;
    s.baud = static_cast<uint32_t>(std::lround(std::max(rate, 1.0)));
    s.parity = 2;
    return s;
}

Bytes StcModernChip::frame(const Bytes& payload) const {
    const size_t len = payload.size() + 6;
    Bytes f = {0x46, 0xB9, 0x68, static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len & 0xFF)};
    f.insert(f.end(), payload.begin(), payload.end());
    unsigned sum = 0;
    for (size_t i = 2; i < f.size(); ++i) sum += f[i];
    f.push_back(static_cast<uint8_t>(sum >> 8));
    f.push_back(static_cast<uint8_t>(sum));
    f.push_back(0x16);
    return f;
}

Bytes StcModernChip::statusPayload(uint32_t baud) {
    Bytes p = model_.status;
    const auto clock16 = [&](size_t at) { put16(p, at, static_cast<unsigned>(std::lround(model_.bootHz / baud))); };
    switch (model_.protocol) {
    case ModernProtocol::Stc15a: {
        // Four counts of the RC at the stored trim; the two further counts
        // (meaning unknown) keep their captured ratio to them.
        const double c = exactCount(trim_[0], trim_[1], baud);
        const double captured = exactCount(model_.status[26], model_.status[27], model_.statusBaud) / (1.0 + options_.rcOffset);
        for (size_t i = 0; i < 4; ++i) {
            long offset = 0;
            if (options_.jitter == ChipOptions::Jitter::Pattern && i < options_.jitterPattern.size())
                offset = options_.jitterPattern[i];
            else
                offset = jitter();
            put16(p, 1 + 2 * i, static_cast<unsigned>(std::clamp(std::lround(c) + offset, 0L, 65535L)));
        }
        for (size_t k = 0; k < 2; ++k)
            put16(p, 9 + 2 * k, static_cast<unsigned>(std::lround(word16(model_.status, 9 + 2 * k) * c / captured)));
        std::copy(mcs_.begin(), mcs_.end(), p.begin() + 23);
        break;
    }
    case ModernProtocol::Stc15:
        p[5] = mcs_[0];
        p[6] = mcs_[1];
        p[7] = mcs_[2];
        put32(p, 8, storedHz_.value_or(0xFFFFFFFFu));
        p[12] = mcs_[3];
        clock16(13);
        if (p.size() > 37) p[37] = mcs_[4];
        break;
    default:
        put32(p, 1, storedHz_.value_or(0xFFFFFFFFu));
        p[5] = trim_[0];
        p[6] = trim_[1];
        p[7] = static_cast<uint8_t>(divider_);
        p[9] = mcs_[0];
        p[10] = mcs_[1];
        p[11] = mcs_[2];
        clock16(13);
        p[15] = mcs_[3];
        p[16] = mcs_[4];
        break;
    }
    return p;
}

// ---- The session --------------------------------------------------------------------

void StcModernChip::bootloaderStart(TimePoint now) {
    state_ = State::WaitSync;
    sync_.reset(now);
    statusDue_.reset();
    assembler_.reset();
    challenges_.clear();
    blocks_ = 0;
    nextAddress_ = 0;
    noise_ = Rng(options_.faults.seed * 0x9E3779B97F4A7C15ull + static_cast<uint64_t>(bootCount()));
}

std::optional<LineSettings> StcModernChip::receiverFor(const LineSettings& host) const {
    // Before the handshake the chip measures whatever rate the host uses.
    if (state_ == State::WaitSync) return settingsAt(host.baud);
    return uart();
}

std::optional<TimePoint> StcModernChip::modelWake() const {
    std::optional<TimePoint> w = assembler_.wake();
    auto take = [&](TimePoint t) {
        if (!w || t < *w) w = t;
    };
    if (const auto due = sync_.due(scaled(kStatusAfterBurst)); state_ == State::WaitSync && due) take(*due);
    if (statusDue_) take(*statusDue_);
    return w;
}

void StcModernChip::onModelTimer(TimePoint now) {
    if (const auto due = sync_.due(scaled(kStatusAfterBurst)); state_ == State::WaitSync && due && now >= *due)
        firstAnswer(*due);
    if (statusDue_ && now >= *statusDue_) {
        const TimePoint at = *statusDue_;
        statusDue_.reset();
        sendStatus(at);
    }
    if (const auto w = assembler_.wake(); w && now >= *w) assembler_.abandon();
}

void StcModernChip::firstAnswer(TimePoint at) {
    handshake_ = settingsAt(sync_.baud());
    setUart(handshake_);
    if (!isStc15a()) return sendStatus(at);
    // STC15A: a one-byte frame 80 first; the status follows the host's 80 frame.
    state_ = State::AwaitHostAck;
    ackSentAt_ = answer(frame({0x80}), 0.0, handshake_, at);
    trace("80 frame for " + std::to_string(sync_.baud()) + " baud; waiting for the host's 80 frame");
}

void StcModernChip::sendStatus(TimePoint at) {
    Bytes f = frame(statusPayload(handshake_.baud));
    const int cut = options_.faults.truncateStatus;
    if (cut >= 0 && static_cast<size_t>(cut) < f.size()) {
        f.resize(static_cast<size_t>(cut));
        trace("fault: status frame cut to " + std::to_string(cut) + " bytes");
    }
    state_ = State::Ready;
    trace("status frame for " + std::to_string(handshake_.baud) + " baud");
    answer(f, 0.0, handshake_, at);
}

void StcModernChip::onChar(const UartChar& c, const LineSettings& host, TimePoint at) {
    if (state_ == State::Done) return; // the user program runs
    if (state_ == State::WaitSync) {
        if (sync_.hear(c, host, at, scaled(kStatusAfterBurst))) firstAnswer(at);
        return;
    }
    assembler_.feed(c.value, c.framingError || c.parityError, at);
}

bool StcModernChip::pulse(uint8_t b, TimePoint at) {
    // Two-bit-long low runs in the byte's waveform (start bit, then data bits
    // from bit 0): FE and 7F give one, 92 three.  66 is a filler.
    int runs = 0;
    switch (b) {
    case 0x7F:
    case 0xFE: runs = 1; break;
    case 0x92: runs = 3; break;
    case 0x66: return true;
    default: return false;
    }
    if (state_ == State::AwaitPulse && b == 0x7F) {
        statusDue_ = std::max(at, plus(ackSentAt_, scaled(kAckToStatus)));
        state_ = State::Ready;
    } else if (state_ == State::Calibrating) {
        pulses_ += runs;
        lastPulse_ = at;
        if (pulses_ >= static_cast<int>(challenges_.size())) calibrationAnswer(at);
    }
    return true;
}

void StcModernChip::handleFrame(Bytes f, bool garbled, TimePoint at) {
    if (garbled) return reject(f, at, "parity or framing error in the frame");
    if (f[2] != 0x6A) return reject(f, at, "direction " + hex2(f[2]) + ", expected 6A");
    if (f.back() != 0x16) return reject(f, at, "end byte " + hex2(f.back()) + ", expected 16");
    const size_t n = f.size();
    unsigned sum = 0;
    for (size_t i = 2; i + 3 < n; ++i) sum += f[i];
    if (n < 9 || (sum & 0xFFFF) != word16(f, n - 3))
        return reject(f, at, "checksum " + hex2(word16(f, n - 3), 4) + ", expected " + hex2(sum & 0xFFFF, 4));
    const Bytes payload(f.begin() + 5, f.end() - 3);
    if (payload.empty()) return reject(f, at, "frame without a command");
    if (state_ == State::Calibrating) {
        trace("calibration abandoned after " + std::to_string(pulses_) + " pulses: a new frame came");
        state_ = State::Ready;
    }
    if (!frameAllowed()) {
        record(at, f, true, "no answer (fault silent-after)");
        return;
    }
    if (state_ == State::AwaitHostAck) {
        if (payload != Bytes{0x80}) return reject(f, at, "expected the host's 80 frame after the chip's");
        state_ = State::AwaitPulse;
        record(at, f, true, "the host answered the 80 frame; the status follows the next 7F");
        return;
    }
    if (state_ == State::AwaitPulse) return reject(f, at, "frame before the status frame");
    command(f, payload, at);
}

void StcModernChip::reply(const Bytes& payload, double seconds, TimePoint at) {
    answer(frame(payload), scaled(seconds), uart(), at);
}

std::optional<Bytes> StcModernChip::afterMarker(const Bytes& f, const Bytes& p, TimePoint at) {
    // 00 00 5A A5 after the command (bootloaders 7.2 and later); STC15 chips
    // also take the frames without it (hosts of bootloaders below 7.2 omit it).
    if (p.size() >= 5 && p[1] == 0x00 && p[2] == 0x00 && p[3] == kMarker0 && p[4] == kMarker1)
        return Bytes(p.begin() + 5, p.end());
    if (p.size() >= 5 && (p[0] == 0x03) && p[2] == 0x00 && p[3] == kMarker0 && p[4] == kMarker1)
        return Bytes(p.begin() + 5, p.end()); // erase: byte 1 says whether EEPROM goes too
    if (isStc8()) {
        reject(f, at, "command " + hex2(p[0]) + " without the marker 00 00 5A A5");
        return std::nullopt;
    }
    const size_t head = p[0] == 0x04 ? 3 : (p[0] == 0x03 ? 2 : 1);
    if (p.size() < head) {
        reject(f, at, "command " + hex2(p[0]) + " too short");
        return std::nullopt;
    }
    return Bytes(p.begin() + static_cast<long>(head), p.end());
}

void StcModernChip::command(const Bytes& f, const Bytes& p, TimePoint at) {
    const uint8_t type = p[0];
    if (isStc15a()) {
        switch (type) {
        case 0x50: // 00 00 36 01 + model code: the chip answers whatever follows
            reply({0x8F}, kControlAnswer, at);
            record(at, f, true, "handshake " + hexBytes(Bytes(p.begin() + 1, p.end())));
            return;
        case 0x65: return calibrate(f, p, at);
        case 0x8E: return switchRate(f, p, at);
        case 0x84: return erase(f, p, at);
        case 0x00: return write(f, p, at);
        case 0x69:
            reply({0x8D}, kControlAnswer, at);
            record(at, f, true, "end of writing");
            return;
        case 0x8D: return storeOptions(f, p, at);
        case 0x82:
            state_ = State::Done;
            record(at, f, true, "end of session: the user program starts (no answer)");
            return;
        default: return reject(f, at, "unknown command " + hex2(type));
        }
    }
    switch (type) {
    case 0x00: return calibrate(f, p, at);
    case 0x01: return switchRate(f, p, at);
    case 0x05: {
        const auto rest = afterMarker(f, p, at);
        if (!rest) return;
        if (!rest->empty()) return reject(f, at, "prepare frame with " + std::to_string(rest->size()) + " extra bytes");
        reply({static_cast<uint8_t>(options_.locked ? 0x0F : 0x05)}, kControlAnswer, at);
        record(at, f, true, options_.locked ? "prepare: locked by a password (0F)" : "prepare");
        return;
    }
    case 0x03: return erase(f, p, at);
    case 0x22:
    case 0x02: return write(f, p, at);
    case 0x07: {
        if (p != Bytes{0x07, 0x00, 0x00, kMarker0, kMarker1}) return reject(f, at, "finish frame other than 07 00 00 5A A5");
        reply({0x07, kAck}, kControlAnswer, at);
        record(at, f, true, "end of writing");
        return;
    }
    case 0x04: return storeOptions(f, p, at);
    case 0x82:
    case 0xFF:
        if ((type == 0xFF) != isStc8()) return reject(f, at, "unknown command " + hex2(type) + " (the leave command is " +
                                                                  (isStc8() ? "FF" : "82") + ")");
        state_ = State::Done;
        record(at, f, true, "end of session: the user program starts (no answer)");
        return;
    default: return reject(f, at, "unknown command " + hex2(type));
    }
}

void StcModernChip::calibrate(const Bytes& f, const Bytes& p, TimePoint at) {
    challenges_.clear();
    if (isStc15a()) {
        // 65 T0..T6 FF FF 06 CNT, then CNT x (Th Tl 02 00).
        const size_t n = p.size() >= 12 ? p[11] : 0;
        if (n == 0 || p.size() != 12 + 4 * n)
            return reject(f, at, "calibration frame of " + std::to_string(p.size()) + " bytes for " + std::to_string(n) +
                                     " challenges");
        for (size_t i = 0; i < n; ++i) challenges_.emplace_back(p[12 + 4 * i], p[13 + 4 * i]);
        const bool echoed = std::equal(p.begin() + 1, p.begin() + 8, model_.status.begin() + 51);
        record(at, f, true,
               std::to_string(n) + " trims to measure" + (echoed ? "" : " (the trim constants differ from the status)"));
    } else {
        // 00 CNT, then one (first, second) pair per slot; counts for the first CNT.
        const size_t n = p.size() >= 2 ? p[1] : 0;
        if (n == 0 || p.size() % 2 != 0 || (p.size() - 2) / 2 < n)
            return reject(f, at, "calibration frame of " + std::to_string(p.size()) + " bytes for " + std::to_string(n) +
                                     " challenges");
        for (size_t i = 0; i < n; ++i) challenges_.emplace_back(p[2 + 2 * i], p[3 + 2 * i]);
        record(at, f, true, std::to_string(n) + " trims to measure in " + std::to_string((p.size() - 2) / 2) + " slots");
    }
    calRequest_ = p;
    pulses_ = 0;
    calFrameEnd_ = at;
    state_ = State::Calibrating;
}

void StcModernChip::calibrationAnswer(TimePoint at) {
    Bytes a = calRequest_;
    if (isStc15a()) {
        for (size_t i = 0; i < challenges_.size(); ++i)
            put16(a, 14 + 4 * i, measuredCount(challenges_[i].first, challenges_[i].second));
    } else {
        std::fill(a.begin() + 2, a.end(), 0x00);
        a[0] = 0x00;
        for (size_t i = 0; i < challenges_.size(); ++i)
            put16(a, 2 + 2 * i, measuredCount(challenges_[i].first, challenges_[i].second));
    }
    state_ = State::Ready;
    const double wait = std::chrono::duration<double>(calFrameEnd_ - at).count() + scaled(model_.calibrationTime);
    answer(frame(a), std::max(wait, 0.0), uart(), at);
    trace("calibration answered after " + std::to_string(pulses_) + " pulse runs");
}

void StcModernChip::switchRate(const Bytes& f, const Bytes& p, TimePoint at) {
    const double drift = 1.0 + options_.clockDrift;
    if (isStc15a()) {
        // 8E Th Tl BD A1 64 FC 00 IA 20 FF 00: the chip runs on trim Th Tl and
        // divides it by 96 BD (22.1184 MHz / 96 = 230400).
        if (p.size() != 12) return reject(f, at, "rate switch of " + std::to_string(p.size()) + " bytes, expected 12");
        if (p[3] == 0) return reject(f, at, "rate switch with divisor 00");
        const LineSettings next = settingsAt(rcHz(p[1], p[2]) * drift / (96.0 * p[3]));
        setUart(next);
        Bytes a = p;
        a[0] = 0x84;
        a.push_back(0x05);
        answer(frame(a), std::max(scaled(kStc15aSwitchAnswer), options_.minSwitchDelay), next, at);
        record(at, f, true, "trim " + hex2(word16(p, 1), 4) + ", divisor " + hex2(p[3]) + ": answered at " +
                                std::to_string(next.baud) + " baud");
        return;
    }
    // 01 Tp Rp R1h R1l X Y IA: STC15 programs on trim (Tp, Rp); STC8 on its
    // factory-trimmed clock.  X Y and IA are not checked (hosts differ).
    if (p.size() != 8) return reject(f, at, "rate switch of " + std::to_string(p.size()) + " bytes, expected 8");
    const double steps = 65536.0 - word16(p, 3);
    double rate = 0;
    if (isStc8())
        rate = model_.bootHz / (4.0 * steps);
    else
        rate = rcHz(p[1], p[2]) / ((model_.code >> 8) == 0xF2 ? steps : 4.0 * steps);
    const LineSettings next = settingsAt(rate * drift);
    const TimePoint end = answer(frame({0x01}), std::max(scaled(kControlAnswer), 0.0), handshake_, at);
    setUartAt(end, next);
    record(at, f, true, "reload " + hex2(word16(p, 3), 4) + ": from " + std::to_string(next.baud) + " baud on");
}

void StcModernChip::erase(const Bytes& f, const Bytes& p, TimePoint at) {
    size_t bytes = codeBytes_;
    std::string what;
    if (isStc15a()) {
        // 84 FF 00 P 00 00 S ...: P 256-byte pages from address 0.
        if (p.size() < 7) return reject(f, at, "erase frame of " + std::to_string(p.size()) + " bytes");
        bytes = std::min<size_t>(p[3] * 256u, codeBytes_);
        what = std::to_string(p[3]) + " pages";
    } else {
        const auto rest = afterMarker(f, p, at);
        if (!rest) return;
        if (!rest->empty()) return reject(f, at, "erase frame with extra bytes");
        // Byte 1 = 01, or the option "erase EEPROM at the next programming"
        // (STC15 MCSX bit 1, STC8 MCS0 bit 1), takes the EEPROM too.
        const bool eeprom = p[1] == 0x01 || ((isStc8() ? mcs_[0] : mcs_[3]) & 0x02) != 0;
        if (eeprom) bytes = flash_.size();
        what = eeprom ? "code flash and EEPROM" : "code flash";
    }
    std::fill(flash_.begin(), flash_.begin() + static_cast<long>(bytes), 0xFF);
    nextAddress_ = 0;
    Bytes a = {static_cast<uint8_t>(isStc15a() ? 0x00 : 0x03)};
    a.insert(a.end(), model_.uid.begin(), model_.uid.end());
    reply(a, model_.eraseTime, at);
    record(at, f, true, "erased: " + what + " (" + std::to_string(bytes) + " bytes)");
}

void StcModernChip::write(const Bytes& f, const Bytes& p, TimePoint at) {
    uint32_t addr = 0;
    size_t from = 0, n = 0;
    if (isStc15a()) {
        // 00 00 00 Ah Al nH nL + n data bytes.
        n = p.size() >= 7 ? word16(p, 5) : 0;
        if (p.size() < 7 || p.size() != 7 + n || (n != 64 && n != 128))
            return reject(f, at, "write frame of " + std::to_string(p.size()) + " bytes");
        addr = word16(p, 3);
        from = 7;
    } else {
        // 22|02 Ah Al [5A A5] + 64 or 128 data bytes.
        const bool marker = p.size() >= 5 && p[3] == kMarker0 && p[4] == kMarker1 &&
                            (p.size() - 5 == 64 || p.size() - 5 == 128);
        const bool bare = !isStc8() && p.size() >= 3 && (p.size() - 3 == 64 || p.size() - 3 == 128);
        if (!marker && !bare)
            return reject(f, at, "write frame of " + std::to_string(p.size()) + " bytes" +
                                     (isStc8() ? " (64 or 128 data bytes after 5A A5)" : ""));
        addr = word16(p, 1);
        from = marker ? 5 : 3;
        n = p.size() - from;
    }
    if (addr + n > flash_.size())
        return reject(f, at, "block address " + hex2(addr, 4) + " beyond the " + std::to_string(flash_.size()) +
                                 "-byte flash");
    const BlockFault fault = blockArrived(at);
    if (fault == BlockFault::HangUp) return record(at, f, true, "hang-up (fault hangup-block)");
    if (fault == BlockFault::Refuse) return record(at, f, true, "no answer (fault nack-block)");
    unsigned sum = 0;
    for (size_t i = 0; i < n; ++i) {
        flash_[addr + i] &= p[from + i]; // programming only clears bits
        sum += p[from + i];
    }
    std::string note = "block " + hex2(addr, 4) + " written";
    if (!isStc15a() && (p[0] == 0x22) != (blocks_ == 0)) note += p[0] == 0x22 ? " (22 again)" : " (02 before any 22)";
    if (addr != nextAddress_) note += " (not after the block before)";
    nextAddress_ = addr + static_cast<uint32_t>(n);
    const bool badAck = fault == BlockFault::BadAck;
    Bytes a = isStc15a() ? Bytes{0x00, static_cast<uint8_t>(sum + (badAck ? 1 : 0))}
                         : Bytes{0x02, static_cast<uint8_t>(kAck + (badAck ? 1 : 0))};
    const int index = blocks_++;
    reply(a, model_.writeMin + (model_.writeMax - model_.writeMin) * ((index * 7) % 11) / 10.0, at);
    record(at, f, true, note);
}

void StcModernChip::storeOptions(const Bytes& f, const Bytes& p, TimePoint at) {
    if (isStc15a()) {
        // 8D MCS0..MCS12 + six FF.
        if (p.size() != 20) return reject(f, at, "option frame of " + std::to_string(p.size()) + " bytes, expected 20");
        std::copy(p.begin() + 1, p.begin() + 14, mcs_.begin());
        trim_[0] = mcs_[3];
        trim_[1] = mcs_[4];
        // 50, the UID's last three bytes, the trim, 03 FF, the version, the new
        // option bytes, then bytes whose meaning is unknown (FF, a closing 00).
        Bytes a = {0x50, model_.uid[4], model_.uid[5], model_.uid[6], trim_[0], trim_[1], 0x03, 0xFF,
                   model_.status[17], model_.status[18]};
        a.insert(a.end(), mcs_.begin(), mcs_.end());
        a.resize(40, 0xFF);
        a.push_back(0x00);
        reply(a, model_.optionsTime, at);
        record(at, f, true, "option bytes " + hexBytes(mcs_));
        return;
    }
    const auto block = afterMarker(f, p, at);
    if (!block) return;
    const size_t want = isStc8() ? 40 : 64;
    if (block->size() != want)
        return reject(f, at, "option block of " + std::to_string(block->size()) + " bytes, expected " + std::to_string(want));
    const Bytes& b = *block;
    uint32_t hz = 0;
    if (isStc8()) {
        hz = static_cast<uint32_t>(word16(b, 24)) << 16 | word16(b, 26);
        trim_[0] = b[28];
        trim_[1] = b[29];
        divider_ = std::max<int>(1, b[30]);
        mcs_ = {b[32], b[36], b[37], b[38], b[39]};
    } else {
        // Frequency in bytes 23, 25, 27, 29 (high first); MCSX 31, MCSY 55,
        // user trim 59 and band + 3F at 60, MCS2..MCS4 61-63.
        hz = static_cast<uint32_t>(b[23]) << 24 | static_cast<uint32_t>(b[25]) << 16 | b[27] << 8 | b[29];
        trim_[0] = b[59];
        trim_[1] = static_cast<uint8_t>(b[60] - 0x3F);
        mcs_ = {b[61], b[62], b[63], b[31], model_.status.size() > 37 ? b[55] : mcs_[4]};
    }
    if (hz == 0xFFFFFFFFu)
        storedHz_.reset();
    else
        storedHz_ = hz;
    reply({0x04, kAck}, model_.optionsTime, at);
    record(at, f, true, "options stored: " + (storedHz_ ? std::to_string(*storedHz_) + " Hz" : std::string("untrimmed")) +
                            ", trim " + hex2(trim_[0]) + " " + hex2(trim_[1]) + ", option bytes " + hexBytes(mcs_));
}

} // namespace talvo::sim
