#pragma once
// Custom events that worker threads post to the user-interface thread's
// objects, numbered as window messages (WM_USER + n) offset into Qt's user
// event range.

#include <QEvent>

namespace talvo {

inline constexpr int kUserEventBase = QEvent::User;

// The serial reader saw the event character after a completed write.
inline constexpr QEvent::Type WM_SERIAL_DATA = static_cast<QEvent::Type>(kUserEventBase + 100);
// A USB serial port appeared or went away.
inline constexpr QEvent::Type WM_PORTS_CHANGED = static_cast<QEvent::Type>(kUserEventBase + 101);
// Loopback test data arrived (delivered synchronously to the test window).
inline constexpr QEvent::Type WM_PORTTEST_DATA = static_cast<QEvent::Type>(kUserEventBase + 102);

} // namespace talvo
