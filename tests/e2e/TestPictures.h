// Pictures the tests lay beside the console in place of the real ones: one
// plain colour each with a square marker, so that a screenshot tells which
// file the picture box shows, where and at what scale.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <string>
#include <vector>

namespace e2e {

struct TestPicture {
    const char* file;
    QSize size;
    QRgb background;
    QRgb marker;
    QRect markerRect;         // in the picture's own coordinates
    bool progressive = false; // a JPEG in several scans
};

// verde.jpg, amarillo.jpg, rojo.jpg and velantro.gif. rojo.jpg is larger
// than the picture box, so that it has to be clipped.
const std::vector<TestPicture>& LampPictures();

// Pictures far larger than the picture box, which the console reads and
// decodes over several ticks: a progressive JPEG of 4000 x 3000 pixels as
// rojo.jpg, a GIF of 2000 x 2000 as velantro.gif.
const std::vector<TestPicture>& BigPictures();

// The file's bytes: JPEG or GIF, as its name says.
QByteArray Encode(const TestPicture& picture);

// Empty when the window's screenshot shows picture unscaled with its top-left
// pixel at the top-left of the picture box's inner area and nothing of it
// outside that area; otherwise the pixels that differ.
std::string PictureMismatch(const QImage& shot, const TestPicture& picture);

// What is wrong with the window's screenshot when it should show the named
// file, empty when nothing; with no file, it must show none of the pictures.
std::string ShownDifference(const QImage& shot, const char* file);

} // namespace e2e
