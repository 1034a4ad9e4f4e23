#include "app/wait_animation.h"

#include <QPainter>

namespace {

constexpr int kScreenLeft = 9;
constexpr int kScreenTop = 5;
constexpr int kScreenWidth = 34;
constexpr int kMaxLines = 7;
constexpr int kCableY = 27;
constexpr int kCableStart = 50;
constexpr int kCableEnd = 128;
constexpr int kBlockWidth = 8;

int normalized(int frame) {
    const int f = frame % kWaitFrameCount;
    return f < 0 ? f + kWaitFrameCount : f;
}

} // namespace

int waitFrameScreenLines(int frame) {
    const int f = normalized(frame);
    // Frames 0..6 type one more line each; frames 7..13 take one away each.
    return f < kMaxLines ? f + 1 : kWaitFrameCount - 1 - f;
}

int waitFrameBlockX(int frame) {
    const int f = normalized(frame);
    if (f < kMaxLines)
        return -1;
    const int step = f - kMaxLines; // 0..6
    return kCableStart + step * (kCableEnd - kCableStart - kBlockWidth) / (kMaxLines - 1);
}

QImage renderWaitFrame(int frame) {
    QImage image(kWaitFrameWidth, kWaitFrameHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);

    const QColor outline(64, 64, 64);
    const QColor casing(200, 200, 200);
    const QColor screen(0, 0, 128);
    const QColor text(255, 255, 255);

    // PC: monitor with its screen, foot and keyboard.
    p.setPen(outline);
    p.setBrush(casing);
    p.drawRect(5, 1, 42, 26);
    p.setBrush(screen);
    p.drawRect(kScreenLeft - 1, kScreenTop - 1, kScreenWidth + 1, 17);
    p.setBrush(casing);
    p.drawRect(20, 28, 12, 2);
    p.drawRect(8, 31, 36, 4);

    p.setPen(text);
    const int lines = waitFrameScreenLines(frame);
    for (int i = 0; i < lines; ++i) {
        // Ragged line lengths look like typed text.
        const int length = 10 + ((i * 7 + 3) % 5) * 4;
        p.drawLine(kScreenLeft + 1, kScreenTop + 1 + i * 2, kScreenLeft + length,
                   kScreenTop + 1 + i * 2);
    }

    // Cable from the back of the PC to the receiver.
    p.setPen(QPen(outline, 2));
    p.drawLine(47, kCableY, kCableEnd + 2, kCableY);

    // Receiver: flat box with a display and a light.
    p.setPen(outline);
    p.setBrush(QColor(40, 40, 40));
    p.drawRect(kCableEnd + 2, 19, 44, 14);
    p.setBrush(QColor(0, 200, 0));
    p.drawRect(kCableEnd + 8, 24, 12, 4);
    p.setBrush(QColor(255, 160, 0));
    p.drawEllipse(QPoint(kCableEnd + 38, 26), 2, 2);

    // Remote control on the far right.
    p.setBrush(QColor(90, 90, 90));
    p.drawRoundedRect(180, 6, 9, 28, 2, 2);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(220, 0, 0));
    p.drawRect(183, 9, 3, 3);
    p.setBrush(QColor(200, 200, 200));
    for (int i = 0; i < 4; ++i)
        p.drawRect(182 + (i % 2) * 3, 15 + (i / 2) * 4, 2, 2);

    const int blockX = waitFrameBlockX(frame);
    if (blockX >= 0) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 0, 0));
        p.drawRect(blockX, kCableY - 3, kBlockWidth, 6);
    }
    return image;
}
