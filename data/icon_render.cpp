// Build tool: renders the program icon (.ico) as the PNG files of an icon theme, one per size,
// at <output folder>/<size>x<size>/apps/<name>.png.
// Usage: icon_render <input.ico> <output folder> <name> <size>...
// The icon is pixel art: nearest-neighbour scaling keeps its edges hard at every size.
// Exit status 0 when every file was written, 1 when the icon could not be read or a file not
// written, 2 on a usage error.

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QString>

#include <cstdio>

namespace {

// The largest image the file holds: an .ico may carry several sizes, and scaling from the
// largest loses the least.
QImage largestImage(const QString& path)
{
    QImageReader reader(path);
    QImage best;
    const int count = reader.imageCount() > 0 ? reader.imageCount() : 1;
    for (int i = 0; i < count; ++i) {
        if (i > 0 && !reader.jumpToImage(i))
            break;
        const QImage image = reader.read();
        if (!image.isNull() && image.width() * image.height() > best.width() * best.height())
            best = image;
    }
    return best;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s <input.ico> <output folder> <name> <size>...\n", argv[0]);
        return 2;
    }
    const QString input = QString::fromLocal8Bit(argv[1]);
    const QString output = QString::fromLocal8Bit(argv[2]);
    const QString name = QString::fromLocal8Bit(argv[3]);

    const QImage source = largestImage(input);
    if (source.isNull()) {
        std::fprintf(stderr, "icon_render: cannot read an image from %s\n", argv[1]);
        return 1;
    }
    for (int i = 4; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLatin1(argv[i]).toInt(&ok);
        if (!ok || size < 1 || size > 1024) {
            std::fprintf(stderr, "icon_render: not a size from 1 to 1024: %s\n", argv[i]);
            return 2;
        }
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(output).arg(size);
        const QString file = QStringLiteral("%1/%2.png").arg(folder, name);
        const QImage scaled = source.convertToFormat(QImage::Format_ARGB32)
                                  .scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        if (!QDir().mkpath(folder) || !scaled.save(file, "PNG")) {
            std::fprintf(stderr, "icon_render: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
