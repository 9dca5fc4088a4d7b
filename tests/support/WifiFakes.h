#pragma once

// A Wi-Fi adapter played by the test: the kernel's side of a netlink socket
// answering with messages built by libnl, NetworkManager, the system around
// them, and an observer of what a source's thread reports. Header-only.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "source/ScanSource.h"
#include "source/wifi/WifiScan.h"
#include "source/wifi/WifiScanSource.h"
#include "support/WifiMessages.h"

namespace ketrion::testing::wifi {

namespace msg = ketrion::testing::wifi;

constexpr std::uint64_t kSecond = 1'000'000'000ull;

// The kernel's side of one netlink socket.
struct FakeKernel final : source::wifi::NetlinkChannel {
    bool hasNl80211 = true;
    std::vector<std::pair<std::string, std::uint32_t>> interfaces{{"wlan0", msg::kIfindex}};
    std::deque<int> triggerAnswers;              // errors for successive triggers (0 when empty)
    int scanEnd = NL80211_CMD_NEW_SCAN_RESULTS;  // or SCAN_ABORTED, or 0: none comes
    std::vector<msg::BssSpec> results;
    bool joined = false;
    bool triggeredBeforeJoining = false;
    int triggers = 0;
    // True: a Receive waits (up to its timeout) for an answer or Interrupt,
    // as the real socket does; false: it returns at once when none is queued.
    bool blocks = false;
    std::deque<Bytes> queue;
    std::mutex mutex;
    std::condition_variable arrived;
    int wakes = 0;  // Interrupts not yet seen by a Receive (an eventfd's count)

    void Interrupt() override {
        std::lock_guard lock(mutex);
        ++wakes;
        arrived.notify_all();
    }

    void EndScan(std::uint32_t ifindex, int command) {
        if (command != 0)
            queue.push_back(msg::Event(static_cast<std::uint8_t>(command), ifindex));
        arrived.notify_all();
    }
    int Send(std::span<const std::uint8_t> d) override {
        std::lock_guard lock(mutex);
        const auto* header = reinterpret_cast<const nlmsghdr*>(d.data());
        const std::uint32_t seq = header->nlmsg_seq;
        const std::uint8_t command = d[NLMSG_HDRLEN];
        if (header->nlmsg_type == GENL_ID_CTRL) {
            if (!hasNl80211) {
                queue.push_back(msg::ErrorAnswer(seq, -ENOENT));
            } else {
                queue.push_back(msg::FamilyAnswer(seq));
                queue.push_back(msg::ErrorAnswer(seq, 0));
            }
            return 0;
        }
        // The adapter scanned is the first interface (the tests have one).
        const std::uint32_t ifindex = interfaces.front().second;
        switch (command) {
            case NL80211_CMD_GET_INTERFACE:
                for (const auto& [name, index] : interfaces)
                    queue.push_back(msg::InterfaceAnswer(seq, name, index, 0x10));
                queue.push_back(msg::Done(seq));
                break;
            case NL80211_CMD_TRIGGER_SCAN: {
                ++triggers;
                triggeredBeforeJoining = triggeredBeforeJoining || !joined;
                const int answer = triggerAnswers.empty() ? 0 : triggerAnswers.front();
                if (!triggerAnswers.empty())
                    triggerAnswers.pop_front();
                queue.push_back(msg::ErrorAnswer(seq, answer));
                if (answer == 0 || answer == -EBUSY)
                    EndScan(ifindex, answer == -EBUSY ? NL80211_CMD_NEW_SCAN_RESULTS : scanEnd);
                break;
            }
            case NL80211_CMD_GET_SCAN:
                for (msg::BssSpec spec : results) {
                    spec.ifindex = ifindex;
                    queue.push_back(msg::ScanResult(spec, seq));
                }
                queue.push_back(msg::Done(seq));
                break;
            case NL80211_CMD_GET_SURVEY:
                queue.push_back(msg::SurveyAnswer(seq, 2437, -91, true));
                queue.push_back(msg::Done(seq));
                break;
            default:
                queue.push_back(msg::ErrorAnswer(seq, -EOPNOTSUPP));
        }
        return 0;
    }
    int Receive(std::vector<std::uint8_t>& datagram, int timeoutMs) override {
        std::unique_lock lock(mutex);
        if (blocks)
            arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return wakes > 0 || !queue.empty(); });
        if (wakes > 0) {
            wakes = 0;
            return 0;
        }
        if (queue.empty())
            return 0;
        datagram = std::move(queue.front());
        queue.pop_front();
        return 1;
    }
    int JoinGroup(std::uint32_t group) override {
        joined = group == msg::kScanGroup;
        return 0;
    }
};

struct FakeNetworkManager final : source::wifi::ScanRequester {
    FakeKernel* kernel = nullptr;
    bool accepts = true;
    int requests = 0;
    bool RequestScan(const std::string& interface, std::string& why) override {
        ++requests;
        EXPECT_EQ(interface, "wlan0");
        if (!accepts) {
            why = "not authorized";
            return false;
        }
        std::lock_guard lock(kernel->mutex);
        kernel->EndScan(msg::kIfindex, NL80211_CMD_NEW_SCAN_RESULTS);
        return true;
    }
};

// A system whose kernel the test plays; the adapter's facts are set by hand.
struct FakeSystem final : source::wifi::WifiSystem {
    FakeKernel* kernel;  // handed out once per OpenChannel, owned by the source
    std::function<FakeKernel*()> next;
    source::wifi::AdapterFacts facts{true, true, false, false, "fakedrv", "phy0"};
    std::unique_ptr<source::wifi::NetlinkChannel> OpenChannel(int&) override {
        return std::unique_ptr<source::wifi::NetlinkChannel>(next());
    }
    source::wifi::AdapterFacts Facts(const std::string&) override { return facts; }
    source::wifi::ScanRequester* NetworkManager() override { return nullptr; }
    std::uint64_t BoottimeNs() override { return 100 * kSecond; }
};

// Collects what the source's thread reports and waits for it.
struct Observer {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<source::SourceEvent> events;
    std::vector<source::ScanResult> scans;

    void Attach(source::ScanSource& scanSource) {
        scanSource.onEvent = [this](const source::SourceEvent& e) {
            std::lock_guard lock(mutex);
            events.push_back(e);
            changed.notify_all();
        };
        scanSource.onScan = [this](const source::ScanResult& r) {
            std::lock_guard lock(mutex);
            scans.push_back(r);
            changed.notify_all();
        };
    }
    // Waits until an event of `kind` has come `count` times (a generous bound
    // against a hung thread, not a timing check).
    bool WaitFor(source::SourceEventKind kind, std::size_t count = 1) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20), [&] {
            return std::count_if(events.begin(), events.end(), [&](const source::SourceEvent& e) {
                       return e.kind == kind;
                   }) >= static_cast<long>(count);
        });
    }
};

}  // namespace ketrion::testing::wifi
