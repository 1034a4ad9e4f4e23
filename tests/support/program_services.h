#pragma once
// What the program entry makes before the wiring and the window, with stand-ins for the wait
// and copy dialogs and the drive services, so a test builds both as the program does. One per
// window: the language texts are that window's.
#include "app/receiver_wiring.h"
#include "tests/support/fake_console.h"
#include "tests/support/fake_copy_progress.h"
#include "tests/support/fake_drive_lister.h"
#include "tests/support/fake_format_library.h"
#include "tests/support/test_support.h"
#include "usbstick/format_dialog.h"

struct FakeProgramServices {
    WiringServices forWiring(Dialogs& dialogs, SessionLog& log) {
        return forWiring(dialogs, log, busy);
    }
    WiringServices forWiring(Dialogs& dialogs, SessionLog& log, BusyIndicator& waitDialog) {
        return {dialogs,  log,          waitDialog,    copyProgress,
                language, formatDialog, formatLibrary, portList};
    }

    FakeBusyIndicator busy;
    FakeCopyProgress copyProgress;
    LanguageTexts language;
    FakeFormatLibrary formatLibrary;
    FakeDriveLister driveLister;
    usbstick::TForm3 formatDialog{formatLibrary, driveLister, {}};
    // An empty device tree unless a test puts devices into it.
    stbtest::ScratchDir devices;
    TSerialPortList portList{devices.file(QStringLiteral("dev")),
                             devices.file(QStringLiteral("by-id")),
                             devices.file(QStringLiteral("sys"))};
};
