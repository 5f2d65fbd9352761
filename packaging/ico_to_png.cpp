// Writes the program's icon as the 32 x 32 PNG that desktop icon themes hold:
//     ico_to_png <icon file> <PNG file>
// Of an icon with several images the 32 x 32 one is taken; another size is scaled to it.
#include <QCoreApplication>
#include <QImage>
#include <QImageReader>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: ico_to_png <icon file> <PNG file>\n");
        return 2;
    }
    QImageReader reader(QString::fromLocal8Bit(argv[1]));
    QImage chosen;
    for (int i = 0; i < qMax(1, reader.imageCount()); ++i) {
        if (i > 0 && !reader.jumpToImage(i))
            break;
        const QImage image = reader.read();
        if (image.isNull())
            continue;
        if (chosen.isNull() || image.size() == QSize(32, 32))
            chosen = image;
        if (image.size() == QSize(32, 32))
            break;
    }
    if (chosen.isNull()) {
        std::fprintf(stderr, "ico_to_png: %s: %s\n", argv[1], qPrintable(reader.errorString()));
        return 1;
    }
    if (chosen.size() != QSize(32, 32))
        chosen = chosen.scaled(32, 32, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (!chosen.convertToFormat(QImage::Format_ARGB32)
             .save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "ico_to_png: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
