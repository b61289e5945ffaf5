// `talvo-gui --demo`: the window, driven through its own controls, programs
// the bundled STC89 example into a simulated board, prints the log, saves a
// picture of the finished window and ends 0 only when the flash holds the
// image.
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

TEST(Demo, TheWindowProgramsTheStc89ExampleThroughItsOwnControls) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString dump = dir.filePath("flash.bin");
    // The chip answers a rate switch after 1 s instead of 0.1 s: a window
    // starved by a busy machine still re-opens its port in time.
    const QString port = "sim:stc89c52rc,switchfloor=1,dump=" + dump;
    const talvo::test::ProcessRun r =
        runDemo({"--demo", kExamples, "--pictures", dir.filePath("pictures"), "--port", port}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();

    // The log of the download, as the window's log box holds it.
    const QString firmware = kExamples + "/stc89-blink/blink.hex";
    EXPECT_TRUE(r.out.startsWith("== demo: STC89C5XX系列 on " + port + " with " + firmware + "\n正在连机...\n"))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("\nMCU Version:")));
    EXPECT_TRUE(r.out.contains("\n" + kSuccess + "\n"));
    EXPECT_TRUE(r.out.endsWith(QStringLiteral("demo: 1 of 1 simulated boards hold their example firmware\n")));

    // The chip holds the example (the simulator's own dump, not the demo's word).
    const QByteArray image = readFile(kExamples + "/stc89-blink/blink.bin");
    ASSERT_FALSE(image.isEmpty());
    EXPECT_EQ(readFile(dump).left(image.size()), image);

    const QImage picture(dir.filePath("pictures/demo-stc89.png"));
    EXPECT_FALSE(picture.isNull());
    EXPECT_GT(picture.width(), 400);
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
