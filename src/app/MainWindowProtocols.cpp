// Entry points of the two protocol branches of a download.
#include "app/MainWindowCore.h"

namespace talvo {

// The STC download sequence (handshake, baud switch, erase, block transfer,
// closing frames) is not built yet: this branch does nothing, and the
// download command tidies up after it as after any other outcome.
void MainWindowCore::RunStcDownload() {}

// The STM32 system-bootloader download is not built yet: this branch does
// nothing, and the download command tidies up after it.
void MainWindowCore::DownloadStm32() {}

} // namespace talvo
