#include "app/program_parts.h"

#include "app/qt_dialogs.h"
#include "log/session_log.h"

ProgramParts::ProgramParts(QtDialogs& dialogs, SessionLog& log, const QString& programDir)
    : m_formatLibrary(usbstick::chooseFormatLibrary()),
      m_driveLister(usbstick::chooseDriveLister()),
      m_form3(*m_formatLibrary, *m_driveLister,
              {[&dialogs](const QString& text) { dialogs.showMessage(text); },
               [&dialogs](const QString& text) { return dialogs.confirm(text); },
               [this](int n) { return m_language.messages.text(MessageId(n)); },
               [&log](const QString& text) { log.WriteLogEntry(text); },
               [&log](const QString& text) { log.WriteLogError(text); }}),
      m_wiring({dialogs, log, m_form2, m_form4, m_language, m_form3, *m_formatLibrary, m_portList}),
      m_window(dialogs, m_starter, m_wiring, m_language, programDir),
      m_attached(m_wiring, m_window) {}

WindowAttachment::WindowAttachment(ReceiverWiring& wiring, TForm1& window) : m_wiring(wiring) {
    m_wiring.attach(window);
    window.FormCreate();
}

WindowAttachment::~WindowAttachment() {
    m_wiring.detach();
}
