#pragma once
// The port box: an editable combo box that looks at the PC's serial devices again each time
// its list opens, so an adapter plugged in a moment ago is there to pick.
#include <QComboBox>

#include <functional>

class TPortBox : public QComboBox {
public:
    using QComboBox::QComboBox;

    // Called before the list opens.
    void setBeforePopup(std::function<void()> call) { m_beforePopup = std::move(call); }

    void showPopup() override {
        if (m_beforePopup)
            m_beforePopup();
        QComboBox::showPopup();
    }

private:
    std::function<void()> m_beforePopup;
};
