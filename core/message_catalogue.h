#pragma once
// The active language's message texts. The settings file numbers them Msg1..Msg25; the code
// names each by what it says, so a box shows the right text without counting.
#include <QString>

#include <array>

enum class MessageId {
    AddressWillBeSet = 1, // information before the address job checks the console
    NoSerialConnection,   // no console answer, or no "/config #" prompt
    StartScriptWritten,   // the address job's success notice
    Unused4,
    Unused5,
    NoReceiverAddress, // the receiver address field is empty
    Unused7,
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
    DownloadFailed, // the receiver's download was not seen complete
};

class MessageCatalogue {
public:
    static constexpr int kCount = 25;
    // Procedures fetch a text at the moment they show it, so a language change takes effect
    // for the next box.
    // An id outside 1..25 gives an empty text.
    QString text(MessageId id) const {
        const int n = int(id);
        return (n >= 1 && n <= kCount) ? m_texts[size_t(n - 1)] : QString();
    }
    // n: the number in the settings file's key "Msg<n>", 1..25; any other n is ignored.
    void setText(int n, const QString& text) {
        if (n >= 1 && n <= kCount)
            m_texts[size_t(n - 1)] = text;
    }

private:
    std::array<QString, kCount> m_texts;
};
