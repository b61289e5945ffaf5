#include "platform/Wire.h"

#include <cmath>
#include <vector>

namespace talvo {

namespace {

double stopBitCount(uint8_t stopBits) {
    switch (stopBits) {
    case 1: return 1.5;
    case 2: return 2.0;
    default: return 1.0;
    }
}

// Level of the parity bit for `value` under DCB parity `parity` (0 = none).
bool parityLevel(uint8_t value, uint8_t dataBits, uint8_t parity) {
    int ones = 0;
    for (int i = 0; i < dataBits; ++i) ones += (value >> i) & 1;
    switch (parity) {
    case 1: return (ones % 2) == 0; // odd: total ones odd
    case 2: return (ones % 2) == 1; // even: total ones even
    case 3: return true;            // mark
    case 4: return false;           // space
    default: return true;
    }
}

} // namespace

double LineSettings::bitsPerChar() const {
    return 1.0 + dataBits + (parity != 0 ? 1.0 : 0.0) + stopBitCount(stopBits);
}

std::chrono::nanoseconds LineSettings::charTime() const {
    if (baud == 0) return std::chrono::nanoseconds(0);
    return std::chrono::nanoseconds(static_cast<int64_t>(std::llround(bitsPerChar() * 1e9 / baud)));
}

UartChar uartReceive(uint8_t byte, const LineSettings& sender, const LineSettings& receiver, double tolerance) {
    UartChar out;
    if (sender.baud == 0 || receiver.baud == 0) return out;

    // The sender's waveform in its own bit slots: start (0), data LSB first,
    // optional parity, stop bits (1), then idle (1).
    std::vector<bool> slots;
    slots.push_back(false);
    for (int i = 0; i < sender.dataBits; ++i) slots.push_back((byte >> i) & 1);
    if (sender.parity != 0) slots.push_back(parityLevel(byte, sender.dataBits, sender.parity));
    const double ratio = static_cast<double>(receiver.baud) / sender.baud;
    const bool sameFraming = sender.parity == receiver.parity && sender.dataBits == receiver.dataBits;
    if (sameFraming && std::fabs(ratio - 1.0) <= tolerance) {
        out.received = true;
        out.value = static_cast<uint8_t>(byte & ((1u << receiver.dataBits) - 1));
        return out;
    }

    const double tSender = 1.0 / sender.baud;
    const double tReceiver = 1.0 / receiver.baud;
    auto levelAt = [&](double t) {
        const auto slot = static_cast<size_t>(t / tSender);
        return slot < slots.size() ? slots[slot] : true; // stop bits and idle are high
    };
    // The receiver saw the falling edge at t = 0; it checks the start bit in
    // its middle and then samples every following bit in its middle.
    if (levelAt(0.5 * tReceiver)) return out; // false start: nothing received
    uint8_t value = 0;
    for (int i = 0; i < receiver.dataBits; ++i)
        if (levelAt((1.5 + i) * tReceiver)) value |= static_cast<uint8_t>(1u << i);
    int next = 1 + receiver.dataBits;
    if (receiver.parity != 0) {
        const bool p = levelAt((0.5 + next) * tReceiver);
        out.parityError = p != parityLevel(value, receiver.dataBits, receiver.parity);
        ++next;
    }
    // Beyond the tolerance the receiver's timing margin is spent (start-bit
    // detection jitter and the sampling window take the rest): even where the
    // ideal sampler above happened to read the bits right, the character is
    // lost to a framing error.
    const bool outOfTolerance = std::fabs(ratio - 1.0) > tolerance;
    out.framingError = outOfTolerance || !levelAt((0.5 + next) * tReceiver);
    out.received = true;
    out.value = value;
    return out;
}

} // namespace talvo
