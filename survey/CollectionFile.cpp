#include "survey/CollectionFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ketrion::collection {

void EncodeHeader(std::int64_t created, std::uint8_t (&out)[kFirstRecord]) {
    std::memset(out, 0, sizeof out);
    Put32(out + kHeaderLengthAt, kHeaderSize);
    std::memcpy(out + kMagicAt, kMagic, sizeof kMagic);
    out[kVersionAt] = kVersion;
    Put64(out + kCreatedAt, static_cast<std::uint64_t>(created));
    Put32(out + kSizeBlockAt, kHeaderSize);
    Put32(out + kHeaderSize, kLocationSize);
    Put32(out + kHeaderSize + 4, kReadingSize);
}

std::string Ssid(const std::uint8_t* reading) {
    const char* name = reinterpret_cast<const char*>(reading + kSsidAt);
    return std::string(name, strnlen(name, kSsidField));
}

std::string DamageText(Damage damage, const std::string& path, const Header& header) {
    switch (damage) {
        case Damage::None:
            break;
        case Damage::ShortHeader:
            return "The collection file " + path +
                   " is damaged: it is shorter than its 25-byte header.";
        case Damage::SizeBlockOutside:
            return "The collection file " + path + " is damaged: its record sizes (at offset " +
                   std::to_string(header.sizeBlockOffset) + ") lie outside the file.";
        case Damage::SizesTooSmall:
            return "The collection file " + path + " is damaged: its record sizes (" +
                   std::to_string(header.locationSize) + " and " +
                   std::to_string(header.readingSize) + " bytes) are too small for " +
                   std::to_string(kLocationSize) + "-byte location and " +
                   std::to_string(kReadingSize) + "-byte reading records.";
    }
    return {};
}

std::string TooManyPointsText(const std::string& path) {
    return "The collection file " + path + " holds more than " + std::to_string(kMaxLoadedPoints) +
           " points; it is not loaded.";
}

Reader::Reader(int fd, std::size_t bufferSize)
    : m_fd(fd), m_buffer(std::max<std::size_t>(bufferSize, 64)) {}

void Reader::Seek(std::int64_t offset) {
    m_position = offset;
}

bool Reader::Fill() {
    m_bufferStart = m_position;
    m_end = 0;
    std::size_t want = m_buffer.size();
    if (m_limit >= 0)
        want = static_cast<std::size_t>(
            std::clamp<std::int64_t>(m_limit - m_position, 0, static_cast<std::int64_t>(want)));
    if (want == 0)
        return false;
    for (;;) {
        ssize_t n = pread(m_fd, m_buffer.data(), want, m_position);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            m_error = errno;
            return false;
        }
        m_end = static_cast<std::size_t>(n);
        return n > 0;
    }
}

std::int64_t Reader::Take(std::uint8_t* out, std::int64_t length) {
    std::int64_t got = 0;
    while (length > 0) {
        std::int64_t index = m_position - m_bufferStart;
        if (index >= 0 && index < static_cast<std::int64_t>(m_end)) {
            std::int64_t step =
                std::min<std::int64_t>(length, static_cast<std::int64_t>(m_end) - index);
            if (out) {
                std::memcpy(out + got, m_buffer.data() + index, static_cast<std::size_t>(step));
            }
            m_position += step;
            got += step;
            length -= step;
            continue;
        }
        if (!out && length > static_cast<std::int64_t>(m_buffer.size())) {
            // A long skip (an oversized record) moves past the bytes without reading them.
            std::int64_t step =
                std::min(length, std::max<std::int64_t>(0, m_fileSize - m_position));
            if (step == 0)
                break;
            m_position += step;
            got += step;
            length -= step;
            continue;
        }
        if (!Fill())
            break;
    }
    return got;
}

Damage Reader::Open(Header& header) {
    struct stat st {};
    m_fileSize = fstat(m_fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
    if (m_limit >= 0)
        m_fileSize = std::min(m_fileSize, m_limit);
    m_end = 0;
    Seek(0);
    if (Take(header.bytes, kHeaderSize) != static_cast<std::int64_t>(kHeaderSize)) {
        return Damage::ShortHeader;
    }
    header.sizeBlockOffset = static_cast<std::int32_t>(Get32(header.bytes + kSizeBlockAt));
    std::uint8_t sizes[kSizeBlockSize];
    if (header.sizeBlockOffset < 0)
        return Damage::SizeBlockOutside;
    Seek(header.sizeBlockOffset);
    if (Take(sizes, kSizeBlockSize) != static_cast<std::int64_t>(kSizeBlockSize)) {
        return Damage::SizeBlockOutside;
    }
    header.locationSize = static_cast<std::int32_t>(Get32(sizes));
    header.readingSize = static_cast<std::int32_t>(Get32(sizes + 4));
    if (header.locationSize < static_cast<std::int32_t>(kLocationSize) ||
        header.readingSize < static_cast<std::int32_t>(kReadingSize)) {
        return Damage::SizesTooSmall;
    }
    m_locationSize = header.locationSize;
    m_readingSize = header.readingSize;
    return Damage::None;
}

const std::uint8_t* Reader::NextRecord(std::int64_t size, std::uint8_t* scratch, std::size_t used) {
    const std::int64_t index = m_position - m_bufferStart;
    if (index >= 0 && index + size <= static_cast<std::int64_t>(m_end)) {
        m_position += size;
        return m_buffer.data() + index;
    }
    if (Take(scratch, static_cast<std::int64_t>(used)) != static_cast<std::int64_t>(used)) {
        return nullptr;
    }
    const std::int64_t rest = size - static_cast<std::int64_t>(used);
    return Take(nullptr, rest) == rest ? scratch : nullptr;
}

const std::uint8_t* Reader::NextLocationView(std::uint8_t (&scratch)[kLocationSize],
                                             std::int64_t& offset) {
    offset = m_position;
    return NextRecord(m_locationSize, scratch, kLocationSize);
}

const std::uint8_t* Reader::NextReadingView(std::uint8_t (&scratch)[kReadingSize]) {
    return NextRecord(m_readingSize, scratch, kReadingSize);
}

bool Reader::NextLocation(std::uint8_t (&record)[kLocationSize], std::int64_t& offset) {
    const std::uint8_t* view = NextLocationView(record, offset);
    if (view != nullptr && view != record)
        std::memcpy(record, view, kLocationSize);
    return view != nullptr;
}

bool Reader::NextReading(std::uint8_t (&record)[kReadingSize]) {
    const std::uint8_t* view = NextReadingView(record);
    if (view != nullptr && view != record)
        std::memcpy(record, view, kReadingSize);
    return view != nullptr;
}

}  // namespace ketrion::collection
