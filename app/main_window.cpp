#include "app/main_window.h"

#include "app/file_version.h"
#include "app/process_starter.h"
#include "app/status_light.h"
#include "log/session_log.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QString kSettingsFileName = QStringLiteral("stbmate.ini");
const QString kMain = QStringLiteral("Main");

// The look of the two text pages: light text on black in a monospace with box-drawing
// glyphs, as on the receiver's own console.
QFont consoleFont() {
    QFont font(QStringLiteral("DejaVu Sans Mono"), 8);
    font.setStyleHint(QFont::Monospace);
    return font;
}

void makeConsolePalette(QWidget* widget, const QColor& text) {
    QPalette pal = widget->palette();
    pal.setColor(QPalette::Base, Qt::black);
    pal.setColor(QPalette::Window, Qt::black);
    pal.setColor(QPalette::Text, text);
    pal.setColor(QPalette::WindowText, text);
    widget->setPalette(pal);
    widget->setAutoFillBackground(true);
}

} // namespace

QString ClockText(const QDateTime& now) {
    return now.toString(QStringLiteral("dd.MM.yyyy hh:mm"));
}

TForm1::TForm1(Dialogs& dialogs, ProcessStarter& starter, const QString& programDir,
               QWidget* parent)
    : QMainWindow(parent), m_dialogs(dialogs), m_starter(starter), m_programDir(programDir) {
    buildControls();
    buildMenu();
    connectHandlers();
    createComPort1();
    createTerminal1();
    createTelnet1();
    createHTTPServer1();
    FormCreate();
    if (m_created)
        createProcedures();
}

TForm1::~TForm1() = default;

void TForm1::buildControls() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Stbmate"));
    QFont windowFont = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    windowFont.setPointSize(8);
    setFont(windowFont);
    resize(818, 467);

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("ClientArea"));
    setCentralWidget(central);

    GroupBox1 = new QGroupBox(QStringLiteral("Verbindungsstatus"), central);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 4, 193, 96);

    Button2 = new QPushButton(QStringLiteral("Prüfen"), GroupBox1);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setFocusPolicy(Qt::ClickFocus); // not a tab stop
    Button2->setGeometry(120, 16, 65, 23);

    StatusLight1 = new TStatusLight(GroupBox1);
    StatusLight1->setObjectName(QStringLiteral("StatusLight1"));
    StatusLight1->setGeometry(10, 46, 17, 17);
    Label4 = new QLabel(QStringLiteral("serielle Verbindung"), GroupBox1);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label4->setGeometry(34, 46, 150, 17);

    StatusLight2 = new TStatusLight(GroupBox1);
    StatusLight2->setObjectName(QStringLiteral("StatusLight2"));
    StatusLight2->setGeometry(10, 70, 17, 17);
    Label5 = new QLabel(QStringLiteral("Netzwerkverbindung"), GroupBox1);
    Label5->setObjectName(QStringLiteral("Label5"));
    Label5->setGeometry(34, 70, 150, 17);

    // Four rows: a field 89 pixels wide with its caption to the right.
    auto row = [central](int index, QWidget* field, QLabel* label) {
        const int y = 112 + index * 30;
        field->setParent(central);
        field->setGeometry(8, y, 89, 21);
        label->setParent(central);
        label->setGeometry(103, y, 104, 21);
        label->setBuddy(field);
    };

    ComboBox2 = new QComboBox(central);
    ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
    ComboBox2->setEditable(true);
    ComboBox2->setInsertPolicy(QComboBox::NoInsert);
    ComboBox2->addItems({QStringLiteral("COM1"), QStringLiteral("COM2"), QStringLiteral("COM3"),
                         QStringLiteral("COM4")});
    ComboBox2->setCurrentIndex(0);
    Label3 = new QLabel(QStringLiteral("Port"), central);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setContextMenuPolicy(Qt::CustomContextMenu);
    row(0, ComboBox2, Label3);

    Edit1 = new QLineEdit(central);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Label1 = new QLabel(QStringLiteral("IP-Adresse UFS910"), central);
    Label1->setObjectName(QStringLiteral("Label1"));
    row(1, Edit1, Label1);

    Edit2 = new QLineEdit(central);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Label6 = new QLabel(QStringLiteral("eigene IP-Adresse"), central);
    Label6->setObjectName(QStringLiteral("Label6"));
    row(2, Edit2, Label6);

    ComboBox1 = new QComboBox(central);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->addItems({QStringLiteral("Deutsch"), QStringLiteral("English")});
    Label2 = new QLabel(QStringLiteral("Sprache"), central);
    Label2->setObjectName(QStringLiteral("Label2"));
    row(3, ComboBox1, Label2);

    // The user never sees this button; it is the quit path that also ends the connections.
    Button1 = new QPushButton(QStringLiteral("Ende"), central);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(8, 240, 75, 25);
    Button1->hide();

    PageControl1 = new QTabWidget(central);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setGeometry(209, 4, 601, 385);

    TabSheet1 = new QWidget;
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    m_serialPageLayout = new QVBoxLayout(TabSheet1);
    m_serialPageLayout->setContentsMargins(0, 0, 0, 0);
    // Stands in for the terminal until the terminal view is put here.
    Terminal1Placeholder = new QWidget(TabSheet1);
    Terminal1Placeholder->setObjectName(QStringLiteral("Terminal1Placeholder"));
    Terminal1Placeholder->setFont(consoleFont());
    makeConsolePalette(Terminal1Placeholder, QColor(192, 192, 192));
    m_serialPageLayout->addWidget(Terminal1Placeholder);
    PageControl1->addTab(TabSheet1, QStringLiteral("Seriell"));

    TabSheet2 = new QWidget;
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    auto* networkLayout = new QVBoxLayout(TabSheet2);
    networkLayout->setContentsMargins(0, 0, 0, 0);
    Memo1 = new QPlainTextEdit(TabSheet2);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setFont(consoleFont());
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    makeConsolePalette(Memo1, palette().color(QPalette::Light));
    networkLayout->addWidget(Memo1);
    PageControl1->addTab(TabSheet2, QStringLiteral("Netzwerk"));
    PageControl1->setCurrentIndex(0);

    const int widths[4] = {100, 100, 100, 50};
    for (int i = 0; i < 4; ++i) {
        auto* panel = new QLabel(statusBar());
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setFixedWidth(widths[i]);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        if (i < 3)
            panel->setAlignment(Qt::AlignCenter);
        statusBar()->addWidget(panel);
        StatusPanels[i] = panel;
    }
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    statusBar()->setSizeGripEnabled(false);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);

    // Names for screen readers (and for GUI tests that go through the accessibility tree).
    GroupBox1->setAccessibleName(QStringLiteral("Verbindungsstatus"));
    Button2->setAccessibleName(QStringLiteral("Prüfen"));
    StatusLight1->setAccessibleName(QStringLiteral("serielle Verbindung"));
    StatusLight2->setAccessibleName(QStringLiteral("Netzwerkverbindung"));
    ComboBox2->setAccessibleName(QStringLiteral("Port"));
    Edit1->setAccessibleName(QStringLiteral("IP-Adresse UFS910"));
    Edit2->setAccessibleName(QStringLiteral("eigene IP-Adresse"));
    ComboBox1->setAccessibleName(QStringLiteral("Sprache"));
    PageControl1->setAccessibleName(QStringLiteral("Ausgabe"));
    Terminal1Placeholder->setAccessibleName(QStringLiteral("Seriell"));
    Memo1->setAccessibleName(QStringLiteral("Netzwerk"));
    Button1->setAccessibleName(QStringLiteral("Ende"));
    for (int i = 0; i < 4; ++i)
        StatusPanels[i]->setAccessibleName(QStringLiteral("Statuszeile %1").arg(i + 1));
    Label1->setAccessibleName(QStringLiteral("IP-Adresse UFS910"));
    Label2->setAccessibleName(QStringLiteral("Sprache"));
    Label3->setAccessibleName(QStringLiteral("Port"));
    Label4->setAccessibleName(QStringLiteral("serielle Verbindung"));
    Label5->setAccessibleName(QStringLiteral("Netzwerkverbindung"));
    Label6->setAccessibleName(QStringLiteral("eigene IP-Adresse"));
    Label4->setBuddy(StatusLight1);
    Label5->setBuddy(StatusLight2);
}

void TForm1::buildMenu() {
    menuBar()->setObjectName(QStringLiteral("MainMenu1"));
    Datei1 = menuBar()->addMenu(QStringLiteral("Datei"));
    Datei1->setObjectName(QStringLiteral("Datei1"));
    Beenden1 = Datei1->addAction(QStringLiteral("Beenden"));
    Beenden1->setObjectName(QStringLiteral("Beenden1"));

    Funktionen1 = menuBar()->addMenu(QStringLiteral("Funktionen"));
    Funktionen1->setObjectName(QStringLiteral("Funktionen1"));
    IPAdressesetzenndern1 = Funktionen1->addAction(QStringLiteral("IP-Adresse setzen/ändern"));
    IPAdressesetzenndern1->setObjectName(QStringLiteral("IPAdressesetzenndern1"));
    FTPServerinstallieren1 = Funktionen1->addAction(QStringLiteral("FTP-Server installieren"));
    FTPServerinstallieren1->setObjectName(QStringLiteral("FTPServerinstallieren1"));
    NotfallImageaufspielen1 = Funktionen1->addAction(QStringLiteral("Notfall-Image aufspielen"));
    NotfallImageaufspielen1->setObjectName(QStringLiteral("NotfallImageaufspielen1"));
    SatChannelListEditor1 = Funktionen1->addAction(QStringLiteral("SatChannelListEditor starten"));
    SatChannelListEditor1->setObjectName(QStringLiteral("SatChannelListEditor1"));
    SatChannelListEditor1->setVisible(false);

    Hilfe1 = menuBar()->addMenu(QStringLiteral("Hilfe"));
    Hilfe1->setObjectName(QStringLiteral("Hilfe1"));
    N1 = Hilfe1->addAction(QStringLiteral("?"));
    N1->setObjectName(QStringLiteral("N1"));
}

void TForm1::connectHandlers() {
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(ComboBox1, &QComboBox::editTextChanged, this, &TForm1::ComboBox1Change);
    connect(ComboBox2, &QComboBox::editTextChanged, this, &TForm1::ComboBox2Change);
    Edit1->installEventFilter(this);
    connect(Beenden1, &QAction::triggered, this, &TForm1::Beenden1Click);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(IPAdressesetzenndern1, &QAction::triggered, this, &TForm1::IPAdressesetzenndern1Click);
    connect(FTPServerinstallieren1, &QAction::triggered, this,
            &TForm1::FTPServerinstallieren1Click);
    connect(NotfallImageaufspielen1, &QAction::triggered, this,
            &TForm1::NotfallImageaufspielen1Click);
    connect(SatChannelListEditor1, &QAction::triggered, this, &TForm1::SatChannelListEditor1Click);
    connect(N1, &QAction::triggered, this, &TForm1::N1Click);
    connect(Label3, &QLabel::customContextMenuRequested, this, &TForm1::Label3ContextPopup);
}

void TForm1::FormCreate() {
    SetLogNameTemplate(QStringLiteral("stbmate-$Y-$M-$D"));
    WriteLogEntry(QStringLiteral("****** start programm ******"));

    const QString settingsPath = m_programDir + QLatin1Char('/') + kSettingsFileName;
    if (!QFileInfo::exists(settingsPath)) {
        WriteLogError(QStringLiteral("stbmate.ini is missing ! --> EXIT"));
        m_dialogs.showError(QStringLiteral("stbmate.ini fehlt"));
        return;
    }

    Timer1Timer();
    StatusPanels[1]->setText(QStringLiteral("stbmate.exe"));
    StatusPanels[2]->setText(QStringLiteral("Version: ") +
                             FileVersionText(QCoreApplication::applicationFilePath()));
    PageControl1->setCurrentIndex(0);

    m_settings = std::make_unique<IniFile>(settingsPath);
    const MainSettings main = ReadMainSettings(*m_settings);
    m_currentLanguage = main.language;
    Edit1->setText(main.ip);
    m_settleDelay = main.settleDelay;

    // The handlers are for the user's changes; start-up fills the boxes without them.
    {
        const QSignalBlocker block(ComboBox1);
        ComboBox1->clear();
        ComboBox1->addItems(LanguageNames(m_settings->ReadSections()));
        ComboBox1->setEditText(m_currentLanguage);
    }
    {
        const QSignalBlocker block(ComboBox2);
        m_portNumber = PortNumberForText(portEntries(), main.comPort);
        if (m_portNumber > 0)
            ComboBox2->setCurrentIndex(m_portNumber - 1);
        ComboBox2->setEditText(main.comPort);
    }
    applyPortNumber(m_portNumber);

    ApplyLanguage(m_currentLanguage);
    Timer1->start();
    m_created = true;
}

void TForm1::ApplyLanguage(const QString& section) {
    m_language = ReadLanguageTexts(*m_settings, section);
    const LanguageTexts& t = m_language;
    Datei1->setTitle(t.caption(CaptionKey::M1_1));
    Beenden1->setText(t.caption(CaptionKey::M1_2));
    Funktionen1->setTitle(t.caption(CaptionKey::M2_1));
    IPAdressesetzenndern1->setText(t.caption(CaptionKey::M2_2));
    FTPServerinstallieren1->setText(t.caption(CaptionKey::M2_3));
    NotfallImageaufspielen1->setText(t.caption(CaptionKey::M2_4));
    Hilfe1->setTitle(t.caption(CaptionKey::M3_1));
    Label1->setText(t.caption(CaptionKey::L1));
    Label2->setText(t.caption(CaptionKey::L2));
    Label3->setText(t.caption(CaptionKey::L3));
    Label4->setText(t.caption(CaptionKey::L4));
    Label5->setText(t.caption(CaptionKey::L5));
    Label6->setText(t.caption(CaptionKey::L6));
    GroupBox1->setTitle(t.caption(CaptionKey::L7));
    Button2->setText(t.caption(CaptionKey::L8));

    // Screen readers follow the visible captions; an empty caption keeps the last name.
    auto follow = [](QWidget* field, QLabel* label) {
        if (!label->text().isEmpty()) {
            field->setAccessibleName(label->text());
            label->setAccessibleName(label->text());
        }
    };
    follow(Edit1, Label1);
    follow(ComboBox1, Label2);
    follow(ComboBox2, Label3);
    follow(StatusLight1, Label4);
    follow(StatusLight2, Label5);
    follow(Edit2, Label6);
    if (!Button2->text().isEmpty())
        Button2->setAccessibleName(Button2->text());
    if (!GroupBox1->title().isEmpty())
        GroupBox1->setAccessibleName(GroupBox1->title());
}

bool TForm1::writeMainSetting(const QString& key, const QString& value) {
    try {
        m_settings->WriteString(kMain, key, value);
        return true;
    } catch (const EIniFileException& e) {
        m_dialogs.showError(e.message());
        return false;
    }
}

void TForm1::Timer1Timer() {
    StatusPanels[0]->setText(ClockText(QDateTime::currentDateTime()));
}

void TForm1::ComboBox1Change() {
    if (!m_settings)
        return;
    m_currentLanguage = ComboBox1->currentText();
    if (!writeMainSetting(QStringLiteral("Language"), m_currentLanguage))
        return;
    ApplyLanguage(m_currentLanguage);
}

void TForm1::ComboBox2Change() {
    if (!m_settings)
        return;
    const QString text = ComboBox2->currentText();
    if (!writeMainSetting(QStringLiteral("ComPort"), text))
        return;
    m_portNumber = PortNumberForText(portEntries(), text);
    applyPortNumber(m_portNumber);
}

QString TForm1::portText() const {
    return ComboBox2->currentText();
}

QStringList TForm1::portEntries() const {
    QStringList items;
    for (int i = 0; i < ComboBox2->count(); ++i)
        items << ComboBox2->itemText(i);
    return items;
}

void TForm1::Edit1Exit() {
    if (!m_settings)
        return;
    writeMainSetting(QStringLiteral("IP"), Edit1->text());
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Edit1 && event->type() == QEvent::FocusOut)
        Edit1Exit();
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::closeEvent(QCloseEvent* event) {
    // An address typed just before closing is kept as if the field had been left.
    if (Edit1->hasFocus())
        Edit1Exit();
    QMainWindow::closeEvent(event);
    // The main window ends the program even while a wait or progress dialog is still up.
    if (event->isAccepted())
        QCoreApplication::quit();
}

void TForm1::Beenden1Click() {
    WriteLogEntry(QStringLiteral("****** end programm *******"));
    QCoreApplication::quit();
}

void TForm1::Button1Click() {
    releaseNetwork();
    close();
}

void TForm1::Button2Click() {
    // Each half sets its light only once its check exists; a check that is not there yet
    // must not look like a good link.
    if (const std::optional<bool> serial = runSerialCheck())
        StatusLight1->setLit(*serial);
    if (const std::optional<bool> network = runNetworkCheck())
        StatusLight2->setLit(*network);
}

void TForm1::N1Click() {
    const QString version = FileVersionText(QCoreApplication::applicationFilePath());
    m_dialogs.showMessage(QStringLiteral("stbmate\nVersion %1\n\n"
                                         "Einrichtung und Notfallhilfe für den Satellitenreceiver "
                                         "über die serielle Konsole und das Netzwerk.")
                              .arg(version));
}

void TForm1::SatChannelListEditor1Click() {
    const QString editor = FindChannelListEditor(m_programDir);
    if (editor.isEmpty() || !m_starter.startDetached(editor, {}))
        m_dialogs.showError(QStringLiteral(
            "Es ist ein Fehler aufgetreten. \nSatEditor konnte nicht gestartet werden."));
}

void TForm1::setSerialPageWidget(QWidget* widget) {
    if (Terminal1Placeholder) {
        m_serialPageLayout->removeWidget(Terminal1Placeholder);
        delete Terminal1Placeholder;
        Terminal1Placeholder = nullptr;
    }
    widget->setParent(TabSheet1);
    m_serialPageLayout->addWidget(widget);
}

QString TForm1::receiverAddress() const {
    return Edit1->text();
}
QString TForm1::ownAddress() const {
    return Edit2->text();
}
void TForm1::setOwnAddress(const QString& address) {
    Edit2->setText(address);
}
void TForm1::setSerialLight(bool lit) {
    StatusLight1->setLit(lit);
}
void TForm1::setNetworkLight(bool lit) {
    StatusLight2->setLit(lit);
}
void TForm1::showPage(int index) {
    PageControl1->setCurrentIndex(index);
}

void TForm1::appendNetworkLine(const QString& line) {
    Memo1->appendPlainText(line);
}

void TForm1::appendNetworkText(const QString& text) {
    QTextCursor cursor(Memo1->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    Memo1->verticalScrollBar()->setValue(Memo1->verticalScrollBar()->maximum());
}

QStringList TForm1::networkLines() const {
    return Memo1->toPlainText().split(QLatin1Char('\n'));
}

void TForm1::clearNetworkText() {
    Memo1->clear();
}
