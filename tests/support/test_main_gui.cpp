#include <QApplication>
#include <gtest/gtest.h>

#include <csignal>

// Widget tests run on the offscreen platform unless the caller chose one (Xvfb screenshots).
int main(int argc, char** argv) {
    ::signal(SIGPIPE, SIG_IGN); // as the program's entry does
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
