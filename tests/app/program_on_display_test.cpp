// The real program on a private X server: started without its settings file it shows the
// error box and ends without a window; started with one it shows the main window, which is
// photographed in Deutsch and in English, also with the Datei and Funktionen menus open (PNGs
// in the build folder, for people to look at).
#include "app/ini_file.h"
#include "tests/app/xvfb_server.h"
#include "tests/support/pty_pair.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <functional>

namespace {

const QString kScreenshotDir = QStringLiteral(STBMATE_SCREENSHOT_DIR);
// Just below the menu bar's first titles, in window coordinates: an open menu covers it.
const QRect kBelowMenuTitles(10, 24, 60, 40);

// Copies the built program into folder, so that its own folder is the scratch folder.
void installProgram(const QString& folder) {
    const QString target = folder + QStringLiteral("/stbmate");
    ASSERT_TRUE(QFile::copy(QStringLiteral(STBMATE_EXE_PATH), target));
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Window ids of visible windows whose title is exactly title, waiting up to timeoutMs for one.
QStringList waitForWindows(const XvfbServer& x, const QString& title, int timeoutMs) {
    const QString out = RunTool(QStringLiteral("xdotool"),
                                {"search", "--sync", "--onlyvisible", "--name",
                                 "^" + QRegularExpression::escape(title) + "$"},
                                x.environment(), timeoutMs);
    return out.isEmpty() ? QStringList() : out.split(QLatin1Char('\n'));
}

QStringList visibleWindows(const XvfbServer& x, const QString& title) {
    const QString out = RunTool(
        QStringLiteral("xdotool"),
        {"search", "--onlyvisible", "--name", "^" + QRegularExpression::escape(title) + "$"},
        x.environment(), 5000);
    return out.isEmpty() ? QStringList() : out.split(QLatin1Char('\n'));
}

// More colours than an empty X screen has (black, or the root's black-and-white weave): a
// program has drawn there.
bool painted(const QImage& shot) {
    QSet<QRgb> colours;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            colours.insert(shot.pixel(x, y));
            if (colours.size() > 2)
                return true;
        }
    return false;
}

// Photographs the window (id "0": the whole screen) until a photo is painted, shows what
// ready() looks for and equals the one before: the program has drawn it and stopped. Mapped
// is not enough, the first paint follows the map. Returns the last photo, which is also left
// in png; a test failure naming what when nothing settles within timeoutMs.
QImage grabSettled(const XvfbServer& x, const QString& windowId, const QString& png,
                   const char* what, const std::function<bool(const QImage&)>& ready = {},
                   int timeoutMs = 20000) {
    QDir().mkpath(QFileInfo(png).absolutePath());
    QImage last;
    QElapsedTimer clock;
    clock.start();
    do { // each photo starts a program of its own, which paces the loop
        int code = -1;
        RunTool(QStringLiteral(STBMATE_X_WINDOW_GRAB), {windowId, png}, x.environment(), 15000,
                &code);
        QImage shot = code == 0 ? QImage(png) : QImage();
        if (!shot.isNull() && shot == last && painted(shot) && (!ready || ready(shot)))
            return shot;
        last = std::move(shot);
    } while (clock.elapsed() < timeoutMs);
    ADD_FAILURE() << what << " did not settle on the screen within " << timeoutMs << " ms";
    return last;
}

// The window's place on the screen (there is no window manager, so it stays where the
// program put it).
QPoint windowPosition(const XvfbServer& x, const QString& windowId) {
    const QString out = RunTool(QStringLiteral("xdotool"),
                                {"getwindowgeometry", "--shell", windowId}, x.environment(), 5000);
    QPoint pos(-1, -1);
    for (const QString& line : out.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("X=")))
            pos.setX(line.mid(2).toInt());
        else if (line.startsWith(QLatin1String("Y=")))
            pos.setY(line.mid(2).toInt());
    }
    return pos;
}

// True when the photo of the whole screen differs, just below the menu titles, from the photo
// of the window (at windowAt on the screen) taken with every menu closed.
bool menuCovers(const QImage& screen, QPoint windowAt, const QImage& window) {
    return screen.copy(kBelowMenuTitles.translated(windowAt)) != window.copy(kBelowMenuTitles);
}

// Opens the menu whose title lies at titleX in the menu bar and photographs the whole screen:
// an open menu is a window of its own. The menu is closed again afterwards. window: the
// window's photo with every menu closed, at windowAt on the screen; scratchPng: where the
// photos taken while the menu closes go.
QImage grabOpenMenu(const XvfbServer& x, const QString& windowId, int titleX, const QString& png,
                    QPoint windowAt, const QImage& window, const QString& scratchPng) {
    int code = -1;
    RunTool(QStringLiteral("xdotool"),
            {"mousemove", "--window", windowId, QString::number(titleX), "8", "click", "1"},
            x.environment(), 10000, &code);
    EXPECT_EQ(code, 0);
    const QImage shot =
        grabSettled(x, QStringLiteral("0"), png, "the open menu",
                    [&](const QImage& screen) { return menuCovers(screen, windowAt, window); });
    RunTool(QStringLiteral("xdotool"), {"key", "Escape"}, x.environment(), 10000);
    grabSettled(x, windowId, scratchPng, "the window with its menu closed", [&](const QImage& now) {
        return now.copy(kBelowMenuTitles) == window.copy(kBelowMenuTitles);
    });
    return shot;
}

class ProgramOnDisplay : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(x.start()) << x.error().toStdString();
        ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            << "xdotool is needed (package xdotool)";
        installProgram(dir.path());
    }
    void TearDown() override {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished(5000);
        }
    }
    void startProgram() {
        // Without stbmate.ini beside it the program is in installed mode: its settings and
        // log folders are kept inside the scratch folder, never in the tester's home.
        QProcessEnvironment env = x.environment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.file(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), dir.file(QStringLiteral("state")));
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(dir.path());
        program.start(dir.file(QStringLiteral("stbmate")), {});
        ASSERT_TRUE(program.waitForStarted(5000));
    }
    // Logs/ beside the program (portable) or in the state folder (installed).
    QString logText(const QString& logDir = QStringLiteral("Logs")) const {
        const QStringList logs = QDir(dir.file(logDir)).entryList({"stbmate-*.log"}, QDir::Files);
        QString text;
        for (const QString& name : logs) {
            QFile f(dir.file(logDir + QLatin1Char('/') + name));
            if (f.open(QIODevice::ReadOnly))
                text += QString::fromUtf8(f.readAll());
        }
        return text;
    }

    XvfbServer x;
    stbtest::ScratchDir dir;
    QProcess program;
};

// Neither a user's settings file nor a shipped default next to this copy of the program.
TEST_F(ProgramOnDisplay, WithoutSettingsFileShowsTheBoxAndEndsWithNoWindow) {
    startProgram();
    const QStringList boxes = waitForWindows(x, QStringLiteral("Fehler"), 20000);
    ASSERT_EQ(boxes.size(), 1) << "the error box must appear";
    EXPECT_TRUE(visibleWindows(x, QStringLiteral("Stbmate")).isEmpty())
        << "the main window must never be shown";
    const QImage box =
        grabSettled(x, boxes[0], kScreenshotDir + "/stbmate-missing-ini.png", "the error box");
    EXPECT_FALSE(box.isNull());

    const QRegularExpression logPattern(QStringLiteral(
        "^\\d\\d:\\d\\d:\\d\\d - \\*\\*\\*\\*\\*\\* start programm \\*\\*\\*\\*\\*\\*\\r\\n"
        "\\d\\d:\\d\\d:\\d\\d - ###### stbmate\\.ini is missing ! --> EXIT\\r\\n$"));
    const QString stateLogs = QStringLiteral("state/stbmate/Logs");
    EXPECT_TRUE(logPattern.match(logText(stateLogs)).hasMatch())
        << logText(stateLogs).toStdString();
    EXPECT_EQ(program.state(), QProcess::Running) << "the box waits for the user";

    // The user presses Enter on the box's "OK".
    int code = -1;
    RunTool(QStringLiteral("xdotool"), {"windowfocus", "--sync", boxes[0], "key", "Return"},
            x.environment(), 10000, &code);
    EXPECT_EQ(code, 0);
    ASSERT_TRUE(program.waitForFinished(10000)) << "the program must end once the box is closed";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_NE(program.exitCode(), 0);
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("stbmate.ini"))));
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("config/stbmate/stbmate.ini"))));
    // The EXIT line stays the last.
    EXPECT_TRUE(logPattern.match(logText(stateLogs)).hasMatch())
        << logText(stateLogs).toStdString();
}

TEST_F(ProgramOnDisplay, MainWindowScreenshotsInBothLanguages) {
    const QString ini = dir.file(QStringLiteral("stbmate.ini"));
    ASSERT_TRUE(QFile::copy(stbtest::sourceDir() + "/app/stbmate.ini", ini));
    QFile::setPermissions(ini, QFile::ReadOwner | QFile::WriteOwner);
    // Never the machine's own serial ports: the program gets a pseudo-terminal of the test's.
    PtyPair pty;
    IniFile(ini).WriteString("Main", "ComPort", pty.path());
    IniFile(ini).WriteString("Main", "IP", "192.168.178.30");

    QImage shots[2];
    const QString languages[2] = {QStringLiteral("Deutsch"), QStringLiteral("English")};
    for (int i = 0; i < 2; ++i) {
        IniFile(ini).WriteString("Main", "Language", languages[i]);
        startProgram();
        const QStringList windows = waitForWindows(x, QStringLiteral("Stbmate"), 20000);
        ASSERT_EQ(windows.size(), 1) << languages[i].toStdString();
        // The clock shows from the start: no tick to wait for.
        const QString name = kScreenshotDir + "/stbmate-" + languages[i].toLower();
        shots[i] = grabSettled(x, windows[0], name + ".png", "the main window");
        // The menu items' captions are only seen with their menus open.
        const QPoint at = windowPosition(x, windows[0]);
        ASSERT_GE(at.x(), 0);
        const QString scratch = dir.file(QStringLiteral("menu-closed.png"));
        const QImage menus[2] = {
            grabOpenMenu(x, windows[0], 20, name + "-menu1.png", at, shots[i], scratch),
            grabOpenMenu(x, windows[0], 65, name + "-menu2.png", at, shots[i], scratch)};
        for (const QImage& menu : menus) {
            // Below its title the open menu covers what the window shows there.
            EXPECT_TRUE(menuCovers(menu, at, shots[i]))
                << "no open menu in the screenshot of " << languages[i].toStdString();
        }
        program.terminate();
        ASSERT_TRUE(program.waitForFinished(10000));
        ASSERT_FALSE(shots[i].isNull());
        EXPECT_EQ(shots[i].size(), QSize(818, 467));
        // The unlit lights are red somewhere in the upper left.
        bool red = false;
        for (int y = 0; y < 160 && !red; ++y)
            for (int xx = 0; xx < 200 && !red; ++xx)
                red = shots[i].pixelColor(xx, y) == QColor(255, 0, 0);
        EXPECT_TRUE(red) << "no status light in " << languages[i].toStdString();
    }
    EXPECT_NE(shots[0], shots[1]) << "the captions must differ between the languages";
    EXPECT_EQ(IniFile(ini).ReadString("Main", "IP"), "192.168.178.30");
    // A writable folder holding stbmate.ini is portable: settings and Logs/ stay in it.
    EXPECT_TRUE(logText().contains("portable mode, settings file " + ini))
        << logText().toStdString();
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("config"))));
}

} // namespace
