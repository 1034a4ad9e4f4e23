#include "app/port_select_form.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TPortSelectForm::TPortSelectForm(const QList<SerialDeviceEntry>& ports, QWidget* parent)
    : QDialog(parent), m_ports(ports) {
    setObjectName(QStringLiteral("PortSelectForm"));
    setWindowTitle(QStringLiteral("Select Port"));
    setModal(true);

    Label1 = new QLabel(QStringLiteral("The configured serial port is not valid."), this);
    Label2 = new QLabel(QStringLiteral("Please choose another port."), this);
    ComboBox1 = new QComboBox(this);
    for (const SerialDeviceEntry& p : m_ports)
        ComboBox1->addItem(p.label, p.portText);
    if (ComboBox1->count() > 0)
        ComboBox1->setCurrentIndex(0);
    Label2->setBuddy(ComboBox1);
    ComboBox1->setAccessibleName(QStringLiteral("Port"));

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    OKButton->setDefault(true);
    OKButton->setEnabled(ComboBox1->count() > 0);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKButton);
    buttons->addWidget(CancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(Label2);
    layout->addWidget(ComboBox1);
    layout->addLayout(buttons);
}

QString TPortSelectForm::selectedPort() const {
    return ComboBox1->currentIndex() >= 0 ? ComboBox1->currentData().toString() : QString();
}

std::optional<QString> DialogPortChooser::choosePort() {
    TPortSelectForm form(m_lister ? m_lister() : listSerialDevices(), m_parent);
    const int result = m_runner ? m_runner(form) : form.exec();
    if (result != QDialog::Accepted || form.selectedPort().isEmpty())
        return std::nullopt;
    return form.selectedPort();
}
