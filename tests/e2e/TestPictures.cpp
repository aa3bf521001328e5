#include "TestPictures.h"

#include "ConsoleWindow.h"
#include "gifwriter.h"

#include <QBuffer>
#include <QImageWriter>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace e2e {

namespace {

// Markers sit on 16-pixel blocks, where JPEG keeps their edges sharp, and
// differ from their background in brightness as much as in colour.
const std::vector<TestPicture> Pictures = {
    {"verde.jpg", {96, 160}, qRgb(0, 170, 0), qRgb(0, 0, 0), {64, 128, 16, 16}},
    {"amarillo.jpg", {176, 112}, qRgb(240, 200, 0), qRgb(0, 0, 220), {144, 80, 16, 16}},
    {"rojo.jpg", {320, 640}, qRgb(210, 0, 0), qRgb(255, 255, 255), {224, 496, 16, 16}},
    {"velantro.gif", {128, 96}, qRgb(0, 0, 200), qRgb(255, 255, 0), {96, 64, 16, 16}},
};

const std::vector<TestPicture> Big = {
    {"rojo.jpg", {4000, 3000}, qRgb(210, 0, 0), qRgb(255, 255, 255), {224, 496, 16, 16}, true},
    {"velantro.gif", {2000, 2000}, qRgb(0, 0, 200), qRgb(255, 255, 0), {96, 64, 16, 16}},
};

QRgb ColourAt(const TestPicture& picture, int x, int y) {
    return picture.markerRect.contains(x, y) ? picture.marker : picture.background;
}

// JPEG moves colours a little, and never this far.
bool Near(QRgb a, QRgb b) {
    constexpr int Tolerance = 40;
    return std::abs(qRed(a) - qRed(b)) <= Tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= Tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= Tolerance;
}

// Brightness alone: JPEG keeps it sharp at the edges of 8 x 8 blocks, while
// it smears colour over neighbouring pixels there.
bool NearInBrightness(QRgb a, QRgb b) {
    const auto luma = [](QRgb c) { return 0.299 * qRed(c) + 0.587 * qGreen(c) + 0.114 * qBlue(c); };
    return std::abs(luma(a) - luma(b)) <= 20;
}

} // namespace

const std::vector<TestPicture>& LampPictures() {
    return Pictures;
}

const std::vector<TestPicture>& BigPictures() {
    return Big;
}

QByteArray Encode(const TestPicture& picture) {
    const int width = picture.size.width();
    const int height = picture.size.height();
    if (QByteArray(picture.file).endsWith(".gif")) {
        // Two colours: index 0 the background, 1 the marker.
        artgen::IndexedImage image;
        image.width = width;
        image.height = height;
        image.palette = {picture.background, picture.marker};
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                image.pixels.push_back(ColourAt(picture, x, y) == picture.background ? 0 : 1);
            }
        }
        return artgen::EncodeGif(image);
    }
    QImage image(picture.size, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y, ColourAt(picture, x, y));
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "JPEG");
    writer.setQuality(95);
    writer.setProgressiveScanWrite(picture.progressive);
    if (!writer.write(image)) {
        throw std::runtime_error("Qt cannot write JPEG here");
    }
    return bytes;
}

std::string PictureMismatch(const QImage& shot, const TestPicture& picture) {
    std::string mismatches;
    const auto report = [&](QPoint at, const char* what) {
        mismatches += std::string(" ") + what + " at (" + std::to_string(at.x()) + "," +
                      std::to_string(at.y()) + ") is #" +
                      QString::number(shot.pixel(at) & 0xFFFFFF, 16).toStdString() + ";";
    };
    const auto expectColour = [&](QPoint at, QRgb colour, const char* what) {
        if (!Near(shot.pixel(at), colour)) {
            report(at, what);
        }
    };
    const auto expectBrightness = [&](QPoint at, QRgb colour, const char* what) {
        if (!NearInBrightness(shot.pixel(at), colour)) {
            report(at, what);
        }
    };
    // Outside the picture nothing of any test picture may show: neither this
    // one scaled or unclipped, nor one shown before it.
    const auto expectNoPicture = [&](QPoint at, const char* what) {
        for (const TestPicture& any : Pictures) {
            if (Near(shot.pixel(at), any.background)) {
                report(at, what);
                return;
            }
        }
    };
    const QRect area = testsupport::controls::PictureArea;
    const QPoint origin = area.topLeft();
    const QRect shown = QRect(origin, picture.size).intersected(area);
    const QRect marker = picture.markerRect.translated(origin);

    expectColour(shown.topLeft() + QPoint(3, 3), picture.background, "top-left");
    expectColour(shown.bottomRight() - QPoint(3, 3), picture.background, "bottom-right");
    expectColour(marker.center(), picture.marker, "marker");
    // The marker's corner pixels and their outer neighbours pin the picture's
    // place and scale to the pixel.
    expectBrightness(marker.topLeft(), picture.marker, "marker's top-left");
    expectBrightness(marker.bottomRight(), picture.marker, "marker's bottom-right");
    expectBrightness(marker.topLeft() - QPoint(1, 0), picture.background, "left of marker");
    expectBrightness(marker.topLeft() - QPoint(0, 1), picture.background, "above marker");
    expectBrightness(marker.bottomRight() + QPoint(1, 0), picture.background, "right of marker");
    expectBrightness(marker.bottomRight() + QPoint(0, 1), picture.background, "below marker");
    if (picture.size.width() < area.width()) {
        expectNoPicture(origin + QPoint(picture.size.width() + 3, 3), "right of picture");
    }
    if (picture.size.height() < area.height()) {
        expectNoPicture(origin + QPoint(3, picture.size.height() + 3), "below picture");
    }
    // The box's border and what lies beyond the box.
    const QRect box = testsupport::controls::Picture;
    for (int x : {box.left(), box.left() + 1, box.right() - 1, box.right(), box.right() + 2}) {
        expectNoPicture(QPoint(x, 100), "border column");
    }
    for (int y : {box.top(), box.top() + 1, box.bottom() - 1, box.bottom(), box.bottom() + 2}) {
        expectNoPicture(QPoint(100, y), "border row");
    }
    return mismatches;
}

// What is wrong with the shot when it should show the named file; with no
// file, it must show none of the test pictures.
std::string ShownDifference(const QImage& shot, const char* file) {
    if (shot.isNull()) {
        return "no screenshot";
    }
    for (const TestPicture& picture : LampPictures()) {
        const bool wanted = file != nullptr && std::strcmp(picture.file, file) == 0;
        const std::string mismatch = PictureMismatch(shot, picture);
        if (wanted) {
            return mismatch.empty() ? "" : std::string(file) + ":" + mismatch;
        }
        if (file == nullptr && mismatch.empty()) {
            return std::string("shows ") + picture.file;
        }
    }
    return file == nullptr ? "" : std::string("no test picture is called ") + file;
}

} // namespace e2e
