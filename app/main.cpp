// Program entry: every long-lived object made once, each after what it uses, then the message
// loop.
#include "app/application.h"
#include "app/command_line.h"
#include "app/main_window.h"
#include "app/process_starter.h"
#include "app/qt_dialogs.h"
#include "app/receiver_wiring.h"
#include "app/settings_location.h"
#include "app/small_dialogs.h"
#include "log/session_log.h"
#include "usbstick/format_dialog.h"
#include "usbstick/format_services.h"

#include <QFileInfo>

#include <cstdio>

int main(int argc, char** argv) {
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
    DetachedProcessStarter starter;
    // Settings and log beside the program (portable) or in the user's folders (installed).
    const SettingsLocation where = decideSettingsLocation(
        currentSettingsInputs(QCoreApplication::applicationDirPath(), STBMATE_SHARE_FROM_BIN),
        RealFileQueries());
    provideUserSettingsFile(where);
    SessionLog log(where.logBaseDir);
    // The active language's texts: the window fills them, the jobs and the format dialog read
    // them when they show a box.
    LanguageTexts language;
    TForm2 form2;
    TForm4 form4;
    const std::unique_ptr<usbstick::FormatLibrary> formatLibrary = usbstick::chooseFormatLibrary();
    const std::unique_ptr<usbstick::DriveLister> driveLister = usbstick::chooseDriveLister();
    usbstick::TForm3 form3(*formatLibrary, *driveLister,
                           {[&dialogs](const QString& text) { dialogs.showMessage(text); },
                            [&dialogs](const QString& text) { return dialogs.confirm(text); },
                            [&language](int n) { return language.messages.text(MessageId(n)); },
                            [&log](const QString& text) { log.WriteLogEntry(text); },
                            [&log](const QString& text) { log.WriteLogError(text); }});
    // The port, the network parts and the jobs; the window's handlers call into it.
    ReceiverWiring wiring({dialogs, log, form2, form4, language, form3, *formatLibrary});
    TForm1 form1(dialogs, starter, wiring, language, QFileInfo(where.iniPath).path());
    // The wiring's parts made and joined to the window, then the window reads its settings;
    // detached again before the window goes.
    const WindowAttachment attached(wiring, form1);
    log.WriteLogEntry(QStringLiteral("****** INFO: ") + describeSettingsLocation(where) +
                      QStringLiteral(" ******"));
    if (!form1.created())
        return 1; // stbmate.ini is missing: logged and shown, the window never appears
    // The boxes belong to the window from now on (the missing-file box above had none).
    dialogs.setParent(&form1);
    form1.showSettingsLocation(settingsLocationToolTip(where));

    centreOnDesktop(&form1);
    form1.show();
    // Everything above goes in reverse: the attachment (it detaches the wiring) before the
    // window, the window before the wiring, the wiring before the dialogs, the log and the
    // settings it uses.
    return app.exec();
}
