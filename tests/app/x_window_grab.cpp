// Saves what the X server shows of one window (given by its id) as a PNG: a real screenshot,
// not the program's own rendering of itself.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: x_window_grab <window id> <out.png>\n");
        return 2;
    }
    bool ok = false;
    const WId id = QString::fromLatin1(argv[1]).toULongLong(&ok);
    if (!ok)
        return 2;
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(id);
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[2]), "PNG"))
        return 1;
    return 0;
}
