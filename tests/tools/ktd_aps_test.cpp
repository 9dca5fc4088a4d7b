// ktd aps, run as the user runs it: estimated access-point positions of a
// survey whose access points stand at known places, in degrees and, with a
// projection file, in plan pixels placed as loading a survey places points.

#include <gtest/gtest.h>

#include <string>

#include "engine/Location.h"
#include "support/SiteDataFixture.h"
#include "support/ToolRun.h"
#include "survey/ProjectionMaker.h"
#include "survey/SiteProjection.h"

namespace ketrion::testing {
namespace {

const char* const kKtd = "tools/ktd/ktd";

// Location records start at 33; each is 61 bytes and its readings 41 each.
void SetFix(Bytes& bytes, std::size_t recordAt, std::uint8_t fixClass) {
    bytes[recordAt + collection::kFixClassAt] = fixClass;
}

// Access point 01 ("LAB1") heard equally at two fixed points 0.0001 degree
// north and south of 40 N 74.5 W: estimated between them, 11.1 m from each.
// Access point 02 heard at a fixed point and, stronger, at one without a fix:
// only the fixed one counts. Access point 03 heard only without a fix. A
// dynamic access point with a reading (only a crafted file has one) is no
// evidence.
std::string WriteSurvey(const TempDir& dir) {
    Bytes bytes = FileBuilder()
                      .Location(144000000 + 360, -268200000, 1)
                      .Reading(-50 * 256, 0x01, "LAB1", 0x11)
                      .Location(144000000 - 360, -268200000, 2)
                      .Reading(-50 * 256, 0x01, "LAB1", 0x11)
                      .Reading(-90 * 256, 0x02, "", 0x01)
                      .Location(0, 0, 1, 1)
                      .Reading(-10 * 256, 0x01, "LAB1", 0x11)
                      .Location(144000000, -268200000 + 1800, 2)
                      .Reading(-60 * 256 + 128, 0x02, "say\"hi\"", 0x01)
                      .Reading(-70 * 256, 0x03, "", 0x01)
                      .bytes();
    SetFix(bytes, 33, 2);
    SetFix(bytes, 33 + 61 + 41, 1);
    const std::string path = dir.File("aps.ktd");
    WriteBytes(path, bytes);
    return path;
}

// plan x = 100000 per degree of longitude + 7450500, plan y = -100000 per
// degree of latitude + 4000100: 40 N 74.5 W is plan (500, 100).
ktp::AffineFit Fit() {
    ktp::AffineFit fit;
    fit.xLon = 100000;
    fit.xOrigin = 7450500;
    fit.yLat = -100000;
    fit.yOrigin = 4000100;
    return fit;
}

std::string WriteProjection(const TempDir& dir) {
    const std::uint8_t white[3] = {255, 255, 255};
    const Bytes file = ktp::MakeProjectionFile(Fit(), ktp::MakeBitmap24(1, 1, white, 3));
    const std::string path = dir.File("plan.ktp");
    WriteBytes(path, file);
    return path;
}

TEST(KtdAps, OneLinePerAccessPointInDegreesAndPlanPixels) {
    TempDir dir;
    const std::string survey = WriteSurvey(dir);
    const std::string lines[] = {
        "00:1a:2b:3c:4d:01 \"LAB1\" points 2 strongest -50 dBm position 40.0000000 -74.5000000 "
        "uncertainty 11.1 m readings 2",
        "00:1a:2b:3c:4d:02 \"say\\x22hi\\x22\" points 2 strongest -59.50 dBm position 39.9999000 "
        "-74.5000000 uncertainty 0.0 m readings 1",
        "00:1a:2b:3c:4d:03 \"\" points 1 strongest -70 dBm position 40.0000000 -74.4995000 "
        "uncertainty 0.0 m readings 1 no-fix",
    };
    const std::string last = "access points 3, survey points 3\n";

    ToolRun run = RunTool(kKtd, {"aps", "--method", "centroid", survey});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out,
              "file " + survey + "\n" + lines[0] + "\n" + lines[1] + "\n" + lines[2] + "\n" + last);

    // Plan pixels as loading the survey places a point at the same stored position.
    const std::string projection = WriteProjection(dir);
    CLocation location;
    RecordingPrompt prompt;
    RecordingSound sound;
    CSiteProjection loaded(prompt, sound);
    ASSERT_TRUE(loaded.LoadProjection(projection));
    const auto plan = [&](int latitude, int longitude) {
        return " plan " + std::to_string(loaded.PlanX(latitude, longitude)) + " " +
               std::to_string(loaded.PlanY(latitude, longitude));
    };
    EXPECT_EQ(plan(144000000, -268200000), " plan 500 100");
    EXPECT_EQ(plan(144000000 - 360, -268200000), " plan 500 110");
    EXPECT_EQ(plan(144000000, -268200000 + 1800), " plan 550 100");
    std::filesystem::remove(projection + "b");
    std::filesystem::remove(projection + "c");

    run = RunTool(kKtd, {"aps", "--method", "centroid", "--projection", projection, survey});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "file " + survey + "\n" + lines[0] + " plan 500 100\n" + lines[1] +
                           " plan 500 110\n" + lines[2] + " plan 550 100\n" + last);
    // Reading the map leaves nothing beside the projection file.
    EXPECT_FALSE(std::filesystem::exists(projection + "b"));
    EXPECT_FALSE(std::filesystem::exists(projection + "c"));
}

TEST(KtdAps, TheFitByDefaultSaysWhyItGivesNoPosition) {
    TempDir dir;
    const ToolRun run = RunTool(kKtd, {"aps", WriteSurvey(dir)});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("00:1a:2b:3c:4d:01 \"LAB1\" points 2 strongest -50 dBm position none "
                           "readings 2 why only 2 readings; the fit needs 6\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("00:1a:2b:3c:4d:03 \"\" points 1 strongest -70 dBm position none "
                           "readings 1 no-fix why the strongest reading, -70 dBm, is weaker "
                           "than -50 dBm"),
              std::string::npos)
        << run.out;
}

TEST(KtdAps, DamagedAndMissingFiles) {
    TempDir dir;
    const std::string survey = WriteSurvey(dir);
    Bytes bytes = ReadBytes(survey);
    bytes.resize(bytes.size() - 3);
    const std::string cut = dir.File("cut.ktd");
    WriteBytes(cut, bytes);
    ToolRun run = RunTool(kKtd, {"aps", cut});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.ends_with("access points 2, survey points 3\n")) << run.out;
    EXPECT_EQ(run.err, "ktd: The collection file " + cut +
                           " is damaged: it ends inside point 4 (after 1 of its 2 readings).\n");

    run = RunTool(kKtd, {"aps", dir.File("none.ktd")});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "ktd: cannot open " + dir.File("none.ktd") + ": No such file or directory\n");

    // A projection that cannot be read stops before any output.
    WriteBytes(dir.File("short.ktp"), Bytes(100, 0));
    run = RunTool(kKtd, {"aps", "--projection", dir.File("short.ktp"), survey});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "ktd: " + dir.File("short.ktp") +
                           " is not a projection file: it is 100 bytes long, shorter than the "
                           "145-byte header\n");
    EXPECT_EQ(RunTool(kKtd, {"aps"}).status, 2);
}

}  // namespace
}  // namespace ketrion::testing
