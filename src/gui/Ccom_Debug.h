#pragma once
// The serial debug window made a real serial terminal: port (with hot-plug),
// baud rate (standard or typed), data bits, stop bits, parity, open/close,
// RTS and DTR, a receive area (text or hexadecimal, time stamps, clear), a
// send area (text or hexadecimal, clear, send, timed send) and byte counters.
//
// The port is driven by a SerialTerminal (reader and writer threads), so the
// window never waits on the wire.  Received bytes are shown in batches: the
// first byte of a batch starts a short timer, and everything received until
// it fires is formatted and appended at once, each line stamped with when its
// first byte arrived.

#include <QDialog>
#include <QMap>
#include <QStringList>
#include <QTimer>

#include <memory>

#include "gui/TemplateLayout.h"
#include "serial/TerminalFormatter.h"

class QComboBox;
class QPlainTextEdit;

namespace talvo {
class SerialTerminal;
class SerialDeviceFactory;
class PortWatch;
class ThreadNotifier;
struct LineSettings;
} // namespace talvo

namespace talvo::gui {

// Control ids of the terminal window (template 150).
namespace term {
inline constexpr int Port = 1000;
inline constexpr int Baud = 1001;
inline constexpr int DataBits = 1002;
inline constexpr int StopBits = 1003;
inline constexpr int Parity = 1004;
inline constexpr int OpenClose = 1005;
inline constexpr int Rts = 1006;
inline constexpr int Dtr = 1007;
inline constexpr int Receive = 1008;
inline constexpr int HexDisplay = 1009;
inline constexpr int Timestamps = 1010;
inline constexpr int ClearReceive = 1011;
inline constexpr int SendText = 1012;
inline constexpr int HexSend = 1013;
inline constexpr int ClearSend = 1014;
inline constexpr int Send = 1015;
inline constexpr int TimedSend = 1016;
inline constexpr int Period = 1017;
inline constexpr int RxCount = 1018;
inline constexpr int TxCount = 1019;
inline constexpr int ResetCounts = 1020;
inline constexpr int Status = 1021;
} // namespace term

const std::vector<DialogControl>& TerminalTemplate();

class Ccom_Debug : public QDialog {
    Q_OBJECT
public:
    // Message boxes are recorded instead of shown when this is set (tests).
    bool RecordMessageBoxes = false;
    QStringList RecordedMessages;

    // How long received bytes wait to be shown together.
    static constexpr int kDisplayBatchMs = 50;
    // The most bytes shown in one turn of the event loop.
    static constexpr int kDisplaySliceBytes = 32 * 1024;

    Ccom_Debug(QString sysfsRoot, QString devRoot, QStringList extraPorts, SerialDeviceFactory* factory = nullptr,
               QWidget* parent = nullptr);
    ~Ccom_Debug() override;

    QWidget* control(int id) const;
    SerialTerminal& terminal() { return *Terminal; }
    // The receive area's text as shown.
    QString receivedText() const;
    // Rebuilds the port list (keeps the choice when the port is still there).
    void RefreshPorts();
    // The open port list shows every entry whole where the screen allows.
    static void FitPortList(QComboBox& box);
    // The device the port box names: a listed entry's device, or the typed text.
    QString SelectedDevice() const;

    // The open/close button.
    void TogglePort();
    void SendNow();
    // Shows everything received and not yet shown.
    void FlushReceived();
    // Bytes shown in the receive area since the window was made.
    uint64_t shownBytes() const { return Shown; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // The batch timer's work: one slice, the rest after the event loop turned.
    void ShowReceived(bool all);
    bool ReadSettings(LineSettings* settings, QString* error) const;
    void SetStatus(const QString& text);
    void UpdateCounters();
    void PortClosed();

    QString SysfsRoot, DevRoot;
    QStringList ExtraPorts;
    QStringList PortDevices; // the device of each listed entry
    std::unique_ptr<SerialTerminal> Terminal;
    TerminalFormatter Formatter;
    QTimer BatchTimer;
    QTimer SendTimer;
    QPlainTextEdit* ReceiveBox = nullptr;
    uint64_t Shown = 0;
    TimedBytes Backlog; // taken from the terminal, not yet shown
    std::unique_ptr<ThreadNotifier> PortsChanged;
    std::unique_ptr<PortWatch> Watch;
    QMap<int, QWidget*> Controls;
};

} // namespace talvo::gui
