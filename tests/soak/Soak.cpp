#include "soak/Soak.h"
#include "soak/SoakFamilies.h"

#include <QDir>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <sstream>
#include <unistd.h>

#include "sim/Faults.h"
#include "sim/Simulators.h"
#include "sim/VirtualHost.h"

namespace talvo::soak {

using protocol::DownloadReport;
using sim::Rng;

namespace {

// The download's own success line, as the user sees it.
const QString kSuccessWritten = QString(39, u' ') + QStringLiteral("数 据 下 载 成 功!");
const QString kSuccessDone = QString(39, u' ') + QStringLiteral("文 件 下 载 完 毕!");

// The host as the protocol sees it, with a record of what the soak judges:
// the protocol's pauses, and whether it went on talking to the port after
// it had ended the download.
class SoakHost : public sim::VirtualHost {
public:
    using VirtualHost::VirtualHost;
    double pausedSeconds = 0;
    bool ended = false;
    int callsAfterEnd = 0;

    bool OpenPort(uint32_t baud, uint8_t parity, uint8_t eventChar) override {
        if (ended) ++callsAfterEnd;
        return VirtualHost::OpenPort(baud, parity, eventChar);
    }
    bool Send(const QByteArray& bytes, bool keepReceived) override {
        if (ended) ++callsAfterEnd;
        return VirtualHost::Send(bytes, keepReceived);
    }
    bool Pause(int ms) override {
        pausedSeconds += ms / 1000.0;
        return VirtualHost::Pause(ms);
    }
    void EndDownload() override {
        ended = true;
        VirtualHost::EndDownload();
    }
    double hostWireSeconds() const {
        double s = 0;
        for (const WireByte& b : wire)
            if (b.fromHost) s += std::chrono::duration<double>(b.settings.charTime()).count();
        return s;
    }
};

// ---------------------------------------------------------------------------
// Faults

// What one lost copy of an STC block may cost at `baud`: the resend interval
// (up to 1.0 s, by the ticks), the copy's wire time (a two-byte-family write
// frame, 143 bytes of 11 bits) and the chip's other write time for it (the
// STC11F's vary by 0.1 s).
double lostCopySeconds(uint32_t baud) { return 1.0 + (baud > 0 ? 143 * 11.0 / baud : 0) + 0.1; }

// A probability spread over two decades.
double rare(Rng& rng, double lo, double hi) { return lo * std::pow(hi / lo, rng.uniform()); }

// Answers late: anywhere up to beyond the longest limit, often right at one
// of the limits (a block's resend at 0.9 s, its end at 3.1 s, an answer's at 6.1 s).
double lateness(Rng& rng) {
    if (rng.chance(0.5)) return std::round(7.5 * rng.uniform() * 1000) / 1000;
    constexpr double kEdges[] = {0.9, 3.1, 4.1, 6.1};
    return std::round((kEdges[rng.range(0, 3)] + 0.3 * rng.uniform() - 0.15) * 1000) / 1000;
}

void applyKind(const Family& family, SoakCase& c, Rng& rng) {
    std::string f;
    switch (c.kind) {
    case FaultKind::None: break;
    case FaultKind::Drop: f = ",drop=" + number(rare(rng, 0.0002, 0.02), 3); break;
    case FaultKind::Corrupt: f = ",corrupt=" + number(rare(rng, 0.0002, 0.02), 3); break;
    case FaultKind::Delay:
        // Often from some frame on, so that the later stages' limits are reached too.
        f = ",delay=" + number(lateness(rng));
        if (rng.chance(0.7)) f += ",delay-from=" + std::to_string(rng.range(1, family.frames(c)));
        break;
    case FaultKind::SilentAfter: f = ",silent-after=" + std::to_string(rng.range(0, family.frames(c))); break;
    case FaultKind::NackBlock:
        f = ",nack-block=" + std::to_string(rng.range(1, family.blocks(c))) +
            ",nack-count=" + std::to_string(rng.chance(0.5) ? 1 : rng.range(2, 6));
        break;
    case FaultKind::BadAck: f = ",bad-ack=" + std::to_string(rng.range(1, family.blocks(c))); break;
    case FaultKind::BadWord:
        // Only a read-back can see it.
        c.verify = true;
        f = ",bad-word=" + std::to_string(rng.range(1, std::max(1, static_cast<int>(c.image.size() + 3) / 4)));
        break;
    case FaultKind::TruncateStatus: f = ",truncate-status=" + std::to_string(rng.range(0, 60)); break;
    case FaultKind::HangUp: f = ",hangup-block=" + std::to_string(rng.range(1, family.blocks(c))); break;
    case FaultKind::RateInside:
    case FaultKind::RateOutside: {
        // The chip's UART tolerance, and a rate error just inside or just
        // outside it, in either direction.
        const double tolerance = std::round((3.0 + 1.5 * rng.uniform()) * 100) / 100;      // percent
        const double margin = std::round((0.05 + 0.45 * rng.uniform()) * 100) / 100;       // percent
        const double target = (c.kind == FaultKind::RateInside ? tolerance - margin : tolerance + margin) / 100;
        const double sign = rng.chance(0.5) ? 1.0 : -1.0;
        const double base = family.linkError(c);
        const double drift = (1.0 + sign * target) / (1.0 + base) - 1.0;
        f = ",tolerance=" + number(tolerance) + ",drift=" + number(drift * 100, 10);
        break;
    }
    case FaultKind::SplitReads: c.splitChance = std::round((0.05 + 0.6 * rng.uniform()) * 100) / 100; break;
    case FaultKind::Mixed:
        c.splitChance = std::round((0.05 + 0.4 * rng.uniform()) * 100) / 100;
        f = ",drop=" + number(rare(rng, 0.0002, 0.003), 3) + ",corrupt=" + number(rare(rng, 0.0002, 0.003), 3) +
            ",delay=" + number(std::round(1.2 * rng.uniform() * 1000) / 1000);
        break;
    case FaultKind::LostCopy: {
        // A run of blocks with one data sum (FF, 00 -- which the closing zero
        // block joins at the end of the image -- or one block repeated), and
        // the first copy of its first block lost.
        const int imageBlocks = std::max(1, static_cast<int>(c.image.size() + 127) / 128);
        const int first = rng.range(1, imageBlocks);
        const int length = rng.range(2, 6);
        const int fill = rng.range(0, 2);
        const QByteArray repeated = c.image.mid((first - 1) * 128, 128);
        for (int b = first; b < first + length && b <= imageBlocks; ++b) {
            const qsizetype at = static_cast<qsizetype>(b - 1) * 128;
            const qsizetype n = std::min<qsizetype>(128, c.image.size() - at);
            if (n <= 0) break;
            c.image.replace(at, n, fill == 0 ? QByteArray(n, '\xFF') : fill == 1 ? QByteArray(n, '\0') : repeated.left(n));
        }
        f = ",nack-block=" + std::to_string(first);
        break;
    }
    }
    c.selector += f;
}

// ---------------------------------------------------------------------------
// Judging a run

QString stageOf(const Family& family, const QStringList& lines) {
    QString stage;
    for (const QString& line : lines)
        for (const StageLine& s : family.stages)
            if (line.startsWith(QString::fromUtf8(s.prefix))) stage = QString::fromUtf8(s.stage);
    return stage;
}

// The case being run, for a crash or a hang to name.
char g_current[1024] = "";

void onFatalSignal(int sig) {
    const char* what = sig == SIGALRM ? "soak: a run has not returned after 120 s: " : "soak: crashed in the case ";
    ssize_t ignored = write(2, what, std::strlen(what));
    ignored = write(2, g_current, std::strlen(g_current));
    ignored = write(2, "\n", 1);
    (void)ignored;
    std::signal(sig == SIGALRM ? SIGABRT : sig, SIG_DFL);
    std::raise(sig == SIGALRM ? SIGABRT : sig);
}

int countEntries(const char* path) {
    QDir d(QString::fromLatin1(path));
    return static_cast<int>(d.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
}

} // namespace

// ---------------------------------------------------------------------------
// Shared by the families

std::unique_ptr<sim::SimChip> buildChip(const std::string& selector) {
    std::string error;
    auto chip = sim::makeChip(selector, &error);
    if (!chip) {
        std::fprintf(stderr, "soak: bad chip selector '%s': %s\n", selector.c_str(), error.c_str());
        std::abort();
    }
    return chip;
}

std::string number(double v, int precision) {
    std::ostringstream s;
    s << std::setprecision(precision) << v;
    return s.str();
}

// A firmware image as compilers lay them out: code, constant tables, runs of
// 0xFF and 0x00, and blocks repeated whole -- so that two blocks with the same
// data sum (whose write answers look alike) are common.
QByteArray makeImage(Rng& rng, int size) {
    QByteArray out;
    out.reserve(size);
    while (out.size() < size) {
        const int length = std::min(rng.range(16, 512), size - static_cast<int>(out.size()));
        const int kind = rng.range(0, 99);
        if (kind < 45) {
            for (int i = 0; i < length; ++i) out.append(static_cast<char>(rng.range(0, 255)));
        } else if (kind < 65) {
            out.append(QByteArray(length, '\xFF'));
        } else if (kind < 80) {
            out.append(QByteArray(length, '\0'));
        } else if (out.size() >= 128) {
            const int from = 128 * rng.range(0, static_cast<int>(out.size()) / 128 - 1);
            out.append(out.mid(from, std::min(128, length)));
        }
    }
    out.truncate(size);
    return out;
}

// Image sizes: now and then a tiny one, else anything up to `cap`.
int imageSize(Rng& rng, int cap) {
    if (rng.chance(0.15)) return rng.range(1, 300);
    return rng.range(1, cap);
}

// Older firmware the chip holds before the download: the download must erase
// what it writes over, since programming only clears bits.
QByteArray oldFirmware(Rng& rng, size_t flashSize) {
    if (!rng.chance(0.7)) return {};
    const int n = rng.range(1, static_cast<int>(flashSize));
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i) b[i] = static_cast<char>(rng.range(0, 255));
    return b;
}

// ---------------------------------------------------------------------------

const std::vector<FaultKindInfo>& FaultKinds() {
    static const std::vector<FaultKindInfo> kinds = {
        {FaultKind::None, "none"},
        {FaultKind::Drop, "drop"},
        {FaultKind::Corrupt, "corrupt"},
        {FaultKind::Delay, "delay"},
        {FaultKind::SilentAfter, "silent-after"},
        {FaultKind::NackBlock, "nack-block"},
        {FaultKind::BadAck, "bad-ack"},
        {FaultKind::BadWord, "bad-word"},
        {FaultKind::TruncateStatus, "truncate-status"},
        {FaultKind::HangUp, "hang-up"},
        {FaultKind::RateInside, "rate inside tol."},
        {FaultKind::RateOutside, "rate outside tol."},
        {FaultKind::SplitReads, "split reads"},
        {FaultKind::Mixed, "mixed"},
        {FaultKind::LostCopy, "lost copy"},
    };
    return kinds;
}

const char* FaultKindName(FaultKind kind) {
    for (const auto& k : FaultKinds())
        if (k.kind == kind) return k.name;
    return "?";
}

std::string SoakCase::describe() const {
    std::ostringstream s;
    s << family << " seed " << seed << ": " << FaultKindName(kind) << ", " << selector << ",seed=" << seed;
    if (splitChance > 0) s << ", split reads " << splitChance;
    if (chipType == 0)
        s << (verify ? ", verified" : ", not verified");
    else
        s << ", " << (lowSpeed ? "low" : "high") << " speed";
    s << ", chip type " << chipType << ", image " << image.size() << " B";
    if (flashOffset > 0) s << " at flash offset 0x" << std::hex << flashOffset << std::dec;
    if (readProtected) s << (unprotect ? ", read-protected, unprotect" : ", read-protected");
    if (massErase) s << ", mass erase";
    if (userHz > 0) s << ", --freq " << number(userHz / 1e6, 8);
    if (transferBaud > 0) s << ", --baud " << transferBaud;
    s << ", old firmware " << oldFlash.size() << " B";
    return s.str();
}

const std::vector<Family>& Families() {
    static const std::vector<Family> families = {StcFamily(StcFamilyKind::OneByte), StcFamily(StcFamilyKind::TwoByte),
                                                 StcModernFamily(StcModernKind::Stc15a),
                                                 StcModernFamily(StcModernKind::Stc15),
                                                 StcModernFamily(StcModernKind::Stc8),
                                                 Stm32Family()};
    return families;
}

const Family* FindFamily(const std::string& key) {
    for (const auto& f : Families())
        if (key == f.key) return &f;
    return nullptr;
}

SoakCase MakeCase(const Family& family, uint64_t seed) {
    // One random source per case, apart for every family.
    uint64_t mix = seed * 0x9E3779B97F4A7C15ull;
    for (const char* p = family.key; *p; ++p) mix = (mix ^ static_cast<uint8_t>(*p)) * 0x100000001B3ull;
    Rng rng(mix);
    SoakCase c;
    c.family = family.key;
    c.seed = seed;
    c.kind = family.kinds[static_cast<size_t>(rng.range(0, static_cast<int>(family.kinds.size()) - 1))];
    c.chip = family.chips[static_cast<size_t>(rng.range(0, static_cast<int>(family.chips.size()) - 1))];
    family.makeCase(c, rng);
    c.faultFree = c.selector;
    applyKind(family, c, rng);
    return c;
}

SoakResult RunCase(const Family& family, const SoakCase& c, const std::function<void(const std::string&)>& trace) {
    std::snprintf(g_current, sizeof g_current, "%s", c.describe().c_str());
    SoakResult r;
    r.c = c;
    const int fdsBefore = OpenFileDescriptors();
    const int threadsBefore = Threads();
    {
        auto chip = buildChip(c.selector + ",seed=" + std::to_string(c.seed));
        std::copy(c.oldFlash.begin(), c.oldFlash.end(), chip->flash().begin());
        if (trace) chip->setTrace(trace);
        SoakHost host(*chip);
        host.recordWire = true;
        if (c.splitChance > 0) host.splitReads(c.splitChance, c.seed);
        // A protocol that never gives up is stopped well past its bound, so
        // that the soak goes on and reports it.
        host.cancelAfterSeconds = family.bound(c, RunCost{}) + 120;

        alarm(120);
        const DownloadReport report = family.download(host, c);
        alarm(0);

        RunCost cost;
        cost.pauseSeconds = host.pausedSeconds + host.lineWaitSeconds;
        cost.hostWireSeconds = host.hostWireSeconds();
        r.bound = family.bound(c, cost);
        r.elapsed = host.elapsedSeconds();
        r.log = host.log;
        QStringList lines = host.log;
        lines += host.messages;
        const QString stage = stageOf(family, lines);
        const bool successLine = host.log.contains(kSuccessWritten) && host.log.contains(kSuccessDone);
        const auto& flash = chip->flash();
        std::string difference;
        std::vector<size_t> differing;
        for (qsizetype i = 0; i < c.image.size(); ++i) {
            const size_t at = c.flashOffset + static_cast<size_t>(i);
            const int have = at < flash.size() ? flash[at] : -1;
            if (have == static_cast<uint8_t>(c.image[i])) continue;
            differing.push_back(at);
            if (difference.empty()) {
                char text[96];
                std::snprintf(text, sizeof text, "first difference at 0x%04llX: image %02X, flash %02X",
                              static_cast<long long>(at), static_cast<uint8_t>(c.image[i]), have);
                difference = text;
            }
        }
        const bool flashRight = differing.empty();
        auto violation = [&](const std::string& what, const std::string& detail = {}) {
            r.violations.push_back(detail.empty() ? what : what + ": " + detail);
        };

        r.success = report.success;
        r.stage = report.success ? QStringLiteral("success") : stage;
        if (report.success && !flashRight) {
            // Undetectable only when frames altered past their checksum
            // account for every wrong byte.
            const auto altered = family.unseenWireErrors(c, *chip);
            const bool explained = std::all_of(differing.begin(), differing.end(), [&](size_t at) {
                return std::any_of(altered.begin(), altered.end(),
                                   [at](const auto& range) { return at >= range.first && at < range.second; });
            });
            if (explained)
                r.stage = QStringLiteral("undetectable");
            else
                violation("success over a wrong flash", difference);
        }
        if (report.success)
            if (const std::string missing = family.missingAfterSuccess(c, *chip); !missing.empty())
                violation("success, yet", missing);
        if (report.success != successLine)
            violation(report.success ? "success without the success lines" : "success lines in a failed download");
        if (report.success && !stage.isEmpty()) violation("success with a failure line (" + stage.toStdString() + ")");
        if (!report.success && stage.isEmpty()) violation("failure without a line naming the stage");
        if (r.elapsed > r.bound)
            violation("past its bound", number(r.elapsed, 4) + " s, bound " + number(r.bound, 4) + " s");
        if (host.portOpen()) violation("the port was left open");
        if (!host.progress.empty() && host.progress.back() != 0) violation("progress not back at 0", std::to_string(host.progress.back()));
        if (host.callsAfterEnd > 0) violation("used the port after ending the download");
        if (c.kind == FaultKind::LostCopy && report.success) {
            // The lost copy costs its resend: the resend interval, the copy's
            // wire time and the chip's other write time -- not a wait and a
            // second copy for every block after it.
            auto twin = buildChip(c.faultFree + ",seed=" + std::to_string(c.seed));
            std::copy(c.oldFlash.begin(), c.oldFlash.end(), twin->flash().begin());
            SoakHost clean(*twin);
            family.download(clean, c);
            if (r.elapsed > clean.elapsedSeconds() + lostCopySeconds(report.baud))
                violation("a lost copy cost more than its resend",
                          number(r.elapsed, 4) + " s, without the loss " + number(clean.elapsedSeconds(), 4) + " s");
        }
    }
    if (OpenFileDescriptors() != fdsBefore)
        r.violations.push_back("file descriptors leaked: " + std::to_string(fdsBefore) + " before, " +
                               std::to_string(OpenFileDescriptors()) + " after");
    if (Threads() != threadsBefore)
        r.violations.push_back("threads leaked: " + std::to_string(threadsBefore) + " before, " +
                               std::to_string(Threads()) + " after");
    g_current[0] = '\0';
    return r;
}

// ---------------------------------------------------------------------------

void Tally::add(const SoakResult& r) {
    ++runs_;
    virtualSeconds_ += r.elapsed;
    if (r.bound > 0) worstShare_ = std::max(worstShare_, r.elapsed / r.bound);
    const QString outcome = r.violations.empty() ? r.stage : QStringLiteral("VIOLATION");
    ++counts_[{r.c.kind, outcome}];
    for (const auto& v : r.violations) ++violationCounts_[v.substr(0, v.find(':'))];
    if (!r.violations.empty()) bad_.push_back(r);
}

std::string Tally::report(uint64_t firstSeed) const {
    // Columns: success, each stage in the family's order, violations.
    std::vector<QString> columns = {QStringLiteral("success"), QStringLiteral("undetectable")};
    for (const StageLine& s : family_.stages) {
        const QString name = QString::fromUtf8(s.stage);
        if (std::find(columns.begin(), columns.end(), name) == columns.end()) columns.push_back(name);
    }
    columns.push_back(QStringLiteral("VIOLATION"));

    std::ostringstream o;
    o << family_.title << ": " << runs_ << " runs, seeds " << firstSeed << ".." << firstSeed + runs_ - 1 << ", "
      << std::fixed << std::setprecision(1) << virtualSeconds_ << " s of virtual time; longest run "
      << std::setprecision(0) << worstShare_ * 100 << " % of its bound\n";
    o << std::left << std::setw(18) << "fault kind" << std::right << std::setw(6) << "runs";
    for (const QString& col : columns) o << std::setw(std::max<int>(9, col.size() + 2)) << col.toStdString();
    o << '\n';
    std::map<QString, int> totals;
    int all = 0;
    for (FaultKind kind : family_.kinds) {
        int runs = 0;
        for (const QString& col : columns) {
            auto it = counts_.find({kind, col});
            if (it != counts_.end()) runs += it->second;
        }
        all += runs;
        o << std::left << std::setw(18) << FaultKindName(kind) << std::right << std::setw(6) << runs;
        for (const QString& col : columns) {
            auto it = counts_.find({kind, col});
            const int n = it == counts_.end() ? 0 : it->second;
            totals[col] += n;
            o << std::setw(std::max<int>(9, col.size() + 2)) << n;
        }
        o << '\n';
    }
    o << std::left << std::setw(18) << "all" << std::right << std::setw(6) << all;
    for (const QString& col : columns) o << std::setw(std::max<int>(9, col.size() + 2)) << totals[col];
    o << '\n';
    if (totals[QStringLiteral("undetectable")] > 0)
        o << "  undetectable: success over a wrong flash, explained by data frames the chip took although the wire\n"
             "  had altered them past their checksum (bit errors that cancel in the sum; no host can see them)\n";
    for (const auto& [what, n] : violationCounts_) o << "  " << n << " x " << what << '\n';
    for (const SoakResult& r : bad_) {
        o << "VIOLATION " << r.c.describe() << '\n';
        for (const auto& v : r.violations) o << "  - " << v << '\n';
        o << "  log (last lines):\n";
        for (qsizetype i = std::max<qsizetype>(0, r.log.size() - 6); i < r.log.size(); ++i)
            o << "    " << r.log[i].left(160).toStdString() << '\n';
        o << "  again: talvo_soak --family " << r.c.family << " --seed " << r.c.seed << " --verbose\n";
    }
    return o.str();
}

int OpenFileDescriptors() { return countEntries("/proc/self/fd"); }
int Threads() { return countEntries("/proc/self/task"); }

void InstallCrashReport() {
    for (int sig : {SIGSEGV, SIGABRT, SIGFPE, SIGBUS, SIGILL, SIGALRM}) std::signal(sig, onFatalSignal);
}

} // namespace talvo::soak
