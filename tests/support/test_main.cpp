#include <QCoreApplication>
#include <gtest/gtest.h>

// Core tests still get a QCoreApplication: queued calls and timers need an event loop.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
