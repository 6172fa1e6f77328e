#include "probe_process.h"

#include <QCoreApplication>
#include <QLocalSocket>
#include <QStandardPaths>

#include <unistd.h>

#include <gtest/gtest.h>

namespace {

// A key of the test's own, so a running Tandeo or a parallel test never meets it.
QString testKey(const char *name)
{
    return QString("signal-tandeo-test-%1-%2").arg(QCoreApplication::applicationPid()).arg(name);
}

QProcessEnvironment probeEnv()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    return env;
}

// The first instance, running until its input closes.
class FirstInstance
{
public:
    explicit FirstInstance(const QStringList &args,
                           const QProcessEnvironment &env = probeEnv())
    {
        process_.setProcessEnvironment(env);
        process_.start(TANDEO_SINGLE_PROBE, args);
    }
    ~FirstInstance()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.closeWriteChannel();
            if (!process_.waitForFinished(5000))
                process_.kill();
            process_.waitForFinished(5000);
        }
    }
    bool waitFor(const QByteArray &text) { return waitForOutput(process_, text, seen_); }
    QProcess &process() { return process_; }
    QByteArray seen() const { return seen_; }

private:
    QProcess process_;
    QByteArray seen_;
};

ProbeResult startAnother(const QString &key)
{
    return runProbe(TANDEO_SINGLE_PROBE, {key}, probeEnv());
}

} // namespace

TEST(SingleInstance, SecondInstanceHandsOverItsMessageAndExits)
{
    const QString key = testKey("second");
    {
        FirstInstance first({key});
        ASSERT_TRUE(first.waitFor("first\n")) << first.seen().toStdString();

        const ProbeResult second = startAnother(key);
        EXPECT_EQ(second.exitCode, 0);
        EXPECT_EQ(second.out, QByteArray("running sent=1\n")) << second.err.toStdString();
        EXPECT_TRUE(first.waitFor("received: message from other instance\n"))
            << first.seen().toStdString();

        // Any sender is read as UTF-8 up to the first zero byte.
        QLocalSocket socket;
        socket.connectToServer(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
                               + "/" + key);
        ASSERT_TRUE(socket.waitForConnected(2000));
        socket.write(QString::fromUtf8("投屏 ok").toUtf8() + QByteArray("\0tail", 5));
        ASSERT_TRUE(socket.waitForBytesWritten(2000));
        EXPECT_TRUE(first.waitFor(QString::fromUtf8("received: 投屏 ok\n").toUtf8()))
            << first.seen().toStdString();
        socket.disconnectFromServer();

        // A third start is turned away just the same.
        EXPECT_EQ(startAnother(key).out, QByteArray("running sent=1\n"));

        first.process().closeWriteChannel();
        ASSERT_TRUE(first.process().waitForFinished(5000));
        EXPECT_EQ(first.process().exitCode(), 0);
    }
    // The first instance has ended cleanly: the next start is a first one.
    FirstInstance next({key});
    EXPECT_TRUE(next.waitFor("first\n")) << next.seen().toStdString();
}

TEST(SingleInstance, KilledInstanceDoesNotBlockLaterStarts)
{
    const QString key = testKey("stale");
    {
        FirstInstance crashed({key});
        ASSERT_TRUE(crashed.waitFor("first\n"));
        crashed.process().kill(); // SIGKILL: no clean-up of its lock or its server
        ASSERT_TRUE(crashed.process().waitForFinished(5000));
    }

    FirstInstance next({key});
    ASSERT_TRUE(next.waitFor("first\n")) << next.seen().toStdString();

    // The new first instance is reachable: its server replaced the dead one's.
    const ProbeResult second = startAnother(key);
    EXPECT_EQ(second.out, QByteArray("running sent=1\n")) << second.err.toStdString();
    EXPECT_TRUE(next.waitFor("received: message from other instance\n")) << next.seen().toStdString();

    next.process().closeWriteChannel();
    ASSERT_TRUE(next.process().waitForFinished(5000));
    const QByteArray log = next.process().readAllStandardError();
    EXPECT_TRUE(log.contains("no instance answers behind the lock")) << log.toStdString();
}

TEST(SingleInstance, EachUserRunsTheirOwnInstance)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to start a process as another user";
    const QString key = testKey("users");
    FirstInstance mine({key});
    ASSERT_TRUE(mine.waitFor("first\n")) << mine.seen().toStdString();

    // Another user's start is a first instance of its own, not turned away.
    QProcessEnvironment env = probeEnv();
    env.remove("XDG_RUNTIME_DIR");
    env.insert("HOME", "/tmp");
    FirstInstance theirs({"--as-nobody", key}, env);
    ASSERT_TRUE(theirs.waitFor("first\n")) << theirs.seen().toStdString();

    // ... and holds a lock of its own: that user's next start is turned away
    // and hands its message to that user's instance, not to mine.
    const ProbeResult again = runProbe(TANDEO_SINGLE_PROBE, {"--as-nobody", key}, env);
    EXPECT_EQ(again.out, QByteArray("running sent=1\n")) << again.err.toStdString();
    EXPECT_TRUE(theirs.waitFor("received: message from other instance\n"));
    EXPECT_FALSE(mine.seen().contains("received:"));
}
