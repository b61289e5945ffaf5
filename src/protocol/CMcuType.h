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
#include "protocol/StcModernAnswers.h"
#include "protocol/StcModernStatus.h"
#include "protocol/StcTrim.h"

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
    // The family comes from the status frame (`talvo download --chip auto`):
    // the status is read on 8N1, which every family's first frame passes.
    bool autoFamily = false;
    // STC15/STC8: the frequency to trim the RC oscillator to, in Hz; 0 keeps
    // the frequency the chip runs at now (its status frame says which).
    double userHz = 0;
    // The transfer rate asked for (`--baud`); 0: the speed mode's.
    uint32_t transferBaud = 0;
    // The handshake rate; 0: the speed mode's.  (Real captures were taken
    // at 2400 and 9600: their replays use those.)
    int handshakeBaud = 0;
    // STC15A: program at 22.1184 MHz (true) or 11.0592 MHz; unset: 22.1184
    // MHz, or 11.0592 MHz in low-speed mode.
    std::optional<bool> stc15aHighSpeed;
};

// The transfer rate of the modern families when none is asked for: 115200
// (every STC15 and STC8 part takes it), and in low-speed mode the handshake
// rate of that mode.
inline constexpr uint32_t kStcModernHighSpeedBaud = 115200;

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
// A status frame's payload holds at least the model code (bytes 20-21) and
// the byte after it.
inline constexpr int kStcStatusMinimumBytes = 23;
// The modern families (100 ms ticks): a calibration round's answer (pulses
// are sent again every kStcPulseRepeatTicks until it begins); the erase
// (3.5 s captured on a 61 KB part); a block; every other answer.
inline constexpr int kStcCalibrationTicks = 20;
inline constexpr int kStcPulseRepeatTicks = 5;
inline constexpr int kStcEraseTicks = 150;
inline constexpr int kStcModernBlockTicks = 30;
inline constexpr int kStcModernReplyTicks = 60;
// The pause between the STC15's answer to its switch frame and the new
// rate: the chip changes its rate once its answer has left.
inline constexpr int kStcModernSwitchPauseMs = 100;

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
    // Takes a chip frame as the status frame when it is one (of checksum
    // form `form`).
    bool TakeStatus(const StcChipFrame& frame, int form);
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

    // ---- The chip that answered ---------------------------------------------------
    // The status frame's chip against the chip type: with auto, the family
    // row is taken from it; a chip of another protocol stops the download
    // here naming it and the chip type to choose.
    bool IdentifyChip();
    // "型号 ...，程序空间 ... KB，EEPROM ... KB" for a known model code.
    void ReportModel();

    // ---- Steps of the modern families (STC15A, STC15, STC8) ---------------------
    bool RunModernDownload();
    bool ModernChooseTarget();
    bool ModernHandshake();      // STC15A: 50 -> 8F
    bool ModernCalibrate();
    bool Calibrate15a();
    bool Calibrate15();
    bool Calibrate8();
    bool ModernChooseRate();
    bool ModernSwitch();
    bool ModernPrepare();        // 05 -> 05 (0F: locked)
    bool ModernErase();
    bool ModernWrite();
    bool ModernFinish();         // 69 -> 8D, or 07 -> 07 54
    bool ModernOptions();
    void ModernLeave();
    // One calibration round: the frame, then pulses until the answer; the
    // counts, one per challenge, or nullopt (the download ended).
    std::optional<std::vector<uint16_t>> CalibrationRound(const std::vector<StcTrim>& challenges, int slotCount);
    // Sends the payload in a modern frame and waits up to `ticks` for the
    // chip's answer to `step`; the answer's payload, or nullopt with the
    // failure line logged (`failLine`).
    std::optional<StcModernAnswer> ModernExchange(StcModernStep step, const QByteArray& payload, int ticks,
                                                  const QString& failLine, bool send = true);
    // The marker 00 00 5A A5 after a command byte where the bootloader takes it.
    QByteArray WithMarker(uint8_t command, const char* withoutMarker = "") const;
    int ModernBlockSize() const;

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
    bool IsModernProtocol(StcModernFamily f) const { return Modern && Modern->family == f; }
    bool IsStc8Protocol() const { return Modern && Modern->family != StcModernFamily::Stc15a && Modern->family != StcModernFamily::Stc15; }

    DownloadHost& Host;
    const StcOptions Options;
    const StcFamily* Family; // null: the chip-type entry has no STC family (auto: until the status frame)
    std::vector<QByteArray> Blocks;
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
    uint8_t LineParity = kParityNone;  // the parity the port is set to
    QByteArray StatusPayload;          // the status frame's payload as received
    int StatusForm = 0;                // its checksum form

    // ---- The modern families' state ---------------------------------------------------
    std::optional<StcModernStatus> Modern;
    double TargetHz = 0;          // the user frequency to trim to
    double ReachedHz = 0;         // what the chosen trim makes
    StcTrim UserTrim, ProgramTrim;
    int Divider = 1;              // STC8
    double ProgramHz = 0;         // the clock the chip programs at (measured where known)
    bool Stc15aHigh = true;
    long SwitchReload = 0;
    uint16_t SwitchReload2 = 0;   // STC15 without a UART
    QByteArray Uid;
};

} // namespace talvo::protocol
