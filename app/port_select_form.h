#pragma once
// TPortSelectForm: asked when the port has to open and no valid port is configured. It lists
// the serial devices this user can open; "OK" takes the selected one, "Cancel" or closing
// the dialog leaves the port unchosen (the open then fails with ENoPortSelected).
#include "core/port_chooser.h"
#include "serial/port_scan.h"

#include <QDialog>

#include <functional>

class QComboBox;
class QLabel;
class QPushButton;

class TPortSelectForm : public QDialog {
    Q_OBJECT
public:
    explicit TPortSelectForm(const QList<SerialDeviceEntry>& ports, QWidget* parent = nullptr);

    // The port text of the selected entry; empty when the list is empty.
    QString selectedPort() const;

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;

private:
    QList<SerialDeviceEntry> m_ports;
};

// The real PortChooser: lists the devices and shows TPortSelectForm modally.
class DialogPortChooser : public PortChooser {
public:
    explicit DialogPortChooser(QWidget* parent = nullptr) : m_parent(parent) {}
    std::optional<QString> choosePort() override;
    // Tests replace the modal run (the form is set up; return its result code).
    void setRunner(std::function<int(TPortSelectForm&)> runner) { m_runner = std::move(runner); }
    void setDeviceLister(std::function<QList<SerialDeviceEntry>()> lister) {
        m_lister = std::move(lister);
    }

private:
    QWidget* m_parent;
    std::function<int(TPortSelectForm&)> m_runner;
    std::function<QList<SerialDeviceEntry>()> m_lister;
};
