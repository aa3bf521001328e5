#include "wiring.h"

#include <QString>

#include <iterator>

namespace artgen {
namespace {

// One wire of the fixed wiring, from the socket to the board.
struct Wire {
    const char* socketPin;
    const char* signal;
    const char* bit;
    const char* boardPin;
    const char* avrPin;
    const char* colour;
};

constexpr const char* Data = "#1f5fbf";
constexpr const char* Control = "#d2691e";
constexpr const char* Status = "#2e8b57";
constexpr const char* Ground = "#000000";

const Wire Wires[] = {
    {"2", "D0", "datos 0", "D2", "PD2", Data},
    {"3", "D1", "datos 1", "D3", "PD3", Data},
    {"4", "D2", "datos 2", "D4", "PD4", Data},
    {"5", "D3", "datos 3", "D5", "PD5", Data},
    {"6", "D4", "datos 4", "D6", "PD6", Data},
    {"7", "D5", "datos 5", "D7", "PD7", Data},
    {"8", "D6", "datos 6", "D8", "PB0", Data},
    {"9", "D7", "datos 7", "D9", "PB1", Data},
    {"1", "nStrobe", "control 0, invertido", "D10", "PB2", Control},
    {"14", "nAutoFeed", "control 1, invertido", "D11", "PB3", Control},
    {"16", "nInit", "control 2", "D12", "PB4", Control},
    {"17", "nSelectIn", "control 3, invertido", "D13", "PB5", Control},
    {"15", "nError", "estado 3", "A0", "PC0", Status},
    {"13", "Select", "estado 4", "A1", "PC1", Status},
    {"12", "PaperEnd", "estado 5", "A2", "PC2", Status},
    {"10", "nAck", "estado 6", "A3", "PC3", Status},
    {"11", "Busy", "estado 7, invertido", "A4", "PC4", Status},
    {"18-25", "masa", "", "GND", "", Ground},
};

constexpr int Width = 760;
constexpr int RowTop = 200;
constexpr int RowHeight = 24;
constexpr int SocketX = 250; // the socket's pin column
constexpr int BoardX = 560;  // the board's header column

QString Text(int x, int y, const QString& text, const char* anchor = "start",
             const char* weight = "normal") {
    return QStringLiteral("  <text x=\"%1\" y=\"%2\" text-anchor=\"%3\" font-weight=\"%4\">%5"
                          "</text>\n")
        .arg(x)
        .arg(y)
        .arg(QLatin1String(anchor), QLatin1String(weight), text);
}

QString Pin(int x, int y, const char* fill) {
    return QStringLiteral(
               "  <circle cx=\"%1\" cy=\"%2\" r=\"5\" fill=\"%3\" stroke=\"#000000\"/>\n")
        .arg(x)
        .arg(y)
        .arg(QLatin1String(fill));
}

// The socket's face as one sees it from the front, where the plug goes in: a
// female socket has pin 1 at the top right (the mirror of a plug), pins 1 to
// 13 above and 14 to 25 below, in a D-shaped shell.
QString SocketFace() {
    QString svg =
        QStringLiteral("  <path d=\"M 40 40 L 440 40 L 420 130 L 60 130 Z\" fill=\"#d8d8d8\" "
                       "stroke=\"#000000\" stroke-width=\"2\"/>\n");
    for (int pin = 1; pin <= 25; ++pin) {
        const bool top = pin <= 13;
        const int x = top ? 412 - (pin - 1) * 29 : 398 - (pin - 14) * 29;
        const int y = top ? 70 : 104;
        const char* fill = pin <= 1 || (pin >= 14 && pin <= 17 && pin != 15) ? Control
                           : pin <= 9                                        ? Data
                           : pin <= 13 || pin == 15                          ? Status
                                                                             : Ground;
        svg += Pin(x, y, fill);
        svg += QStringLiteral("  <text x=\"%1\" y=\"%2\" text-anchor=\"middle\" "
                              "font-size=\"10\">%3</text>\n")
                   .arg(x)
                   .arg(top ? y - 9 : y + 18)
                   .arg(pin);
    }
    svg +=
        Text(240, 160, QStringLiteral("Conector DB-25 hembra, visto de frente"), "middle", "bold");
    return svg;
}

} // namespace

QByteArray DrawBridgeWiringSvg() {
    const int rows = static_cast<int>(std::size(Wires));
    const int height = RowTop + rows * RowHeight + 40;
    QString svg = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" "
                                 "height=\"%2\" viewBox=\"0 0 %1 %2\" font-family=\"sans-serif\" "
                                 "font-size=\"13\">\n"
                                 "  <rect width=\"%1\" height=\"%2\" fill=\"#ffffff\"/>\n")
                      .arg(Width)
                      .arg(height);
    svg += SocketFace();
    svg += Text(SocketX, RowTop - 14, QStringLiteral("DB-25"), "end", "bold");
    svg += Text(BoardX, RowTop - 14, QStringLiteral("Arduino Uno / Nano"), "start", "bold");
    svg += QStringLiteral("  <rect x=\"%1\" y=\"%2\" width=\"190\" height=\"%3\" fill=\"#e8f0e8\" "
                          "stroke=\"#000000\"/>\n")
               .arg(BoardX - 14)
               .arg(RowTop - 4)
               .arg(rows * RowHeight);
    for (int row = 0; row < rows; ++row) {
        const Wire& wire = Wires[row];
        const int y = RowTop + 8 + row * RowHeight;
        const QString colour = QLatin1String(wire.colour);
        svg += QStringLiteral("  <line x1=\"%1\" y1=\"%3\" x2=\"%2\" y2=\"%3\" stroke=\"%4\" "
                              "stroke-width=\"3\"/>\n")
                   .arg(SocketX)
                   .arg(BoardX)
                   .arg(y)
                   .arg(colour);
        svg += Pin(SocketX, y, wire.colour) + Pin(BoardX, y, wire.colour);
        svg += Text(SocketX - 12, y + 5,
                    QStringLiteral("%1 (pin %2)")
                        .arg(QLatin1String(wire.signal), QLatin1String(wire.socketPin)),
                    "end");
        svg += Text(SocketX + 16, y - 4, QLatin1String(wire.bit));
        svg +=
            Text(BoardX + 12, y + 5,
                 *wire.avrPin != '\0' ? QStringLiteral("%1 (%2)").arg(QLatin1String(wire.boardPin),
                                                                      QLatin1String(wire.avrPin))
                                      : QString::fromLatin1(wire.boardPin));
    }
    svg += Text(20, height - 14,
                QStringLiteral("Azul: datos (888). Naranja: control (890). Verde: estado (889). "
                               "Negro: masa."));
    svg += QStringLiteral("</svg>\n");
    return svg.toUtf8();
}

} // namespace artgen
