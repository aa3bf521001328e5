#include "trafficlight.h"

#include "raster.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace artgen {

namespace {

constexpr int Scale = 4;
constexpr double Pi = 3.14159265358979323846;
constexpr double CentreX = 122.5; // middle of the 245 columns the console shows

constexpr QRgb White = qRgb(255, 255, 255);
constexpr QRgb Light = qRgb(204, 204, 204);
constexpr QRgb Mid = qRgb(153, 153, 153);
constexpr QRgb Dark = qRgb(102, 102, 102);
constexpr QRgb Deep = qRgb(51, 51, 51);
constexpr QRgb Black = qRgb(0, 0, 0);

struct LampLook {
    Lamp lamp;
    double centreY;
    QRgb off; // dark tinted glass
    QRgb on;  // the lit colour
};

constexpr LampLook Lamps[] = {
    {Lamp::Red, 72.0, qRgb(102, 0, 0), qRgb(255, 38, 24)},
    {Lamp::Amber, 164.0, qRgb(102, 51, 0), qRgb(255, 168, 0)},
    {Lamp::Green, 256.0, qRgb(0, 51, 0), qRgb(0, 222, 110)},
};

int CubeIndex(QRgb colour) {
    return qRed(colour) / 51 + 6 * (qGreen(colour) / 51) + 36 * (qBlue(colour) / 51);
}

void Fill(QPainter& p, const QPainterPath& path, QRgb colour, double outline) {
    p.setBrush(QColor(colour));
    if (outline > 0) {
        p.setPen(QPen(QColor(Black), outline, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    } else {
        p.setPen(Qt::NoPen);
    }
    p.drawPath(path);
}

QPainterPath Rect(double x, double y, double w, double h, double radius = 0) {
    QPainterPath path;
    if (radius > 0) {
        path.addRoundedRect(QRectF(x, y, w, h), radius, radius);
    } else {
        path.addRect(QRectF(x, y, w, h));
    }
    return path;
}

QPainterPath Ellipse(QPointF centre, double rx, double ry) {
    QPainterPath path;
    path.addEllipse(centre, rx, ry);
    return path;
}

QPainterPath Polygon(std::initializer_list<QPointF> points) {
    QPainterPath path;
    path.addPolygon(QPolygonF(QVector<QPointF>(points)));
    path.closeSubpath();
    return path;
}

// A cylinder-like part: base colour with a highlight band on the left and a shadow
// band on the right, then the outline on top.
void ShadedBar(QPainter& p, const QRectF& r, double outline) {
    Fill(p, Rect(r.x(), r.y(), r.width(), r.height()), Mid, 0);
    const double band = r.width() / 4;
    Fill(p, Rect(r.x() + band * 0.6, r.y(), band, r.height()), Light, 0);
    Fill(p, Rect(r.right() - band * 1.2, r.y(), band * 1.2, r.height()), Dark, 0);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(Black), outline, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.drawRect(r);
}

void Bolt(QPainter& p, QPointF centre, double rx, double ry) {
    Fill(p, Ellipse(centre, rx, ry), Mid, 1.0);
}

void DrawBase(QPainter& p) {
    const double cx = CentreX;
    Fill(p, Ellipse(QPointF(cx, 502), 106, 9), Light, 0); // shadow on the table
    Fill(p, Polygon({{cx - 78, 470}, {cx + 78, 470}, {cx + 96, 486}, {cx - 96, 486}}), Light, 2.0);
    Fill(p, Rect(cx - 96, 486, 192, 14), Mid, 2.0);
    p.setPen(QPen(QColor(Black), 2.0));
    p.drawLine(QPointF(cx - 96, 500), QPointF(cx + 96, 500));
    p.drawLine(QPointF(cx + 96, 486), QPointF(cx + 96, 500));
    for (double side : {-1.0, 1.0}) {
        Bolt(p, QPointF(cx + side * 68, 478), 4.5, 2.5);
    }
}

void DrawPost(QPainter& p) {
    const double cx = CentreX;
    ShadedBar(p, QRectF(cx - 11, 318, 22, 142), 2.0);
    // Foot flange where the post meets the plate.
    Fill(p, Polygon({{cx - 13, 456}, {cx + 13, 456}, {cx + 25, 480}, {cx - 25, 480}}), Mid, 2.0);
    Fill(p, Polygon({{cx - 8, 458}, {cx - 4, 458}, {cx - 9, 478}, {cx - 17, 478}}), Light, 0);
    Fill(p, Polygon({{cx + 7, 458}, {cx + 11, 458}, {cx + 22, 478}, {cx + 14, 478}}), Dark, 0);
    // Clamp that holds the housing.
    ShadedBar(p, QRectF(cx - 19, 306, 38, 20), 2.0);
    for (double side : {-1.0, 1.0}) {
        Bolt(p, QPointF(cx + side * 12, 316), 2.5, 2.5);
    }
}

void DrawHousing(QPainter& p) {
    const double cx = CentreX;
    Fill(p, Rect(cx - 72, 12, 144, 302, 16), Light, 2.0); // back plate
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(Mid), 1.5));
    p.drawRoundedRect(QRectF(cx - 66, 18, 132, 290), 11, 11);
    for (double x : {cx - 62, cx + 62}) {
        for (double y : {24.0, 302.0}) {
            Bolt(p, QPointF(x, y), 3.5, 3.5);
        }
    }

    Fill(p, Rect(cx - 54, 26, 108, 276, 10), Dark, 2.0);
    Fill(p, Rect(cx - 49, 31, 7, 266, 3), Mid, 0);
    Fill(p, Rect(cx + 42, 31, 7, 266, 3), Deep, 0);
    // Seams between the three lamp sections.
    p.setPen(QPen(QColor(Black), 1.5));
    for (double y : {118.0, 210.0}) {
        p.drawLine(QPointF(cx - 53, y), QPointF(cx + 53, y));
    }
}

// The hood over a lamp: a half ring around its upper side.
QPainterPath Visor(QPointF centre) {
    const double outer = LensRadius + 13;
    const double inner = LensRadius + 4;
    QPainterPath path;
    const QRectF outerBox(centre.x() - outer, centre.y() - outer, 2 * outer, 2 * outer);
    const QRectF innerBox(centre.x() - inner, centre.y() - inner, 2 * inner, 2 * inner);
    path.arcMoveTo(outerBox, -14);
    path.arcTo(outerBox, -14, 208);
    path.arcTo(innerBox, 194, -208);
    path.closeSubpath();
    return path;
}

void DrawDarkLamp(QPainter& p, const LampLook& look) {
    const QPointF c(CentreX, look.centreY);
    Fill(p, Ellipse(c, LensRadius + 5, LensRadius + 5), Mid, 1.5);
    Fill(p, Ellipse(c, LensRadius, LensRadius), look.off, 1.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(Black), 1.0));
    p.drawEllipse(c, LensRadius * 0.62, LensRadius * 0.62);
    // Reflection of the room on the glass.
    p.save();
    p.translate(c + QPointF(-LensRadius * 0.38, -LensRadius * 0.4));
    p.rotate(-40);
    Fill(p, Ellipse(QPointF(0, 0), LensRadius * 0.3, LensRadius * 0.16), Mid, 0);
    p.restore();
    Fill(p, Visor(c), Deep, 1.5);
}

QRgb Mix(QRgb a, QRgb b, double t) {
    auto channel = [t](int x, int y) {
        return static_cast<int>(std::lround(x + (y - x) * std::clamp(t, 0.0, 1.0)));
    };
    return qRgb(channel(qRed(a), qRed(b)), channel(qGreen(a), qGreen(b)),
                channel(qBlue(a), qBlue(b)));
}

// Paints a lit lens pixel by pixel on the large image: bright centre fading to the
// full colour at the rim, a soft reflection, and a glow spilling onto the bezel and
// hood around it.
void LightLamp(QImage& large, const LampLook& look) {
    const double glow = 14.0;
    const QRgb centre = Mix(look.on, White, 0.6);
    const QRgb rim = Mix(look.on, Black, 0.18);
    const double reach = LensRadius + glow;
    const int top = static_cast<int>((look.centreY - reach) * Scale);
    const int bottom = static_cast<int>(std::ceil((look.centreY + reach) * Scale));
    const int left = static_cast<int>((CentreX - reach) * Scale);
    const int right = static_cast<int>(std::ceil((CentreX + reach) * Scale));
    const double cosA = std::cos(-40.0 * Pi / 180), sinA = std::sin(-40.0 * Pi / 180);
    for (int y = top; y < bottom; ++y) {
        auto* row = reinterpret_cast<QRgb*>(large.scanLine(y));
        for (int x = left; x < right; ++x) {
            const double dx = (x + 0.5) / Scale - CentreX;
            const double dy = (y + 0.5) / Scale - look.centreY;
            const double d = std::hypot(dx, dy);
            if (d <= LensRadius) {
                const double t = d / LensRadius;
                QRgb colour =
                    t < 0.7 ? Mix(centre, look.on, t / 0.7) : Mix(look.on, rim, (t - 0.7) / 0.3);
                // Reflection: an ellipse up and to the left, turned by 40 degrees.
                const double gx = dx + LensRadius * 0.38, gy = dy + LensRadius * 0.4;
                const double u = (gx * cosA + gy * sinA) / (LensRadius * 0.3);
                const double v = (-gx * sinA + gy * cosA) / (LensRadius * 0.16);
                const double q = u * u + v * v;
                if (q < 1) {
                    colour = Mix(colour, White, 0.8 * (1 - q));
                }
                row[x] = colour;
            } else if (d < reach) {
                const double fade = 1 - (d - LensRadius) / glow;
                row[x] = Mix(row[x], look.on, 0.7 * fade * fade);
            }
        }
    }
}

} // namespace

QPointF LampCentre(Lamp lamp) {
    for (const LampLook& look : Lamps) {
        if (look.lamp == lamp) {
            return QPointF(CentreX, look.centreY);
        }
    }
    return QPointF();
}

QImage DrawTrafficLight(Lamp lit) {
    QImage large(PictureWidth * Scale, PictureHeight * Scale, QImage::Format_RGB32);
    large.fill(White);
    {
        QPainter p(&large);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.scale(Scale, Scale);
        DrawBase(p);
        DrawPost(p);
        DrawHousing(p);
        for (const LampLook& look : Lamps) {
            DrawDarkLamp(p, look);
        }
    }
    for (const LampLook& look : Lamps) {
        if (look.lamp == lit) {
            LightLamp(large, look);
        }
    }
    return Reduce(large, Scale);
}

std::vector<int> ModelColours() {
    std::vector<int> indices;
    for (QRgb grey : {White, Light, Mid, Dark, Deep, Black}) {
        indices.push_back(CubeIndex(grey));
    }
    for (const LampLook& look : Lamps) {
        indices.push_back(CubeIndex(look.off));
    }
    return indices;
}

IndexedImage ToModelColours(const QImage& picture) {
    IndexedImage image;
    image.width = picture.width();
    image.height = picture.height();
    image.palette = CubePalette();
    const std::vector<int> allowed = ModelColours();
    image.pixels.reserve(static_cast<size_t>(image.width) * image.height);
    for (int y = 0; y < image.height; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        for (int x = 0; x < image.width; ++x) {
            image.pixels.push_back(
                static_cast<uint8_t>(NearestEntry(row[x], image.palette, allowed)));
        }
    }
    return image;
}

} // namespace artgen
