// The compiled-in resources: every picture and sound the program loads by
// name is there, with the size and content its users rely on.

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <set>
#include <string>

#include "ui/shell/QtSound.h"

namespace ketrion {
namespace {

QImage Load(int number) {
    QImage image(QStringLiteral(":/bitmaps/%1.bmp").arg(number));
    return image.convertToFormat(QImage::Format_RGB32);
}

QRgb Pixel(const QImage& image, int x, int y) {
    return image.pixel(x, y) & 0xFFFFFF;
}

std::set<QRgb> Colours(const QImage& image, QRect area) {
    std::set<QRgb> colours;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            colours.insert(Pixel(image, x, y));
        }
    }
    return colours;
}

TEST(Resources, BitmapsHaveTheirSizes) {
    const struct {
        int number;
        QSize size;
    } cases[] = {
        {128, {144, 16}}, {129, {270, 30}},  {132, {240, 265}},
        {134, {32, 32}},  {149, {240, 265}}, {154, {240, 265}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Load(c.number).size(), c.size) << "bitmap " << c.number;
    }
}

TEST(Resources, PicturesFitTheirUse) {
    // Blank plan: all black.
    const QImage blank = Load(154);
    EXPECT_EQ(Colours(blank, blank.rect()), std::set<QRgb>{0x000000});

    // Marker, combined by AND: white (transparent) corners, black at the
    // cross-hair's arms, and only those two colours.
    const QImage marker = Load(134);
    EXPECT_EQ(Colours(marker, marker.rect()), (std::set<QRgb>{0x000000, 0xFFFFFF}));
    EXPECT_EQ(Pixel(marker, 0, 0), 0xFFFFFFu);
    EXPECT_EQ(Pixel(marker, 31, 31), 0xFFFFFFu);
    EXPECT_EQ(Pixel(marker, 16, 1), 0x000000u);
    EXPECT_EQ(Pixel(marker, 1, 16), 0x000000u);

    // Instruction screen: white (and anti-aliased grey) text on black.
    const QImage steps = Load(149);
    EXPECT_EQ(Pixel(steps, 0, 0), 0x000000u);
    for (QRgb c : Colours(steps, steps.rect())) {
        EXPECT_TRUE(qRed(c) == qGreen(c) && qGreen(c) == qBlue(c)) << std::hex << c;
    }
    EXPECT_TRUE(Colours(steps, steps.rect()).count(0xFFFFFF));

    // Splash: the start view writes its two identity lines across the middle
    // rows, which stay plain.
    const QImage splash = Load(132);
    EXPECT_EQ(Colours(splash, QRect(0, 124, 240, 84)), std::set<QRgb>{0xFFFFFF});
    EXPECT_GT(Colours(splash, QRect(0, 0, 240, 124)).size(), 2u) << "title area is drawn";

    // Toolbars: nine buttons on the face colour; every button has a picture.
    for (int number : {128, 129}) {
        const QImage bar = Load(number);
        const int side = bar.height();
        for (int i = 0; i < 9; ++i) {
            EXPECT_GT(Colours(bar, QRect(i * side, 0, side, side)).size(), 1u)
                << "bitmap " << number << " button " << i;
        }
        EXPECT_EQ(Pixel(bar, 0, 0), 0xC0C0C0u);
    }
}

TEST(Resources, SoundsAreShortDistinctMonoPcm) {
    std::set<QByteArray> seen;
    for (const char* name : {"PING", "WHOOSH", "CAMERA", "REDALERT"}) {
        QFile file(QStringLiteral(":/sounds/%1.wav").arg(QLatin1String(name)));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
        const auto clip = ParseWave(file.readAll());
        ASSERT_TRUE(clip) << name;
        EXPECT_EQ(clip->format.channelCount(), 1) << name;
        EXPECT_EQ(clip->format.sampleFormat(), QAudioFormat::Int16) << name;
        EXPECT_GT(clip->duration.count(), 100) << name;
        // REDALERT holds up the user interface while it plays.
        EXPECT_LE(clip->duration.count(), 1000) << name;
        EXPECT_TRUE(seen.insert(clip->pcm).second) << name << " duplicates another sound";
    }
}

}  // namespace
}  // namespace ketrion
