#pragma once
// The main window for tests, as the program builds it: joined to its wiring through the
// program's own WindowAttachment, its controls found by object name as the accessibility tree
// finds them.
#include "app/main_window.h"
#include "app/program_parts.h"

#include <QObject>
#include <QString>

#include <gtest/gtest.h>

#include <stdexcept>

// The window joined to wiring as the program joins them. The join is a member of the derived
// class, so it goes (the wiring detached) before the window's widgets, as in the program.
class WiredWindow : public TForm1 {
public:
    WiredWindow(Dialogs& dialogs, ProcessStarter& starter, ReceiverWiring& wiring,
                LanguageTexts& language, const QString& programDir)
        : TForm1(dialogs, starter, wiring, language, programDir), m_attachment(wiring, *this) {}

private:
    WindowAttachment m_attachment;
};

namespace stbtest {

// The control (widget, action, menu, timer) of type W named name inside window. A missing one
// fails the test and ends it with an exception, so no test goes on with a null control.
template <class W> W* widget(const QObject& window, const QString& name) {
    if (W* found = window.findChild<W*>(name))
        return found;
    ADD_FAILURE() << "no " << W::staticMetaObject.className() << " named " << name.toStdString()
                  << " in " << window.objectName().toStdString();
    throw std::logic_error("missing control " + name.toStdString());
}

} // namespace stbtest
