// Writes the window's icon into a hicolor-style tree at build time, so the
// icon theme and the window show one drawing and no PNG is kept in the
// repository.
#include "ui/LampImages.h"

#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>

namespace {

// A painter that silently drew nothing still yields a valid PNG; refuse it
// here rather than ship a blank launcher icon.
bool looksDrawn(const QImage &image)
{
    const int last = image.width() - 1;
    const bool cornersClear =
        qAlpha(image.pixel(0, 0)) == 0 && qAlpha(image.pixel(last, last)) == 0;
    const bool centreOpaque = qAlpha(image.pixel(image.width() / 2, image.height() / 2)) == 255;
    return cornersClear && centreOpaque;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <theme dir> <icon name> <size>...\n", argv[0]);
        return 2;
    }
    const QDir theme(QString::fromLocal8Bit(argv[1]));
    const QString name = QString::fromLocal8Bit(argv[2]);
    for (int i = 3; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size < 8 || size > 1024) {
            std::fprintf(stderr, "bad icon size: %s\n", argv[i]);
            return 2;
        }
        const QImage image = kc::appIconImage(size);
        if (image.size() != QSize(size, size) || !looksDrawn(image)) {
            std::fprintf(stderr, "the %d px icon came out blank or misshapen\n", size);
            return 1;
        }
        const QString dir = QStringLiteral("%1x%1/apps").arg(size);
        const QString path = theme.filePath(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
        if (!theme.mkpath(dir) || !image.save(path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
