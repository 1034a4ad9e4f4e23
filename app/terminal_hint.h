#pragma once
// The first look at the "Seriell" page: once the port is open and before the receiver has sent
// a single byte the terminal is an empty black page, and a new user cannot tell a silent
// receiver from a dead cable. A line of text is laid over the terminal until the first byte
// arrives. It is a child widget on top of the terminal's viewport, never text in the
// terminal's screen, so nothing is sent and the receiver's first output is not disturbed.
// The main window owns it; the wiring tells the window the port's state (app/receiver_wiring.h).
#include <QLabel>
#include <QString>

class IniFile;
struct LanguageTexts;

// The hint in language: the key Hint1 of that section, else a built-in text (German for
// "Deutsch", English for any other name).
QString firstLookHintText(const IniFile& settings, const QString& language);

// What the first look says while no port is open: which port is configured, why it is not
// open (none set, no such device, not allowed to this user, or it would not open), and where
// to choose one, in the window's language. detail: the system's own words for a failure that
// is none of the named ones ("Device already open"), added in brackets.
QString noPortHintText(const QString& devicePath, const LanguageTexts& texts,
                       const QString& detail = QString());

// A label centred over its parent's area that lets every mouse event through.
// It shows while the port is open and nothing has been received since start; the first
// byte hides it for good.
class TTerminalHint : public QLabel {
    Q_OBJECT
public:
    explicit TTerminalHint(QWidget* overWidget);

    void setHintText(const QString& text);
    // The port (re)opened: the hint shows until the first byte of this open arrives.
    void portOpened();
    // No usable port: the hint explains that instead, until the port opens.
    void portUnavailable(const QString& text);
    void portClosing();
    // UI thread; later calls until the next open do nothing.
    void firstByteArrived();
    bool byteSeen() const { return m_byteSeen; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void placeCentred();
    bool m_byteSeen = false;
    bool m_noPort = false;
    QString m_hintText; // the Enter-key hint, shown again once a port opens
};
