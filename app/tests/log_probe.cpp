// tandeo-log-probe PROPERTIES [COUNT]: sets up logging the way start-up does,
// from the given properties file, then writes a few lines through Qt's
// message streams, and COUNT numbered lines after them. Built once per log
// back-end (tandeo-log-probe-qt: the Qt-only one).
#include "app/log_properties.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLoggingCategory>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    configureLogSystem(QString::fromLocal8Bit(argv[1]));
    qInfo() << "main" << __LINE__ << "probe info line" << QString::fromUtf8("无线投屏");
    qDebug() << "main" << __LINE__ << "probe debug line";
    qWarning() << "main" << __LINE__ << "probe warning line";
    // Named categories go to the logger of that name.
    const QLoggingCategory probe("tandeo.probe");
    const QLoggingCategory qtInternal("qt.tandeo.probe");
    qCDebug(probe) << "category debug line";
    qCInfo(qtInternal) << "qt category info line";
    qCWarning(qtInternal) << "qt category warning line";
    const int count = argc > 2 ? QByteArray(argv[2]).toInt() : 0;
    for (int i = 1; i <= count; ++i)
        qInfo() << "main" << __LINE__ << "numbered line" << i;
    return 0;
}
