#pragma once
// The two small windows other parts show while they work: the wait dialog TForm2 and the
// copy progress dialog TForm4. Both are created once by the program entry, hidden, and
// reused; neither has handlers of its own.
#include "core/copy_progress.h"
#include "serial/console_dialogue.h"

#include <QDialog>
#include <QFont>
#include <QPixmap>

#include <array>

class QLabel;
class QProgressBar;
class QTimer;

// The program's window font: the platform's sans at 8 points.
QFont windowFont();

// Moves a top-level window to the middle of the screen it is on.
void centreOnDesktop(QWidget* window);

// "Info" with the caller's text, "bitte warten ...." and the wait animation.
//
// The animation advances on a 50 ms timer of the user-interface thread (widgets can only be
// painted there), so it moves while the caller keeps events flowing — WaitTicks does, and
// blocking network work must be waited for the same way to keep it moving.
class TForm2 : public QDialog, public BusyIndicator {
    Q_OBJECT

public:
    explicit TForm2(QWidget* parent = nullptr);

    // Sets Label1, shows the dialog without making it modal, starts the animation and lets
    // pending events be processed once so it is painted before the caller goes on.
    void showBusy(const QString& text) override;
    // Hides the dialog and stops the animation; harmless when already hidden.
    void hideBusy() override;

    int currentFrame() const { return m_frame; }

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Image1 = nullptr;

private:
    void nextFrame();

    QTimer* m_timer = nullptr;
    std::array<QPixmap, 14> m_frames;
    int m_frame = 0;
};

// "Stbmate status file copy": a progress bar and "copying files - please wait".
class TForm4 : public QDialog, public CopyProgress {
    Q_OBJECT

public:
    explicit TForm4(QWidget* parent = nullptr);

    // Shows the dialog (not modal), range 0..total, position 0, lets it paint once.
    void startCopy(int total) override;
    // Position := copied; repainted at once, without dispatching other events.
    void setCopied(int copied) override;
    void finishCopy() override;

    QProgressBar* ProgressBar1 = nullptr;
    QLabel* Label1 = nullptr;
};
