#pragma once
// The part of the main window that procedures and checks read and write. TForm1 implements
// it; tests use plain values.
#include <QString>
#include <QStringList>

class MainView {
public:
    virtual ~MainView() = default;
    virtual QString receiverAddress() const = 0;             // Edit1
    virtual QString ownAddress() const = 0;                  // Edit2
    virtual void setOwnAddress(const QString& address) = 0;  // Edit2
    virtual void setSerialLight(bool lit) = 0;               // StatusLight1
    virtual void setNetworkLight(bool lit) = 0;              // StatusLight2
    virtual void showPage(int index) = 0;                    // PageControl1: 0 Seriell, 1 Netzwerk
    virtual void appendNetworkLine(const QString& line) = 0; // Memo1: a new line
    virtual void appendNetworkText(const QString& text) = 0; // Memo1: text onto the last line
    virtual QStringList networkLines() const = 0;            // Memo1 contents
    virtual void clearNetworkText() = 0;
    // The telnet output handler asks these for every received piece; the defaults go through
    // networkLines(), a view holding a long session may answer them without copying it all.
    virtual int networkLineCount() const { return static_cast<int>(networkLines().size()); }
    virtual QString lastNetworkLine() const {
        const QStringList lines = networkLines();
        return lines.isEmpty() ? QString() : lines.last();
    }
};
