// Merging walks: every point of every walk once (a point repeated from an
// earlier walk, bytes and side rows alike, once only), copied byte for byte,
// with its side rows at its new offset; walks of different plans and other
// bad inputs are refused and nothing is written.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "site/CollectionMerge.h"
#include "support/ScratchFiles.h"
#include "support/SiteFixtures.h"
#include "support/StoredSurvey.h"
#include "survey/CollectionFile.h"
#include "survey/SideStore.h"

namespace ketrion::site {
namespace {

using scratch::Bytes;
using scratch::ScratchDir;

constexpr std::size_t kFirst = collection::kFirstRecord;

// The points of a collection file as byte strings (location and readings).
std::vector<Bytes> PointBytes(const std::string& path) {
    const Bytes bytes = scratch::ReadBytes(path);
    std::vector<Bytes> out;
    std::size_t at = kFirst;
    while (at + collection::kLocationSize <= bytes.size()) {
        const std::size_t size =
            collection::kLocationSize +
            collection::Get16(&bytes[at + collection::kCountAt]) * collection::kReadingSize;
        out.emplace_back(bytes.begin() + static_cast<long>(at),
                         bytes.begin() + static_cast<long>(at + size));
        at += size;
    }
    return out;
}

// A side store for `path` with one row per point naming `plan`.
void WriteSide(const std::string& path, const std::string& plan, std::size_t rows) {
    const Bytes bytes = scratch::ReadBytes(path);
    std::string message;
    auto side = SideStore::OpenForWriting(path, SideIdentity(path, bytes.data()), &message);
    ASSERT_TRUE(side) << message;
    std::int64_t at = kFirst;
    const std::vector<Bytes> points = PointBytes(path);
    std::vector<SideStore::Point> list;
    for (std::size_t i = 0; i < rows && i < points.size(); ++i) {
        SideStore::Point p;
        p.offset = at;
        p.scanSource = "board";
        p.method = "board";
        p.floor = plan;
        p.timeMs = 1000 * static_cast<std::int64_t>(i);
        list.push_back(p);
        at += static_cast<std::int64_t>(points[i].size());
    }
    ASSERT_TRUE(side->WritePoints(list, {}, &message)) << message;
    ASSERT_TRUE(side->Close(&message)) << message;
}

TEST(CollectionMerge, EveryPointOnceByteForByteWithItsSideRow) {
    ScratchDir dir;
    testing::WriteSampleWalk(dir / "a.ktd", 0, 1);
    testing::WriteSampleWalk(dir / "b.ktd", 0, 2);
    WriteSide(dir / "a.ktd", "ground", 1000);
    // c.ktd: a copy of a.ktd with its side store (a walk added twice), and b.ktd again.
    std::filesystem::copy_file(dir / "a.ktd", dir / "c.ktd");
    std::filesystem::copy_file(dir / "a.ktd.side", dir / "c.ktd.side");
    WriteSide(dir / "c.ktd", "ground", 1000);  // tied to its own name
    const MergeResult result =
        MergeCollections({{dir / "a.ktd", dir / "b.ktd", dir / "c.ktd", dir / "b.ktd"},
                          dir / "out.ktd",
                          testing::SamplePlan()});
    ASSERT_TRUE(result.ok) << result.error;

    const std::vector<Bytes> a = PointBytes(dir / "a.ktd"), b = PointBytes(dir / "b.ktd");
    const std::vector<Bytes> out = PointBytes(dir / "out.ktd");
    EXPECT_EQ(result.points, a.size() + b.size());
    EXPECT_EQ(result.duplicates, a.size() + b.size());
    std::vector<Bytes> expected = a;
    expected.insert(expected.end(), b.begin(), b.end());
    EXPECT_EQ(out, expected);
    // The header is a.ktd's, exactly.
    const Bytes head = scratch::ReadBytes(dir / "a.ktd");
    const Bytes merged = scratch::ReadBytes(dir / "out.ktd");
    EXPECT_TRUE(std::equal(head.begin(), head.begin() + kFirst, merged.begin()));

    // a.ktd's points keep their side rows, b.ktd's have none.
    std::string message;
    auto side = SideStore::OpenForReading(dir / "out.ktd",
                                          SideIdentity(dir / "out.ktd", merged.data()), &message);
    ASSERT_TRUE(side) << message;
    const auto rows = side->Points();
    EXPECT_EQ(rows.size(), a.size());
    EXPECT_EQ(rows.begin()->first, static_cast<std::int64_t>(kFirst));
    EXPECT_EQ(rows.rbegin()->second.timeMs, 1000 * static_cast<std::int64_t>(a.size() - 1));
}

TEST(CollectionMerge, APointWhoseSideRowDiffersIsKept) {
    ScratchDir dir;
    testing::WriteSampleWalk(dir / "a.ktd", 0, 1);
    std::filesystem::copy_file(dir / "a.ktd", dir / "b.ktd");
    WriteSide(dir / "a.ktd", "ground", 1000);
    WriteSide(dir / "b.ktd", "ground", 3);  // same bytes; only three points have rows
    const MergeResult result =
        MergeCollections({{dir / "a.ktd", dir / "b.ktd"}, dir / "out.ktd", ""});
    ASSERT_TRUE(result.ok) << result.error;
    const std::size_t n = PointBytes(dir / "a.ktd").size();
    EXPECT_EQ(result.duplicates, 3u);
    EXPECT_EQ(result.points, 2 * n - 3);
}

TEST(CollectionMerge, RefusalsWriteNothing) {
    ScratchDir dir;
    testing::WriteSampleWalk(dir / "a.ktd", 0, 1);
    testing::WriteSampleWalk(dir / "b.ktd", 0, 2);
    testing::WriteSampleWalk(dir / "off.ktd", 0, 3, 8, 0.01);
    std::filesystem::copy_file(dir / "a.ktd", dir / "wide.ktd");
    std::filesystem::copy_file(dir / "a.ktd", dir / "cut.ktd");
    std::filesystem::copy_file(dir / "b.ktd", dir / "upstairs.ktd");
    WriteSide(dir / "a.ktd", "ground", 2);
    WriteSide(dir / "upstairs.ktd", "first", 2);
    {
        // Location records of 62 bytes: each gets a zero byte after its 61.
        Bytes wide = scratch::ReadBytes(dir / "wide.ktd");
        wide.resize(kFirst);
        collection::Put32(&wide[25], 62);
        for (const Bytes& point : PointBytes(dir / "a.ktd")) {
            wide.insert(wide.end(), point.begin(), point.begin() + collection::kLocationSize);
            wide.push_back(0);
            wide.insert(wide.end(), point.begin() + collection::kLocationSize, point.end());
        }
        scratch::WriteBytes(dir / "wide.ktd", wide);
        Bytes cut = scratch::ReadBytes(dir / "cut.ktd");
        cut.resize(cut.size() - 5);
        scratch::WriteBytes(dir / "cut.ktd", cut);
    }
    struct Case {
        const char* legend;
        MergeRequest request;
        std::string message;
    } cases[] = {
        {"different plans",
         {{dir / "a.ktd", dir / "upstairs.ktd"}, dir / "out.ktd", ""},
         "the walks are on different plans: \"first\""},
        {"off the plan",
         {{dir / "a.ktd", dir / "off.ktd"}, dir / "out.ktd", testing::SamplePlan()},
         "off.ktd does not lie on"},
        {"record sizes",
         {{dir / "a.ktd", dir / "wide.ktd"}, dir / "out.ktd", ""},
         "they cannot share one file"},
        {"cut short",
         {{dir / "a.ktd", dir / "cut.ktd"}, dir / "out.ktd", ""},
         "cut.ktd is damaged"},
        {"output is an input", {{dir / "a.ktd", dir / "b.ktd"}, dir / "b.ktd", ""}, "b.ktd"},
        {"missing", {{dir / "a.ktd", dir / "none.ktd"}, dir / "out.ktd", ""}, "cannot open"},
    };
    const std::size_t files = dir.Count();
    const Bytes b = scratch::ReadBytes(dir / "b.ktd");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const MergeResult result = MergeCollections(c.request);
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.error.find(c.message), std::string::npos) << result.error;
        EXPECT_NE(result.error.find("nothing written"), std::string::npos) << result.error;
        EXPECT_EQ(dir.Count(), files);
        EXPECT_EQ(scratch::ReadBytes(dir / "b.ktd"), b);
    }
}

}  // namespace
}  // namespace ketrion::site
