// The terminal widget: receive pacing across threads, key capture, selection, and a
// screenshot of a coloured, line-drawn screen that a person can look at.
#include "terminal/glyph_cache.h"
#include "terminal/terminal_widget.h"
#include "terminal/vt100_maps.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <string>
#include <thread>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using stbtest::spinUntil;

std::string rowText(const TTerminal& t, int row) {
    const auto& cells = t.buffer().line(row).cells;
    std::string s;
    for (int c = 0; c < t.buffer().columns(); ++c)
        s += static_cast<char>(cells[static_cast<std::size_t>(c)].ch);
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

// Runs the event loop until pred holds or timeoutMs passed.
struct Shown {
    TTerminal terminal;
    QByteArray sent;
    Shown() {
        terminal.setWriter([this](const QByteArray& b) { sent += b; });
        terminal.resize(terminal.sizeHint());
        terminal.show();
        QApplication::processEvents();
    }
    void key(int qtKey, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {},
             bool repeat = false) {
        QKeyEvent press(QEvent::KeyPress, qtKey, mods, text, repeat);
        QApplication::sendEvent(&terminal, &press);
    }
};

TEST(TerminalReceive, BytesFromThePortThreadShowWithinTwoTicks) {
    Shown s;
    const auto redraws = s.terminal.redrawCount();
    std::thread port([&] { s.terminal.enqueueReceived("hello", 5); });
    port.join();
    // Before the UI thread runs, nothing is decoded: the port thread only queues.
    EXPECT_EQ(rowText(s.terminal, 0), "");
    // Two pacing ticks (100 ms each) must bring the text to the screen; allow for a loaded
    // machine, but the redraw itself is what is checked.
    ASSERT_TRUE(spinUntil([&] { return s.terminal.redrawCount() > redraws; }, 2000));
    EXPECT_EQ(rowText(s.terminal, 0), "hello");
    EXPECT_FALSE(s.terminal.hasPendingChanges());
    const auto paints = s.terminal.paintCount();
    EXPECT_TRUE(spinUntil([&] { return s.terminal.paintCount() > paints; }, 2000));
}

// Counts the timer events the terminal receives: its only timer is the 100 ms pacing tick,
// so "shown within 200 ms" can be checked in ticks, whatever the machine's load.
class TickCounter : public QObject {
public:
    int ticks = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Timer)
            ++ticks;
        return false;
    }
};

TEST(TerminalReceive, ShownByTheSecondPacingTick) {
    Shown s;
    TickCounter counter;
    s.terminal.installEventFilter(&counter);
    // A small block: only the timer may bring it to the screen.
    s.terminal.enqueueReceived("hello", 5);
    s.terminal.drainQueue();
    ASSERT_EQ(rowText(s.terminal, 0), "hello");
    const auto redraws = s.terminal.redrawCount();
    counter.ticks = 0;
    spinUntil([&] { return counter.ticks >= 2 || s.terminal.redrawCount() > redraws; }, 5000);
    EXPECT_GT(s.terminal.redrawCount(), redraws) << "ticks seen: " << counter.ticks;
    EXPECT_LE(counter.ticks, 2);
    s.terminal.removeEventFilter(&counter);
}

TEST(TerminalReceive, TwoHundredBytesWaitForTheTickMoreRedrawAtOnce) {
    Shown s;
    const auto redraws = s.terminal.redrawCount();
    const std::string block(200, 'y');
    s.terminal.enqueueReceived(block.data(), static_cast<qsizetype>(block.size()));
    s.terminal.drainQueue();
    EXPECT_EQ(s.terminal.redrawCount(), redraws); // exactly 200: not "more than 200"
    s.terminal.enqueueReceived("z", 1);
    s.terminal.drainQueue();
    EXPECT_EQ(s.terminal.redrawCount(), redraws + 1);
}

TEST(TerminalReceive, MoreThan200BytesRedrawAtOnce) {
    Shown s;
    const auto redraws = s.terminal.redrawCount();
    const std::string big(300, 'x');
    s.terminal.enqueueReceived(big.data(), static_cast<qsizetype>(big.size()));
    s.terminal.drainQueue(); // what the posted request does; no timer tick involved
    EXPECT_GT(s.terminal.redrawCount(), redraws);
    EXPECT_EQ(rowText(s.terminal, 0), std::string(80, 'x'));
    EXPECT_EQ(rowText(s.terminal, 3), std::string(60, 'x'));
}

TEST(TerminalReceive, LargeBlocksInOneFrameShareOneLaterRedraw) {
    Shown s;
    const auto redraws = s.terminal.redrawCount();
    const std::string big(300, 'x');
    s.terminal.enqueueReceived(big.data(), static_cast<qsizetype>(big.size()));
    s.terminal.drainQueue();
    ASSERT_EQ(s.terminal.redrawCount(), redraws + 1);
    for (const char* more : {"\r\n"
                             "aaaa",
                             "\r\n"
                             "bbbb"}) {
        const std::string block = more + std::string(300, 'y');
        s.terminal.enqueueReceived(block.data(), static_cast<qsizetype>(block.size()));
        s.terminal.drainQueue();
    }
    EXPECT_EQ(s.terminal.redrawCount(), redraws + 1); // still the first frame
    ASSERT_TRUE(spinUntil([&] { return !s.terminal.hasPendingChanges(); }, 2000));
    EXPECT_EQ(s.terminal.redrawCount(), redraws + 2); // the frame's end, both blocks at once
}

TEST(TerminalReceive, ManyWritersNothingLostOrReordered) {
    Shown s;
    std::thread port([&] {
        for (int i = 0; i < 2000; ++i) {
            const std::string line = std::to_string(i) + "\r\n";
            s.terminal.enqueueReceived(line.data(), static_cast<qsizetype>(line.size()));
        }
    });
    port.join();
    ASSERT_TRUE(spinUntil([&] { return rowText(s.terminal, 22) == "1999"; }, 5000));
    for (int r = 0; r < 23; ++r)
        EXPECT_EQ(rowText(s.terminal, r), std::to_string(1977 + r));
    EXPECT_EQ(rowText(s.terminal, -1), "1976");
}

TEST(TerminalReceive, RepliesGoToTheWriter) {
    Shown s;
    s.terminal.enqueueReceived("\x1b[3;4H\x1b[6n\x05", 11);
    s.terminal.drainQueue();
    EXPECT_EQ(s.sent, QByteArray("\x1b[3;4RSTBterm"));
}

TEST(TerminalKeys, NumLockKeypadRules) {
    Shown s;
    // Num Lock off: keypad 8 arrives as Up with the keypad flag and must be the keypad's 8.
    s.key(Qt::Key_Up, Qt::KeypadModifier);
    EXPECT_EQ(s.sent, QByteArray("8"));
    s.sent.clear();
    // Num Lock on: the arrow key block's Up is Up.
    s.key(Qt::Key_Up);
    EXPECT_EQ(s.sent, QByteArray("\x1b[A"));
    s.sent.clear();
    s.key(Qt::Key_8, Qt::KeypadModifier, QStringLiteral("8"));
    EXPECT_EQ(s.sent, QByteArray("8"));
    s.sent.clear();
    s.key(Qt::Key_Clear, Qt::KeypadModifier); // keypad 5, Num Lock off
    EXPECT_EQ(s.sent, QByteArray("5"));
    s.sent.clear();
    s.terminal.enqueueReceived("\x1b=", 2);
    s.terminal.drainQueue();
    s.key(Qt::Key_5, Qt::KeypadModifier, QStringLiteral("5"));
    EXPECT_EQ(s.sent, QByteArray("\x1bOu"));
    s.sent.clear();
    s.key(Qt::Key_Enter, Qt::KeypadModifier, QStringLiteral("\r"));
    EXPECT_EQ(s.sent, QByteArray("\x1bOM")); // the execute key, not the main Enter
    s.sent.clear();
    s.key(Qt::Key_Delete, Qt::KeypadModifier);
    EXPECT_EQ(s.sent, QByteArray("\x1bOn"));
}

TEST(TerminalKeys, MainKeysAndTypedCharacters) {
    Shown s;
    s.key(Qt::Key_Backspace, Qt::NoModifier, QStringLiteral("\b"));
    EXPECT_EQ(s.sent, QByteArray("\x7f"));
    s.sent.clear();
    s.key(Qt::Key_Backspace, Qt::ShiftModifier, QStringLiteral("\b"));
    EXPECT_EQ(s.sent, QByteArray("\b"));
    s.sent.clear();
    s.key(Qt::Key_F5);
    EXPECT_TRUE(s.sent.isEmpty());
    s.key(Qt::Key_Shift, Qt::ShiftModifier);
    s.key(Qt::Key_Control, Qt::ControlModifier);
    EXPECT_TRUE(s.sent.isEmpty());
    s.key(Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    EXPECT_EQ(s.sent, QByteArray("\r"));
    s.sent.clear();
    s.key(Qt::Key_A, Qt::ShiftModifier, QStringLiteral("A"));
    s.key(Qt::Key_C, Qt::ControlModifier, QStringLiteral("\x03"));
    s.key(Qt::Key_Escape, Qt::NoModifier, QStringLiteral("\x1b"));
    EXPECT_EQ(s.sent, QByteArray("A\x03\x1b"));
    s.sent.clear();
    // Tab is the terminal's, not focus navigation.
    QWidget other;
    s.terminal.setFocus();
    s.key(Qt::Key_Tab, Qt::NoModifier, QStringLiteral("\t"));
    EXPECT_EQ(s.sent, QByteArray("\t"));
    s.sent.clear();
    s.terminal.enqueueReceived("\x1b[20h", 5);
    s.terminal.drainQueue();
    s.key(Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    EXPECT_EQ(s.sent, QByteArray("\r\n"));
}

TEST(TerminalKeys, TranslationTable) {
    EXPECT_EQ(translateKey(Qt::Key_Left, Qt::NoModifier, false).keyCode, 37);
    EXPECT_EQ(translateKey(Qt::Key_Home, Qt::KeypadModifier, false).keyCode, 96 + 7);
    EXPECT_EQ(translateKey(Qt::Key_PageDown, Qt::KeypadModifier, false).keyCode, 96 + 3);
    EXPECT_EQ(translateKey(Qt::Key_Insert, Qt::KeypadModifier, false).keyCode, 96);
    EXPECT_EQ(translateKey(Qt::Key_Plus, Qt::KeypadModifier, false).keyCode, 107);
    EXPECT_EQ(translateKey(Qt::Key_F12, Qt::NoModifier, false).keyCode, 123);
    EXPECT_EQ(translateKey(Qt::Key_Alt, Qt::AltModifier, false).keyCode, 0);
    const TerminalKey k =
        translateKey(Qt::Key_Period, Qt::KeypadModifier | Qt::ControlModifier, true);
    EXPECT_EQ(k.keyCode, 110);
    EXPECT_TRUE(k.ctrl);
    EXPECT_TRUE(k.repeat);
}

TEST(TerminalMouse, SelectionIsCopiedOnRelease) {
    Shown s;
    s.terminal.enqueueReceived("first line\r\nsecond line", 23);
    s.terminal.drainQueue();
    QWidget* vp = s.terminal.viewport();
    const QFontMetrics m(QFont(QStringLiteral("DejaVu Sans Mono"), 8));
    const int cw = m.horizontalAdvance(QLatin1Char('M'));
    const int ch = m.height();
    const QPointF from(6 * cw + cw / 2, ch / 2);
    const QPointF to(5 * cw + cw / 2, ch + ch / 2);
    QMouseEvent press(QEvent::MouseButtonPress, from, vp->mapToGlobal(from), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(vp, &press);
    QMouseEvent move(QEvent::MouseMove, to, vp->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(vp, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, to, vp->mapToGlobal(to), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(vp, &release);
    EXPECT_EQ(s.terminal.selectedText(), QStringLiteral("line\nsecond"));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("line\nsecond"));
}

TEST(TerminalView, ScrollBackShowsHistoryAndNewOutputReturns) {
    Shown s;
    std::string text;
    for (int i = 0; i < 60; ++i)
        text += "l" + std::to_string(i) + "\r\n";
    s.terminal.enqueueReceived(text.data(), static_cast<qsizetype>(text.size()));
    s.terminal.drainQueue();
    EXPECT_EQ(s.terminal.verticalScrollBar()->maximum(), s.terminal.buffer().historyCount());
    s.terminal.verticalScrollBar()->setValue(0);
    EXPECT_EQ(s.terminal.scrollBackLines(), 37);
    s.terminal.enqueueReceived(text.data(), static_cast<qsizetype>(text.size()));
    s.terminal.drainQueue();
    // The view follows the cursor, at the latest with the frame's redraw.
    EXPECT_TRUE(spinUntil([&] { return s.terminal.scrollBackLines() == 0; }, 2000));
}

// A double-height line is two screen rows: the upper one must show the glyphs' top halves,
// the lower one their bottom halves. "T" has ink at its top, "_" only at its bottom.
TEST(TerminalView, DoubleHeightRowsShowTopAndBottomHalves) {
    Shown s;
    const char text[] = "\x1b#3T_\r\n\x1b#4T_\r\n"; // the cursor ends below both rows
    s.terminal.enqueueReceived(text, sizeof text - 1);
    s.terminal.drainQueue();
    ASSERT_TRUE(spinUntil([&] { return !s.terminal.hasPendingChanges(); }, 2000));
    QApplication::processEvents();
    const QImage shot = s.terminal.viewport()->grab().toImage();
    const QFontMetrics m(QFont(QStringLiteral("DejaVu Sans Mono"), 8));
    const int cw = m.horizontalAdvance(QLatin1Char('M'));
    const int ch = m.height();
    // Lit pixels in a screen row between two pixel columns (a double-width cell is 2 cw).
    auto lit = [&](int row, int x0, int x1) {
        int n = 0;
        for (int x = x0; x < x1; ++x)
            for (int y = row * ch; y < (row + 1) * ch; ++y)
                if (qGray(shot.pixel(x, y)) > 0x60)
                    ++n;
        return n;
    };
    EXPECT_GT(lit(0, 0, 2 * cw), 0);      // the top of the "T"
    EXPECT_EQ(lit(0, 2 * cw, 4 * cw), 0); // nothing of the "_" in the upper half
    EXPECT_GT(lit(1, 2 * cw, 4 * cw), 0); // the "_" in the lower half
}

// The block cursor stands out from the screen's background in both screen modes.
TEST(TerminalView, CursorVisibleOnNormalAndReverseScreen) {
    for (const char* mode : {"\x1b[?5l", "\x1b[?5h"}) {
        Shown s;
        const std::string text = std::string(mode) + "\x1b[3;5H";
        s.terminal.enqueueReceived(text.data(), static_cast<qsizetype>(text.size()));
        s.terminal.drainQueue();
        ASSERT_TRUE(spinUntil([&] { return !s.terminal.hasPendingChanges(); }, 2000));
        ASSERT_TRUE(spinUntil([&] { return s.terminal.blinkPhaseOn(); }, 2000));
        const QImage shot = s.terminal.viewport()->grab().toImage();
        const QFontMetrics m(QFont(QStringLiteral("DejaVu Sans Mono"), 8));
        const int cw = m.horizontalAdvance(QLatin1Char('M'));
        const int ch = m.height();
        const QRgb background = shot.pixel(40 * cw + 1, 10 * ch + 1);
        EXPECT_NE(shot.pixel(4 * cw + cw / 2, 2 * ch + ch / 2), background) << mode + 1;
    }
}

// Every character of every set, both weights: a cached glyph draws the same pixels as the
// character shaped as text.
TEST(TerminalView, CachedGlyphsDrawLikeText) {
    QFont fonts[2] = {QFont(QStringLiteral("DejaVu Sans Mono"), 8), {}};
    fonts[0].setStyleHint(QFont::Monospace);
    fonts[0].setKerning(false);
    fonts[1] = fonts[0];
    fonts[1].setBold(true);
    terminal::GlyphCache cache(fonts[0], fonts[1]);
    const QFontMetrics m(fonts[0]);
    auto canvas = [&] {
        QImage image(3 * m.maxWidth(), 2 * m.height(), QImage::Format_RGB32);
        image.fill(Qt::black);
        return image;
    };
    int compared = 0;
    for (int bold = 0; bold < 2; ++bold)
        for (std::uint8_t set = 0; set < 5; ++set)
            for (int ch = 33; ch < 256; ++ch) {
                const char32_t cp =
                    terminal::CharsetMap::standard().toUnicode(set, static_cast<std::uint8_t>(ch));
                const quint32 glyph = cp > 32 ? cache.glyph(cp, bold != 0) : 0;
                if (glyph == 0)
                    continue; // the face lacks it: drawn as text in any case
                const QPointF at(m.maxWidth(), m.ascent() + 2);
                QImage text = canvas(), run = canvas();
                QPainter p(&text);
                p.setFont(fonts[bold]);
                p.setPen(QColor(0xC0, 0xC0, 0xC0));
                p.drawText(at, QString::fromUcs4(&cp, 1));
                p.end();
                QGlyphRun glyphs;
                glyphs.setRawFont(cache.font(bold != 0));
                glyphs.setGlyphIndexes({glyph});
                glyphs.setPositions({at});
                p.begin(&run);
                p.setPen(QColor(0xC0, 0xC0, 0xC0));
                p.drawGlyphRun(QPointF(0, 0), glyphs);
                p.end();
                EXPECT_EQ(text, run) << "set " << int(set) << " char " << ch << " bold " << bold;
                ++compared;
            }
    EXPECT_GT(compared, 1000); // nearly all of them have a glyph in the face
}

// A screen a person can judge: colours, attributes and DEC line drawing. The PNG lands in
// the build folder (terminal_screenshot_<platform>.png).
// A paste with a line end asks first and sends no control character; a save does not follow a
// link another user planted under the chosen name, and a new file takes the umask's mode.
TEST(TerminalActions, PasteAsksAndSaveWritesOnlyWhereMeant) {
    TTerminal t;
    QByteArray sent;
    QString asked;
    bool answer = false;
    t.setWriter([&](const QByteArray& bytes) { sent += bytes; });
    t.setPasteTiming({0, 0});
    t.setPrompts({[&](const QString& q) { return asked = q, answer; }, {}, {}});
    EXPECT_FALSE(t.paste(QStringLiteral("rm -rf /data/*\r\n")));
    EXPECT_TRUE(asked.startsWith(QStringLiteral("1 Zeile an den Receiver senden?")));
    EXPECT_TRUE(asked.contains(QStringLiteral("rm -rf /data/*↵"))) << asked.toStdString();
    EXPECT_TRUE(sent.isEmpty());
    answer = true;
    EXPECT_TRUE(t.paste(QString::fromLatin1("ls\x15\x1b[201~\r")));
    EXPECT_TRUE(spinUntil([&] { return !t.pasteInProgress(); }, 3000));
    EXPECT_EQ(sent, QByteArray("ls[201~\r"));

    stbtest::ScratchDir dir;
    const QString mine = dir.file(QStringLiteral("profile")),
                  planted = dir.file(QStringLiteral("log.txt"));
    QFile(mine).open(QIODevice::WriteOnly);
    ASSERT_TRUE(QFile::link(mine, planted));
    const passwd* other = ::getpwnam("nobody");
    ASSERT_TRUE(other && ::lchown(QFile::encodeName(planted).constData(), other->pw_uid, 0) == 0);
    QString error;
    EXPECT_FALSE(t.saveTo(planted, &error));
    EXPECT_TRUE(error.contains(planted)) << error.toStdString();
    EXPECT_EQ(QFileInfo(mine).size(), 0);
    const mode_t mask = ::umask(027);
    EXPECT_TRUE(t.saveTo(dir.file(QStringLiteral("new.txt")), &error));
    ::umask(mask);
    EXPECT_EQ(QFile::permissions(dir.file(QStringLiteral("new.txt"))) & 0x0777, 0x0640);
}

TEST(Screenshot, ColouredLineDrawnScreen) {
    Shown s;
    std::string screen = "\x1b[2J\x1b[H\x1b[1;33;44m stbmate terminal \x1b[m\r\n\r\n";
    screen += "\x1b(0lqqqqqqqqqqqqqqqqqqqqqqwqqqqqqqqqqk\x1b(B\r\n";
    for (int fg = 30; fg <= 37; ++fg)
        screen += "\x1b(0x\x1b(B \x1b[" + std::to_string(fg) + "mcolour " + std::to_string(fg) +
                  "\x1b[m" + std::string(12, ' ') + "\x1b(0x\x1b(B \x1b[" +
                  std::to_string(fg + 10) + "m  \x1b[m" + std::string(7, ' ') + "\x1b(0x\x1b(B\r\n";
    screen += "\x1b(0tqqqqqqqqqqqqqqqqqqqqqqnqqqqqqqqqqu\x1b(B\r\n";
    screen += "\x1b(0x\x1b(B \x1b[1mbold\x1b[m \x1b[4munder\x1b[m \x1b[7mrev\x1b[m       "
              "\x1b(0x\x1b(B \xc9\xcd\xcd\xbb \xb0\xb1\xb2 \x1b(0x\x1b(B\r\n";
    screen += "\x1b(0mqqqqqqqqqqqqqqqqqqqqqqvqqqqqqqqqqj\x1b(B\r\n";
    screen += "\x1b[1;31;44mbold red on navy\x1b[m  \x1b#6wide\r\n$ ";
    s.terminal.enqueueReceived(screen.data(), static_cast<qsizetype>(screen.size()));
    s.terminal.drainQueue();
    ASSERT_TRUE(spinUntil([&] { return !s.terminal.hasPendingChanges(); }, 2000));
    QApplication::processEvents();
    const QImage shot = s.terminal.grab().toImage();
    const QString name = QStringLiteral(SCREENSHOT_DIR "/terminal_screenshot_%1.png")
                             .arg(QGuiApplication::platformName());
    ASSERT_TRUE(shot.save(name)) << name.toStdString();

    // Spot checks on the pixels: navy behind the title, black elsewhere, and a vertical box
    // line made of lit pixels down the left edge of the frame.
    const QFontMetrics m(QFont(QStringLiteral("DejaVu Sans Mono"), 8));
    const int cw = m.horizontalAdvance(QLatin1Char('M'));
    const int ch = m.height();
    const QPoint origin = s.terminal.viewport()->mapTo(&s.terminal, QPoint(0, 0));
    auto pixel = [&](int col, int row, int dx, int dy) {
        return shot.pixelColor(origin.x() + col * cw + dx, origin.y() + row * ch + dy).rgb() &
               0xFFFFFF;
    };
    EXPECT_EQ(pixel(0, 0, 1, 1), 0x000080u);
    EXPECT_EQ(pixel(60, 1, 1, 1), 0x000000u);
    int lit = 0;
    for (int row = 3; row <= 10; ++row)
        for (int dx = 0; dx < cw; ++dx)
            if (qGreen(pixel(0, row, dx, ch / 2)) > 0x60)
                ++lit;
    EXPECT_GE(lit, 8); // one stroke per row at least
    // Bold red on navy: some red-ish pixels on navy.
    int red = 0;
    for (int dx = 0; dx < 16 * cw; ++dx)
        for (int dy = 0; dy < ch; ++dy) {
            const QRgb px = shot.pixel(origin.x() + dx, origin.y() + 14 * ch + dy);
            if (qRed(px) > 0x60 && qBlue(px) < 0x60)
                ++red;
        }
    EXPECT_GT(red, 10);
}

} // namespace
