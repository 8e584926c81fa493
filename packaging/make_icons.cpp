// Writes the program's icon as PNG files of the sizes the freedesktop icon theme asks for, drawn
// by the same code as the window icon, for installation under share/icons/hicolor.
//   make_icons OUTPUT_FOLDER      (run by the build with QT_QPA_PLATFORM=offscreen)
#include <cstdio>

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>

#include "app/artwork.h"

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fputs("usage: make_icons OUTPUT_FOLDER\n", stderr);
        return 2;
    }
    const QDir output(QString::fromLocal8Bit(argv[1]));
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString name = QStringLiteral("%1x%1/sheetmerge.png").arg(size);
        if (!output.mkpath(QStringLiteral("%1x%1").arg(size)) ||
            !app::artwork::iconPicture(size).save(output.filePath(name), "PNG")) {
            std::fprintf(stderr, "make_icons: cannot write %s\n",
                         qPrintable(output.filePath(name)));
            return 1;
        }
    }
    return 0;
}
