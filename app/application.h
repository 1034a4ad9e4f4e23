#pragma once
// The application object. An exception that no handler caught ends only the command that
// raised it: it is shown in an error box and the program goes on, instead of tearing the
// process down from inside Qt's event delivery.
#include <QApplication>

class Dialogs;

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    // The boxes uncaught errors are shown in (the program's real dialogs).
    void setErrorDialogs(Dialogs* dialogs) { m_dialogs = dialogs; }
    bool notify(QObject* receiver, QEvent* event) override;

private:
    Dialogs* m_dialogs = nullptr;
};
