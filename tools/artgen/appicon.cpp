#include "appicon.h"

#include "raster.h"

#include <QColor>
#include <QStringList>
#include <QTransform>

#include <algorithm>
#include <stdexcept>

namespace artgen {

namespace {

constexpr QRgb Black = qRgb(0, 0, 0);
constexpr QRgb Grey = qRgb(128, 128, 128);
constexpr QRgb Silver = qRgb(192, 192, 192);
constexpr QRgb Cyan = qRgb(0, 255, 255);
constexpr QRgb White = qRgb(255, 255, 255);
constexpr QRgb BoardGreen = qRgb(0, 128, 0);
constexpr QRgb LampColours[3] = {qRgb(255, 0, 0), qRgb(255, 255, 0), qRgb(0, 255, 0)};

// The simulated board's mark on a 16-unit grid: a square board from (9, 9) to
// (16, 16) with a black edge, and the red, amber and green lamps one above the
// other down its middle column.
constexpr int MarkLeft16 = 9;
constexpr int MarkSide16 = 7;
constexpr int LampColumn16 = 3;          // from the board's left edge
constexpr int LampRows16[3] = {1, 3, 5}; // from the board's top edge

// The sixteen colours of the classic VGA palette, in their usual order.
QVector<QRgb> VgaPalette() {
    return {qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
            qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
            qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
            qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
}

// Corners of the window (top left, top right, bottom right, bottom left) on a 32-pixel
// grid: the left edge is nearer, so it is taller than the right one.
const QPointF Window32[4] = {{3, 4}, {28, 8}, {28, 25}, {3, 28}};
constexpr double TitleBottom = 0.28; // in window units, 0 = top edge, 1 = bottom edge
constexpr double TextLines[] = {0.45, 0.6, 0.75};

// The close box in the title bar, in window units.
constexpr double CloseLeft = 0.80;
constexpr double CloseTop = 0.04;
constexpr double CloseRight = 0.95;
constexpr double CloseBottom = 0.24;
constexpr double TextLeft = 0.12; // where every line of text starts

// Where a line of text ends, in window units: the last line is a short one.
double TextLineEnd(double line) {
    return line < 0.7 ? 0.82 : 0.55;
}

enum class Part { Outside, Title, CloseBox, Body, Text };

// Which part of the window a pixel of the icon shows. Icons are tiny, so every pixel
// is classified at its centre (no blending): the result is crisp pixel art.
class WindowShape {
public:
    explicit WindowShape(int size) : size_(size), line_(std::max(1, size / 32)) {
        const double k = size / 32.0;
        QPolygonF quad;
        for (const QPointF& corner : Window32) {
            quad << corner * k;
        }
        const QPolygonF unit({{0, 0}, {1, 0}, {1, 1}, {0, 1}});
        if (!QTransform::quadToQuad(quad, unit, toWindow_)) {
            throw std::logic_error("window corners do not form a quadrilateral");
        }
    }

    Part At(int x, int y) const {
        const QPointF w = Window(x, y);
        const double u = w.x(), v = w.y();
        if (x < 0 || y < 0 || x >= size_ || y >= size_ || u < 0 || u >= 1 || v < 0 || v >= 1) {
            return Part::Outside;
        }
        const bool detailed = size_ >= 32;
        if (v < TitleBottom) {
            const bool closeBox =
                u >= CloseLeft && u < CloseRight && v >= CloseTop && v < CloseBottom;
            return detailed && closeBox ? Part::CloseBox : Part::Title;
        }
        // Lines of text as thick as the frame: the first rows at or below each line.
        const double above = Window(x, y - line_).y();
        for (double line : TextLines) {
            const double end = TextLineEnd(line);
            if (detailed && u >= TextLeft && u < end && v >= line && above < line) {
                return Part::Text;
            }
        }
        return Part::Body;
    }

    // Thickness of the frame and of every line, in pixels: one pixel up to 32x32,
    // growing with the icon so that a large icon is the same drawing, not a thin one.
    int Line() const { return line_; }

private:
    QPointF Window(int x, int y) const { return toWindow_.map(QPointF(x + 0.5, y + 0.5)); }

    int size_;
    int line_;
    QTransform toWindow_;
};

QRgb PixelColour(const WindowShape& shape, int x, int y, int shadow) {
    const Part part = shape.At(x, y);
    if (part == Part::Outside) {
        return shape.At(x - shadow, y - shadow) == Part::Outside ? 0 : Grey;
    }
    // True when `test` holds for a pixel within a line's thickness up, down, left
    // or right of this one.
    auto any = [&](auto test) {
        for (int d = 1; d <= shape.Line(); ++d) {
            if (test(shape.At(x, y - d)) || test(shape.At(x, y + d)) || test(shape.At(x - d, y)) ||
                test(shape.At(x + d, y))) {
                return true;
            }
        }
        return false;
    };
    if (any([](Part p) { return p == Part::Outside; })) {
        return Black; // frame
    }
    auto isTitle = [](Part p) { return p == Part::Title || p == Part::CloseBox; };
    bool underTitle = false;
    for (int d = 1; d <= shape.Line() && !underTitle; ++d) {
        underTitle = isTitle(shape.At(x, y - d));
    }
    if (!isTitle(part) && underTitle) {
        return Black; // line under the title bar
    }
    if (part == Part::CloseBox && any([](Part p) { return p != Part::CloseBox; })) {
        return Black;
    }
    switch (part) {
    case Part::Title:
        return Cyan;
    case Part::CloseBox:
        return Silver;
    case Part::Text:
        return Grey;
    default:
        return White;
    }
}

// The mark's colour at a pixel of an icon `size` wide, in 16-unit cells; 0
// where the mark leaves the window showing.
QRgb MarkColour(int size, int x, int y) {
    const int cell = std::max(1, size / 16);
    const int cx = x / cell - MarkLeft16;
    const int cy = y / cell - MarkLeft16;
    if (cx < 0 || cy < 0 || cx >= MarkSide16 || cy >= MarkSide16) {
        return 0;
    }
    if (cx == 0 || cy == 0 || cx == MarkSide16 - 1 || cy == MarkSide16 - 1) {
        return Black;
    }
    for (int lamp = 0; lamp < 3; ++lamp) {
        if (cx == LampColumn16 && cy == LampRows16[lamp]) {
            return LampColours[lamp];
        }
    }
    return BoardGreen;
}

} // namespace

QImage DrawWindowIcon(int size, IconMark mark) {
    const WindowShape shape(size);
    const int shadow = size >= 32 ? 2 * shape.Line() : 1;
    QImage icon(size, size, QImage::Format_ARGB32);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const QRgb marked = mark == IconMark::None ? 0 : MarkColour(size, x, y);
            icon.setPixel(x, y, marked != 0 ? marked : PixelColour(shape, x, y, shadow));
        }
    }
    return icon;
}

QByteArray DrawWindowIconSvg(IconMark mark) {
    QPolygonF quad;
    for (const QPointF& corner : Window32) {
        quad << corner;
    }
    QTransform toIcon;
    if (!QTransform::quadToQuad(QPolygonF({{0, 0}, {1, 0}, {1, 1}, {0, 1}}), quad, toIcon)) {
        throw std::logic_error("window corners do not form a quadrilateral");
    }
    // A straight line of the window stays straight in the icon, so every part is
    // a polygon through its corners mapped from window units.
    auto points = [&](const QPolygonF& inWindow, QPointF shift = {}) {
        QStringList list;
        for (const QPointF& p : toIcon.map(inWindow)) {
            list << QStringLiteral("%1,%2")
                        .arg(p.x() + shift.x(), 0, 'f', 2)
                        .arg(p.y() + shift.y(), 0, 'f', 2);
        }
        return list.join(QLatin1Char(' '));
    };
    auto rect = [](double left, double top, double right, double bottom) {
        return QPolygonF({{left, top}, {right, top}, {right, bottom}, {left, bottom}});
    };
    const QPolygonF window = rect(0, 0, 1, 1);
    QString svg = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"32\" "
                                 "height=\"32\" viewBox=\"0 0 32 32\">\n"
                                 "  <g stroke=\"#000000\" stroke-linejoin=\"round\">\n");
    const QString polygon =
        QStringLiteral("    <polygon points=\"%1\" fill=\"%2\" stroke-width=\"%3\"/>\n");
    svg += polygon.arg(points(window, {2, 2}), QStringLiteral("#808080"), QStringLiteral("0"));
    svg += polygon.arg(points(window), QStringLiteral("#ffffff"), QStringLiteral("1"));
    svg += polygon.arg(points(rect(0, 0, 1, TitleBottom)), QStringLiteral("#00ffff"),
                       QStringLiteral("1"));
    svg += polygon.arg(points(rect(CloseLeft, CloseTop, CloseRight, CloseBottom)),
                       QStringLiteral("#c0c0c0"), QStringLiteral("0.75"));
    for (double line : TextLines) {
        const double end = TextLineEnd(line);
        svg += QStringLiteral("    <polyline points=\"%1\" fill=\"none\" stroke=\"#808080\"/>\n")
                   .arg(points(QPolygonF() << QPointF(TextLeft, line) << QPointF(end, line)));
    }
    svg += QStringLiteral("  </g>\n");
    if (mark == IconMark::SimulatedBoard) {
        // On the 32-unit grid every 16-unit cell is two units wide.
        auto colour = [](QRgb rgb) { return QColor(rgb).name(); };
        svg += QStringLiteral("  <rect x=\"%1.5\" y=\"%1.5\" width=\"%2\" height=\"%2\" "
                              "fill=\"%3\" stroke=\"#000000\" stroke-width=\"1.5\"/>\n")
                   .arg(2 * MarkLeft16)
                   .arg(2 * MarkSide16 - 1)
                   .arg(colour(BoardGreen));
        for (int lamp = 0; lamp < 3; ++lamp) {
            svg += QStringLiteral("  <circle cx=\"%1\" cy=\"%2\" r=\"1.2\" fill=\"%3\"/>\n")
                       .arg(2 * (MarkLeft16 + LampColumn16) + 1)
                       .arg(2 * (MarkLeft16 + LampRows16[lamp]) + 1)
                       .arg(colour(LampColours[lamp]));
        }
    }
    svg += QStringLiteral("</svg>\n");
    return svg.toUtf8();
}

std::vector<IconImage> ApplicationIcon(IconMark mark) {
    const QVector<QRgb> vga = VgaPalette();
    std::vector<int> all;
    all.reserve(static_cast<std::size_t>(vga.size()));
    for (int i = 0; i < vga.size(); ++i) {
        all.push_back(i);
    }

    // colourful: 16 colours; otherwise black and white, where only light, neutral
    // pixels stay white so the cyan title bar shows as a black band.
    auto convert = [&](const QImage& picture, bool colourful) {
        IconImage icon;
        icon.width = picture.width();
        icon.height = picture.height();
        icon.bitsPerPixel = colourful ? 4 : 1;
        icon.palette = colourful ? vga : QVector<QRgb>{Black, White};
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                const QRgb pixel = picture.pixel(x, y);
                const bool clear = qAlpha(pixel) == 0;
                const QRgb colour = pixel;
                int index = 0;
                if (clear) {
                    index = 0;
                } else if (colourful) {
                    index = NearestEntry(colour, vga, all);
                } else {
                    index = std::min({qRed(colour), qGreen(colour), qBlue(colour)}) >= 160;
                }
                icon.pixels.push_back(static_cast<uint8_t>(index));
                icon.transparent.push_back(clear);
            }
        }
        return icon;
    };

    const QImage icon32 = DrawWindowIcon(32, mark);
    return {convert(icon32, true), convert(DrawWindowIcon(16, mark), true), convert(icon32, false)};
}

} // namespace artgen
