// Program entry: the main window, then the small dialogs, then the message loop.
#include "app/application.h"
#include "app/main_window.h"
#include "app/process_starter.h"
#include "app/qt_dialogs.h"
#include "app/small_dialogs.h"
#include "usbstick/format_dialog.h"
#include "usbstick/format_services.h"

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("stbmate"));
    InstallGermanQtTranslations();

    QtDialogs dialogs;
    app.setErrorDialogs(&dialogs);
    DetachedProcessStarter starter;
    // Logs/ goes beside the program.
    SessionLog log(QCoreApplication::applicationDirPath());
    TForm1 form1(dialogs, starter, log, QCoreApplication::applicationDirPath());
    if (!form1.created())
        return 1; // stbmate.ini is missing: logged and shown, the window never appears
    dialogs.setParent(&form1);

    TForm2 form2;
    form1.setBusyIndicator(&form2);
    const std::unique_ptr<usbstick::FormatLibrary> formatLibrary = usbstick::chooseFormatLibrary();
    usbstick::SysfsDriveLister driveLister;
    usbstick::TForm3 form3(*formatLibrary, driveLister,
                           {[&dialogs](const QString& text) { dialogs.showMessage(text); },
                            [&dialogs](const QString& text) { return dialogs.confirm(text); },
                            [&form1](int n) { return form1.messages().text(MessageId(n)); }});
    form1.setFormatDialog(&form3, formatLibrary.get());
    TForm4 form4;
    form1.setCopyProgress(&form4);

    CentreOnDesktop(&form1);
    form1.show();
    const int exitCode = app.exec();
    // The small dialogs go before the main window: it must not reach for them meanwhile.
    form1.setBusyIndicator(nullptr);
    form1.setCopyProgress(nullptr);
    form1.setFormatDialog(nullptr, nullptr);
    return exitCode;
}
