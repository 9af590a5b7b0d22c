#include <QApplication>
#include <gtest/gtest.h>

// Views need an application object; tests run without a display.
int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    GTEST_FLAG_SET(death_test_style, "threadsafe"); // session threads are running
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
