#pragma once

#include <QString>

namespace artgen {

// Writes every generated file below `root` (a checkout of the source tree):
//   assets/velantro.ico    program icon
//   assets/velantro-16.png, -32.png, -48.png, -64.png, -128.png, -256.png,
//   assets/velantro.svg    the icon for the desktop's icon theme
//   pictures/verde.jpg, amarillo.jpg, rojo.jpg, velantro.gif
//                          the pictures the console loads beside itself;
//                          velantro.gif is also the start-up picture built
//                          into the program
//   assets/puente-cableado.svg
//                          the USB bridge's wiring, for the README
// Returns an empty string on success, otherwise what went wrong.
QString WriteArtwork(const QString& root);

} // namespace artgen
