#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// The recently used device addresses ("meeting numbers"), kept in one small
// file, nums.db: a big-endian Qt data stream (version 16) holding a magic
// number, a tag and the list, newest address first. The store only reads
// and writes whole lists; the main window decides what goes into them.
class CSaveDatafile : public QObject
{
    Q_OBJECT

public:
    // The process-wide store at defaultFilePath(). Needs the application
    // object, since the path holds the application name.
    static CSaveDatafile *instance();

    // "<base>/<application name>/settings/nums.db", where base is the
    // "appdata" environment variable when it is set, otherwise the user's
    // configuration folder (~/.config on Linux).
    static QString defaultFilePath();

    // A store kept at an explicit path (the program itself uses instance()).
    explicit CSaveDatafile(const QString &filePath, QObject *parent = nullptr);
    ~CSaveDatafile() override;

    QString filePath() const { return m_filePath; }

    // The stored list, or an empty list when there is no usable file.
    QStringList readMeetingNumbers();
    // Replaces the file's content with numbers. The previous file stays
    // whole until the new one is complete on disk.
    void writeMeetingNumbers(const QStringList &numbers);

private:
    QString m_filePath;
    qint32 m_magic = 0x12345678;
    QString m_appTag = QStringLiteral("TandeoQt");
};
