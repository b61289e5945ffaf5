#pragma once
// The port loopback test without its widgets.  The user joins the board's
// serial receive and transmit pins (P3.0 and P3.1), so every byte sent comes
// straight back; the test sends six fixed 512-byte blocks, two at each of
// 9600, 57600 and 115200 baud, reads each echo and compares it.
//
// It runs on the user-interface thread and waits by pumping events through
// its link.  The serial reader decides when an echo has arrived (the last
// byte of the blocks at that rate is the event character) and delivers
// WM_PORTTEST_DATA synchronously to this object, so OnTestData also runs on
// the user-interface thread, inside the pump.  A 100 ms timer counts the
// echo's time-out (more than 30 ticks).
//
// It reports through a FrontPanel addressed with the ids of PortTestIds.h.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>

#include "panel/FrontPanel.h"
#include "porttest/PortTestLink.h"

namespace talvo {

class PortTestCore : public QObject {
    Q_OBJECT
public:
    static constexpr int kBlockCount = 6;
    static constexpr int kBlockBytes = 512;
    static constexpr int kTickMs = 100;
    // The echo of a block must compare equal before the tick counter passes this.
    static constexpr int kEchoTimeoutTicks = 30;
    static constexpr int kReplyDelayMs = 200;

    PortTestCore(FrontPanel& panel, PortTestLink& link, QObject* parent = nullptr);
    ~PortTestCore() override;

    // Progress 0 of 6, the instruction text in the log, state "就绪".
    void ResetPortTest();
    // The "test" button: runs until success or the first failure; true on "测试 OK".
    bool RunLoopbackTest();
    // The handler of WM_PORTTEST_DATA.
    void OnTestData();
    void FailTest();
    void AppendTestLine(const QString& line);
    // Ends a running test at its next pump pass (the window is closing).
    void Abort() { Aborted = true; }
    bool Running() const { return InTest; }

    // Block n (1-6): 512 upper-case two-digit hexadecimal numbers separated by
    // single blanks.
    const QString& Block(int n) const { return Blocks[static_cast<size_t>(n - 1)]; }
    static QString InstructionText();
    static QString EndText();
    // "set baud rate to 9600 bps...                               OK" and its kin.
    static QString RateLine(uint32_t baud, bool ok);
    static QString WriteLine();
    static QString CompareLine(bool ok);
    static QString ReadFailLine();
    // The line naming the system's reason for a failed open or reconfiguration.
    static QString ReasonLine(const QString& reason);

    // Timer ticks counted in the current wait (tests look at it).
    int Ticks() const { return TickCount; }

protected:
    bool event(QEvent* e) override;

private:
    // One rate of the test: its rate, its event character (the last byte of
    // its two blocks) and the blanks of its log line before and after the word.
    struct Rate {
        uint32_t baud;
        uint8_t eventChar;
        int blanksBefore;
        int blanksAfter;
    };
    // The three rates in the order of the test, their event characters and
    // the blanks of their log lines before and after the result word.
    static constexpr Rate kRates[3] = {
        //  baud    event  before after
        {9600, 0xE2, 31, 0},
        {57600, 0xF4, 10, 0},
        {115200, 0x46, 11, 1},
    };
    static const Rate& RateOf(uint32_t baud);
    bool SetRate(int step);

    FrontPanel& Panel;
    PortTestLink& Link;
    std::array<QString, kBlockCount> Blocks;
    QByteArray ReceiveBuffer = QByteArray(1024, '\0');
    bool Waiting = false;
    bool Timing = false;
    int TickCount = 0;
    int Step = 0;
    bool InTest = false;
    bool Aborted = false;
    QTimer TestTimer; // window timer 0
};

} // namespace talvo
