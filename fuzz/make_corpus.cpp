// Writes the seed corpora of the chip-input fuzz targets from what the
// simulated chips really send: for every STC model, several crystals, clock
// modes and both speed modes, and for every STM32 part with and without the
// read-back (and a read-protected chip unprotected, a mass erase, Go), a
// clean download in virtual time, its received bytes cut into the replies
// the host awaited (the STC status frame first); and the status frame as a
// host may also receive it (cut short, after noise).
// Each file is one settings byte, as the target reads it, and the bytes (for
// the whole download, the replies as FuzzChip.h sends them).
//
// The STC15A, STC15 and STC8 simulators likewise, with several user
// frequencies and transfer rates: the status payload, each answer with the
// request it answers, and the whole download.
//
// Usage: make_corpus FUZZDIR   (writes FUZZDIR/corpus-stc-status, -stc-answers, -stc-download,
//                               -stc-modern-status, -stc-modern-answers, -stc-modern-download,
//                               -stm32-fields and -stm32-download)
#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "FuzzChip.h"
#include "StcModernFuzz.h"
#include "protocol/CMcuType.h"
#include "protocol/DownloadJob.h"
#include "protocol/StcModernAnswers.h"
#include "protocol/Stm32Session.h"
#include "sim/Simulators.h"
#include "sim/StcChip.h"
#include "sim/StcModernChip.h"
#include "sim/VirtualHost.h"

using namespace talvo;

namespace {

int written = 0;

void writeSeed(const QString& dir, uint8_t settings, const QByteArray& bytes) {
    QByteArray content(1, static_cast<char>(settings));
    content += bytes;
    const QString name = QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha1).toHex());
    QFile f(dir + QLatin1Char('/') + name);
    if (f.exists()) return;
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size()) {
        std::fprintf(stderr, "make_corpus: cannot write %s\n", qPrintable(f.fileName()));
        std::exit(1);
    }
    ++written;
}

// The replies of one clean download: the chip's bytes between two frames of
// the host.  An STC frame begins with its start byte (sync bytes 7F go on
// during the status frame); the STM32 bootloader answers every send of the
// host (the start byte, a command, an address, a count, a page list, a data
// block) before the host sends again.
enum class Protocol { Stc, Stm32 };
std::vector<QByteArray> replies(const std::vector<sim::VirtualHost::WireByte>& wire, Protocol kind) {
    std::vector<QByteArray> out;
    QByteArray current;
    for (const auto& b : wire) {
        if (!b.fromHost) {
            current.append(static_cast<char>(b.value));
        } else if ((kind == Protocol::Stm32 || b.value == protocol::kStcStart0) && !current.isEmpty()) {
            out.push_back(current);
            current.clear();
        }
    }
    if (!current.isEmpty()) out.push_back(current);
    return out;
}

// A whole download as chunks (FuzzChip.h): each reply in pieces of at most 254 bytes.
QByteArray chunked(const std::vector<QByteArray>& replies) {
    QByteArray chunks;
    for (const QByteArray& reply : replies)
        for (qsizetype at = 0; at < reply.size(); at += 254) {
            const QByteArray piece = reply.mid(at, 254);
            chunks.append(static_cast<char>(piece.size())).append(piece);
        }
    return chunks;
}

// The step a request of the newer STC families is, by its command byte.
std::optional<protocol::StcModernStep> modernStep(bool stc15a, uint8_t command) {
    using S = protocol::StcModernStep;
    struct Row {
        uint8_t command;
        S step;
    };
    static const Row k15a[] = {{0x50, S::Handshake}, {0x65, S::Calibration}, {0x8E, S::Switch}, {0x84, S::Erase},
                               {0x00, S::Write},     {0x69, S::Finish},      {0x8D, S::Options}};
    static const Row kLater[] = {{0x00, S::Calibration}, {0x01, S::Switch}, {0x05, S::Prepare}, {0x03, S::Erase},
                                 {0x22, S::Write},       {0x02, S::Write},  {0x07, S::Finish},  {0x04, S::Options}};
    const Row* first = stc15a ? std::begin(k15a) : std::begin(kLater);
    const Row* last = stc15a ? std::end(k15a) : std::end(kLater);
    for (const Row* r = first; r != last; ++r)
        if (r->command == command) return r->step;
    return std::nullopt;
}

int familyBits(protocol::StcModernFamily family) {
    for (int i = 0; i < 5; ++i)
        if (fuzz::kModernFamilies[i] == family) return i;
    return 0;
}

// Seeds of the STC15A, STC15 and STC8 targets; false when a download that
// succeeded on the simulator does not replay to success from its replies.
bool modernSeeds(const QString& root, const QByteArray& image, int imageSteps) {
    const QString statusDir = root + QStringLiteral("/corpus-stc-modern-status");
    const QString answersDir = root + QStringLiteral("/corpus-stc-modern-answers");
    const QString downloadDir = root + QStringLiteral("/corpus-stc-modern-download");
    for (const QString& d : {statusDir, answersDir, downloadDir}) QDir().mkpath(d);
    // The chip's state, and the --freq / --baud indices of StcModernFuzz.h.
    const char* states[] = {"", ",freq=11.0592", ",freq=24", ",untrimmed"};
    const uint8_t choices[] = {0x00, 0x11, 0x22, 0x43, 0x34, 0x05};
    for (const sim::StcModernModel& model : sim::stcModernModels()) {
        const bool stc15a = model.protocol == sim::ModernProtocol::Stc15a;
        const bool stc8 = model.protocol == sim::ModernProtocol::Stc8 || model.protocol == sim::ModernProtocol::Stc8g;
        for (const char* state : states) {
            if (stc15a && std::string(state) == ",untrimmed") continue;
            for (const uint8_t choice : choices)
                for (bool lowSpeed : {false, true}) {
                    std::string error;
                    const std::string selector = model.name + state + ",seed=3";
                    auto c = sim::makeChip(selector, &error);
                    if (!c) {
                        std::fprintf(stderr, "make_corpus: %s\n", error.c_str());
                        return false;
                    }
                    protocol::DownloadJob job;
                    job.chipType = stc8 ? 6 : 5;
                    job.lowSpeed = lowSpeed;
                    job.image = image;
                    job.stcUserHz = fuzz::kModernFreqs[choice & 15] * 1e6;
                    job.stcBaud = fuzz::kModernBauds[choice >> 4];
                    sim::VirtualHost host(*c);
                    host.recordWire = true;
                    const bool ok = protocol::RunDownload(host, job).success;
                    const auto r = replies(host.wire, Protocol::Stc);
                    if (r.empty()) continue;
                    // The status payload, read as the family it names.
                    const auto status = protocol::ScanStcFrames(r.front(), 2, true);
                    if (status.frames.empty()) continue;
                    const QByteArray statusPayload = status.frames.front().payload;
                    const auto family = protocol::StcModernFamilyOfStatus(statusPayload);
                    if (!family) continue;
                    const int fam = familyBits(*family);
                    for (int rate = 0; rate < 4; ++rate)
                        if (fuzz::kModernHandshakes[rate] == static_cast<int>(model.statusBaud))
                            writeSeed(statusDir, static_cast<uint8_t>(fam | rate << 3), statusPayload);
                    // Each answer with the request it answers (the frames the chip took, in order).
                    std::vector<QByteArray> requests;
                    for (const sim::FrameRecord& f : c->frames())
                        if (f.accepted && f.bytes.size() >= 8)
                            requests.emplace_back(reinterpret_cast<const char*>(f.bytes.data()) + 5,
                                                  static_cast<qsizetype>(f.bytes.size() - 8));
                    for (size_t i = 1; i < r.size() && i - 1 < requests.size(); ++i) {
                        const QByteArray& request = requests[i - 1];
                        const auto step = modernStep(stc15a, static_cast<uint8_t>(request[0]));
                        const auto answer = protocol::ScanStcFrames(r[i], 2, false);
                        if (!step || answer.frames.empty() || request.size() > 255) continue;
                        writeSeed(answersDir, static_cast<uint8_t>(fam | static_cast<int>(*step) << 3),
                                  QByteArray(1, static_cast<char>(request.size())) + request +
                                      answer.frames.front().payload);
                    }
                    const QByteArray seed = chunked(r);
                    if (ok) {
                        fuzz::FuzzChip fuzzChip(reinterpret_cast<const uint8_t*>(seed.constData()),
                                                static_cast<size_t>(seed.size()));
                        fuzz::FuzzHost replay(fuzzChip);
                        if (!protocol::RunDownload(replay, job).success) {
                            std::fprintf(stderr, "make_corpus: the replies of %s do not replay to success: %s\n",
                                         selector.c_str(), qPrintable(replay.log.join(QLatin1Char('|'))));
                            return false;
                        }
                    }
                    const int settings = (stc8 ? 1 : 0) | (lowSpeed ? 2 : 0) | imageSteps << 2;
                    writeSeed(downloadDir, static_cast<uint8_t>(settings), QByteArray(1, static_cast<char>(choice)) + seed);
                }
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_corpus FUZZDIR\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    const QString statusDir = root + QStringLiteral("/corpus-stc-status");
    const QString answersDir = root + QStringLiteral("/corpus-stc-answers");
    const QString downloadDir = root + QStringLiteral("/corpus-stc-download");
    for (const QString& d : {statusDir, answersDir, downloadDir}) QDir().mkpath(d);

    struct Chip {
        const char* name;
        int chipType;
    };
    const Chip chips[] = {{"stc89c52rc", 1}, {"stc90c516", 4}, {"stc12c5a60s2", 3}, {"stc11f60", 2}};
    // Boards' crystals, and the ends of what the simulators take (counts near 0 and near 0xFFFF).
    const char* crystals[] = {"0.5", "6", "11.0592", "12", "16", "20", "24", "33", "100"};
    constexpr int kImageSteps = 4; // 257 bytes: two blocks, a part block and the zero block
    const QByteArray image = fuzz::fuzzImage(kImageSteps);

    for (const Chip& chip : chips) {
        for (const char* freq : crystals) {
            for (int clock : {12, 6}) {
                if (clock == 6 && std::string(chip.name) != "stc89c52rc") continue;
                for (bool lowSpeed : {false, true}) {
                    std::string error;
                    const std::string selector =
                        std::string(chip.name) + ",freq=" + freq + (clock == 6 ? ",clock=6" : "") + ",seed=3";
                    auto c = sim::makeChip(selector, &error);
                    if (!c) {
                        std::fprintf(stderr, "make_corpus: %s\n", error.c_str());
                        return 1;
                    }
                    sim::VirtualHost host(*c);
                    host.recordWire = true;
                    protocol::StcOptions o;
                    o.chipType = chip.chipType;
                    o.lowSpeed = lowSpeed;
                    o.image = image;
                    const bool ok = protocol::CMcuType(host, o).RunStcDownload().success;
                    const int family = protocol::ChipTypeAt(chip.chipType).stc()->familyCode;
                    const auto r = replies(host.wire, Protocol::Stc);
                    if (r.empty()) continue;
                    const uint8_t familyBit = family == 2 ? 1 : 0;
                    const uint8_t statusSettings = static_cast<uint8_t>(familyBit | (lowSpeed ? 2 : 0));
                    writeSeed(statusDir, statusSettings, r.front());
                    // As a host may also receive it: cut short, after the echo of the sync stream.
                    if (std::string(freq) == "11.0592") {
                        writeSeed(statusDir, statusSettings, r.front().left(r.front().size() / 2));
                        writeSeed(statusDir, statusSettings, QByteArray("\x7f\x7f\x7f", 3) + r.front());
                    }
                    writeSeed(answersDir, static_cast<uint8_t>(familyBit | 2), r.front());
                    for (size_t i = 1; i < r.size(); ++i)
                        writeSeed(answersDir, static_cast<uint8_t>(familyBit | ((i * 4) & 0xFC)), r[i]);
                    // Where the chip's own download succeeded, its replies must carry
                    // the target's download to its end too.
                    const QByteArray seed = chunked(r);
                    if (ok) {
                        fuzz::FuzzChip fuzzChip(reinterpret_cast<const uint8_t*>(seed.constData()),
                                                static_cast<size_t>(seed.size()));
                        fuzz::FuzzHost replay(fuzzChip);
                        if (!protocol::CMcuType(replay, o).RunStcDownload().success) {
                            std::fprintf(stderr, "make_corpus: the replies of %s do not replay to success: %s\n",
                                         selector.c_str(), qPrintable(replay.log.join(QLatin1Char('|'))));
                            return 1;
                        }
                    }
                    writeSeed(downloadDir,
                              static_cast<uint8_t>((chip.chipType - 1) | (lowSpeed ? 4 : 0) | (kImageSteps << 3)),
                              seed);
                }
            }
        }
    }
    if (!modernSeeds(root, image, kImageSteps)) return 1;
    // STM32.
    const QString stm32DownloadDir = root + QStringLiteral("/corpus-stm32-download");
    const QString stm32FieldsDir = root + QStringLiteral("/corpus-stm32-fields");
    for (const QString& d : {stm32DownloadDir, stm32FieldsDir}) QDir().mkpath(d);
    // Every simulated part with and without the read-back; a read-protected
    // one whose protection is removed; a mass erase; Go.
    const struct Stm32Run {
        const char* selector;
        bool unprotect, massErase, go;
    } stm32Runs[] = {
        {"stm32f103", false, false, false},    {"stm32f103hd", false, false, false},
        {"stm32f030", false, false, false},    {"stm32f401", false, false, false},
        {"stm32g071", false, false, false},    {"stm32l431", false, false, false},
        {"stm32f103,rdp", true, false, false}, {"stm32g071,rdp", true, false, false},
        {"stm32f401", false, true, false},     {"stm32l431", false, false, true},
    };
    for (const Stm32Run& run : stm32Runs) {
        const char* name = run.selector;
        for (bool verify : {false, true}) {
            std::string error;
            auto c = sim::makeChip(std::string(name) + ",seed=3", &error);
            if (!c) {
                std::fprintf(stderr, "make_corpus: %s\n", error.c_str());
                return 1;
            }
            sim::VirtualHost host(*c);
            host.recordWire = true;
            protocol::Stm32Options o;
            o.image = image;
            o.verify = verify;
            o.unprotect = run.unprotect;
            o.massErase = run.massErase;
            o.go = run.go;
            if (!protocol::DownloadStm32(host, o).success) {
                std::fprintf(stderr, "make_corpus: the download from %s failed\n", name);
                return 1;
            }
            const auto r = replies(host.wire, Protocol::Stm32);
            // The seed must carry the target's download to its end as the chip did.
            const QByteArray seed = chunked(r);
            fuzz::FuzzChip chip(reinterpret_cast<const uint8_t*>(seed.constData()), static_cast<size_t>(seed.size()));
            fuzz::FuzzHost replay(chip);
            if (!protocol::DownloadStm32(replay, o).success) {
                std::fprintf(stderr, "make_corpus: the replies of %s do not replay to success: %s\n", name,
                             qPrintable(replay.log.join(QLatin1Char('|'))));
                return 1;
            }
            const int settings = (verify ? 1 : 0) | (run.unprotect ? 2 : 0) | (run.massErase ? 4 : 0) |
                                 (run.go ? 8 : 0) | (kImageSteps << 4);
            writeSeed(stm32DownloadDir, static_cast<uint8_t>(settings), seed);
            for (const QByteArray& reply : r) writeSeed(stm32FieldsDir, reply.isEmpty() ? 0 : reply[0], reply.mid(1));
        }
    }

    std::printf("make_corpus: %d new seeds under %s\n", written, qPrintable(root));
    return 0;
}
