#pragma once
// The STC protocol object: one download of an STC 8051 chip through its
// serial bootloader, from the handshake to the closing frames, over a
// DownloadHost.  One object serves one download and holds that download's
// state (the status frame's fields, the measured crystal, the chosen rate,
// the switch rates); nothing outlives it.
//
// Its operations are defined one concern per file: frames and checksums
// (StcFrame.cpp), the handshake and the sequence (StcDownload.cpp), the four
// switch-and-erase operations (StcSwitch.cpp), the block transfer
// (StcTransfer.cpp).

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/ChipTypes.h"
#include "protocol/DownloadHost.h"
#include "protocol/StcClock.h"
#include "protocol/StcFrame.h"

namespace talvo::protocol {

struct StcOptions {
    int chipType = 1;                 // index in the chip-type list (1..4; others are refused after the handshake)
    bool lowSpeed = false;            // handshake at 4800, download at 4800
    QString driverParameter = QStringLiteral("28"); // "80" for a Prolific converter whose driver fails the check
    // The blocks to write, each 128 bytes: the image's blocks in address
    // order (the last padded with 00), then one block of zeros.
    std::vector<QByteArray> blocks;
    int imageBytes = 0;               // the image's own length, for the report
};

// Cuts an image into the blocks of StcOptions::blocks.
std::vector<QByteArray> StcBlocks(const QByteArray& image);

// Tick limits (100 ms ticks).
inline constexpr int kStcReplyTicks = 60;        // an answer to a frame
inline constexpr int kStcRtsTicks = 5;           // RTS held (chip unpowered) while the count is at most this
inline constexpr int kStcConnectTicks = 30;      // the status frame
inline constexpr int kStcPumpStallTicks = 32;    // the count passed this while events were served: the system stalled
inline constexpr int kStcBlockResendTicks = 8;   // a block unanswered this long is sent again
inline constexpr int kStcBlockTicks = 30;        // a block unanswered this long fails the transfer
// How much sooner a chip may answer one copy of a block than another: its
// write times differ by less.
inline constexpr int kStcAnswerSpreadTicks = 3;
// Rates and pauses.
inline constexpr int kStcHighSpeedHandshake = 1200;
inline constexpr int kStcLowSpeedHandshake = 4800;
inline constexpr int kStcHighSpeedSettleMs = 350; // reply delay during the handshake
inline constexpr int kStcLowSpeedSettleMs = 100;
inline constexpr int kStcTransferSettleMs = 5;
inline constexpr uint8_t kStcStatusEventChar = kStcChipDir;
inline constexpr uint8_t kStcReplyEventChar = kStcEnd;

class CMcuType {
public:
    // ---- Frames as HexText ------------------------------------------------------
    // Form 1: `text` begins with the start bytes; two lower-case digits.
    // Form 2: `text` begins with the direction byte; four lower-case digits.
    static QString Checksum(const QString& text, int form);
    // One whole frame; empty for a form other than 1 or 2.
    static QString BuildFrame(const QString& direction, const QString& command, const QString& data1,
                              const QString& data2, int form);

    CMcuType(DownloadHost& host, StcOptions options);

    // The whole download; the host is idle again afterwards or left for the
    // caller to stop (success leaves the port closed).
    DownloadReport RunStcDownload();

    // ---- Steps (the sequence calls them in this order) --------------------------
    // Sync stream and RTS pulse until the status frame arrives.
    bool ConnectStc();
    // The model's code flash, from the model table: an image larger than it
    // is refused here, before the rate switch and the erase; a model code the
    // table does not know gets one line and no limit.
    bool CheckImageFits();
    // The crystal and the rate from the status frame; false (download ended)
    // when no rate works for this crystal.
    bool MeasureAndChooseRate();
    bool SwitchForFamily(int chipType);
    bool SwitchAndEraseForm1(const QString& p);
    bool SwitchAndEraseForm2(const QString& p1, const QString& p2, const QString& p3);
    bool SwitchAndEraseForm1Fixed(const QString& p);
    bool SwitchAndEraseForm2Fixed(const QString& p1, const QString& p2, const QString& p3);
    bool SendBlocks(int form);
    bool SendClosingFrames();

    // Sends the frame (when `send`) and waits up to 60 ticks for a
    // well-formed answer frame of the family's checksum form.  On failure the
    // download has been ended (and a lost port or a stop reported) when it
    // returns.
    bool Exchange(const QString& command, const QString& data1, const QString& data2, bool send, int form);
    // The version line and the label.
    void ReportVersion(const QString& label);
    // Logs the line that names the step that failed, unless the user stopped
    // the download: "下载已取消" stays its last line.  Returns false.
    bool StageFailed(const QString& line);
    // The blocks that go to the chip: the image's blocks and the closing zero
    // block -- which stays away when it would lie at or beyond the end of the
    // model's code flash (the STC89C52RC's data EEPROM begins right there).
    int BlocksToSend() const;
    // The 256-byte pages the erase frame of checksum form `form` names:
    // never beyond the code flash where the model is known.
    uint8_t ErasePages(int form) const;

    // ---- The download's state ---------------------------------------------------
    int HandshakeBaud = kStcHighSpeedHandshake;
    int FamilyCode = 0;
    QString DriverParameter;
    std::optional<StcStatus> Status;  // the status frame, once taken
    double CrystalMHz = 0;
    RateChoice Rate;
    uint32_t DownloadBaud = 0;
    QString ReloadText;               // two lower-case digits
    uint32_t SwitchRate1 = 0, SwitchRate2 = 0, SwitchRate3 = 0, SwitchRate4 = 0;
    QString ModelLabel;
    uint32_t CodeFlashBytes = 0;      // the model's code flash; 0 when the table does not know its code

private:
    // Ends the download after a wait that did not bring the answer: a lost
    // port or a stop gets its own line.  Returns false.
    bool failWait(WaitResult result);
    // Closes the port, pauses, opens it again with the family's parity.
    bool reopen(uint32_t baud, int pauseMs);
    // Re-configures the open port; a failure ends the download with one line.
    bool configure(uint32_t baud);
    void send(const QString& frameText);
    QString modelCode() const;
    int answerForm() const { return StcFrameForm(FamilyCode); }
    uint8_t parity() const { return StcParity(FamilyCode); }

    DownloadHost& Host;
    StcOptions Options;
    // Blocks have gone out: a late acknowledge of one of them may still
    // arrive, and it is no answer to any other frame.
    bool WriteAnswersMayFollow = false;
    // The user stopped the download: no step adds its failure line.
    bool Stopped = false;
};

} // namespace talvo::protocol
