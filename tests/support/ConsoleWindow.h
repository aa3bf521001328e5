// The console's main window as the tests see it: its title, the captions of
// its buttons and where each control sits at 96 dpi, in pixels.
#pragma once

#include <QRect>

namespace testsupport {

// Where the controls are, in client coordinates of the main window. Window is
// the client area itself: its place on the screen and its size.
//
// bench/soak.sh clicks the buttons at the centres it reads from this table:
// it takes every line of the form "inline constexpr QRect Name{x, y, width,
// height};". Keep each control on one line of that form.
namespace controls {
inline constexpr QRect Window{131, 58, 582, 566};
inline constexpr QRect Autonomo{376, 296, 185, 41};
inline constexpr QRect Manual{376, 112, 185, 41};
inline constexpr QRect Picture{16, 16, 249, 521};
inline constexpr QRect Rojo{280, 80, 65, 33};
inline constexpr QRect Ambar{280, 120, 65, 33};
inline constexpr QRect Verde{280, 160, 65, 33};
inline constexpr QRect Salir{384, 496, 177, 41};
inline constexpr QRect Parar{280, 296, 65, 41};

// Where the picture box shows pictures: inside its 2-pixel border.
inline constexpr QRect PictureArea = Picture.adjusted(2, 2, -2, -2);
} // namespace controls

// The window's title and the buttons' captions, blanks included.
namespace captions {
inline constexpr char Window[] = "VELANTRO";
inline constexpr char Autonomo[] = "FUNCIONAMIENTO AUTONOMO   ";
inline constexpr char Manual[] = "FUNCIONAMIENTO MANUAL (Controlado por odenador)";
inline constexpr char Rojo[] = "ROJO";
inline constexpr char Ambar[] = "AMBAR";
inline constexpr char Verde[] = "VERDE";
inline constexpr char Salir[] = "SALIR";
inline constexpr char Parar[] = "PARAR";
} // namespace captions

} // namespace testsupport
