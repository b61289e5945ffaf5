#pragma once
// The two troubleshooting texts that a download writes into the log: one
// when the chip does not answer, one when the port cannot be opened.  Each is
// one log entry of several lines.

#include <QString>

namespace talvo::protocol {

QString ConnectDiagnosisText();
QString PortDiagnosisText();

} // namespace talvo::protocol
