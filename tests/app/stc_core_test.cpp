// STC downloads through the window's core in real time, on a simulated board.
#include <gtest/gtest.h>

#include "app/CoreRig.h"

using namespace talvo;
using namespace talvo::coretest;

TEST(CoreStcDownload, ProgramsTheSimulatedBoard) {
    const QString selector = "stc89c52rc,scale=0.2";
    CoreRig rig("sim:" + selector, 1, TALVO_SOURCE_DIR "/tests/app/data/tiny.hex");
    rig.core->StartDownload();
    for (const auto& l : rig.panel.logLines) std::printf("%s\n", l.left(90).toUtf8().constData());
    EXPECT_TRUE(rig.core->LastReport().success) << rig.core->LastReport().failure.toStdString();
    EXPECT_EQ(flashOf(selector, rig.core->ImageSize), rig.core->ImageBytes.left(rig.core->ImageSize));
}
