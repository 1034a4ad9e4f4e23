#pragma once
// What the wiring needs of the main window beyond MainView: the status bar, the hint over the
// console page, the terminal's bytes, the box that offers the PC's ports, the window as the
// parent and the context of what the wiring connects to it, and the intentions the window
// raises (keys typed on the console page, an edit of the port or language box). TForm1
// implements it; the wiring knows only this. UI thread only.
#include "core/main_view.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class QWidget;

// The window's intentions, as signals the wiring follows. Owned by the window.
class WindowIntents : public QObject {
    Q_OBJECT

signals:
    // Keys and terminal replies typed on page "Seriell", for the receiver.
    void consoleTyped(const QByteArray& bytes);
    // The port box's or the language box's text changed (typed, picked or put back).
    void portOrLanguageEdited();
};

class ReceiverWindow : public MainView {
public:
    // Parent of the wiring's dialogs and context of its connections: they go with the window.
    virtual QWidget* widget() = 0;
    virtual WindowIntents& intents() = 0;
    // false before the settings were read or when stbmate.ini is missing.
    virtual bool created() const = 0;
    // Opens the port box's list of the PC's ports.
    virtual void offerPortList() = 0;
    // A receiver job starts (true) or has ended (false).
    virtual void showJobRunning(bool running) = 0;
    // A transfer's progress in the status bar; empty clears it.
    virtual void showTransferStatus(const QString& text) = 0;
    // A passing note in the status bar; 0 keeps it until the next one.
    virtual void showStatusMessage(const QString& text, int timeoutMs) = 0;
    // The hourglass over the window while a job blocks it without a wait dialog.
    virtual void showWaitCursor(bool waiting) = 0;
    // The receiver's console bytes for the terminal. Any thread.
    virtual void showConsoleBytes(const QByteArray& bytes) = 0;
    // The port's state for the hint over the empty terminal.
    virtual void showPortOpened() = 0;
    virtual void showPortClosing() = 0;
    virtual void showPortUnavailable(const QString& devicePath) = 0;
};
