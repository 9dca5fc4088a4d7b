#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "engine/Location.h"
#include "support/RecordingPrompt.h"
#include "support/RecordingSound.h"
#include "support/ScratchFiles.h"
#include "survey/Compression.h"
#include "survey/SiteProjection.h"

namespace ketrion {
namespace {

namespace fs = std::filesystem;
using scratch::Bytes;
using scratch::ReadBytes;
using scratch::ScratchDir;
using scratch::WriteBytes;

void PutDouble(Bytes& b, std::size_t at, double v) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    for (int i = 0; i < 8; ++i) {
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
}

struct Coefficients {
    double xLat, xLon, xOrigin, yLat, yLon, yOrigin;
};

// A projection file laid out by hand: the header rows, with the unused third
// coefficient and the unused areas filled with a marker so that reading the
// wrong offset shows, then the block.
Bytes MakeProjection(const Coefficients& c, const Bytes& block) {
    // Sized once and the block copied in: GCC 12 at -O3 warns (wrongly) on
    // inserting at the end of the header.
    Bytes file(CSiteProjection::kHeaderSize + block.size(), 0xA5);
    std::copy(block.begin(), block.end(), file.begin() + CSiteProjection::kHeaderSize);
    PutDouble(file, 13, c.xLat);
    PutDouble(file, 21, c.xLon);
    PutDouble(file, 29, 12345.0);
    PutDouble(file, 37, c.xOrigin);
    PutDouble(file, 45, c.yLat);
    PutDouble(file, 53, c.yLon);
    PutDouble(file, 61, -999.0);
    PutDouble(file, 69, c.yOrigin);
    return file;
}

// A GpsReport body with the current position in units of 1/3,600,000 degree.
void FeedPosition(CLocation& location, std::int32_t lat, std::int32_t lon) {
    std::uint8_t body[gps::kReportSize] = {};
    const auto put = [&](std::size_t at, std::int32_t v) {
        const auto u = static_cast<std::uint32_t>(v);
        body[at] = static_cast<std::uint8_t>(u >> 24);
        body[at + 1] = static_cast<std::uint8_t>(u >> 16);
        body[at + 2] = static_cast<std::uint8_t>(u >> 8);
        body[at + 3] = static_cast<std::uint8_t>(u);
    };
    put(gps::kLatitude, lat);
    put(gps::kLongitude, lon);
    location.Decode(body, sizeof body);
}

class ProjectionTest : public ::testing::Test {
protected:
    CLocation location;
    RecordingPrompt prompt;
    RecordingSound sound;
    CSiteProjection projection{prompt, sound};
    ScratchDir dir;
};

const Coefficients kLongitudeOnly{0, 1000, 75000, 0, 0, 0};

TEST_F(ProjectionTest, MapsPositionsBeforeAndAfterLoading) {
    // Nothing loaded: every position maps to the origin.
    FeedPosition(location, 144'000'000, -268'200'000);
    EXPECT_EQ(projection.PlanXFromDegrees(location.Latitude(), location.Longitude()), 0);
    EXPECT_EQ(projection.PlanYFromDegrees(location.Latitude(), location.Longitude()), 0);
    EXPECT_EQ(projection.PlanX(144'000'000, -268'200'000), 0);

    {
        PlanMap planMap = projection.Map();
        planMap.xLat = kLongitudeOnly.xLat;
        planMap.xLon = kLongitudeOnly.xLon;
        planMap.xOrigin = kLongitudeOnly.xOrigin;
        planMap.yLat = -2000;
        planMap.yOrigin = 80000;
        projection.SetMap(planMap);
    }
    // 40 degrees north, 74.5 west.
    EXPECT_EQ(projection.PlanXFromDegrees(location.Latitude(), location.Longitude()), 500);
    EXPECT_EQ(projection.PlanYFromDegrees(location.Latitude(), location.Longitude()), 0);
    EXPECT_EQ(projection.PlanX(144'000'000, -268'200'000), 500);
    EXPECT_EQ(projection.PlanY(144'000'000, -268'200'000), 0);
    EXPECT_EQ(projection.PlanY(143'999'982, 0), 0);     // 39.999995 degrees: 0.01
    EXPECT_EQ(projection.PlanY(36'000'000, 0), 60000);  // 10 degrees
}

TEST(ProjectionCoordinateTest, ConversionToInt) {
    struct Case {
        double value;
        int expected;
    };
    const Case cases[] = {
        {499.9, 499},
        {-0.5, 0},
        {-1.9, -1},
        {2147483646.7, 2147483646},
        {1e300, std::numeric_limits<int>::max()},
        {-1e300, std::numeric_limits<int>::min()},
        {std::numeric_limits<double>::infinity(), 0},
        {-std::numeric_limits<double>::infinity(), 0},
        {std::nan(""), 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CSiteProjection::ToPlanCoordinate(c.value), c.expected) << c.value;
    }
}

TEST_F(ProjectionTest, LoadsCoefficientsAndExpandsThePlan) {
    const Bytes plain = {'B', 'M', 1, 2, 3, 0xFF, 0xFF, 0xFF, 0};
    const Bytes block = CCompression::EncodeBlock(plain);
    const std::string path = dir / "plan.ktp";
    WriteBytes(path, MakeProjection({1.5, -2.25, 3.0, 4.0, 5.5, -6.0}, block));

    EXPECT_TRUE(projection.LoadProjection(path));
    EXPECT_TRUE(prompt.Messages().empty());
    EXPECT_TRUE(sound.Names().empty());
    EXPECT_EQ(projection.Map().xLat, 1.5);
    EXPECT_EQ(projection.Map().xLon, -2.25);
    EXPECT_EQ(projection.Map().xOrigin, 3.0);
    EXPECT_EQ(projection.Map().yLat, 4.0);
    EXPECT_EQ(projection.Map().yLon, 5.5);
    EXPECT_EQ(projection.Map().yOrigin, -6.0);
    EXPECT_EQ(projection.ProjectionPath(), path);
    EXPECT_EQ(projection.BitmapPath(), path + "b");
    EXPECT_EQ(ReadBytes(path + "c"), block);
    EXPECT_EQ(ReadBytes(path + "b"), plain);

    // Loading again overwrites the files beside it.
    const Bytes other = {9, 8, 7};
    WriteBytes(path, MakeProjection(kLongitudeOnly, CCompression::EncodeBlock(other)));
    EXPECT_TRUE(projection.LoadProjection(path));
    EXPECT_EQ(ReadBytes(path + "b"), other);
    EXPECT_EQ(projection.Map().xOrigin, 75000.0);
}

TEST_F(ProjectionTest, BlockLengthCheckedAgainstFile) {
    const Bytes plain(5000, 'x');
    Bytes block = CCompression::EncodeBlock(plain);
    const auto setLength = [&](std::uint32_t l) {
        for (int i = 0; i < 4; ++i) {
            block[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(l >> (8 * i));
        }
    };
    struct Case {
        const char* legend;
        std::uint32_t length;
        Bytes trailing;
        std::size_t copied;  // bytes expected in the .ktpc file
    };
    const std::size_t size = block.size();
    const Case cases[] = {
        {"bytes after the block are not copied", static_cast<std::uint32_t>(size), {1, 2, 3}, size},
        {"length below 4 is an empty block", 3, {}, 0},
        {"length 0 is an empty block", 0, {}, 0},
        {"length 4 is just the word", 4, {}, 4},
    };
    const std::string path = dir / "plan.ktp";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        setLength(c.length);
        Bytes file = MakeProjection(kLongitudeOnly, block);
        file.insert(file.end(), c.trailing.begin(), c.trailing.end());
        WriteBytes(path, file);
        EXPECT_TRUE(projection.LoadProjection(path));
        EXPECT_TRUE(prompt.Messages().empty());
        const Bytes copied = ReadBytes(path + "c");
        ASSERT_EQ(copied.size(), c.copied);
        EXPECT_TRUE(std::equal(copied.begin(), copied.end(), block.begin()));
        EXPECT_EQ(ReadBytes(path + "b").size(), c.copied == size ? plain.size() : 0u);
        EXPECT_EQ(projection.Map().xOrigin, 75000.0);
    }

    // A block longer than the rest of the file is a cut file: refused with the
    // sizes, the earlier plan left as it was.
    for (const std::uint32_t cut : {0xFFFFFFF0u, static_cast<std::uint32_t>(size + 1)}) {
        SCOPED_TRACE(cut);
        prompt.Clear();
        setLength(cut);
        WriteBytes(path, MakeProjection({1, 2, 3, 4, 5, 6}, block));
        EXPECT_FALSE(projection.LoadProjection(path));
        EXPECT_EQ(prompt.Messages(),
                  std::vector<std::string>{path + " is cut short: its plan image block is " +
                                           std::to_string(cut) + " bytes long, but only " +
                                           std::to_string(size) + " bytes follow the header."});
        EXPECT_EQ(projection.Map().xOrigin, 75000.0);
    }

    // A header with no room for the length word at all.
    WriteBytes(path, Bytes(MakeProjection(kLongitudeOnly, {}).size() + 2, 0));
    EXPECT_TRUE(projection.LoadProjection(path));
    EXPECT_EQ(fs::file_size(path + "c"), 0u);
}

TEST_F(ProjectionTest, UnusableFilesGiveTheirMessage) {
    // Load a good projection first: failures must leave it in place.
    const std::string good = dir / "good.ktp";
    WriteBytes(good, MakeProjection(kLongitudeOnly, CCompression::EncodeBlock(Bytes{1, 2})));
    ASSERT_TRUE(projection.LoadProjection(good));

    const std::string missing = dir / "missing.ktp";
    EXPECT_FALSE(projection.LoadProjection(missing));
    EXPECT_EQ(prompt.Messages(), std::vector<std::string>{missing + " was not found."});
    EXPECT_FALSE(fs::exists(missing + "c"));
    EXPECT_FALSE(fs::exists(missing + "b"));

    prompt.Clear();
    const std::string shortFile = dir / "short.ktp";
    WriteBytes(shortFile, Bytes(144, 0));
    EXPECT_FALSE(projection.LoadProjection(shortFile));
    EXPECT_EQ(prompt.Messages(),
              std::vector<std::string>{shortFile +
                                       " is not a projection file: it is 144 bytes long, shorter "
                                       "than the 145-byte header."});
    EXPECT_FALSE(fs::exists(shortFile + "c"));

    prompt.Clear();
    const std::string folder = dir / "folder.ktp";
    fs::create_directory(folder);
    EXPECT_FALSE(projection.LoadProjection(folder));
    EXPECT_EQ(prompt.Messages(), std::vector<std::string>{folder + " is a folder, not a file."});

    prompt.Clear();
    const std::string pipe = dir / "pipe.ktp";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_FALSE(projection.LoadProjection(pipe));  // must not wait for a writer
    EXPECT_EQ(prompt.Messages(), std::vector<std::string>{pipe + " is not a regular file."});

    EXPECT_TRUE(sound.Names().empty());
    EXPECT_EQ(projection.ProjectionPath(), good);
    EXPECT_EQ(projection.BitmapPath(), good + "b");
    EXPECT_EQ(projection.Map().xOrigin, 75000.0);
}

TEST_F(ProjectionTest, UnreadableFileIsDenied) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not apply to root";
    }
    const std::string path = dir / "locked.ktp";
    WriteBytes(path, MakeProjection(kLongitudeOnly, {}));
    ::chmod(path.c_str(), 0);
    EXPECT_FALSE(projection.LoadProjection(path));
    EXPECT_EQ(prompt.Messages(), std::vector<std::string>{"Access to " + path + " was denied."});
}

TEST_F(ProjectionTest, BlockFileThatCannotBeCreated) {
    const Bytes plain = {5, 6, 7};
    const std::string path = dir / "plan.ktp";
    WriteBytes(path, MakeProjection(kLongitudeOnly, CCompression::EncodeBlock(plain)));
    ASSERT_TRUE(projection.LoadProjection(path));  // leaves plan.ktpc and plan.ktpb
    ASSERT_TRUE(fs::exists(path + "b"));
    fs::remove(path + "c");
    fs::create_directory(path + "c");  // the temporary path is taken by a folder

    EXPECT_TRUE(projection.LoadProjection(path));
    ASSERT_EQ(prompt.Messages().size(), 1u);
    EXPECT_NE(prompt.Messages()[0].find(path + "c"), std::string::npos);
    EXPECT_EQ(sound.Sounds(), (std::vector<RecordingSound::Played>{{"REDALERT"}}));
    // The plan is expanded in memory, so the bitmap is still this load's own.
    EXPECT_EQ(projection.Map().xOrigin, 75000.0);
    EXPECT_EQ(projection.BitmapPath(), path + "b");
    EXPECT_EQ(ReadBytes(path + "b"), plain);
    EXPECT_TRUE(fs::is_directory(path + "c"));
}

// A bitmap file header for width x height pixels, 24 bits each (the pixels
// themselves are not needed for the size check).
Bytes BitmapHeader(std::int32_t width, std::int32_t height) {
    Bytes b(54, 0);
    b[0] = 'B';
    b[1] = 'M';
    const auto put = [&](std::size_t at, std::int32_t v) {
        for (int i = 0; i < 4; ++i) {
            b[at + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i));
        }
    };
    put(10, 54);
    put(14, 40);
    put(18, width);
    put(22, height);
    b[26] = 1;
    b[28] = 24;
    return b;
}

TEST_F(ProjectionTest, PlansBeyondThePixelLimitAreRefused) {
    const std::string path = dir / "huge.ktp";
    // 6001 x 6000 (bottom-up rows give a negative height) is just over the limit.
    WriteBytes(
        path, MakeProjection(kLongitudeOnly, CCompression::EncodeBlock(BitmapHeader(6001, -6000))));
    EXPECT_FALSE(projection.LoadProjection(path));
    EXPECT_EQ(prompt.Messages(), std::vector<std::string>{
                                     path + " holds a plan image of 6001 x 6000 pixels, more than "
                                            "the 36000000 pixels a plan may have."});
    EXPECT_FALSE(fs::exists(path + "b"));
    EXPECT_TRUE(projection.ProjectionPath().empty());

    prompt.Clear();
    WriteBytes(path,
               MakeProjection(kLongitudeOnly, CCompression::EncodeBlock(BitmapHeader(6000, 6000))));
    EXPECT_TRUE(projection.LoadProjection(path));
    EXPECT_TRUE(prompt.Messages().empty());
    EXPECT_EQ(ReadBytes(path + "b"), BitmapHeader(6000, 6000));
}

TEST_F(ProjectionTest, LinksPlantedAtTheSideFilesAreReplacedNotWrittenThrough) {
    const Bytes plain = {'B', 'M', 4, 5, 6};
    const std::string path = dir / "plan.ktp";
    WriteBytes(path, MakeProjection(kLongitudeOnly, CCompression::EncodeBlock(plain)));
    const std::string victim = dir / "victim";
    const Bytes precious = {1, 2, 3};
    WriteBytes(victim, precious);
    fs::create_symlink(victim, path + "c");
    fs::create_symlink(victim, path + "b");

    EXPECT_TRUE(projection.LoadProjection(path));
    EXPECT_TRUE(prompt.Messages().empty());
    EXPECT_EQ(ReadBytes(victim), precious);
    EXPECT_FALSE(fs::is_symlink(path + "c"));
    EXPECT_FALSE(fs::is_symlink(path + "b"));
    EXPECT_EQ(ReadBytes(path + "b"), plain);
    // No temporary file is left behind: the projection, its two files, the victim.
    EXPECT_EQ(dir.Count(), 4u);
}

TEST_F(ProjectionTest, SideFilesGoBesideTheRealProjectionFile) {
    fs::create_directory(dir / "real");
    fs::create_directory(dir / "elsewhere");
    const std::string real = dir / "real/plan.ktp";
    const Bytes plain = {'B', 'M', 7};
    WriteBytes(real, MakeProjection(kLongitudeOnly, CCompression::EncodeBlock(plain)));
    const std::string link = dir / "elsewhere/plan.ktp";
    fs::create_symlink(real, link);

    EXPECT_TRUE(projection.LoadProjection(link));
    EXPECT_EQ(projection.ProjectionPath(), link);
    EXPECT_EQ(fs::canonical(projection.BitmapPath()), fs::canonical(real + "b"));
    EXPECT_EQ(ReadBytes(real + "b"), plain);
    EXPECT_FALSE(fs::exists(link + "b"));
}

// A projection folder that takes no new files, acted out through the seam so
// that the test holds for root too: the plan goes to the cache folder, and a
// stale block file found beside the projection is never decoded.
TEST_F(ProjectionTest, AFolderThatTakesNoFilesExpandsIntoTheCache) {
    fs::create_directory(dir / "site");
    fs::create_directory(dir / "cache");
    const std::string path = dir / "site/plan.ktp";
    const Bytes plain = {'B', 'M', 8, 9};
    WriteBytes(path, MakeProjection(kLongitudeOnly, CCompression::EncodeBlock(plain)));
    const Bytes stale = CCompression::EncodeBlock(Bytes{'B', 'M', 0, 0, 0});
    WriteBytes(path + "c", stale);
    const std::string site = dir / "site";
    projection.SetCacheFolder(dir / "cache/plans");
    projection.SetTempFileMaker([&](const std::string& target, std::string& temp) {
        if (target.rfind(site + "/", 0) == 0) {
            errno = EACCES;
            return -1;
        }
        return CSiteProjection::MakeTempFile(target, temp);
    });

    EXPECT_TRUE(projection.LoadProjection(path));
    EXPECT_TRUE(prompt.Messages().empty());
    EXPECT_TRUE(sound.Names().empty());
    ASSERT_FALSE(projection.BitmapPath().empty());
    EXPECT_EQ(fs::path(projection.BitmapPath()).parent_path(), fs::path(dir / "cache/plans"));
    EXPECT_EQ(ReadBytes(projection.BitmapPath()), plain);
    EXPECT_EQ(ReadBytes(path + "c"), stale);  // untouched, and not what was drawn
    EXPECT_FALSE(fs::exists(path + "b"));
    EXPECT_EQ(projection.Map().xOrigin, 75000.0);
}

TEST_F(ProjectionTest, AReadOnlyFolderStillLoadsThePlan) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root writes into read-only folders; the seam test above covers it";
    }
    fs::create_directory(dir / "site");
    const std::string path = dir / "site/plan.ktp";
    const Bytes plain = {'B', 'M', 1};
    WriteBytes(path, MakeProjection(kLongitudeOnly, CCompression::EncodeBlock(plain)));
    projection.SetCacheFolder(dir / "cache");
    ::chmod((dir / "site").c_str(), 0555);
    const bool loaded = projection.LoadProjection(path);
    ::chmod((dir / "site").c_str(), 0755);
    EXPECT_TRUE(loaded);
    EXPECT_TRUE(prompt.Messages().empty());
    EXPECT_EQ(ReadBytes(projection.BitmapPath()), plain);
}

TEST_F(ProjectionTest, AFullDiskIsReportedAndLeavesNoBitmap) {
    const std::string path = dir / "plan.ktp";
    const Bytes plain(3000, 'p');
    WriteBytes(path, MakeProjection(kLongitudeOnly, CCompression::EncodeBlock(plain)));
    ASSERT_TRUE(projection.LoadProjection(path));
    // Every side file now lands on a device that is always full.
    projection.SetTempFileMaker([&](const std::string& target, std::string& temp) {
        temp = target + ".never";
        return ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    });
    prompt.Clear();
    EXPECT_TRUE(projection.LoadProjection(path));
    EXPECT_EQ(prompt.Messages(),
              (std::vector<std::string>{"The disk is full while accessing " + path + "c.",
                                        "The disk is full while accessing " + path + "b."}));
    EXPECT_EQ(sound.Sounds(), (std::vector<RecordingSound::Played>{{"REDALERT"}, {"REDALERT"}}));
    // The earlier load's bitmap is neither deleted nor passed off as this one.
    EXPECT_TRUE(projection.BitmapPath().empty());
    EXPECT_EQ(ReadBytes(path + "b"), plain);
}

}  // namespace
}  // namespace ketrion
