// The soak's CI slice (50 seeded runs per family), and the soak's own judge:
// downloads that lie, hang or leave the port open must be caught.
#include <gtest/gtest.h>

#include <cstdio>

#include "protocol/CMcuType.h"
#include "protocol/StcFrame.h"
#include "sim/Simulators.h"
#include "sim/VirtualHost.h"
#include "soak/Soak.h"

using namespace talvo;
using namespace talvo::soak;

namespace {

constexpr int kCiRuns = 50;
constexpr uint64_t kCiFirstSeed = 1;

bool hasViolation(const SoakResult& r, const std::string& what) {
    for (const auto& v : r.violations)
        if (v.rfind(what, 0) == 0) return true;
    return false;
}

} // namespace

TEST(Soak, SeededRunsOfEveryFamilyEndAsTheyMust) {
    InstallCrashReport();
    for (const Family& family : Families()) {
        Tally tally(family);
        for (uint64_t seed = kCiFirstSeed; seed < kCiFirstSeed + kCiRuns; ++seed) {
            const SoakResult r = RunCase(family, MakeCase(family, seed));
            tally.add(r);
            if (!r.violations.empty()) continue;
            // What each fault kind must come to, where it is certain: a clean
            // run succeeds unless the crystal or the target frequency is
            // refused before any switch;
            // so do split reads and a chip whose rate error stays within its
            // tolerance; beyond it the link is lost.  An STC block refused
            // or lost once, or answered with a wrong sum, is sent again; the STM32
            // bootloader's refusal of a block ends the download, and a word
            // stored wrongly is found by the read-back; a read-protected STM32
            // is refused unless its protection is removed.
            // STC15/STC8: a target frequency between the RC oscillator's
            // bands (or dividers) is refused as out of reach.
            const bool outOfReach = r.stage == QStringLiteral("calibration") &&
                                    r.log.filter(QStringLiteral("校准频率失败：no ")).size() == 1;
            const bool succeededOrRefused = r.success || r.stage == QStringLiteral("crystal") || outOfReach;
            const FaultKind k = r.c.kind;
            const bool stm32 = r.c.family == "stm32";
            // The STC15A, STC15 and STC8 bootloaders take no resent block.
            const bool resends = !stm32 && r.c.family.rfind("stc-", 0) == 0;
            const bool refusedOnce = k == FaultKind::NackBlock && r.c.selector.ends_with(",nack-count=1");
            // A read-protected chip whose protection stays: refused before anything is written.
            if (r.c.readProtected && !r.c.unprotect) {
                if (k == FaultKind::None || k == FaultKind::RateInside || k == FaultKind::SplitReads ||
                    k == FaultKind::NackBlock || k == FaultKind::BadWord) {
                    EXPECT_EQ(r.stage, QStringLiteral("protected")) << r.c.describe();
                }
                continue;
            }
            if (k == FaultKind::None || k == FaultKind::RateInside || k == FaultKind::SplitReads ||
                (resends && (refusedOnce || k == FaultKind::BadAck || k == FaultKind::LostCopy))) {
                EXPECT_TRUE(succeededOrRefused) << r.c.describe() << " ended at " << r.stage.toStdString();
            }
            if (k == FaultKind::RateOutside) {
                EXPECT_FALSE(r.success) << r.c.describe();
            }
            if (stm32 && k == FaultKind::NackBlock) {
                EXPECT_EQ(r.stage, QStringLiteral("refused")) << r.c.describe();
            }
            if (stm32 && k == FaultKind::BadWord && r.c.image.size() > 0) {
                EXPECT_EQ(r.stage, QStringLiteral("verify")) << r.c.describe();
            }
        }
        std::printf("%s\n", tally.report(kCiFirstSeed).c_str());
        EXPECT_EQ(tally.runs(), kCiRuns);
        EXPECT_EQ(tally.violations(), 0) << tally.report(kCiFirstSeed);
    }
}

TEST(Soak, CasesFollowFromTheSeedAlone) {
    for (const Family& family : Families()) {
        const SoakCase a = MakeCase(family, 77);
        const SoakCase b = MakeCase(family, 77);
        EXPECT_EQ(a.describe(), b.describe());
        EXPECT_EQ(a.image, b.image);
        EXPECT_NE(a.describe(), MakeCase(family, 78).describe());
        const SoakResult ra = RunCase(family, a);
        const SoakResult rb = RunCase(family, b);
        EXPECT_EQ(ra.log, rb.log);
        EXPECT_EQ(ra.elapsed, rb.elapsed);
    }
}

// The judge sees through downloads that claim what did not happen.
TEST(Soak, JudgeCatchesLiesHangsAndLeftovers) {
    const Family& stc = Families().front();
    const QString success = QString(39, u' ');
    struct Saboteur {
        const char* name;
        std::function<protocol::DownloadReport(sim::VirtualHost&, const SoakCase&)> download;
        const char* expected;
    };
    const Saboteur saboteurs[] = {
        {"claims success, writes nothing",
         [&](sim::VirtualHost& host, const SoakCase&) {
             host.Log(success + QStringLiteral("文 件 下 载 完 毕!"));
             host.Log(success + QStringLiteral("数 据 下 载 成 功!"));
             protocol::DownloadReport r;
             r.success = true;
             return r;
         },
         "success over a wrong flash"},
        {"fails without a word",
         [](sim::VirtualHost& host, const SoakCase&) {
             host.EndDownload();
             return protocol::DownloadReport{};
         },
         "failure without a line naming the stage"},
        {"waits for ever",
         [](sim::VirtualHost& host, const SoakCase&) {
             host.OpenPort(1200, 0, 0x68);
             while (host.Wait(60, {}) == protocol::WaitResult::TimedOut) host.ResetTicks();
             host.EndDownload();
             host.Log(QStringLiteral("连接超时..."));
             return protocol::DownloadReport{};
         },
         "past its bound"},
        {"leaves the port open",
         [](sim::VirtualHost& host, const SoakCase&) {
             host.OpenPort(1200, 0, 0x68);
             host.Log(QStringLiteral("连接超时..."));
             return protocol::DownloadReport{};
         },
         "the port was left open"},
        {"talks on after the end",
         [](sim::VirtualHost& host, const SoakCase&) {
             host.OpenPort(1200, 0, 0x68);
             host.EndDownload();
             host.OpenPort(1200, 0, 0x68);
             host.Send(protocol::BuildFrame(0x82, {}, 1));
             host.ClosePort();
             host.Log(QStringLiteral("写数据超时"));
             return protocol::DownloadReport{};
         },
         "used the port after ending the download"},
    };
    for (const Saboteur& s : saboteurs) {
        Family family = stc;
        family.download = s.download;
        SoakCase c = MakeCase(family, 5);
        if (c.image.isEmpty()) c.image = QByteArray(1, '\x5A');
        c.oldFlash = QByteArray(c.image.size(), static_cast<char>(~c.image[0]));
        const SoakResult r = RunCase(family, c);
        EXPECT_TRUE(hasViolation(r, s.expected)) << s.name << ": " << (r.violations.empty() ? "no violation" : r.violations.front());
    }
}

// Split reads hand a reply over in pieces: the protocol's judges see frames
// begun but not complete, and the download still succeeds.
TEST(Soak, SplitReadsHandRepliesOverInPieces) {
    class PieceCounter : public sim::VirtualHost {
    public:
        using VirtualHost::VirtualHost;
        int pieces = 0; // judged buffers that held a frame begun, none complete
        protocol::WaitResult Wait(int tickLimit, const protocol::ReplyJudge& judge) override {
            return VirtualHost::Wait(tickLimit, [&](const QByteArray& received) {
                const protocol::StcScan scan = protocol::ScanStcFrames(received, 1, true);
                if (scan.partial && scan.frames.empty()) ++pieces;
                return judge(received);
            });
        }
    };
    for (double chance : {0.0, 0.3}) {
        std::string error;
        auto chip = sim::makeChip("stc89c52rc", &error);
        ASSERT_TRUE(chip) << error;
        PieceCounter host(*chip);
        host.splitReads(chance, 9);
        protocol::StcOptions o;
        o.chipType = 1;
        const QByteArray image(1000, '\x3C');
        o.image = image;
        protocol::CMcuType mcu(host, o);
        EXPECT_TRUE(mcu.RunStcDownload().success) << chance;
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(chip->flash().data()), image.size()), image);
        // While a download waits, every arrival is handed on at once, so the
        // judge sees most answers begun but not complete; outside the waits
        // the split hands over pieces too.
        EXPECT_GT(host.pieces, 20) << chance;
    }
}
