// The contract every source keeps (source/ScanSource.h), run against each
// real source on its own thread: the receiver board over a scripted serial
// line, the Wi-Fi adapter with a kernel played by the test, a recording of
// one, and gpsd through a scripted client (lost, recovered and stopped).
//  - ready again only after the scan has been handed over and recorded;
//  - Stop while a scan runs: it returns, and no callback comes after it
//    (a scan source's);
//  - lost and recovered: one LinkLost per loss, one LinkRestored after it;
//  - events in order: a scan's onScan before its ScanEnded.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "platform/Clock.h"
#include "protocol/FrameFormat.h"
#include "source/board/BoardSource.h"
#include "source/board/BoardStack.h"
#include "source/gpsd/GpsdPosition.h"
#include "source/wifi/ReplayScanSource.h"
#include "source/wifi/WifiScanSource.h"
#include "support/LinkFakes.h"
#include "support/SiteDataFixture.h"
#include "support/WifiFakes.h"
#include "support/WifiFixtures.h"

namespace ketrion::testing {
namespace {

using source::SourceEventKind;
using source::SourceState;

// What one of the source's callbacks saw, in the order they came.
struct Entry {
    bool scan = false;  // onScan; else an event of `kind`
    SourceEventKind kind = SourceEventKind::Notice;
    bool scanningWhileRecorded = false;  // onScan: IsScanning() as the point was recorded
    bool afterStop = false;              // the callback came after Stop returned
};

// Keeps every callback of a scan source and waits for them (a generous bound
// against a hung thread, not a timing check).
class Journal {
public:
    void Attach(source::ScanSource& scans) {
        scans.onScan = [this, &scans](const source::ScanResult&) {
            Add(Entry{true, SourceEventKind::Notice, scans.IsScanning(), m_stopped.load()});
        };
        scans.onEvent = [this](const source::SourceEvent& event) {
            Add(Entry{false, event.kind, false, m_stopped.load()});
        };
    }
    void Attach(source::PositionSource& positions) {
        positions.onEvent = [this](const source::SourceEvent& event) {
            Add(Entry{false, event.kind, false, m_stopped.load()});
        };
    }
    void Stopped() { m_stopped = true; }
    bool WaitFor(SourceEventKind kind, std::size_t count = 1) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(20),
                                  [&] { return CountLocked(kind) >= count; });
    }
    std::size_t Count(SourceEventKind kind) {
        std::lock_guard lock(m_mutex);
        return CountLocked(kind);
    }
    std::vector<Entry> Entries() {
        std::lock_guard lock(m_mutex);
        return m_entries;
    }

private:
    void Add(const Entry& entry) {
        std::lock_guard lock(m_mutex);
        m_entries.push_back(entry);
        m_changed.notify_all();
    }
    std::size_t CountLocked(SourceEventKind kind) const {
        return static_cast<std::size_t>(
            std::count_if(m_entries.begin(), m_entries.end(),
                          [&](const Entry& e) { return !e.scan && e.kind == kind; }));
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Entry> m_entries;
    std::atomic<bool> m_stopped{false};
};

// The receiver board on a scripted line; when the line hangs up, the port is
// opened again and the board answers the handshake.
struct BoardRig {
    SystemClock clock;
    BoardStack board{clock};
    // The port the link holds now: the link thread frees a lost one and
    // opens another.
    std::atomic<ScriptedPort*> port{nullptr};
    BoardSource source{board, clock};

    BoardRig() {
        auto first = std::make_unique<ScriptedPort>();
        port = first.get();
        board.com.Attach(std::move(first));
        board.com.SetReopen(CCom::ReopenMode::RetryPath, [this](std::string*) {
            auto again = std::make_unique<ScriptedPort>();
            again->Arrive(ValidFrame(frame::kSerial, {'1', '2', '3', '4', 0}));
            port = again.get();
            return again;
        });
    }
    bool WaitReady() { return true; }  // connected from the start
    // The board's frames for the scan asked for.
    void EndScan() {
        port.load()->Arrive(ValidFrame(frame::kScanStart));
        port.load()->Arrive(ValidFrame(frame::kScanEnd));
    }
    bool CanLose() const { return true; }
    void Lose() { port.load()->HangUp(); }
};

// The laptop's adapter, its kernel played by the test. A scan ends on its
// own; `endless` kernels never end one (a scan to stop in the middle of).
struct WifiRig {
    SystemClock clock;
    std::atomic<int> opened{0};
    std::atomic<bool> unplug{false};
    std::atomic<bool> endless{false};
    source::wifi::WifiScanSource source{Options(), clock, System()};

    static source::wifi::WifiSourceOptions Options() {
        source::wifi::WifiSourceOptions options;
        options.interface = "wlan0";
        options.retryMs = 1;
        return options;
    }
    std::unique_ptr<wifi::FakeSystem> System() {
        auto system = std::make_unique<wifi::FakeSystem>();
        system->next = [this] {
            auto* kernel = new wifi::FakeKernel;
            kernel->blocks = true;
            if (endless)
                kernel->scanEnd = 0;
            // The first adapter is unplugged at its next trigger when told.
            if (opened++ == 0 && unplug)
                kernel->triggerAnswers = {-ENODEV};
            return kernel;
        };
        return system;
    }
    // The first set-up says nothing when it succeeds: its state is watched
    // (a generous bound against a hung thread, not a timing check).
    bool WaitReady() {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (source.Status().state != SourceState::Ready &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
        return source.Status().state == SourceState::Ready;
    }
    void EndScan() {}
    bool CanLose() const { return true; }
    void Lose() {}  // the trigger fails with ENODEV (set before Start)
};

// A recording of the adapter, answered at once.
struct ReplayRig {
    SystemClock clock;
    TempDir dir;
    std::string path = Record(dir.File("scans.pcap"));
    source::wifi::ReplayScanSource source{path, true, clock};

    static std::string Record(const std::string& path) {
        std::string error;
        EXPECT_TRUE(wifi::WriteScansFixture(path, error)) << error;
        return path;
    }
    bool WaitReady() { return source.Status().state == SourceState::Ready; }
    void EndScan() {}
    bool CanLose() const { return false; }  // a recording ends, it does not come back
    void Lose() {}
};

template <typename Rig>
class ScanSourceContract : public ::testing::Test {
protected:
    Rig rig;
    Journal journal;
};

using Rigs = ::testing::Types<BoardRig, WifiRig, ReplayRig>;
TYPED_TEST_SUITE(ScanSourceContract, Rigs);

TYPED_TEST(ScanSourceContract, ReadyOnlyAfterTheScanIsRecordedAndItsEndComesAfter) {
    auto& source = this->rig.source;
    this->journal.Attach(source);
    source.Start();
    ASSERT_TRUE(this->rig.WaitReady());
    for (std::size_t scan = 1; scan <= 2; ++scan) {
        ASSERT_TRUE(source.RequestScan());
        if constexpr (std::is_same_v<TypeParam, BoardRig>) {
            // Until the board's frames come (the others may have ended already).
            EXPECT_TRUE(source.IsScanning()) << "from the request on";
        }
        this->rig.EndScan();
        ASSERT_TRUE(this->journal.WaitFor(SourceEventKind::ScanEnded, scan));
        EXPECT_FALSE(source.IsScanning());
    }
    source.Stop();
    std::vector<Entry> scans;
    std::vector<bool> scanBeforeEnd;
    bool recorded = false;
    for (const Entry& e : this->journal.Entries()) {
        if (e.scan) {
            scans.push_back(e);
            recorded = true;
        } else if (e.kind == SourceEventKind::ScanEnded) {
            scanBeforeEnd.push_back(recorded);
            recorded = false;
        }
    }
    ASSERT_EQ(scans.size(), 2u);
    for (const Entry& e : scans)
        EXPECT_TRUE(e.scanningWhileRecorded) << "still scanning while its point is recorded";
    EXPECT_EQ(scanBeforeEnd, (std::vector<bool>{true, true})) << "each onScan before its end";
}

TYPED_TEST(ScanSourceContract, StopWhileAScanRunsEndsEveryCallback) {
    auto& source = this->rig.source;
    if constexpr (std::is_same_v<TypeParam, WifiRig>)
        this->rig.endless = true;
    this->journal.Attach(source);
    source.Start();
    ASSERT_TRUE(this->rig.WaitReady());
    ASSERT_TRUE(source.RequestScan());
    source.Stop();
    this->journal.Stopped();
    this->rig.EndScan();  // a board's late frames find no thread to read them
    for (const Entry& e : this->journal.Entries())
        EXPECT_FALSE(e.afterStop);
}

TYPED_TEST(ScanSourceContract, LostOnceAndRestoredOnce) {
    if (!this->rig.CanLose())
        GTEST_SKIP() << "a recording that ends stays ended";
    auto& source = this->rig.source;
    if constexpr (std::is_same_v<TypeParam, WifiRig>)
        this->rig.unplug = true;
    this->journal.Attach(source);
    source.Start();
    ASSERT_TRUE(this->rig.WaitReady());
    this->rig.Lose();
    if constexpr (std::is_same_v<TypeParam, WifiRig>) {
        ASSERT_TRUE(source.RequestScan());  // the adapter is found gone at this scan
    }
    ASSERT_TRUE(this->journal.WaitFor(SourceEventKind::LinkLost));
    ASSERT_TRUE(this->journal.WaitFor(SourceEventKind::LinkRestored));
    EXPECT_FALSE(source.IsScanning());
    // Back and working: a reading is taken as before.
    ASSERT_TRUE(this->rig.WaitReady());
    ASSERT_TRUE(source.RequestScan());
    this->rig.EndScan();
    ASSERT_TRUE(this->journal.WaitFor(SourceEventKind::ScanEnded));
    source.Stop();
    EXPECT_EQ(this->journal.Count(SourceEventKind::LinkLost), 1u);
    EXPECT_EQ(this->journal.Count(SourceEventKind::LinkRestored), 1u);
}

// gpsd through a scripted connection: each Open and Read takes the next
// answer; with none left a Read waits (for a new answer or its wait's end),
// as a quiet gpsd does.
class ScriptedGpsd final : public source::GpsdClient {
public:
    ScriptedGpsd(std::deque<std::optional<std::string>> opens, std::deque<ReadResult> reads)
        : m_opens(std::move(opens)), m_reads(std::move(reads)) {}
    std::optional<std::string> Open(const std::string&, const std::string&) override {
        std::lock_guard lock(m_mutex);
        if (m_opens.empty())
            return std::nullopt;
        auto answer = m_opens.front();
        m_opens.pop_front();
        return answer;
    }
    void Close() override {}
    ReadResult Read(int waitMs, source::GpsdReport& report, std::string& error) override {
        std::unique_lock lock(m_mutex);
        if (!m_more.wait_for(lock, std::chrono::milliseconds(waitMs),
                             [&] { return !m_reads.empty(); }))
            return ReadResult::Nothing;
        const ReadResult r = m_reads.front();
        m_reads.pop_front();
        report = source::GpsdReport{};
        report.kind = source::GpsdReport::Kind::Tpv;
        report.mode = 3;
        report.latitude = 47.0;
        report.longitude = 8.0;
        error = "end of file";
        return r;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_more;
    std::deque<std::optional<std::string>> m_opens;
    std::deque<ReadResult> m_reads;
};

TEST(PositionSourceContract, GpsdOnItsThreadIsLostOnceRestoredOnceAndSilentAfterStop) {
    SystemClock clock;
    using Read = source::GpsdClient::ReadResult;
    // A fix, the connection drops, two refused attempts, then back with a fix.
    auto client = std::make_unique<ScriptedGpsd>(
        std::deque<std::optional<std::string>>{std::nullopt, "connection refused",
                                               "connection refused", std::nullopt},
        std::deque<Read>{Read::Report, Read::Lost, Read::Report});
    source::GpsdPosition gpsd(clock, {}, std::move(client), /*retryMs=*/1);
    Journal journal;
    journal.Attach(gpsd);
    gpsd.Start();
    ASSERT_TRUE(journal.WaitFor(SourceEventKind::PositionUpdate, 2));
    EXPECT_EQ(gpsd.Status().state, SourceState::Ready);
    EXPECT_TRUE(gpsd.Current().valid);
    gpsd.Stop();
    journal.Stopped();

    std::vector<SourceEventKind> kinds;
    for (const Entry& e : journal.Entries()) {
        kinds.push_back(e.kind);
        EXPECT_FALSE(e.afterStop);
    }
    // The first connection is no recovery; the refused attempts add nothing.
    EXPECT_EQ(kinds, (std::vector{SourceEventKind::PositionUpdate, SourceEventKind::LinkLost,
                                  SourceEventKind::LinkRestored, SourceEventKind::PositionUpdate}));
}

}  // namespace
}  // namespace ketrion::testing
