#pragma once
// A main window stand-in that keeps Memo1 as a list of lines and remembers the rest.
#include "app/main_view.h"

class FakeMainView : public MainView {
public:
    QString receiverAddress() const override { return edit1; }
    QString ownAddress() const override { return edit2; }
    void setOwnAddress(const QString& address) override { edit2 = address; }
    void setSerialLight(bool lit) override { serialLight = lit; }
    void setNetworkLight(bool lit) override { networkLight = lit; }
    void showPage(int index) override { page = index; }
    void appendNetworkLine(const QString& line) override { memo1.append(line); }
    void appendNetworkText(const QString& text) override {
        if (memo1.isEmpty())
            memo1.append(QString());
        memo1.last() += text;
    }
    QStringList networkLines() const override { return memo1; }
    void clearNetworkText() override { memo1.clear(); }

    QString edit1;
    QString edit2;
    bool serialLight = false;
    bool networkLight = false;
    int page = 0;
    QStringList memo1;
};
