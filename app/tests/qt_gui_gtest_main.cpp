// GoogleTest entry for tests of the session manager: a GUI application
// object on the offscreen platform (one 800 x 600 screen, no display
// needed), and every Qt message kept for the tests to look at.
#include <QGuiApplication>

#include <gtest/gtest.h>

#include "mgr_test_support.h"

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    MessageLog::install();
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
