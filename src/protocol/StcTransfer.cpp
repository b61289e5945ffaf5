// The block transfer: one write frame per 128-byte block, each answered by
// the chip with the sum of the data it took; a block is sent again when its
// answer is late (or does not carry the right sum) and the transfer fails
// when it stays away.
#include <algorithm>

#include "protocol/CMcuType.h"

namespace talvo::protocol {

namespace {

// The write answer of the family for data with this sum.
bool isWriteAnswer(const StcChipFrame& f, int form, uint8_t sum) {
    return IsStcWriteAnswer(f, form) && static_cast<uint8_t>(f.payload[1]) == sum;
}

uint8_t dataSum(const QByteArray& block) {
    unsigned s = 0;
    for (char c : block) s += static_cast<uint8_t>(c);
    return static_cast<uint8_t>(s & 0xFF);
}

} // namespace

bool CMcuType::SendBlocks(int form) {
    Host.Log(QStringLiteral("正在下载数据,请稍侯... ..."));
    const int n = BlocksToSend();
    if (n < 1) return true;
    // The progress step counts the image blocks (the zero block after them
    // only fills the bar); a single block fills it at once.
    const int imageBlocks = static_cast<int>(Options.blocks.size()) - 1;
    const int step = imageBlocks > 0 ? 1024 / imageBlocks : 1024;
    const int answer = answerForm();
    auto answersWithSum = [answer](const QByteArray& received, uint8_t sum) {
        const StcScan scan = ScanStcFrames(received, answer);
        return static_cast<int>(std::count_if(scan.frames.begin(), scan.frames.end(),
                                              [&](const StcChipFrame& f) { return isWriteAnswer(f, answer, sum); }));
    };
    // The chip answers every copy of a block it takes, in order, and an
    // answer names only the data's sum.  A block sent again may therefore
    // still be answered after the next block has gone out; while the next
    // block has the same sum, that many answers do not count for it.
    WriteAnswersMayFollow = true;
    int previousMayStillAnswer = 0;
    uint8_t previousSum = 0;
    uint16_t address = 0;
    for (int i = 0; i < n; ++i) {
        Host.ResetTicks();
        const QByteArray frame = BuildStcWriteFrame(address, Options.blocks[static_cast<size_t>(i)], form);
        const uint8_t sum = dataSum(Options.blocks[static_cast<size_t>(i)]);
        const int notOurs = i > 0 && sum == previousSum ? previousMayStillAnswer : 0;
        auto acknowledged = [&](const QByteArray& received) { return answersWithSum(received, sum) > notOurs; };
        Host.Send(frame);
        int sends = 1;
        address = static_cast<uint16_t>(address + kStcBlockSize);
        int lastSend = 0;
        for (;;) {
            const WaitResult r = Host.Wait(std::min(lastSend + kStcBlockResendTicks, kStcBlockTicks), acknowledged);
            if (r == WaitResult::Replied) {
                // Answers of this block seen: at least those beyond the
                // previous block's; each other copy sent may still be answered.
                const int ours = std::max(0, answersWithSum(Host.Received(), sum) - notOurs);
                previousMayStillAnswer = std::max(0, sends - ours);
                previousSum = sum;
                break;
            }
            if (r != WaitResult::TimedOut) {
                failWait(r);
                return StageFailed(QStringLiteral("写数据失败，重试!"));
            }
            if (Host.Ticks() > kStcBlockTicks) {
                Host.EndDownload();
                return StageFailed(QStringLiteral("写数据失败，重试!"));
            }
            // The answers to the copies already sent still count.
            Host.Send(frame, true);
            ++sends;
            lastSend = Host.Ticks();
        }
        Host.Progress(std::min(1024, step * (i + 1)));
    }
    return true;
}

} // namespace talvo::protocol
