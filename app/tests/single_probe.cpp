// tandeo-single-probe [--as-nobody] KEY: start-up's single-instance step under
// KEY (--as-nobody: when started by root, as the user nobody).
// A later instance hands "message from other instance" to the first and exits
// with 0, printing "running sent=<0|1>". The first prints "first", then
// "received: <text>" for each message, and runs until its input closes.
#include "app/single_application.h"

#include <QSocketNotifier>

#include <cstdio>
#include <cstring>
#include <unistd.h>

int main(int argc, char **argv)
{
    int arg = 1;
    if (arg < argc && std::strcmp(argv[arg], "--as-nobody") == 0) {
        ++arg;
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            std::perror("drop root");
            return 3;
        }
    }
    if (arg >= argc)
        return 2;
    const QString key = QString::fromLocal8Bit(argv[arg]);
    CSingleApplication app(argc, argv, key);
    if (app.isRunning()) {
        const bool sent = app.sendMessage(QStringLiteral("message from other instance"));
        std::printf("running sent=%d\n", sent ? 1 : 0);
        return 0;
    }

    QObject::connect(&app, &CSingleApplication::messageAvailable, [](const QString &message) {
        std::printf("received: %s\n", message.toUtf8().constData());
        std::fflush(stdout);
    });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&app](int fd) {
        char buf[64];
        if (read(fd, buf, sizeof buf) <= 0)
            app.quit();
    });
    std::printf("first\n");
    std::fflush(stdout);
    return app.exec();
}
