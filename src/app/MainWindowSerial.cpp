// Serial link and port list of the main window.
#include "app/MainWindowCore.h"

namespace talvo {

bool MainWindowCore::OpenPort(uint32_t, uint8_t, uint8_t) { return false; }
void MainWindowCore::ClosePort() {}
void MainWindowCore::SendHexText(const QString&) {}
void MainWindowCore::OnSerialData() {}
void MainWindowCore::StopChannel() {}
void MainWindowCore::RefreshPortList() {}
void MainWindowCore::StartPortWatch() {}
void MainWindowCore::StopPortWatch() {}
bool MainWindowCore::CheckDriverCompatibility() { return true; }
void MainWindowCore::OnPortSelected() {}

} // namespace talvo
