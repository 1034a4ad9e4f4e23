#include "app/application.h"

#include "core/dialogs.h"

#include <exception>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        if (m_dialogs)
            m_dialogs->showError(QString::fromUtf8(e.what()));
    } catch (...) {
        if (m_dialogs)
            m_dialogs->showError(QStringLiteral("Unbekannter Fehler"));
    }
    return false;
}
