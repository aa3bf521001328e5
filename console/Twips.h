#pragma once

#include <cmath>

// Positions and sizes of the window are kept in twips (1/1440 inch) and turned
// into pixels with the screen's logical dots per inch: 15 twips a pixel at 96.
inline int TwipsToPixels(int twips, int dotsPerInch) {
    return static_cast<int>(std::lround(twips * dotsPerInch / 1440.0));
}
