#pragma once
// The active language's message texts. The settings file numbers them Msg1..Msg40; the code
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
    Unused7,                // loaded only: older files carry a "please wait" text here
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
    // The address job's stops once the console answered: the cable is fine then.
    StartScriptUnreadable,      // start.sh could not be read before editing
    StartScriptNotWritten,      // vi could not write start.sh
    StartScriptReadBackDiffers, // start.sh read back does not hold exactly the new address
    PleaseWait,                 // another job is still running
    // The hidden delete command's result, read back with ls.
    StartScriptDeleted,
    StartScriptNotDeleted,
};

// The language of the built-in texts: English for the section "English", German otherwise.
enum class BuiltInLanguage { German, English };

class MessageCatalogue {
public:
    static constexpr int kCount = 42;
    // The keys every settings file has had; the later ones may be missing from an older file.
    static constexpr int kFirstLaterKey = 26;
    // Procedures fetch a text at the moment they show it, so a language change takes effect
    // for the next box.
    // An id outside 1..kCount gives an empty text. A later key that is empty (an older
    // settings file lacks it) gives its built-in text in the catalogue's built-in language,
    // so its box never comes up blank or in the other language.
    QString text(MessageId id) const {
        const int n = int(id);
        if (n < 1 || n > kCount)
            return QString();
        const QString& text = m_texts[size_t(n - 1)];
        return (text.isEmpty() && n >= kFirstLaterKey) ? builtInText(id, m_builtIn) : text;
    }
    // The later keys' built-in texts; empty for the others.
    static QString builtInText(MessageId id, BuiltInLanguage language = BuiltInLanguage::German);
    // n: the number in the settings file's key "Msg<n>", 1..kCount; any other n is ignored.
    void setText(int n, const QString& text) {
        if (n >= 1 && n <= kCount)
            m_texts[size_t(n - 1)] = text;
    }
    void setBuiltInLanguage(BuiltInLanguage language) { m_builtIn = language; }

private:
    std::array<QString, kCount> m_texts;
    BuiltInLanguage m_builtIn = BuiltInLanguage::German;
};
