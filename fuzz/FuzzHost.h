#pragma once
// A download host whose chip is the fuzzer's input: every reply the protocol
// waits for is read from it, chunk by chunk, so that a whole download runs on
// whatever bytes a chip (or the line) might send -- cut, joined, garbled.
//
// The input is a sequence of chunks.  Each begins with a byte L: 0 is a wait
// that passes its tick limit with nothing more, 0xFF a port that goes away,
// any other value the next L bytes arriving (fewer when the input ends).  A
// wait takes chunks until its judge is satisfied; when the input is used up,
// every further wait times out.
#include <QStringList>

#include <algorithm>
#include <cstdint>

#include "FuzzCheck.h"
#include "protocol/DownloadHost.h"

namespace talvo::fuzz {

class FuzzHost : public protocol::DownloadHost {
public:
    FuzzHost(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    QStringList log;
    int endDownloads = 0;
    int sends = 0;
    bool open = false;
    int lastProgress = 0;
    bool progressInRange = true;

    bool OpenPort(uint32_t, uint8_t, uint8_t) override {
        open = true;
        return true;
    }
    void ClosePort() override { open = false; }
    bool ConfigurePort(uint32_t, uint8_t, uint8_t, QString*) override { return open; }
    void StartReader() override {}
    bool SetRts(bool) override { return open; }
    bool SetDtr(bool) override { return open; }
    void SetReplyDelay(int) override {}
    QString PortName() const override { return QStringLiteral("fuzz"); }

    bool Send(const QByteArray&, bool keepReceived) override {
        ++sends;
        if (!keepReceived) received_.clear();
        return open;
    }
    QByteArray Received() const override { return received_; }
    void ForgetReceived() override { received_.clear(); }
    void StartSync() override {}
    void StopSync() override {}

    void ResetTicks() override { ticks_ = 0; }
    int Ticks() const override { return ticks_; }
    protocol::WaitResult Wait(int tickLimit, const protocol::ReplyJudge& judge) override {
        for (;;) {
            if (judge && judge(received_)) return protocol::WaitResult::Replied;
            if (ticks_ > tickLimit) return protocol::WaitResult::TimedOut;
            if (at_ >= size_) {
                ticks_ = tickLimit + 1;
                continue;
            }
            const uint8_t length = data_[at_++];
            if (length == 0) {
                ticks_ = tickLimit + 1;
            } else if (length == 0xFF) {
                open = false;
                return protocol::WaitResult::PortLost;
            } else {
                const size_t n = std::min<size_t>(length, size_ - at_);
                received_.append(reinterpret_cast<const char*>(data_ + at_), static_cast<qsizetype>(n));
                at_ += n;
                ++ticks_; // time passes while bytes arrive
            }
        }
    }
    bool Pause(int) override { return true; }

    void EndDownload() override {
        ++endDownloads;
        ticks_ = 0;
        open = false;
        lastProgress = 0;
    }
    void Log(const QString& line) override { log << line; }
    void Progress(int position) override {
        lastProgress = position;
        progressInRange = progressInRange && position >= 0 && position <= 1024;
    }
    void Message(const QString& text) override { log << text; }
    QString ConnectDiagnosis() const override { return QStringLiteral("(connect diagnosis)"); }
    QString PortDiagnosis() const override { return QStringLiteral("(port diagnosis)"); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
    QByteArray received_;
    int ticks_ = 0;
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
inline void checkDownloadEnd(const FuzzHost& host, bool success) {
    const QString indent(39, QLatin1Char(' '));
    const bool successLines = host.log.contains(indent + QStringLiteral("数 据 下 载 成 功!")) &&
                              host.log.contains(indent + QStringLiteral("文 件 下 载 完 毕!"));
    require(success == successLines);
    require(!host.open);
    require(host.progressInRange && host.lastProgress == 0);
    if (!success) require(host.endDownloads > 0 && !host.log.isEmpty() && !host.log.last().trimmed().isEmpty());
}

} // namespace talvo::fuzz
