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

QString largeDriveWarning(int64_t bytes) {
    if (bytes <= kLargeDriveBytes)
        return {};
    const QString size = sizeText(bytes);
    return QStringLiteral("Achtung: Dieses Laufwerk ist %1 groß, größer als jeder USB-Stick, "
                          "den ein Receiver braucht.\n"
                          "Caution: this drive holds %1, more than any stick a receiver needs.")
        .arg(size);
}

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
    StatusLine = new QLabel(this);
    StatusLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    StatusLine->setAccessibleName(QStringLiteral("Status"));

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
    layout->addWidget(StatusLine);
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
    m_engine.onInfoEvent = [this](const QString& info, bool& cancel) { FormatInfo(info, cancel); };
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
    m_formatted.reset();
    RefreshDriveList();
    exec();
}

std::optional<FormattedStick> TForm3::takeFormattedStick() {
    std::optional<FormattedStick> stick;
    stick.swap(m_formatted);
    return stick;
}

void TForm3::RefreshDriveList() {
    const QString kept = ComboBox1->currentText();
    ComboBox1->clear();
    ComboBox1->addItem(kSelectDrive);
    for (const DriveEntry& entry : m_lister.removableVolumes())
        ComboBox1->addItem(driveListEntry(entry));
    ComboBox1->setEditText(kept);
}

void TForm3::Button1Click() {
    const QString text = ComboBox1->currentText();
    if (text == kSelectDrive || m_worker.joinable())
        return;
    // The lower-case "c" stays refused as ever; on Linux the real danger is a system or
    // fixed disk, refused the same way before anything opens it.
    if (text.startsWith(QLatin1Char('c'))) {
        m_seams.showMessage(m_seams.messageText(19));
        return;
    }
    RefreshDriveList(); // the confirmation names the drive as it is now
    const QString drive = driveTextOf(text);
    const DriveLookup found = m_lister.lookUp(drive);
    if (found.kind == DriveClass::Unknown) {
        showStatus(TFmtChkDsk::isValidDriveText(drive)
                       ? QStringLiteral("Drive Not Found: ") + drive
                       : QStringLiteral("Invalid Drive Specification: ") + drive,
                   true);
        return;
    }
    // Only a block device is ever formatted from here, whatever a drive list says.
    const DriveEntry& entry = found.entry;
    const auto identity = m_library.identify(entry.device);
    QString refusal = found.reason;
    if (found.kind == DriveClass::Offered && !identity)
        refusal = drive + QStringLiteral(" is not a block device");
    else if (found.kind == DriveClass::Offered && entry.identity.number != 0 &&
             !(entry.identity == *identity))
        refusal = drive + QStringLiteral(" changed while the drive list was made");
    if (found.kind == DriveClass::Forbidden || !refusal.isEmpty()) {
        if (m_seams.logError)
            m_seams.logError(QStringLiteral("refused to format ") + drive + QStringLiteral(": ") +
                             refusal);
        m_seams.showMessage(m_seams.messageText(19));
        return;
    }
    QString named = entry.device + QStringLiteral(" (") + entry.description;
    if (entry.wholeDevice)
        named += QStringLiteral(", ganzes Laufwerk / whole disk");
    QString question = QStringLiteral("Drive ") + named + QStringLiteral("): \n");
    const QString large = largeDriveWarning(entry.sizeBytes);
    if (!large.isEmpty())
        question += large + QStringLiteral("\n\n");
    if (!m_seams.confirm(question + m_seams.messageText(20)))
        return;
    const ConfirmedDrive confirmed{*identity, entry.wholeDevice};
    if (m_seams.logEntry)
        m_seams.logEntry(QStringLiteral("format confirmed: ") + named + QStringLiteral(", ") +
                         identity->text() + QLatin1Char(')'));

    ProgressBar1->setValue(0);
    StatusLine->clear();
    m_lastInfo.clear();
    Button1->setEnabled(false);
    BitBtn1->setEnabled(false);
    const FormattedStick stick{entry.device, confirmed};
    m_worker = std::thread([this, stick] {
        Outcome outcome = Outcome::Raised;
        QString reason;
        try {
            outcome = m_engine.FormatDisk(stick.device, 0, 2, QStringLiteral("USB"), false, 0,
                                          stick.confirmed)
                          ? Outcome::Succeeded
                          : Outcome::Failed;
            if (outcome == Outcome::Succeeded &&
                !m_library.createFolder(stick.device, kImageFolder, stick.confirmed, &reason))
                outcome = Outcome::NoFolder;
        } catch (const FmtChkException& e) {
            reason = e.detail().isEmpty() ? e.message()
                                          : e.message() + QStringLiteral(" (") + e.detail() + ')';
        } catch (const std::exception& e) {
            reason = QString::fromLocal8Bit(e.what());
        }
        QMetaObject::invokeMethod(
            this, [this, outcome, reason, stick] { formatEnded(outcome, reason, stick); },
            Qt::QueuedConnection);
    });
}

void TForm3::FormatProgress(int32_t Percent, bool& Cancel) {
    QMetaObject::invokeMethod(
        ProgressBar1, [bar = ProgressBar1, Percent] { bar->setValue(Percent); },
        Qt::QueuedConnection);
    Cancel = false; // a started format cannot be stopped from here
}

void TForm3::FormatInfo(const QString& Info, bool& Cancel) {
    QMetaObject::invokeMethod(
        this, [this, Info] { showStatus(Info, false); }, Qt::QueuedConnection);
    Cancel = false;
}

void TForm3::showStatus(const QString& line, bool error) {
    StatusLine->setText(line);
    const auto& log = error ? m_seams.logError : m_seams.logEntry;
    if (log)
        log(line);
    // The library's closing line says only that it failed; the line before it says why.
    if (!error && line != QLatin1String("Format Disk: Unable to Finish"))
        m_lastInfo = line;
}

void TForm3::formatEnded(Outcome outcome, const QString& reason, const FormattedStick& stick) {
    m_worker.join();
    Button1->setEnabled(true);
    BitBtn1->setEnabled(true);
    switch (outcome) {
    case Outcome::Succeeded:
        // Msg21 says the folder is there: it is, the service looked.
        m_formatted = stick;
        m_seams.showMessage(m_seams.messageText(21));
        m_closeWhenDone = false;
        close();
        return;
    case Outcome::Failed:
        showStatus(QStringLiteral("Format Disk Failed: ") + m_lastInfo, true);
        m_seams.showMessage(QStringLiteral("Format Disk Failed"));
        break;
    case Outcome::NoFolder:
        showStatus(reason, true);
        m_seams.showMessage(QStringLiteral("Der Ordner kathrein/ufs910 konnte nicht angelegt "
                                           "werden: ") +
                            reason);
        break;
    case Outcome::Raised:
        showStatus(reason, true); // no box: only the log and the status line say it
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
