#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/Location.h"
#include "support/RecordingPrompt.h"
#include "support/RecordingSound.h"
#include "support/ScratchFiles.h"
#include "survey/Compression.h"
#include "survey/ProjectionMaker.h"
#include "survey/SiteProjection.h"

namespace ketrion::ktp {
namespace {

namespace fs = std::filesystem;
using scratch::Bytes;
using scratch::ReadBytes;
using scratch::ScratchDir;
using scratch::WriteBytes;

std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}

double LeDouble(const Bytes& b, std::size_t at) {
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) {
        bits = bits << 8 | b[at + static_cast<std::size_t>(i)];
    }
    double v = 0;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// The sample site's corners: 960 x 720 pixels over 0.001 degree of latitude
// and 0.002 of longitude.
const std::vector<ControlPoint> kCorners = {
    {52.206, 0.120, 0, 0},
    {52.206, 0.122, 960, 0},
    {52.205, 0.120, 0, 720},
    {52.205, 0.122, 960, 720},
};

TEST(KtpControlPointTest, Parsing) {
    struct Case {
        const char* text;
        bool ok;
        ControlPoint expected;
    };
    const Case cases[] = {
        {"52.206,0.12,0,0", true, {52.206, 0.12, 0, 0}},
        {" -33.86 , 151.2 , 10.5 , +7 ", true, {-33.86, 151.2, 10.5, 7}},
        {"1e1,2,3,4", true, {10, 2, 3, 4}},
        {"52.2,0.12,0", false, {}},
        {"52.2,0.12,0,0,9", false, {}},
        {"52.2,,0,0", false, {}},
        {"north,0.12,0,0", false, {}},
        {"52.2x,0.12,0,0", false, {}},
        {"nan,0,0,0", false, {}},
        {"inf,0,0,0", false, {}},
        {"", false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto p = ParseControlPoint(c.text);
        ASSERT_EQ(p.has_value(), c.ok);
        if (c.ok) {
            EXPECT_DOUBLE_EQ(p->latitude, c.expected.latitude);
            EXPECT_DOUBLE_EQ(p->longitude, c.expected.longitude);
            EXPECT_DOUBLE_EQ(p->x, c.expected.x);
            EXPECT_DOUBLE_EQ(p->y, c.expected.y);
        }
    }
}

TEST(KtpFitTest, RecoversExactMaps) {
    std::string error;
    const auto fit = FitAffine(kCorners, error);
    ASSERT_TRUE(fit) << error;
    EXPECT_NEAR(fit->xLat, 0, 1e-3);
    EXPECT_NEAR(fit->xLon, 480000, 1e-3);
    EXPECT_NEAR(fit->yLat, -720000, 1e-3);
    EXPECT_NEAR(fit->yLon, 0, 1e-3);
    EXPECT_LT(fit->maxResidual, 1e-6);
    // The walking track's south-west corner, as the program maps it.
    EXPECT_NEAR(MapX(*fit, 52.20515, 0.12020), 96, 1e-6);
    EXPECT_NEAR(MapY(*fit, 52.20515, 0.12020), 612, 1e-6);

    // A plan drawn at an angle: three points fix it exactly.
    const auto rx = [](double lat, double lon) { return 3e5 * lon - 2e5 * lat + 1e7; };
    const auto ry = [](double lat, double lon) { return -4e5 * lat - 1e5 * lon + 2.1e7; };
    std::vector<ControlPoint> rotated;
    for (auto [lat, lon] : {std::pair{52.2, 0.1}, {52.21, 0.1}, {52.2, 0.13}}) {
        rotated.push_back({lat, lon, rx(lat, lon), ry(lat, lon)});
    }
    const auto r = FitAffine(rotated, error);
    ASSERT_TRUE(r) << error;
    EXPECT_NEAR(r->xLat, -2e5, 1e-2);
    EXPECT_NEAR(r->xLon, 3e5, 1e-2);
    EXPECT_NEAR(r->yLat, -4e5, 1e-2);
    EXPECT_NEAR(r->yLon, -1e5, 1e-2);
    EXPECT_NEAR(MapX(*r, 52.205, 0.115), rx(52.205, 0.115), 1e-5);
    EXPECT_NEAR(MapY(*r, 52.205, 0.115), ry(52.205, 0.115), 1e-5);
}

TEST(KtpFitTest, LeastSquaresResidual) {
    // One corner clicked 4 pixels off: the fit spreads the error, the residual
    // shows it.
    std::vector<ControlPoint> points = kCorners;
    points[3].x += 4;
    std::string error;
    const auto fit = FitAffine(points, error);
    ASSERT_TRUE(fit) << error;
    // Least squares over the four corners puts 1 pixel of error on each.
    EXPECT_NEAR(fit->rmsResidual, 1.0, 1e-6);
    EXPECT_NEAR(fit->maxResidual, 1.0, 1e-6);
    EXPECT_NEAR(MapX(*fit, 52.206, 0.120), -1, 1e-6);
}

TEST(KtpFitTest, RejectsUnusablePoints) {
    struct Case {
        const char* legend;
        std::vector<ControlPoint> points;
        const char* message;  // part of the error
    };
    const Case cases[] = {
        {"two points", {kCorners[0], kCorners[1]}, "at least three control points"},
        {"none", {}, "got 0"},
        {"on one line on the earth",
         {{52.0, 0.1, 0, 0}, {52.1, 0.2, 10, 50}, {52.2, 0.3, 30, 0}},
         "on the earth"},
        {"one spot repeated", {kCorners[0], kCorners[0], kCorners[0]}, "on the earth"},
        {"on one line on the image",
         {{52.0, 0.1, 0, 0}, {52.1, 0.1, 10, 10}, {52.0, 0.2, 20, 20}},
         "on the image"},
        {"same latitude everywhere",
         {{52.0, 0.1, 0, 0}, {52.0, 0.2, 10, 0}, {52.0, 0.3, 20, 5}},
         "on the earth"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        std::string error;
        EXPECT_FALSE(FitAffine(c.points, error));
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
}

TEST(KtpBitmapTest, BottomUpPaddedBgrRows) {
    // 3 x 2 pixels: rows of 9 bytes padded to 12, the bottom row first.
    const std::uint8_t rgb[] = {
        1,  2,  3,  4,  5,  6,  7,  8,  9,  0xEE,  // top row + stride padding
        11, 12, 13, 14, 15, 16, 17, 18, 19, 0xEE,  // bottom row
    };
    const Bytes bmp = MakeBitmap24(3, 2, rgb, 10);
    ASSERT_EQ(bmp.size(), 54u + 24u);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(Le32(bmp, 2), bmp.size());
    EXPECT_EQ(Le32(bmp, 10), 54u);
    EXPECT_EQ(Le32(bmp, 14), 40u);
    EXPECT_EQ(Le32(bmp, 18), 3u);
    EXPECT_EQ(Le32(bmp, 22), 2u);
    EXPECT_EQ(bmp[26] | bmp[27] << 8, 1);
    EXPECT_EQ(bmp[28] | bmp[29] << 8, 24);
    EXPECT_EQ(Le32(bmp, 30), 0u);  // no compression
    EXPECT_EQ(Le32(bmp, 34), 24u);
    const Bytes pixels(bmp.begin() + 54, bmp.end());
    const Bytes expected = {13, 12, 11, 16, 15, 14, 19, 18, 17, 0, 0, 0,
                            3,  2,  1,  6,  5,  4,  9,  8,  7,  0, 0, 0};
    EXPECT_EQ(pixels, expected);
}

TEST(KtpFileTest, PackedFileLoadsInTheProgram) {
    std::string error;
    const auto fit = FitAffine(kCorners, error);
    ASSERT_TRUE(fit);
    Bytes rgb(20 * 10 * 3, 0xFF);
    for (std::size_t i = 0; i < rgb.size(); i += 7) {
        rgb[i] = static_cast<std::uint8_t>(i);
    }
    const Bytes bitmap = MakeBitmap24(20, 10, rgb.data(), 60);
    const Bytes file = MakeProjectionFile(*fit, bitmap);

    // Header: only the two coefficient rows are set; the third coefficient of
    // each row is zero.
    ASSERT_GT(file.size(), 145u + CCompression::kHeaderSize);
    for (std::size_t i = 0; i < 145; ++i) {
        if ((i >= 13 && i < 29) || (i >= 37 && i < 61) || (i >= 69 && i < 77)) {
            continue;
        }
        ASSERT_EQ(file[i], 0) << "header byte " << i;
    }
    EXPECT_EQ(LeDouble(file, 21), fit->xLon);
    EXPECT_EQ(LeDouble(file, 69), fit->yOrigin);
    EXPECT_EQ(Le32(file, 145), file.size() - 145);  // block length counts its word
    EXPECT_EQ(Le32(file, 149), bitmap.size());      // second word: expanded size

    ScratchDir dir;
    const std::string path = dir / "site.ktp";
    WriteBytes(path, file);
    CLocation location;
    RecordingPrompt prompt;
    RecordingSound sound;
    CSiteProjection projection(prompt, sound);
    ASSERT_TRUE(projection.LoadProjection(path));
    EXPECT_TRUE(prompt.Messages().empty());
    EXPECT_EQ(ReadBytes(projection.BitmapPath()), bitmap);
    EXPECT_EQ(projection.Map().xLon, fit->xLon);
    EXPECT_EQ(projection.Map().yLat, fit->yLat);
    // 52.20550 N, 0.12100 E: the middle of the main corridor.
    EXPECT_EQ(projection.PlanX(static_cast<int>(std::lround(52.20550 * 3.6e6)),
                               static_cast<int>(std::lround(0.12100 * 3.6e6))),
              480);
    EXPECT_EQ(projection.PlanY(static_cast<int>(std::lround(52.20550 * 3.6e6)),
                               static_cast<int>(std::lround(0.12100 * 3.6e6))),
              360);
}

TEST(KtpInfoTest, ReportsHeaderWithoutWriting) {
    std::string error;
    const auto fit = FitAffine(kCorners, error);
    ASSERT_TRUE(fit);
    Bytes file = MakeProjectionFile(*fit, Bytes(100, 0xAB));
    ScratchDir dir;
    const std::string path = dir / "site.ktp";

    WriteBytes(path, file);
    auto info = ReadProjectionInfo(path, error);
    ASSERT_TRUE(info) << error;
    EXPECT_EQ(info->fileSize, file.size());
    EXPECT_EQ(info->xRow[1], fit->xLon);
    EXPECT_EQ(info->xRow[2], 0.0);
    EXPECT_EQ(info->yRow[3], fit->yOrigin);
    EXPECT_EQ(info->blockLength, file.size() - 145);
    EXPECT_EQ(info->plainLength, 100u);
    std::string text = FormatProjectionInfo(*info);
    EXPECT_NE(text.find("block length: " + std::to_string(file.size() - 145) + " bytes\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("expanded length: 100 bytes"), std::string::npos) << text;
    EXPECT_EQ(dir.Count(), 1u);  // nothing written beside it

    // A block cut short is described, not trusted.
    file.resize(file.size() - 10);
    WriteBytes(path, file);
    info = ReadProjectionInfo(path, error);
    ASSERT_TRUE(info);
    text = FormatProjectionInfo(*info);
    EXPECT_NE(text.find("(the file holds only " + std::to_string(file.size() - 145) + ")"),
              std::string::npos)
        << text;

    WriteBytes(path, Bytes(145, 0));
    info = ReadProjectionInfo(path, error);
    ASSERT_TRUE(info);
    EXPECT_NE(FormatProjectionInfo(*info).find("block: none"), std::string::npos);

    WriteBytes(path, Bytes(100, 0));
    EXPECT_FALSE(ReadProjectionInfo(path, error));
    EXPECT_NE(error.find("shorter than the 145-byte header"), std::string::npos) << error;
    EXPECT_FALSE(ReadProjectionInfo(dir / "absent.ktp", error));
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
}

}  // namespace
}  // namespace ketrion::ktp
