// stbsim: runs the simulated receiver by hand, for a demo or for poking at it with a terminal
// program. Prints the device path to use as the serial port, then serves until Ctrl-C.
//
//   stbsim [--silent] [--no-config] [--start-dir DIR] [--config-file NAME=HOSTPATH]...
//
// As root: start it, type the printed path (e.g. /dev/pts/3) into stbmate's port box, enter
// an address and pick "IP-Adresse setzen/ändern"; the shell and vi answer in the terminal
// page. The chroot's folder is printed too, so /config/start.sh can be looked at meanwhile.
#include "tests/sim/receiver_simulator.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <csignal>
#include <cstdio>

#include <unistd.h>

namespace {
volatile std::sig_atomic_t g_quit = 0;
void onSignal(int) {
    g_quit = 1;
}

int usage() {
    std::fprintf(stderr, "usage: stbsim [--silent] [--no-config] [--start-dir DIR] "
                         "[--config-file NAME=HOSTPATH]...\n");
    return 2;
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    stbsim::ReceiverSimulator::Options options;
    const QStringList args = app.arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("--silent")) {
            options.withShell = false;
        } else if (arg == QLatin1String("--no-config")) {
            options.withConfigDir = false;
        } else if (arg == QLatin1String("--start-dir") && i + 1 < args.size()) {
            options.startDir = args[++i];
        } else if (arg == QLatin1String("--config-file") && i + 1 < args.size()) {
            const QString argument = args[++i];
            const qsizetype eq = argument.indexOf(QLatin1Char('='));
            QFile file(argument.mid(eq + 1));
            if (eq <= 0 || !file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "stbsim: cannot read %s\n", qPrintable(argument.mid(eq + 1)));
                return 2;
            }
            options.configFiles[argument.left(eq)] = file.readAll();
        } else {
            return usage();
        }
    }

    stbsim::ReceiverSimulator simulator;
    QString error;
    if (!simulator.start(options, &error)) {
        std::fprintf(stderr, "stbsim: %s\n", qPrintable(error));
        return 1;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::printf("%s\n", qPrintable(simulator.portPath()));
    std::fprintf(stderr, "stbsim: receiver console on %s, chroot %s; Ctrl-C ends\n",
                 qPrintable(simulator.portPath()), qPrintable(simulator.rootPath()));
    std::fflush(stdout);
    while (!g_quit)
        ::pause();
    simulator.stop();
    return 0;
}
