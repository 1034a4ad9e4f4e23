#pragma once
// The main window's state as plain values, for procedure tests.
#include "core/main_view.h"

class FakeMainView : public MainView {
public:
    QString receiverAddress() const override { return m_receiverAddress; }
    QString ownAddress() const override { return m_ownAddress; }
    void setOwnAddress(const QString& address) override { m_ownAddress = address; }
    void setSerialLight(bool lit) override { m_serialLight = lit; }
    void setNetworkLight(bool lit) override { m_networkLight = lit; }
    void showPage(int index) override { m_page = index; }
    void appendNetworkLine(const QString& line) override { m_networkLines.append(line); }
    void appendNetworkText(const QString& text) override;
    QStringList networkLines() const override { return m_networkLines; }
    void clearNetworkText() override { m_networkLines = QStringList{QString()}; }

    // Test side.
    void setReceiverAddress(const QString& address) { m_receiverAddress = address; }
    bool serialLight() const { return m_serialLight; }
    bool networkLight() const { return m_networkLight; }
    int page() const { return m_page; }

private:
    QString m_receiverAddress;
    QString m_ownAddress;
    bool m_serialLight = false;
    bool m_networkLight = false;
    int m_page = 0;
    // Like Memo1 at start: one empty line.
    QStringList m_networkLines{QString()};
};
