// Serves one file to 127.0.0.1 on a loopback port with TTftpServer until SIGINT or SIGTERM.
// Usage: tftp_bench_server FILE [PORT]   (PORT 0 or missing: any free port)
// The name served is FILE's own name. Prints "PORT <n>" once it listens, and one line per
// finished transfer on stderr.
#include "net/tftp_server.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [PORT]\n", argv[0]);
        return 2;
    }
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr); // the server thread inherits the mask

    TTftpServer server;
    server.setFinishedHandler([](const TTftpServer::Finished& f) {
        std::fprintf(stderr, "%s %s %llu/%llu %s\n", f.client.c_str(), f.fileName.c_str(),
                     static_cast<unsigned long long>(f.bytesSent),
                     static_cast<unsigned long long>(f.fileSize),
                     f.success ? "ok" : f.reason.c_str());
    });
    const std::string path = argv[1];
    const std::string name = path.substr(path.rfind('/') + 1);
    const auto port = static_cast<std::uint16_t>(argc > 2 ? std::atoi(argv[2]) : 0);
    const std::string error = server.start({path, name, -1, "127.0.0.1"}, "127.0.0.1", port);
    if (!error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::printf("PORT %u\n", server.boundPort());
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stop, &signal);
    server.stop();
    return 0;
}
