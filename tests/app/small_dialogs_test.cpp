// The status light's paint rule, the wait and copy progress dialogs, and the real boxes'
// German titles and buttons (driven while they are open).
#include "app/qt_dialogs.h"
#include "app/small_dialogs.h"
#include "app/status_light.h"
#include "app/wait_animation.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

TEST(StatusLight, RepaintsOnlyWhenTheValueChanges) {
    TStatusLight light;
    light.show();
    QApplication::processEvents();
    const int afterShow = light.paintCount();
    EXPECT_FALSE(light.Lit());

    light.setLit(false);
    QApplication::processEvents();
    EXPECT_EQ(light.paintCount(), afterShow);

    light.setLit(true); // repaints at once, not later
    EXPECT_EQ(light.paintCount(), afterShow + 1);
    light.setLit(true);
    QApplication::processEvents();
    EXPECT_EQ(light.paintCount(), afterShow + 1);
    light.setLit(false);
    EXPECT_EQ(light.paintCount(), afterShow + 2);
}

TEST(StatusLight, PaintsTheColourWithARaisedEdge) {
    TStatusLight light;
    light.resize(17, 17);
    auto pixel = [&light](int x, int y) { return light.grab().toImage().pixelColor(x, y); };
    EXPECT_EQ(pixel(8, 8), QColor(255, 0, 0));
    light.setLit(true);
    EXPECT_EQ(pixel(8, 8), QColor(0, 255, 0));
    EXPECT_EQ(pixel(8, 0), QColor(255, 255, 255));  // top
    EXPECT_EQ(pixel(0, 8), QColor(255, 255, 255));  // left
    EXPECT_EQ(pixel(16, 8), QColor(128, 128, 128)); // right
    EXPECT_EQ(pixel(8, 16), QColor(128, 128, 128)); // bottom
}

TEST(WaitAnimation, TypesLinesThenSendsTheBlockAlongTheCable) {
    std::vector<int> lines;
    std::vector<int> blocks;
    for (int f = 0; f < kWaitFrameCount; ++f) {
        lines.push_back(waitFrameScreenLines(f));
        blocks.push_back(waitFrameBlockX(f));
    }
    EXPECT_EQ(lines, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 6, 5, 4, 3, 2, 1, 0}));
    for (int f = 0; f < 7; ++f)
        EXPECT_EQ(blocks[size_t(f)], -1);
    for (int f = 8; f < kWaitFrameCount; ++f)
        EXPECT_GT(blocks[size_t(f)], blocks[size_t(f - 1)]) << "the block must travel right";
    EXPECT_EQ(waitFrameScreenLines(kWaitFrameCount), lines[0]); // the cycle repeats

    const QImage first = renderWaitFrame(0);
    EXPECT_EQ(first.size(), QSize(kWaitFrameWidth, kWaitFrameHeight));
    EXPECT_EQ(first.pixelColor(0, 0).alpha(), 0) << "background must be transparent";
    // The red block is where the frame says, and nowhere on the cable before it starts.
    const QImage moving = renderWaitFrame(10);
    EXPECT_EQ(moving.pixelColor(waitFrameBlockX(10) + 2, 27), QColor(255, 0, 0));
    EXPECT_NE(first.pixelColor(waitFrameBlockX(10) + 2, 27), QColor(255, 0, 0));
    for (int f = 1; f < kWaitFrameCount; ++f)
        EXPECT_NE(renderWaitFrame(f), renderWaitFrame(f - 1)) << f;

    // All frames side by side on the dialog's grey, for people to look at.
    QImage sheet(kWaitFrameWidth * 2 + 4, (kWaitFrameHeight + 4) * 7, QImage::Format_RGB32);
    sheet.fill(QColor(240, 240, 240));
    {
        QPainter p(&sheet);
        for (int f = 0; f < kWaitFrameCount; ++f)
            p.drawImage((f / 7) * (kWaitFrameWidth + 4), (f % 7) * (kWaitFrameHeight + 4),
                        renderWaitFrame(f));
    }
    QDir().mkpath(QStringLiteral(STBMATE_SCREENSHOT_DIR));
    EXPECT_TRUE(sheet.save(QStringLiteral(STBMATE_SCREENSHOT_DIR "/wait-animation.png")));
}

TEST(WaitDialog, ShowsTheCallersTextAnimatesAndHides) {
    QDir().mkpath(QStringLiteral(STBMATE_SCREENSHOT_DIR));
    TForm2 form;
    EXPECT_EQ(form.windowTitle(), "Info");
    EXPECT_EQ(form.size(), QSize(243, 183));
    EXPECT_EQ(form.Label1->text(), "Label1");
    EXPECT_EQ(form.Label2->text(), "bitte warten ....");
    EXPECT_FALSE(form.isVisible());

    BusyIndicator& busy = form;
    busy.showBusy(QStringLiteral("Serielle Verbindung wird geprüft"));
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.isModal());
    EXPECT_EQ(form.Label1->text(), QString::fromUtf8("Serielle Verbindung wird geprüft"));
    // The animation runs on its own while events flow (no timing asserted: a loaded
    // machine may be slow, but the frames must advance).
    const int start = form.currentFrame();
    QElapsedTimer clock;
    clock.start();
    int moved = 0;
    while (moved < 3 && clock.elapsed() < 5000) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        moved = (form.currentFrame() - start + kWaitFrameCount) % kWaitFrameCount;
    }
    EXPECT_GE(moved, 3);
    EXPECT_TRUE(form.grab().save(QStringLiteral(STBMATE_SCREENSHOT_DIR "/wait-dialog.png")));
    busy.hideBusy();
    EXPECT_FALSE(form.isVisible());

    // Reused by the next check with its own text.
    busy.showBusy(QStringLiteral("Netzwerk Verbindung wird geprüft"));
    EXPECT_EQ(form.Label1->text(), QString::fromUtf8("Netzwerk Verbindung wird geprüft"));
    busy.hideBusy();
    busy.hideBusy();
    EXPECT_FALSE(form.isVisible());
}

TEST(CopyProgressDialog, StepsThroughTheFiles) {
    QDir().mkpath(QStringLiteral(STBMATE_SCREENSHOT_DIR));
    TForm4 form;
    EXPECT_EQ(form.windowTitle(), "Stbmate status file copy");
    EXPECT_EQ(form.size(), QSize(269, 164));
    EXPECT_EQ(form.Label1->text(), "copying files - please wait");
    EXPECT_EQ(form.ProgressBar1->maximum(), 100);
    CopyProgress& progress = form;
    progress.startCopy(3);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.ProgressBar1->minimum(), 0);
    EXPECT_EQ(form.ProgressBar1->maximum(), 3);
    EXPECT_EQ(form.ProgressBar1->value(), 0);
    for (int i = 1; i <= 3; ++i) {
        progress.setCopied(i);
        EXPECT_EQ(form.ProgressBar1->value(), i);
        if (i == 2) {
            EXPECT_TRUE(
                form.grab().save(QStringLiteral(STBMATE_SCREENSHOT_DIR "/copy-progress.png")));
        }
    }
    progress.finishCopy();
    EXPECT_FALSE(form.isVisible());
}

// Runs act on the box as soon as it is open, then lets the call return.
struct OpenBox {
    QString title;
    QString text;
    QStringList buttons;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

OpenBox whileOpen(const std::function<void()>& show, const std::function<void(QMessageBox*)>& act) {
    OpenBox seen;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        poll.stop();
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        for (QAbstractButton* b : box->buttons())
            seen.buttons << b->text();
        act(box);
    });
    poll.start();
    show();
    return seen;
}

QAbstractButton* buttonWithText(QMessageBox* box, const QString& text) {
    for (QAbstractButton* b : box->buttons())
        if (b->text() == text)
            return b;
    return nullptr;
}

TEST(QtDialogs, BoxesHaveGermanTitlesAndButtons) {
    QtDialogs dialogs;
    auto pressOk = [](QMessageBox* box) { buttonWithText(box, "OK")->click(); };

    OpenBox error = whileOpen([&] { dialogs.showError("Fehlertext"); }, pressOk);
    EXPECT_EQ(error.title, "Fehler");
    EXPECT_EQ(error.text, "Fehlertext");
    EXPECT_EQ(error.icon, QMessageBox::Critical);
    EXPECT_EQ(error.buttons, QStringList{"OK"});

    OpenBox info = whileOpen([&] { dialogs.showInformation("Hinweis"); }, pressOk);
    EXPECT_EQ(info.title, "Information");
    EXPECT_EQ(info.icon, QMessageBox::Information);

    OpenBox plain = whileOpen([&] { dialogs.showMessage("Fertig"); }, pressOk);
    EXPECT_EQ(plain.title, "stbmate");
    EXPECT_EQ(plain.icon, QMessageBox::NoIcon);
    EXPECT_EQ(plain.buttons, QStringList{"OK"});

    bool answer = false;
    OpenBox question = whileOpen([&] { answer = dialogs.confirm("Weiter?"); }, pressOk);
    EXPECT_EQ(question.title, QString::fromUtf8("Bestätigung"));
    EXPECT_EQ(question.icon, QMessageBox::Question);
    EXPECT_EQ(question.buttons, (QStringList{"OK", "Abbrechen"}));
    EXPECT_TRUE(answer);

    answer = true;
    whileOpen([&] { answer = dialogs.confirm("Weiter?"); },
              [](QMessageBox* box) { buttonWithText(box, "Abbrechen")->click(); });
    EXPECT_FALSE(answer);

    answer = true;
    whileOpen([&] { answer = dialogs.confirm("Weiter?"); },
              [](QMessageBox* box) { box->reject(); });
    EXPECT_FALSE(answer) << "closing the box counts as cancel";
}

} // namespace

namespace {

TEST(QtDialogs, StandardDialogsSpeakGerman) {
    ASSERT_TRUE(installGermanQtTranslations()) << "package qt6-translations-l10n is needed";
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Abbrechen");
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "File &name:"), "Datei&name:");
}

} // namespace
