// The frameless bases: DPI to stretch factor, the scaled style sheet pair,
// screen lookup and centring, Escape, and the style sheet loader.

#include <QDialog>
#include <QFile>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QWindow>

#include "ui/dpisupport.h"
#include "ui/generalutils.h"
#include "probewindows.h"
#include "uitestmain.h"

namespace {

QString resourceText(const QString& name) {
  QFile file(name);
  if (!file.open(QIODevice::ReadOnly)) return QString();
  return QString::fromLatin1(file.readAll());
}

}  // namespace

class TestBaseWindows : public QObject {
  Q_OBJECT

 private slots:
  void factorFromDpi_data() {
    QTest::addColumn<int>("dpi");
    QTest::addColumn<double>("factor");
    QTest::addColumn<QString>("scaledSheet");
    QTest::newRow("72") << 72 << 1.0 << "tandeo-1x.qss";
    QTest::newRow("96") << 96 << 1.0 << "tandeo-1x.qss";
    QTest::newRow("120 (125 %)") << 120 << 1.0 << "tandeo-1x.qss";
    QTest::newRow("143") << 143 << 1.0 << "tandeo-1x.qss";
    QTest::newRow("144") << 144 << 1.5 << "tandeo-1.5x.qss";
    QTest::newRow("191") << 191 << 1.5 << "tandeo-1.5x.qss";
    QTest::newRow("192") << 192 << 2.0 << "tandeo-2x.qss";
    QTest::newRow("288") << 288 << 2.0 << "tandeo-2x.qss";
  }

  // Every first DPI rescales, at factor 1 too, and loads base + variant.
  void factorFromDpi() {
    QFETCH(int, dpi);
    QFETCH(double, factor);
    QFETCH(QString, scaledSheet);
    ProbeWgt w;
    w.sheetBase = QStringLiteral(":/qss/qss/tandeo");
    w.updateDpi(dpi);
    QCOMPARE(w.dpi(), dpi);
    QCOMPARE(w.factor(), factor);
    QCOMPARE(w.rescales, 1);
    QString expected = resourceText(QStringLiteral(":/qss/qss/tandeo.qss")) +
                       resourceText(QStringLiteral(":/qss/qss/") + scaledSheet);
    QVERIFY(!expected.isEmpty());
    QCOMPARE(w.styleSheet(), expected);
  }

  void newDpiSameFactorDoesNotRescale() {
    ProbeWgt w;
    w.updateDpi(144);
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression("fStretchFactor not changed"));
    w.updateDpi(168);
    QCOMPARE(w.rescales, 1);
    QCOMPARE(w.dpi(), 168);
    QCOMPARE(w.factor(), 1.5);
    w.updateDpi(192);
    QCOMPARE(w.rescales, 2);
    w.updateDpi(96);
    QCOMPARE(w.rescales, 3);
    QCOMPARE(w.factor(), 1.0);
  }

  void sameDpiTwice() {
    ProbeDlg d;
    d.updateDpi(120);
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression("Dpi not changed"));
    d.updateDpi(120);
    QCOMPARE(d.rescales, 1);
  }

  // The first show takes the screen's DPI; showing again changes nothing.
  void showTakesScreenDpi() {
    ProbeWgt w;
    w.resize(200, 100);
    w.show();
    QScreen* screen = w.getDisplayScreen();
    QVERIFY(screen);
    QCOMPARE(w.dpi(), static_cast<int>(screen->logicalDotsPerInchX()));
    QCOMPARE(w.factor(), dpi::stretchFactor(w.dpi()));
    QCOMPARE(w.rescales, 1);
    w.hide();
    w.show();
    QCOMPARE(w.rescales, 1);
  }

  // Stand-in for the DPI-change message: the screen's DPI signal reaches
  // updateDpi through the window's screen follower.
  void followsScreenDpiSignal() {
    ProbeWgt w;
    w.resize(200, 100);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QScreen* screen = w.windowHandle()->screen();
    QVERIFY(screen);
    int before = w.rescales;
    emit screen->logicalDotsPerInchChanged(300.0);
    QCOMPARE(w.dpi(), 300);
    QCOMPARE(w.factor(), 2.0);
    QCOMPARE(w.rescales, before + 1);
    emit screen->logicalDotsPerInchChanged(100.0);
    QCOMPARE(w.factor(), 1.0);
    QCOMPARE(w.rescales, before + 2);
  }

  // Moving to another screen re-reads the DPI and rewires the DPI signal:
  // one change afterwards reaches updateDpi once.
  void screenChangeRewiresDpiSignal() {
    ProbeWgt w;
    w.resize(200, 100);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QWindow* handle = w.windowHandle();
    QScreen* screen = handle->screen();
    emit handle->screenChanged(screen);
    emit handle->screenChanged(screen);
    QCOMPARE(w.dpi(), static_cast<int>(screen->logicalDotsPerInchX()));
    static int updates = 0;
    updates = 0;
    QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) {
          if (text.startsWith(QLatin1String("CBaseWgt::updateDpi")) && text.contains(QLatin1String(" 300 ")))
            ++updates;
        });
    emit screen->logicalDotsPerInchChanged(300.0);
    qInstallMessageHandler(previous);
    QCOMPARE(updates, 1);
    QCOMPARE(w.factor(), 2.0);
  }

  void centresOnAvailableArea() {
    ProbeWgt w;
    w.resize(301, 201);
    w.centerWindow();
    QRect avail = w.getDisplayScreen()->availableGeometry();
    QCOMPARE(w.pos(), QPoint((avail.width() - 301) / 2 + avail.left(),
                             (avail.height() - 201) / 2 + avail.top()));
  }

  void offScreenFallsBackToPrimary() {
    ProbeDlg d;
    d.resize(100, 100);
    d.move(-100000, -100000);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Can not get valid screen by center point:"));
    QCOMPARE(d.getDisplayScreen(), QGuiApplication::primaryScreen());
  }

  void escapeDoesNotCloseDialog() {
    ProbeDlg d;
    d.show();
    QTest::keyClick(&d, Qt::Key_Escape);
    QVERIFY(d.isVisible());
    QCOMPARE(d.result(), int(QDialog::Rejected));
    // other keys still reach QDialog: Enter clicks the default button
    auto* ok = new QPushButton(QStringLiteral("ok"), &d);
    ok->setDefault(true);
    ok->show();
    connect(ok, &QPushButton::clicked, &d, &QDialog::accept);
    QTest::keyClick(&d, Qt::Key_Return);
    QVERIFY(!d.isVisible());
    QCOMPARE(d.result(), int(QDialog::Accepted));
  }

  void clearButtonDefaults() {
    ProbeDlg d;
    auto* inner = new QWidget(&d);
    auto* a = new QPushButton(&d);
    auto* b = new QPushButton(inner);
    a->setDefault(true);
    b->setAutoDefault(true);
    d.clearButtonDefaults();
    QVERIFY(!a->isDefault() && !a->autoDefault());
    QVERIFY(!b->isDefault() && !b->autoDefault());
  }

  void setStyleSkipsUnreadableFiles() {
    QTemporaryDir dir;
    QString good = dir.filePath("good.qss");
    QString zero = dir.filePath("zero.qss");
    QFile f(good);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("QLabel { color: red; }");
    f.close();
    QFile z(zero);
    QVERIFY(z.open(QIODevice::WriteOnly));
    z.write(QByteArray("QWidget { border: none; }\0trailing junk", 40));
    z.close();

    QWidget w;
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression("Failed to open qss file:"));
    CGeneralUtils::setStyle(&w, QStringList{good, dir.filePath("missing.qss"), zero});
    QCOMPARE(w.styleSheet(), QStringLiteral("QLabel { color: red; }QWidget { border: none; }"));

    CGeneralUtils::setStyle(&w, QStringList{dir.filePath("missing.qss")});
    QCOMPARE(w.styleSheet(), QString());

    // the one-file form keeps the old sheet when the file is missing
    CGeneralUtils::setStyle(&w, good);
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression("Failed to open qss file:"));
    CGeneralUtils::setStyle(&w, dir.filePath("missing.qss"));
    QCOMPARE(w.styleSheet(), QStringLiteral("QLabel { color: red; }"));
  }
};

TANDEO_UI_TEST_MAIN(TestBaseWindows)
#include "tst_basewindows.moc"
