#include "sim/StcChip.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace talvo::sim {

namespace {

Bytes zeros(size_t n) { return Bytes(n, 0x00); }

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes r;
    for (const auto& p : parts) r.insert(r.end(), p.begin(), p.end());
    return r;
}

std::string hex2(unsigned v, int digits = 2) {
    char b[16];
    std::snprintf(b, sizeof b, "%0*X", digits, v);
    return b;
}

// Status bytes after the model code of the captured STC12C5A60S2 (option
// bytes, the 7-byte unique ID B0 02 2E 6B 00 CD 80, two zero bytes).
const Bytes kStc12Tail = {0x8C, 0xFF, 0x7F, 0xF7, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x03,
                          0x00, 0xB0, 0x02, 0x2E, 0x6B, 0x00, 0xCD, 0x80, 0x00, 0x00};
const Bytes kStc12Uid = {0xB0, 0x02, 0x2E, 0x6B, 0x00, 0xCD, 0x80};
// The STC11F part gets the same layout with an ID of its own.
const Bytes kStc11Uid = {0xA4, 0x11, 0x3C, 0x59, 0x00, 0xE2, 0x14};

Bytes stc11Tail() {
    Bytes t = kStc12Tail;
    std::copy(kStc11Uid.begin(), kStc11Uid.end(), t.begin() + 12);
    return t;
}

// The captured counts average 1212.25; a count is the exact figure rounded up
// (half a count on average), so the exact figure is about 1211.75, against
// the formula's 1215.28 for 20 MHz, 9600 baud, T = 12.
constexpr double kTwoByteCountScale = 1211.75 / 1215.28;

// The STC89 status frame ends with 82 and 31 zero bytes (capture).
Bytes stc89Tail() { return concat({Bytes{0x82}, zeros(31)}); }

} // namespace

const std::vector<StcModel>& stcModels() {
    static const std::vector<StcModel> models = {
        {"stc89c52rc", "STC89C52RC (one-byte checksum, 8N1, 8 KB; clock=6 for 6-clock mode)", StcFamily::OneByte, 0x43,
         'C', {0xF0, 0x02}, 8 * 1024, true, false, 1.0, stc89Tail(), {}, {},
         /*switch*/ 0.1, /*control*/ 0.1, /*erase*/ 0.15, 0.05, 0.05, /*finish*/ 0.05, false},
        {"stc90c516", "STC90C516RD+ (one-byte checksum, 8N1, 62 KB)", StcFamily::OneByte, 0x44, 'C', {0xF1, 0x30},
         62 * 1024, false, true, 1.0, stc89Tail(), {}, {}, 0.1, 0.1, 0.15, 0.05, 0.05, 0.05, false},
        {"stc12c5a60s2", "STC12C5A60S2 (two-byte checksum, 8E1, 60 KB)", StcFamily::TwoByte, 0x62, 'I',
         {0xD1, 0x7E}, 60 * 1024, false, true, kTwoByteCountScale, kStc12Tail, kStc12Uid, {0x8C, 0xFF, 0x7F, 0xF7},
         /*switch*/ 0.26, /*control*/ 0.05, /*erase*/ 1.6, 0.25, 0.25, /*finish*/ 0.06, false},
        {"stc11f60", "STC11F60XE (two-byte checksum, 8E1, 60 KB)", StcFamily::TwoByte, 0x65, 'L', {0xD3, 0x7E},
         60 * 1024, false, true, kTwoByteCountScale, stc11Tail(), kStc11Uid, {0x8C, 0xFF, 0x7F, 0xF7},
         0.26, 0.05, 0.27, 0.03, 0.13, 0.06, true},
    };
    return models;
}

const StcModel* findStcModel(const std::string& name) {
    for (const auto& m : stcModels())
        if (m.name == name) return &m;
    return nullptr;
}

StcChip::StcChip(const StcModel& model, ChipOptions options)
    : SimChip(model.name, std::move(options), model.flashSize), model_(model),
      assembler_({[this](Bytes f, bool garbled, TimePoint at) { handleFrame(std::move(f), garbled, at); },
                  [this](const Bytes& f, TimePoint at, const std::string& why) { reject(f, at, why); },
                  // The tail of the host's sync stream.
                  [](uint8_t b, bool strayPending, TimePoint) { return b == 0x7F && !strayPending; }},
                 options_.frameGap) {
    if (!model_.sixClockCapable) options_.clockMode = 12;
    handshake_ = home_ = settingsAt(9600);
    setUart(home_);
}

int StcChip::clockDivider() const { return options_.clockMode == 6 ? 6 : 12; }

double StcChip::exactCount(uint32_t baud) const {
    if (baud == 0) return 0;
    return model_.countScale * options_.freqMHz * 1e6 * 7.0 / (static_cast<double>(baud) * clockDivider());
}

double StcChip::rateForReload(uint8_t rr) const {
    const double f = options_.freqMHz * 1e6 * (1.0 + options_.clockDrift);
    const double steps = 256.0 - rr;
    if (model_.family == StcFamily::OneByte) return f / ((options_.clockMode == 6 ? 16.0 : 32.0) * steps);
    return f / (16.0 * steps);
}

LineSettings StcChip::settingsAt(double rate) const {
    LineSettings s;
    s.baud = static_cast<uint32_t>(std::lround(std::max(rate, 1.0)));
    s.parity = nativeParity();
    s.dataBits = 8;
    s.stopBits = 0;
    return s;
}

double StcChip::switchDelay() const { return std::max(scaled(model_.switchAnswer), options_.minSwitchDelay); }

Bytes StcChip::frame(const Bytes& payload) const {
    const bool two = model_.family == StcFamily::TwoByte;
    const size_t len = payload.size() + (two ? 6 : 5);
    Bytes f = {0x46, 0xB9, 0x68, static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len & 0xFF)};
    f.insert(f.end(), payload.begin(), payload.end());
    unsigned sum = 0;
    for (size_t i = 2; i < f.size(); ++i) sum += f[i];
    if (two) f.push_back(static_cast<uint8_t>((sum >> 8) & 0xFF));
    f.push_back(static_cast<uint8_t>(sum & 0xFF));
    f.push_back(0x16);
    return f;
}

Bytes StcChip::statusFrame(uint32_t baud) {
    // Each of the eight counts is the number of machine cycles in the measured
    // span of one 7F character (rounded up), plus the measurement's jitter.
    const double exact = exactCount(baud);
    const long base = static_cast<long>(std::ceil(exact - 1e-9));
    Rng jitter(options_.faults.seed * 0x9E3779B97F4A7C15ull + static_cast<uint64_t>(bootCount()));
    counts_.assign(8, 0);
    for (size_t i = 0; i < 8; ++i) {
        long offset = 0;
        if (options_.jitter == ChipOptions::Jitter::Seeded)
            offset = jitter.range(-1, 1);
        else if (options_.jitter == ChipOptions::Jitter::Pattern && i < options_.jitterPattern.size())
            offset = options_.jitterPattern[i];
        counts_[i] = static_cast<uint16_t>(std::clamp(base + offset, 0L, 65535L));
    }
    Bytes payload;
    const bool two = model_.family == StcFamily::TwoByte;
    payload.push_back(two ? 0x50 : 0x00);
    for (uint16_t c : counts_) {
        payload.push_back(static_cast<uint8_t>(c >> 8));
        payload.push_back(static_cast<uint8_t>(c & 0xFF));
    }
    payload.push_back(model_.version);
    payload.push_back(model_.stepping);
    // One-byte family: the option byte, whose bit 0 clear means 6-clock mode.
    payload.push_back(two ? 0x00 : (options_.clockMode == 6 ? 0xFC : 0xFD));
    payload.push_back(model_.model[0]);
    payload.push_back(model_.model[1]);
    payload.insert(payload.end(), model_.statusTail.begin(), model_.statusTail.end());
    Bytes f = frame(payload);
    if (!model_.statusWithStart) f.erase(f.begin(), f.begin() + 2);
    return f;
}

void StcChip::bootloaderStart(TimePoint now) {
    state_ = State::WaitSync;
    sync_.reset(now);
    assembler_.reset();
    erasedBytes_ = 0;
    blocksThisSession_ = 0;
}

std::optional<LineSettings> StcChip::receiverFor(const LineSettings& host) const {
    if (state_ == State::WaitSync) {
        // Before the handshake the chip measures whatever rate the host uses.
        LineSettings s = settingsAt(host.baud);
        return s;
    }
    return uart();
}

namespace {
constexpr double kStatusAfterBurst = 0.3; // the status frame after the sync burst began
} // namespace

std::optional<TimePoint> StcChip::modelWake() const {
    if (state_ == State::WaitSync)
        if (const auto due = sync_.due(scaled(kStatusAfterBurst))) return due;
    return assembler_.wake();
}

void StcChip::onModelTimer(TimePoint now) {
    if (const auto due = sync_.due(scaled(kStatusAfterBurst)); state_ == State::WaitSync && due && now >= *due)
        sendStatus(*due);
    if (const auto w = assembler_.wake(); w && now >= *w) assembler_.abandon();
}

void StcChip::sendStatus(TimePoint at) {
    Bytes f = statusFrame(sync_.baud());
    const int cut = options_.faults.truncateStatus;
    if (cut >= 0 && static_cast<size_t>(cut) < f.size()) {
        f.resize(static_cast<size_t>(cut));
        trace("fault: status frame cut to " + std::to_string(cut) + " bytes");
    }
    handshake_ = home_ = settingsAt(sync_.baud());
    setUart(home_);
    state_ = State::Ready;
    trace("status frame for " + std::to_string(sync_.baud()) + " baud (count " + std::to_string(exactCount(sync_.baud())) +
          ")");
    answer(f, 0.0, home_, at);
}

void StcChip::onChar(const UartChar& c, const LineSettings& host, TimePoint at) {
    if (state_ == State::Done) return; // the user program runs
    if (state_ == State::WaitSync) {
        if (sync_.hear(c, host, at, scaled(kStatusAfterBurst))) sendStatus(at);
        return;
    }
    // Bytes with a framing error, and in the 8E1 families with a parity
    // error, are garbage to the bootloader.
    assembler_.feed(c.value, c.framingError || (c.parityError && nativeParity() != 0), at);
}

void StcChip::reject(const Bytes& f, TimePoint at, const std::string& why) { record(at, f, false, why); }

void StcChip::handleFrame(Bytes f, bool garbled, TimePoint at) {
    if (garbled) return reject(f, at, "parity or framing error in the frame");
    if (f[2] != 0x6A) return reject(f, at, "direction " + hex2(f[2]) + ", expected 6A");
    if (f.back() != 0x16) return reject(f, at, "end byte " + hex2(f.back()) + ", expected 16");
    const size_t n = f.size();
    auto sumOf = [&](size_t from, size_t to) {
        unsigned s = 0;
        for (size_t i = from; i < to; ++i) s += f[i];
        return s;
    };
    const bool two = model_.family == StcFamily::TwoByte;
    int form = 0;
    if (two && n >= 9 && (sumOf(2, n - 3) & 0xFFFF) == ((static_cast<unsigned>(f[n - 3]) << 8) | f[n - 2]))
        form = 2;
    else if (n >= 8 && (sumOf(2, n - 2) & 0xFF) == f[n - 2] && (!two || f[5] == 0x82))
        form = 1; // the two-byte family takes its closing 82 in either form
    if (form == 0) {
        const std::string want = two ? hex2(sumOf(2, n - 3) & 0xFFFF, 4) : hex2(sumOf(2, n - 2) & 0xFF);
        const std::string got = two ? hex2((static_cast<unsigned>(f[n - 3]) << 8) | f[n - 2], 4) : hex2(f[n - 2]);
        return reject(f, at, "checksum " + got + ", expected " + want);
    }
    const Bytes payload(f.begin() + 5, f.end() - 1 - form);
    if (payload.empty()) return reject(f, at, "frame without a command");
    if (!frameAllowed()) {
        record(at, f, true, "no answer (fault silent-after)");
        return;
    }
    if (two)
        twoByteCommand(f, payload, at);
    else
        oneByteCommand(f, payload, at);
}

bool StcChip::writeBlock(const Bytes& f, const Bytes& payload, TimePoint at, uint8_t* sum, double* delay) {
    if (payload.size() != 1 + 6 + 128) {
        reject(f, at, "write frame with " + std::to_string(payload.size() - 1) + " data bytes, expected 134");
        return false;
    }
    // Real chips take blocks at any address in any order; the header's other
    // bytes are not checked.
    const long addr = (static_cast<long>(payload[3]) << 8) | payload[4];
    if (static_cast<size_t>(addr) + 128 > flash_.size()) {
        reject(f, at, "block address " + hex2(static_cast<unsigned>(addr), 4) + " beyond the " +
                          std::to_string(flash_.size()) + "-byte flash");
        return false;
    }
    const BlockFault fault = blockArrived(at);
    if (fault == BlockFault::HangUp) {
        record(at, f, true, "hang-up (fault hangup-block)");
        return false;
    }
    if (fault == BlockFault::Refuse) {
        record(at, f, true, "no answer (fault nack-block)");
        return false;
    }
    unsigned s = 0;
    for (size_t i = 0; i < 128; ++i) {
        const uint8_t d = payload[7 + i];
        flash_[static_cast<size_t>(addr) + i] &= d; // programming only clears bits
        s += d;
    }
    *sum = static_cast<uint8_t>((s + (fault == BlockFault::BadAck ? 1 : 0)) & 0xFF);
    const int index = blocksThisSession_++;
    *delay = scaled(model_.writeMin + (model_.writeMax - model_.writeMin) * ((index * 7) % 11) / 10.0);
    record(at, f, true,
           "block " + hex2(static_cast<unsigned>(addr), 4) + " written" +
               (static_cast<size_t>(addr) + 128 <= erasedBytes_ ? "" : " over flash this session did not erase"));
    return true;
}

void StcChip::switchRate(const Bytes& f, const Bytes& reply, uint8_t reload, bool temporary, TimePoint at) {
    // The chip listens and answers at the rate of the reload; after an 8F it
    // returns to its previous rate once the answer has left, after an 8E it stays.
    const LineSettings next = settingsAt(rateForReload(reload));
    setUart(next);
    const TimePoint end = answer(reply, switchDelay(), next, at);
    if (temporary)
        setUartAt(end, home_);
    else
        home_ = next;
    record(at, f, true,
           "reload " + hex2(reload) + ": answered at " + std::to_string(next.baud) + " baud" +
               (temporary ? ", then back to " + std::to_string(home_.baud) : ", and stays there"));
}

void StcChip::oneByteCommand(const Bytes& f, const Bytes& p, TimePoint at) {
    const Bytes data(p.begin() + 1, p.end());
    switch (p[0]) {
    case 0x8F:
    case 0x8E: {
        // FF RR 00 cc DD [ii]: hosts differ in every byte but the reload RR,
        // which alone sets the rate.
        if (data.size() < 2) return reject(f, at, "rate switch without a reload byte");
        return switchRate(f, frame(p), data[1], p[0] == 0x8F, at);
    }
    case 0x80:
        answer(frame({0x80}), scaled(model_.controlAnswer), home_, at);
        record(at, f, true, "control information " + hexBytes(data));
        return;
    case 0x84: {
        // NN 33 33 33 33 33 33: NN 256-byte pages from address 0.
        const size_t pages = data.empty() ? 0 : data[0];
        erasePages(pages);
        answer(frame({0x80}), scaled(model_.eraseTime), home_, at);
        record(at, f, true, "flash erased: " + std::to_string(pages) + " pages (" + hexBytes(data) + ")");
        return;
    }
    case 0x00: {
        uint8_t sum = 0;
        double delay = 0;
        if (writeBlock(f, p, at, &sum, &delay)) answer(frame({0x80, sum}), delay, home_, at);
        return;
    }
    case 0x8D:
        answer(frame(p), scaled(model_.finishAnswer), home_, at);
        record(at, f, true, "option bytes " + hexBytes(data));
        return;
    case 0x82:
        answer(frame({0x80}), scaled(model_.finishAnswer), home_, at);
        state_ = State::Done;
        record(at, f, true, "end of session: the user program starts");
        return;
    default:
        return reject(f, at, "unknown command " + hex2(p[0]));
    }
}

void StcChip::twoByteCommand(const Bytes& f, const Bytes& p, TimePoint at) {
    const Bytes data(p.begin() + 1, p.end());
    switch (p[0]) {
    case 0x50:
        // 00|07|0A 00 36 01 + model code: hosts differ, the chip answers all.
        answer(frame({0x8F, 0x00}), scaled(model_.controlAnswer), home_, at);
        record(at, f, true, "baud preparation " + hexBytes(data));
        return;
    case 0x8F:
    case 0x8E: {
        // C0 RR 3F cc DD [ii]: the rate comes from RR alone.
        if (data.size() < 2) return reject(f, at, "rate switch without a reload byte");
        const bool first = p[0] == 0x8F;
        Bytes reply;
        if (first) {
            reply = p;
        } else {
            reply = {0x84};
            reply.insert(reply.end(), data.begin(), data.end());
        }
        reply.push_back(0x04);
        return switchRate(f, frame(reply), data[1], first, at);
    }
    case 0x84: {
        // FF 00 NN 00 00 NN ...: NN 256-byte pages from address 0.
        const size_t pages = data.size() >= 3 ? data[2] : 0;
        erasePages(pages);
        Bytes reply = {0x00};
        if (model_.eraseAnswerHasUid)
            reply.insert(reply.end(), model_.uid.begin(), model_.uid.end());
        else
            reply.push_back(0x00);
        answer(frame(reply), scaled(model_.eraseTime), home_, at);
        record(at, f, true,
               "flash erased: " + std::to_string(pages) + " pages (" + hexBytes(data.data(), std::min<size_t>(data.size(), 6)) + ")");
        return;
    }
    case 0x00: {
        uint8_t sum = 0;
        double delay = 0;
        if (writeBlock(f, p, at, &sum, &delay)) answer(frame({0x00, sum}), delay, home_, at);
        return;
    }
    case 0x69:
        answer(frame({0x8D, 0x00}), scaled(model_.finishAnswer), home_, at);
        record(at, f, true, "options frame " + hexBytes(data));
        return;
    case 0x8D: {
        Bytes reply = {0x50};
        reply.insert(reply.end(), model_.optionBytes.begin(), model_.optionBytes.end());
        reply.insert(reply.end(), model_.uid.begin(), model_.uid.end());
        answer(frame(reply), scaled(0.1), home_, at);
        record(at, f, true, "option bytes " + hexBytes(data));
        return;
    }
    case 0x82:
        state_ = State::Done;
        record(at, f, true, "end of session: the user program starts (no answer)");
        return;
    default:
        return reject(f, at, "unknown command " + hex2(p[0]));
    }
}

void StcChip::erasePages(size_t pages) {
    const size_t bytes = std::min(pages * 256, flash_.size());
    std::fill(flash_.begin(), flash_.begin() + static_cast<long>(bytes), 0xFF);
    erasedBytes_ = bytes;
}

} // namespace talvo::sim
