// Program entry: every long-lived object made once, each after what it uses, then the message
// loop.
#include "app/application.h"
#include "app/command_line.h"
#include "app/program_parts.h"
#include "app/qt_dialogs.h"
#include "app/settings_location.h"
#include "log/session_log.h"

#include <QFileInfo>

#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
    // A peer that hangs up on one of our sockets must fail that write with EPIPE, not end the
    // program: sendfile() and the pty writes have no per-call way to say so.
    ::signal(SIGPIPE, SIG_IGN);
    // Answered before Qt looks for a display, so they work over ssh and in scripts.
    if (const EarlyCommand early = findEarlyCommand({argv, argv + argc});
        early != EarlyCommand::None) {
        std::fputs(earlyCommandText(early, STBMATE_VERSION).c_str(), stdout);
        return 0;
    }
    TApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("stbmate"));
    installGermanQtTranslations();

    QtDialogs dialogs;
    app.setErrorDialogs(&dialogs);
    // Settings and log beside the program (portable) or in the user's folders (installed).
    const SettingsLocation where = decideSettingsLocation(
        currentSettingsInputs(QCoreApplication::applicationDirPath(), STBMATE_SHARE_FROM_BIN),
        RealFileQueries());
    provideUserSettingsFile(where);
    SessionLog log(where.logBaseDir);
    DesktopServices desktop;
    ProgramParts parts(desktop.services(dialogs, log), QFileInfo(where.iniPath).path());
    TForm1& form1 = parts.window();
    if (!form1.created())
        return 1; // stbmate.ini is missing: logged and shown, the window never appears
    log.WriteLogEntry(QStringLiteral("****** INFO: ") + describeSettingsLocation(where) +
                      QStringLiteral(" ******"));
    // The boxes belong to the window from now on (the missing-file box above had none).
    dialogs.setParent(&form1);
    form1.showSettingsLocation(settingsLocationToolTip(where));

    centreOnDesktop(&form1);
    form1.show();
    // Everything above goes in reverse: the program's parts (the wiring detached first, then
    // the window, the wiring and the links) before the services, the log and the dialogs they
    // use.
    return app.exec();
}
