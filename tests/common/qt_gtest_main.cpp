// GoogleTest entry point with a QCoreApplication, so that tests can post
// events, run timers and pump the user-interface thread's queue.
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
