#pragma once
// The measurement behind `talvo-gui --measure-start`: when a window's first
// paint has been handled, one line on standard output
//   first paint: MS ms after the start, CPU MS ms, RSS KB kB (PLATFORM)
// and the window is closed as a user would close it.
//
// The start is the moment in TALVO_START_NS (CLOCK_MONOTONIC nanoseconds, set
// by a caller just before it starts the program), or else the process's start
// as the kernel records it (in steps of its clock tick, usually 10 ms).  CPU
// is the processor time spent until then, a figure that a busy machine
// hardly changes.

class QWidget;

namespace talvo::gui {

void MeasureFirstPaint(QWidget& window);

} // namespace talvo::gui
