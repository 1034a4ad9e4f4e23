#pragma once
// The whole program for tests, built as the program entry builds it (ProgramParts) on
// stand-ins for the desktop's services; the dialogs and the session log are the test's. The
// port list reads an empty device tree unless a test puts devices into `devices`.
#include "app/program_parts.h"
#include "tests/support/fake_console.h"
#include "tests/support/fake_copy_progress.h"
#include "tests/support/fake_drive_lister.h"
#include "tests/support/fake_format_library.h"
#include "tests/support/fake_process_starter.h"
#include "tests/support/test_support.h"

#include <QObject>
#include <QString>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

struct ProgramRig {
    ProgramRig(Dialogs& dialogs, SessionLog& log) : dialogs(dialogs), log(log) {}
    // The program on the stbmate.ini in programDir; a program built before goes first.
    TForm1& start(const QString& programDir) {
        parts.reset();
        parts =
            std::make_unique<ProgramParts>(ProgramServices{dialogs,
                                                           log,
                                                           starter,
                                                           busy,
                                                           copyProgress,
                                                           formatLibrary,
                                                           driveLister,
                                                           {devices.file(QStringLiteral("dev")),
                                                            devices.file(QStringLiteral("by-id")),
                                                            devices.file(QStringLiteral("sys"))}},
                                           programDir);
        return parts->window();
    }
    TForm1& window() { return parts->window(); }
    ReceiverWiring& wiring() { return parts->wiring(); }

    Dialogs& dialogs;
    SessionLog& log;
    FakeProcessStarter starter{true};
    FakeBusyIndicator busy;
    FakeCopyProgress copyProgress;
    FakeFormatLibrary formatLibrary;
    FakeDriveLister driveLister;
    stbtest::ScratchDir devices;
    std::unique_ptr<ProgramParts> parts;
};

namespace stbtest {

// The control (widget, action, menu, timer) of type W named name inside window, found by
// object name as the accessibility tree finds it. A missing one fails the test and ends it
// with an exception, so no test goes on with a null control.
template <class W> W* widget(const QObject& window, const QString& name) {
    if (W* found = window.findChild<W*>(name))
        return found;
    ADD_FAILURE() << "no " << W::staticMetaObject.className() << " named " << name.toStdString()
                  << " in " << window.objectName().toStdString();
    throw std::logic_error("missing control " + name.toStdString());
}

} // namespace stbtest
