#include "app/save_datafile.h"

#include "app/env_lookup.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QtEndian>

namespace {

// Reads one string in the data stream's form (32-bit byte count, then
// UTF-16 big-endian code units; 0xFFFFFFFF for a null string). The count is
// checked against what the file still holds before anything is allocated.
bool readString(QDataStream &in, QString &out)
{
    quint32 bytes = 0;
    in >> bytes;
    if (in.status() != QDataStream::Ok)
        return false;
    if (bytes == 0xFFFFFFFFu) {
        out = QString();
        return true;
    }
    if ((bytes & 1u) != 0 || qint64(bytes) > in.device()->bytesAvailable())
        return false;
    QByteArray raw(int(bytes), Qt::Uninitialized);
    if (in.readRawData(raw.data(), int(bytes)) != int(bytes))
        return false;
    out = QString(int(bytes / 2), Qt::Uninitialized);
    qFromBigEndian<quint16>(raw.constData(), bytes / 2, out.data());
    return true;
}

} // namespace

CSaveDatafile *CSaveDatafile::instance()
{
    static CSaveDatafile store(defaultFilePath());
    return &store;
}

QString CSaveDatafile::defaultFilePath()
{
    QString base = environmentValue(QStringLiteral("appdata"));
    if (base.isEmpty())
        base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return base + QLatin1Char('/') + QCoreApplication::applicationName()
           + QStringLiteral("/settings/nums.db");
}

CSaveDatafile::CSaveDatafile(const QString &filePath, QObject *parent)
    : QObject(parent), m_filePath(filePath)
{
}

CSaveDatafile::~CSaveDatafile() = default;

QStringList CSaveDatafile::readMeetingNumbers()
{
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        // A missing file is the normal first start.
        if (file.exists())
            qDebug() << Q_FUNC_INFO << __LINE__ << "can not open file" << m_filePath
                     << file.errorString();
        return QStringList();
    }

    QDataStream in(&file);
    in.setVersion(QDataStream::Qt_5_4);

    qint32 magic = 0;
    QString tag;
    in >> magic;
    const bool headerRead = in.status() == QDataStream::Ok && readString(in, tag);

    QStringList numbers;
    qint32 count = 0;
    in >> count;
    // Every string takes at least its 4-byte count, so a count beyond that
    // cannot be honest; it is refused before the loop.
    bool listRead = headerRead && in.status() == QDataStream::Ok && count >= 0
                    && qint64(count) <= file.bytesAvailable() / 4;
    for (qint32 i = 0; listRead && i < count; ++i) {
        QString number;
        listRead = readString(in, number);
        if (listRead)
            numbers.append(number);
    }
    if (!listRead)
        numbers.clear();
    file.close();

    if (!headerRead || magic != m_magic || tag != m_appTag) {
        qDebug() << Q_FUNC_INFO << __LINE__ << "file format error!" << m_filePath;
        return QStringList();
    }
    return numbers;
}

void CSaveDatafile::writeMeetingNumbers(const QStringList &numbers)
{
    const QString folder = QFileInfo(m_filePath).absolutePath();
    if (!QDir(folder).exists() && !QDir().mkpath(folder))
        qDebug() << "create sub-dir failed. path=" << folder;

    // The list goes to a temporary file beside nums.db that replaces it only
    // when complete, so a crash or a full disk keeps the previous list.
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly)) {
        qDebug() << Q_FUNC_INFO << __LINE__ << "can not open file" << m_filePath
                 << file.errorString();
        return;
    }

    QDataStream out(&file);
    out.setVersion(QDataStream::Qt_5_4);
    out << m_magic << m_appTag << qint32(numbers.size());
    for (const QString &number : numbers)
        out << number;

    // A full disk shows only in the stream's status or in the flush of the
    // buffered bytes; commit() alone would link whatever part got written.
    if (out.status() != QDataStream::Ok || !file.flush())
        file.cancelWriting();
    if (!file.commit())
        qDebug() << Q_FUNC_INFO << __LINE__ << "can not write file" << m_filePath
                 << file.errorString();
}
