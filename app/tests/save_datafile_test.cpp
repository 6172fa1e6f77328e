#include "app/save_datafile.h"
#include "probe_process.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// ---- the file format, written out by hand -------------------------------

QByteArray be32(quint32 v)
{
    QByteArray b;
    b.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
    return b;
}

// A string the data stream's way: byte count, then UTF-16 big-endian.
QByteArray str16(const std::u16string &s)
{
    QByteArray b = be32(quint32(s.size() * 2));
    for (char16_t c : s)
        b.append(char(c >> 8)).append(char(c & 0xff));
    return b;
}

const QByteArray kHeader = QByteArray::fromHex("12345678"
                                               "00000010"
                                               "0054006100"
                                               "6e00640065006f00510074");

QByteArray fileOf(const std::vector<std::u16string> &numbers)
{
    QByteArray b = kHeader + be32(quint32(numbers.size()));
    for (const auto &n : numbers)
        b += str16(n);
    return b;
}

// ---- Qt messages written during a test ------------------------------------

QStringList g_messages;

void collect(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_messages << message;
}

bool logged(const char *text)
{
    for (const QString &m : g_messages)
        if (m.contains(QLatin1String(text)))
            return true;
    return false;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

class StoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        path_ = dir_.path() + QStringLiteral("/tandeo/settings/nums.db");
        g_messages.clear();
        previous_ = qInstallMessageHandler(collect);
    }
    void TearDown() override { qInstallMessageHandler(previous_); }

    QStringList readBytes(const QByteArray &bytes)
    {
        EXPECT_TRUE(writeAll(path_, bytes));
        g_messages.clear();
        return CSaveDatafile(path_).readMeetingNumbers();
    }

    QTemporaryDir dir_;
    QString path_;
    QtMessageHandler previous_ = nullptr;
};

const QString kChinese = QString::fromUtf8("会议室 2");

} // namespace

TEST_F(StoreTest, RoundTripKeepsEntriesAndOrder)
{
    CSaveDatafile store(path_);
    EXPECT_TRUE(store.readMeetingNumbers().isEmpty());
    EXPECT_TRUE(g_messages.isEmpty()) << "a missing file is the normal first start";

    const QStringList numbers{QStringLiteral("192.168.10.20"), kChinese, QString(""),
                              QStringLiteral("10.0.0.1")};
    store.writeMeetingNumbers(numbers);
    EXPECT_EQ(store.readMeetingNumbers(), numbers);

    // A shorter list replaces the whole file, leaving nothing of the longer one.
    store.writeMeetingNumbers({QStringLiteral("10.1.1.1")});
    EXPECT_EQ(store.readMeetingNumbers(), QStringList{QStringLiteral("10.1.1.1")});
    EXPECT_EQ(readAll(path_), fileOf({u"10.1.1.1"}));
    EXPECT_TRUE(g_messages.isEmpty()) << g_messages.join('\n').toStdString();
}

TEST_F(StoreTest, WritesExactlyTheFileFormat)
{
    CSaveDatafile store(path_);
    store.writeMeetingNumbers({});
    EXPECT_EQ(readAll(path_).size(), 28);
    EXPECT_EQ(readAll(path_), fileOf({}));

    store.writeMeetingNumbers({QStringLiteral("10.0.0.7"), QString::fromUtf8("会")});
    const QByteArray golden = QByteArray::fromHex("12345678 00000010"
                                                  "0054 0061 006e 0064 0065 006f 0051 0074"
                                                  "00000002"
                                                  "00000010 0031 0030 002e 0030 002e 0030 002e 0037"
                                                  "00000002 4f1a");
    EXPECT_EQ(readAll(path_).toHex(), golden.toHex());

    // A null string is written as the count 0xFFFFFFFF and read back.
    store.writeMeetingNumbers({QString()});
    EXPECT_EQ(readAll(path_), kHeader + be32(1) + be32(0xFFFFFFFFu));
    EXPECT_EQ(store.readMeetingNumbers().size(), 1);
}

TEST_F(StoreTest, ReadsAFileBuiltByHand)
{
    EXPECT_EQ(readBytes(fileOf({u"172.16.0.9", u"\u4f1a\u8bae"})),
              (QStringList{QStringLiteral("172.16.0.9"), QString::fromUtf8("会议")}));
    // Bytes after the last string are not the reader's business.
    EXPECT_EQ(readBytes(fileOf({u"1.2.3.4"}) + "junk"), QStringList{QStringLiteral("1.2.3.4")});
}

TEST_F(StoreTest, EveryTruncationReadsAsEmpty)
{
    const QByteArray whole = fileOf({u"192.168.1.2", u"10.0.0.1"});
    for (int n = 0; n < whole.size(); ++n) {
        EXPECT_TRUE(readBytes(whole.left(n)).isEmpty()) << "length " << n;
        // Magic and tag end at 24: a shorter file is a format error, a longer
        // one a damaged list, which is not.
        EXPECT_EQ(logged("file format error!"), n < 24) << "length " << n;
    }
}

TEST_F(StoreTest, WrongMagicOrTagIsAFormatError)
{
    QByteArray magic = fileOf({u"10.0.0.1"});
    magic[3] = char(0x79);
    EXPECT_TRUE(readBytes(magic).isEmpty());
    EXPECT_TRUE(logged("file format error!"));

    for (const auto &tag : {std::u16string(u"tandeoQt"), std::u16string(u"TandeoQT"),
                            std::u16string(u"TandeoQtX"), std::u16string(u"")}) {
        const QByteArray bytes = be32(0x12345678) + str16(tag) + be32(1) + str16(u"10.0.0.1");
        EXPECT_TRUE(readBytes(bytes).isEmpty());
        EXPECT_TRUE(logged("file format error!"));
        EXPECT_TRUE(logged("QStringList CSaveDatafile::readMeetingNumbers()"))
            << "the line is tagged with the full signature";
    }
}

TEST_F(StoreTest, DamagedListReadsAsEmptyWithoutFormatError)
{
    const std::vector<QByteArray> damaged = {
        kHeader + be32(3) + str16(u"10.0.0.1"),                      // count beyond the strings
        kHeader + be32(0x7fffffff),                                  // huge count, nothing else
        kHeader + be32(0x7fffffff) + str16(u"10.0.0.1"),
        kHeader + be32(0x80000000u) + str16(u"10.0.0.1"),            // negative count
        kHeader + be32(0xffffffffu),
        kHeader + be32(1) + be32(7) + QByteArray(7, 'a'),            // odd byte count
        kHeader + be32(1) + be32(0xfffffff0u) + QByteArray(16, 'a'), // string beyond the file
        kHeader + be32(2) + str16(u"10.0.0.1") + be32(40) + QByteArray(8, 'a'),
    };
    for (size_t i = 0; i < damaged.size(); ++i) {
        EXPECT_TRUE(readBytes(damaged[i]).isEmpty()) << "case " << i;
        EXPECT_FALSE(logged("file format error!")) << "case " << i;
    }
    // A tag whose byte count is huge: the header itself cannot be read.
    EXPECT_TRUE(readBytes(be32(0x12345678) + be32(0x7ffffffe)).isEmpty());
    EXPECT_TRUE(logged("file format error!"));
}

TEST_F(StoreTest, HugeCountAllocatesNothingLarge)
{
    // The other process may use only 200 MiB beyond what it has: a reader
    // that reserved room for the stored count would abort.
    const QByteArray bytes = kHeader + be32(0x7fffffff) + str16(u"10.0.0.1");
    ASSERT_TRUE(writeAll(dir_.path() + "/tandeo-store-probe/settings/nums.db", bytes));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("appdata", dir_.path());
    const ProbeResult r = runProbe(TANDEO_STORE_PROBE, {"--memory-limit-mb", "1024", "read"}, env);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QByteArray("count=0\n"));
}

TEST_F(StoreTest, UnreadableFileIsLoggedAndReadsAsEmpty)
{
    // A folder where the file should be cannot be opened as a file, even by root.
    ASSERT_TRUE(QDir().mkpath(path_));
    CSaveDatafile store(path_);
    EXPECT_TRUE(store.readMeetingNumbers().isEmpty());
    EXPECT_TRUE(logged("can not open file"));

    // Nor replaced: the write fails loudly and the folder stays.
    g_messages.clear();
    store.writeMeetingNumbers({QStringLiteral("10.0.0.1")});
    EXPECT_TRUE(logged("can not open file")) << g_messages.join('\n').toStdString();
    EXPECT_TRUE(QFileInfo(path_).isDir());
}

TEST_F(StoreTest, MissingFoldersAreCreated)
{
    const QString deep = dir_.path() + "/a/b/c/tandeo/settings/nums.db";
    CSaveDatafile store(deep);
    store.writeMeetingNumbers({QStringLiteral("10.0.0.1")});
    EXPECT_EQ(store.readMeetingNumbers(), QStringList{QStringLiteral("10.0.0.1")});
}

TEST_F(StoreTest, FolderThatCannotBeCreatedIsLogged)
{
    // The base is a plain file, so no folder can be made below it.
    ASSERT_TRUE(writeAll(dir_.path() + "/plain", "x"));
    const QString path = dir_.path() + "/plain/tandeo/settings/nums.db";
    CSaveDatafile store(path);
    store.writeMeetingNumbers({QStringLiteral("10.0.0.1")});
    EXPECT_TRUE(logged("create sub-dir failed. path="));
    EXPECT_TRUE(logged("can not open file"));
    EXPECT_TRUE(store.readMeetingNumbers().isEmpty());
    EXPECT_EQ(readAll(dir_.path() + "/plain"), QByteArray("x"));
}

class StoreProcessTest : public StoreTest
{
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert("appdata", dir_.path());
        probePath_ = dir_.path() + "/tandeo-store-probe/settings/nums.db";
    }
    ProbeResult probe(const QStringList &args) { return runProbe(TANDEO_STORE_PROBE, args, env_); }

    QProcessEnvironment env_;
    QString probePath_;
};

TEST_F(StoreProcessTest, FileWrittenByOneProcessIsReadByAnother)
{
    const ProbeResult w = probe({"write", "192.168.3.4", QString::fromUtf8("会议室"), "10.0.0.9"});
    ASSERT_EQ(w.exitCode, 0) << w.err.toStdString();
    EXPECT_EQ(CSaveDatafile(probePath_).readMeetingNumbers(),
              (QStringList{"192.168.3.4", QString::fromUtf8("会议室"), "10.0.0.9"}));

    CSaveDatafile(probePath_).writeMeetingNumbers({"10.20.30.40", QString::fromUtf8("投屏")});
    const ProbeResult r = probe({"read"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(QString::fromUtf8(r.out), QString::fromUtf8("10.20.30.40\n投屏\ncount=2\n"));
}

TEST_F(StoreProcessTest, ReadOnlyFolderKeepsThePreviousList)
{
    CSaveDatafile(probePath_).writeMeetingNumbers({"10.0.0.1", "10.0.0.2"});
    const QByteArray before = readAll(probePath_);
    const QString settings = QFileInfo(probePath_).absolutePath();
    const auto rx = QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
                    | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
    // The probe may run as nobody, who must be able to reach the file.
    QFile::setPermissions(dir_.path(), rx | QFileDevice::WriteOwner);
    QFile::setPermissions(dir_.path() + "/tandeo-store-probe", rx | QFileDevice::WriteOwner);
    ASSERT_TRUE(QFile::setPermissions(settings, rx));

    const ProbeResult w = probe({"--drop-root", "write", "10.9.9.9"});
    EXPECT_EQ(w.exitCode, 0) << w.err.toStdString();
    EXPECT_TRUE(w.err.contains("can not open file")) << w.err.toStdString();
    EXPECT_EQ(readAll(probePath_), before);
    const ProbeResult r = probe({"--drop-root", "read"});
    EXPECT_EQ(r.out, QByteArray("10.0.0.1\n10.0.0.2\ncount=2\n")) << r.err.toStdString();

    QFile::setPermissions(settings, rx | QFileDevice::WriteOwner);
}

TEST_F(StoreProcessTest, FullDiskKeepsThePreviousList)
{
    CSaveDatafile(probePath_).writeMeetingNumbers({"10.0.0.1", "10.0.0.2"});
    const QByteArray before = readAll(probePath_);

    // Files of the probe may not grow beyond 100 bytes: the new list does not fit.
    QStringList args{"--file-size-limit", "100", "write"};
    for (int i = 0; i < 20; ++i)
        args << QString("192.168.100.%1").arg(i);
    const ProbeResult w = probe(args);
    EXPECT_EQ(w.exitCode, 0) << w.err.toStdString();
    EXPECT_TRUE(w.err.contains("can not write file")) << w.err.toStdString();
    EXPECT_EQ(readAll(probePath_), before);
    QDir settings(QFileInfo(probePath_).absolutePath());
    EXPECT_EQ(settings.entryList(QDir::Files), QStringList{"nums.db"}) << "no temporary file left";
}

TEST(StorePath, BaseIsAppdataElseTheConfigFolder)
{
    const QByteArray savedAppdata = qgetenv("appdata");
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    const QString app = QCoreApplication::applicationName();

    qputenv("appdata", "/srv/users/x");
    EXPECT_EQ(CSaveDatafile::defaultFilePath(), "/srv/users/x/" + app + "/settings/nums.db");

    qunsetenv("appdata");
    qputenv("XDG_CONFIG_HOME", "/home/someone/.config");
    EXPECT_EQ(CSaveDatafile::defaultFilePath(),
              QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/" + app
                  + "/settings/nums.db");
    EXPECT_EQ(CSaveDatafile::defaultFilePath(), "/home/someone/.config/" + app + "/settings/nums.db");

    qputenv("appdata", savedAppdata);
    if (savedAppdata.isNull())
        qunsetenv("appdata");
    qputenv("XDG_CONFIG_HOME", savedConfig);
    if (savedConfig.isNull())
        qunsetenv("XDG_CONFIG_HOME");
}
