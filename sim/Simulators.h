#pragma once
// The chip simulators by name, and their hook into the serial layer's
// "sim:CHIP[,key=value...]" ports.
//
// A chip selector is "CHIP[,freq=MHZ][,clock=6|12][,scale=X][,tolerance=PCT][,drift=PCT]
// [,jitter=on|off|A:B:C:D:E:F:G:H][,idle=SECONDS][,reopen=SECONDS][,switchfloor=SECONDS]
// [,dump=FILE][,load=FILE[@ADDR]]...[,rdp][,faults=FAULT][,FAULT...]" where FAULT is one of the
// items of FaultSpec (a "faults=" prefix is optional, so "faults=drop=0.01,seed=7" works).
// load=FILE@ADDR puts the file's bytes into the flash at ADDR (the flash start
// without @ADDR) when the chip is made; rdp starts an STM32 read-protected.

#include <memory>
#include <string>
#include <vector>

#include "sim/SimChip.h"

namespace talvo::sim {

struct ChipListEntry {
    std::string name;
    std::string description;
};

std::vector<ChipListEntry> chipList();

// Builds the chip a selector names; null with *error set otherwise.
std::unique_ptr<SimChip> makeChip(const std::string& selector, std::string* error);
// Whether makeChip would build a chip from `selector` (*error says why not),
// without building it.
bool checkSelector(const std::string& selector, std::string* error);
// Parses the options part of a selector (without the chip name) into *options.
bool parseChipOptions(const std::vector<std::string>& items, ChipOptions* options, std::string* error);

// Makes the simulators available to makeSimPeer() ("sim:CHIP..." ports).
// Executables and tests call it once at start-up.
void registerSimulators();

} // namespace talvo::sim
