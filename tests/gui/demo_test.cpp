// `talvo-gui --demo`: the window, driven through its own controls, programs
// the bundled STC89 and STM32F103 examples into simulated boards, prints the
// logs, saves a picture of each finished window and ends 0 only when every
// board's flash holds its image.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include "common/ProcessRun.h"

namespace {

const QString kExamples = QStringLiteral(TALVO_SOURCE_DIR "/examples");
const QString kSuccess = QString(39, u' ') + QStringLiteral("数 据 下 载 成 功!");

using talvo::test::readFile;

talvo::test::ProcessRun runDemo(const QStringList& args, const QString& config) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    return talvo::test::runProcess(QStringLiteral(TALVO_GUI_BINARY), args, env);
}

} // namespace

TEST(Demo, TheWindowProgramsBothExamplesThroughItsOwnControls) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Board {
        QString port;
        QString family; // the chip type the demo picks
        QString example;
        QString picture;
    };
    // The STC chip answers a rate switch after 1 s instead of 0.1 s: a window
    // starved by a busy machine still re-opens its port in time.
    const std::vector<Board> boards = {
        {"sim:stc89c52rc,switchfloor=1,dump=" + dir.filePath("stc89.bin"), QStringLiteral("STC89C5XX系列"),
         "stc89-blink", "demo-stc89.png"},
        {"sim:stm32f103,dump=" + dir.filePath("stm32.bin"), QStringLiteral("ARM-STM32"), "stm32f103-blink",
         "demo-stm32f103.png"},
    };
    QStringList args{"--demo", kExamples, "--pictures", dir.filePath("pictures")};
    for (const Board& b : boards) args << "--port" << b.port;
    const talvo::test::ProcessRun r = runDemo(args, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.out.endsWith(QStringLiteral("demo: 2 of 2 simulated boards hold their example firmware\n")));

    for (const Board& b : boards) {
        SCOPED_TRACE(b.example.toStdString());
        // The log of the download, as the window's log box holds it.
        const QString firmware = kExamples + "/" + b.example + "/blink.hex";
        const qsizetype at = r.out.indexOf("== demo: " + b.family + " on " + b.port + " with " + firmware + "\n正在连机...\n");
        ASSERT_GE(at, 0) << r.out.toStdString();
        const qsizetype next = r.out.indexOf(QStringLiteral("== demo:"), at + 1);
        const QString log = r.out.mid(at, next < 0 ? -1 : next - at);
        EXPECT_TRUE(log.contains("\n" + kSuccess + "\n")) << log.toStdString();

        // The chip holds the example (the simulator's own dump, not the demo's word).
        const QByteArray image = readFile(kExamples + "/" + b.example + "/blink.bin");
        ASSERT_FALSE(image.isEmpty());
        const QString dump = b.port.mid(b.port.indexOf("dump=") + 5);
        EXPECT_EQ(readFile(dump).left(image.size()), image);

        const QImage picture(dir.filePath("pictures/" + b.picture));
        EXPECT_FALSE(picture.isNull());
        EXPECT_GT(picture.width(), 400);
    }
}

// A board that fails, a board the demo has no example for, or none at all:
// never exit 0.  The failed board's window is still pictured.
TEST(Demo, EndsNonZeroUnlessEveryBoardHoldsItsExample) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case {
        QStringList ports;
        int exitCode;
        const char* says;
    };
    const std::vector<Case> cases = {
        {{"sim:stc89c52rc,silent-after=3"},
         1,
         "demo: FAILED on sim:stc89c52rc,silent-after=3: the download did not succeed"},
        {{"sim:stc90c516"}, 2, "no example firmware for --port sim:stc90c516"},
        {{}, 2, "the demo needs a simulated board to program"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        const QString pictures = dir.filePath(QStringLiteral("pictures%1").arg(n++));
        QStringList args{"--demo", kExamples, "--pictures", pictures};
        for (const QString& p : c.ports) args << "--port" << p;
        const talvo::test::ProcessRun r = runDemo(args, dir.path());
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_TRUE((r.out + r.err).contains(c.says)) << r.out.toStdString() << r.err.toStdString();
        EXPECT_EQ(QFile::exists(pictures + "/demo-stc89.png"), c.exitCode == 1);
        EXPECT_FALSE(r.out.contains(kSuccess));
    }
}
