#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ketrion::collection {

// Layout of a collection file ("ktd"), all integers little-endian:
//   header (25 bytes)   length 25, magic " KTD", version 1, 4 zero bytes,
//                       int64 creation time (s since 1970 UTC), int32 offset of
//                       the record-size block (25)
//   record-size block   int32 location record length (61), int32 reading
//                       record length (41)
//   points              one location record, then as many reading records as
//                       its reading count says; repeated to the end of the file
inline constexpr std::size_t kHeaderSize = 25;
inline constexpr std::size_t kSizeBlockSize = 8;
inline constexpr std::size_t kLocationSize = 61;
inline constexpr std::size_t kReadingSize = 41;
inline constexpr std::int64_t kFirstRecord = 33;  // header + record-size block
inline constexpr std::uint8_t kMagic[4] = {0x20, 'K', 'T', 'D'};
inline constexpr std::uint8_t kVersion = 1;

// Offsets in the header.
inline constexpr std::size_t kHeaderLengthAt = 0;
inline constexpr std::size_t kMagicAt = 4;
inline constexpr std::size_t kVersionAt = 8;
inline constexpr std::size_t kCreatedAt = 13;
inline constexpr std::size_t kSizeBlockAt = 21;

// Offsets in a location record.
inline constexpr std::size_t kLatitudeAt = 0;   // int32, 1/3,600,000 degree
inline constexpr std::size_t kLongitudeAt = 4;  // int32
inline constexpr std::size_t kMonthAt = 8;
inline constexpr std::size_t kDayAt = 9;
inline constexpr std::size_t kYearAt = 10;  // uint16
inline constexpr std::size_t kHourAt = 12;
inline constexpr std::size_t kMinuteAt = 13;
inline constexpr std::size_t kSecondAt = 14;
inline constexpr std::size_t kFractionAt = 15;  // 4 bytes in the GPS report's order
inline constexpr std::size_t kHeightAt = 19;    // int32
inline constexpr std::size_t kSpeed3DAt = 23;   // int16
inline constexpr std::size_t kSpeed2DAt = 25;   // int16
inline constexpr std::size_t kHeadingAt = 27;   // int16
inline constexpr std::size_t kFixClassAt = 29;  // 1 2D fix, 2 3D fix, 0 other
inline constexpr std::size_t kCountAt = 30;     // uint16 reading records that follow
inline constexpr std::size_t kKindAt = 60;      // 0 survey point, 1 dynamic access point

// Offsets in a reading record.
inline constexpr std::size_t kAttributeAt = 0;
inline constexpr std::size_t kSignalAt = 1;  // int16, 1/256 dBm
inline constexpr std::size_t kMacAt = 3;     // 6 bytes
inline constexpr std::size_t kSsidAt = 9;    // 32 bytes, zero-terminated
inline constexpr std::size_t kSsidField = 32;

inline constexpr std::uint8_t kKindSurvey = 0;
inline constexpr std::uint8_t kKindDynamicAp = 1;

// Most points a file may hold to be loaded or analysed: far beyond any survey
// (a point every two seconds for three weeks) yet a bounded 24 MB of memory
// in the program, so a huge file of zero bytes is refused instead of filling
// the memory.
inline constexpr std::size_t kMaxLoadedPoints = 1'000'000;

// Little-endian field access on record buffers.
inline void Put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void Put64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint16_t Get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Get32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}
inline std::uint64_t Get64(const std::uint8_t* p) {
    return std::uint64_t{Get32(p)} | std::uint64_t{Get32(p + 4)} << 32;
}

// Fills the 33 bytes of a new file's header and record-size block.
void EncodeHeader(std::int64_t created, std::uint8_t (&out)[kFirstRecord]);

// A reading record's signal in whole dBm: the stored 1/256 dBm divided by 256,
// truncated toward zero.
inline int SignalDbm(const std::uint8_t* reading) {
    return static_cast<std::int16_t>(Get16(reading + kSignalAt)) / 256;
}

// The network name of a reading record: at most 32 bytes, up to the first zero.
std::string Ssid(const std::uint8_t* reading);

// Whether the first bytes of a record found where a location record should
// start can be one: every writer stores a fix class of 0, 1 or 2. A walk that
// lost its step (a reading count changed by damage) lands on reading bytes,
// where that byte is usually a character of a network name.
inline bool PlausibleLocation(const std::uint8_t* record) {
    return record[kFixClassAt] <= 2;
}
// Likewise for a reading record: names are at most 31 bytes, so the last byte
// of the 32-byte name field is always zero.
inline bool PlausibleReading(const std::uint8_t* record) {
    return record[kSsidAt + kSsidField - 1] == 0;
}

// The header fields and record sizes as a file holds them.
struct Header {
    std::uint8_t bytes[kHeaderSize] = {};
    std::int32_t sizeBlockOffset = 0;
    std::int32_t locationSize = 0;
    std::int32_t readingSize = 0;
};

// Why a file cannot be walked.
enum class Damage {
    None,
    ShortHeader,       // shorter than the 25-byte header
    SizeBlockOutside,  // the record-size block is not (wholly) inside the file
    SizesTooSmall,     // record sizes below 61 / 41 bytes
};

// The clear text for a damaged file, naming it.
std::string DamageText(Damage damage, const std::string& path, const Header& header);

// The text for a file of more than kMaxLoadedPoints points, naming it.
std::string TooManyPointsText(const std::string& path);

// Reads a collection file front to back through a large buffer, so that walking
// a file of many small records costs about as much as reading its bytes. Record
// sizes from the file are untrusted: the reader copies at most the bytes the
// program uses and skips the rest. Positions are 64-bit. Works on an open file
// descriptor it does not own.
class Reader {
public:
    explicit Reader(int fd, std::size_t bufferSize = 256 * 1024);

    // Reads the header and the record sizes and positions the reader on the
    // first location record. Any Damage other than None leaves nothing to walk.
    Damage Open(Header& header);

    // Reads one location record: the first 61 bytes into `record` and skips the
    // rest of the file's location size. `offset` receives the record's file
    // offset. Returns false at the end of the file or when the record is cut off.
    bool NextLocation(std::uint8_t (&record)[kLocationSize], std::int64_t& offset);
    // Reads one reading record likewise; false when the file ends inside it.
    bool NextReading(std::uint8_t (&record)[kReadingSize]);

    // The same two reads without copying when the record lies whole in the
    // buffer: returns a pointer to the record's first bytes (valid until the
    // next call), or to `scratch` holding a copy; nullptr where the bool
    // versions return false.
    const std::uint8_t* NextLocationView(std::uint8_t (&scratch)[kLocationSize],
                                         std::int64_t& offset);
    const std::uint8_t* NextReadingView(std::uint8_t (&scratch)[kReadingSize]);

    // File offset of the next unread byte.
    std::int64_t Position() const { return m_position; }
    // Moves to an absolute file offset.
    void Seek(std::int64_t offset);
    // Reads no byte at or past `end` (the size the file had when a reader
    // that shares it with a recording program opened it): points appended
    // meanwhile, perhaps half written, are left for the next reading.
    void LimitTo(std::int64_t end) { m_limit = end; }
    // Set when a read failed with an I/O error (not at the end of the file).
    int Error() const { return m_error; }

private:
    // Copies up to `length` bytes to `out` (may be null: skip), returning how many came.
    std::int64_t Take(std::uint8_t* out, std::int64_t length);
    bool Fill();
    const std::uint8_t* NextRecord(std::int64_t size, std::uint8_t* scratch, std::size_t used);

    int m_fd;
    std::vector<std::uint8_t> m_buffer;
    std::int64_t m_bufferStart = 0;  // file offset of m_buffer[0]
    std::size_t m_end = 0;           // bytes valid in m_buffer
    std::int64_t m_position = 0;
    std::int64_t m_fileSize = 0;  // at Open; bounds long skips
    std::int64_t m_limit = -1;    // no reads at or past it; -1: none
    std::int32_t m_locationSize = static_cast<std::int32_t>(kLocationSize);
    std::int32_t m_readingSize = static_cast<std::int32_t>(kReadingSize);
    int m_error = 0;
};

}  // namespace ketrion::collection
