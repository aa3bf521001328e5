#include "artwork.h"

#include "appicon.h"
#include "gifwriter.h"
#include "trafficlight.h"
#include "wiring.h"

#include <QDir>
#include <QFile>
#include <QImageWriter>

#include <utility>

namespace artgen {

namespace {

// JPEG quality of the lit pictures: the console reads them many times a second,
// so they are kept small while the lamp colours stay clean.
constexpr int JpegQuality = 85;

QString Save(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size() || !file.flush()) {
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    }
    return {};
}

QString SaveJpeg(const QString& path, const QImage& picture) {
    QImageWriter writer(path, "jpeg");
    writer.setQuality(JpegQuality);
    writer.setOptimizedWrite(true);
    if (!writer.write(picture.convertToFormat(QImage::Format_RGB888))) {
        return QStringLiteral("cannot write %1: %2").arg(path, writer.errorString());
    }
    return {};
}

QString SavePng(const QString& path, const QImage& image) {
    QImageWriter writer(path, "png");
    if (!writer.write(image)) {
        return QStringLiteral("cannot write %1: %2").arg(path, writer.errorString());
    }
    return {};
}

// One 16-colour image of the icon as a PNG, for desktops that look icons up
// in the icon theme rather than in the program.
QString SavePng(const QString& path, const IconImage& icon) {
    QImage image(icon.width, icon.height, QImage::Format_ARGB32);
    for (int y = 0; y < icon.height; ++y) {
        for (int x = 0; x < icon.width; ++x) {
            const std::size_t i =
                static_cast<std::size_t>(y) * static_cast<std::size_t>(icon.width) +
                static_cast<std::size_t>(x);
            image.setPixel(x, y,
                           icon.transparent[i] ? qRgba(0, 0, 0, 0) : icon.palette[icon.pixels[i]]);
        }
    }
    return SavePng(path, image);
}

// The icon called `name` in every form: assets/NAME.ico for the window,
// NAME-SIZE.png at every size menus, docks and software centres ask for, and
// NAME.svg.
QString WriteIcon(const QDir& dir, const QString& name, IconMark mark) {
    const std::vector<IconImage> icon = ApplicationIcon(mark);
    const QString assets = QStringLiteral("assets/") + name;
    QString error = Save(dir.filePath(assets + QStringLiteral(".ico")), EncodeIco(icon));
    // The icon file holds 32x32 and 16x16 in 16 colours first.
    if (error.isEmpty()) {
        error = SavePng(dir.filePath(assets + QStringLiteral("-32.png")), icon.at(0));
    }
    if (error.isEmpty()) {
        error = SavePng(dir.filePath(assets + QStringLiteral("-16.png")), icon.at(1));
    }
    for (int size : {48, 64, 128, 256}) {
        if (error.isEmpty()) {
            error = SavePng(dir.filePath(assets + QStringLiteral("-%1.png").arg(size)),
                            DrawWindowIcon(size, mark));
        }
    }
    if (error.isEmpty()) {
        error = Save(dir.filePath(assets + QStringLiteral(".svg")), DrawWindowIconSvg(mark));
    }
    return error;
}

} // namespace

QString WriteArtwork(const QString& root) {
    const QDir dir(root);
    for (const char* sub : {"assets", "pictures"}) {
        if (!dir.mkpath(QString::fromLatin1(sub))) {
            return QStringLiteral("cannot create %1").arg(dir.filePath(QString::fromLatin1(sub)));
        }
    }

    const QByteArray dark = EncodeGif(ToModelColours(DrawTrafficLight(Lamp::None)));
    struct Output {
        const char* path;
        Lamp lamp;
    };
    const Output lit[] = {{"pictures/verde.jpg", Lamp::Green},
                          {"pictures/amarillo.jpg", Lamp::Amber},
                          {"pictures/rojo.jpg", Lamp::Red}};

    QString error;
    // The console on the real port, and the simulated one with its mark: each
    // console's own icon, for its window and its desktop entry.
    for (const auto& [name, mark] : {std::pair{"velantro", IconMark::None},
                                     std::pair{"velantro-simulado", IconMark::SimulatedBoard}}) {
        if (error.isEmpty()) {
            error = WriteIcon(dir, QString::fromLatin1(name), mark);
        }
    }
    // The start-up picture is built into the program from this same file.
    if (error.isEmpty()) {
        error = Save(dir.filePath(QStringLiteral("pictures/velantro.gif")), dark);
    }
    for (const Output& out : lit) {
        if (error.isEmpty()) {
            error =
                SaveJpeg(dir.filePath(QString::fromLatin1(out.path)), DrawTrafficLight(out.lamp));
        }
    }
    if (error.isEmpty()) {
        error =
            Save(dir.filePath(QStringLiteral("assets/puente-cableado.svg")), DrawBridgeWiringSvg());
    }
    return error;
}

} // namespace artgen
