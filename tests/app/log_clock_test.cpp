// Status log separators and the status bar clock.
#include <gtest/gtest.h>

#include "app/ControlIds.h"
#include "app/MainWindowCore.h"
#include "app/MainWindowPanel.h"
#include "app/WindowTexts.h"
#include "common/IsolatedRoots.h"

using namespace talvo;

namespace {
struct Core {
    test::IsolatedRoots roots;
    MainWindowPanel panel;
    QDateTime now;
    MainWindowCore core{panel, roots.services(nullptr, [this] { return now; })};
};
} // namespace

TEST(StatusLog, LinesAreSeparatedByCrLfWithNoneAtTheEnds) {
    Core c;
    c.core.AppendLog("正在连机...");
    EXPECT_EQ(c.panel.text(ctl::StatusLog), "正在连机...");
    c.core.AppendLog("连接超时...");
    c.core.AppendLog("请拔掉USB 重试识别");
    EXPECT_EQ(c.panel.text(ctl::StatusLog), "正在连机...\r\n连接超时...\r\n请拔掉USB 重试识别");
    EXPECT_EQ(c.panel.logLines, (QStringList{"正在连机...", "连接超时...", "请拔掉USB 重试识别"}));
}

TEST(StatusLog, EmptyLinesAddOnlyTheSeparatorOrNothing) {
    Core c;
    // Appending an empty line to an empty log leaves it empty, so the next
    // line again has no leading separator.
    c.core.AppendLog("");
    EXPECT_EQ(c.panel.text(ctl::StatusLog), "");
    c.core.AppendLog("a");
    EXPECT_EQ(c.panel.text(ctl::StatusLog), "a");
    c.core.AppendLog("");
    EXPECT_EQ(c.panel.text(ctl::StatusLog), "a\r\n");
    c.core.AppendLog("b");
    EXPECT_EQ(c.panel.text(ctl::StatusLog), "a\r\n\r\nb");
}

TEST(Clock, FormatsDateTimeAndWeekdayFromSunday) {
    // Sunday, 6 December 2026, 02:05:08.
    EXPECT_EQ(FormatClock(QDateTime(QDate(2026, 12, 6), QTime(2, 5, 8))), "2026-12-06  02:05:08   星期日");
    // Saturday, with single-digit month and day.
    EXPECT_EQ(FormatClock(QDateTime(QDate(2027, 1, 2), QTime(23, 59, 0))), "2027-01-02  23:59:00   星期六");
    EXPECT_EQ(FormatClock(QDateTime(QDate(2026, 12, 7), QTime(0, 0, 0))), "2026-12-07  00:00:00   星期一");
    // The year is printed in full.
    EXPECT_EQ(FormatClock(QDateTime(QDate(999, 3, 4), QTime(5, 6, 7))).left(11), "999-03-04  ");
}

TEST(Clock, ShowClockWritesStatusPartOneFromTheInjectedTime) {
    Core c;
    c.now = QDateTime(QDate(2026, 12, 9), QTime(12, 30, 45));
    c.core.ShowClock();
    EXPECT_EQ(c.panel.statusText(1), "2026-12-09  12:30:45   星期三");
    EXPECT_EQ(c.panel.statusText(0), "");
    EXPECT_EQ(c.panel.statusText(2), "");
}
