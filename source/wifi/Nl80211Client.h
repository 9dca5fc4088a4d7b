#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "source/wifi/Netlink.h"
#include "source/wifi/Recording.h"

namespace ketrion::source::wifi {

// One generic-netlink socket as the scan logic uses it. The real one is
// NetlinkSocket; tests answer with messages built by libnl.
class NetlinkChannel {
public:
    virtual ~NetlinkChannel() = default;
    // Sends one datagram to the kernel: 0, or a negative errno.
    virtual int Send(std::span<const std::uint8_t> datagram) = 0;
    // Waits up to `timeoutMs` for one datagram: 1 with `datagram` filled, 0
    // when the time ran out or Interrupt was called, or a negative errno.
    virtual int Receive(std::vector<std::uint8_t>& datagram, int timeoutMs) = 0;
    // Joins a multicast group: 0, or a negative errno.
    virtual int JoinGroup(std::uint32_t group) = 0;
    // Makes a Receive in progress (or the next one) return 0 at once; any thread.
    virtual void Interrupt() {}
};

// The real socket: AF_NETLINK, NETLINK_GENERIC, with a wake-up descriptor
// for Interrupt. Opening fails only when the kernel has no netlink at all.
class NetlinkSocket final : public NetlinkChannel {
public:
    NetlinkSocket();
    ~NetlinkSocket() override;
    NetlinkSocket(const NetlinkSocket&) = delete;
    NetlinkSocket& operator=(const NetlinkSocket&) = delete;

    // 0, or a negative errno.
    int Open();
    int Send(std::span<const std::uint8_t> datagram) override;
    int Receive(std::vector<std::uint8_t>& datagram, int timeoutMs) override;
    int JoinGroup(std::uint32_t group) override;
    void Interrupt() override;

private:
    int m_fd = -1;
    int m_wake = -1;
};

// How a wait for the end of a scan ended.
enum class ScanEnd : std::uint8_t {
    Results,  // NEW_SCAN_RESULTS for the interface
    Aborted,  // SCAN_ABORTED for the interface
    Timeout,  // nothing within the time given
    Failed,   // the socket failed (error set)
};

// One channel of a GET_SURVEY dump.
struct SurveyEntry {
    int frequencyMhz = 0;
    std::optional<int> noiseDbm;
    bool inUse = false;
};

// Speaks nl80211 over a channel: finds the family and its "scan" group,
// lists interfaces, starts scans, waits for their end and reads the results.
// Multicast events that arrive while an answer is awaited are kept for the
// next wait. Every call returns 0 or a negative errno (the kernel's answer).
class Nl80211Client {
public:
    explicit Nl80211Client(NetlinkChannel& channel) : m_channel(channel) {}

    // Every datagram sent and received, for a recording.
    std::function<void(Direction, std::span<const std::uint8_t>)> onTraffic;

    // Asks the controller for nl80211. -ENOENT: the kernel has no nl80211.
    int Resolve();
    // Joins the "scan" group (before triggering, so no end is missed).
    int JoinScanGroup();
    int ListInterfaces(std::vector<InterfaceInfo>& out);
    // -EBUSY: a scan is already running; -EPERM: not allowed (no CAP_NET_ADMIN);
    // -ENETDOWN: interface down; -ERFKILL: radio blocked; -ENODEV: no such interface.
    int Trigger(std::uint32_t ifindex, bool passive);
    ScanEnd WaitForScanEnd(std::uint32_t ifindex, int timeoutMs, int& error);
    int DumpScan(std::uint32_t ifindex, std::vector<Bss>& out);
    int DumpSurvey(std::uint32_t ifindex, std::vector<SurveyEntry>& out);

    std::optional<std::uint16_t> Family() const { return m_decoder.Family(); }

private:
    // Sends `request` (sequence `seq`) and reads answers until its
    // acknowledgement, error or end of dump; each answer of this request is
    // passed to `answer`. 0, -ETIMEDOUT or the kernel's error.
    int Exchange(const std::vector<std::uint8_t>& request, std::uint32_t seq,
                 const std::function<void(const NetlinkMessage&)>& answer);
    std::uint32_t NextSeq() { return ++m_seq; }

    NetlinkChannel& m_channel;
    MessageDecoder m_decoder;
    std::optional<std::uint32_t> m_scanGroup;
    std::deque<NetlinkMessage> m_events;
    std::uint32_t m_seq = 0;
};

// Nanoseconds on CLOCK_BOOTTIME, the clock of NL80211_BSS_LAST_SEEN_BOOTTIME.
std::uint64_t BoottimeNs();

}  // namespace ketrion::source::wifi
