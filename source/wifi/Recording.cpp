#include "source/wifi/Recording.h"

#include <fcntl.h>
#include <linux/netlink.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ketrion::source::wifi {
namespace {

// The cooked header's fields, in network byte order.
constexpr std::uint16_t kPacketToUs = 0;         // PACKET_HOST: the kernel sent it
constexpr std::uint16_t kPacketOutgoing = 4;     // PACKET_OUTGOING: a process sent it
constexpr std::uint16_t kHardwareNetlink = 824;  // ARPHRD_NETLINK
constexpr std::size_t kProtocolAt = 14;
// Large enough for any netlink datagram the kernel sends to a process.
constexpr int kSnapLength = 262144;

std::uint16_t Get16Be(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
void Put16Be(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}

// Opens a regular file for reading without waiting on a fifo or device.
FILE* OpenRegularForReading(const std::string& path, std::string& error) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "cannot open " + path + ": not a regular file";
        close(fd);
        return nullptr;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    FILE* file = fdopen(fd, "rb");
    if (file == nullptr) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        close(fd);
    }
    return file;
}

}  // namespace

struct CaptureReader::Impl {
    pcap_t* pcap = nullptr;
    ~Impl() {
        if (pcap != nullptr)
            pcap_close(pcap);
    }
};

CaptureReader::CaptureReader() : m_impl(std::make_unique<Impl>()) {}
CaptureReader::~CaptureReader() = default;

bool CaptureReader::Open(const std::string& path, std::string& error) {
    FILE* file = OpenRegularForReading(path, error);
    if (file == nullptr)
        return false;
    char pcapError[PCAP_ERRBUF_SIZE] = {};
    // libpcap owns the file from here, also when it refuses it.
    m_impl->pcap =
        pcap_fopen_offline_with_tstamp_precision(file, PCAP_TSTAMP_PRECISION_MICRO, pcapError);
    if (m_impl->pcap == nullptr) {
        error = path + " is not a capture file libpcap can read: " + pcapError;
        return false;
    }
    const int linkType = pcap_datalink(m_impl->pcap);
    if (linkType != kLinkTypeNetlink) {
        error = path + " is a capture of link type " + std::to_string(linkType) +
                ", not netlink (" + std::to_string(kLinkTypeNetlink) + ")";
        return false;
    }
    return true;
}

bool CaptureReader::Next(CapturedPacket& packet, std::string& error) {
    error.clear();
    if (m_impl->pcap == nullptr)
        return false;
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    const int status = pcap_next_ex(m_impl->pcap, &header, &data);
    if (status == PCAP_ERROR_BREAK)
        return false;
    if (status != 1) {
        error = std::string("the file is damaged: ") + pcap_geterr(m_impl->pcap);
        return false;
    }
    if (header->caplen < kCookedHeaderSize) {
        error = "the file is damaged: a packet of " + std::to_string(header->caplen) +
                " bytes is shorter than its header";
        return false;
    }
    packet.timeUs = static_cast<std::int64_t>(header->ts.tv_sec) * 1'000'000 + header->ts.tv_usec;
    packet.protocol = Get16Be(data + kProtocolAt);
    packet.bytes.assign(data + kCookedHeaderSize, data + header->caplen);
    if (header->caplen < header->len) {
        error = "the file is damaged: a packet was cut at capture (" +
                std::to_string(header->caplen) + " of " + std::to_string(header->len) + " bytes)";
    }
    return true;
}

struct CaptureWriter::Impl {
    pcap_t* pcap = nullptr;
    pcap_dumper_t* dumper = nullptr;
    ~Impl() {
        if (dumper != nullptr)
            pcap_dump_close(dumper);
        if (pcap != nullptr)
            pcap_close(pcap);
    }
};

CaptureWriter::CaptureWriter() : m_impl(std::make_unique<Impl>()) {}
CaptureWriter::~CaptureWriter() = default;

bool CaptureWriter::Open(const std::string& path, std::string& error) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        close(fd);
        return false;
    }
    m_impl->pcap = pcap_open_dead_with_tstamp_precision(kLinkTypeNetlink, kSnapLength,
                                                        PCAP_TSTAMP_PRECISION_MICRO);
    if (m_impl->pcap != nullptr)
        m_impl->dumper = pcap_dump_fopen(m_impl->pcap, file);
    if (m_impl->dumper == nullptr) {
        error = "cannot write a capture to " + path;
        std::fclose(file);
        return false;
    }
    return true;
}

bool CaptureWriter::Write(std::int64_t timeUs, Direction direction,
                          std::span<const std::uint8_t> netlink, std::string& error) {
    if (m_impl->dumper == nullptr) {
        error = "the capture file is not open";
        return false;
    }
    if (netlink.size() > static_cast<std::size_t>(kSnapLength) - kCookedHeaderSize) {
        error = "a netlink datagram of " + std::to_string(netlink.size()) +
                " bytes is too large to record";
        return false;
    }
    std::vector<std::uint8_t> packet(kCookedHeaderSize + netlink.size());
    Put16Be(&packet[0], direction == Direction::FromKernel ? kPacketToUs : kPacketOutgoing);
    Put16Be(&packet[2], kHardwareNetlink);
    Put16Be(&packet[kProtocolAt], kNetlinkGeneric);
    if (!netlink.empty())
        std::memcpy(packet.data() + kCookedHeaderSize, netlink.data(), netlink.size());
    pcap_pkthdr header{};
    header.ts.tv_sec = static_cast<time_t>(timeUs / 1'000'000);
    header.ts.tv_usec = static_cast<suseconds_t>(timeUs % 1'000'000);
    header.caplen = header.len = static_cast<bpf_u_int32>(packet.size());
    pcap_dump(reinterpret_cast<u_char*>(m_impl->dumper), &header, packet.data());
    return true;
}

bool CaptureWriter::Close(std::string& error) {
    if (m_impl->dumper == nullptr)
        return true;
    FILE* file = pcap_dump_file(m_impl->dumper);
    bool ok = pcap_dump_flush(m_impl->dumper) == 0 && std::ferror(file) == 0;
    ok = ok && fsync(fileno(file)) == 0;
    pcap_dump_close(m_impl->dumper);
    m_impl->dumper = nullptr;
    if (!ok)
        error = std::string("the capture could not be written whole: ") + std::strerror(errno);
    return ok;
}

bool ScanAssembler::Feed(std::span<const std::uint8_t> datagram, std::int64_t timeUs,
                         std::vector<RecordedScan>& done) {
    m_messages.clear();
    const bool whole = m_decoder.Decode(datagram, m_messages);
    for (const NetlinkMessage& message : m_messages) {
        switch (message.kind) {
            case MessageKind::Request:
                if (message.command == kCmdGetScan && (message.flags & NLM_F_DUMP) == NLM_F_DUMP)
                    m_requested.insert(message.seq);
                break;
            case MessageKind::ScanResult: {
                auto [it, fresh] = m_open.try_emplace(message.seq);
                if (fresh) {
                    it->second.timeUs = timeUs;
                    it->second.aborted = m_abortPending;
                    m_abortPending = false;
                }
                it->second.results.push_back(*message.bss);
                break;
            }
            case MessageKind::Done: {
                auto it = m_open.find(message.seq);
                if (it != m_open.end()) {
                    it->second.complete = true;
                    done.push_back(std::move(it->second));
                    m_open.erase(it);
                } else if (m_requested.count(message.seq) != 0) {
                    RecordedScan empty;
                    empty.timeUs = timeUs;
                    empty.complete = true;
                    empty.aborted = m_abortPending;
                    m_abortPending = false;
                    done.push_back(std::move(empty));
                }
                m_requested.erase(message.seq);
                break;
            }
            case MessageKind::Error:
                // A dump refused or broken off by the kernel ends there.
                if (message.error != 0)
                    m_requested.erase(message.seq);
                break;
            case MessageKind::ScanAborted:
                m_abortPending = true;
                break;
            case MessageKind::ScanStarted:
            case MessageKind::ScanFinished:
                m_abortPending = false;
                break;
            default:
                // A result that cannot be read still belongs to its dump:
                // counted there (a dump whose every result is damaged still
                // shows as a scan).
                if (message.damagedBss) {
                    auto [it, fresh] = m_open.try_emplace(message.seq);
                    if (fresh) {
                        it->second.timeUs = timeUs;
                        it->second.aborted = m_abortPending;
                        m_abortPending = false;
                    }
                    ++it->second.damagedBss;
                }
                break;
        }
    }
    return whole;
}

std::vector<RecordedScan> ScanAssembler::TakeUnfinished() {
    std::vector<RecordedScan> open;
    for (auto& [seq, scan] : m_open)
        open.push_back(std::move(scan));
    m_open.clear();
    std::stable_sort(open.begin(), open.end(), [](const RecordedScan& a, const RecordedScan& b) {
        return a.timeUs < b.timeUs;
    });
    return open;
}

bool RecordingReader::Open(const std::string& path, std::string& error) {
    return m_reader.Open(path, error);
}

bool RecordingReader::Next(RecordedScan& scan) {
    while (m_nextReady == m_ready.size()) {
        m_ready.clear();
        m_nextReady = 0;
        if (m_ended)
            return false;
        CapturedPacket packet;
        std::string error;
        if (m_reader.Next(packet, error)) {
            // Other netlink protocols of an nlmon capture (routing, ...) are not ours.
            if (packet.protocol == kNetlinkGeneric &&
                !m_assembler.Feed(packet.bytes, packet.timeUs, m_ready))
                error = "the file is damaged: a packet ends inside a netlink message";
            if (error.empty())
                continue;
        }
        // The end of the file, or damage: what was still open comes last.
        m_ended = true;
        std::vector<RecordedScan> unfinished = m_assembler.TakeUnfinished();
        if (!unfinished.empty() && error.empty())
            error = "the recording ends inside a scan's results (no end of dump)";
        m_damage = error;
        for (RecordedScan& open : unfinished)
            m_ready.push_back(std::move(open));
    }
    scan = std::move(m_ready[m_nextReady++]);
    m_damagedBss += scan.damagedBss;
    return true;
}

Recording ReadRecording(const std::string& path) {
    Recording recording;
    RecordingReader reader;
    if (!reader.Open(path, recording.damage))
        return recording;
    recording.opened = true;
    RecordedScan scan;
    while (reader.Next(scan))
        recording.scans.push_back(std::move(scan));
    recording.damage = reader.Damage();
    recording.damagedBss = reader.DamagedBss();
    return recording;
}

}  // namespace ketrion::source::wifi
