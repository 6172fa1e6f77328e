#pragma once

// Runs the small helper programs of the app tests as child processes.

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

struct ProbeResult
{
    bool finished = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

inline ProbeResult runProbe(const QString &program, const QStringList &args,
                            const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
                            int timeoutMs = 20000)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, args);
    ProbeResult result;
    if (!process.waitForStarted(timeoutMs))
        return result;
    process.closeWriteChannel();
    result.finished = process.waitForFinished(timeoutMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished(timeoutMs);
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
#ifdef _WIN32
    // Text-mode output ends its lines with CR LF there.
    result.out.replace("\r\n", "\n");
    result.err.replace("\r\n", "\n");
#endif
    return result;
}

// Waits until the process's standard output holds needle; everything read so
// far is kept in seen.
inline bool waitForOutput(QProcess &process, const QByteArray &needle, QByteArray &seen,
                          int timeoutMs = 10000)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const bool running = process.state() != QProcess::NotRunning;
        seen += process.readAllStandardOutput();
        if (seen.contains(needle))
            return true;
        const int left = timeoutMs - int(clock.elapsed());
        if (left <= 0 || !running)
            return false;
        process.waitForReadyRead(qMin(left, 200));
    }
}
