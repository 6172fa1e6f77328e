#include "app/single_application.h"

#include <QByteArray>
#include <QDebug>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

namespace {

const int kSocketWaitMs = 1000;

// The lock belongs to the user's session, as it does on Windows. On Unix the
// segment's key file and the server's socket would otherwise be shared by all
// users in /tmp, and one user's instance would keep every other user out; so
// both are named inside the user's private runtime folder there.
QString sessionScoped(const QString &key)
{
#if defined(Q_OS_UNIX)
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty())
        return runtime + QLatin1Char('/') + key;
#endif
    return key;
}

} // namespace

CSingleApplication::CSingleApplication(int &argc, char **argv, const QString &key)
    : QApplication(argc, argv), m_uniqueKey(sessionScoped(key))
{
    m_sharedMemory.setKey(m_uniqueKey);

    if (m_sharedMemory.attach()) {
        if (instanceAnswers()) {
            m_isRunning = true;
            return;
        }
        // Nobody listens behind the segment: its owner died without removing
        // it (System V segments outlive their processes). Detaching as its
        // last user removes it; a live owner keeps it, and create() says so.
        m_sharedMemory.detach();
        qDebug() << "CSingleApplication::CSingleApplication" << __LINE__
                 << "no instance answers behind the lock, releasing it; key:" << m_uniqueKey;
    }

    m_isRunning = false;
    if (!m_sharedMemory.create(1, QSharedMemory::ReadWrite)) {
        qDebug() << "CSingleApplication::CSingleApplication" << __LINE__
                 << "Unable to create single instance." << m_sharedMemory.errorString();
        // Another instance took the key between our attach and create: it is
        // alive, starting up, and this one gives way to it.
        if (m_sharedMemory.error() == QSharedMemory::AlreadyExists)
            m_isRunning = true;
        return;
    }

    m_localServer = new QLocalServer(this);
    connect(m_localServer, SIGNAL(newConnection()), this, SLOT(receiveMessage()));
    // A socket file left by a crashed instance would make listen() fail; the
    // segment is ours now, so any file of that name is stale.
    QLocalServer::removeServer(m_uniqueKey);
    m_localServer->listen(m_uniqueKey);
}

CSingleApplication::~CSingleApplication()
{
    // Close the server while the lock is still held: closing removes the
    // socket file by its name, and the next instance creates its own socket
    // under that name as soon as it owns the lock.
    delete m_localServer;
    m_localServer = nullptr;
}

bool CSingleApplication::isRunning() const
{
    return m_isRunning;
}

bool CSingleApplication::instanceAnswers() const
{
    QLocalSocket probe;
    probe.connectToServer(m_uniqueKey, QIODevice::WriteOnly);
    const bool answered = probe.waitForConnected(kSocketWaitMs);
    probe.abort();
    return answered;
}

bool CSingleApplication::sendMessage(const QString &message)
{
    if (!m_isRunning)
        return false;

    QLocalSocket socket(this);
    socket.connectToServer(m_uniqueKey, QIODevice::WriteOnly);
    if (!socket.waitForConnected(kSocketWaitMs)) {
        qDebug() << "CSingleApplication::sendMessage" << __LINE__ << "waitForConnected error:"
                 << socket.errorString().toLatin1();
        return false;
    }
    socket.write(message.toUtf8());
    if (!socket.waitForBytesWritten(kSocketWaitMs)) {
        qDebug() << "CSingleApplication::sendMessage" << __LINE__ << "waitForBytesWritten error:"
                 << socket.errorString().toLatin1();
        return false;
    }
    socket.disconnectFromServer();
    return true;
}

void CSingleApplication::receiveMessage()
{
    QLocalSocket *socket = m_localServer->nextPendingConnection();
    if (!socket)
        return;
    // Each connection is deleted once handled, so a stream of starts (or of
    // liveness probes, which close without a word) does not pile up sockets.
    if (!socket->waitForReadyRead(kSocketWaitMs)) {
        if (socket->state() != QLocalSocket::UnconnectedState || socket->bytesAvailable() > 0
            || socket->error() != QLocalSocket::PeerClosedError)
            qDebug() << "CSingleApplication::receiveMessage" << __LINE__ << "waitForReadyRead error:"
                     << socket->errorString().toLatin1();
        socket->deleteLater();
        return;
    }
    QByteArray bytes = socket->readAll();
    const int zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    emit messageAvailable(QString::fromUtf8(bytes));
    socket->disconnectFromServer();
    socket->deleteLater();
}
