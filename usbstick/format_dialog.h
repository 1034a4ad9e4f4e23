#pragma once
// TForm3, the USB stick format dialog: pick a removable drive, format it FAT32 labelled USB,
// then make kathrein/ufs910 on it. Created hidden once and reused.
//
// The drive list is made afresh when the dialog is shown and when "Formatieren" is pressed;
// the confirmation names the drive as that fresh look found it, and the identity taken then
// goes with the format, which refuses a device that is no longer the same one. Only block
// devices the drive list offers are formatted. The engine's lines go to the session log and
// to a status line under the progress bar.
//
// The format runs on a worker thread; its progress comes back to the window by queued calls,
// so the window paints and the bar moves. While it runs the format and refresh buttons are
// off and closing is put off until the format has ended. Shutdown: the destructor waits for
// a running format (join) before the engine goes.
#include "usbstick/drive_list.h"
#include "usbstick/fmt_chk_dsk.h"
#include "usbstick/stick_folder.h"

#include <QDialog>

#include <functional>
#include <optional>
#include <thread>

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace usbstick {

// What the dialog needs from the application: the message boxes (a plain box with the
// application's title, the "Bestätigung" box) and the active language's message texts.
struct FormatDialogSeams {
    std::function<void(const QString& text)> showMessage;
    std::function<bool(const QString& text)> confirm; // true = OK
    std::function<QString(int number)> messageText;   // Msg<number>
    // Session log entries: the engine's lines, and failures with their reason. May be empty.
    std::function<void(const QString& text)> logEntry = {};
    std::function<void(const QString& text)> logError = {};
};

// Added to the confirmation for a drive larger than any stick a receiver needs.
inline constexpr int64_t kLargeDriveBytes = int64_t(64) << 30;
QString largeDriveWarning(int64_t bytes);

class TForm3 : public QDialog {
    Q_OBJECT
public:
    // library and lister must outlive the dialog.
    TForm3(FormatLibrary& library, DriveLister& lister, FormatDialogSeams seams,
           QWidget* parent = nullptr);
    ~TForm3() override;

    // Sets the two explanations and the format button's caption, then shows the dialog
    // modally; returns when it closes. The window passes Msg17, Msg18 and key L9.
    void ShowUsbFormatDialog(const QString& label1Text, const QString& label2Text,
                             const QString& button1Caption);
    // The same texts without showing (tests show the dialog themselves).
    void setTexts(const QString& label1Text, const QString& label2Text,
                  const QString& button1Caption);

    void RefreshDriveList();
    void Button1Click();
    void Button2Click();
    bool isFormatting() const { return m_worker.joinable(); }

    // The volume formatted (and its folder made) since the dialog was last shown, handed out
    // once: the image copy of the same job writes to it.
    std::optional<FormattedStick> takeFormattedStick();
    DriveLister& driveLister() const { return m_lister; }

    QComboBox* ComboBox1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QToolButton* BitBtn1 = nullptr;
    QLabel* StatusLine = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    enum class Outcome { Succeeded, Failed, Raised, NoFolder };
    void FormatProgress(int32_t Percent, bool& Cancel);
    void FormatInfo(const QString& Info, bool& Cancel);
    void formatEnded(Outcome outcome, const QString& reason, const FormattedStick& stick);
    void showStatus(const QString& line, bool error);

    FormatLibrary& m_library;
    DriveLister& m_lister;
    FormatDialogSeams m_seams;
    TFmtChkDsk m_engine;
    std::optional<FormattedStick> m_formatted;
    QString m_lastInfo; // the engine's last line: the reason a format failed
    QLabel* m_label1 = nullptr;
    QLabel* m_label2 = nullptr;
    QCheckBox* m_checkBox1 = nullptr;
    std::thread m_worker;
    bool m_closeWhenDone = false;
};

} // namespace usbstick
