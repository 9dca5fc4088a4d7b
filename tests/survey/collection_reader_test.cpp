// Reading a collection file to look at it shares the file with the program
// that records into it: the reader never takes the recorder's lock, a
// recording may start while a reading is under way, and the points appended
// meanwhile are left for the next reading. Every reader stops at the
// program's point limit.

#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <functional>

#include "support/SiteDataFixture.h"
#include "survey/CollectionReader.h"

namespace ketrion::testing {
namespace {

using collection::WalkEnd;

// Counts what a walk visits and runs `atFirst` inside the first point's visit.
class Counting final : public collection::WalkVisitor {
public:
    void Location(std::int64_t, std::int64_t, const std::uint8_t*) override {
        if (++points == 1 && atFirst)
            atFirst();
    }
    void Reading(const std::uint8_t*) override { ++readings; }

    std::function<void()> atFirst;
    int points = 0;
    int readings = 0;
};

bool LockFree(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool free = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (fd >= 0)
        close(fd);
    return free;
}

class CollectionReaderTest : public ::testing::Test {
protected:
    std::string Survey(int points) {
        FileBuilder builder;
        for (int i = 0; i < points; ++i)
            builder.Location(i, i, 1).Reading(-60 * 256, static_cast<std::uint8_t>(i), "NET");
        const std::string path = dir.File("walk.ktd");
        WriteBytes(path, builder.bytes());
        return path;
    }
    void AddAp(SiteDataWorld& world) { world.AddAp({{0, 1, 2, 3, 4, 5}, "NEW", -40, 1, 0}); }

    TempDir dir;
};

TEST_F(CollectionReaderTest, ReadsWhileARecorderHoldsTheFile) {
    const std::string path = Survey(3);
    SiteDataWorld recorder;
    recorder.data.SetPath(path);
    ASSERT_TRUE(recorder.data.LoadSurvey());
    ASSERT_FALSE(LockFree(path));  // the recorder holds it

    Counting visitor;
    const WalkEnd end = collection::WalkCollection(path, visitor);
    EXPECT_EQ(end.kind, WalkEnd::Kind::Complete);
    EXPECT_EQ(visitor.points, 3);
    EXPECT_EQ(visitor.readings, 3);
    // The recorder goes on recording after the reading.
    AddAp(recorder);
    EXPECT_TRUE(recorder.Record());
    EXPECT_TRUE(recorder.prompt.Messages().empty());
}

TEST_F(CollectionReaderTest, ARecordingStartsWhileAReadingIsUnderWay) {
    const std::string path = Survey(3);
    const auto before = static_cast<std::int64_t>(ReadBytes(path).size());
    SiteDataWorld recorder;
    bool recorded = false;
    Counting visitor;
    visitor.atFirst = [&] {
        // The reader has the file open and is inside it: the recorder takes
        // the lock and appends a point.
        recorder.data.SetPath(path);
        ASSERT_TRUE(recorder.data.LoadSurvey());
        EXPECT_FALSE(LockFree(path));
        AddAp(recorder);
        recorded = recorder.Record();
    };
    const WalkEnd end = collection::WalkCollection(path, visitor);
    EXPECT_TRUE(recorded);
    EXPECT_TRUE(recorder.prompt.Messages().empty()) << recorder.prompt.Messages().front();
    // The reading ends where the file ended when it began.
    EXPECT_EQ(end.kind, WalkEnd::Kind::Complete);
    EXPECT_EQ(end.size, before);
    EXPECT_EQ(visitor.points, 3);
    EXPECT_EQ(recorder.data.PointCount(), 4u);
    // The next reading sees the new point.
    Counting again;
    EXPECT_EQ(collection::WalkCollection(path, again).kind, WalkEnd::Kind::Complete);
    EXPECT_EQ(again.points, 4);
}

TEST_F(CollectionReaderTest, StopsPastThePointLimit) {
    const std::string path = dir.File("sparse.ktd");
    WriteBytes(path, FileBuilder().bytes());
    // Zero-byte points in a file with holes: no disk, a million points.
    const auto size = static_cast<off_t>(33 + (collection::kMaxLoadedPoints + 1) * 61);
    ASSERT_EQ(truncate(path.c_str(), size), 0);
    Counting visitor;
    WalkEnd end = collection::WalkCollection(path, visitor);
    EXPECT_EQ(end.kind, WalkEnd::Kind::TooManyPoints);
    EXPECT_EQ(visitor.points, static_cast<int>(collection::kMaxLoadedPoints));
    EXPECT_EQ(collection::TooManyPointsText(path),
              "The collection file " + path + " holds more than 1000000 points; it is not loaded.");

    ASSERT_EQ(truncate(path.c_str(), size - 61), 0);
    Counting exact;
    end = collection::WalkCollection(path, exact);
    EXPECT_EQ(end.kind, WalkEnd::Kind::Complete);
    EXPECT_EQ(end.points, static_cast<std::int64_t>(collection::kMaxLoadedPoints));
}

}  // namespace
}  // namespace ketrion::testing
