// The loopback test over the serial channel, end to end against the
// simulated loopback plug: the pass with every line in order, a silent port,
// a corrupting plug, a port that cannot be opened, and "test" again after a
// failure.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QRegularExpression>

#include "panel/MemoryPanel.h"
#include "host/SerialDownloadHost.h"
#include "porttest/HostPortTestLink.h"
#include "porttest/PortTestCore.h"
#include "porttest/PortTestIds.h"
#include "serial/SerialChannel.h"
#include "sim/Simulators.h"

using namespace talvo;

namespace {

// The lines as the window shows them, written out with their blanks counted.
const QString k9600Ok = "set baud rate to 9600 bps..." + QString(31, ' ') + "OK";
const QString k9600Fail = "set baud rate to 9600 bps..." + QString(31, ' ') + "FAIL";
const QString k57600Ok = "set baud rate to 57600 bps..." + QString(10, ' ') + "OK";
const QString k115200Ok = "set baud rate to 115200 bps..." + QString(11, ' ') + "OK ";
const QString kWrite = "wirte 512bytes..." + QString(10, ' ') + "OK ";
const QString kCompareOk = "Compare Data..." + QString(10, ' ') + "OK ";
const QString kCompareFail = "Compare Data..." + QString(10, ' ') + "FAIL ";
const QString kReadFail = "Connect port read..." + QString(10, ' ') + "FAIL ";
const QString kEnd = QString(35, ' ') + "END  TEST \r\n" + QString(27, '-') + "Successful" + QString(29, '-') + "!   ";

QStringList passLog() {
    return {k9600Ok, kWrite, kCompareOk, kWrite, kCompareOk, k57600Ok, kWrite, kCompareOk, kWrite, kCompareOk,
            k115200Ok, kWrite, kCompareOk, kWrite, kCompareOk, kEnd};
}

// The host tells the panel what it shows.
HostReports toPanel(MemoryPanel& panel) {
    HostReports r;
    r.message = [&panel](const QString& text, const QString& caption, MsgIcon icon) {
        panel.messageBox(text, caption, icon);
    };
    return r;
}

struct Rig {
    explicit Rig(const QString& port) : link(host, [port] { return port; }), test(panel, link) {
        sim::registerSimulators();
        test.ResetPortTest();
    }
    MemoryPanel panel;
    SerialDownloadHost host{toPanel(panel)};
    HostPortTestLink link;
    PortTestCore test;
};

} // namespace

TEST(PortTestBlocks, SixBlocksOfTheRequiredFormAndLastBytes) {
    MemoryPanel panel;
    SerialDownloadHost host{toPanel(panel)};
    HostPortTestLink link(host, [] { return QStringLiteral("sim:loopback"); });
    PortTestCore test(panel, link);
    const char* last[] = {"E2", "E2", "F4", "F4", "46", "46"};
    static const QRegularExpression form("^[0-9A-F]{2}( [0-9A-F]{2}){511}$");
    for (int n = 1; n <= 6; ++n) {
        const QString& b = test.Block(n);
        SCOPED_TRACE(n);
        EXPECT_EQ(b.size(), 1535);
        EXPECT_TRUE(form.match(b).hasMatch());
        EXPECT_TRUE(b.endsWith(last[n - 1]));
        // The event character of the block's rate stands only at its end.
        EXPECT_FALSE(b.left(1532).split(' ').contains(last[n - 1]));
        for (int m = 1; m < n; ++m) EXPECT_NE(b, test.Block(m));
    }
}

TEST(PortTestText, ResetShowsTheInstructionTextAndReady) {
    Rig rig("sim:loopback");
    const QString ideo(QChar(0x3000));
    const QString expected = QString(14, ' ') + "此功能用来检测 串口是否正常！\r\n" + QString(11, ' ') + "\r\n" + "  " + ideo + ideo +
                             "测试串口功能是否正常完成" + ideo + "“收”" + ideo + "“发”" + ideo + "功能\r\n" + "\r\n" +
                             " 1.如果能正常通过测试，说明串口没有问题\r\n" + "\r\n" + " 2.如果不能通过测试，说明USB电路或串口电路有故障\r\n";
    EXPECT_EQ(rig.panel.text(ptctl::Log), expected);
    EXPECT_EQ(rig.panel.text(ptctl::State), "就绪");
    EXPECT_EQ(rig.panel.progress(ptctl::Progress), 0);
}

TEST(PortTestRun, LoopbackPassesWithEveryLineInOrder) {
    Rig rig("sim:loopback");
    ASSERT_TRUE(rig.test.RunLoopbackTest());
    EXPECT_EQ(rig.panel.logLines, passLog());
    EXPECT_EQ(rig.panel.text(ptctl::Log), passLog().join("\r\n"));
    EXPECT_EQ(rig.panel.progress(ptctl::Progress), 6);
    EXPECT_EQ(rig.panel.text(ptctl::State), "测试 OK");
    EXPECT_TRUE(rig.panel.isEnabled(ptctl::Test));
    EXPECT_TRUE(rig.panel.messages.empty());
    // The next download clears it.
    EXPECT_TRUE(rig.host.Channel().PortTestMode.load());
    EXPECT_FALSE(rig.host.Channel().IsOpen());
}

TEST(PortTestRun, SilentPortFailsAfterTheTimeOutAndRunsAgainFromBlockOne) {
    Rig rig("sim:loopback,drop=1");
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        rig.panel.logLines.clear();
        QElapsedTimer t;
        t.start();
        EXPECT_FALSE(rig.test.RunLoopbackTest());
        // More than 30 ticks of 100 ms after the wait began.
        EXPECT_GE(t.elapsed(), 3000);
        EXPECT_EQ(rig.panel.logLines, (QStringList{k9600Ok, kWrite, kReadFail}));
        EXPECT_EQ(rig.panel.text(ptctl::Log), (QStringList{k9600Ok, kWrite, kReadFail}).join("\r\n"));
        EXPECT_EQ(rig.panel.progress(ptctl::Progress), 0);
        EXPECT_EQ(rig.panel.text(ptctl::State), "测试失败.");
        EXPECT_TRUE(rig.panel.isEnabled(ptctl::Test));
        EXPECT_FALSE(rig.host.Channel().PortTestMode.load());
    }
}

TEST(PortTestRun, CorruptedEchoComparesFailThenTimesOut) {
    Rig rig("sim:loopback,corrupt=0.01,seed=3");
    EXPECT_FALSE(rig.test.RunLoopbackTest());
    ASSERT_GE(rig.panel.logLines.size(), 4);
    EXPECT_EQ(rig.panel.logLines.mid(0, 2), (QStringList{k9600Ok, kWrite}));
    EXPECT_EQ(rig.panel.logLines.mid(rig.panel.logLines.size() - 2), (QStringList{kCompareFail, kReadFail}));
    EXPECT_EQ(rig.panel.text(ptctl::State), "测试失败.");
}

TEST(PortTestRun, PortThatCannotBeOpenedNamesTheReasonAboveTheRegistryMessage) {
    Rig rig("/nonexistent/ttyTALVO");
    EXPECT_FALSE(rig.test.RunLoopbackTest());
    ASSERT_EQ(rig.panel.logLines.size(), 2);
    EXPECT_EQ(rig.panel.logLines[0], k9600Fail);
    EXPECT_TRUE(rig.panel.logLines[1].startsWith("原因：")) << rig.panel.logLines[1].toStdString();
    EXPECT_TRUE(rig.panel.logLines[1].contains("/nonexistent/ttyTALVO"));
    EXPECT_TRUE(rig.panel.logLines[1].contains("No such file")) << rig.panel.logLines[1].toStdString();
    ASSERT_EQ(rig.panel.messages.size(), 2u);
    EXPECT_EQ(rig.panel.messages[0].caption, "串口提示：—不能打开串口");
    EXPECT_EQ(rig.panel.messages[1].text, "错误：无法查询有关的注册表信息");
    EXPECT_EQ(rig.panel.text(ptctl::State), "测试失败.");
    EXPECT_TRUE(rig.panel.isEnabled(ptctl::Test));
}

TEST(PortTestRun, RefusedRateChangeFailsAtOnceWithItsReason) {
    // A link whose port refuses 57600 baud (as some converters refuse a rate).
    struct Refusing : HostPortTestLink {
        using HostPortTestLink::HostPortTestLink;
        int sent = 0;
        void SendHexText(const QString& text) override {
            ++sent;
            HostPortTestLink::SendHexText(text);
        }
        bool ConfigureTestPort(uint32_t baud, uint8_t parity, uint8_t eventChar, QString* reason) override {
            if (baud != 57600) return HostPortTestLink::ConfigureTestPort(baud, parity, eventChar, reason);
            *reason = "sim:loopback: 57600 baud refused (Invalid argument)";
            return false;
        }
    };
    sim::registerSimulators();
    MemoryPanel panel;
    SerialDownloadHost host{toPanel(panel)};
    Refusing link(host, [] { return QStringLiteral("sim:loopback"); });
    PortTestCore test(panel, link);
    EXPECT_FALSE(test.RunLoopbackTest());
    const QString fail57600 = "set baud rate to 57600 bps..." + QString(10, ' ') + "FAIL";
    EXPECT_EQ(panel.logLines, (QStringList{k9600Ok, kWrite, kCompareOk, kWrite, kCompareOk, fail57600,
                                           "原因：sim:loopback: 57600 baud refused (Invalid argument)"}));
    EXPECT_EQ(link.sent, 2); // later blocks are not sent
    EXPECT_EQ(panel.progress(ptctl::Progress), 2);
    EXPECT_EQ(panel.text(ptctl::State), "测试失败.");
    EXPECT_FALSE(host.Channel().IsOpen());
    EXPECT_FALSE(host.Channel().PortTestMode.load());
}
