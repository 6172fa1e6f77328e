// Run with the screen reporting TANDEO_EXPECT_DPI logical dpi (QT_FONT_DPI):
// a window's first show picks the factor from the real screen.

#include <QScreen>

#include "ui/dpisupport.h"
#include "probewindows.h"
#include "uitestmain.h"


class TestScreenDpi : public QObject {
  Q_OBJECT

 private slots:
  void firstShowUsesScreenDpi() {
    bool ok = false;
    int expected = qEnvironmentVariableIntValue("TANDEO_EXPECT_DPI", &ok);
    if (!ok) QSKIP("TANDEO_EXPECT_DPI not set");
    QScreen* primary = QGuiApplication::primaryScreen();
    QVERIFY(primary);
    if (static_cast<int>(primary->logicalDotsPerInchX()) != expected &&
        QGuiApplication::platformName() != QLatin1String("xcb"))
      QSKIP("this platform does not take QT_FONT_DPI");
    ProbeWgt w;
    w.resize(200, 100);
    w.show();
    QCOMPARE(w.dpi(), expected);
    QCOMPARE(w.rescales, 1);
    QCOMPARE(w.factor(), expected >= 192 ? 2.0 : expected >= 144 ? 1.5 : 1.0);
  }
};

TANDEO_UI_TEST_MAIN(TestScreenDpi)
#include "tst_screendpi.moc"
