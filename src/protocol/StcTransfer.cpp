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

// Copies of the last block written that the chip may still answer, and how
// soon after the next block has gone out such an answer could come.
//
// Say the first answer seen belonged to the first copy and was seen as it
// arrived: the copies still unanswered went out at least one resend interval
// (the count at the first resend) after the first one, and the chip,
// answering them no faster than that one less the spread of its answer
// times, cannot answer them within that interval of the next block's send.
// An answer of the next block's sum that comes sooner is the next block's
// own, and the copies of the earlier block it waited for were lost -- the
// chip answers in order.  So a copy lost on the wire costs its resend and
// nothing more, while an answer that really comes late still does not count
// for the next block.  (An answer that was there before the last copy had
// gone out cannot belong to that copy: an earlier one was answered late, and
// the last copy's answer is still to come.)
struct EarlierCopies {
    int count = 0;       // copies that may still be answered
    uint8_t sum = 0;     // their data sum
    int quietTicks = -1; // the next block's count up to which none of their answers can arrive; -1: none known
    static EarlierCopies After(int sends, int answered, int firstResendTick, bool seenOnArrival, uint8_t sum) {
        EarlierCopies e;
        e.count = std::max(0, sends - answered);
        e.sum = sum;
        // Two ticks for the coarseness of the count at both ends, one for the
        // time between the acknowledgement and the next send.
        if (e.count > 0 && answered == 1 && firstResendTick > 0 && seenOnArrival)
            e.quietTicks = firstResendTick - kStcAnswerSpreadTicks - 3;
        return e;
    }
};

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
    // block has the same sum, that many answers do not count for it -- except
    // an answer that comes before any of those could (see EarlierCopies).
    WriteAnswersMayFollow = true;
    EarlierCopies earlier;
    uint16_t address = 0;
    for (int i = 0; i < n; ++i) {
        Host.ResetTicks();
        const QByteArray& block = Options.blocks[static_cast<size_t>(i)];
        const QByteArray frame = BuildStcWriteFrame(address, block, form);
        const uint8_t sum = dataSum(block);
        const bool alike = earlier.count > 0 && sum == earlier.sum;
        const int notOurs = alike ? earlier.count : 0;
        const int quietTicks = alike ? earlier.quietTicks : -1;
        int looks = 0;           // the judge's looks since the last copy went out
        int presentAtSend = -1;  // answers of this sum there when the first copy had gone out: not its own
        bool beforeEarlier = false; // answered while no earlier copy could be
        auto acknowledged = [&](const QByteArray& received) {
            const int answers = answersWithSum(received, sum);
            const bool arrivedSince = looks++ > 0;
            if (presentAtSend < 0) presentAtSend = answers;
            if (answers > notOurs) return true;
            if (arrivedSince && answers > presentAtSend && Host.Ticks() <= quietTicks) beforeEarlier = true;
            return beforeEarlier;
        };
        Host.Send(frame);
        int sends = 1;
        int firstResendTick = -1;
        address = static_cast<uint16_t>(address + kStcBlockSize);
        int lastSend = 0;
        for (;;) {
            looks = 0;
            const WaitResult r = Host.Wait(std::min(lastSend + kStcBlockResendTicks, kStcBlockTicks), acknowledged);
            if (r == WaitResult::Replied) {
                // Answers of this block seen: those that came after an
                // earlier copy's could no longer (see EarlierCopies), else
                // those beyond the earlier copies'.  Each other copy sent may
                // still be answered.
                const int answers = answersWithSum(Host.Received(), sum);
                const int ours = beforeEarlier ? answers - presentAtSend : std::max(0, answers - notOurs);
                earlier = EarlierCopies::After(sends, ours, firstResendTick, looks > 1, sum);
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
            if (firstResendTick < 0) firstResendTick = Host.Ticks();
            Host.Send(frame, true);
            ++sends;
            lastSend = Host.Ticks();
        }
        Host.Progress(std::min(1024, step * (i + 1)));
    }
    return true;
}

} // namespace talvo::protocol
