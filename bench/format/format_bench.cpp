// format_bench quick PATH: a quick FAT32 format of PATH through the engine (as the dialog
// asks it, label USB). format_bench read PATH: the full format's read pass alone over PATH.
// Exit code 0 on success.
#include "usbstick/block_tools.h"
#include "usbstick/fmt_chk_dsk.h"
#include "usbstick/mkfs_format_library.h"

#include <QCoreApplication>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: format_bench quick|read PATH\n");
        return 2;
    }
    const QString mode = QString::fromLocal8Bit(argv[1]);
    const QString path = QString::fromLocal8Bit(argv[2]);
    if (mode == QLatin1String("read")) {
        const int fd = ::open(argv[2], O_RDONLY | O_DIRECT | O_CLOEXEC);
        if (fd < 0)
            return 1;
        const bool ok = usbstick::readEveryBlock(fd, usbstick::sizeOfOpenVolume(fd), 0, 99,
                                                 [](uint32_t, const void*) { return true; });
        ::close(fd);
        return ok ? 0 : 1;
    }
    usbstick::MkfsFormatLibrary library;
    usbstick::TFmtChkDsk engine(library);
    try {
        return engine.FormatDisk(path, 0, 2, QStringLiteral("USB"), true, 0) ? 0 : 1;
    } catch (const usbstick::FmtChkException& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.message()));
        return 1;
    }
}
