#pragma once
// The STM32 system-bootloader operations over the USART:
//  - the download: connect, identify, erase the pages or sectors the image
//    lies in (keeping what else they hold) or, on request, the whole flash,
//    write the image in 256-byte blocks at its own addresses, optionally read
//    it back, and start the application with Go or release the chip;
//  - the read-out of a range of memory (by default the whole flash);
//  - Readout Protect and Readout Unprotect.
// A read-protected chip refuses reads and writes: every operation says so
// plainly, and its report carries the flag so that a front end can offer
// the removal (which erases the whole chip).

#include <QByteArray>

#include <cstdint>

#include "protocol/DownloadHost.h"
#include "protocol/Stm32Frames.h"

namespace talvo::protocol {

struct Stm32Options {
    QByteArray image;                   // the firmware, byte N at `address` + N
    bool verify = false;                // read every written block back and compare
    uint32_t address = kStm32FlashBase; // where its first byte goes
    bool massErase = false;             // erase the whole flash first, instead of the image's pages
    bool unprotect = false;             // a read-protected chip: remove the protection (erases the chip), go on
    bool go = false;                    // start the application at `address` with Go after the writes
    uint32_t baud = kStm32DefaultBaud;  // the bootloader measures it from the start byte
};

// A download's report, and what the session found about read protection.
// An STM32 operation's report; `readProtected` and `unprotected` say what it
// found of the chip's read protection.
using Stm32Report = DownloadReport;

Stm32Report DownloadStm32(DownloadHost& host, const Stm32Options& options);

struct Stm32ReadOptions {
    uint32_t address = kStm32FlashBase; // first byte to read
    uint32_t length = 0;                // bytes to read; 0: up to the end of the flash
    uint32_t baud = kStm32DefaultBaud;
};

struct Stm32ReadOut {
    Stm32Report report; // bytes: how many were read
    uint32_t address = kStm32FlashBase;
    QByteArray data; // the bytes from `address` on (complete only on success)
};

// Reads a range of the chip's memory, 256 bytes a read, with progress.
Stm32ReadOut ReadStm32(DownloadHost& host, const Stm32ReadOptions& options);

// Readout Protect (0x82): the flash can no longer be read or written over
// the bootloader; a chip already protected is left as it is.
Stm32Report ProtectStm32(DownloadHost& host, uint32_t baud = kStm32DefaultBaud);
// Readout Unprotect (0x92): the chip erases its whole flash and drops the
// protection; a chip without protection is left as it is.
Stm32Report UnprotectStm32(DownloadHost& host, uint32_t baud = kStm32DefaultBaud);

} // namespace talvo::protocol
