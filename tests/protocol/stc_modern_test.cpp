// The newer STC families' pure pieces: status frames, answers, the RC trim
// and transfer-rate arithmetic and the family of a model code, over the
// captures of real chips and over the model table.
#include <gtest/gtest.h>

#include <QSet>

#include <cmath>

#include "common/QtPrinters.h"
#include "protocol/StcCaptures.h"
#include "protocol/StcModels.h"
#include "protocol/StcModernAnswers.h"
#include "protocol/StcModernStatus.h"
#include "protocol/StcTransferRate.h"
#include "protocol/StcTrim.h"

using namespace talvo;
using namespace talvo::protocol;
using captures::Capture;
using captures::Mark;
using captures::Step;

namespace {

QByteArray qbytes(const captures::Bytes& b) { return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<qsizetype>(b.size())); }

StcModernFamily familyOf(const Capture& c) { return *StcModernFamilyFromKey(QString::fromStdString(c.family)); }

// The step a host request starts, by its command byte.
std::optional<StcModernStep> stepOf(StcModernFamily f, uint8_t command) {
    if (f == StcModernFamily::Stc15a) {
        switch (command) {
        case 0x50: return StcModernStep::Handshake;
        case 0x65: return StcModernStep::Calibration;
        case 0x8E: return StcModernStep::Switch;
        case 0x84: return StcModernStep::Erase;
        case 0x00: return StcModernStep::Write;
        case 0x69: return StcModernStep::Finish;
        case 0x8D: return StcModernStep::Options;
        default: return std::nullopt;
        }
    }
    switch (command) {
    case 0x00: return StcModernStep::Calibration;
    case 0x01: return StcModernStep::Switch;
    case 0x05: return StcModernStep::Prepare;
    case 0x03: return StcModernStep::Erase;
    case 0x22:
    case 0x02: return StcModernStep::Write;
    case 0x07: return StcModernStep::Finish;
    case 0x04: return StcModernStep::Options;
    default: return std::nullopt;
    }
}

std::vector<StcTrim> challengesOf(const Step& request, StcModernFamily f) {
    const captures::Bytes p = request.payload();
    std::vector<StcTrim> out;
    if (f == StcModernFamily::Stc15a) {
        for (size_t i = 12; i + 3 < p.size(); i += 4) out.push_back({p[i], p[i + 1]});
    } else {
        for (size_t i = 2; i + 1 < p.size() && out.size() < p[1]; i += 2) out.push_back({p[i], p[i + 1]});
    }
    return out;
}

std::vector<uint16_t> countsOf(const Capture& c, int line) {
    const StcModernFamily f = familyOf(c);
    for (size_t i = 1; i < c.steps.size(); ++i)
        if (c.steps[i].line == line) {
            const Step* request = &c.steps[i - 1];
            if (request->kind == Step::Kind::Pulses) request = &c.steps[i - 2];
            return ReadStcModernAnswer(f, StcModernStep::Calibration, qbytes(c.steps[i].payload()),
                                       qbytes(request->payload()))
                .counts;
        }
    return {};
}

// The steps of a capture whose host request begins with `command`, in order.
std::vector<const Step*> requests(const Capture& c, uint8_t command) {
    std::vector<const Step*> out;
    for (const Step& s : c.steps)
        if (s.host && s.kind != Step::Kind::Pulses && !s.payload().empty() && s.payload()[0] == command)
            out.push_back(&s);
    return out;
}

} // namespace

TEST(StcCaptureFiles, EveryFileReadsAndItsWholeFramesAreConsistent) {
    const auto all = captures::allCaptures();
    ASSERT_GE(all.size(), 7u);
    for (const Capture& c : all) {
        SCOPED_TRACE(c.file);
        ASSERT_EQ(c.error, "");
        ASSERT_TRUE(StcModernFamilyFromKey(QString::fromStdString(c.family))) << c.family;
        for (const Step& s : c.steps) {
            if (s.kind != Step::Kind::Frame) continue;
            // A whole captured frame: its length field and checksum agree with its bytes.
            const auto& b = s.bytes;
            ASSERT_GE(b.size(), 9u) << "line " << s.line;
            EXPECT_EQ(b[0], 0x46);
            EXPECT_EQ(b[2], s.host ? 0x6A : 0x68) << "line " << s.line;
            EXPECT_EQ(static_cast<size_t>(b[3] << 8 | b[4]), b.size() - 2) << "line " << s.line;
            Step rebuilt;
            rebuilt.kind = Step::Kind::Payload;
            rebuilt.host = s.host;
            rebuilt.bytes = s.payload();
            rebuilt.marks = s.payloadMarks();
            EXPECT_EQ(b, rebuilt.frame()) << "line " << s.line << ": checksum";
        }
    }
}

// Every frame a real chip sent parses as what it answers: status frames,
// trim answers, the switch, erase (unique ID), write, finish and option answers.
TEST(StcCaptureFiles, EveryCapturedChipFrameParses) {
    int statuses = 0, answers = 0;
    for (const Capture& c : captures::allCaptures()) {
        SCOPED_TRACE(c.file);
        const StcModernFamily f = familyOf(c);
        const Step* request = nullptr;
        for (const Step& s : c.steps) {
            if (s.kind == Step::Kind::Gap) {
                request = nullptr;
                continue;
            }
            if (s.host) {
                if (s.kind != Step::Kind::Pulses) request = &s;
                continue;
            }
            const QByteArray payload = qbytes(s.payload());
            SCOPED_TRACE("line " + std::to_string(s.line));
            if (payload.size() == 1 && payload[0] == char(0x80) && f == StcModernFamily::Stc15a) continue; // 80 frame
            if (static_cast<uint8_t>(payload[0]) == 0x50 && (!request || request->payload()[0] != 0x8D)) {
                QString why;
                const auto byCode = StcModernFamilyOfStatus(payload, &why);
                ASSERT_TRUE(byCode) << why.toStdString();
                EXPECT_EQ(*byCode, f);
                EXPECT_TRUE(ReadStcModernStatus(payload, f, &why)) << why.toStdString();
                ++statuses;
                continue;
            }
            if (!request) {
                // An answer whose request the capture lacks: the erase's unique ID.
                EXPECT_TRUE(ReadStcModernAnswer(f, StcModernStep::Erase, payload, {}).ok);
                ++answers;
                continue;
            }
            const auto step = stepOf(f, request->payload()[0]);
            ASSERT_TRUE(step) << "request " << int(request->payload()[0]);
            const StcModernAnswer a = ReadStcModernAnswer(f, *step, payload, qbytes(request->payload()));
            const bool dataUnknown = std::count(request->marks.begin(), request->marks.end(), Mark::Unknown) > 0;
            if (*step == StcModernStep::Write && f == StcModernFamily::Stc15a && dataUnknown) {
                EXPECT_EQ(payload.size(), 2); // 00 SS: the data (and so its sum) is not in the capture
                EXPECT_EQ(payload[0], 0);
            } else {
                EXPECT_TRUE(a.ok) << a.why.toStdString();
            }
            if (*step == StcModernStep::Calibration) {
                EXPECT_EQ(a.counts.size(), challengesOf(*request, f).size());
            }
            if (*step == StcModernStep::Erase) {
                EXPECT_EQ(a.uid.size(), 7);
            }
            ++answers;
        }
    }
    EXPECT_EQ(statuses, 5);
    EXPECT_EQ(answers, 27);
}

TEST(StcModernStatus, FieldsOfEveryCapturedStatus) {
    struct Row {
        const char* file;
        int baud;
        uint16_t code;
        const char* version;
        std::optional<uint32_t> stored;
        StcCurrentClock::Source source;
        double hz;       // the current clock
        double bootHz;   // STC15/STC8: the bootloader's clock
        const char* options;
    };
    const Row rows[] = {
        {"stc15f104e.capture", 9600, 0xF294, "6.7Q", std::nullopt, StcCurrentClock::Source::Counts,
         9600 * 687.75 * 12 / 7, 0, "EF 3B F5 58 34 FF FF FF FF FF FF FF FF"},
        {"iap15f2k61s2.capture", 9600, 0xF449, "7.1.4S", 11054400u, StcCurrentClock::Source::Stored, 11054400,
         0x09FE * 9600.0, "F7 BB 9F FD"},
        {"stc15w4k56s4.capture", 2400, 0xF528, "7.3.4T", std::nullopt, StcCurrentClock::Source::Untrimmed, 0,
         0x27ED * 2400.0, "F5 7B 9F FF F8"},
        {"stc8a8k64s4a12.capture", 2400, 0xF628, "7.3.9U", 5530200u, StcCurrentClock::Source::Stored, 5530200,
         0x274A * 2400.0, "FD 8B BF F7 FE"},
        {"stc8f2k08s2-untrimmed.capture", 2400, 0xF641, "7.3.10U", std::nullopt, StcCurrentClock::Source::Untrimmed,
         0, 0x273E * 2400.0, "FF 8B FD F5 73"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.file);
        const Capture c = captures::captureNamed(r.file);
        const Step* status = nullptr;
        for (const Step& s : c.steps)
            if (!s.host && s.kind != Step::Kind::Gap && s.payload().size() > 23) {
                status = &s;
                break;
            }
        ASSERT_TRUE(status);
        QString why;
        const auto st = ReadStcModernStatus(qbytes(status->payload()), familyOf(c), &why);
        ASSERT_TRUE(st) << why.toStdString();
        EXPECT_EQ(st->modelCode, r.code);
        EXPECT_EQ(st->versionText, r.version);
        EXPECT_EQ(st->storedHz, r.stored);
        EXPECT_EQ(st->options.toHex(' ').toUpper(), QByteArray(r.options));
        EXPECT_EQ(st->marker, st->version >= 0x72);
        const StcCurrentClock clock = CurrentStcClock(*st, r.baud);
        EXPECT_EQ(clock.source, r.source);
        EXPECT_NEAR(clock.hz, r.hz, 1.0);
        EXPECT_NEAR(clock.bootClockHz, r.bootHz, 1.0);
        // The model table names the part and its family.
        EXPECT_FALSE(StcModelName(st->modelCode).isEmpty());
    }
    // The STC15A's trim constants and stored trim; the STC8's trim, divider, wake-up, voltage, date.
    const Capture a = captures::captureNamed("stc15f104e.capture");
    const auto s15a = ReadStcModernStatus(qbytes(a.steps[3].payload()), StcModernFamily::Stc15a);
    ASSERT_TRUE(s15a);
    EXPECT_EQ(s15a->trimConstants.toHex(' ').toUpper(), QByteArray("58 50 0C 94 21 FF 29"));
    EXPECT_EQ(s15a->trimHigh << 8 | s15a->trimLow, 0x5834);
    const Capture e = captures::captureNamed("stc8a8k64s4a12.capture");
    const auto s8 = ReadStcModernStatus(qbytes(e.steps[1].payload()), StcModernFamily::Stc8);
    ASSERT_TRUE(s8);
    EXPECT_EQ(s8->trimHigh, 0x5D);
    EXPECT_EQ(s8->trimLow, 0x00);
    EXPECT_EQ(s8->divider, 4);
    EXPECT_EQ(s8->wakeupHz, 34275);
    EXPECT_EQ(s8->referenceMv, 1338);
    EXPECT_EQ(s8->made, QDate(2017, 5, 25));
}

TEST(StcModernStatus, ShortOrForeignStatusFramesAreRefusedWithTheReason) {
    const Capture c = captures::captureNamed("iap15f2k61s2.capture");
    const QByteArray status = qbytes(c.steps[1].payload());
    QString why;
    EXPECT_FALSE(ReadStcModernStatus(status.left(36), StcModernFamily::Stc15, &why));
    EXPECT_TRUE(why.contains("37")) << why.toStdString();
    EXPECT_FALSE(ReadStcModernStatus(status, StcModernFamily::Stc8, &why)); // 37 bytes, STC8 needs 42
    QByteArray wrongType = status;
    wrongType[0] = char(0x00);
    EXPECT_FALSE(StcModernFamilyOfStatus(wrongType, &why));
    // An STC12 model code in a type-50 frame: another family, named.
    QByteArray stc12 = status;
    stc12[20] = char(0xD1);
    stc12[21] = char(0x7E);
    EXPECT_FALSE(StcModernFamilyOfStatus(stc12, &why));
    EXPECT_TRUE(why.contains("stc12")) << why.toStdString();
    stc12[20] = char(0x12);
    EXPECT_FALSE(StcModernFamilyOfStatus(stc12, &why));
    EXPECT_TRUE(why.contains("not in the model table")) << why.toStdString();
    // F294 names an E part below bootloader 7.0 and a W part from 7.0 on.
    QByteArray f294 = status;
    f294[20] = char(0xF2);
    f294[21] = char(0x94);
    EXPECT_EQ(StcModernFamilyOfStatus(f294), StcModernFamily::Stc15);
    f294[17] = char(0x67);
    EXPECT_EQ(StcModernFamilyOfStatus(f294), StcModernFamily::Stc15a);
}

// Every row of the model table: its family key is one the program knows, the
// code gives that family back, and every assigned family has a chip type.
TEST(StcModels, EveryRowHasAFamilyAndAChipType) {
    const QSet<QString> keys = {"stc89", "stc12a", "stc12b", "stc12", "stc15a", "stc15",
                                "stc8",  "stc8d",  "stc8g",  "unassigned"};
    QSet<QString> types;
    for (const StcModelInfo& m : StcModelTable()) {
        const QString family = QString::fromLatin1(m.family);
        SCOPED_TRACE(m.name);
        EXPECT_TRUE(keys.contains(family)) << m.family;
        const uint8_t version = family == "stc15a" ? 0x67 : 0x71;
        EXPECT_EQ(StcFamilyOfModel(m.code, version), family);
        const QString type = StcChipTypeFor(family, QString::fromLatin1(m.name));
        EXPECT_EQ(type.isEmpty(), family == "unassigned");
        EXPECT_EQ(StcModernFamilyFromKey(family).has_value(),
                  family.startsWith("stc15") || (family.startsWith("stc8") && family != "stc89"));
        types.insert(type);
    }
    EXPECT_EQ(types, (QSet<QString>{"", "stc89", "stc90", "stc11", "stc12", "stc15", "stc8"}));
    EXPECT_EQ(StcChipTypeFor("stc89", "STC90C516RD+"), "stc90");
    EXPECT_EQ(StcChipTypeFor("stc12", "IAP11F62X"), "stc11");
    EXPECT_EQ(StcChipTypeFor("stc12b", "STC12C5201"), "stc12");
    EXPECT_TRUE(StcFamilyOfModel(0x1234, 0x71).isEmpty());
}

// ---- Trim arithmetic over the captures ------------------------------------------------

TEST(StcTrim, Stc15aRoundsOfTheCapture) {
    const Capture c = captures::captureNamed("stc15f104e.capture");
    const auto rounds = requests(c, 0x65);
    ASSERT_EQ(rounds.size(), 2u);
    // First round for 11.0592 MHz at normal speed: the captured challenges.
    const auto r1 = Stc15aFirstRound(11059200, false);
    ASSERT_TRUE(r1);
    EXPECT_EQ(*r1, challengesOf(*rounds[0], StcModernFamily::Stc15a));
    const std::vector<uint16_t> counts1 = countsOf(c, rounds[0]->line + 2);
    ASSERT_EQ(counts1, (std::vector<uint16_t>{0x024A, 0x0345, 0x0346, 0x043D, 0x024A, 0x0345}));
    const double n = StcTrimCount(StcModernFamily::Stc15a, 11059200, 9600);
    EXPECT_NEAR(n, 672, 0.01);
    // Counts 586..837 bracket 672 in pair 1-2: trim 582C, first trial 5827.
    // The tool began at 5824: its target count was about 666 (Q14).
    const auto r2 = Stc15aSecondRound(*r1, counts1, n);
    ASSERT_TRUE(r2);
    ASSERT_EQ(r2->size(), 11u);
    EXPECT_EQ(r2->front().word(), 0x5827);
    EXPECT_EQ(r2->back().word(), 0x5831);
    EXPECT_EQ(Stc15aSecondRound(*r1, counts1, 666.4)->front().word(), 0x5824);
    const auto program = Stc15aProgrammingTrim(*r1, counts1, n);
    ASSERT_TRUE(program);
    EXPECT_EQ(program->word(), 0x582C);
    // The second round's answer: the count nearest 672 is 671 (582A); the tool took 5829 (668).
    const auto counts2 = countsOf(c, rounds[1]->line + 2);
    ASSERT_EQ(counts2.size(), 11u);
    EXPECT_EQ(NearestCount(counts2, n), 6);
    EXPECT_EQ(NearestCount(counts2, 667.6), 5);
}

TEST(StcTrim, Stc15aFirstRoundRowsAndFailures) {
    struct Row {
        double mhz;
        bool high;
        std::vector<uint16_t> challenges;
    };
    const Row rows[] = {
        {4.0, false, {0x1800, 0x1880, 0x1880, 0x18FF, 0x5800, 0x5880}},
        {7.4999, true, {0x1800, 0x1880, 0x1880, 0x18FF, 0x9800, 0x9880}},
        {7.5, false, {0x1880, 0x18FF, 0x5800, 0x5880, 0x5800, 0x5880}},
        {12, false, {0x5800, 0x5880, 0x5880, 0x58FF, 0x5800, 0x5880}},
        {20, true, {0x5880, 0x58FF, 0x9800, 0x9880, 0x9800, 0x9880}},
        {24, true, {0x9800, 0x9880, 0x9880, 0x98FF, 0x9800, 0x9880}},
        {40, true, {0xD800, 0xD880, 0xD880, 0xD8B4, 0x9800, 0x9880}},
    };
    for (const Row& r : rows) {
        const auto got = Stc15aFirstRound(r.mhz * 1e6, r.high);
        ASSERT_TRUE(got) << r.mhz;
        std::vector<uint16_t> words;
        for (StcTrim t : *got) words.push_back(t.word());
        EXPECT_EQ(words, r.challenges) << r.mhz;
    }
    QString why;
    EXPECT_FALSE(Stc15aFirstRound(3.9e6, false, &why));
    EXPECT_TRUE(why.contains("3.9000")) << why.toStdString();
    EXPECT_FALSE(Stc15aFirstRound(40.1e6, false));
    // Equal counts cannot be interpolated; trims beyond 0000..FFFF are refused.
    const std::vector<StcTrim> r1 = *Stc15aFirstRound(11e6, false);
    EXPECT_FALSE(Stc15aProgrammingTrim(r1, {1, 2, 3, 4, 500, 500}, 600, &why));
    EXPECT_TRUE(why.contains("same count")) << why.toStdString();
    EXPECT_FALSE(Stc15aProgrammingTrim(std::vector<StcTrim>{{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0xFF, 0x00}, {0xFF, 0xFF}},
                                       {1, 2, 3, 4, 100, 101}, 600, &why));
}

TEST(StcTrim, Stc15RoundsOfTheIap15Capture) {
    const Capture c = captures::captureNamed("iap15f2k61s2.capture");
    const auto rounds = requests(c, 0x00);
    ASSERT_EQ(rounds.size(), 2u);
    const auto r1 = challengesOf(*rounds[0], StcModernFamily::Stc15);
    EXPECT_EQ(Stc15FirstRound(), r1);
    EXPECT_EQ(rounds[0]->payload().size(), 2u + 2 * kStcCalibrationSlots);
    const auto counts1 = countsOf(c, rounds[0]->line + 2);
    const double user = StcTrimCount(StcModernFamily::Stc15, 11059200, 9600);
    const double program = StcTrimCount(StcModernFamily::Stc15, kStcHighSpeedHz, 9600);
    EXPECT_EQ(user, 0x0900);
    EXPECT_EQ(program, 0x1200);
    // Band 80 (1643..2343) and band 40 (3338..4698) bracket the targets.
    const auto u = Stc15Estimate(r1, counts1, user);
    const auto p = Stc15Estimate(r1, counts1, program);
    ASSERT_TRUE(u && p);
    EXPECT_EQ(*u, (StcTrim{0x79, 0x80}));
    EXPECT_EQ(*p, (StcTrim{0x78, 0x40}));
    const auto r2 = Stc15SecondRound(*u, *p);
    ASSERT_EQ(r2.size(), 12u);
    EXPECT_EQ(r2.front(), (StcTrim{0x76, 0x80}));
    EXPECT_EQ(r2[6], (StcTrim{0x75, 0x40}));
    // The tool's third round: the nearest counts are its choices, and the
    // stored frequency (count x B_h / 2) is the status frame's 11 054 400 Hz.
    const auto r3 = challengesOf(*rounds[1], StcModernFamily::Stc15);
    const auto counts3 = countsOf(c, rounds[1]->line + 2);
    const int ui = NearestCount(counts3, user, 0, 6), pi = NearestCount(counts3, program, 6, 6);
    EXPECT_EQ(r3[ui], (StcTrim{0x74, 0x80}));
    EXPECT_EQ(r3[pi], (StcTrim{0x74, 0x40}));
    EXPECT_EQ(StcTrimFrequency(StcModernFamily::Stc15, counts3[ui], 9600), 11054400);
    EXPECT_FALSE(StcCountsOneSided(counts3, user, 0, 6));
    EXPECT_TRUE(StcCountsOneSided(counts3, user + 100, 0, 6));
    // The gap between bands C0 and 80 (7.38..7.89 MHz on this chip) is out of reach.
    QString why;
    EXPECT_FALSE(Stc15Estimate(r1, counts1, StcTrimCount(StcModernFamily::Stc15, 7.6e6, 9600), &why));
    EXPECT_TRUE(why.contains("band C0: 823-1538")) << why.toStdString();
    // Windows stay within 00..FF.
    EXPECT_EQ(Stc15SecondRound({0x01, 0xC0}, {0xFE, 0x40})[0], (StcTrim{0x00, 0xC0}));
    EXPECT_EQ(Stc15SecondRound({0x01, 0xC0}, {0xFE, 0x40})[11], (StcTrim{0xFF, 0x40}));
}

TEST(StcTrim, Stc8RoundsOfTheCaptureAndItsDividers) {
    const Capture c = captures::captureNamed("stc8a8k64s4a12.capture");
    const auto rounds = requests(c, 0x00);
    ASSERT_EQ(rounds.size(), 2u);
    const auto r1 = challengesOf(*rounds[0], StcModernFamily::Stc8);
    EXPECT_EQ(Stc8FirstRound(Stc8FirstRoundKind::Narrow), r1);
    const auto counts1 = countsOf(c, rounds[0]->line + 2);
    ASSERT_EQ(counts1, (std::vector<uint16_t>{0x36AD, 0x4E83}));
    // 24 MHz at 2400: N = 20000 between 13997 (T 00) and 20099 (T 80): T 7E.
    // The tool's second round began at 7C.
    const auto e = Stc8EstimateTrim(StcModernFamily::Stc8, r1, counts1, 24e6, 2400);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->divider, 1);
    EXPECT_EQ(e->trim, (StcTrim{0x7E, 0x00}));
    EXPECT_EQ(Stc8SecondRound({0x7C, 0}, false), challengesOf(*rounds[1], StcModernFamily::Stc8));
    const auto counts2 = countsOf(c, rounds[1]->line + 2);
    EXPECT_EQ(NearestCount(counts2, 20000), 7); // 4E26 at 7D/03
    // The captured dividers: 11.06 MHz with 2, 5.53 MHz with 4 (all near T 5D).
    for (auto [mhz, d] : {std::pair{11.0592, 2}, std::pair{5.53, 4}, std::pair{22.1184, 1}}) {
        const auto est = Stc8EstimateTrim(StcModernFamily::Stc8, r1, counts1, mhz * 1e6, 2400);
        ASSERT_TRUE(est) << mhz;
        EXPECT_EQ(est->divider, d) << mhz;
        EXPECT_NEAR(est->trim.first, 0x5D, 1) << mhz;
        EXPECT_NEAR(StcTrimFrequency(StcModernFamily::Stc8, est->target, 2400, d), mhz * 1e6, 1e-3);
    }
    // Beyond what the narrow round brackets, the wide one reaches.
    QString why;
    EXPECT_FALSE(Stc8EstimateTrim(StcModernFamily::Stc8, r1, counts1, 27e6, 2400, &why));
    EXPECT_TRUE(why.contains("27.0000")) << why.toStdString();
    const auto wide = Stc8FirstRound(Stc8FirstRoundKind::Wide);
    ASSERT_EQ(wide.size(), 12u);
    std::vector<uint16_t> wideCounts;
    for (StcTrim t : wide) wideCounts.push_back(static_cast<uint16_t>(13997 + t.first * (26050 - 13997) / 255));
    const auto est27 = Stc8EstimateTrim(StcModernFamily::Stc8, wide, wideCounts, 27e6, 2400);
    ASSERT_TRUE(est27);
    EXPECT_NEAR(est27->trim.first, (22500 - 13997) * 255 / (26050 - 13997), 1);
    // The open host's centred second round.
    const auto centred = Stc8SecondRound({0x5D, 0}, true);
    EXPECT_EQ(centred[0], (StcTrim{0x5C, 0}));
    EXPECT_EQ(centred[3], (StcTrim{0x5C, 1}));
    EXPECT_EQ(centred[11], (StcTrim{0x5E, 3}));
}

// The newer variant: no captures; linear bands as the simulator has them.
TEST(StcTrim, NewerStc8VariantsOnLinearBands) {
    auto linear = [](const std::vector<StcTrim>& ch, double lowMHz, double highMHz, double bandStep) {
        std::vector<uint16_t> counts;
        for (StcTrim t : ch) {
            const double band = (t.second & 0x80) ? 2 : (t.second >> 4) * bandStep;
            counts.push_back(static_cast<uint16_t>(std::lround((lowMHz + band + (highMHz - lowMHz) * t.first / 255.0) * 1e6 / 2400)));
        }
        return counts;
    };
    const auto d1 = Stc8dFirstRound();
    ASSERT_EQ(d1.size(), 8u);
    EXPECT_EQ(d1[1], (StcTrim{0xFF, 0x00}));
    EXPECT_EQ(d1[7], (StcTrim{0xFF, 0x30}));
    for (double mhz : {4.0, 11.0592, 24.0, 33.0}) {
        SCOPED_TRACE(mhz);
        const auto e = Stc8EstimateTrim(StcModernFamily::Stc8d, d1, linear(d1, 16.8, 31.3, 6.0), mhz * 1e6, 2400);
        ASSERT_TRUE(e);
        EXPECT_GE(e->trim.first, 6);
        EXPECT_LE(e->trim.first, 250);
        const double band = (e->trim.second >> 4) * 6.0;
        EXPECT_NEAR(16.8 + band + 14.5 * e->trim.first / 255.0, e->divider * mhz, 0.1);
        const auto r2 = Stc8dSecondRound(e->trim);
        EXPECT_EQ(r2.front().first, e->trim.first - 6);
        EXPECT_EQ(r2.back().first, e->trim.first + 5);
    }
    const auto g1 = Stc8gFirstRound();
    EXPECT_EQ(g1.size(), 5u);
    const auto g = Stc8EstimateTrim(StcModernFamily::Stc8g, g1, linear(g1, 16.8, 31.3, 0), 30e6, 2400);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->divider, 1);
    EXPECT_NEAR(16.8 + 14.5 * g->trim.first / 255.0, 30.0, 0.1);
    EXPECT_DOUBLE_EQ(StcTrimCount(StcModernFamily::Stc8g, 30e6, 2400, 2), 25000);
}

// ---- Transfer rates -----------------------------------------------------------------

TEST(StcTrim, AnUntrimmedChipGoesToTheCommonFrequencyNearestItsClock) {
    const struct {
        double clockHz, expected;
    } cases[] = {{11.2e6, 11.0592e6}, {23.4e6, 24e6}, {21.9e6, 22.1184e6}, {12.2e6, 12e6},
                 {14.0e6, 14.0e6},    {40.0e6, 40.0e6}, {33.0e6, 33.1776e6}, {13.7654321e6, 13.765e6}};
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(NearestCommonStcFrequency(c.clockHz), c.expected) << c.clockHz;
}

TEST(StcTransferRate, CapturedReloads) {
    // STC15A: 9600 at normal speed -> BD 0C.
    EXPECT_EQ(Stc15aTransferRate(9600, false).reload, 0x0C);
    // IAP15F2K61S2: 9600 on the measured 22.1184 MHz -> FDC0; STC15W4K56S4:
    // 2400 on the measured 22.128 MHz -> F6FF (on the nominal clock F700).
    EXPECT_EQ(Stc15TransferRate(9600, 22118400, true).reload, 0xFDC0);
    EXPECT_EQ(Stc15TransferRate(2400, 22128000, true).reload, 0xF6FF);
    EXPECT_EQ(Stc15TransferRate(2400, kStcHighSpeedHz, true).reload, 0xF700);
    // STC15L104W (no UART): R1 = F6FD, R2 = F27C on 22.147 MHz.
    EXPECT_FALSE(Stc15HasUart(0xF2D4));
    EXPECT_TRUE(Stc15HasUart(0xF449));
    EXPECT_EQ(Stc15TransferRate(9600, 22147000, false).reload, 0xF6FD);
    EXPECT_EQ(Stc15UartlessReload2(9600, 22147000), 0xF27C);
    // STC8: 115200 on 24 MHz -> FFCC.
    EXPECT_EQ(Stc8TransferRate(115200).reload, 0xFFCC);
    // The older families: 57600 from 11.0592 MHz -> FA (one-byte), 38400 -> EE (two-byte).
    EXPECT_EQ(OldStcTransferRate(57600, 11.0592, 1).reload, 0xFA);
    EXPECT_EQ(OldStcTransferRate(38400, 11.0592, 2).reload, 0xEE);
    // The flash-wait byte by clock (captures: 81 at 22.1184 MHz, 83 at 11.0592, 80 at 24).
    const std::pair<double, uint8_t> waits[] = {{0.5, 0x87}, {1.5, 0x86}, {2.5, 0x85}, {5, 0x84}, {11.0592, 0x83},
                                                {19.99, 0x82}, {22.1184, 0x81}, {24, 0x80}, {35, 0x80}};
    for (auto [mhz, wait] : waits) EXPECT_EQ(StcFlashWait(mhz * 1e6), wait) << mhz;
}

// For every family and every offered rate: a rate taken is made within 3 %;
// a rate refused names the nearest rates, and each of those is taken.
TEST(StcTransferRate, SweepTakenWithinThreePercentRefusedWithTheNearest) {
    struct Timer {
        const char* name;
        std::function<StcRateChoice(uint32_t)> choose;
    };
    const Timer timers[] = {
        {"stc89 11.0592", [](uint32_t b) { return OldStcTransferRate(b, 11.0592, 1); }},
        {"stc89 12", [](uint32_t b) { return OldStcTransferRate(b, 12.0, 1); }},
        {"stc12 20", [](uint32_t b) { return OldStcTransferRate(b, 20.0, 2); }},
        {"stc15a high", [](uint32_t b) { return Stc15aTransferRate(b, true); }},
        {"stc15a normal", [](uint32_t b) { return Stc15aTransferRate(b, false); }},
        {"stc15", [](uint32_t b) { return Stc15TransferRate(b, kStcHighSpeedHz, true); }},
        {"stc15 no uart", [](uint32_t b) { return Stc15TransferRate(b, kStcHighSpeedHz, false); }},
        {"stc8", [](uint32_t b) { return Stc8TransferRate(b); }},
    };
    for (const Timer& t : timers) {
        int taken = 0;
        for (uint32_t baud : {1200u, 2400u, 4800u, 9600u, 14400u, 19200u, 28800u, 38400u, 57600u, 100000u, 115200u,
                              230400u, 250000u, 460800u, 921600u, 2000000u}) {
            SCOPED_TRACE(std::string(t.name) + " " + std::to_string(baud));
            const StcRateChoice c = t.choose(baud);
            if (c.ok) {
                ++taken;
                EXPECT_LE(std::fabs(c.chipRate / baud - 1.0), 0.03);
                EXPECT_TRUE(c.nearest.empty());
                continue;
            }
            EXPECT_FALSE(c.why.isEmpty());
            EXPECT_TRUE(c.why.contains(QString::number(baud))) << c.why.toStdString();
            for (uint32_t n : c.nearest) {
                EXPECT_TRUE(t.choose(n).ok) << n;
                EXPECT_TRUE(c.why.contains(QString::number(n))) << c.why.toStdString();
            }
        }
        EXPECT_GT(taken, 3) << t.name;
    }
    // 115200 from a 12 MHz STC89: 125000 at best; 38400 is the nearest it makes.
    const StcRateChoice c = OldStcTransferRate(115200, 12.0, 1);
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(c.nearest, std::vector<uint32_t>{38400});
    EXPECT_TRUE(c.why.contains("125000")) << c.why.toStdString();
    EXPECT_FALSE(Stc15aTransferRate(0, true).ok);
}

// The answers' checks: what real chips send passes (above); what they never send fails.
TEST(StcModernAnswers, WrongAnswersAreNamed) {
    const QByteArray cal = QByteArray::fromHex("000200008000");
    EXPECT_TRUE(ReadStcModernAnswer(StcModernFamily::Stc8, StcModernStep::Calibration, QByteArray::fromHex("000236AD4E83"), cal).ok);
    EXPECT_FALSE(ReadStcModernAnswer(StcModernFamily::Stc8, StcModernStep::Calibration, QByteArray::fromHex("000136AD4E83"), cal).ok);
    EXPECT_FALSE(ReadStcModernAnswer(StcModernFamily::Stc8, StcModernStep::Calibration, QByteArray::fromHex("000236AD"), cal).ok);
    const QByteArray cal15a = QByteArray::fromHex("6558500C9421FF29FFFF060158000200");
    EXPECT_TRUE(ReadStcModernAnswer(StcModernFamily::Stc15a, StcModernStep::Calibration,
                                    QByteArray::fromHex("6558500C9421FF29FFFF06015800024A"), cal15a)
                    .ok);
    const StcModernAnswer echo = ReadStcModernAnswer(StcModernFamily::Stc15a, StcModernStep::Calibration,
                                                     QByteArray::fromHex("6558500C9421FF29FFFF06015801024A"), cal15a);
    EXPECT_FALSE(echo.ok);
    EXPECT_TRUE(echo.why.contains("byte 13")) << echo.why.toStdString();
    const StcModernAnswer locked = ReadStcModernAnswer(StcModernFamily::Stc15, StcModernStep::Prepare, QByteArray(1, char(0x0F)), {});
    EXPECT_FALSE(locked.ok);
    EXPECT_TRUE(locked.locked);
    EXPECT_FALSE(ReadStcModernAnswer(StcModernFamily::Stc15, StcModernStep::Write, QByteArray::fromHex("0255"), {}).ok);
    const QByteArray block = QByteArray::fromHex("00000000000040") + QByteArray(64, char(0x02));
    EXPECT_TRUE(ReadStcModernAnswer(StcModernFamily::Stc15a, StcModernStep::Write, QByteArray::fromHex("0080"), block).ok);
    EXPECT_FALSE(ReadStcModernAnswer(StcModernFamily::Stc15a, StcModernStep::Write, QByteArray::fromHex("0081"), block).ok);
    EXPECT_FALSE(ReadStcModernAnswer(StcModernFamily::Stc15, StcModernStep::Erase, QByteArray::fromHex("030D0000210226"), {}).ok);
    const QByteArray marked = QByteArray::fromHex("0200805AA5") + QByteArray(64, char(0x11));
    EXPECT_EQ(StcModernWriteData(StcModernFamily::Stc8, marked), QByteArray(64, char(0x11)));
    EXPECT_EQ(StcModernWriteData(StcModernFamily::Stc15, QByteArray::fromHex("020080") + QByteArray(128, char(0x5A))),
              QByteArray(128, char(0x5A)));
}
