#pragma once

#include "icowriter.h"

#include <QImage>

#include <vector>

namespace artgen {

// What the icon carries besides the window: nothing (the console on the real
// port), or the mark of the simulated board, a small green circuit board with
// the three lamps in its bottom right corner.
enum class IconMark { None, SimulatedBoard };

// The program icon: a small application window with a cyan title bar, seen at an
// angle, with a drop shadow. ARGB32, transparent around the window.
QImage DrawWindowIcon(int size, IconMark mark = IconMark::None);

// The same drawing as a scalable SVG file on a 32-unit grid.
QByteArray DrawWindowIconSvg(IconMark mark = IconMark::None);

// The three pictures of the icon file, in file order: 32x32 in 16 colours, 16x16 in
// 16 colours and 32x32 in black and white.
std::vector<IconImage> ApplicationIcon(IconMark mark = IconMark::None);

} // namespace artgen
