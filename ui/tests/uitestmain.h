#pragma once
// QTEST_MAIN for the window tests: use the X display when there is one,
// Qt's offscreen platform otherwise.

#include <QApplication>
#include <QtTest>

#define TANDEO_UI_TEST_MAIN(TestObject)                                   \
  int main(int argc, char** argv) {                                       \
    if (qEnvironmentVariableIsEmpty("DISPLAY") &&                         \
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                   \
      qputenv("QT_QPA_PLATFORM", "offscreen");                            \
    QApplication app(argc, argv);                                         \
    TestObject test;                                                      \
    QTEST_SET_MAIN_SOURCE_PATH                                            \
    return QTest::qExec(&test, argc, argv);                               \
  }
