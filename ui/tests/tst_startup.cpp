// Start-up of the real program: one instance per user session, a second start
// hands its message to the first and exits, a lock left by a killed instance
// does not keep the next one out, and the log goes where the properties
// file beside the program sends it.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSharedMemory>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class StartupTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir home_;
  QString runtime_;
  std::vector<std::unique_ptr<QProcess>> started_;

  QString logPath() const { return home_.path() + QStringLiteral("/.local/state/tandeo/app.log"); }
  QString log() const {
    QFile f(logPath());
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
  }

  QProcess* start() {
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home_.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_);
    env.insert(QStringLiteral("appdata"), home_.path() + QStringLiteral("/appdata"));
    if (!env.contains(QStringLiteral("DISPLAY")))
      env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p->setProcessEnvironment(env);
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->start(QStringLiteral(TANDEO_PROGRAM), QStringList());
    if (!p->waitForStarted(5000)) qFatal("cannot start %s", TANDEO_PROGRAM);
    started_.push_back(std::move(p));
    return started_.back().get();
  }

  // A first instance listens for others before it sets up its log.
  bool upAsFirst(int logStarts) {
    return QTest::qWaitFor(
        [&] { return log().count(QStringLiteral("load logSystem cucceed")) >= logStarts; }, 10000);
  }

 private slots:
  void initTestCase() {
    QVERIFY(home_.isValid());
    // The lock lives in the user's runtime folder: a private one keeps this
    // test apart from any other instance on the machine.
    runtime_ = home_.path() + QStringLiteral("/run");
    QVERIFY(QDir().mkpath(runtime_));
    QFile::setPermissions(runtime_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }

  void secondInstanceHandsOverAndExits() {
    QProcess* first = start();
    QVERIFY(upAsFirst(1));
    QVERIFY2(QFile::exists(logPath()), qPrintable(logPath()));
    QVERIFY(log().contains(QStringLiteral("load logSystem cucceed")));

    QProcess* second = start();
    QVERIFY(second->waitForFinished(10000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(first->state(), QProcess::Running);
    QTRY_VERIFY(log().contains(QStringLiteral("message from other instance")));
    QTRY_VERIFY(log().contains(QStringLiteral("brought the window to the front")));
    // The second instance set up no logging of its own.
    QCOMPARE(log().count(QStringLiteral("load logSystem cucceed")), 1);
  }

  void killedInstanceDoesNotBlock() {
    QProcess* first = started_.front().get();
    first->kill();  // SIGKILL: the lock is left behind
    QVERIFY(first->waitForFinished(5000));

    QProcess* next = start();
    QVERIFY(upAsFirst(2));
    QCOMPARE(next->state(), QProcess::Running);
    QCOMPARE(log().count(QStringLiteral("load logSystem cucceed")), 2);

    // ... and it holds the lock in its turn.
    QProcess* another = start();
    QVERIFY(another->waitForFinished(10000));
    QCOMPARE(another->exitCode(), 0);
    QCOMPARE(next->state(), QProcess::Running);
  }

  void cleanupTestCase() {
    for (auto& p : started_) {
      if (p->state() != QProcess::NotRunning) {
        p->kill();
        p->waitForFinished(5000);
      }
    }
    // Remove the segment the killed program left, as its next start would.
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime_));
    QSharedMemory lock(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
                       QStringLiteral("/signal-tandeo"));
    if (lock.attach()) lock.detach();
  }
};

QTEST_GUILESS_MAIN(StartupTest)
#include "tst_startup.moc"
