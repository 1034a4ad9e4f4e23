// TForm1's controls: their arrangement, captions, fonts and accessible names, and the menu.
#include "app/main_window.h"

#include "app/port_box.h"
#include "app/receiver_jobs.h"
#include "app/small_dialogs.h"
#include "app/status_light.h"
#include "app/terminal_hint.h"
#include "terminal/terminal_widget.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

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

QString clockText(const QDateTime& now) {
    return now.toString(QStringLiteral("dd.MM.yyyy hh:mm"));
}

TForm1::TForm1(Dialogs& dialogs, ProcessStarter& starter, WindowCommands& wiring,
               LanguageTexts& language, QWidget* parent)
    : QMainWindow(parent), m_dialogs(dialogs), m_starter(starter), m_wiring(wiring),
      m_log(wiring.log()), m_language(language) {
    buildControls();
    buildMenu();
    connectHandlers();
    buildSerialPage();
}

TForm1::~TForm1() {
    // Hiding the widgets moves the focus; no handler may run on a window half torn down.
    ComboBox2->lineEdit()->disconnect(this);
    ComboBox2->disconnect(this);
}

// The terminal view on page "Seriell", fed from the port by the wiring, and the hint over it.
void TForm1::buildSerialPage() {
    Terminal1 = new TTerminal(TabSheet1);
    m_serialPageLayout->addWidget(Terminal1);
    Terminal1->setWriter([this](const QByteArray& bytes) { emit m_intents.consoleTyped(bytes); });
    m_firstLook = new TTerminalHint(Terminal1->viewport());
}

void TForm1::showConsoleBytes(const QByteArray& bytes) {
    Terminal1->enqueueReceived(bytes.constData(), bytes.size());
    // The receiver's first byte since start takes the hint away for good.
    if (!bytes.isEmpty() && !m_consoleByteSeen.exchange(true))
        QMetaObject::invokeMethod(
            m_firstLook, [hint = m_firstLook] { hint->firstByteArrived(); }, Qt::QueuedConnection);
}

void TForm1::showPortOpened() {
    // Each open has its own first byte: after a replug or a port change the hint goes as
    // soon as the receiver's output arrives on the port open now.
    m_consoleByteSeen = false;
    m_firstLook->portOpened();
}

void TForm1::showPortClosing() {
    m_firstLook->portClosing();
}

void TForm1::showPortUnavailable(const QString& devicePath) {
    m_firstLook->portUnavailable(noPortHintText(devicePath, m_language));
}

void TForm1::updateFirstLookText() {
    if (m_settings)
        m_firstLook->setHintText(firstLookHintText(*m_settings, m_currentLanguage));
}

void TForm1::showSettingsLocation(const QString& toolTip) {
    StatusPanels[0]->setToolTip(toolTip);
}

void TForm1::buildControls() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Stbmate"));
    setFont(windowFont());
    resize(818, 467);

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("ClientArea"));
    setCentralWidget(central);
    buildStatusGroup(central);
    buildFields(central);
    buildPages(central);
    buildStatusBar();
    arrangeInLayouts(central);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    nameForScreenReaders();
}

void TForm1::buildStatusGroup(QWidget* central) {
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
}

void TForm1::buildFields(QWidget* central) {
    // Four rows: a field 89 pixels wide with its caption to the right.
    auto row = [central](int index, QWidget* field, QLabel* label) {
        const int y = 112 + index * 30;
        field->setParent(central);
        field->setGeometry(8, y, 89, 21);
        label->setParent(central);
        label->setGeometry(103, y, 104, 21);
        label->setBuddy(field);
    };

    ComboBox2 = new TPortBox(central);
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
}

// The window grows: the left column keeps its width, the pages take the rest. At the first
// size the column is as wide as the controls need and the pages fill what is left.
void TForm1::arrangeInLayouts(QWidget* central) {
    GroupBox1->setFixedSize(GroupBox1->size());
    // An address in full, and a port path readable at least by its end (its list shows it whole).
    const int fieldWidth =
        std::max(89, fontMetrics().horizontalAdvance(QStringLiteral("255.255.255.255")) + 14);
    auto* fields = new QGridLayout;
    fields->setContentsMargins(0, 0, 0, 0);
    fields->setHorizontalSpacing(6);
    fields->setVerticalSpacing(9);
    const std::pair<QWidget*, QLabel*> rows[] = {
        {ComboBox2, Label3}, {Edit1, Label1}, {Edit2, Label6}, {ComboBox1, Label2}};
    int r = 0;
    for (const auto& [field, label] : rows) {
        field->setFixedWidth(fieldWidth);
        fields->addWidget(field, r, 0);
        fields->addWidget(label, r++, 1);
    }
    ComboBox2->view()->setTextElideMode(Qt::ElideNone);
    connect(ComboBox2, &QComboBox::editTextChanged, ComboBox2, &QWidget::setToolTip);
    ComboBox2->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    auto* left = new QVBoxLayout;
    left->setContentsMargins(0, 0, 0, 0);
    left->addWidget(GroupBox1);
    left->addSpacing(8);
    left->addLayout(fields);
    left->addStretch(1);
    auto* outer = new QHBoxLayout(central);
    outer->setContentsMargins(8, 4, 8, 4);
    outer->setSpacing(8);
    outer->addLayout(left);
    outer->addWidget(PageControl1, 1);
}

void TForm1::buildPages(QWidget* central) {
    PageControl1 = new QTabWidget(central);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setGeometry(209, 4, 601, 385);

    TabSheet1 = new QWidget;
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    m_serialPageLayout = new QVBoxLayout(TabSheet1);
    m_serialPageLayout->setContentsMargins(0, 0, 0, 0);
    PageControl1->addTab(TabSheet1, QStringLiteral("Seriell"));

    TabSheet2 = new QWidget;
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    auto* networkLayout = new QVBoxLayout(TabSheet2);
    networkLayout->setContentsMargins(0, 0, 0, 0);
    Memo1 = new QPlainTextEdit(TabSheet2);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    // A long session must not grow the program without end: the view keeps the newest lines
    // (the session log keeps everything), and nobody undoes received text.
    Memo1->setUndoRedoEnabled(false);
    Memo1->setMaximumBlockCount(kNetworkViewLines);
    Memo1->setFont(consoleFont());
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    makeConsolePalette(Memo1, palette().color(QPalette::Light));
    networkLayout->addWidget(Memo1);
    PageControl1->addTab(TabSheet2, QStringLiteral("Netzwerk"));
    PageControl1->setCurrentIndex(0);
}

void TForm1::buildStatusBar() {
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
    m_transferStatus = new QLabel(statusBar());
    m_transferStatus->setObjectName(QStringLiteral("TransferStatus"));
    m_transferStatus->setAccessibleName(QStringLiteral("Übertragung"));
    statusBar()->addWidget(m_transferStatus, 1);
    m_jobStatus = new QLabel(statusBar());
    m_jobStatus->setObjectName(QStringLiteral("JobStatus"));
    m_jobStatus->setAccessibleName(QStringLiteral("Vorgang"));
    statusBar()->addPermanentWidget(m_jobStatus);
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    statusBar()->setSizeGripEnabled(false);
}

// Names for screen readers (and for GUI tests that go through the accessibility tree).
void TForm1::nameForScreenReaders() {
    GroupBox1->setAccessibleName(QStringLiteral("Verbindungsstatus"));
    Button2->setAccessibleName(QStringLiteral("Prüfen"));
    StatusLight1->setAccessibleName(QStringLiteral("serielle Verbindung"));
    StatusLight2->setAccessibleName(QStringLiteral("Netzwerkverbindung"));
    ComboBox2->setAccessibleName(QStringLiteral("Port"));
    Edit1->setAccessibleName(QStringLiteral("IP-Adresse UFS910"));
    Edit2->setAccessibleName(QStringLiteral("eigene IP-Adresse"));
    ComboBox1->setAccessibleName(QStringLiteral("Sprache"));
    PageControl1->setAccessibleName(QStringLiteral("Ausgabe"));
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
    for (const ReceiverJob& job : receiverJobs()) {
        if (!job.menu)
            continue;
        QAction* action = Funktionen1->addAction(QString::fromUtf8(job.menu->defaultText));
        action->setObjectName(QString::fromLatin1(job.menu->actionName));
        connect(action, &QAction::triggered, this,
                [this, kind = job.kind] { m_wiring.runJob(kind); });
        m_jobActions.push_back(action);
    }
    SatChannelListEditor1 = Funktionen1->addAction(QStringLiteral("SatChannelListEditor starten"));
    SatChannelListEditor1->setObjectName(QStringLiteral("SatChannelListEditor1"));
    SatChannelListEditor1->setVisible(false);

    Hilfe1 = menuBar()->addMenu(QStringLiteral("Hilfe"));
    Hilfe1->setObjectName(QStringLiteral("Hilfe1"));
    N1 = Hilfe1->addAction(QStringLiteral("?"));
    N1->setObjectName(QStringLiteral("N1"));
    LogFolder1 = Hilfe1->addAction(QStringLiteral("Log-Ordner öffnen"));
    LogFolder1->setObjectName(QStringLiteral("LogFolder1"));
}

void TForm1::connectHandlers() {
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(ComboBox1, &QComboBox::editTextChanged, this, &TForm1::ComboBox1Change);
    // After the language box's handler, so the new language is already current.
    connect(ComboBox1, &QComboBox::editTextChanged, this, &TForm1::updateFirstLookText);
    connect(ComboBox2, &QComboBox::editTextChanged, this, &TForm1::ComboBox2Change);
    connect(ComboBox1, &QComboBox::editTextChanged, &m_intents,
            &WindowIntents::portOrLanguageEdited);
    connect(ComboBox2, &QComboBox::editTextChanged, &m_intents,
            &WindowIntents::portOrLanguageEdited);
    connect(ComboBox2, &QComboBox::activated, this, &TForm1::ComboBox2Chosen);
    // Leaving the box without a change (the window closing, a click elsewhere) is no choice.
    connect(ComboBox2->lineEdit(), &QLineEdit::editingFinished, this, [this] {
        if (ComboBox2->currentText() != m_chosenPortText)
            ComboBox2Chosen();
    });
    Edit1->installEventFilter(this);
    connect(Beenden1, &QAction::triggered, this, &TForm1::Beenden1Click);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(SatChannelListEditor1, &QAction::triggered, this, &TForm1::SatChannelListEditor1Click);
    connect(N1, &QAction::triggered, this, &TForm1::N1Click);
    connect(LogFolder1, &QAction::triggered, this, &TForm1::openLogFolder);
    connect(Label3, &QLabel::customContextMenuRequested, this, &TForm1::Label3ContextPopup);
}
