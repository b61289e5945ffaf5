#include "sim/Stm32Chip.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace talvo::sim {

namespace {

std::string hex(uint32_t v, int digits) {
    char b[16];
    std::snprintf(b, sizeof b, "%0*X", digits, v);
    return b;
}

} // namespace

const std::vector<Stm32Model>& stm32Models() {
    // ST AN2606 (bootloader versions, commands, RAM it keeps), AN3155 (the
    // commands of protocol 3.1) and the reference manuals: RM0008 (F1),
    // RM0360 (F030: flash size register at 0x1FFFF7CC, system memory from
    // 0x1FFFEC00), RM0368 (F401: sectors, byte programming, flash size at
    // 0x1FFF7A22), RM0444 (G0) and RM0394 (L4): double-word programming with
    // ECC, flash size at 0x1FFF75E0, option bytes from 0x1FFF7800.
    const Bytes v31 = {0x00, 0x01, 0x02, 0x11, 0x21, 0x31, 0x44, 0x63, 0x73, 0x82, 0x92};
    static const std::vector<Stm32Model> models = {
        {.name = "stm32f103",
         .title = "STM32F103 medium density (PID 0x410, 64 KB flash, 1 KB pages, 8E1)",
         .pid = 0x410,
         .flashSize = 64 * 1024,
         .pageSize = 1024,
         .ramSize = 20 * 1024},
        {.name = "stm32f103hd",
         .title = "STM32F103 high density (PID 0x414, 256 KB flash, 2 KB pages, 8E1)",
         .pid = 0x414,
         .flashSize = 256 * 1024,
         .pageSize = 2048,
         .ramSize = 48 * 1024},
        {.name = "stm32f030",
         .title = "STM32F030x8 (PID 0x440, bootloader 3.1, 64 KB flash, 1 KB pages, Extended Erase, 8E1)",
         .pid = 0x440,
         .flashSize = 64 * 1024,
         .pageSize = 1024,
         .ramSize = 8 * 1024,
         .version = 0x31,
         .commands = v31,
         .flashSizeAddress = 0x1FFFF7CC,
         .systemBase = 0x1FFFEC00,
         .ramReserved = 0x800,
         .uniqueIdAddress = 0},
        // Sectors erased byte by byte (the bootloader's width without the
        // voltage byte): 0.4 s for 16 KB, 1.2 s for 64 KB, 2 s for 128 KB.
        {.name = "stm32f401",
         .title = "STM32F401xC (PID 0x423, bootloader 3.1, 256 KB flash in sectors of 16/16/16/16/64/128 KB, "
                  "Extended Erase, 8E1)",
         .pid = 0x423,
         .flashSize = 256 * 1024,
         .pageSize = 0,
         .ramSize = 64 * 1024,
         .version = 0x31,
         .commands = v31,
         .flashSizeAddress = 0x1FFF7A22,
         .systemBase = 0x1FFF0000,
         .systemEnd = 0x1FFF7A24, // system memory, OTP, unique ID and the flash size
         .optionBase = 0x1FFFC000,
         .optionEnd = 0x1FFFC010,
         .ramReserved = 0x3000,
         .uniqueIdAddress = 0x1FFF7A10,
         .sectors = {16 * 1024, 16 * 1024, 16 * 1024, 16 * 1024, 64 * 1024, 128 * 1024},
         .writeUnit = 4,
         .cells = Stm32Model::Cells::Byte,
         .writeSecondsPerByte = 16e-6,
         .massEraseSeconds = 4.0},
        {.name = "stm32g071",
         .title =
             "STM32G071xB (PID 0x460, bootloader 3.1, 128 KB flash, 2 KB pages, 8-byte writes, Extended Erase, 8E1)",
         .pid = 0x460,
         .flashSize = 128 * 1024,
         .pageSize = 2048,
         .ramSize = 36 * 1024,
         .version = 0x31,
         .commands = v31,
         .flashSizeAddress = 0x1FFF75E0,
         .systemBase = 0x1FFF0000,
         .systemEnd = 0x1FFF7800, // system memory, OTP and engineering bytes
         .optionBase = 0x1FFF7800,
         .optionEnd = 0x1FFF7880,
         .ramReserved = 0x2700,
         .uniqueIdAddress = 0x1FFF7590,
         .writeUnit = 8,
         .cells = Stm32Model::Cells::DoubleWord,
         .writeSecondsPerByte = 85e-6 / 8,
         .pageEraseMin = 0.022,
         .pageEraseMax = 0.040},
        {.name = "stm32l431",
         .title =
             "STM32L431xC (PID 0x435, bootloader 3.1, 256 KB flash, 2 KB pages, 8-byte writes, Extended Erase, 8E1)",
         .pid = 0x435,
         .flashSize = 256 * 1024,
         .pageSize = 2048,
         .ramSize = 64 * 1024,
         .version = 0x31,
         .commands = v31,
         .flashSizeAddress = 0x1FFF75E0,
         .systemBase = 0x1FFF0000,
         .systemEnd = 0x1FFF7800,
         .optionBase = 0x1FFF7800,
         .optionEnd = 0x1FFF7810,
         .ramReserved = 0x3100,
         .uniqueIdAddress = 0x1FFF7590,
         .writeUnit = 8,
         .cells = Stm32Model::Cells::DoubleWord,
         .writeSecondsPerByte = 82e-6 / 8,
         .pageEraseMin = 0.022,
         .pageEraseMax = 0.025,
         .massEraseSeconds = 0.025},
    };
    return models;
}

const Stm32Model* findStm32Model(const std::string& name) {
    for (const auto& m : stm32Models())
        if (m.name == name) return &m;
    if (name == "stm32f103md") return &stm32Models()[0];
    if (name == "stm32f030x8") return &stm32Models()[2];
    return nullptr;
}

Stm32Chip::Stm32Chip(const Stm32Model& model, ChipOptions options)
    : SimChip(model.name, std::move(options), model.flashSize),
      model_(model),
      rdp_(model.readProtected),
      ram_(model.ramSize, 0x00),
      system_(model.systemEnd - model.systemBase, 0xFF) {
    // Bootloader code (a fixed pattern) with the device data in it: the flash
    // size in KB (little-endian) and, where the area goes on, the reserved
    // half-word after it (reads FF FF), and the 96-bit unique ID.  A read of
    // another family's flash size address finds code there, as on a chip.
    for (size_t i = 0; i < system_.size(); ++i) system_[i] = static_cast<uint8_t>((i * 37 + 11) & 0xFF);
    const size_t at = model_.flashSizeAddress - model_.systemBase;
    const size_t kb = model_.flashSize / 1024;
    system_[at] = static_cast<uint8_t>(kb & 0xFF);
    system_[at + 1] = static_cast<uint8_t>(kb >> 8);
    for (size_t i = at + 2; i < std::min(at + 4, system_.size()); ++i) system_[i] = 0xFF;
    if (model_.uniqueIdAddress) {
        const uint8_t uid[12] = {0x36, 0xFF, 0xD8, 0x05, 0x42, 0x4D, 0x30, 0x38, 0x27, 0x63, 0x21, 0x43};
        std::copy(uid, uid + 12, system_.begin() + (model_.uniqueIdAddress - model_.systemBase));
    }
    optionBytes_ = {0xA5, 0x5A, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00};
    optionBytes_.resize(model_.optionEnd - model_.optionBase, 0xFF);
    if (rdp_) optionBytes_[0] = 0x00, optionBytes_[1] = 0xFF;
    LineSettings s;
    s.baud = 115200;
    s.parity = 2;
    setUart(s);
}

void Stm32Chip::bootloaderStart(TimePoint now) {
    (void)now;
    state_ = bootPinHigh_ ? State::WaitInit : State::User;
    unit_.clear();
    exchange_.clear();
    need_ = 0;
    unitBad_ = false;
}

std::optional<LineSettings> Stm32Chip::receiverFor(const LineSettings& host) const {
    if (state_ == State::WaitInit) {
        // The bootloader measures the rate of the 7F it waits for.
        LineSettings s;
        s.baud = host.baud;
        s.parity = 2;
        return s;
    }
    return uart();
}

void Stm32Chip::boardLines(const ModemLines& before, const ModemLines& now, TimePoint at) {
    // DTR drives RESET (asserted = held in reset), RTS drives BOOT0.
    if (!before.dtr && now.dtr) powerOff(at);
    if (before.dtr && !now.dtr) {
        bootPinHigh_ = now.rts;
        powerOn(at);
    }
}

void Stm32Chip::expect(State s, size_t n) {
    state_ = s;
    need_ = n;
    unit_.clear();
    unitBad_ = false;
}

void Stm32Chip::ack(TimePoint at, double delay) {
    const Bytes b = {kAck};
    answer(b, delay, uart(), at);
}

void Stm32Chip::done(TimePoint at, bool accepted, const std::string& note) {
    record(at, exchange_, accepted, note);
    exchange_.clear();
}

void Stm32Chip::nack(TimePoint at, const std::string& why) {
    const Bytes b = {kNack};
    answer(b, 0.0, uart(), at);
    done(at, false, "NACK: " + why);
    expect(State::Command, 0);
}

void Stm32Chip::systemReset(TimePoint after) {
    (void)after;
    trace("system reset");
    state_ = bootPinHigh_ ? State::WaitInit : State::User;
    unit_.clear();
    need_ = 0;
}

bool Stm32Chip::offers(uint8_t code) const {
    return std::find(model_.commands.begin(), model_.commands.end(), code) != model_.commands.end();
}

size_t Stm32Chip::unitCount() const {
    return model_.sectors.empty() ? model_.flashSize / model_.pageSize : model_.sectors.size();
}

std::pair<size_t, size_t> Stm32Chip::unit(size_t u) const {
    if (model_.sectors.empty()) return {u * model_.pageSize, model_.pageSize};
    size_t off = 0;
    for (size_t i = 0; i < u; ++i) off += model_.sectors[i];
    return {off, model_.sectors[u]};
}

unsigned Stm32Chip::protectionGroup(size_t off) const {
    // F1/F0: one bit for 4 KB; sector chips: one bit a sector.
    if (model_.sectors.empty()) return static_cast<unsigned>(std::min<size_t>(off / 4096, 31));
    size_t u = 0;
    while (u + 1 < model_.sectors.size() && unit(u + 1).first <= off) ++u;
    return static_cast<unsigned>(std::min<size_t>(u, 31));
}

void Stm32Chip::eraseUnits(const std::vector<size_t>& units, TimePoint at) {
    const size_t count = unitCount();
    const char* what = model_.sectors.empty() ? "page" : "sector";
    for (size_t u : units)
        if (u >= count) return nack(at, std::string(what) + " " + std::to_string(u) + " does not exist");
    double seconds = 0;
    for (size_t u : units) {
        const auto [off, size] = unit(u);
        std::fill(flash_.begin() + static_cast<long>(off), flash_.begin() + static_cast<long>(off + size), 0xFF);
        if (!model_.sectors.empty())
            seconds += size <= 16 * 1024 ? 0.4 : size <= 64 * 1024 ? 1.2 : 2.0;
        else // from the fastest to the slowest page, in a fixed pattern
            seconds += model_.pageEraseMin +
                       (model_.pageEraseMax - model_.pageEraseMin) * static_cast<double>((u * 13) % 21) / 20;
    }
    ack(at, scaled(seconds));
    done(at, true, "erase of " + std::to_string(units.size()) + " " + what + "s");
    expect(State::Command, 0);
}

void Stm32Chip::massErase(TimePoint at, const std::string& note) {
    std::fill(flash_.begin(), flash_.end(), 0xFF);
    ack(at, scaled(model_.massEraseSeconds));
    done(at, true, note);
    expect(State::Command, 0);
}

std::optional<std::string> Stm32Chip::program(size_t off, const Bytes& data) {
    const size_t n = data.size();
    auto where = [&](size_t i) { return hex(static_cast<uint32_t>(kFlashBase + off + i), 8); };
    for (size_t i = 0; i < n; ++i)
        if (!((wrp_ >> protectionGroup(off + i)) & 1u)) return "flash at " + where(i) + " is write-protected";
    switch (model_.cells) {
    case Stm32Model::Cells::HalfWord:
        for (size_t i = 0; i < n; i += 2) {
            // A half-word that is not erased can only be cleared to 0000.
            const uint16_t was = static_cast<uint16_t>(flash_[off + i] | (flash_[off + i + 1] << 8));
            const uint16_t now = static_cast<uint16_t>(data[i] | (data[i + 1] << 8));
            if (was != 0xFFFF && now != 0x0000) return "flash at " + where(i) + " not erased (programming error)";
            flash_[off + i] = data[i];
            flash_[off + i + 1] = data[i + 1];
        }
        return std::nullopt;
    case Stm32Model::Cells::Byte:
        // Programming clears bits only: old AND new.
        for (size_t i = 0; i < n; ++i) flash_[off + i] &= data[i];
        return std::nullopt;
    case Stm32Model::Cells::DoubleWord:
        // A double word and its ECC are written once: one that is not
        // erased takes only zeros.
        for (size_t i = 0; i < n; i += 8) {
            const bool erased =
                std::all_of(flash_.begin() + static_cast<long>(off + i),
                            flash_.begin() + static_cast<long>(off + i + 8), [](uint8_t b) { return b == 0xFF; });
            const bool zeros = std::all_of(data.begin() + static_cast<long>(i), data.begin() + static_cast<long>(i + 8),
                                           [](uint8_t b) { return b == 0x00; });
            if (!erased && !zeros) return "double word at " + where(i) + " not erased (programming error)";
        }
        std::copy(data.begin(), data.end(), flash_.begin() + static_cast<long>(off));
        return std::nullopt;
    }
    return std::nullopt;
}

bool Stm32Chip::xorOk(const Bytes& b) {
    uint8_t x = 0;
    for (uint8_t v : b) x ^= v;
    return x == 0;
}

uint32_t Stm32Chip::address(const Bytes& b) {
    return (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
           (static_cast<uint32_t>(b[2]) << 8) | b[3];
}

bool Stm32Chip::readable(uint32_t addr, size_t n) const {
    const uint64_t end = static_cast<uint64_t>(addr) + n;
    auto in = [&](uint64_t base, uint64_t size) { return addr >= base && end <= base + size; };
    return in(kFlashBase, model_.flashSize) || in(model_.systemBase, model_.systemEnd - model_.systemBase) ||
           in(model_.optionBase, model_.optionEnd - model_.optionBase) || in(kRamBase, model_.ramSize);
}

uint8_t Stm32Chip::readByte(uint32_t addr) const {
    if (addr >= kFlashBase && addr < kFlashBase + model_.flashSize) return flash_[addr - kFlashBase];
    if (addr >= model_.systemBase && addr < model_.systemEnd) return system_[addr - model_.systemBase];
    if (addr >= model_.optionBase && addr < model_.optionEnd) return optionBytes_[addr - model_.optionBase];
    if (addr >= kRamBase && addr < kRamBase + model_.ramSize) return ram_[addr - kRamBase];
    return 0xFF;
}

void Stm32Chip::onChar(const UartChar& c, const LineSettings& host, TimePoint at) {
    if (state_ == State::User) return; // the user program runs
    if (state_ == State::WaitInit) {
        if (c.value != 0x7F || c.framingError) return;
        LineSettings s;
        s.baud = host.baud;
        s.parity = 2;
        setUart(s);
        exchange_ = {0x7F};
        const TimePoint acknowledged = answer({kAck}, 0.0, s, at);
        // The clock's drift from here on: the rate the bootloader set up
        // from the start byte is off by as much.
        if (options_.clockDrift != 0.0) {
            LineSettings drifted = s;
            drifted.baud = static_cast<uint32_t>(std::lround(s.baud * (1.0 + options_.clockDrift)));
            setUartAt(acknowledged, drifted);
        }
        done(at, true, "init at " + std::to_string(host.baud) + " baud");
        expect(State::Command, 0);
        return;
    }
    const bool bad = c.parityError || c.framingError;
    exchange_.push_back(c.value);
    if (state_ == State::Command) {
        if (c.value == 0x7F && !bad) return nack(at, "7F after init");
        unit_ = {c.value};
        unitBad_ = bad;
        state_ = State::Complement;
        need_ = 2;
        return;
    }
    unit_.push_back(c.value);
    unitBad_ = unitBad_ || bad;
    if (unit_.size() == 1) {
        // Units whose length follows from their first byte.
        if (state_ == State::WriteData) need_ = static_cast<size_t>(unit_[0]) + 3;
        if (state_ == State::EraseCount) need_ = unit_[0] == 0xFF ? 2 : static_cast<size_t>(unit_[0]) + 3;
        if (state_ == State::ProtectCount) need_ = static_cast<size_t>(unit_[0]) + 3;
    }
    if (unit_.size() == 2 && state_ == State::ExtendedEraseCount) {
        // Two-byte count: a special erase (FFFx) and its checksum, or N + 1
        // two-byte page numbers and the checksum.
        const size_t n = static_cast<size_t>(unit_[0]) << 8 | unit_[1];
        need_ = n >= 0xFFF0 ? 3 : 2 + 2 * (n + 1) + 1;
    }
    if (unit_.size() >= need_) unitComplete(at);
}

void Stm32Chip::command(uint8_t code, TimePoint at) {
    if (!offers(code)) return nack(at, "unknown command " + hex(code, 2));
    // A read-protected chip serves Get, Get Version, Get ID and Readout
    // Unprotect only.
    const bool needsAccess = code == 0x11 || code == 0x21 || code == 0x31 || code == 0x43 || code == 0x44 ||
                             code == 0x63 || code == 0x73 || code == 0x82;
    if (needsAccess && rdp_) return nack(at, "readout protection is active");
    switch (code) {
    case 0x00: {
        Bytes r;
        r.reserve(model_.commands.size() + 4);
        r.push_back(kAck);
        r.push_back(static_cast<uint8_t>(model_.commands.size()));
        r.push_back(model_.version);
        for (uint8_t c : model_.commands) r.push_back(c);
        r.push_back(kAck);
        answer(r, 0.0, uart(), at);
        done(at, true, "Get");
        return expect(State::Command, 0);
    }
    case 0x01:
        answer({kAck, model_.version, 0x00, 0x00, kAck}, 0.0, uart(), at);
        done(at, true, "Get Version");
        return expect(State::Command, 0);
    case 0x02:
        answer({kAck, 0x01, static_cast<uint8_t>(model_.pid >> 8), static_cast<uint8_t>(model_.pid & 0xFF), kAck}, 0.0,
               uart(), at);
        done(at, true, "Get ID");
        return expect(State::Command, 0);
    case 0x11:
        ack(at);
        return expect(State::ReadAddress, 5);
    case 0x21:
        ack(at);
        return expect(State::GoAddress, 5);
    case 0x31:
        ack(at);
        return expect(State::WriteAddress, 5);
    case 0x43:
        ack(at);
        return expect(State::EraseCount, 1);
    case 0x44:
        ack(at);
        return expect(State::ExtendedEraseCount, 2);
    case 0x63:
        ack(at);
        return expect(State::ProtectCount, 1);
    case 0x73: // Write Unprotect: option bytes rewritten, then a reset
        wrp_ = 0xFFFFFFFF;
        for (int i = 0; i < 4; ++i) optionBytes_[8 + 2 * i] = 0xFF, optionBytes_[9 + 2 * i] = 0x00;
        answer({kAck, kAck}, scaled(0.03), uart(), at);
        done(at, true, "Write Unprotect");
        return systemReset(at);
    case 0x82: // Readout Protect
        rdp_ = true;
        optionBytes_[0] = 0x00, optionBytes_[1] = 0xFF;
        answer({kAck, kAck}, scaled(0.03), uart(), at);
        done(at, true, "Readout Protect");
        return systemReset(at);
    case 0x92: // Readout Unprotect: mass erase, protection off, reset
        std::fill(flash_.begin(), flash_.end(), 0xFF);
        rdp_ = false;
        optionBytes_[0] = 0xA5, optionBytes_[1] = 0x5A;
        answer({kAck}, 0.0, uart(), at);
        answer({kAck}, scaled(model_.massEraseSeconds), uart(), at);
        done(at, true, "Readout Unprotect (flash erased)");
        return systemReset(at);
    default:
        return nack(at, "unknown command " + hex(code, 2));
    }
}

void Stm32Chip::unitComplete(TimePoint at) {
    const Bytes u = unit_;
    const bool bad = unitBad_;
    switch (state_) {
    case State::Complement:
        if (bad || (u[0] ^ u[1]) != 0xFF)
            return nack(at, "command " + hex(u[0], 2) + " with complement " + hex(u[1], 2) +
                                (bad ? " (parity or framing error)" : ""));
        if (!frameAllowed()) {
            done(at, true, "no answer (fault silent-after)");
            return expect(State::Command, 0);
        }
        return command(u[0], at);
    case State::ReadAddress:
    case State::GoAddress:
    case State::WriteAddress: {
        if (bad || !xorOk(u)) return nack(at, "address " + hexBytes(u) + ": checksum");
        addr_ = address(u);
        if (state_ == State::ReadAddress) {
            if (!readable(addr_, 1)) return nack(at, "address " + hex(addr_, 8) + " cannot be read");
            ack(at);
            return expect(State::ReadCount, 2);
        }
        if (state_ == State::GoAddress) {
            const bool inFlash = addr_ >= kFlashBase && addr_ < kFlashBase + model_.flashSize;
            const bool inRam = addr_ >= kRamBase && addr_ < kRamBase + model_.ramSize;
            if (!inFlash && !inRam) return nack(at, "Go to " + hex(addr_, 8) + ": no code there");
            ack(at);
            done(at, true, "Go " + hex(addr_, 8) + ": the user program runs");
            state_ = State::User;
            return;
        }
        const bool inFlash = addr_ >= kFlashBase && addr_ < kFlashBase + model_.flashSize;
        const bool inRam = addr_ >= kRamBase + model_.ramReserved && addr_ < kRamBase + model_.ramSize;
        if (!inFlash && !inRam) return nack(at, "address " + hex(addr_, 8) + " cannot be written");
        if (inFlash && addr_ % model_.writeUnit != 0)
            return nack(at, "flash address " + hex(addr_, 8) + " not aligned to the " +
                                std::to_string(model_.writeUnit) + "-byte write unit");
        ack(at);
        return expect(State::WriteData, 1);
    }
    case State::ReadCount: {
        if (bad || (u[0] ^ u[1]) != 0xFF) return nack(at, "read count " + hexBytes(u) + ": complement");
        const size_t n = static_cast<size_t>(u[0]) + 1;
        if (!readable(addr_, n)) return nack(at, "read of " + std::to_string(n) + " bytes at " + hex(addr_, 8) +
                                                     " crosses the end of the memory area");
        Bytes r = {kAck};
        for (size_t i = 0; i < n; ++i) r.push_back(readByte(addr_ + static_cast<uint32_t>(i)));
        answer(r, 0.0, uart(), at);
        done(at, true, "Read " + std::to_string(n) + " bytes at " + hex(addr_, 8));
        return expect(State::Command, 0);
    }
    case State::WriteData: {
        const size_t n = static_cast<size_t>(u[0]) + 1;
        if (bad || !xorOk(u)) return nack(at, "write data: checksum");
        const bool inFlash = addr_ >= kFlashBase && addr_ < kFlashBase + model_.flashSize;
        const uint64_t end = static_cast<uint64_t>(addr_) + n;
        if (inFlash && end > kFlashBase + model_.flashSize) return nack(at, "write beyond the end of the flash");
        if (!inFlash && end > kRamBase + model_.ramSize) return nack(at, "write beyond the end of the RAM");
        if (inFlash && n % model_.writeUnit != 0)
            return nack(at, "flash write of " + std::to_string(n) + " bytes, not a multiple of the " +
                                std::to_string(model_.writeUnit) + "-byte write unit");
        const BlockFault fault = blockArrived(at);
        if (fault == BlockFault::HangUp) {
            done(at, true, "hang-up (fault hangup-block)");
            return;
        }
        if (fault == BlockFault::Refuse) return nack(at, "write refused (fault nack-block)");
        if (!inFlash) {
            std::copy(u.begin() + 1, u.begin() + 1 + static_cast<long>(n), ram_.begin() + (addr_ - kRamBase));
            ack(at);
            done(at, true, "Write " + std::to_string(n) + " bytes to RAM at " + hex(addr_, 8));
            return expect(State::Command, 0);
        }
        const size_t off = addr_ - kFlashBase;
        if (const auto refused = program(off, Bytes(u.begin() + 1, u.begin() + 1 + static_cast<long>(n))))
            return nack(at, *refused);
        // Fault bad-word: one word of the run is stored with a bit wrong, and
        // acknowledged all the same.
        for (size_t w = 0; w < n / 4; ++w) {
            if (++runWords_ != options_.faults.badWord || badWordDone_) continue;
            badWordDone_ = true;
            flash_[off + 4 * w] ^= 0x01;
            trace("fault: the word at " + hex(static_cast<uint32_t>(kFlashBase + off + 4 * w), 8) + " stored wrongly");
        }
        ack(at, scaled(static_cast<double>(n) * model_.writeSecondsPerByte));
        done(at, true, "Write " + std::to_string(n) + " bytes to flash at " + hex(addr_, 8));
        return expect(State::Command, 0);
    }
    case State::EraseCount: {
        if (u[0] == 0xFF) {
            if (bad || u[1] != 0x00) return nack(at, "global erase FF followed by " + hex(u[1], 2) + ", expected 00");
            return massErase(at, "global erase");
        }
        if (bad || !xorOk(u)) return nack(at, "erase page list: checksum");
        return eraseUnits(std::vector<size_t>(u.begin() + 1, u.end() - 1), at);
    }
    case State::ExtendedEraseCount: {
        if (bad || !xorOk(u)) return nack(at, "extended erase list: checksum");
        const size_t n = static_cast<size_t>(u[0]) << 8 | u[1];
        if (n == 0xFFFF) return massErase(at, "mass erase");
        if (n >= 0xFFF0) return nack(at, "special erase " + hex(static_cast<uint32_t>(n), 4) + ": this chip has one bank");
        std::vector<size_t> pages;
        for (size_t i = 2; i + 1 < u.size(); i += 2) pages.push_back(static_cast<size_t>(u[i]) << 8 | u[i + 1]);
        return eraseUnits(pages, at);
    }
    case State::ProtectCount: {
        if (bad || !xorOk(u)) return nack(at, "write protect list: checksum");
        for (size_t i = 1; i + 1 < u.size(); ++i) wrp_ &= ~(1u << std::min<unsigned>(u[i], 31));
        for (int i = 0; i < 4; ++i) {
            optionBytes_[8 + 2 * i] = static_cast<uint8_t>(wrp_ >> (8 * i));
            optionBytes_[9 + 2 * i] = static_cast<uint8_t>(~optionBytes_[8 + 2 * i]);
        }
        ack(at, scaled(0.03));
        done(at, true, "Write Protect");
        return systemReset(at);
    }
    default:
        return expect(State::Command, 0);
    }
}

} // namespace talvo::sim
