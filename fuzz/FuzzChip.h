// A chip whose answers are the fuzzer's input, behind the virtual-time host
// (sim/VirtualHost): the download runs as it ships -- the protocol session
// and a host that hands bytes on by the real host's rules (every arrival
// while a wait looks for its reply, the event character and the reply delay
// otherwise, a look at every tick, the line's time before a rate change) --
// on whatever a chip (or the line) might send: cut, joined, garbled.  Virtual
// time, no threads: thousands of whole downloads a second, each repeatable.
//
// The input is a sequence of chunks.  Each begins with a byte L: 0 leaves the
// wait under way unanswered (it runs into its tick limit), 0xFF pulls the
// converter out, any other value sends the next L bytes (fewer when the input
// ends).  The chip sends a chunk while the host waits, once the chunk before
// has arrived whole, at the host's line settings of that moment; a wait
// takes chunks until its judge is satisfied.  When the input is used up,
// every further wait times out.
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <optional>

#include "FuzzCheck.h"
#include "platform/Wire.h"
#include "sim/VirtualHost.h"

namespace talvo::fuzz {

class FuzzChip : public WirePeer {
public:
    FuzzChip(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    // The host whose waits the chip answers.
    void answer(const sim::VirtualHost& host) { host_ = &host; }

    void attach(WireLink* link) override { link_ = link; }
    void onHostByte(uint8_t, const LineSettings&, WireClock::time_point) override {}
    std::optional<WireClock::time_point> nextWake() const override {
        if (!host_ || !link_ || hungUp_ || at_ >= size_ || !host_->waiting()) return std::nullopt;
        if (host_->waitsBegun() == silentWait_) return std::nullopt;
        return std::max(link_->now(), freeAt_);
    }
    void onTimer(WireClock::time_point now) override {
        if (!nextWake() || now < freeAt_) return;
        const uint8_t length = data_[at_++];
        if (length == 0) {
            silentWait_ = host_->waitsBegun();
        } else if (length == 0xFF) {
            hungUp_ = true;
            link_->hangUp();
        } else {
            const size_t n = std::min<size_t>(length, size_ - at_);
            const LineSettings line = host_->hostSettings();
            link_->sendToHost(data_ + at_, n, line, now);
            at_ += n;
            // The next chunk waits until the judge has seen this one whole.
            freeAt_ = now + line.charTime() * static_cast<long>(n + 1);
        }
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
    const sim::VirtualHost* host_ = nullptr;
    WireLink* link_ = nullptr;
    WireClock::time_point freeAt_{};
    int silentWait_ = -1;
    bool hungUp_ = false;
};

// The virtual-time host, counting what the protocol sends.
class FuzzHost : public sim::VirtualHost {
public:
    explicit FuzzHost(FuzzChip& chip) : VirtualHost(chip, QStringLiteral("fuzz")) { chip.answer(*this); }
    int sends = 0;
    bool Send(const QByteArray& bytes, bool keepReceived = false) override {
        ++sends;
        return VirtualHost::Send(bytes, keepReceived);
    }
};

// The image of the whole-download targets: 1 + 64 * steps bytes of a fixed
// pattern (the corpus writer downloads the same, so that its acknowledges fit).
inline QByteArray fuzzImage(int steps) {
    QByteArray image(1 + 64 * steps, '\0');
    for (qsizetype i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 13 + 5);
    return image;
}

// What every download must come to, whatever the chip sent: success with
// its two lines and the port closed, or a failure that ended the download
// and said why; progress within its range and back at 0.
inline void checkDownloadEnd(const sim::VirtualHost& host, bool success) {
    const QString indent(39, QLatin1Char(' '));
    const bool successLines = host.log.contains(indent + QStringLiteral("数 据 下 载 成 功!")) &&
                              host.log.contains(indent + QStringLiteral("文 件 下 载 完 毕!"));
    require(success == successLines);
    require(!host.portOpen());
    require(std::all_of(host.progress.begin(), host.progress.end(), [](int p) { return p >= 0 && p <= 1024; }));
    require(host.progress.empty() || host.progress.back() == 0);
    if (!success) require(host.endDownloads > 0 && !host.log.isEmpty() && !host.log.last().trimmed().isEmpty());
}

} // namespace talvo::fuzz
