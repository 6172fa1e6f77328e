#include "app/log_properties.h"
#include "probe_process.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

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

QString prop(const LogProperties &p, const char *key)
{
    return logProperty(p, QLatin1String(key));
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
                               "! comment too\n"
                               "log4j.rootLogger=DEBUG, dest\n"
                               "log4j.appender.dest.file=${TD_LOGBASE}/logs\n"
                               "  log4j.appender.other.file : ${TD_LOGBASE}/other\n"
                               "log4j.appender.dest.File=unchanged\n"
                               "log4j.appender.dest.layout.ConversionPattern=%-5p \\\n"
                               "    %m%n\r\n"));
    LogProperties p;
    loadLogProperties(path, p);
    const QString app = QCoreApplication::applicationName();
    EXPECT_EQ(prop(p, "log4j.appender.dest.file"), "D:/data/logs/" + app + "/app.log");
    EXPECT_EQ(prop(p, "log4j.appender.other.file"), "D:/data/other");
    EXPECT_EQ(prop(p, "log4j.appender.dest.File"), "unchanged") << "the key is case-sensitive";
    EXPECT_EQ(prop(p, "log4j.rootLogger"), "DEBUG, dest");
    EXPECT_EQ(prop(p, "log4j.appender.dest.layout.ConversionPattern"), "%-5p %m%n");
    EXPECT_EQ(logPropertyKeys(p).size(), 5) << logPropertyKeys(p).join(' ').toStdString();

    // The suffix comes even without a reference.
    ASSERT_TRUE(writeAll(path, "log4j.appender.dest.file=/var/tmp\n"));
    LogProperties q;
    loadLogProperties(path, q);
    EXPECT_EQ(prop(q, "log4j.appender.dest.file"), "/var/tmp/" + app + "/app.log");
}

TEST(LogProperties, MissingFileLeavesPropertiesEmpty)
{
    g_messages.clear();
    QtMessageHandler previous = qInstallMessageHandler(collect);
    LogProperties p;
    loadLogProperties("/nonexistent/log4qt_win.properties", p);
    qInstallMessageHandler(previous);
    EXPECT_TRUE(logPropertyKeys(p).isEmpty());
    ASSERT_EQ(g_messages.size(), 1);
    EXPECT_TRUE(g_messages[0].contains("Failed to open log conf file"));
}

// ---- the whole set-up, in a process of its own ----------------------------
// Each case runs against every log back-end's probe: log4cxx's and the
// Qt-only one of the Windows build (the only one there).

namespace {

const char *const kProbes[] = {
    TANDEO_LOG_PROBE,
#ifdef TANDEO_LOG_PROBE_QT
    TANDEO_LOG_PROBE_QT,
#endif
};

// The probe's application name, which names the folder of its app.log.
QString appName(const QString &probe)
{
    return QFileInfo(probe).completeBaseName();
}

// A rolling file appender "dest" under ${TD_LOGBASE} that rolls over past
// 1 KB and keeps two old files; written with a continued line and blanks
// around "=", which both readers of the file must take alike.
const char kRollingProperties[] =
    "log4j.rootLogger=DEBUG, dest\n"
    "log4j.appender.dest=org.apache.log4j.RollingFileAppender\n"
    "log4j.appender.dest.file=${TD_LOGBASE}\n"
    "log4j.appender.dest.MaxFileSize=1KB\n"
    "log4j.appender.dest.MaxBackupIndex=2\n"
    "log4j.appender.dest.layout=org.apache.log4j.PatternLayout\n"
    "log4j.appender.dest.layout.ConversionPattern = %-5p %c{1} \\\n"
    "    %m%n\n";

// Runs probe with the properties text in a fresh folder that is also
// ${TD_LOGBASE}; the folder of its app.log is returned in logDir.
ProbeResult runWithProperties(const QString &probe, const QTemporaryDir &dir, const QByteArray &text,
                              QString *logDir, const QStringList &more = {})
{
    const QString path = dir.path() + "/log.properties";
    if (!writeAll(path, text))
        return {};
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TD_LOGBASE", dir.path());
    *logDir = dir.path() + "/" + appName(probe);
    return runProbe(probe, QStringList{path} + more, env);
}

class LogSystem : public ::testing::TestWithParam<const char *>
{
protected:
    QString probe() const { return QString::fromUtf8(GetParam()); }
};

} // namespace

TEST_P(LogSystem, QtMessagesReachTheFileThePropertiesName)
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
    const ProbeResult r = runProbe(probe(), {path}, env);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

    const QString log =
        QString::fromUtf8(readAll(dir.path() + "/nested/" + appName(probe()) + "/app.log"));
    EXPECT_TRUE(log.contains(QString::fromUtf8("INFO  main")))
        << log.toStdString() << "\nstderr:\n" << r.err.toStdString();
    EXPECT_TRUE(log.contains(QString::fromUtf8("probe info line \"无线投屏\"")));
    EXPECT_TRUE(log.contains("DEBUG main"));
    EXPECT_TRUE(log.contains("probe debug line"));
    EXPECT_TRUE(log.contains("WARN  main"));
    // The loader's own lines come before Qt's messages are routed: they
    // reach Qt's own output (on Windows the debugger's, not stderr).
    EXPECT_FALSE(log.contains("Key1: "));
#ifndef _WIN32
    EXPECT_TRUE(r.err.contains("Key1: "));
#endif
}

TEST_P(LogSystem, ShippedPropertiesLogUnderTheUsersFolder)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
#ifdef _WIN32
    // The Windows build's file logs under the application-data folder.
    env.insert("APPDATA", home.path());
    const QString base = home.path();
#else
    env.insert("HOME", home.path());
    const QString base = home.path() + "/.local/state";
#endif
    const ProbeResult r = runProbe(probe(), {TANDEO_SHIPPED_PROPERTIES}, env);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

    const QByteArray log = readAll(base + "/" + appName(probe()) + "/app.log");
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

TEST_P(LogSystem, WithoutPropertiesTheConsoleStillLogs)
{
    const ProbeResult r = runProbe(probe(), {"/nonexistent/log4qt_win.properties"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
#ifndef _WIN32
    EXPECT_TRUE(r.err.contains("Failed to open log conf file"));  // Qt's own output
#endif
    EXPECT_TRUE((r.out + r.err).contains("probe info line"));
    EXPECT_TRUE((r.out + r.err).contains("probe debug line"));
}

TEST_P(LogSystem, ALogFileThatCannotBeOpenedLeavesTheConsole)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // The log folder would have to be made inside a plain file.
    ASSERT_TRUE(writeAll(dir.path() + "/plain", "not a folder"));
    QString logDir;
    const ProbeResult r = runWithProperties(
        probe(), dir,
        "log4j.rootLogger=DEBUG, dest, console\n"
        "log4j.appender.dest=org.apache.log4j.RollingFileAppender\n"
        "log4j.appender.dest.file=${TD_LOGBASE}/plain\n"
        "log4j.appender.dest.layout=org.apache.log4j.PatternLayout\n"
        "log4j.appender.console=org.apache.log4j.ConsoleAppender\n"
        "log4j.appender.console.Target=System.err\n"
        "log4j.appender.console.layout=org.apache.log4j.PatternLayout\n"
        "log4j.appender.console.layout.ConversionPattern=%-5p %m%n\n",
        &logDir, {"3"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("INFO  main")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("numbered line 3"));
}

TEST_P(LogSystem, RollsOverAtMaxFileSizeKeepingMaxBackupIndexFiles)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QString logDir;
    const ProbeResult r = runWithProperties(probe(), dir, kRollingProperties, &logDir, {"100"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("rollover")) << r.err.toStdString();

    // Oldest first: app.log.2, app.log.1, app.log; app.log.3 is gone.
    EXPECT_FALSE(QFile::exists(logDir + "/app.log.3"));
    QList<int> numbers;
    const QRegularExpression numbered("^INFO  root main \\d+ numbered line (\\d+)$");
    for (const char *name : {"app.log.2", "app.log.1", "app.log"}) {
        const QByteArray bytes = readAll(logDir + "/" + name);
        if (QByteArray(name) != "app.log") {
            // A file is rolled over at the first line that finds it 1 KB long.
            const int lastLine = bytes.size() - 1 - bytes.lastIndexOf('\n', bytes.size() - 2);
            EXPECT_GE(bytes.size(), 1024) << name;
            EXPECT_LT(bytes.size() - lastLine, 1024) << name;
        }
        for (const QString &line : QString::fromUtf8(bytes).split('\n', Qt::SkipEmptyParts)) {
            const QRegularExpressionMatch m = numbered.match(line);
            EXPECT_TRUE(m.hasMatch() || !line.contains("numbered")) << line.toStdString();
            if (m.hasMatch())
                numbers << m.captured(1).toInt();
        }
    }
    ASSERT_FALSE(numbers.isEmpty());
    EXPECT_EQ(numbers.last(), 100);
    EXPECT_GT(numbers.first(), 1) << "the oldest file was dropped";
    for (int i = 1; i < numbers.size(); ++i)
        ASSERT_EQ(numbers[i], numbers[i - 1] + 1) << "lines lost or out of order";
}

INSTANTIATE_TEST_SUITE_P(Backends, LogSystem, ::testing::ValuesIn(kProbes),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                             return appName(QString::fromUtf8(info.param))
                                 .replace(QRegularExpression("[^A-Za-z0-9]"), "_")
                                 .toStdString();
                         });

#ifdef TANDEO_LOG_PROBE_QT
// The Qt-only back-end writes what log4cxx writes: the same lines, but for
// the time and the thread, and the same rolled files.
TEST(LogBackends, WriteTheSameLinesAndRollTheSameFiles)
{
    const QString probes[] = {TANDEO_LOG_PROBE, TANDEO_LOG_PROBE_QT};
    QStringList shipped[2];
    QByteArray rolled[2][3];
    const QRegularExpression timeAndThread(
        "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\[0x[0-9a-f]+\\] ",
        QRegularExpression::MultilineOption);
    for (int b = 0; b < 2; ++b) {
        QTemporaryDir home;
        ASSERT_TRUE(home.isValid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        const ProbeResult r = runProbe(probes[b], {TANDEO_SHIPPED_PROPERTIES, "3"}, env);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const QString log = QString::fromUtf8(
            readAll(home.path() + "/.local/state/" + appName(probes[b]) + "/app.log"));
        EXPECT_EQ(log.count(timeAndThread), log.count('\n')) << log.toStdString();
        shipped[b] = QString(log).replace(timeAndThread, "<time> [<thread>] ").split('\n');

        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        QString logDir;
        ASSERT_EQ(runWithProperties(probes[b], dir, kRollingProperties, &logDir, {"100"}).exitCode, 0);
        int i = 0;
        for (const char *name : {"app.log", "app.log.1", "app.log.2"})
            rolled[b][i++] = readAll(logDir + "/" + name);
    }
    EXPECT_EQ(shipped[0].join('\n').toStdString(), shipped[1].join('\n').toStdString());
    EXPECT_GE(shipped[0].size(), 8);
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(rolled[0][i].isEmpty());
        EXPECT_EQ(rolled[0][i].toStdString(), rolled[1][i].toStdString()) << "file " << i;
    }
}
#endif
