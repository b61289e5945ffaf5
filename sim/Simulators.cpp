#include "sim/Simulators.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "platform/SimRegistry.h"
#include "sim/LoopbackChip.h"
#include "sim/StcChip.h"
#include "sim/StcModernChip.h"
#include "sim/Stm32Chip.h"

namespace talvo::sim {

std::vector<ChipListEntry> chipList() {
    std::vector<ChipListEntry> list;
    for (const auto& m : stcModels()) list.push_back({m.name, m.title});
    for (const auto& m : stcModernModels()) list.push_back({m.name, m.title});
    for (const auto& m : stm32Models()) list.push_back({m.name, m.title});
    list.push_back({"loopback", "loopback plug: every byte comes straight back"});
    return list;
}

namespace {

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    while (true) {
        const size_t end = s.find(sep, start);
        out.push_back(s.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return out;
}

} // namespace

bool parseChipOptions(const std::vector<std::string>& items, ChipOptions* options, std::string* error) {
    ChipOptions o = *options;
    for (std::string item : items) {
        if (item.empty()) continue;
        if (item.rfind("faults=", 0) == 0) item = item.substr(7);
        if (item.empty()) continue;
        const auto eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
        auto bad = [&](const std::string& expect) {
            if (error) *error = "option '" + item + "': " + expect;
            return false;
        };
        double d = 0;
        if (key == "freq") {
            if (!parseNumber(value, 0.5, 100.0, &d)) return bad("expects a crystal frequency in MHz (0.5 to 100)");
            o.freqMHz = d;
            o.freqSet = true;
        } else if (key == "rc") {
            if (!parseNumber(value, -20.0, 20.0, &d)) return bad("expects the RC oscillator's offset in percent (-20 to 20)");
            o.rcOffset = d / 100.0;
        } else if (key == "untrimmed" || key == "locked") {
            if (!value.empty()) return bad("takes no value");
            (key == "untrimmed" ? o.untrimmed : o.locked) = true;
        } else if (key == "clock") {
            if (value != "6" && value != "12") return bad("expects 6 or 12 (clocks per machine cycle)");
            o.clockMode = value == "6" ? 6 : 12;
        } else if (key == "scale") {
            if (!parseNumber(value, 0.0, 100.0, &d)) return bad("expects a time scale from 0 to 100");
            o.timeScale = d;
        } else if (key == "tolerance") {
            if (!parseNumber(value, 0.0, 50.0, &d)) return bad("expects a UART tolerance in percent (0 to 50)");
            o.tolerance = d / 100.0;
        } else if (key == "drift") {
            if (!parseNumber(value, -20.0, 20.0, &d)) return bad("expects the clock's drift in percent (-20 to 20)");
            o.clockDrift = d / 100.0;
        } else if (key == "idle") {
            if (!parseNumber(value, 0.0, 3600.0, &d)) return bad("expects seconds (0 turns the idle restart off)");
            o.idleRestart = d;
        } else if (key == "reopen") {
            if (!parseNumber(value, 0.0, 60.0, &d)) return bad("expects seconds from 0 to 60 (0: every close switches the chip off)");
            o.reopenGrace = d;
        } else if (key == "dump") {
            if (value.empty()) return bad("expects a file name for the flash image");
            o.dumpPath = value;
        } else if (key == "load") {
            // FILE, or FILE@ADDR with ADDR in decimal or 0x-prefixed hexadecimal.
            ChipOptions::Preload p;
            const auto at = value.rfind('@');
            p.path = value.substr(0, at);
            if (at != std::string::npos) {
                const std::string a = value.substr(at + 1);
                char* end = nullptr;
                errno = 0;
                const unsigned long long v = std::strtoull(a.c_str(), &end, 0);
                if (a.empty() || !std::isdigit(static_cast<unsigned char>(a[0])) || errno != 0 || *end != '\0' ||
                    v > 0xFFFFFFFFull)
                    return bad("expects FILE or FILE@ADDR, ADDR a 32-bit address (0x08004000 or 134234112)");
                p.address = v;
            }
            if (p.path.empty()) return bad("expects a file name (FILE or FILE@ADDR)");
            o.preloads.push_back(p);
        } else if (key == "switchfloor") {
            if (!parseNumber(value, 0.0, 10.0, &d)) return bad("expects seconds from 0 to 10");
            o.minSwitchDelay = d;
        } else if (key == "jitter") {
            if (value == "on") {
                o.jitter = ChipOptions::Jitter::Seeded;
            } else if (value == "off") {
                o.jitter = ChipOptions::Jitter::Off;
            } else {
                const auto parts = split(value, ':');
                if (parts.size() != 8) return bad("expects on, off or eight offsets A:B:C:D:E:F:G:H");
                o.jitterPattern.clear();
                for (const auto& p : parts) {
                    if (!parseNumber(p, -1000, 1000, &d) || d != static_cast<int>(d)) return bad("offsets are integers");
                    o.jitterPattern.push_back(static_cast<int>(d));
                }
                o.jitter = ChipOptions::Jitter::Pattern;
            }
        } else {
            std::string ferr;
            if (!o.faults.parseItem(item, &ferr)) {
                if (error)
                    *error = ferr.rfind("unknown fault", 0) == 0
                                 ? "unknown option '" + item +
                                       "' (options: freq, clock, scale, tolerance, drift, jitter, idle, reopen, "
                                       "switchfloor, dump, load, rc, untrimmed, locked, rdp; " +
                                       ferr.substr(8) + ")"
                                 : ferr;
                return false;
            }
        }
    }
    *options = o;
    return true;
}

namespace {

// What a selector names, read without making the chip (whose end would write
// a requested dump).
struct Selected {
    const StcModel* stc = nullptr;
    const StcModernModel* modern = nullptr;
    const Stm32Model* stm32 = nullptr; // none: the loopback plug
    ChipOptions options;
    bool readProtected = false; // rdp: an STM32 with readout protection on
};

bool select(const std::string& selector, Selected* out, std::string* error) {
    // "sim:CHIP..." as the serial layer's port names write it is taken too.
    auto items = split(selector.rfind("sim:", 0) == 0 ? selector.substr(4) : selector, ',');
    std::string name = items.front();
    for (auto& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    items.erase(items.begin());
    Selected s;
    // rdp: the chip starts read-protected (STM32 only).
    const auto rdp = std::remove_if(items.begin(), items.end(), [](const std::string& i) { return i == "rdp"; });
    s.readProtected = rdp != items.end();
    items.erase(rdp, items.end());
    if (!parseChipOptions(items, &s.options, error)) return false;
    s.stc = findStcModel(name);
    s.modern = findStcModernModel(name);
    s.stm32 = findStm32Model(name);
    if (!s.stc && !s.modern && !s.stm32 && name != "loopback") {
        if (error) {
            std::string known;
            for (const auto& e : chipList()) known += (known.empty() ? "" : ", ") + e.name;
            *error = "no simulator named '" + name + "' (known: " + known + ")";
        }
        return false;
    }
    if (s.readProtected && !s.stm32) {
        if (error) *error = "option 'rdp' (readout protection) applies to the STM32 simulators only";
        return false;
    }
    if (s.options.clockMode == 6 && (s.modern || (s.stc && !s.stc->sixClockCapable))) {
        if (error) *error = name + " has no 6-clock mode";
        return false;
    }
    *out = std::move(s);
    return true;
}

} // namespace

bool checkSelector(const std::string& selector, std::string* error) {
    Selected s;
    return select(selector, &s, error);
}

std::unique_ptr<SimChip> makeChip(const std::string& selector, std::string* error) {
    Selected s;
    if (!select(selector, &s, error)) return nullptr;
    std::unique_ptr<SimChip> chip;
    if (s.stc)
        chip = std::make_unique<StcChip>(*s.stc, s.options);
    else if (s.modern)
        chip = std::make_unique<StcModernChip>(*s.modern, s.options);
    else if (s.stm32) {
        Stm32Model model = *s.stm32;
        model.readProtected = model.readProtected || s.readProtected;
        chip = std::make_unique<Stm32Chip>(model, s.options);
    } else
        chip = std::make_unique<LoopbackChip>(s.options);
    return chip->preload(error) ? std::move(chip) : nullptr;
}

void registerSimulators() {
    setSimPeerFactory([](const QString& selector, QString* error) -> std::unique_ptr<WirePeer> {
        std::string err;
        auto chip = makeChip(selector.toStdString(), &err);
        if (!chip && error) *error = QString::fromStdString(err);
        return chip;
    });
}

} // namespace talvo::sim
