#include "tools/ktreplay/Replay.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ostream>

#include "protocol/FrameFormat.h"
#include "survey/RegularFile.h"

namespace ketrion::replay {

namespace {

// Capture files are read in pieces of this size; any size works.
constexpr std::size_t kChunk = 64 * 1024;

void PutHexByte(std::ostream& out, std::uint8_t b) {
    static constexpr char kDigits[] = "0123456789abcdef";
    out << kDigits[b >> 4] << kDigits[b & 0x0F];
}

}  // namespace

std::string EscapeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x21 && b <= 0x7E && b != '\\') {
            out += c;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", b);
            out += hex;
        }
    }
    return out;
}

bool Replay::PrintingSlot::QueueWrite(const std::uint8_t* bytes, std::uint32_t length) {
    m_out << "queued";
    for (std::uint32_t i = 0; i < length; ++i) {
        m_out << ' ';
        PutHexByte(m_out, bytes[i]);
    }
    m_out << '\n';
    return true;
}

Replay::Replay(std::ostream& out)
    : m_out(out),
      m_slot(out),
      m_board(m_clock, nullptr, &m_slot),
      m_engine(m_board.engine),
      m_list(m_board.list),
      m_location(m_board.location),
      m_parser(m_board.parser) {
    startReading = [this] { m_list.RemoveAll(); };
    m_parser.Reset();
}

void Replay::Feed(const std::uint8_t* bytes, std::size_t length) {
    m_parser.Feed(bytes, length, [this](const FrameView& f) { OnFrame(f); });
}

void Replay::OnFrame(const FrameView& f) {
    m_out << "frame 0x";
    PutHexByte(m_out, f.type);
    m_out << " len " << f.length << (f.valid ? " ok" : " bad") << '\n';
    if (!f.valid) {
        return;  // the link thread drops it the same way
    }
    if (f.type == frame::kScanStart && startReading) {
        startReading();
    }
    m_engine.Dispatch(f.type, f.body, f.length);
}

bool Replay::FeedFile(const std::string& path, std::string& error) {
    // A fifo or device named as the capture must not stall the replay.
    files::OpenFailure failure;
    const int fd = files::OpenRegular(path, O_RDONLY, 0, failure);
    if (fd < 0) {
        error = "cannot read " + path + ": " + files::Describe(failure);
        return false;
    }
    std::string buffer(kChunk, '\0');
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = "cannot read " + path + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        Feed(reinterpret_cast<const std::uint8_t*>(buffer.data()), static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
}

void Replay::PrintSummary() {
    char text[CEngine::kTextSize];
    m_engine.GetFirmware(text);
    m_out << "firmware " << EscapeText(text) << '\n';
    m_engine.GetSerialNumber(text);
    m_out << "serial " << EscapeText(text) << '\n';
    m_out << "scanning " << (m_engine.IsScanning() ? 1 : 0) << '\n';

    {
        std::lock_guard lock(m_list.listMutex);
        m_out << "aps " << m_list.Size() << '\n';
        LinkList::Node* node = nullptr;
        for (int r = m_list.GetAt(1, node); r == 0; r = m_list.GetNext(node)) {
            m_out << "ap "
                  << EscapeText(std::string_view(node->macText,
                                                 strnlen(node->macText, sizeof node->macText)))
                  << " sum " << node->signalSum << " count " << node->sampleCount << " attr "
                  << static_cast<unsigned>(node->attribute) << " ssid "
                  << EscapeText(
                         std::string_view(node->ssid, strnlen(node->ssid, sizeof node->ssid)))
                  << '\n';
        }
    }

    char line[CLocation::kStatusLineSize];
    m_location.FormatStatusLine(line, sizeof line);
    m_out << "location " << EscapeText(line) << '\n';
    const unsigned fix = m_location.FixStatus();
    m_out << "fix " << fix << ' ' << CLocation::FixName(fix) << '\n';
}

}  // namespace ketrion::replay
