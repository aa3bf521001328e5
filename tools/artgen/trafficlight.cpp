#include "trafficlight.h"

#include "raster.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace artgen {

namespace {

constexpr int kScale = 4;
constexpr double kPi = 3.14159265358979323846;
constexpr double kCentreX = 122.5; // middle of the 245 columns the console shows

constexpr QRgb kWhite = qRgb(255, 255, 255);
constexpr QRgb kLight = qRgb(204, 204, 204);
constexpr QRgb kMid = qRgb(153, 153, 153);
constexpr QRgb kDark = qRgb(102, 102, 102);
constexpr QRgb kDeep = qRgb(51, 51, 51);
constexpr QRgb kBlack = qRgb(0, 0, 0);

struct LampLook {
    Lamp lamp;
    double centreY;
    QRgb off; // dark tinted glass
    QRgb on;  // the lit colour
};

constexpr LampLook kLamps[] = {
    {Lamp::Red, 72.0, qRgb(102, 0, 0), qRgb(255, 38, 24)},
    {Lamp::Amber, 164.0, qRgb(102, 51, 0), qRgb(255, 168, 0)},
    {Lamp::Green, 256.0, qRgb(0, 51, 0), qRgb(0, 222, 110)},
};

int cubeIndex(QRgb colour) {
    return qRed(colour) / 51 + 6 * (qGreen(colour) / 51) + 36 * (qBlue(colour) / 51);
}

void fill(QPainter& p, const QPainterPath& path, QRgb colour, double outline) {
    p.setBrush(QColor(colour));
    if (outline > 0)
        p.setPen(QPen(QColor(kBlack), outline, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    else
        p.setPen(Qt::NoPen);
    p.drawPath(path);
}

QPainterPath rect(double x, double y, double w, double h, double radius = 0) {
    QPainterPath path;
    if (radius > 0)
        path.addRoundedRect(QRectF(x, y, w, h), radius, radius);
    else
        path.addRect(QRectF(x, y, w, h));
    return path;
}

QPainterPath ellipse(QPointF centre, double rx, double ry) {
    QPainterPath path;
    path.addEllipse(centre, rx, ry);
    return path;
}

QPainterPath polygon(std::initializer_list<QPointF> points) {
    QPainterPath path;
    path.addPolygon(QPolygonF(QVector<QPointF>(points)));
    path.closeSubpath();
    return path;
}

// A cylinder-like part: base colour with a highlight band on the left and a shadow
// band on the right, then the outline on top.
void shadedBar(QPainter& p, const QRectF& r, double outline) {
    fill(p, rect(r.x(), r.y(), r.width(), r.height()), kMid, 0);
    const double band = r.width() / 4;
    fill(p, rect(r.x() + band * 0.6, r.y(), band, r.height()), kLight, 0);
    fill(p, rect(r.right() - band * 1.2, r.y(), band * 1.2, r.height()), kDark, 0);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(kBlack), outline, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.drawRect(r);
}

void bolt(QPainter& p, QPointF centre, double rx, double ry) {
    fill(p, ellipse(centre, rx, ry), kMid, 1.0);
}

void drawBase(QPainter& p) {
    const double cx = kCentreX;
    fill(p, ellipse(QPointF(cx, 502), 106, 9), kLight, 0); // shadow on the table
    fill(p, polygon({{cx - 78, 470}, {cx + 78, 470}, {cx + 96, 486}, {cx - 96, 486}}), kLight, 2.0);
    fill(p, rect(cx - 96, 486, 192, 14), kMid, 2.0);
    p.setPen(QPen(QColor(kBlack), 2.0));
    p.drawLine(QPointF(cx - 96, 500), QPointF(cx + 96, 500));
    p.drawLine(QPointF(cx + 96, 486), QPointF(cx + 96, 500));
    for (double side : {-1.0, 1.0})
        bolt(p, QPointF(cx + side * 68, 478), 4.5, 2.5);
}

void drawPost(QPainter& p) {
    const double cx = kCentreX;
    shadedBar(p, QRectF(cx - 11, 318, 22, 142), 2.0);
    // Foot flange where the post meets the plate.
    fill(p, polygon({{cx - 13, 456}, {cx + 13, 456}, {cx + 25, 480}, {cx - 25, 480}}), kMid, 2.0);
    fill(p, polygon({{cx - 8, 458}, {cx - 4, 458}, {cx - 9, 478}, {cx - 17, 478}}), kLight, 0);
    fill(p, polygon({{cx + 7, 458}, {cx + 11, 458}, {cx + 22, 478}, {cx + 14, 478}}), kDark, 0);
    // Clamp that holds the housing.
    shadedBar(p, QRectF(cx - 19, 306, 38, 20), 2.0);
    for (double side : {-1.0, 1.0})
        bolt(p, QPointF(cx + side * 12, 316), 2.5, 2.5);
}

void drawHousing(QPainter& p) {
    const double cx = kCentreX;
    fill(p, rect(cx - 72, 12, 144, 302, 16), kLight, 2.0); // back plate
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(kMid), 1.5));
    p.drawRoundedRect(QRectF(cx - 66, 18, 132, 290), 11, 11);
    for (double x : {cx - 62, cx + 62})
        for (double y : {24.0, 302.0})
            bolt(p, QPointF(x, y), 3.5, 3.5);

    fill(p, rect(cx - 54, 26, 108, 276, 10), kDark, 2.0);
    fill(p, rect(cx - 49, 31, 7, 266, 3), kMid, 0);
    fill(p, rect(cx + 42, 31, 7, 266, 3), kDeep, 0);
    // Seams between the three lamp sections.
    p.setPen(QPen(QColor(kBlack), 1.5));
    for (double y : {118.0, 210.0})
        p.drawLine(QPointF(cx - 53, y), QPointF(cx + 53, y));
}

// The hood over a lamp: a half ring around its upper side.
QPainterPath visor(QPointF centre) {
    const double outer = kLensRadius + 13;
    const double inner = kLensRadius + 4;
    QPainterPath path;
    const QRectF outerBox(centre.x() - outer, centre.y() - outer, 2 * outer, 2 * outer);
    const QRectF innerBox(centre.x() - inner, centre.y() - inner, 2 * inner, 2 * inner);
    path.arcMoveTo(outerBox, -14);
    path.arcTo(outerBox, -14, 208);
    path.arcTo(innerBox, 194, -208);
    path.closeSubpath();
    return path;
}

void drawDarkLamp(QPainter& p, const LampLook& look) {
    const QPointF c(kCentreX, look.centreY);
    fill(p, ellipse(c, kLensRadius + 5, kLensRadius + 5), kMid, 1.5);
    fill(p, ellipse(c, kLensRadius, kLensRadius), look.off, 1.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(kBlack), 1.0));
    p.drawEllipse(c, kLensRadius * 0.62, kLensRadius * 0.62);
    // Reflection of the room on the glass.
    p.save();
    p.translate(c + QPointF(-kLensRadius * 0.38, -kLensRadius * 0.4));
    p.rotate(-40);
    fill(p, ellipse(QPointF(0, 0), kLensRadius * 0.3, kLensRadius * 0.16), kMid, 0);
    p.restore();
    fill(p, visor(c), kDeep, 1.5);
}

QRgb mix(QRgb a, QRgb b, double t) {
    auto channel = [t](int x, int y) {
        return static_cast<int>(std::lround(x + (y - x) * std::clamp(t, 0.0, 1.0)));
    };
    return qRgb(channel(qRed(a), qRed(b)), channel(qGreen(a), qGreen(b)),
                channel(qBlue(a), qBlue(b)));
}

// Paints a lit lens pixel by pixel on the large image: bright centre fading to the
// full colour at the rim, a soft reflection, and a glow spilling onto the bezel and
// hood around it.
void lightLamp(QImage& large, const LampLook& look) {
    const double glow = 14.0;
    const QRgb centre = mix(look.on, kWhite, 0.6);
    const QRgb rim = mix(look.on, kBlack, 0.18);
    const double reach = kLensRadius + glow;
    const int top = static_cast<int>((look.centreY - reach) * kScale);
    const int bottom = static_cast<int>(std::ceil((look.centreY + reach) * kScale));
    const int left = static_cast<int>((kCentreX - reach) * kScale);
    const int right = static_cast<int>(std::ceil((kCentreX + reach) * kScale));
    const double cosA = std::cos(-40.0 * kPi / 180), sinA = std::sin(-40.0 * kPi / 180);
    for (int y = top; y < bottom; ++y) {
        auto* row = reinterpret_cast<QRgb*>(large.scanLine(y));
        for (int x = left; x < right; ++x) {
            const double dx = (x + 0.5) / kScale - kCentreX;
            const double dy = (y + 0.5) / kScale - look.centreY;
            const double d = std::hypot(dx, dy);
            if (d <= kLensRadius) {
                const double t = d / kLensRadius;
                QRgb colour =
                    t < 0.7 ? mix(centre, look.on, t / 0.7) : mix(look.on, rim, (t - 0.7) / 0.3);
                // Reflection: an ellipse up and to the left, turned by 40 degrees.
                const double gx = dx + kLensRadius * 0.38, gy = dy + kLensRadius * 0.4;
                const double u = (gx * cosA + gy * sinA) / (kLensRadius * 0.3);
                const double v = (-gx * sinA + gy * cosA) / (kLensRadius * 0.16);
                const double q = u * u + v * v;
                if (q < 1)
                    colour = mix(colour, kWhite, 0.8 * (1 - q));
                row[x] = colour;
            } else if (d < reach) {
                const double fade = 1 - (d - kLensRadius) / glow;
                row[x] = mix(row[x], look.on, 0.7 * fade * fade);
            }
        }
    }
}

} // namespace

QPointF lampCentre(Lamp lamp) {
    for (const LampLook& look : kLamps)
        if (look.lamp == lamp)
            return QPointF(kCentreX, look.centreY);
    return QPointF();
}

QImage drawTrafficLight(Lamp lit) {
    QImage large(kPictureWidth * kScale, kPictureHeight * kScale, QImage::Format_RGB32);
    large.fill(kWhite);
    {
        QPainter p(&large);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.scale(kScale, kScale);
        drawBase(p);
        drawPost(p);
        drawHousing(p);
        for (const LampLook& look : kLamps)
            drawDarkLamp(p, look);
    }
    for (const LampLook& look : kLamps)
        if (look.lamp == lit)
            lightLamp(large, look);
    return reduce(large, kScale);
}

std::vector<int> modelColours() {
    std::vector<int> indices;
    for (QRgb grey : {kWhite, kLight, kMid, kDark, kDeep, kBlack})
        indices.push_back(cubeIndex(grey));
    for (const LampLook& look : kLamps)
        indices.push_back(cubeIndex(look.off));
    return indices;
}

IndexedImage toModelColours(const QImage& picture) {
    IndexedImage image;
    image.width = picture.width();
    image.height = picture.height();
    image.palette = cubePalette();
    const std::vector<int> allowed = modelColours();
    image.pixels.reserve(static_cast<size_t>(image.width) * image.height);
    for (int y = 0; y < image.height; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        for (int x = 0; x < image.width; ++x)
            image.pixels.push_back(
                static_cast<uint8_t>(nearestEntry(row[x], image.palette, allowed)));
    }
    return image;
}

} // namespace artgen
