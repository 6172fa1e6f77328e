#pragma once

// Test side of the session manager: a stand-in for the main window, wired to
// the manager the way the window is, and the Qt messages the run wrote.

#include "app/tandeo_mgr.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSignalSpy>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QtTest/qtestsystem.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "tdwire.h"

// A start acknowledgement from a scripted device: a small picture (code 8)
// at `fps` pictures a second.
inline std::vector<unsigned char> smallParamsRecord(std::uint32_t fps = 5, std::uint32_t bitRate = 100000)
{
    std::vector<unsigned char> r(TD_ENC_PARAMS_WIRE_SIZE, 0);
    td_put_be32(r.data() + 0, 3);
    td_put_be32(r.data() + 4, 8);
    td_put_be32(r.data() + 8, 66);
    td_put_be32(r.data() + 12, fps);
    td_put_be32(r.data() + 16, 1);
    td_put_be32(r.data() + 20, bitRate);
    td_put_be32(r.data() + 24, 1400);
    return r;
}

// Receives the manager's results on its slots and records, for each, the
// thread it ran on; re-emits each as received(name, argument) for a spy.
class StandInWindow : public QObject
{
    Q_OBJECT

public:
    struct Result
    {
        QString name;
        int arg;
        QThread *thread;
    };

    // The window's connections, with the automatic connection type.
    void wire(TandeoMgr *mgr)
    {
        connect(mgr, SIGNAL(signal_connect_succeed()), this, SLOT(slot_connect_succeed()));
        connect(mgr, SIGNAL(signal_send_succeed()), this, SLOT(slot_send_succeed()));
        connect(mgr, SIGNAL(signal_send_failed()), this, SLOT(slot_send_failed()));
        connect(mgr, SIGNAL(signal_stopsend_succeed()), this, SLOT(slot_stopsend_succeed()));
        connect(mgr, SIGNAL(signal_connect_rejected(int)), this, SLOT(slot_connect_rejected(int)));
        connect(mgr, SIGNAL(signal_connect_timeout()), this, SLOT(slot_connect_timeout()));
        connect(mgr, SIGNAL(signal_connect_closed()), this, SLOT(slot_connect_closed()));
        connect(this, SIGNAL(signal_connect(QString)), mgr, SLOT(slot_connect(QString)));
        connect(this, SIGNAL(signal_connect_password(QString, QString)), mgr,
                SLOT(slot_connect_password(QString, QString)));
        connect(mgr, SIGNAL(signal_connect_failed()), this, SLOT(slot_connect_failed()));
        connect(this, SIGNAL(signal_choose_screen(QString)), mgr, SLOT(slot_choose_screen(QString)));
        connect(this, SIGNAL(signal_disconnect()), mgr, SLOT(slot_disconnect()));
        connect(this, SIGNAL(signal_send()), mgr, SLOT(slot_send()));
        connect(this, SIGNAL(signal_stopsend()), mgr, SLOT(slot_stopsend()));
    }

    int count(const QString &name) const
    {
        int n = 0;
        for (const Result &r : results)
            n += r.name == name;
        return n;
    }

    // The argument of the latest `name` (-1 when none arrived).
    int lastArg(const QString &name) const
    {
        for (int i = results.size() - 1; i >= 0; --i)
            if (results[i].name == name)
                return results[i].arg;
        return -1;
    }

    // Runs the event loop until `name` has arrived n times in all.
    bool waitFor(const QString &name, int n = 1, int timeoutMs = 10000)
    {
        QElapsedTimer t;
        t.start();
        while (count(name) < n) {
            qint64 left = timeoutMs - t.elapsed();
            if (left <= 0)
                return false;
            spy.wait(int(left));
        }
        return true;
    }

    QList<Result> results;
    QSignalSpy spy{this, SIGNAL(received(QString, int))};

signals:
    void signal_connect(QString address);
    void signal_connect_password(QString address, QString password);
    void signal_choose_screen(QString name);
    void signal_disconnect();
    void signal_send();
    void signal_stopsend();
    void received(QString name, int arg);

private slots:
    void slot_connect_succeed() { note("connect_succeed"); }
    void slot_connect_failed() { note("connect_failed"); }
    void slot_send_succeed() { note("send_succeed"); }
    void slot_send_failed() { note("send_failed"); }
    void slot_stopsend_succeed() { note("stopsend_succeed"); }
    void slot_connect_rejected(int iCode) { note("connect_rejected", iCode); }
    void slot_connect_timeout() { note("connect_timeout"); }
    void slot_connect_closed() { note("connect_closed"); }

private:
    void note(const char *name, int arg = 0)
    {
        results.append({QString::fromLatin1(name), arg, QThread::currentThread()});
        emit received(QString::fromLatin1(name), arg);
    }
};

// Every Qt message of the process, from any thread.
class MessageLog
{
public:
    static void install()
    {
        qInstallMessageHandler(&MessageLog::handler);
    }

    static QStringList all()
    {
        std::lock_guard<std::mutex> g(mutex());
        QStringList list;
        for (const std::string &m : messages())
            list << QString::fromStdString(m);
        return list;
    }

    static void clear()
    {
        std::lock_guard<std::mutex> g(mutex());
        messages().clear();
    }

    static int count(const QString &text)
    {
        int n = 0;
        for (const QString &m : all())
            n += m.contains(text);
        return n;
    }

    // Runs the event loop until `text` has been written n times in all.
    static bool waitFor(const QString &text, int n = 1, int timeoutMs = 10000)
    {
        QElapsedTimer t;
        t.start();
        while (count(text) < n) {
            if (t.elapsed() > timeoutMs)
                return false;
            QTest::qWait(10);
        }
        return true;
    }

private:
    // Plain strings under a std::mutex: nothing shared with Qt's own
    // reference counting crosses threads here.
    static std::mutex &mutex()
    {
        static std::mutex m;
        return m;
    }
    static std::vector<std::string> &messages()
    {
        static std::vector<std::string> list;
        return list;
    }
    static void handler(QtMsgType, const QMessageLogContext &, const QString &message)
    {
        std::string text = message.toStdString();
        std::lock_guard<std::mutex> g(mutex());
        messages().push_back(std::move(text));
    }
};

// A test with the process's manager, wired to a stand-in window. Every
// result must have reached the window on the GUI thread.
class ManagerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TandeoMgr::createInstance();
        mgr = TandeoMgr::instance();
        ASSERT_NE(mgr, nullptr);
        ASSERT_TRUE(mgr->hasSession());
        win.wire(mgr);
    }

    void TearDown() override
    {
        TandeoMgr::destroyInstance();
        // Results that were still queued are delivered (or dropped) now.
        QCoreApplication::processEvents();
        for (const auto &r : win.results)
            EXPECT_EQ(r.thread, qApp->thread()) << r.name.toStdString() << " arrived on another thread";
    }

    TandeoMgr *mgr = nullptr;
    StandInWindow win;
};
