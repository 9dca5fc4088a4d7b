#include "tools/ktd/HeatmapInput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QGuiApplication>
#include <QImageReader>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "survey/Compression.h"
#include "survey/ProjectionMaker.h"

namespace ketrion::ktd {

namespace {

// A projection file holds one plan image; anything far larger is not one.
constexpr std::uint64_t kLargestProjection = std::uint64_t{256} << 20;

}  // namespace

bool PlanInput::Load(const std::string& path, std::string& error) {
    const auto info = ktp::ReadProjectionInfo(path, error);
    if (!info)
        return false;
    projection::ApplyMap(*info, m_projection);

    // The block as loading a projection takes it: its length word counts
    // itself; below 4 it is empty, beyond the end of the file it gets what is there.
    std::uint64_t length = info->hasLength ? info->blockLength : 0;
    if (length < 4)
        length = 0;
    length = std::min<std::uint64_t>(length, info->blockAvailable);
    if (length > kLargestProjection) {
        error = path + ": the plan image block is too large (" + std::to_string(length) + " bytes)";
        return false;
    }
    std::vector<std::uint8_t> block(static_cast<std::size_t>(length));
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < block.size()) {
        const ssize_t n = ::pread(fd, block.data() + done, block.size() - done,
                                  static_cast<off_t>(CSiteProjection::kHeaderSize + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    block.resize(done);
    // Checked and measured from its header now; expanded when drawn.
    std::vector<std::uint8_t> bitmap;
    CCompression::DecodeBlock(block, bitmap);
    QImageReader reader;
    QBuffer buffer;
    if (!bitmap.empty() && bitmap.size() <= static_cast<std::size_t>(INT32_MAX)) {
        buffer.setData(reinterpret_cast<const char*>(bitmap.data()),
                       static_cast<qsizetype>(bitmap.size()));
        buffer.open(QIODevice::ReadOnly);
        reader.setDevice(&buffer);
        reader.setFormat("BMP");
        m_size = reader.canRead() ? reader.size() : QSize();
    }
    if (!m_size.isValid() || m_size.isEmpty()) {
        error = path + ": the plan image in the projection file cannot be read";
        return false;
    }
    m_block = std::move(block);
    m_bitmapBytes = bitmap.size();
    m_plan = QImage();
    m_expanded = false;
    return true;
}

const QImage& PlanInput::Plan() {
    if (!m_expanded) {
        m_expanded = true;
        // Sized once: grown by doubling, the expansion would pass twice its size.
        std::vector<std::uint8_t> bitmap;
        bitmap.reserve(m_bitmapBytes);
        CCompression::DecodeBlock(m_block, bitmap);
        m_block = {};
        if (bitmap.size() > static_cast<std::size_t>(INT32_MAX) ||
            !m_plan.loadFromData(bitmap.data(), static_cast<int>(bitmap.size()), "BMP") ||
            m_plan.size() != m_size)
            m_plan = QImage();
    }
    return m_plan;
}

QImage PlanInput::TakePlan() {
    Plan();
    return std::move(m_plan);
}

std::unique_ptr<QGuiApplication> MakeGuiApplication() {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The commands say what went wrong themselves; Qt's notes about the
    // session (no runtime folder, no fonts configured) are not for the user.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "ktd: %s\n", text.toLocal8Bit().constData());
    });
    static int argc = 1;
    static char name[] = "ktd";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QGuiApplication>(argc, argv);
}

Progress::Progress(std::string what) : m_what(std::move(what)), m_tty(::isatty(2) == 1) {}

Progress::~Progress() {
    if (m_shown)
        std::fputc('\n', stderr);
}

void Progress::Show(int done, int total) {
    if (!m_tty || total <= 0)
        return;
    const int percent = static_cast<int>(static_cast<long long>(done) * 100 / total);
    if (percent == m_lastPercent)
        return;
    m_lastPercent = percent;
    std::fprintf(stderr, "\rktd: %s %3d%%", m_what.c_str(), percent);
    std::fflush(stderr);
    m_shown = true;
}

void Progress::Stage(std::string what) {
    if (m_shown)
        std::fputc('\n', stderr);
    m_shown = false;
    m_lastPercent = -1;
    m_what = std::move(what);
}

std::string WithExtension(const std::string& path, const std::string& extension) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    if (dot != std::string::npos && dot > nameStart)
        return path.substr(0, dot) + extension;
    return path + extension;
}

}  // namespace ketrion::ktd
