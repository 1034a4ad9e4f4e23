// A second program that tries to open the serial device named on its command line and
// prints what happened: "opened" or the failure's message. Exit code 0 / 3.
#include "serial/com_port.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    TComPort port;
    try {
        port.setDevicePath(QString::fromLocal8Bit(argv[1]));
        port.Open();
    } catch (const EPortException& e) {
        std::printf("%s\n", e.message().toLocal8Bit().constData());
        return 3;
    }
    std::printf("opened\n");
    return 0;
}
