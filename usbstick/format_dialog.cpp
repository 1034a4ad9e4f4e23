#include "usbstick/format_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace usbstick {

namespace {

const QString kSelectDrive = QStringLiteral("select drive");
const QString kImageFolder = QStringLiteral("kathrein/ufs910");

} // namespace

TForm3::TForm3(FormatLibrary& library, DriveLister& lister, FormatDialogSeams seams,
               QWidget* parent)
    : QDialog(parent), m_library(library), m_lister(lister), m_seams(std::move(seams)),
      m_engine(library) {
    setWindowTitle(QStringLiteral("Stbmate Format USB Memory Stick"));
    setFixedSize(369, 285);
    setAccessibleName(windowTitle());

    m_label1 = new QLabel(this);
    m_label1->setWordWrap(true);
    m_label1->setMinimumHeight(3 * fontMetrics().height());
    m_label1->setAccessibleName(QStringLiteral("Label1"));
    m_label2 = new QLabel(this);
    m_label2->setWordWrap(true);
    m_label2->setMinimumHeight(2 * fontMetrics().height());
    m_label2->setAccessibleName(QStringLiteral("Label2"));

    ComboBox1 = new QComboBox(this);
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setAccessibleName(QStringLiteral("Drive"));
    m_label2->setBuddy(ComboBox1);
    BitBtn1 = new QToolButton(this);
    BitBtn1->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    BitBtn1->setAccessibleName(QStringLiteral("Refresh drive list"));

    m_checkBox1 = new QCheckBox(this);
    m_checkBox1->setChecked(true);
    m_checkBox1->setAccessibleName(QStringLiteral("FAT32"));
    auto* label3 = new QLabel(QStringLiteral("FAT32"), this);
    label3->setBuddy(m_checkBox1);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setAccessibleName(QStringLiteral("Format progress"));

    Button1 = new QPushButton(QStringLiteral("Formatieren"), this);
    Button1->setAccessibleName(QStringLiteral("Format"));
    Button1->setAutoDefault(false);
    Button2 = new QPushButton(QStringLiteral("Abbrechen"), this);
    Button2->setAccessibleName(QStringLiteral("Abbrechen"));
    Button2->setAutoDefault(false);

    auto* driveRow = new QHBoxLayout;
    driveRow->addWidget(ComboBox1, 1);
    driveRow->addWidget(BitBtn1);
    auto* fsRow = new QHBoxLayout;
    fsRow->addWidget(m_checkBox1);
    fsRow->addWidget(label3);
    fsRow->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_label1);
    layout->addWidget(m_label2);
    layout->addLayout(driveRow);
    layout->addLayout(fsRow);
    layout->addWidget(ProgressBar1);
    layout->addStretch(1);
    layout->addLayout(buttons);

    connect(BitBtn1, &QToolButton::clicked, this, &TForm3::RefreshDriveList);
    connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm3::Button2Click);

    ComboBox1->setEditText(kSelectDrive);
    RefreshDriveList();
    // Runs on the worker thread: only a queued call touches the bar.
    m_engine.onProgressEvent = [this](int32_t percent, bool& cancel) {
        FormatProgress(percent, cancel);
    };
}

TForm3::~TForm3() {
    if (m_worker.joinable())
        m_worker.join(); // the engine must not go while it formats
}

void TForm3::setTexts(const QString& label1Text, const QString& label2Text,
                      const QString& button1Caption) {
    m_label1->setText(label1Text);
    m_label2->setText(label2Text);
    Button1->setText(button1Caption);
}

void TForm3::ShowUsbFormatDialog(const QString& label1Text, const QString& label2Text,
                                 const QString& button1Caption) {
    setTexts(label1Text, label2Text, button1Caption);
    exec();
}

void TForm3::RefreshDriveList() {
    const QString kept = ComboBox1->currentText();
    ComboBox1->clear();
    ComboBox1->addItem(kSelectDrive);
    m_entries = m_lister.removableVolumes();
    for (const DriveEntry& entry : m_entries)
        ComboBox1->addItem(driveListEntry(entry));
    ComboBox1->setEditText(kept);
}

QString TForm3::describeDrive(const QString& drive, DriveClass kind) const {
    for (const DriveEntry& entry : m_entries)
        if (entry.device == drive)
            return entry.description;
    if (kind == DriveClass::Image)
        return QStringLiteral("image file, %1 MB").arg(QFileInfo(drive).size() >> 20);
    return {};
}

void TForm3::Button1Click() {
    const QString text = ComboBox1->currentText();
    if (text == kSelectDrive || m_worker.joinable())
        return;
    const QString drive = driveTextOf(text);
    const DriveClass kind = m_lister.classify(drive);
    // The lower-case "c" stays refused as ever; on Linux the real danger is a system or
    // fixed disk, refused the same way before anything opens it.
    if (text.startsWith(QLatin1Char('c')) || kind == DriveClass::Forbidden) {
        m_seams.showMessage(m_seams.messageText(19));
        return;
    }
    const QString description = describeDrive(drive, kind);
    const QString named =
        description.isEmpty() ? drive : drive + QStringLiteral(" (") + description + ')';
    if (!m_seams.confirm(QStringLiteral("Drive ") + named + QStringLiteral(": \r") +
                         m_seams.messageText(20)))
        return;

    ProgressBar1->setValue(0);
    Button1->setEnabled(false);
    BitBtn1->setEnabled(false);
    m_worker = std::thread([this, drive] {
        Outcome outcome = Outcome::Raised;
        try {
            outcome = m_engine.FormatDisk(drive, 0, 2, QStringLiteral("USB"), false, 0)
                          ? Outcome::Succeeded
                          : Outcome::Failed;
            if (outcome == Outcome::Succeeded)
                m_library.createFolder(drive, kImageFolder); // its result is not asked
        } catch (...) {
            outcome = Outcome::Raised; // dropped without a word, as the dialog always did
        }
        QMetaObject::invokeMethod(
            this, [this, outcome] { formatEnded(outcome); }, Qt::QueuedConnection);
    });
}

void TForm3::FormatProgress(int32_t Percent, bool& Cancel) {
    QMetaObject::invokeMethod(
        ProgressBar1, [bar = ProgressBar1, Percent] { bar->setValue(Percent); },
        Qt::QueuedConnection);
    Cancel = false; // a started format cannot be stopped from here
}

void TForm3::formatEnded(Outcome outcome) {
    m_worker.join();
    Button1->setEnabled(true);
    BitBtn1->setEnabled(true);
    switch (outcome) {
    case Outcome::Succeeded:
        m_seams.showMessage(m_seams.messageText(21));
        m_closeWhenDone = false;
        close();
        return;
    case Outcome::Failed:
        m_seams.showMessage(QStringLiteral("Format Disk Failed"));
        break;
    case Outcome::Raised:
        break;
    }
    if (m_closeWhenDone) {
        m_closeWhenDone = false;
        close();
    }
}

void TForm3::Button2Click() {
    close();
}

void TForm3::closeEvent(QCloseEvent* event) {
    if (m_worker.joinable()) {
        m_closeWhenDone = true; // closes once the format has ended
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TForm3::reject() {
    if (m_worker.joinable()) {
        m_closeWhenDone = true;
        return;
    }
    QDialog::reject();
}

} // namespace usbstick
