// Build-time tool: draws the brand art's vector source into a PNG of the given pixel size.
#include <cstdio>
#include <cstdlib>

#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: orvek-rasterize-art SOURCE.svg OUT.png SIZE\n");
        return 2;
    }
    const int size = std::atoi(argv[3]);
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid() || size <= 0) {
        std::fprintf(stderr, "orvek-rasterize-art: cannot read %s\n", argv[1]);
        return 1;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
    }
    if (!image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "orvek-rasterize-art: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
