// Every test executable runs with a QApplication (widget tests need one) under the platform
// ctest sets (offscreen).
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char* argv[])
{
    // Test discovery runs the executables outside ctest's environment too.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
