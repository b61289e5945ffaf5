#pragma once
// The main window's front panel held in memory: a MemoryPanel whose combo
// boxes hold the window's initial lists, as the window's template gives them,
// for the command line's and the tests' main-window cores.

#include <QStringList>

#include "panel/MemoryPanel.h"

namespace talvo {

// The initial lists of the main window's combo boxes (unsorted).
QStringList InitialBaudItems();
QStringList InitialChipTypeItems();
QStringList InitialPortItems();

class MainWindowPanel : public MemoryPanel {
public:
    MainWindowPanel();
};

} // namespace talvo
