// Firmware image of the main window: loading, blocks, file choice and watch.
#include "app/MainWindowCore.h"

namespace talvo {

bool MainWindowCore::LoadFirmware(const QString&, const QString&) { return false; }
void MainWindowCore::BuildBlockTexts() {}
void MainWindowCore::OpenFirmwareFile() {}
QString MainWindowCore::FirmwareLoadFailedLine() const { return LastLoadError; }

} // namespace talvo
