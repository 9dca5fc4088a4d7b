// The recording call on the link thread never waits on the disk: points are
// written, in order, by the survey's writer while the caller goes on. A write
// that fails takes its point (and the ones queued after it) back off the plan.

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "support/SiteDataFixture.h"

namespace ketrion::testing {
namespace {

using namespace std::chrono_literals;

// A file sync that waits until the test opens the gate.
class Gate {
public:
    int Sync(int) {
        std::unique_lock lock(m_mutex);
        ++m_waiting;
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_open; });
        return 0;
    }
    void Open() {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    // Waits until a sync is held at the gate.
    bool WaitForSync() {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 10s, [&] { return m_waiting > 0; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_waiting = 0;
    bool m_open = false;
};

// The stored latitude of every point of a file, in file order.
std::vector<std::int32_t> Latitudes(const std::string& path) {
    SiteDataWorld reader;
    reader.data.SetPath(path);
    std::vector<std::int32_t> out;
    if (!reader.data.LoadSurvey())
        return out;
    const Bytes file = ReadBytes(path);
    for (const auto& p : reader.Points())
        out.push_back(static_cast<std::int32_t>(collection::Get32(&file[p.offset])));
    return out;
}

void RecordNumbered(SiteDataWorld& w, int n) {
    GpsFix fix;
    fix.latitude = n;
    w.Gps(fix);
    w.AddAp({{0, 0, 0, 0, 0, static_cast<std::uint8_t>(n)}, "ap", -60, 1, 0});
}

TEST(SiteDataWriter, RecordingReturnsAtOnceWhileTheDiskIsSlow) {
    TempDir dir;
    const std::string path = dir.File("slow.ktd");
    Gate gate;
    std::vector<std::int32_t> written;
    {
        SiteDataWorld w;
        w.data.SetPath(path);
        ASSERT_TRUE(w.data.NewCollection());
        w.data.SetFileSync([&](int fd) { return gate.Sync(fd); });

        // The link thread's side: scan ends come while the first point's sync
        // is stuck; each call returns and the point is on the plan at once.
        std::atomic<int> returned{0};
        std::thread link([&] {
            for (int n = 1; n <= 5; ++n) {
                w.SetPosition(n * 10, n * 10);
                RecordNumbered(w, n);
                if (w.ScanEnd())
                    ++returned;
            }
        });
        ASSERT_TRUE(gate.WaitForSync());
        link.join();  // would hang here if recording waited for the disk
        EXPECT_EQ(returned, 5);
        EXPECT_EQ(w.data.PointCount(), 5u);
        // Offsets on the plan are already where the points will be.
        std::int64_t expected = 33;
        for (const auto& p : w.Points()) {
            EXPECT_EQ(p.offset, expected);
            expected += 61 + 41;
        }
        EXPECT_EQ(ReadBytes(path).size(), 33u + 61u + 41u);  // only the first is written, unsynced
        gate.Open();
        EXPECT_TRUE(w.data.Flush());
        EXPECT_EQ(ReadBytes(path).size(), 33u + 5u * (61u + 41u));
        EXPECT_TRUE(w.prompt.Messages().empty());
    }
    written = Latitudes(path);
    EXPECT_EQ(written, (std::vector<std::int32_t>{1, 2, 3, 4, 5}));
}

TEST(SiteDataWriter, AnOrderlyEndWritesEveryQueuedPoint) {
    TempDir dir;
    const std::string path = dir.File("drain.ktd");
    {
        SiteDataWorld w;
        w.data.SetPath(path);
        ASSERT_TRUE(w.data.NewCollection());
        w.data.SetFileSync([](int fd) {
            std::this_thread::sleep_for(5ms);
            return fdatasync(fd);
        });
        for (int n = 1; n <= 8; ++n) {
            RecordNumbered(w, n);
            ASSERT_TRUE(w.ScanEnd());
        }
        // Destroyed with points still queued.
    }
    EXPECT_EQ(Latitudes(path), (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(SiteDataWriter, AFailedWriteTakesItsPointsBackAndIsReported) {
    TempDir dir;
    const std::string path = dir.File("full.ktd");
    SiteDataWorld w;
    w.data.SetPath(path);
    ASSERT_TRUE(w.data.NewCollection());
    RecordNumbered(w, 1);
    ASSERT_TRUE(w.Record());

    // The disk fills: the sync of the next point fails, and every point queued
    // behind it cannot follow it into the file.
    Gate gate;
    std::atomic<bool> full{true};
    w.data.SetFileSync([&](int fd) {
        gate.Sync(fd);
        if (full) {
            errno = ENOSPC;
            return -1;
        }
        return fdatasync(fd);
    });
    const std::uint64_t failuresBefore = w.data.FileFailures();
    for (int n = 2; n <= 4; ++n) {
        RecordNumbered(w, n);
        ASSERT_TRUE(w.ScanEnd());
        if (n == 2) {
            ASSERT_TRUE(gate.WaitForSync());
        }
    }
    EXPECT_EQ(w.data.PointCount(), 4u);  // drawn at once
    gate.Open();
    EXPECT_FALSE(w.data.Flush());
    EXPECT_TRUE(w.data.Flush());  // told once
    const std::string message =
        "Cannot write to the collection file " + path + ": No space left on device.";
    EXPECT_EQ(w.prompt.Messages(), std::vector<std::string>{message});
    EXPECT_EQ(w.data.FileFailures(), failuresBefore + 1);
    EXPECT_EQ(w.data.LastFileFailure(), message);
    EXPECT_EQ(w.data.PointCount(), 1u);
    EXPECT_EQ(ReadBytes(path).size(), 33u + 61u + 41u);

    // Space again: recording carries on after the last point that is on disk.
    full = false;
    RecordNumbered(w, 5);
    ASSERT_TRUE(w.Record());
    EXPECT_EQ(w.Points().back().offset, 33 + 61 + 41);
    EXPECT_EQ(Latitudes(path), (std::vector<std::int32_t>{1, 5}));
}

TEST(SiteDataWriter, DynamicApsWaitForTheirWriteAndKeepTheOrder) {
    TempDir dir;
    const std::string path = dir.File("mixed.ktd");
    SiteDataWorld w;
    w.data.SetPath(path);
    ASSERT_TRUE(w.data.NewCollection());
    RecordNumbered(w, 7);
    ASSERT_TRUE(w.ScanEnd());      // queued
    ASSERT_TRUE(w.PlaceAp(1, 2));  // written, after the scan
    const Bytes file = ReadBytes(path);
    ASSERT_EQ(file.size(), 33u + 61u + 41u + 61u);
    EXPECT_EQ(file[33 + 60], 0);            // the survey point first
    EXPECT_EQ(file[33 + 61 + 41 + 60], 1);  // then the dynamic access point
    const auto points = w.Points();
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[1].offset, 33 + 61 + 41);
}

// A sound that keeps a walk's scan, as the scan thread does, while the
// survey is reading its file (the load plays its sound under the file lock).
class ScanDuringLoad final : public Sound {
public:
    void PlayResourceSound(std::string_view) override {
        if (data != nullptr)
            data->KeepPendingScan(7, "scan seven");
    }
    CSiteData* data = nullptr;
};

TEST(SiteDataWriter, AScanKeptWhileAFileLoadsIsNoPointOfIt) {
    TempDir dir;
    const std::string path = dir.File("walk.ktd");
    {
        SiteDataWorld w;
        w.data.SetPath(path);
        ASSERT_TRUE(w.data.NewCollection());
        for (int n = 1; n <= 2; ++n) {
            RecordNumbered(w, n);
            ASSERT_TRUE(w.Record());
        }
    }
    RecordingPrompt prompt;
    ScanDuringLoad sound;
    ManualClock clock{1'700'000'000};
    CSiteData data(prompt, sound, clock);
    data.SetPath(path);
    sound.data = &data;
    ASSERT_TRUE(data.LoadSurvey());
    EXPECT_TRUE(data.Flush());
    // Only the file's points are on the plan: work queued for the side
    // store is not a point.
    std::vector<std::int64_t> offsets;
    data.ForEachPoint([&](const CSiteData::_tap& p) { offsets.push_back(p.offset); });
    EXPECT_EQ(offsets, (std::vector<std::int64_t>{33, 33 + 61 + 41}));
    // The scan is kept all the same, offered when the file is opened again.
    sound.data = nullptr;
    ASSERT_TRUE(data.LoadSurvey());
    EXPECT_EQ(data.PendingScansAtLoad(),
              (std::vector<std::pair<std::int64_t, std::string>>{{7, "scan seven"}}));
    EXPECT_TRUE(prompt.Messages().empty());
}

}  // namespace
}  // namespace ketrion::testing
