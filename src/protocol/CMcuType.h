#pragma once
// The STC protocol object: one download of an STC 8051 chip through its
// serial bootloader over a DownloadHost, from the port's open to the closing
// frames.  Its steps read in the order the download takes them; what differs
// between the families comes from the family's row (StcFamily.h).  One
// object serves one download and holds that download's state; nothing
// outlives it.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/ChipTypes.h"
#include "protocol/DownloadHost.h"
#include "protocol/StcClock.h"
#include "protocol/StcFamily.h"
#include "protocol/StcFrame.h"

namespace talvo::protocol {

// The driver parameter of the rate switch: 0x80 for a Prolific converter
// whose driver fails the driver check, 0x28 otherwise.
inline constexpr uint8_t kStcDriverAccepted = 0x28;
inline constexpr uint8_t kStcDriverRefused = 0x80;

struct StcOptions {
    int chipType = 1;       // index in the chip-type list (an entry without an STC family stops after the handshake)
    bool lowSpeed = false;  // "低速下载": the handshake and the download at the low-speed rate
    uint8_t driverParameter = kStcDriverAccepted;
    QByteArray image;       // the firmware from address 0
};

// Tick limits (100 ms ticks; a wait fails once the count passes its limit).
inline constexpr int kStcReplyTicks = 60;        // an answer to a frame
inline constexpr int kStcRtsTicks = 5;           // RTS held (chip unpowered) while the count is at most this
inline constexpr int kStcConnectTicks = 30;      // the status frame
inline constexpr int kStcPumpStallTicks = 32;    // the count passed this while events were served: the system stalled
inline constexpr int kStcBlockResendTicks = 8;   // a block unanswered this long is sent again
inline constexpr int kStcBlockTicks = 30;        // a block unanswered this long fails the transfer
// How much sooner a chip may answer one copy of a block than another: its
// write times differ by less.
inline constexpr int kStcAnswerSpreadTicks = 3;
// Pauses and reply delays (milliseconds).
inline constexpr int kStcFirstSwitchPauseMs = 20;   // before each re-open around the one-byte 8F frame
inline constexpr int kStcSecondSwitchPauseMs = 50;  // before the re-open after the one-byte 8E frame
inline constexpr int kStcTwoByteSwitchPauseMs = 10; // after the two-byte 8F frame
inline constexpr int kStcFixedSwitchSettleMs = 10;  // reply delay of the two-byte second switch step at low speed
inline constexpr int kStcTransferSettleMs = 5;      // reply delay of the block transfer
inline constexpr uint8_t kStcStatusEventChar = kStcChipDir;
inline constexpr uint8_t kStcReplyEventChar = kStcEnd;
// The one-byte families' control information goes this many times.
inline constexpr int kStcControlFrames = 5;

class CMcuType {
public:
    CMcuType(DownloadHost& host, StcOptions options);

    // The whole download.  Success leaves the port closed; a failure has
    // ended the download (the host idle again) or left the port for the
    // caller to stop, and its last log line names the step.
    DownloadReport RunStcDownload();

private:
    // ---- Steps, in the order of the download -------------------------------------
    bool OpenForHandshake();
    // Sync stream and RTS pulse until the status frame arrives.
    bool ConnectStc();
    // The chip-type entry has an STC family (no selection has none).
    bool CheckChipType();
    // The model's code flash, from the model table: an image larger than it
    // is refused here, before the rate switch and the erase; a model code the
    // table does not know gets one line and no limit.
    bool CheckImageFits();
    // The crystal and the rate from the status frame; false (download ended)
    // when no rate works for this crystal.
    bool MeasureAndChooseRate();
    // The family's switch parameters, rates and label, then its
    // switch-and-erase operation.
    bool SwitchForFamily();
    bool SwitchAndEraseForm1(const QByteArray& p);
    bool SwitchAndEraseForm2(const QByteArray& p1, const QByteArray& p2, const QByteArray& p3);
    bool SwitchAndEraseForm1Fixed(const QByteArray& p);
    bool SwitchAndEraseForm2Fixed(const QByteArray& p1, const QByteArray& p2, const QByteArray& p3);
    bool SendBlocks();
    bool SendClosingFrames();
    void Finish();

    // ---- Pieces of the switch-and-erase operations ---------------------------------
    // The two-byte variant's first step: the 50 frame answered, the 8F frame sent.
    bool PrepareForm2(const QByteArray& p1, const QByteArray& p2);
    bool SendControlInfo();
    bool EraseForm1();
    bool EraseForm2();

    // ---- Frames and waits --------------------------------------------------------------
    // Sends the frame (when `send`) and waits up to kStcReplyTicks for a
    // well-formed answer frame of the family's checksum form.  On failure the
    // download has been ended (and a lost port or a stop reported) when it
    // returns.
    bool Exchange(uint8_t command, const QByteArray& data, bool send, int form);
    void SendFrame(uint8_t command, const QByteArray& data, int form);
    // Ends the download after a wait that did not bring the answer: a lost
    // port or a stop gets its own line.  Returns false.
    bool FailWait(WaitResult result);
    // Logs the line that names the step that failed, unless the user stopped
    // the download: "下载已取消" stays its last line.  Returns false.
    bool StageFailed(const QString& line);
    // Closes the port, pauses, opens it again with the family's parity.
    bool Reopen(uint32_t baud, int pauseMs);
    // Re-configures the open port; a failure ends the download with one line.
    bool Configure(uint32_t baud);
    // The version line and the label.
    void ReportVersion();
    // The blocks that go to the chip: the image's blocks and the closing zero
    // block -- which stays away when it would lie at or beyond the end of the
    // model's code flash (the STC89C52RC's data EEPROM begins right there).
    int BlocksToSend() const;
    // The 256-byte pages the erase names: never beyond the code flash where
    // the model is known.
    uint8_t ErasePages() const;
    // The chip's two-byte model code, as the 50 and 80 frames carry it.
    QByteArray ModelCode() const;
    // The line settings of the handshake: the family's, or with no family
    // (no chip type selected) those of the STC89 row.
    const StcFamily& HandshakeFamily() const;
    int AnswerForm() const { return HandshakeFamily().checksumForm; }
    uint8_t Parity() const { return HandshakeFamily().parity; }

    DownloadHost& Host;
    const StcOptions Options;
    const StcFamily* const Family; // null: the chip-type entry has no STC family
    const std::vector<QByteArray> Blocks;
    DownloadReport Report;

    // ---- The download's state --------------------------------------------------------
    int HandshakeBaud = 0;
    uint8_t DriverParameter = kStcDriverAccepted;
    std::optional<StcStatus> Status;  // the status frame, once taken
    double CrystalMHz = 0;
    RateChoice Rate;
    uint32_t DownloadBaud = 0;
    uint32_t SwitchRate1 = 0, SwitchRate2 = 0, SwitchRate3 = 0, SwitchRate4 = 0;
    QString ModelLabel;
    uint32_t CodeFlashBytes = 0;      // the model's code flash; 0 when the table does not know its code
    // Blocks have gone out: a late acknowledge of one of them may still
    // arrive, and it is no answer to any other frame.
    bool WriteAnswersMayFollow = false;
    // The user stopped the download: no step adds its failure line.
    bool Stopped = false;
};

} // namespace talvo::protocol
