#include "source/gpsd/LibgpsClient.h"

#include <gps.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#if GPSD_API_MAJOR_VERSION < 9
#error "libgps API 9 or later is needed (gpsd 3.20 or later)"
#endif

namespace ketrion::source {
namespace {

std::optional<double> Finite(double value) {
    if (std::isfinite(value)) {
        return value;
    }
    return std::nullopt;
}

std::string ErrorText(int code) {
    const char* text = gps_errstr(code);
    return text != nullptr ? text : "unknown error";
}

// libgps connects with a blocking connect, which to a host that drops
// packets takes minutes, and the source's thread could not stop meanwhile.
// A connection attempt of our own, given up after this long, goes first.
constexpr int kConnectTimeoutMs = 2000;

// Tries to reach host:port within kConnectTimeoutMs. Returns nothing when it
// answered, else why not in words.
std::optional<std::string> Probe(const std::string& host, const std::string& port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (rc != 0) {
        return std::string(gai_strerror(rc));
    }
    std::string why = "no address";
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        const int fd =
            socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            why = std::strerror(errno);
            continue;
        }
        int error = 0;
        if (connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            error = errno;
            if (error == EINPROGRESS) {
                pollfd p{fd, POLLOUT, 0};
                const int ready = poll(&p, 1, kConnectTimeoutMs);
                socklen_t size = sizeof error;
                if (ready <= 0) {
                    error = ETIMEDOUT;
                } else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
                    error = errno;
                }
            }
        }
        close(fd);
        if (error == 0) {
            freeaddrinfo(found);
            return std::nullopt;
        }
        why = error == ETIMEDOUT ? "no answer" : std::strerror(error);
    }
    freeaddrinfo(found);
    return why;
}

}  // namespace

GpsdReport ReportFromGpsData(const gps_data_t& data) {
    GpsdReport report;
    // Every TPV sets STATUS_SET; MODE_SET only when it carries a mode.
    if ((data.set & (STATUS_SET | MODE_SET)) != 0) {
        report.kind = GpsdReport::Kind::Tpv;
        const gps_fix_t& fix = data.fix;
        report.mode = (data.set & MODE_SET) != 0 ? fix.mode : MODE_NOT_SEEN;
        if ((data.set & LATLON_SET) != 0) {
            // Kept as sent, not a number included: a position gpsd says it
            // has but cannot give makes the report impossible, not absent.
            report.latitude = fix.latitude;
            report.longitude = fix.longitude;
        }
        if ((data.set & TIME_SET) != 0 && fix.time.tv_sec > 0) {
            report.timeSeconds = static_cast<std::int64_t>(fix.time.tv_sec);
        }
        report.ephMetres = Finite(fix.eph);
        report.altitudeHaeMetres = Finite(fix.altHAE);
        report.altitudeMslMetres = Finite(fix.altMSL);
        report.speedMetresPerSecond = Finite(fix.speed);
        report.climbMetresPerSecond = Finite(fix.climb);
        report.trackDegrees = Finite(fix.track);
    } else if ((data.set & SATELLITE_SET) != 0) {
        report.kind = GpsdReport::Kind::Sky;
        report.satellitesUsed = data.satellites_used;
        report.satellitesSeen = data.satellites_visible;
    }
    return report;
}

LibgpsClient::LibgpsClient() : m_data(std::make_unique<gps_data_t>()) {}

LibgpsClient::~LibgpsClient() {
    Close();
}

std::optional<std::string> LibgpsClient::Open(const std::string& host, const std::string& port) {
    Close();
    if (auto unreachable = Probe(host, port)) {
        return unreachable;
    }
    std::memset(m_data.get(), 0, sizeof(gps_data_t));
    errno = 0;
    if (gps_open(host.c_str(), port.c_str(), m_data.get()) != 0) {
        return ErrorText(errno);
    }
    m_open = true;
    if (gps_stream(m_data.get(), WATCH_ENABLE | WATCH_JSON, nullptr) < 0) {
        const std::string why = "could not ask for reports: " + ErrorText(errno);
        Close();
        return why;
    }
    return std::nullopt;
}

void LibgpsClient::Close() {
    if (m_open) {
        gps_close(m_data.get());
        m_open = false;
    }
}

GpsdClient::ReadResult LibgpsClient::Read(int waitMs, GpsdReport& report, std::string& error) {
    if (!m_open) {
        error = "not connected";
        return ReadResult::Lost;
    }
    // gps_waiting takes microseconds; false on a timeout and on an error, so
    // errno tells them apart.
    errno = 0;
    if (!gps_waiting(m_data.get(), waitMs * 1000)) {
        if (errno != 0 && errno != EINTR) {
            error = std::strerror(errno);
            return ReadResult::Lost;
        }
        return ReadResult::Nothing;
    }
    // libgps adds to `set` for some messages (SKY, DEVICE) without clearing
    // it: cleared here, it says what this one message carried.
    m_data->set = 0;
    errno = 0;
    const int got = gps_read(m_data.get(), nullptr, 0);
    if (got < 0) {
        error = errno != 0 ? std::strerror(errno) : "gpsd closed the connection";
        return ReadResult::Lost;
    }
    if (got == 0) {
        return ReadResult::Nothing;
    }
    report = ReportFromGpsData(*m_data);
    return ReadResult::Report;
}

}  // namespace ketrion::source
