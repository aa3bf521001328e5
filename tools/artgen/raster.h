#pragma once

#include <QImage>
#include <QVector>

#include <vector>

namespace artgen {

// The artwork is drawn without antialiasing at `factor` times its final size and then
// reduced by averaging each factor x factor block. Solid non-antialiased fills are
// exact integer writes, so the result does not depend on which blending code paths
// the machine's Qt picks: the generator gives the same bytes everywhere.
QImage Reduce(const QImage& large, int factor);

// Index of the entry of `palette`, among `candidates`, closest to `colour` (RGB distance).
int NearestEntry(QRgb colour, const QVector<QRgb>& palette, const std::vector<int>& candidates);

} // namespace artgen
