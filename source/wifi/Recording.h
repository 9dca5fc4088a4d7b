#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "source/wifi/Netlink.h"

namespace ketrion::source::wifi {

// Capture files of netlink traffic: pcap, link type 253 (LINKTYPE_NETLINK),
// each packet a 16-byte cooked header (packet type, hardware type, address
// length, address, netlink protocol) and then one or more netlink messages.
constexpr int kLinkTypeNetlink = 253;
constexpr std::size_t kCookedHeaderSize = 16;
constexpr std::uint16_t kNetlinkGeneric = 16;  // NETLINK_GENERIC, the header's protocol

// Which way a message went, as the cooked header's packet type says it.
enum class Direction : std::uint8_t { FromKernel, ToKernel };

// One captured packet's netlink bytes (the cooked header taken off).
struct CapturedPacket {
    std::int64_t timeUs = 0;  // capture time, microseconds since 1970
    std::uint16_t protocol = 0;
    std::vector<std::uint8_t> bytes;
};

// Reads a capture file packet by packet with libpcap.
class CaptureReader {
public:
    CaptureReader();
    ~CaptureReader();
    CaptureReader(const CaptureReader&) = delete;
    CaptureReader& operator=(const CaptureReader&) = delete;

    // Opens a regular file; false with `error` set (a fifo or device is refused
    // without waiting on it; another link type is refused).
    bool Open(const std::string& path, std::string& error);
    // The next packet; false at the end of the file, or with `error` set when
    // the file is damaged there.
    bool Next(CapturedPacket& packet, std::string& error);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Writes a capture file with libpcap, one packet per netlink datagram.
class CaptureWriter {
public:
    CaptureWriter();
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter&) = delete;
    CaptureWriter& operator=(const CaptureWriter&) = delete;

    bool Open(const std::string& path, std::string& error);
    bool Write(std::int64_t timeUs, Direction direction, std::span<const std::uint8_t> netlink,
               std::string& error);
    // Flushes and closes; false when the data could not all be written.
    bool Close(std::string& error);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// One scan of a recording: the results of one GET_SCAN dump.
struct RecordedScan {
    std::int64_t timeUs = 0;  // capture time of the dump's first answer
    std::vector<Bss> results;
    bool aborted = false;        // the scan before this dump was aborted
    bool complete = false;       // its NLMSG_DONE was seen
    std::size_t damagedBss = 0;  // results of its dump that could not be read (left out)
};

// Groups the messages of a capture into scans: a scan is the run of
// NEW_SCAN_RESULTS answers of one dump (matched by sequence number), ended by
// NLMSG_DONE. A GET_SCAN dump request whose answer is only NLMSG_DONE is a
// scan with no results.
class ScanAssembler {
public:
    // Feeds one datagram captured at `timeUs`; finished scans go to `done`.
    // False when the datagram ends in bytes that are not a whole message
    // (its whole messages still count).
    bool Feed(std::span<const std::uint8_t> datagram, std::int64_t timeUs,
              std::vector<RecordedScan>& done);
    // Dumps still open (no NLMSG_DONE yet), oldest first; forgets them.
    std::vector<RecordedScan> TakeUnfinished();

    const MessageDecoder& Decoder() const { return m_decoder; }

private:
    MessageDecoder m_decoder;
    std::map<std::uint32_t, RecordedScan> m_open;  // by sequence number
    std::set<std::uint32_t> m_requested;           // GET_SCAN dump requests not yet answered
    std::vector<NetlinkMessage> m_messages;
    bool m_abortPending = false;
};

// A recording read scan by scan, holding only the scans whose dumps are
// still open: a capture of any length is decoded in the memory of a few
// scans. Scans come in the order their dumps ended, the unfinished ones last.
class RecordingReader {
public:
    // False with `error` set when the file cannot be read as a capture.
    bool Open(const std::string& path, std::string& error);
    // The next scan; false at the end (or at damage: Damage() says what).
    bool Next(RecordedScan& scan);
    // What was wrong with the file, empty while it reads whole.
    const std::string& Damage() const { return m_damage; }
    // Scan results that could not be read, in the scans given so far.
    std::size_t DamagedBss() const { return m_damagedBss; }

private:
    CaptureReader m_reader;
    ScanAssembler m_assembler;
    std::vector<RecordedScan> m_ready;  // finished, not yet given (oldest first)
    std::size_t m_nextReady = 0;
    bool m_ended = false;
    std::string m_damage;
    std::size_t m_damagedBss = 0;
};

// A whole recording read into scans, in the order their dumps ended (an
// unfinished dump last). `damage` says what was wrong with the file, empty
// when it was read whole.
struct Recording {
    std::vector<RecordedScan> scans;
    std::string damage;
    bool opened = false;         // false: `damage` says why the file could not be read
    std::size_t damagedBss = 0;  // scan results that could not be read, in every scan
};

Recording ReadRecording(const std::string& path);

}  // namespace ketrion::source::wifi
