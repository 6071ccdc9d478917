// Renders an SVG icon to square images at build time, so that no rendered
// image has to be kept in the repository.
//   rendericon [--raw] <input.svg> <output-root> <name> <size>...
// writes <output-root>/<size>x<size>/apps/<name>.png for every size, for the
// hicolor theme; with --raw, <name>.argb32 instead: the premultiplied pixels
// as QImage holds them, which the program shows without an image decoder.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSvgRenderer>

#include <cstdio>

static bool writeRaw(const QImage &image, const QString &name)
{
    QSaveFile file(name);
    const auto bytes = reinterpret_cast<const char *>(image.constBits());
    return file.open(QIODevice::WriteOnly) &&
           file.write(bytes, image.sizeInBytes()) == image.sizeInBytes() && file.commit();
}

int main(int argc, char *argv[])
{
    // Only images are drawn: no display is needed, wherever the build runs.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    const bool raw = arguments.size() > 1 && arguments.at(1) == QStringLiteral("--raw");
    if (raw)
        arguments.removeAt(1);
    if (arguments.size() < 5) {
        std::fprintf(stderr,
                     "usage: rendericon [--raw] <input.svg> <output-root> <name> <size>...\n");
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
        const QString file = folder + QLatin1Char('/') + arguments.at(3) +
                             (raw ? QStringLiteral(".argb32") : QStringLiteral(".png"));
        if (!QDir().mkpath(folder) || !(raw ? writeRaw(image, file) : image.save(file, "PNG"))) {
            std::fprintf(stderr, "rendericon: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
