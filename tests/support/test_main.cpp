#include <QCoreApplication>
#include <gtest/gtest.h>

#include <csignal>

// Core tests still get a QCoreApplication: queued calls and timers need an event loop.
int main(int argc, char** argv) {
    ::signal(SIGPIPE, SIG_IGN); // as the program's entry does
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
