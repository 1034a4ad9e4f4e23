// Serves one file on a loopback port with THTTPServer until SIGINT or SIGTERM.
// Usage: http_bench_server FILE [PORT]   (PORT 0 or missing: any free port)
// Prints "PORT <n>" once it listens.
#include "net/http_server.h"
#include "net/net_errors.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    ::signal(SIGPIPE, SIG_IGN); // as the program's entry does
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [PORT]\n", argv[0]);
        return 2;
    }
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr); // threads started below inherit the mask

    THTTPServer server;
    server.setServeLocation(QString(), QString::fromLocal8Bit(argv[1]));
    server.setBindAddress(QStringLiteral("127.0.0.1"));
    server.setDefaultPort(static_cast<std::uint16_t>(argc > 2 ? std::atoi(argv[2]) : 0));
    try {
        server.Activate();
    } catch (const ENetError& error) {
        std::fprintf(stderr, "%s\n", error.message().toLocal8Bit().constData());
        return 1;
    }
    std::printf("PORT %u\n", server.boundPort());
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stop, &signal);
    server.StopAndRelease();
    return 0;
}
