#pragma once
// The wire trace: every byte written to and read from a serial device, with
// its direction, the time and the line settings in force, one line per
// transfer.  Off unless enabled by `--trace` (WireTrace::enable) or by the
// environment variable TALVO_TRACE (a file path, or "1" / "-" for standard
// error), which also reaches the window.
//
// Line format:
//   +SECONDS.MICROS DEVICE DIR SETTINGS: HEX BYTES
// for example
//   +0.012345 /dev/ttyUSB0 TX 1200 8N1: 7F 7F
//   +0.350120 /dev/ttyUSB0 RX 1200 8N1: 46 B9 68 00 ...
//   +0.000100 /dev/pts/3 -- note: pseudo-terminal: parity E not applied
// The time counts from the moment the trace was opened.

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

#include "platform/Wire.h"

namespace talvo {

class WireTrace {
public:
    // Name of the environment variable read at the first use.
    static constexpr const char* kEnvironmentVariable = "TALVO_TRACE";

    // Starts tracing to `target`: a file path (appended to), or "-" / "1" for
    // standard error.  Returns false with *error set when the file cannot be
    // opened.  An empty target stops tracing.
    static bool enable(const QString& target, QString* error = nullptr);
    static void disable();
    static bool enabled();
    // Takes "--trace" (standard error) or "--trace=PATH" out of `args` and
    // enables the trace; false with *error set when PATH cannot be opened.
    // Commands that open serial ports call it on their arguments.
    static bool takeOption(QStringList& args, QString* error);
    // Whether the trace is being written into the file at `path` (the same
    // file, also through links): commands refuse to trace into a file they read.
    static bool writesTo(const QString& path);

    // Called by the serial devices.
    static void bytes(const QString& device, const char* direction, const LineSettings& settings,
                      const uint8_t* data, size_t n);
    static void note(const QString& device, const QString& text);

    // "9600 8N1", "115200 8E1", "1200 7O1.5".
    static QString describe(const LineSettings& settings);
};

} // namespace talvo
