#include "sourcefiles.h"
#include "trafficlight.h"

#include <QColor>

#include <gtest/gtest.h>

#include <cmath>

namespace {

using artgen::Lamp;

const Lamp AllLamps[] = {Lamp::Red, Lamp::Amber, Lamp::Green};

// How much of the inner lens of `lamp` is bright and saturated in the expected hue.
struct LensLight {
    double litShare = 0; // bright, saturated pixels
    double rightHue = 0; // of those, the share with the lamp's own hue
};

bool HueMatches(Lamp lamp, int hue) {
    switch (lamp) {
    case Lamp::Red:
        return hue <= 15 || hue >= 345;
    case Lamp::Amber:
        return hue >= 25 && hue <= 55;
    case Lamp::Green:
        return hue >= 100 && hue <= 170;
    default:
        return false;
    }
}

LensLight Measure(const QImage& image, Lamp lamp) {
    const QPointF centre = artgen::LampCentre(lamp);
    const double radius = artgen::LensRadius * 0.8;
    int inside = 0, lit = 0, hue = 0;
    for (int y = int(centre.y() - radius); y <= int(centre.y() + radius); ++y) {
        for (int x = int(centre.x() - radius); x <= int(centre.x() + radius); ++x) {
            if (std::hypot(x + 0.5 - centre.x(), y + 0.5 - centre.y()) > radius) {
                continue;
            }
            ++inside;
            const QColor c = QColor::fromRgb(image.pixel(x, y));
            if (c.value() >= 160 && c.hsvSaturation() >= 100) {
                ++lit;
                hue += HueMatches(lamp, c.hsvHue());
            }
        }
    }
    return {double(lit) / inside, lit ? double(hue) / lit : 0};
}

// Mean absolute channel difference over a rectangle.
double Difference(const QImage& a, const QImage& b, const QRect& area) {
    double sum = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
        }
    }
    return sum / (3.0 * area.width() * area.height());
}

struct PictureCase {
    const char* file;
    Lamp lit;
};

void PrintTo(const PictureCase& c, std::ostream* os) {
    *os << c.file;
}

class RunTimePicture : public ::testing::TestWithParam<PictureCase> {};

TEST_P(RunTimePicture, OnlyItsLampIsLit) {
    const QImage image = SourceImage(GetParam().file);
    ASSERT_EQ(image.size(), QSize(246, 520));
    for (Lamp lamp : AllLamps) {
        const LensLight light = Measure(image, lamp);
        if (lamp == GetParam().lit) {
            EXPECT_GT(light.litShare, 0.8) << "lamp " << int(lamp) << " should be lit";
            EXPECT_GT(light.rightHue, 0.95) << "lamp " << int(lamp) << " has the wrong colour";
        } else {
            EXPECT_LT(light.litShare, 0.02) << "lamp " << int(lamp) << " should be dark";
        }
    }
}

TEST_P(RunTimePicture, SameModelAsStartupPicture) {
    const QImage startup = SourceImage("pictures/velantro.gif");
    const QImage image = SourceImage(GetParam().file);
    ASSERT_EQ(image.size(), startup.size());
    const QRect postAndBase(20, 330, 206, 180);
    EXPECT_LT(Difference(image, startup, postAndBase), 4.0);
    for (Lamp lamp : AllLamps) {
        if (lamp == GetParam().lit) {
            continue;
        }
        const QPointF c = artgen::LampCentre(lamp);
        const QRect around(int(c.x()) - 45, int(c.y()) - 45, 90, 90);
        EXPECT_LT(Difference(image, startup, around), 6.0) << "dark lamp " << int(lamp);
    }
}

INSTANTIATE_TEST_SUITE_P(Pictures, RunTimePicture,
                         ::testing::Values(PictureCase{"pictures/verde.jpg", Lamp::Green},
                                           PictureCase{"pictures/amarillo.jpg", Lamp::Amber},
                                           PictureCase{"pictures/rojo.jpg", Lamp::Red},
                                           PictureCase{"pictures/velantro.gif", Lamp::None}),
                         [](const ::testing::TestParamInfo<PictureCase>& info) {
                             const QString name = QString::fromLatin1(info.param.file);
                             return name.section('/', 1).replace('.', '_').toStdString();
                         });

TEST(RunTimePictures, JpegsStaySmall) {
    for (const char* file : {"pictures/verde.jpg", "pictures/amarillo.jpg", "pictures/rojo.jpg"}) {
        const qsizetype size = SourceFile(file).size();
        EXPECT_GT(size, 5000) << file;
        EXPECT_LT(size, 70000) << file;
    }
}

} // namespace
