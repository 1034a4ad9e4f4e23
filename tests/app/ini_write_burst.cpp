// Child process for the crash test: writes to the settings file in a tight loop until it is
// killed. Each round touches every section, so a torn write would lose one of them.
#include "app/ini_file.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ini_write_burst <file>\n");
        return 2;
    }
    IniFile ini(QString::fromLocal8Bit(argv[1]));
    for (long round = 0;; ++round) {
        const QString value = QString::number(round).repeated(int(round % 50) + 1);
        ini.WriteString(QStringLiteral("Main"), QStringLiteral("IP"), value);
        ini.WriteString(QStringLiteral("Deutsch"), QStringLiteral("Msg1"), value);
        ini.WriteString(QStringLiteral("English"), QStringLiteral("Round%1").arg(round % 7), value);
        if (round == 0) {
            std::printf("started\n");
            std::fflush(stdout);
        }
    }
}
