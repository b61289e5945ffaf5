#pragma once
// The STM32 system-bootloader download over the USART: connect, identify,
// erase what the image needs, write it in 256-byte blocks from 0x08000000,
// optionally read it back, and release the chip.

#include <QByteArray>

#include "protocol/DownloadHost.h"

namespace talvo::protocol {

struct Stm32Options {
    QByteArray image;     // the firmware, byte N at 0x08000000 + N
    bool verify = false;  // read every written block back and compare
};

DownloadReport DownloadStm32(DownloadHost& host, const Stm32Options& options);

} // namespace talvo::protocol
