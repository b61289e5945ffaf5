#pragma once
// One download as the chip-type list chooses it: the STC download (CMcuType)
// for an STC entry and for no selection, the STM32 download for "ARM-STM32".

#include <QByteArray>

#include <cstdint>

#include "protocol/CMcuType.h"
#include "protocol/DownloadHost.h"
#include "protocol/Stm32Session.h"

namespace talvo::protocol {

struct DownloadJob {
    int chipType = 0;                              // index in the chip-type list (-1: no selection)
    QByteArray image;                              // the firmware, byte N at `address` + N
    bool lowSpeed = false;                         // STC: "低速下载"
    uint8_t stcDriverParameter = kStcDriverAccepted;
    bool stcAuto = false;                          // STC: the family from the status frame (`--chip auto`)
    double stcUserHz = 0;                          // STC15/STC8: the RC's target (0: as the chip runs now)
    uint32_t stcBaud = 0;                          // STC: the transfer rate asked for (0: the speed mode's)
    bool verify = false;                           // STM32: read every written block back
    uint32_t address = kStm32FlashBase;            // STM32: where the image's first byte goes
    bool massErase = false;                        // STM32: erase the whole flash first
    bool unprotect = false;                        // STM32: remove a read protection (erases the chip)
    bool go = false;                               // STM32: start the application with Go afterwards
    uint32_t stm32Baud = kStm32DefaultBaud;        // STM32: the line rate
};

DownloadReport RunDownload(DownloadHost& host, const DownloadJob& job);

} // namespace talvo::protocol
