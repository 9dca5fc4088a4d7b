// A writer killed with SIGKILL at random moments never loses a point whose
// write had finished, and the next writer carries on from a clean point
// boundary: a point torn by the kill is trimmed to its complete readings (its
// count corrected) before anything is appended after it.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "support/SiteDataFixture.h"

namespace ketrion::testing {
namespace {

constexpr int kReadingsPerPoint = 100;  // big points: a kill can land inside a write

// The child: records points numbered from `first` (as their stored latitude)
// until killed,
// reporting each number on the pipe once its write has finished.
[[noreturn]] void Writer(const std::string& path, int first, int reportFd) {
    SiteDataWorld w;
    w.data.SetPath(path);
    for (int n = first;; ++n) {
        w.SetPosition(n, 0);
        GpsFix fix;
        fix.latitude = n;  // the point's number, as the file keeps it
        w.Gps(fix);
        for (int k = 0; k < kReadingsPerPoint; ++k) {
            w.AddAp({{0, 0, 0, static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(k >> 8),
                      static_cast<std::uint8_t>(k)},
                     "kill",
                     static_cast<std::int16_t>(-20 - k),
                     1,
                     0});
        }
        if (!w.Record())
            _exit(2);
        if (write(reportFd, &n, sizeof n) != static_cast<ssize_t>(sizeof n))
            _exit(3);
    }
}

TEST(SiteDataKillSlow, KilledWriterNeverLosesAFinishedPoint) {
    TempDir dir;
    const std::string path = dir.File("killed.ktd");
    {
        SiteDataWorld w;
        w.data.SetPath(path);
        ASSERT_TRUE(w.data.NewCollection());
    }
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> delayUs(0, 60000);
    int next = 1;      // number of the next point a writer starts with
    int finished = 0;  // highest number any writer reported as finished
    for (int round = 0; round < 25; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(fds[0]);
            Writer(path, next, fds[1]);
        }
        close(fds[1]);
        usleep(static_cast<useconds_t>(delayUs(random)));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "writer stopped by itself: " << status;
        int n = 0;
        while (read(fds[0], &n, sizeof n) == static_cast<ssize_t>(sizeof n))
            finished = n;
        close(fds[0]);

        SiteDataWorld reader;
        reader.data.SetPath(path);
        ASSERT_TRUE(reader.data.LoadSurvey());
        auto points = reader.Points();
        const Bytes file = ReadBytes(path);
        // Every point is a whole one in order. A short point is either the
        // torn last one or one a later writer trimmed: then its stored count
        // says exactly the readings it has, and the next writer started again
        // from its number.
        int whole = 0;
        for (std::size_t i = 0; i < points.size(); ++i) {
            const auto at = static_cast<std::size_t>(points[i].offset);
            EXPECT_EQ(static_cast<int>(collection::Get32(&file[at])), whole + 1);
            if (points[i].readings == kReadingsPerPoint) {
                ++whole;
            } else if (i + 1 < points.size()) {
                EXPECT_EQ(collection::Get16(&file[at + collection::kCountAt]), points[i].readings)
                    << "a point followed by others must have been trimmed";
            }
        }
        EXPECT_GE(whole, finished);
        // At most the one point the kill cut off from its report is extra.
        EXPECT_LE(whole, std::max(finished, next - 1) + 1);
        next = whole + 1;
    }
    EXPECT_GT(finished, 0);
}

}  // namespace
}  // namespace ketrion::testing
