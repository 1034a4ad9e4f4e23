#include "app/small_dialogs.h"

#include "app/wait_animation.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

QFont windowFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(8);
    return font;
}

void centreOnDesktop(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Info"));
    setFont(windowFont());
    setFixedSize(243, 183);
    setModal(false);

    auto* layout = new QVBoxLayout(this);
    Label1 = new QLabel(QStringLiteral("Label1"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setAccessibleName(QStringLiteral("Vorgang"));
    Label2 = new QLabel(QStringLiteral("bitte warten ...."), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setAlignment(Qt::AlignCenter);
    Label2->setAccessibleName(QStringLiteral("bitte warten"));
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setFixedSize(kWaitFrameWidth, kWaitFrameHeight);
    Image1->setAccessibleName(QStringLiteral("Warteanimation"));
    layout->addWidget(Label1);
    layout->addWidget(Label2);
    layout->addWidget(Image1, 0, Qt::AlignHCenter);

    for (int i = 0; i < kWaitFrameCount; ++i)
        m_frames[size_t(i)] = QPixmap::fromImage(renderWaitFrame(i));
    Image1->setPixmap(m_frames[0]);

    m_timer = new QTimer(this);
    m_timer->setInterval(kWaitFrameMs);
    connect(m_timer, &QTimer::timeout, this, &TForm2::nextFrame);
}

void TForm2::nextFrame() {
    m_frame = (m_frame + 1) % kWaitFrameCount;
    Image1->setPixmap(m_frames[size_t(m_frame)]);
}

void TForm2::showBusy(const QString& text) {
    Label1->setText(text);
    if (!isVisible())
        centreOnDesktop(this);
    show();
    raise();
    m_timer->start();
    QCoreApplication::processEvents();
}

void TForm2::hideBusy() {
    m_timer->stop();
    hide();
}

TForm4::TForm4(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("Stbmate status file copy"));
    setFont(windowFont());
    setFixedSize(269, 164);
    setModal(false);

    auto* layout = new QVBoxLayout(this);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setAccessibleName(QStringLiteral("Kopierfortschritt"));
    Label1 = new QLabel(QStringLiteral("copying files - please wait"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setAccessibleName(QStringLiteral("copying files - please wait"));
    layout->addWidget(ProgressBar1);
    layout->addWidget(Label1);
}

void TForm4::startCopy(int total) {
    ProgressBar1->setRange(0, total);
    ProgressBar1->setValue(0);
    if (!isVisible())
        centreOnDesktop(this);
    show();
    raise();
    QCoreApplication::processEvents();
}

void TForm4::setCopied(int copied) {
    ProgressBar1->setValue(copied);
    ProgressBar1->repaint();
}

void TForm4::finishCopy() {
    hide();
}
