// Captures of the simulated board replayed into new collection files must give
// the reviewed golden files byte for byte (creation time aside), and ktreplay's
// printed output stays what it is without a collection, plus the point count.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/RunProgram.h"
#include "support/SiteDataFixture.h"

namespace ketrion::testing {
namespace {

// ktreplay's standard output.
std::string Replay(const std::vector<std::string>& args, int& status) {
    const ProgramRun run = RunProgram(ToolPath("ktreplay"), args);
    status = run.status;
    return run.out;
}

TEST(KtdReplayGolden, ReplayedCapturesGiveTheGoldenCollectionFiles) {
    struct Row {
        const char* name;
        int points;
    };
    const Row rows[] = {{"session", 2}, {"faults", 1}};
    const std::string source = KETRION_SOURCE_DIR;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string out = dir.File("out.ktd");
        const std::string capture = source + "/tests/data/replay/" + row.name + ".bin";
        int status = -1;
        const std::string printed = Replay({"--collection", out, capture}, status);
        EXPECT_EQ(status, 0);

        Bytes expectedText = ReadBytes(source + "/tests/data/replay/" + row.name + ".expected");
        EXPECT_EQ(printed, std::string(expectedText.begin(), expectedText.end()) + "points " +
                               std::to_string(row.points) + "\n");

        Bytes golden = ReadBytes(source + "/tests/data/collection/" + row.name + ".ktd");
        Bytes written = ReadBytes(out);
        ASSERT_GT(golden.size(), 33u);
        ASSERT_EQ(written.size(), golden.size());
        for (std::size_t i = collection::kCreatedAt; i < collection::kCreatedAt + 8; ++i) {
            written[i] = golden[i] = 0;
        }
        EXPECT_EQ(written, golden);

        // The file loads back to the same number of points.
        SiteDataWorld reader;
        reader.data.SetPath(out);
        ASSERT_TRUE(reader.data.LoadSurvey());
        EXPECT_EQ(reader.data.PointCount(), static_cast<std::size_t>(row.points));
    }
}

TEST(KtdReplayGolden, AProjectionIsLoadedFirstAndUnusableFilesStopTheReplay) {
    TempDir dir;
    // A projection header with coefficients and an empty image block.
    Bytes ktp(145, 0);
    auto putDouble = [&](std::size_t at, double value) {
        std::memcpy(&ktp[at], &value, sizeof value);
    };
    putDouble(21, 1000.0);   // x per degree of longitude
    putDouble(37, 75000.0);  // x origin
    putDouble(45, 10.0);     // y per degree of latitude
    ktp.insert(ktp.end(), {4, 0, 0, 0});
    const std::string projection = dir.File("plan.ktp");
    WriteBytes(projection, ktp);

    struct Row {
        const char* legend;
        std::vector<std::string> options;
        int status;
        bool printsReplay;
    };
    const Row rows[] = {
        {"projection and collection",
         {"--projection", projection, "--collection", dir.File("a.ktd")},
         0,
         true},
        {"missing projection", {"--projection", dir.File("none.ktp")}, 2, false},
        {"collection in a missing folder", {"--collection", dir.File("none/x.ktd")}, 2, false},
    };
    const std::string source = KETRION_SOURCE_DIR;
    Bytes expectedText = ReadBytes(source + "/tests/data/replay/session.expected");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        int status = -1;
        std::vector<std::string> args = row.options;
        args.push_back(source + "/tests/data/replay/session.bin");
        const std::string printed = Replay(args, status);
        EXPECT_EQ(status, row.status);
        EXPECT_EQ(printed,
                  row.printsReplay
                      ? std::string(expectedText.begin(), expectedText.end()) + "points 2\n"
                      : "");
    }
}

}  // namespace
}  // namespace ketrion::testing
