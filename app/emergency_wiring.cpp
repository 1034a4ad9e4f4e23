#include "app/emergency_wiring.h"

#include "app/main_window.h"
#include "net/network_check.h"
#include "usbstick/format_dialog.h"

#include <QComboBox>
#include <QLabel>
#include <QStatusBar>

void WindowCopyProgress::startCopy(int total) {
    if (CopyProgress* dialog = m_window.copyProgress())
        dialog->startCopy(total);
}

void WindowCopyProgress::setCopied(int copied) {
    if (CopyProgress* dialog = m_window.copyProgress())
        dialog->setCopied(copied);
}

void WindowCopyProgress::finishCopy() {
    if (CopyProgress* dialog = m_window.copyProgress())
        dialog->finishCopy();
}

EmergencyImageWiring::EmergencyImageWiring(TForm1& window) : m_copyProgress(window) {
    m_status = new QLabel(window.statusBar());
    m_status->setObjectName(QStringLiteral("TransferStatus"));
    m_status->setAccessibleName(QStringLiteral("Übertragung"));
    window.statusBar()->addWidget(m_status, 1);

    EmergencyImageProcedure::Seams seams{
        window.dialogs(),
        window,
        window.messages(),
        window.consoleDialogue(),
        m_copyProgress,
        m_server,
        window.httpServer1(),
        window.sessionLog(),
        [&window] { window.ShowUsbFormatDialog(); },
        [&window]() -> std::optional<usbstick::StickFolder> {
            if (!window.formatDialog() || !window.formatLibrary())
                return std::nullopt;
            return usbstick::stickFolderFor(window.formatDialog()->ComboBox1->currentText(),
                                            *window.formatLibrary());
        },
        ListLocalAddresses,
        [&window](bool busy) {
            if (busy)
                window.setCursor(Qt::WaitCursor);
            else
                window.unsetCursor();
        },
        [label = m_status](const QString& text) { label->setText(text); },
        RemovableMediaFolder()};
    m_procedure = std::make_unique<EmergencyImageProcedure>(std::move(seams));
}

EmergencyImageWiring::~EmergencyImageWiring() {
    m_procedure.reset();
    m_server.stop();
}

void TForm1::createEmergencyImage() {
    m_emergency = std::make_unique<EmergencyImageWiring>(*this);
}

void TForm1::NotfallImageaufspielen1Click() {
    // The job ends each failure of its own with a box; this only catches a port failure, so
    // the menu command cannot take the program down.
    try {
        m_emergency->procedure().loadEmergencyImage();
    } catch (const std::exception& e) {
        m_dialogs.showError(QString::fromUtf8(e.what()));
    }
}

void TForm1::ShowUsbFormatDialog() {
    if (!m_formatDialog)
        return;
    const QString caption =
        m_settings ? m_settings->ReadString(m_currentLanguage, QStringLiteral("L9"), QString())
                   : QString();
    m_formatDialog->ShowUsbFormatDialog(messages().text(MessageId::FormatDialogText),
                                        messages().text(MessageId::FormatDialogHint), caption);
}
