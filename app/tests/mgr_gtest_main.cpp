// GoogleTest entry for tests of the session manager: an application object
// for the event loop, and every Qt message kept for the tests to look at.
#include <QCoreApplication>

#include <gtest/gtest.h>

#include "mgr_test_support.h"

int main(int argc, char **argv)
{
    MessageLog::install();
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
