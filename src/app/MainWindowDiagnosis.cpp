// The connect diagnosis the download host gives the protocols: the checklist,
// after the line that names the other programs holding the port.
#include "app/MainWindowCore.h"

#include "platform/PortHolders.h"
#include "platform/SimRegistry.h"
#include "platform/SerialDeviceFactory.h"

namespace talvo {

namespace {
// A command line longer than this is shortened in the log line.
constexpr int kMaxCommandChars = 120;
} // namespace

QString MainWindowCore::PortHoldersLine(const QString& port, const std::vector<PortHolder>& holders) {
    if (holders.empty()) return {};
    QStringList named;
    for (const PortHolder& h : holders) {
        QString command = h.command;
        if (command.size() > kMaxCommandChars) command = command.left(kMaxCommandChars - 1) + QChar(0x2026);
        named << QStringLiteral("进程 %1（%2）").arg(h.pid).arg(command);
    }
    return QStringLiteral("串口 %1 正被其他程序打开：%2。它会读走芯片的应答，请先关闭它再下载")
        .arg(port, named.join(QStringLiteral("、")));
}

QString MainWindowCore::ConnectDiagnosis() const {
    const QString port = PortName();
    // A simulated chip has no device that others could hold.
    if (port.isEmpty() || port.startsWith(QLatin1String(kSimPortPrefix))) return ConnectDiagnosisText;
    const QString line =
        PortHoldersLine(port, findPortHolders(SystemSerialDeviceFactory::resolve(port, Services.devRoot)));
    return line.isEmpty() ? ConnectDiagnosisText : line + QStringLiteral("\r\n") + ConnectDiagnosisText;
}

} // namespace talvo
