#pragma once
// The conversation with an STM32 system bootloader that every STM32
// operation (download, read-out, read protection) shares: the port and the
// reset lines, the start byte, one command and its reply, identification
// through the chip table, read protection (found, and removed on request),
// Read Memory, and the end of a session.  Internal to the protocol library.
//
// A failing step logs its lines, ends the download on the host and returns
// false; its caller stops at once.

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

#include "protocol/DownloadHost.h"
#include "protocol/Stm32Session.h"
#include "protocol/Stm32Frames.h"
#include "protocol/Stm32Parts.h"

namespace talvo::protocol::stm32 {

// What a step is called in the line that reports its refusal, and why a chip
// refuses it.
struct Refusal {
    QString step;
    QString cause;
};

// "0x08000A00", "0x5A": addresses and bytes as the chip's manuals write them.
QString Hex8(uint32_t v);
QString Hex2(uint8_t v);
// "0x08004000 至 0x08004BB7": the addresses from `first` up to (not including) `end`.
QString Span(uint64_t first, uint64_t end);

class Stm32Link {
public:
    Stm32Link(DownloadHost& host, uint32_t baud);

    DownloadHost& host() { return host_; }
    Stm32Report& report() { return report_; }
    uint32_t baud() const { return baud_; }

    // ---- Failures ---------------------------------------------------------------------
    // Ends the download and logs `lines`; the last one names what failed.
    bool Fail(const QStringList& lines);
    // A wait that ended without the awaited reply; `stageLine` is the line
    // the stage reports a failure with.
    bool FailWait(WaitResult result, const QString& stageLine, bool diagnose);
    bool Cancelled() { return Fail({QCoreApplication::translate("Stm32Link", "下载已取消")}); }
    // Ends the session after the chip refused `refusal`'s step.
    bool Refused(const Refusal& refusal);
    // Said last when a command is refused meanwhile ("" : nothing).
    void SetRefusalNote(const QString& note) { refusalNote_ = note; }

    // ---- Commands ---------------------------------------------------------------------
    // How long the receiver lets a reply of `bytes` bytes settle after its
    // acknowledge, at the session's rate.
    int SettleMs(int bytes) const;
    // Ticks that `bytes` take on the line at the session's rate (whole ticks).
    int WireTicks(int bytes) const;
    // Sends `bytes` and waits for the acknowledge and `length` reply bytes (0:
    // a list reply).  A refusal ends the download at once; so does a reply
    // that does not come within `ticks` (plus its wire time).
    bool Command(const QByteArray& bytes, int length, const Refusal& refusal, int ticks = kCommandTicks);
    bool Command(Stm32Code code, int length, const Refusal& refusal) {
        return Command(Stm32CommandBytes(code), length, refusal);
    }
    // Like Command, but a refusal returns false without ending anything:
    // *refused says which happened.  A reply that does not come ends the
    // session with `stageLine` (and the connect diagnosis when `diagnose`).
    bool Ask(const QByteArray& bytes, int length, int ticks, bool* refused, const QString& stageLine,
             bool diagnose = true);
    bool Ask(const QByteArray& bytes, int length, int ticks, bool* refused);
    // A command and the address it works at (Read Memory, Write Memory, Go).
    bool CommandAt(Stm32Code code, const QString& verb, uint32_t address, const QString& addressCause);
    // Read Memory of `count` (1 to 256) bytes at `address` into reply()
    // (acknowledge first).
    bool ReadMemory(uint32_t address, int count);
    // The last accepted reply, acknowledge first.
    const QByteArray& reply() const { return reply_; }

    // ---- Stages -----------------------------------------------------------------------
    // Opens the port, resets the chip into its bootloader and sends the start byte.
    bool Connect();
    // What identification does with a read-protected chip: end the session
    // (the protection line, then `protectedTail` in the same line), remove
    // the protection (the chip erases its whole flash) and go on, or say so
    // and go on (the flash size is not known then).
    enum class OnProtected { Refuse, Unprotect, Accept };
    // Get, Get ID, the table's entry, the flash size and the SRAM line.
    bool Identify(OnProtected onProtected, const QString& protectedTail = {});
    // Whether the Get reply offered `code`.
    bool Offers(Stm32Code code) const { return Stm32Offers(getReply_, code); }
    // Readout Protect (0x82): protection on; the chip resets, the session
    // syncs again and checks that reads are refused.
    bool Protect();
    // Logs `lines`, then releases the chip: BOOT0 low and out of reset
    // (unless the application was started with Go), the port closed.  The
    // session has succeeded.
    void Finish(const QStringList& lines, bool applicationStarted = false);

    // ---- What identification found ------------------------------------------------------
    const Stm32Part* part() const { return part_; }
    uint16_t pid() const { return pid_; }
    bool extendedErase() const { return extendedErase_; }
    // The flash size in KB (0 when not known) and the end of the flash (0 when not known).
    int flashKb() const { return flashKb_; }
    uint64_t flashEnd() const { return flashEnd_; }
    int writeUnit() const { return part_ ? part_->writeUnit : kStm32DefaultWriteUnit; }
    Stm32Layout layout() const;
    // Ticks a mass erase (or the erase of Readout Unprotect) may take.
    int MassEraseTicks() const;

    // Tick limits (100 ms ticks; a wait fails once the count passes its limit).
    static constexpr int kConnectTicks = 30; // the acknowledge of the start byte
    static constexpr int kCommandTicks = 40; // any command, address, count or page list
    static constexpr int kBlockTicks = 30;   // the acknowledge of a data block

private:
    enum class Access { Readable, Protected, Failed };
    // Sends the start byte once and waits for its answer.
    bool Sync();
    // Read Memory's command, sent again after a refusal: a chip that refuses
    // it three times in a row is read-protected.
    Access ReadAccess();
    // Reads the flash size, or (without a register to read) a word of the flash.
    bool ReadFlashSize();
    // Readout Unprotect (0x92): the chip erases its flash, then resets.
    bool Unprotect();
    // Two acknowledges: the command taken, the work done.
    bool DoubleAck(Stm32Code code, int ticks, const Refusal& refusal);
    QString ProtectionLine() const;

    DownloadHost& host_;
    const uint32_t baud_;
    Stm32Report report_;
    QByteArray reply_;
    QByteArray getReply_;
    QString refusalNote_;
    bool extendedErase_ = false;
    uint16_t pid_ = 0;
    const Stm32Part* part_ = nullptr;
    int flashKb_ = 0;
    uint64_t flashEnd_ = 0;
};

} // namespace talvo::protocol::stm32
