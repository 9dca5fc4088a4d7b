#include "source/wifi/Nl80211Client.h"

#include <linux/netlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "source/wifi/Requests.h"

namespace ketrion::source::wifi {
namespace {

// The kernel answers a request at once; a dump of a few hundred BSSs takes
// milliseconds. Longer than this means the kernel side is stuck.
constexpr int kAnswerTimeoutMs = 5000;
// Large enough for any datagram the kernel sends (dumps fill up to 32 KiB).
constexpr std::size_t kReceiveBuffer = 256 * 1024;
// Socket receive buffer: a burst of scan events and dump parts must not overrun it.
constexpr int kSocketBuffer = 1024 * 1024;

std::int64_t MonotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::uint64_t BoottimeNs() {
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000ull +
           static_cast<std::uint64_t>(now.tv_nsec);
}

NetlinkSocket::NetlinkSocket() = default;

NetlinkSocket::~NetlinkSocket() {
    if (m_fd >= 0)
        close(m_fd);
    if (m_wake >= 0)
        close(m_wake);
}

int NetlinkSocket::Open() {
    m_fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_GENERIC);
    if (m_fd < 0)
        return -errno;
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    if (bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return -errno;
    setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &kSocketBuffer, sizeof kSocketBuffer);
    m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wake < 0)
        return -errno;
    return 0;
}

int NetlinkSocket::Send(std::span<const std::uint8_t> datagram) {
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    const ssize_t sent = sendto(m_fd, datagram.data(), datagram.size(), 0,
                                reinterpret_cast<sockaddr*>(&kernel), sizeof kernel);
    if (sent < 0)
        return -errno;
    return static_cast<std::size_t>(sent) == datagram.size() ? 0 : -EMSGSIZE;
}

int NetlinkSocket::Receive(std::vector<std::uint8_t>& datagram, int timeoutMs) {
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wake, POLLIN, 0}};
    const int ready = poll(fds, 2, timeoutMs < 0 ? 0 : timeoutMs);
    if (ready < 0)
        return errno == EINTR ? 0 : -errno;
    if (fds[1].revents & POLLIN) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = read(m_wake, &count, sizeof count);
        return 0;
    }
    if (ready == 0)
        return 0;
    datagram.resize(kReceiveBuffer);
    const ssize_t got = recv(m_fd, datagram.data(), datagram.size(), MSG_TRUNC);
    if (got < 0) {
        datagram.clear();
        return errno == EAGAIN || errno == EINTR ? 0 : -errno;
    }
    if (static_cast<std::size_t>(got) > datagram.size()) {
        datagram.clear();
        return -EMSGSIZE;
    }
    datagram.resize(static_cast<std::size_t>(got));
    return 1;
}

int NetlinkSocket::JoinGroup(std::uint32_t group) {
    const int id = static_cast<int>(group);
    if (setsockopt(m_fd, SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &id, sizeof id) != 0)
        return -errno;
    return 0;
}

void NetlinkSocket::Interrupt() {
    if (m_wake >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = write(m_wake, &one, sizeof one);
    }
}

int Nl80211Client::Exchange(const std::vector<std::uint8_t>& request, std::uint32_t seq,
                            const std::function<void(const NetlinkMessage&)>& answer) {
    if (request.empty())
        return -ENOMEM;
    if (onTraffic)
        onTraffic(Direction::ToKernel, request);
    if (const int sent = m_channel.Send(request); sent < 0)
        return sent;
    const std::int64_t deadline = MonotonicMs() + kAnswerTimeoutMs;
    std::vector<std::uint8_t> datagram;
    std::vector<NetlinkMessage> messages;
    for (;;) {
        const std::int64_t left = deadline - MonotonicMs();
        if (left <= 0)
            return -ETIMEDOUT;
        const int got = m_channel.Receive(datagram, static_cast<int>(left));
        if (got < 0) {
            if (got == -ENOBUFS)
                continue;  // multicast events were lost; the answer still comes
            return got;
        }
        if (got == 0)
            continue;
        if (onTraffic)
            onTraffic(Direction::FromKernel, datagram);
        messages.clear();
        m_decoder.Decode(datagram, messages);
        bool finished = false;
        int result = 0;
        for (NetlinkMessage& message : messages) {
            if (message.seq != seq || message.seq == 0) {
                if (message.kind == MessageKind::ScanFinished ||
                    message.kind == MessageKind::ScanAborted)
                    m_events.push_back(std::move(message));
                continue;
            }
            if (message.kind == MessageKind::Done) {
                finished = true;
            } else if (message.kind == MessageKind::Error) {
                finished = true;
                result = message.error > 0 ? -message.error : message.error;
            } else if (answer) {
                answer(message);
            }
        }
        if (finished)
            return result;
    }
}

int Nl80211Client::Resolve() {
    const std::uint32_t seq = NextSeq();
    bool named = false;
    const int result =
        Exchange(FamilyRequest(seq, "nl80211"), seq, [&](const NetlinkMessage& message) {
            if (message.kind != MessageKind::FamilyAnswer || message.familyName != "nl80211")
                return;
            named = true;
            for (const auto& [name, id] : message.groups)
                if (name == "scan")
                    m_scanGroup = id;
        });
    if (result < 0)
        return result;
    return named && m_decoder.Family() ? 0 : -ENOENT;
}

int Nl80211Client::JoinScanGroup() {
    if (!m_scanGroup)
        return -ENOENT;
    return m_channel.JoinGroup(*m_scanGroup);
}

int Nl80211Client::ListInterfaces(std::vector<InterfaceInfo>& out) {
    if (!Family())
        return -ENOENT;
    const std::uint32_t seq = NextSeq();
    return Exchange(InterfacesRequest(*Family(), seq), seq, [&](const NetlinkMessage& message) {
        if (message.kind == MessageKind::Interface)
            out.push_back(*message.interface);
    });
}

int Nl80211Client::Trigger(std::uint32_t ifindex, bool passive) {
    if (!Family())
        return -ENOENT;
    // Events of earlier scans are no answer to this one.
    std::erase_if(m_events, [&](const NetlinkMessage& m) { return m.ifindex == ifindex; });
    const std::uint32_t seq = NextSeq();
    return Exchange(TriggerRequest(*Family(), seq, ifindex, passive), seq, nullptr);
}

ScanEnd Nl80211Client::WaitForScanEnd(std::uint32_t ifindex, int timeoutMs, int& error) {
    error = 0;
    const std::int64_t deadline = MonotonicMs() + timeoutMs;
    std::vector<std::uint8_t> datagram;
    std::vector<NetlinkMessage> messages;
    for (;;) {
        while (!m_events.empty()) {
            const NetlinkMessage event = std::move(m_events.front());
            m_events.pop_front();
            if (event.ifindex != ifindex)
                continue;
            if (event.kind == MessageKind::ScanFinished)
                return ScanEnd::Results;
            if (event.kind == MessageKind::ScanAborted)
                return ScanEnd::Aborted;
        }
        const std::int64_t left = deadline - MonotonicMs();
        if (left <= 0)
            return ScanEnd::Timeout;
        const int got = m_channel.Receive(datagram, static_cast<int>(left));
        if (got == -ENOBUFS)
            continue;
        if (got < 0) {
            error = got;
            return ScanEnd::Failed;
        }
        if (got == 0) {
            // Interrupted, or the time ran out: the caller looks at why.
            return ScanEnd::Timeout;
        }
        if (onTraffic)
            onTraffic(Direction::FromKernel, datagram);
        messages.clear();
        m_decoder.Decode(datagram, messages);
        for (NetlinkMessage& message : messages)
            if (message.kind == MessageKind::ScanFinished ||
                message.kind == MessageKind::ScanAborted)
                m_events.push_back(std::move(message));
    }
}

int Nl80211Client::DumpScan(std::uint32_t ifindex, std::vector<Bss>& out) {
    if (!Family())
        return -ENOENT;
    const std::uint32_t seq = NextSeq();
    return Exchange(ScanDumpRequest(*Family(), seq, ifindex), seq,
                    [&](const NetlinkMessage& message) {
                        if (message.kind == MessageKind::ScanResult &&
                            (!message.ifindex || *message.ifindex == ifindex))
                            out.push_back(*message.bss);
                    });
}

int Nl80211Client::DumpSurvey(std::uint32_t ifindex, std::vector<SurveyEntry>& out) {
    if (!Family())
        return -ENOENT;
    const std::uint32_t seq = NextSeq();
    return Exchange(
        SurveyRequest(*Family(), seq, ifindex), seq, [&](const NetlinkMessage& message) {
            if (message.kind == MessageKind::Survey && message.surveyFrequencyMhz)
                out.push_back(
                    {*message.surveyFrequencyMhz, message.surveyNoiseDbm, message.surveyInUse});
        });
}

}  // namespace ketrion::source::wifi
