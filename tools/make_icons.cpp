// Writes the program's icon as PNG files for the desktop's icon theme:
// <folder>/<size>/ferrovane.png for each size an icon theme asks for.

#include "log/ProgramIcon.h"

#include <QDir>
#include <QImage>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString dir = folder + QStringLiteral("/%1").arg(size);
        const QString file = dir + QStringLiteral("/ferrovane.png");
        if (!QDir().mkpath(dir) || !ProgramIconImage(size).save(file, "PNG")) {
            std::fprintf(stderr, "make_icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
