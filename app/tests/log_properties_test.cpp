#include "app/log_properties.h"
#include "probe_process.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <log4cxx/helpers/properties.h>

#include <gtest/gtest.h>

namespace {

QStringList g_messages;

void collect(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_messages << message;
}

// Sets environment variables for one test and restores them afterwards.
class ScopedEnv
{
public:
    void set(const char *name, const QByteArray &value)
    {
        saved_.append({name, qgetenv(name)});
        qputenv(name, value);
    }
    void unset(const char *name)
    {
        saved_.append({name, qgetenv(name)});
        qunsetenv(name);
    }
    ~ScopedEnv()
    {
        for (int i = saved_.size() - 1; i >= 0; --i) {
            if (saved_[i].second.isNull())
                qunsetenv(saved_[i].first);
            else
                qputenv(saved_[i].first, saved_[i].second);
        }
    }

private:
    QVector<QPair<const char *, QByteArray>> saved_;
};

QString prop(const log4cxx::helpers::Properties &p, const char *key)
{
    return QString::fromStdString(p.getProperty(key));
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

TEST(LogProperties, ExpandsEnvironmentReferences)
{
    ScopedEnv env;
    env.set("TD_A", "C:\\Users\\me");
    env.set("TD_B", "x\\y");
    env.set("TD_EMPTY", "");
    env.set("TD_LOOP", "${TD_A}");
    env.set("Td_Mixed_Case", "found");
    env.unset("TD_UNSET");

    EXPECT_EQ(expandEnvironmentReferences("${TD_A}/logs/${TD_B}"), "C:/Users/me/logs/x/y");
    EXPECT_EQ(expandEnvironmentReferences("${TD_UNSET}/a"), "${TD_UNSET}/a");
    EXPECT_EQ(expandEnvironmentReferences("${TD_EMPTY}/a"), "${TD_EMPTY}/a");
    EXPECT_EQ(expandEnvironmentReferences("a/${TD_A"), "a/${TD_A");
    EXPECT_EQ(expandEnvironmentReferences("${TD_B}${"), "x/y${");
    EXPECT_EQ(expandEnvironmentReferences("${TD_LOOP}"), "${TD_A}") << "inserted text is not scanned";
    EXPECT_EQ(expandEnvironmentReferences("${td_mixed_case}"), "found");
    EXPECT_EQ(expandEnvironmentReferences("plain"), "plain");
    EXPECT_EQ(expandEnvironmentReferences(""), "");
}

TEST(LogProperties, LoadsExpandsAndPlacesTheLogFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ScopedEnv env;
    env.set("TD_LOGBASE", "D:\\data");
    const QString path = dir.path() + "/log.properties";
    ASSERT_TRUE(writeAll(path, "# comment\n"
                               "log4j.rootLogger=DEBUG, dest\n"
                               "log4j.appender.dest.file=${TD_LOGBASE}/logs\n"
                               "log4j.appender.other.file=${TD_LOGBASE}/other\n"
                               "log4j.appender.dest.File=unchanged\n"));
    log4cxx::helpers::Properties p;
    loadLogProperties(path, p);
    const QString app = QCoreApplication::applicationName();
    EXPECT_EQ(prop(p, "log4j.appender.dest.file"), "D:/data/logs/" + app + "/app.log");
    EXPECT_EQ(prop(p, "log4j.appender.other.file"), "D:/data/other");
    EXPECT_EQ(prop(p, "log4j.appender.dest.File"), "unchanged") << "the key is case-sensitive";
    EXPECT_EQ(prop(p, "log4j.rootLogger"), "DEBUG, dest");

    // The suffix comes even without a reference.
    ASSERT_TRUE(writeAll(path, "log4j.appender.dest.file=/var/tmp\n"));
    log4cxx::helpers::Properties q;
    loadLogProperties(path, q);
    EXPECT_EQ(prop(q, "log4j.appender.dest.file"), "/var/tmp/" + app + "/app.log");
}

TEST(LogProperties, MissingFileLeavesPropertiesEmpty)
{
    g_messages.clear();
    QtMessageHandler previous = qInstallMessageHandler(collect);
    log4cxx::helpers::Properties p;
    loadLogProperties("/nonexistent/log4qt_win.properties", p);
    qInstallMessageHandler(previous);
    EXPECT_TRUE(p.propertyNames().empty());
    ASSERT_EQ(g_messages.size(), 1);
    EXPECT_TRUE(g_messages[0].contains("Failed to open log conf file"));
}

// ---- the whole set-up, in a process of its own ----------------------------

TEST(LogSystem, QtMessagesReachTheFileThePropertiesName)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.path() + "/log.properties";
    ASSERT_TRUE(writeAll(path, "log4j.rootLogger=DEBUG, dest\n"
                               "log4j.appender.dest=org.apache.log4j.RollingFileAppender\n"
                               "log4j.appender.dest.file=${TD_LOGBASE}/nested\n"
                               "log4j.appender.dest.Encoding=UTF-8\n"
                               "log4j.appender.dest.layout=org.apache.log4j.PatternLayout\n"
                               "log4j.appender.dest.layout.ConversionPattern=%-5p %m%n\n"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TD_LOGBASE", dir.path());
    const ProbeResult r = runProbe(TANDEO_LOG_PROBE, {path}, env);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

    const QString log = QString::fromUtf8(readAll(dir.path() + "/nested/tandeo-log-probe/app.log"));
    EXPECT_TRUE(log.contains(QString::fromUtf8("INFO  main")))
        << log.toStdString() << "\nstderr:\n" << r.err.toStdString();
    EXPECT_TRUE(log.contains(QString::fromUtf8("probe info line \"无线投屏\"")));
    EXPECT_TRUE(log.contains("DEBUG main"));
    EXPECT_TRUE(log.contains("probe debug line"));
    EXPECT_TRUE(log.contains("WARN  main"));
    // The loader's own lines come before Qt's messages are routed.
    EXPECT_FALSE(log.contains("Key1: "));
    EXPECT_TRUE(r.err.contains("Key1: "));
}

TEST(LogSystem, ShippedPropertiesLogUnderHome)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    const ProbeResult r = runProbe(TANDEO_LOG_PROBE, {TANDEO_SHIPPED_PROPERTIES}, env);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

    const QByteArray log = readAll(home.path() + "/.local/state/tandeo-log-probe/app.log");
    EXPECT_TRUE(log.contains("probe info line")) << r.err.toStdString();
    EXPECT_TRUE(log.contains("probe debug line"));
    EXPECT_TRUE(log.contains("category debug line"));
    // Qt's own categories are kept to warnings and worse.
    EXPECT_FALSE(log.contains("qt category info line"));
    EXPECT_TRUE(log.contains("qt category warning line"));
    // The console shows information and worse, not the debug lines.
    EXPECT_TRUE(r.err.contains("probe info line"));
    EXPECT_FALSE(r.err.contains("probe debug line"));
}

TEST(LogSystem, WithoutPropertiesTheConsoleStillLogs)
{
    const ProbeResult r = runProbe(TANDEO_LOG_PROBE, {"/nonexistent/log4qt_win.properties"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("Failed to open log conf file"));
    EXPECT_TRUE((r.out + r.err).contains("probe info line"));
    EXPECT_TRUE((r.out + r.err).contains("probe debug line"));
}
