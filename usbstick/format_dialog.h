#pragma once
// TForm3, the USB stick format dialog: pick a removable drive, format it FAT32 labelled USB,
// then make kathrein/ufs910 on it. Created hidden once and reused.
//
// The format runs on a worker thread; its progress comes back to the window by queued calls,
// so the window paints and the bar moves. While it runs the format and refresh buttons are
// off and closing is put off until the format has ended. Shutdown: the destructor waits for
// a running format (join) before the engine goes.
#include "usbstick/drive_list.h"
#include "usbstick/fmt_chk_dsk.h"

#include <QDialog>

#include <functional>
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
};

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

    QComboBox* ComboBox1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QToolButton* BitBtn1 = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    enum class Outcome { Succeeded, Failed, Raised };
    void FormatProgress(int32_t Percent, bool& Cancel);
    void formatEnded(Outcome outcome);
    QString describeDrive(const QString& drive, DriveClass kind) const;

    FormatLibrary& m_library;
    DriveLister& m_lister;
    FormatDialogSeams m_seams;
    TFmtChkDsk m_engine;
    std::vector<DriveEntry> m_entries;
    QLabel* m_label1 = nullptr;
    QLabel* m_label2 = nullptr;
    QCheckBox* m_checkBox1 = nullptr;
    std::thread m_worker;
    bool m_closeWhenDone = false;
};

} // namespace usbstick
