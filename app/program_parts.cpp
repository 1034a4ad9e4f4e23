#include "app/program_parts.h"

#include "log/session_log.h"

#include <QFileInfo>

namespace {

// The settings file in programDir; none when it is missing, which the window reports.
std::optional<IniFile> openSettingsFile(const QString& programDir) {
    const QString path = programDir + QStringLiteral("/stbmate.ini");
    if (!QFileInfo::exists(path))
        return std::nullopt;
    return IniFile(path);
}

} // namespace

DesktopServices::DesktopServices()
    : m_formatLibrary(usbstick::chooseFormatLibrary()),
      m_driveLister(usbstick::chooseDriveLister()) {}

ProgramServices DesktopServices::services(Dialogs& dialogs, SessionLog& log) {
    return {dialogs, log, m_starter, m_form2, m_form4, *m_formatLibrary, *m_driveLister, {}};
}

ProgramParts::ProgramParts(const ProgramServices& services, const QString& programDir)
    : m_form3(services.formatLibrary, services.driveLister,
              {[&dialogs = services.dialogs](const QString& text) { dialogs.showMessage(text); },
               [&dialogs = services.dialogs](const QString& text) { return dialogs.confirm(text); },
               [this](int n) { return m_language.messages.text(MessageId(n)); },
               [&log = services.log](const QString& text) { log.WriteLogEntry(text); },
               [&log = services.log](const QString& text) { log.WriteLogError(text); }}),
      m_portList(services.deviceFolders.dev, services.deviceFolders.byId,
                 services.deviceFolders.sys),
      m_telnet(m_networkTicker), m_settings(openSettingsFile(programDir)),
      m_wiring({services.dialogs, services.log, services.busy, services.copyProgress, m_language,
                m_form3, services.formatLibrary, m_portList},
               {m_port, m_telnet, m_networkTicker, m_http, m_tftp}),
      m_window(services.dialogs, services.starter, m_wiring, m_language) {
    // The parts are joined to the window before it reads its settings, which go to them (the
    // settle delay, the port).
    m_wiring.attach(m_window);
    try {
        m_window.FormCreate(m_settings ? &*m_settings : nullptr);
    } catch (...) {
        m_wiring.detach(); // the window goes before the wiring
        throw;
    }
}

ProgramParts::~ProgramParts() {
    m_wiring.detach();
}
