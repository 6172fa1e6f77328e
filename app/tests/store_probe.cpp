// tandeo-store-probe: the recent-addresses store in a process of its own.
//   tandeo-store-probe read                 prints the list, one entry a line
//   tandeo-store-probe write ENTRY...       replaces the list
// Options before the command:
//   --drop-root          when run as root, run as nobody (so permissions apply)
//   --file-size-limit N  files may not grow beyond N bytes (a full disk)
//   --memory-limit-mb N  the address space is limited to N MiB
// The file is the store's default: $appdata/tandeo-store-probe/settings/nums.db.
#include "app/save_datafile.h"

#include <QCoreApplication>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>

static void limit(int resource, rlim_t value)
{
    struct rlimit lim;
    lim.rlim_cur = value;
    lim.rlim_max = value;
    if (setrlimit(resource, &lim) != 0) {
        std::perror("setrlimit");
        std::exit(3);
    }
}
#endif

int main(int argc, char **argv)
{
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
#ifdef _WIN32
        // The limits are POSIX resource limits; Windows runs the plain cases.
        std::fprintf(stderr, "unknown option %s\n", argv[i]);
        return 2;
#else
        if (std::strcmp(argv[i], "--drop-root") == 0) {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
                std::perror("drop root");
                return 3;
            }
        } else if (std::strcmp(argv[i], "--file-size-limit") == 0 && i + 1 < argc) {
            std::signal(SIGXFSZ, SIG_IGN);
            limit(RLIMIT_FSIZE, std::strtoull(argv[++i], nullptr, 10));
        } else if (std::strcmp(argv[i], "--memory-limit-mb") == 0 && i + 1 < argc) {
            const rlim_t mib = std::strtoull(argv[++i], nullptr, 10);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
            // Sanitizers reserve terabytes of shadow address space up front.
            limit(RLIMIT_AS, mib << 20);
#else
            (void)mib;
#endif
        } else {
            std::fprintf(stderr, "unknown option %s\n", argv[i]);
            return 2;
        }
#endif
    }
    if (i >= argc)
        return 2;
    const int command = i;

    QCoreApplication app(argc, argv);
    CSaveDatafile *store = CSaveDatafile::instance();
    if (std::strcmp(argv[command], "read") == 0) {
        const QStringList numbers = store->readMeetingNumbers();
        for (const QString &number : numbers)
            std::printf("%s\n", number.toUtf8().constData());
        std::printf("count=%d\n", int(numbers.size()));
        return 0;
    }
    if (std::strcmp(argv[command], "write") == 0) {
        // The application's own arguments: on Windows argv holds the ANSI
        // code page's bytes, which cannot carry Chinese addresses.
        const QStringList arguments = QCoreApplication::arguments();
        QStringList numbers;
        for (int k = command + 1; k < argc && k < arguments.size(); ++k)
            numbers << arguments.at(k);
        store->writeMeetingNumbers(numbers);
        std::printf("written\n");
        return 0;
    }
    return 2;
}
