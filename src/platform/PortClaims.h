#pragma once
// Which serial ports this process is using, and for what.  A tty has no lock,
// so two parts of one program could open the same port: the port test would
// reopen a port at 9600 baud under a running download, or the serial
// terminal take the chip's answers.  Every user of a port (a download, the
// port test, the terminal) claims it here before it opens it and releases it
// when it is done; a claim on a port that someone else holds is refused with
// the holder's name, before the port is touched.
//
// A port is known by its key, which the device factory that opens it gives
// (SerialDeviceFactory::claimKey): device names by the device file they lead
// to (ttyUSB0, /dev/ttyUSB0 and a by-id link are one port), "sim:..." names
// as they stand, qualified by their board set when it is not the process's.
// Thread-safe: downloads on other threads claim through the same table.

#include <QString>

namespace talvo {

// The key of port `name` (a bare name lives under `devRoot`, "" = /dev).
QString portClaimKey(const QString& name, const QString& devRoot = QString());

// Claims the port of `key` for `holder` (the words a person knows it by:
// "下载程序").  One owner (any address that stays put while it holds the
// claim) may claim a port again under the same holder; anyone else gets
// false, and *heldBy the holder's words.
bool claimPort(const QString& key, const void* owner, const QString& holder, QString* heldBy = nullptr);
// Drops `owner`'s claim on `key` (nothing when it holds none).
void releasePort(const QString& key, const void* owner);
// The holder of `key` ("" when nobody in this process holds it).
QString portHolder(const QString& key);

// "串口 NAME 正被“HOLDER”占用…": the refusal a person reads.
QString portBusyText(const QString& name, const QString& holder);

} // namespace talvo
