// tessera-icon-render SVG SIZE PNG: renders the application icon at one size for the
// icon theme's fixed-size folders, at build time.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char *argv[])
{
    // Nothing is shown: rendering needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList arguments = QGuiApplication::arguments();
    bool ok = false;
    const int size = arguments.value(2).toInt(&ok);
    if (arguments.size() != 4 || !ok || size <= 0) {
        std::fprintf(stderr, "usage: tessera-icon-render SVG SIZE PNG\n");
        return 2;
    }
    QSvgRenderer renderer(arguments.at(1));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "tessera-icon-render: cannot read %s\n", qPrintable(arguments.at(1)));
        return 1;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, size, size));
    painter.end();
    if (!image.save(arguments.at(3), "PNG")) {
        std::fprintf(stderr, "tessera-icon-render: cannot write %s\n", qPrintable(arguments.at(3)));
        return 1;
    }
    return 0;
}
