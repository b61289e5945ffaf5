// Real chips' conversations replayed against TALVO's download: for each
// capture, the download runs with the capture's choices (rates, target
// frequency, programming speed) in virtual time against a scripted chip that
// answers with the captured chip frames in order, and every frame TALVO sends
// must equal the captured host frame byte for byte, except the bytes the facts
// leave to the host (named below, with the reason).
//
// The scripted chip wraps the simulator that stands for the captured part:
// the simulator keeps the session's state (rates, flash) and its answers fill
// what the capture lacks.  A captured answer replaces the simulator's when it
// is the next step of the script (across a gap: when its type byte is the
// simulator's).  Its bytes that depend on the question (calibration counts,
// echoed trims: marked as chosen) are the capture's when TALVO asked exactly
// the captured question, and the simulator's otherwise -- the simulator's
// oscillator is built on the captured counts, so it answers for the trims
// TALVO chose.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "common/QtPrinters.h"
#include "protocol/CMcuType.h"
#include "protocol/StcCaptures.h"
#include "sim/Simulators.h"
#include "sim/StcModernChip.h"
#include "sim/VirtualHost.h"

using namespace talvo;
using namespace talvo::protocol;
using captures::Capture;
using captures::Mark;
using captures::Step;

namespace {

std::string hex(const captures::Bytes& b) { return sim::hexBytes(b); }

class ScriptedChip : public WirePeer, private WireLink {
public:
    // `gapFrames`: how many host frames the gap on a line holds, where the
    // capture says; elsewhere a gap holds the frames up to the next one of
    // the captured frame's type.
    ScriptedChip(sim::SimChip& inner, const Capture& capture, std::map<int, int> gapFrames)
        : inner_(inner), c_(capture), gapFrames_(std::move(gapFrames)) {}

    // ---- What happened ----------------------------------------------------------
    struct Match {
        const Step* step;
        captures::Bytes sent;
    };
    std::vector<Match> matched;           // TALVO's frames and the captured frames they stand for
    std::vector<uint8_t> hostInGaps;      // types of TALVO's frames that fell into a gap of the capture
    std::vector<uint8_t> simulatorAnswers; // types of the answers the simulator gave (the capture has none there)
    int capturedAnswers = 0;
    std::vector<std::string> problems;

    // Aligns the host frames that have no answer (the last ones).
    void finish() { alignHostFrames(); }
    // Whether the script was played to its end (gaps aside).
    bool played() const {
        for (size_t i = pos_; i < c_.steps.size(); ++i)
            if (c_.steps[i].kind != Step::Kind::Gap && c_.steps[i].kind != Step::Kind::Pulses) return false;
        return true;
    }

    // ---- WirePeer: the host's side goes to the simulator ----------------------
    void attach(WireLink* link) override {
        outer_ = link;
        inner_.attach(this);
    }
    void onHostByte(uint8_t byte, const LineSettings& host, WireClock::time_point at) override {
        inner_.onHostByte(byte, host, at);
    }
    void onModemLines(const ModemLines& lines, WireClock::time_point at) override { inner_.onModemLines(lines, at); }
    void onHostOpen(bool open, WireClock::time_point at) override { inner_.onHostOpen(open, at); }
    void onTimer(WireClock::time_point now) override { inner_.onTimer(now); }
    std::optional<WireClock::time_point> nextWake() const override { return inner_.nextWake(); }

private:
    // ---- WireLink: the simulator's answers, replaced by the script's ----------
    void sendToHost(const uint8_t* data, size_t n, const LineSettings& peer, WireClock::time_point notBefore) override {
        alignHostFrames();
        const captures::Bytes answer = scripted(captures::Bytes(data, data + n));
        outer_->sendToHost(answer.data(), answer.size(), peer, notBefore);
    }
    WireClock::time_point now() const override { return outer_->now(); }
    bool paced() const override { return outer_->paced(); }
    void hangUp() override { outer_->hangUp(); }

    static uint8_t typeOf(const captures::Bytes& frame) { return frame.size() > 5 ? frame[5] : 0; }

    // Skips pulses and gaps (noting a gap); the step at pos_ or null at the end.
    const Step* next() {
        for (; pos_ < c_.steps.size(); ++pos_) {
            const Step& s = c_.steps[pos_];
            if (s.kind == Step::Kind::Gap) {
                gap_ = true;
                const auto it = gapFrames_.find(s.line);
                budget_ = it == gapFrames_.end() ? -1 : it->second;
            } else if (s.kind != Step::Kind::Pulses)
                return &s;
        }
        return nullptr;
    }

    void alignHostFrames() {
        const auto& frames = inner_.frames();
        for (; seen_ < frames.size(); ++seen_) {
            const captures::Bytes& h = frames[seen_].bytes;
            const Step* s = next();
            const bool absorbed = gap_ && budget_ > 0;
            if (absorbed) --budget_;
            const bool byType = gap_ && budget_ < 0;
            const bool fits = !absorbed && s && s->host && (!byType || s->payload()[0] == typeOf(h));
            if (fits) {
                matched.push_back({s, h});
                lastRequest_ = s;
                lastSent_ = h;
                ++pos_;
                gap_ = false;
            } else if (absorbed || byType) {
                hostInGaps.push_back(typeOf(h));
                lastRequest_ = nullptr;
            } else {
                problems.push_back("TALVO sent " + hex(h) + " where the capture has " +
                                   (s ? "line " + std::to_string(s->line) : std::string("nothing more")));
                lastRequest_ = nullptr;
            }
        }
    }

    captures::Bytes scripted(const captures::Bytes& simulated) {
        const Step* s = next();
        if (!s || s->host || (gap_ && (budget_ >= 0 || s->payload()[0] != typeOf(simulated)))) {
            if (!gap_)
                problems.push_back("the simulator answered " + hex(simulated) + " where the capture has no answer");
            simulatorAnswers.push_back(typeOf(simulated));
            return simulated;
        }
        ++pos_;
        gap_ = false;
        ++capturedAnswers;
        if (s->kind == Step::Kind::Frame) return s->bytes;
        // The question TALVO asked is the captured one (its unknown bytes aside).
        bool sameQuestion = false;
        if (lastRequest_) {
            std::vector<Mark> marks;
            const captures::Bytes q = lastRequest_->frame(&marks);
            sameQuestion = q.size() == lastSent_.size();
            for (size_t i = 5; sameQuestion && i + 3 < q.size(); ++i)
                sameQuestion = marks[i] == Mark::Unknown || q[i] == lastSent_[i];
        }
        Step answer = *s;
        const size_t simPayload = simulated.size() >= 8 ? simulated.size() - 8 : 0;
        for (size_t i = 0; i < answer.bytes.size(); ++i) {
            const bool fromSimulator = answer.marks[i] == Mark::Unknown || (answer.marks[i] == Mark::Chosen && !sameQuestion);
            if (fromSimulator && i < simPayload) answer.bytes[i] = simulated[5 + i];
        }
        for (Mark& m : answer.marks) m = Mark::Fixed;
        return answer.frame();
    }

    sim::SimChip& inner_;
    const Capture& c_;
    WireLink* outer_ = nullptr;
    size_t seen_ = 0;
    size_t pos_ = 0;
    std::map<int, int> gapFrames_;
    bool gap_ = false;
    int budget_ = -1; // host frames the open gap still holds (-1: up to the captured frame's type)
    const Step* lastRequest_ = nullptr;
    captures::Bytes lastSent_;
};

// Bytes of the captured host frames another host may send otherwise: the
// payload offsets per command byte, and why.
struct Chosen {
    uint8_t command;
    std::set<size_t> offsets;
    const char* why;
};

struct Replay {
    const char* file;
    const char* simulator;  // the part, as the capture names it or the stand-in named here
    double userMHz;         // 0: the capture's choice
    // The types of TALVO's frames that fall into the capture's gaps (the
    // image is 300 bytes where the capture does not say: 64- or 128-byte
    // blocks), and of the answers the simulator gives there.
    const char* hostInGaps;
    const char* simulatorAnswers;
    bool success;
    std::vector<Chosen> chosen;
    std::map<int, int> gapFrames{}; // gap line -> the host frames it holds, where the capture says
};

QByteArray replayImage(const Capture& c) {
    const int n = static_cast<int>(c.number("image-bytes", 300));
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i) b[i] = static_cast<char>(i * 37 + 11);
    if (c.file == "stc15f104e.capture") {
        // The program's bytes are not captured, only its blocks' sums (8E, 75):
        // the image's first byte of each block makes them.
        const uint8_t sums[] = {0x8E, 0x75};
        for (int block = 0; block < 2; ++block) {
            uint8_t sum = 0;
            for (int i = block * 64 + 1; i < std::min(n, block * 64 + 64); ++i) sum += static_cast<uint8_t>(b[i]);
            b[block * 64] = static_cast<char>(sums[block] - sum);
        }
    }
    return b;
}

std::string types(const std::vector<uint8_t>& t) { return sim::hexBytes(t); }

} // namespace

TEST(StcReplay, EveryCaptureAgainstTalvosDownload) {
    const std::set<size_t> stc15aRound2 = {13, 17, 21, 25, 29, 33, 37, 41, 45, 49, 53};
    const std::set<size_t> stc15Round = {2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24};
    std::set<size_t> stc8Round2;
    for (size_t i = 2; i < 26; ++i) stc8Round2.insert(i);
    const std::vector<Replay> rows = {
        {"stc15f104e.capture", "stc15f104e", 0, "", "", true,
         {{0x65, stc15aRound2, "the second round's trims start at the host's target count (the tool's ~666, 672 by 7 f / 12 B)"},
          {0x8E, {1, 2}, "the programming trim follows the chip's counts"},
          {0x8E, {7}, "12 from the maker's tool, 00 from the open host"},
          {0x8D, {2, 3}, "MCS1, MCS2 as the tool's user chose them (TALVO keeps the chip's)"},
          {0x8D, {4, 5}, "MCS3-MCS4: the user trim the counts gave"}}},
        // The second round is not captured: its gap holds TALVO's second round,
        // whose trims (from the first round's counts) all lie above the target,
        // as the tool's did; TALVO's third meets the tool's third.
        {"iap15f2k61s2.capture", "iap15f2k61s2", 0, "00", "00", true,
         {{0x00, stc15Round, "the second round's trims follow the first round's counts"},
          {0x01, {1}, "the programming trim follows the chip's counts"},
          {0x01, {3, 4}, "the reload follows the measured programming clock (the open host: the nominal one)"},
          {0x01, {5, 6}, "meaning unknown: the tool's 80 72, the open host's user trim"},
          {0x04, {6, 9, 25, 35}, "block bytes 3, 6, 22, 32: 00 00 00 03 from the tool, FF from the open host"},
          {0x04, {26, 28, 30, 32}, "the stored frequency follows the chip's count"},
          {0x04, {62, 63}, "the user trim the counts gave"}},
         {{22, 1}}},
        // The status and the calibration are not captured: the simulator of this
        // part answers them; the user frequency is TALVO's choice.
        {"stc15l104w.capture", "stc15l104w", 11.0592, "00 00 05 03 22 02 02 02 02 04 82",
         "50 00 00 05 03 02 02 02 02 02 04", true,
         {{0x01, {1}, "the programming trim follows the chip's counts"},
          {0x01, {3, 4, 5, 6}, "R1 and R2 follow the measured programming clock"},
          {0x01, {7}, "the flash-wait byte: 83 from this tool, 81 for 22.1184 MHz by the facts"}}},
        {"stc15w4k56s4.capture", "stc15w4k56s4", 11.0592, "00 00 05 03 22 02 02 07 04 82", "00 00 05 02 02 02 07 04", true,
         {{0x01, {1}, "the programming trim follows the chip's counts"},
          {0x01, {3, 4}, "the reload follows the measured programming clock"},
          {0x01, {5, 6}, "meaning unknown: the tool's 80 73, the open host's user trim"}}},
        {"stc8a8k64s4a12.capture", "stc8a8k64s4a12", 0, "05 03 22 02 02 02 02 07 04 FF", "05 02 02 02 02 02 07 04", true,
         {{0x00, {1, 4}, "the maker's tool measured two trims first (TALVO too: the open host measures twelve)"},
          {0x00, stc8Round2, "the second round's trims follow the first round's counts"},
          {0x01, {5, 6}, "the tool's 01 + the lowest T of its round, the open host's F and T"}}},
        {"stc8a8k64s4a12-options.capture", "stc8a8k64s4a12", 0, "00 00 01 05 03 22 02 02 02 02 07",
         "50 00 00 01 05 03 02 02 02 02 02 07", true,
         {{0x04, {29, 30, 31, 32}, "the stored frequency follows the chip's count"},
          {0x04, {33, 34}, "the user trim the counts gave"}}},
        // A chip that was never trimmed, and no frequency given: TALVO trims
        // it to the common frequency nearest the clock it runs on now (the
        // simulator's untrimmed STC8 fills the status's uncaptured tail and
        // answers everything after it).
        {"stc8f2k08s2-untrimmed.capture", "stc8a8k64s4a12,untrimmed", 0, "00 00 01 05 03 22 02 02 02 02 07 04 FF",
         "00 00 01 05 03 02 02 02 02 02 07 04", true, {}},
    };
    int replayed = 0;
    for (const Replay& row : rows) {
        SCOPED_TRACE(row.file);
        const Capture c = captures::captureNamed(row.file);
        ASSERT_EQ(c.error, "");
        if (!c.model.empty()) {
            EXPECT_EQ(c.model, row.simulator);
        }
        // Every byte the capture marks as chosen is named above.
        std::map<uint8_t, std::set<size_t>> named, marked;
        for (const Chosen& ch : row.chosen) named[ch.command].insert(ch.offsets.begin(), ch.offsets.end());
        for (const Step& s : c.steps) {
            if (!s.host || s.kind == Step::Kind::Pulses) continue;
            const auto marks = s.payloadMarks();
            for (size_t i = 0; i < marks.size(); ++i)
                if (marks[i] == Mark::Chosen) marked[s.payload()[0]].insert(i);
        }
        EXPECT_EQ(named, marked);

        std::string error;
        auto chip = sim::makeChip(std::string(row.simulator) + ",jitter=off", &error);
        ASSERT_TRUE(chip) << error;
        ScriptedChip scripted(*chip, c, row.gapFrames);
        sim::VirtualHost host(scripted);
        StcOptions o;
        o.chipType = c.family == "stc8" ? 6 : 5;
        o.image = replayImage(c);
        o.userHz = (row.userMHz > 0 ? row.userMHz : c.number("user-mhz")) * 1e6;
        o.handshakeBaud = static_cast<int>(c.number("handshake-baud"));
        o.transferBaud = static_cast<uint32_t>(c.number("transfer-baud"));
        if (c.choices.count("program-speed")) o.stc15aHighSpeed = c.choices.at("program-speed") == "high";
        const DownloadReport report = CMcuType(host, o).RunStcDownload();
        scripted.finish();
        const std::string log = host.log.join('\n').toStdString();
        EXPECT_EQ(report.success, row.success) << log;
        if (!row.success) {
            EXPECT_TRUE(host.log.last().contains(QStringLiteral("--freq MHZ"))) << log;
        }
        EXPECT_TRUE(scripted.played()) << log;
        EXPECT_EQ(scripted.problems, std::vector<std::string>{}) << log;
        EXPECT_EQ(types(scripted.hostInGaps), row.hostInGaps);
        EXPECT_EQ(types(scripted.simulatorAnswers), row.simulatorAnswers);
        EXPECT_TRUE(chip->rejectedFrames().empty()) << chip->rejectedFrames().front().note;
        // The frames: every fixed byte as captured.
        int compared = 0;
        for (const auto& m : scripted.matched) {
            std::vector<Mark> marks;
            const captures::Bytes want = m.step->frame(&marks);
            const std::string where = "line " + std::to_string(m.step->line);
            ASSERT_EQ(m.sent.size(), want.size()) << where << ": TALVO sent " << hex(m.sent);
            for (size_t i = 0; i < want.size(); ++i)
                if (marks[i] == Mark::Fixed) {
                    EXPECT_EQ(m.sent[i], want[i]) << where << ", frame byte " << i << " (payload " << int(i) - 5
                                                  << "): TALVO sent " << hex(m.sent);
                }
            ++compared;
        }
        size_t capturedHostFrames = 0;
        for (const Step& s : c.steps) capturedHostFrames += s.host && s.kind != Step::Kind::Pulses;
        EXPECT_EQ(compared, static_cast<int>(capturedHostFrames));
        ++replayed;
    }
    EXPECT_EQ(replayed, static_cast<int>(captures::allCaptures().size()));
}
