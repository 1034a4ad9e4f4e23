// Feeds stream files into a shown terminal and saves what the X server shows of it, so two
// builds of the painting code can be compared pixel by pixel.
//
//   terminal_screens OUT_DIR STREAM...     (run on an X display, QT_QPA_PLATFORM=xcb)
//   terminal_screens --compare A.png B.png  (prints how many pixels differ; exit 1 if any)
//
// Each stream goes in 997-byte slices with the event loop run between them, so the paced,
// row-by-row repaints build the final screen, not one full repaint. Per stream: NAME.png (the
// live screen) and NAME-back.png (ten lines scrolled back into the history).
#include "terminal/terminal_widget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QScreen>
#include <QScrollBar>

#include <cstdio>
#include <functional>
#include <string_view>

namespace {

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// The window as the X server has it, taken inside one blink phase with the cursor shown;
// retried when a repaint slipped in between.
QImage grabSettled(TTerminal& terminal) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        waitFor([&] { return !terminal.hasPendingChanges() && terminal.blinkPhaseOn(); }, 3000);
        QApplication::processEvents();
        const auto paints = terminal.paintCount();
        const QImage shot =
            QGuiApplication::primaryScreen()->grabWindow(terminal.winId()).toImage();
        QApplication::processEvents();
        if (terminal.blinkPhaseOn() && terminal.paintCount() == paints)
            return shot;
    }
    return {};
}

int compare(const QString& left, const QString& right) {
    const QImage a = QImage(left).convertToFormat(QImage::Format_RGB32);
    const QImage b = QImage(right).convertToFormat(QImage::Format_RGB32);
    if (a.isNull() || b.isNull() || a.size() != b.size()) {
        std::printf("%s: missing or of another size\n", qPrintable(right));
        return 2;
    }
    long differing = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                ++differing;
    std::printf("%ld of %d pixels differ: %s\n", differing, a.width() * a.height(),
                qPrintable(right));
    return differing == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string_view(argv[1]) == "--compare") {
        QGuiApplication app(argc, argv);
        return compare(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: terminal_screens OUT_DIR STREAM...\n");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        QFile file(QString::fromLocal8Bit(argv[i]));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            return 1;
        }
        const QByteArray stream = file.readAll();
        TTerminal terminal;
        terminal.resize(terminal.sizeHint());
        terminal.show();
        waitFor([&] { return terminal.paintCount() > 0; }, 3000);
        constexpr qsizetype kSlice = 997;
        for (qsizetype at = 0; at < stream.size(); at += kSlice) {
            terminal.enqueueReceived(stream.constData() + at, std::min(kSlice, stream.size() - at));
            terminal.drainQueue();
            QApplication::processEvents();
        }
        const QString base = outDir + QLatin1Char('/') + QFileInfo(file).completeBaseName();
        const QImage live = grabSettled(terminal);
        terminal.verticalScrollBar()->setValue(terminal.verticalScrollBar()->maximum() - 10);
        const QImage back = grabSettled(terminal);
        if (live.isNull() || back.isNull() || !live.save(base + QStringLiteral(".png")) ||
            !back.save(base + QStringLiteral("-back.png"))) {
            std::fprintf(stderr, "no screen for %s\n", argv[i]);
            return 1;
        }
    }
    return 0;
}
