#pragma once
// The active language's message texts. The settings file numbers them Msg1..Msg36; the code
// names each by what it says, so a box shows the right text without counting.
#include <QString>

#include <array>

enum class MessageId {
    AddressWillBeSet = 1, // information before the address job checks the console
    NoSerialConnection,   // no console answer, or no "/config #" prompt
    StartScriptWritten,   // the address job's success notice
    Unused4,
    Unused5,
    NoReceiverAddress,      // the receiver address field is empty
    PleaseWait,             // another job is still running
    NoNetworkConnection,    // the network check failed
    ConfirmArchiveChoice,   // asked before the FTP server archive is chosen
    WrongFileChosen,        // the chosen file is not the one asked for
    FtpServerInstalled,     // the FTP installation's success notice
    ConfirmBootImageChoice, // asked before the boot image is chosen
    ConfirmFirstImageStep,
    ConfirmStartTftpServer,
    TelnetSessionFailed, // the telnet session could not be opened or broke off
    AskPrepareUsbStick,
    FormatDialogText, // the format dialog's first label
    FormatDialogHint, // the format dialog's second label
    SystemDriveRefused,
    ConfirmFormat,
    UsbStickFormatted,
    AskCopyImages,
    ConfirmSecondImageStep,
    Unused24,
    DownloadFailed,        // the receiver's download was not seen complete
    InvalidAddress,        // an address field does not hold a dotted IPv4 address
    SetAddressFirst,       // the FTP installation found no start.sh with an ifconfig line
    StartScriptNotChanged, // the FTP installation's lines are not in start.sh after vi
    // Why the chosen emergency.ub is refused before it is served, one text per check.
    BootImageTooShort,
    BootImageNotAnImage,
    BootImageHeaderDamaged,
    BootImageTruncated,
    BootImageDataDamaged,
    BootImageUnreadable, // the system's reason follows on the next line
    // What the image says it is: %1 name, %2 bytes, %3 architecture, %4 type, %5 compression.
    BootImageSummary,
    BootImageNotForReceiver, // asked, "Abbrechen" the default, after the summary
    // The hidden delete command's result, read back with ls.
    StartScriptDeleted,
    StartScriptNotDeleted,
};

class MessageCatalogue {
public:
    static constexpr int kCount = 38;
    // The keys every settings file has had; the later ones may be missing from an older file.
    static constexpr int kFirstLaterKey = 26;
    // Procedures fetch a text at the moment they show it, so a language change takes effect
    // for the next box.
    // An id outside 1..kCount gives an empty text. A later key that is empty (an older
    // settings file lacks it) gives its built-in text, so its box never comes up blank; so
    // does an empty Msg7, which older files carry without ever having shown it.
    QString text(MessageId id) const {
        const int n = int(id);
        if (n < 1 || n > kCount)
            return QString();
        const QString& text = m_texts[size_t(n - 1)];
        const bool hasBuiltIn = n >= kFirstLaterKey || id == MessageId::PleaseWait;
        return (text.isEmpty() && hasBuiltIn) ? builtInText(id) : text;
    }
    // The later keys' and Msg7's built-in texts; empty for the others.
    static QString builtInText(MessageId id) {
        if (id == MessageId::PleaseWait)
            return QStringLiteral("Bitte warten, der Vorgang läuft noch.");
        if (id == MessageId::InvalidAddress)
            return QStringLiteral("Die IP-Adresse ist ungültig. Bitte vier Zahlen von 0 bis 255, "
                                  "durch Punkte getrennt, eingeben (z. B. 192.168.178.44).");
        if (id == MessageId::SetAddressFirst)
            return QStringLiteral("Auf dem Receiver fehlt /config/start.sh mit einer "
                                  "ifconfig-Zeile. Bitte zuerst die IP-Adresse setzen "
                                  "(IP-Adresse setzen/ändern).");
        if (id == MessageId::StartScriptNotChanged)
            return QStringLiteral("/config/start.sh konnte nicht wie vorgesehen geändert werden. "
                                  "Bitte das Skript auf dem Receiver prüfen.");
        if (id == MessageId::StartScriptDeleted)
            return QStringLiteral("/config/start.sh wurde gelöscht.");
        if (id == MessageId::StartScriptNotDeleted)
            return QStringLiteral("/config/start.sh ist nach dem Löschen noch vorhanden. Bitte "
                                  "das Skript auf dem Receiver prüfen.");
        return bootImageText(id);
    }
    // n: the number in the settings file's key "Msg<n>", 1..kCount; any other n is ignored.
    void setText(int n, const QString& text) {
        if (n >= 1 && n <= kCount)
            m_texts[size_t(n - 1)] = text;
    }

private:
    static QString bootImageText(MessageId id) {
        if (id == MessageId::BootImageTooShort)
            return QStringLiteral("Die Datei emergency.ub ist zu kurz für ein Boot-Image "
                                  "(weniger als 64 Bytes): Der Download ist unvollständig oder "
                                  "es ist die falsche Datei.");
        if (id == MessageId::BootImageNotAnImage)
            return QStringLiteral("Die Datei emergency.ub ist kein Boot-Image: Die Kennung am "
                                  "Anfang fehlt. Bitte die richtige Datei wählen.");
        if (id == MessageId::BootImageHeaderDamaged)
            return QStringLiteral("Der Kopf der Datei emergency.ub ist beschädigt (Prüfsumme des "
                                  "Kopfes falsch). Bitte das Image neu herunterladen.");
        if (id == MessageId::BootImageTruncated)
            return QStringLiteral("Die Datei emergency.ub ist kürzer, als ihr Kopf angibt: Der "
                                  "Download ist unvollständig. Bitte das Image neu herunterladen.");
        if (id == MessageId::BootImageDataDamaged)
            return QStringLiteral("Die Daten in emergency.ub sind beschädigt (Prüfsumme der Daten "
                                  "falsch). Bitte das Image neu herunterladen.");
        if (id == MessageId::BootImageUnreadable)
            return QStringLiteral("Die Datei emergency.ub konnte nicht gelesen werden:");
        if (id == MessageId::BootImageSummary)
            return QStringLiteral("Das Image nennt sich \"%1\": %2 Bytes, Architektur %3, Typ %4, "
                                  "Kompression %5.");
        if (id == MessageId::BootImageNotForReceiver)
            return QStringLiteral("Dieses Image ist nicht für den Receiver gebaut: Erwartet werden "
                                  "Architektur SuperH und Typ Kernel oder Multi-File. Trotzdem "
                                  "fortfahren?");
        return QString();
    }

    std::array<QString, kCount> m_texts;
};
