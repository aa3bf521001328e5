#include "artwork.h"

#include "appicon.h"
#include "gifwriter.h"
#include "trafficlight.h"

#include <QDir>
#include <QFile>
#include <QImageWriter>

namespace artgen {

namespace {

// JPEG quality of the lit pictures: the console reads them many times a second,
// so they are kept small while the lamp colours stay clean.
constexpr int kJpegQuality = 85;

QString save(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size() || !file.flush())
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return {};
}

QString saveJpeg(const QString& path, const QImage& picture) {
    QImageWriter writer(path, "jpeg");
    writer.setQuality(kJpegQuality);
    writer.setOptimizedWrite(true);
    if (!writer.write(picture.convertToFormat(QImage::Format_RGB888)))
        return QStringLiteral("cannot write %1: %2").arg(path, writer.errorString());
    return {};
}

} // namespace

QString writeArtwork(const QString& root) {
    const QDir dir(root);
    for (const char* sub : {"assets", "pictures"})
        if (!dir.mkpath(QString::fromLatin1(sub)))
            return QStringLiteral("cannot create %1").arg(dir.filePath(QString::fromLatin1(sub)));

    const QByteArray dark = encodeGif(toModelColours(drawTrafficLight(Lamp::None)));
    struct Output {
        const char* path;
        Lamp lamp;
    };
    const Output lit[] = {{"pictures/verde.jpg", Lamp::Green},
                          {"pictures/amarillo.jpg", Lamp::Amber},
                          {"pictures/rojo.jpg", Lamp::Red}};

    QString error = save(dir.filePath(QStringLiteral("assets/velantro.gif")), dark);
    if (error.isEmpty())
        error =
            save(dir.filePath(QStringLiteral("assets/velantro.ico")), encodeIco(applicationIcon()));
    if (error.isEmpty())
        error = save(dir.filePath(QStringLiteral("pictures/velantro.gif")), dark);
    for (const Output& out : lit)
        if (error.isEmpty())
            error =
                saveJpeg(dir.filePath(QString::fromLatin1(out.path)), drawTrafficLight(out.lamp));
    return error;
}

} // namespace artgen
