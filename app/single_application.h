#pragma once

#include <QApplication>
#include <QSharedMemory>
#include <QString>

class QLocalServer;

// The application object, which also keeps the program to one instance: the
// first instance holds a one-byte shared-memory segment under the key and
// listens on a local server of the same name; a later instance finds the
// segment, hands its message to the first through the server and exits.
// The key is scoped to the user's session: other users run their own instance.
class CSingleApplication : public QApplication
{
    Q_OBJECT

public:
    // argc is kept by reference by QApplication and must outlive this object.
    CSingleApplication(int &argc, char **argv, const QString &key);
    ~CSingleApplication() override;

    // true when another instance already held the key at construction.
    bool isRunning() const;
    // Sends message to the running instance; true when it was delivered.
    bool sendMessage(const QString &message);

public slots:
    void receiveMessage();

signals:
    void messageAvailable(QString message);

private:
    bool instanceAnswers() const;

    bool m_isRunning = false;
    QString m_uniqueKey;
    QSharedMemory m_sharedMemory;
    QLocalServer *m_localServer = nullptr;
};
