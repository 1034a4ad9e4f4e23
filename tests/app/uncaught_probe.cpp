// Child program for the uncaught-error test: a handler throws from inside the event loop;
// the application must show the error and go on to run the next event.
#include "app/application.h"
#include "app/ini_file.h"
#include "tests/support/fake_dialogs.h"

#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    FakeDialogs dialogs;
    app.setErrorDialogs(&dialogs);
    QTimer::singleShot(0, [] {
        throw EIniFileException(QStringLiteral("In /x/stbmate.ini kann nicht geschrieben werden"));
    });
    QTimer::singleShot(10, [] { throw 7; });
    QTimer::singleShot(20, [&dialogs] {
        for (const QString& line : dialogs.transcriptLines())
            std::printf("%s\n", line.toUtf8().constData());
        std::printf("still running\n");
        QCoreApplication::quit();
    });
    return app.exec();
}
