// Renders an SVG icon to square PNGs, for the hicolor theme and the window
// icons, at build time, so that no rendered image has to be kept in the
// repository.
//   rendericon <input.svg> <output-root> <name> <size>...
// writes <output-root>/<size>x<size>/apps/<name>.png for every size.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Only images are drawn: no display is needed, wherever the build runs.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 5) {
        std::fprintf(stderr, "usage: rendericon <input.svg> <output-root> <name> <size>...\n");
        return 2;
    }

    QSvgRenderer renderer(arguments.at(1));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "rendericon: cannot read %s\n", qPrintable(arguments.at(1)));
        return 1;
    }
    for (qsizetype i = 4; i < arguments.size(); ++i) {
        bool ok = false;
        const int size = arguments.at(i).toInt(&ok);
        if (!ok || size <= 0 || size > 4096) {
            std::fprintf(stderr, "rendericon: bad size %s\n", qPrintable(arguments.at(i)));
            return 2;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        // Keep the drawing's proportions, centred, whatever its view box.
        QSizeF drawn = renderer.defaultSize().toSizeF();
        drawn.scale(size, size, Qt::KeepAspectRatio);
        renderer.render(&painter, QRectF((size - drawn.width()) / 2, (size - drawn.height()) / 2,
                                         drawn.width(), drawn.height()));
        painter.end();

        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(arguments.at(2)).arg(size);
        const QString file = folder + QLatin1Char('/') + arguments.at(3) + QStringLiteral(".png");
        if (!QDir().mkpath(folder) || !image.save(file, "PNG")) {
            std::fprintf(stderr, "rendericon: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
