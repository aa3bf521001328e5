#pragma once

#include <QByteArray>

namespace artgen {

// The USB bridge's wiring as an SVG drawing: the DB-25 female socket's face
// with its pins numbered, and a wire from each pin the bridge uses to its pin
// on the Arduino Uno or Nano, coloured by register (data, control, status,
// ground), with the signal and the register bit beside each.
QByteArray DrawBridgeWiringSvg();

} // namespace artgen
