#pragma once
// Process-wide values shared by the serial channel, its reader thread and the
// protocol steps.  Each is a single atomic word: one side writes, the other
// reads, no locks.

#include <atomic>

namespace talvo {

// The reader thread keeps running while non-zero.
extern std::atomic<int> IsFun;
// Set when a write has ended; cleared by every notification and every read.
// The reader notifies only while it is set.
extern std::atomic<int> IsStop;
// Pause in milliseconds before every read and before every notification.
extern std::atomic<int> ReplyDelayMs;
// Received data goes to the port loopback test instead of the main window.
extern std::atomic<bool> PortTestMode;

} // namespace talvo
