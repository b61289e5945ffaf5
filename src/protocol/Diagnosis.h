#pragma once
// The two troubleshooting texts that a download writes into the log: one
// when the chip does not answer, one when the port cannot be opened.  Each is
// one log entry of several lines.

#include <QString>

namespace talvo::protocol {

QString ConnectDiagnosisText();
QString PortDiagnosisText();

// The line a download logs when its port goes away in the middle (a USB
// converter pulled out, or the device hung up).
QString PortLostText(const QString& portName);

} // namespace talvo::protocol
