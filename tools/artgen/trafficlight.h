#pragma once

#include "gifwriter.h"

#include <QImage>
#include <QPointF>

#include <vector>

namespace artgen {

// The console's pictures of the model: a traffic light housing with three lamps
// (red on top, amber, green) on a post standing on a base plate.
enum class Lamp { None, Red, Amber, Green };

constexpr int kPictureWidth = 246;
constexpr int kPictureHeight = 520;
constexpr double kLensRadius = 30.0;

QPointF lampCentre(Lamp lamp);

// The picture with `lit` switched on (bright, in colour) and the other lamps dark.
// Lamp::None gives the model with every lamp off. RGB32, kPictureWidth x kPictureHeight.
QImage drawTrafficLight(Lamp lit);

// Indices into cubePalette() of the nine colours the dark model is drawn with.
std::vector<int> modelColours();

// Maps every pixel to the nearest of modelColours(), giving a cube-palette image.
IndexedImage toModelColours(const QImage& picture);

} // namespace artgen
