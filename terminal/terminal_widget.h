#pragma once
// TTerminal: the "Seriell" page's terminal. Paints a TTerminalBuffer, captures keys and the
// mouse, and owns the VT100 emulator that gives the received bytes their meaning.
//
// Threads: enqueueReceived() is the only call allowed from another thread (the serial port's
// dispatcher). It appends to a locked byte queue and posts one drain request to the UI
// thread; everything else (decoding, painting, replies, keys) runs on the UI thread.
//
// Shutdown order: the port withdraws this consumer (no enqueueReceived() runs or will run),
// then the widget is destroyed; a drain request still queued dies with the widget.
#include "terminal/glyph_cache.h"
#include "terminal/history_text.h"
#include "terminal/painted_rows.h"
#include "terminal/paste_pacer.h"
#include "terminal/receive_queue.h"
#include "terminal/terminal_buffer.h"
#include "terminal/terminal_texts.h"
#include "terminal/vt100_emulator.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QByteArray>
#include <QFont>
#include <QPoint>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>

class QKeyEvent;
class QMenu;
class TFindBar;

// A key press as the emulator's key path wants it.
struct TerminalKey {
    int keyCode = 0; // system key code (VK_*), 0 = not a key the terminal looks at
    bool shift = false;
    bool ctrl = false;
    bool alt = false;
    bool repeat = false;
};

// Turns a Qt key event into a system key code. The keypad's navigation keys (what the keypad
// sends with Num Lock off) become the keypad digits, the keypad's Enter the execute key (43).
// Shift, Ctrl and Alt pressed alone give keyCode 0.
TerminalKey translateKey(int qtKey, Qt::KeyboardModifiers modifiers, bool autoRepeat);

class TTerminal : public QAbstractScrollArea {
    Q_OBJECT
public:
    using Writer = std::function<void(const QByteArray&)>;

    explicit TTerminal(QWidget* parent = nullptr);
    ~TTerminal() override;

    // Port side, any thread: queue received bytes. Never blocks for long (one lock, one
    // append); nothing is lost, doubled or reordered.
    void enqueueReceived(const char* data, qsizetype size);

    // Where typed keys and the emulator's replies go (the port). Unset: dropped, as with a
    // closed port.
    void setWriter(Writer writer) { m_writer = std::move(writer); }
    // While false, typed keys are dropped before they reach the emulator; its replies to the
    // receiver's queries still reach the writer, which decides whether they go out (the
    // program drops them while a job holds the receiver).
    // Paste obeys the same switch: none starts while keys are refused, and one in progress
    // stops where it is when they become refused (a job has taken the receiver).
    void setKeysAccepted(bool accepted);
    bool keysAccepted() const { return m_keysAccepted; }

    // Lines kept in all, the visible rows included (24..100000; 200 by default). Starts from
    // a blank screen and history.
    void setHistoryLines(int lines);

    // ---- size and font (terminal_view.cpp) --------------------------------------------------
    // The screen has as many rows and columns as the widget has room for, never fewer than
    // 24 by 80; the first size the window gets is that.
    static constexpr int kMinFontSize = 6;
    static constexpr int kMaxFontSize = 28;
    static constexpr int kDefaultFontSize = 8;
    // Point size of the terminal's font, clamped to kMinFontSize..kMaxFontSize.
    void setFontPointSize(int points);
    int fontPointSize() const { return m_fontPointSize; }
    // Scrolls the view back into the history by lines (negative: towards the live screen).
    void scrollHistory(int lines);

    // ---- paste, find, save (terminal_actions.cpp) ------------------------------------------
    // The questions the terminal asks the user. Unset members use plain Qt boxes.
    struct Prompts {
        std::function<bool(const QString& question)> confirm; // true = go ahead
        std::function<QString()> saveFileName;                // empty = cancelled
        std::function<void(const QString& text)> error;
    };
    void setPrompts(Prompts prompts) { m_prompts = std::move(prompts); }
    void setPasteTiming(terminal::PasteTiming timing) { m_pasteTiming = timing; }
    // Sends text as typed (Latin-1; other characters dropped; CR LF and LF as CR), paced.
    // Text with a line end or a control character is confirmed first, naming its line count
    // and showing those characters; control characters other than TAB and the line end are
    // never sent (see paste_text.h). False when nothing goes out: keys refused, empty text,
    // or the user said no.
    bool paste(const QString& text);
    bool pasteInProgress() const { return m_paste.active(); }
    // The history and screen as plain text, and that text written to path: through a
    // temporary file renamed over it, and refused when path is a link another user owns.
    QString plainText() const;
    bool saveTo(const QString& path, QString* error) const;
    // Kopieren, Einfügen, Alles markieren, In Datei speichern, Suchen.
    void fillContextMenu(QMenu& menu);
    // The words of the menu, the questions and the find bar; German until set.
    void setTexts(const TerminalTexts& texts);
    void selectAll();

    // The find bar (Ctrl+Shift+F): searching moves the view to the match and highlights
    // every match of the text; nothing is sent. Esc closes it and the highlight.
    void showFindBar();
    void closeFindBar();
    bool findBarVisible() const;
    // Next match older (Backward) or newer (Forward) than the current one; the first search
    // starts below the last line, so Backward finds the newest match first.
    bool find(const QString& text, terminal::SearchDirection direction);
    std::optional<terminal::TextMatch> currentMatch() const { return m_match; }

    terminal::TVT100Emulator& emulator() { return m_emulator; }
    const terminal::TTerminalBuffer& buffer() const { return m_buffer; }

    // Lines scrolled back from the live screen (0 = following the cursor).
    int scrollBackLines() const;
    QString selectedText() const;

    // For tests and diagnostics: redraw requests issued by the pacing rule, and whether
    // changes are waiting for the next one.
    std::uint64_t redrawCount() const { return m_redrawCount; }
    bool hasPendingChanges() const {
        return m_buffer.anyDirty() || m_scrollSeen != m_buffer.scrollCount();
    }
    std::uint64_t paintCount() const { return m_paintCount; }
    bool blinkPhaseOn() const { return m_blinkOn; }

    QSize sizeHint() const override;

signals:
    // Ctrl+plus, Ctrl+minus or Ctrl+0 changed the font size.
    void fontPointSizeChanged(int points);

public slots:
    // UI thread: decode everything queued so far.
    void drainQueue();

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool event(QEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void redrawChanges();
    // A redraw the byte count asks for: now, or at the end of the current frame when one
    // went out less than a frame ago.
    void redrawSoon();
    void updateScrollBar(bool followCursor);
    void send(const QByteArray& bytes);
    QPoint cellAt(const QPoint& pos) const; // x = column, y = line index (history negative)
    void paintRow(QPainter& p, int y, const terminal::Row& row, int lineIndex,
                  const terminal::RowLook& look);
    template <class Batch>
    void paintCell(QPainter& p, Batch& batch, const QRect& cell, char32_t cp, bool bold);
    // Asks for a repaint of the rows whose pixels differ from what they should show, moving
    // the pixels first when the screen scrolled.
    void repaintChangedRows();
    terminal::RowLook rowLook(int r) const;
    void markMatches(terminal::RowLook& look, int lineIndex) const;
    // Keys the terminal keeps for itself (paste, find); true when key was one.
    bool handleOwnShortcut(const QKeyEvent& key);
    // The desktop's keys: copy, font size, history scrolling; true when key was one.
    bool handleViewKey(const QKeyEvent& key);
    // Rows and columns to what the viewport holds.
    void fitScreen();
    void pasteFrom(int clipboardMode); // QClipboard::Mode
    void sendDuePaste();
    void showMatch(const terminal::TextMatch& match);
    void saveWithDialog();
    static QFont terminalFont(bool bold, int pointSize = kDefaultFontSize);

    terminal::TTerminalBuffer m_buffer;
    terminal::TVT100Emulator m_emulator{m_buffer};
    Writer m_writer;
    bool m_keysAccepted = true;

    terminal::ReceiveQueue m_queue; // the only member the port's thread touches

    QBasicTimer m_paceTimer;
    QBasicTimer m_frameTimer; // running: a redraw went out less than a frame ago
    int m_elapsedMs = 0;
    int m_blinkMs = 0;
    bool m_blinkOn = true;
    qsizetype m_bytesSinceRedraw = 0;
    std::uint64_t m_scrollSeen = 0;
    std::uint64_t m_redrawCount = 0;
    std::uint64_t m_paintCount = 0;

    int m_fontPointSize = kDefaultFontSize;
    QFont m_font;
    QFont m_boldFont;
    terminal::GlyphCache m_glyphs;
    terminal::PaintedRows m_painted;
    int m_cellWidth = 8;
    int m_cellHeight = 16;
    int m_ascent = 12;

    Prompts m_prompts;
    TerminalTexts m_texts;
    terminal::PasteTiming m_pasteTiming;
    terminal::PastePacer m_paste;
    QTimer m_pasteTimer;
    TFindBar* m_findBar = nullptr; // child; made on first use
    std::u32string m_findText;     // highlighted while the bar shows
    std::optional<terminal::TextMatch> m_match;

    bool m_selecting = false;
    bool m_dragged = false; // the pointer left the cell it was pressed on
    QPoint m_selectionStart{-1, 0};
    QPoint m_selectionEnd{-1, 0};
};
