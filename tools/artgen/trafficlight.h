#pragma once

#include "gifwriter.h"

#include <QImage>
#include <QPointF>

#include <vector>

namespace artgen {

// The console's pictures of the model: a traffic light housing with three lamps
// (red on top, amber, green) on a post standing on a base plate.
enum class Lamp { None, Red, Amber, Green };

constexpr int PictureWidth = 246;
constexpr int PictureHeight = 520;
constexpr double LensRadius = 30.0;

QPointF LampCentre(Lamp lamp);

// The picture with `lit` switched on (bright, in colour) and the other lamps dark.
// Lamp::None gives the model with every lamp off. RGB32, PictureWidth x PictureHeight.
QImage DrawTrafficLight(Lamp lit);

// Indices into CubePalette() of the nine colours the dark model is drawn with.
std::vector<int> ModelColours();

// Maps every pixel to the nearest of ModelColours(), giving a cube-palette image.
IndexedImage ToModelColours(const QImage& picture);

} // namespace artgen
