#pragma once
// The STM32 system-bootloader download over the USART, a session whose steps
// read in order: connect, identify, erase the pages the image lies in
// (keeping what else they hold), write the image in 256-byte blocks at its
// own addresses, optionally read it back, and release the chip.

#include <QByteArray>

#include <cstdint>

#include "protocol/DownloadHost.h"
#include "protocol/Stm32Frames.h"

namespace talvo::protocol {

struct Stm32Options {
    QByteArray image;                   // the firmware, byte N at `address` + N
    bool verify = false;                // read every written block back and compare
    uint32_t address = kStm32FlashBase; // where its first byte goes
};

DownloadReport DownloadStm32(DownloadHost& host, const Stm32Options& options);

} // namespace talvo::protocol
