#include "source/gpsd/GpsdPosition.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <utility>

#include "engine/Location.h"
#include "platform/Clock.h"
#include "source/FixHealth.h"
#include "source/gpsd/LibgpsClient.h"

namespace ketrion::source {
namespace {

// gpsd's fix modes.
constexpr int kMode2D = 2;
constexpr int kMode3D = 3;

// A non-negative measurement as a 16-bit field, saturated.
std::uint16_t Saturated16(double value) {
    if (!(value > 0.0)) {
        return 0;
    }
    return static_cast<std::uint16_t>(std::min(std::round(value), 65535.0));
}

std::int32_t Saturated32(double value) {
    const double rounded = std::round(value);
    if (!(rounded > -2147483648.0)) {
        return std::numeric_limits<std::int32_t>::min();
    }
    if (rounded > 2147483647.0) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(rounded);
}

std::optional<double> NonNegative(const std::optional<double>& value) {
    if (value && std::isfinite(*value) && *value >= 0.0) {
        return value;
    }
    return std::nullopt;
}

// What any receiver can report: GPS time began in 1980 and a receiver's
// date is not decades ahead; heights from below the Dead Sea to well above
// airliners; errors and speeds no receiver reports as such.
constexpr std::int64_t kEarliestSeconds = 315964800;  // 1980-01-06, GPS time's start
constexpr std::int64_t kLatestSeconds = 4102444800;   // 2100-01-01
constexpr double kLowestMetres = -1000.0;
constexpr double kHighestMetres = 100000.0;
constexpr double kLargestErrorMetres = 1e6;
constexpr double kFastestMetresPerSecond = 10000.0;

bool Within(const std::optional<double>& value, double low, double high) {
    return !value || (std::isfinite(*value) && *value >= low && *value <= high);
}

}  // namespace

std::string ImpossibleTpv(const GpsdReport& report) {
    const bool fixMode = report.mode >= kMode2D && report.mode <= kMode3D;
    if (fixMode &&
        (!Within(report.latitude, -90.0, 90.0) || !Within(report.longitude, -180.0, 180.0)))
        return "a position off the globe";
    if (report.timeSeconds &&
        (*report.timeSeconds < kEarliestSeconds || *report.timeSeconds >= kLatestSeconds))
        return "a time no receiver reports";
    if (!Within(report.altitudeHaeMetres, kLowestMetres, kHighestMetres) ||
        !Within(report.altitudeMslMetres, kLowestMetres, kHighestMetres))
        return "a height no receiver reports";
    if (!Within(report.ephMetres, 0.0, kLargestErrorMetres))
        return "an error estimate no receiver reports";
    if (!Within(report.speedMetresPerSecond, -kFastestMetresPerSecond, kFastestMetresPerSecond) ||
        !Within(report.climbMetresPerSecond, -kFastestMetresPerSecond, kFastestMetresPerSecond))
        return "a speed no receiver reports";
    return {};
}

std::optional<Fix> FixFromTpv(const GpsdReport& report, std::int64_t receivedMs) {
    Fix fix;
    fix.receivedMs = receivedMs;
    // An impossible report says the receiver (or the line) is not to be
    // believed: no fix, and none of its fields.
    if (!ImpossibleTpv(report).empty()) {
        fix.mode = 0;
        return fix;
    }
    // A mode gpsd does not define is taken as "not seen", never as a fix.
    fix.mode = report.mode >= 0 && report.mode <= kMode3D ? report.mode : 0;
    if (report.timeSeconds) {
        SetUtc(fix, *report.timeSeconds);
    }
    if (*fix.mode < kMode2D) {
        return fix;  // no fix: valid stays false
    }
    // A cycle's report that carries the mode but not the position yet.
    if (!report.latitude || !report.longitude) {
        return std::nullopt;
    }
    fix.valid = true;
    fix.latitude = *report.latitude;
    fix.longitude = *report.longitude;
    fix.latitudeUnits = gps::UnitsFromDegrees(fix.latitude);
    fix.longitudeUnits = gps::UnitsFromDegrees(fix.longitude);
    fix.fixClass = *fix.mode == kMode3D ? FixClass::Fix3D : FixClass::Fix2D;
    fix.ephMetres = NonNegative(report.ephMetres);

    // The record's units, as the board gives them: cm/s, 0.1 degree, and the
    // height above the ellipsoid in cm. Heights only mean something in 3D.
    const double speed = report.speedMetresPerSecond.value_or(0.0);
    if (std::isfinite(speed)) {
        fix.speed2D = Saturated16(speed * 100.0);
        const double climb = report.climbMetresPerSecond.value_or(0.0);
        fix.speed3D = Saturated16(std::hypot(speed, std::isfinite(climb) ? climb : 0.0) * 100.0);
    }
    if (report.trackDegrees && std::isfinite(*report.trackDegrees)) {
        const double track = std::fmod(std::fmod(*report.trackDegrees, 360.0) + 360.0, 360.0);
        fix.heading = static_cast<std::uint16_t>(std::lround(track * 10.0) % 3600);
    }
    if (*fix.mode == kMode3D) {
        const auto finite = [](const std::optional<double>& v) {
            return v && std::isfinite(*v) ? v : std::nullopt;
        };
        if (auto hae = finite(report.altitudeHaeMetres)) {
            fix.heightRaw = Saturated32(*hae * 100.0);
        }
        fix.altitudeMetres = finite(report.altitudeMslMetres);
        if (!fix.altitudeMetres) {
            fix.altitudeMetres = finite(report.altitudeHaeMetres);
        }
    }
    return fix;
}

GpsdPosition::GpsdPosition(Clock& clock, GpsdEndpoint endpoint)
    : GpsdPosition(clock, std::move(endpoint), std::make_unique<LibgpsClient>()) {}

GpsdPosition::GpsdPosition(Clock& clock, GpsdEndpoint endpoint, std::unique_ptr<GpsdClient> client,
                           std::int64_t retryMs)
    : m_clock(clock),
      m_endpoint(std::move(endpoint)),
      m_retryMs(retryMs),
      m_client(std::move(client)),
      m_worker(
          clock,
          SourceStatus{SourceState::Reconnecting, "connecting to gpsd at " + m_endpoint.ToString()},
          [this](const SourceEvent& event) {
              if (onEvent)
                  onEvent(event);
          }) {}

GpsdPosition::~GpsdPosition() {
    Stop();
}

void GpsdPosition::Start() {
    m_worker.Start([this] { Run(); });
}

void GpsdPosition::Stop() {
    m_worker.Stop();
    if (m_connected) {
        m_client->Close();
        m_connected = false;
    }
}

void GpsdPosition::Run() {
    while (!m_worker.Stopping()) {
        Pass();
    }
}

SourceStatus GpsdPosition::Status() const {
    return m_worker.Status();
}

Fix GpsdPosition::Current() const {
    std::lock_guard lock(m_mutex);
    return m_current;
}

Fix GpsdPosition::FixFor(std::int64_t startedMs, std::int64_t endedMs) const {
    std::lock_guard lock(m_mutex);
    Fix fix = m_track.FixFor(startedMs, endedMs);
    if (!fix.valid && fix.receivedMs < 0) {
        // Nothing in the track yet: the satellites are still worth showing.
        fix.satellitesUsed = m_satellitesUsed;
        fix.satellitesSeen = m_satellitesSeen;
    }
    return fix;
}

bool GpsdPosition::HasReportAfter(std::int64_t atMs) const {
    std::lock_guard lock(m_mutex);
    return m_track.HasReportAfter(atMs);
}

GpsdPosition::PassResult GpsdPosition::Pass() {
    const std::int64_t now = m_clock.NowMs();
    if (!m_connected) {
        if (now < m_nextAttemptMs) {
            // Interrupted by Stop on the thread; on the clock when a test steps.
            m_worker.WaitMs(std::min<std::int64_t>(m_nextAttemptMs - now, kWaitMs));
            return PassResult::Waiting;
        }
        const std::optional<std::string> failure =
            m_client->Open(m_endpoint.host, std::to_string(m_endpoint.port));
        if (failure) {
            m_nextAttemptMs = now + m_retryMs;
            const std::string reason = "cannot connect to gpsd at " + m_endpoint.ToString() + " (" +
                                       *failure +
                                       "): check that gpsd is running and the GPS receiver is "
                                       "plugged in";
            m_worker.SetStatus(SourceState::Lost, reason);
            return PassResult::ConnectFailed;
        }
        m_connected = true;
        m_worker.SetStatus(SourceState::Ready);
        return PassResult::Connected;
    }

    GpsdReport report;
    std::string error;
    switch (m_client->Read(kWaitMs, report, error)) {
        case GpsdClient::ReadResult::Report:
            if (Apply(report)) {
                m_worker.Say(SourceEventKind::PositionUpdate);
            }
            return PassResult::Report;
        case GpsdClient::ReadResult::Nothing:
            return PassResult::Idle;
        case GpsdClient::ReadResult::Lost:
            break;
    }
    m_client->Close();
    m_connected = false;
    m_nextAttemptMs = now + m_retryMs;
    const std::string reason = "lost the connection to gpsd at " + m_endpoint.ToString() + " (" +
                               error + "): check that gpsd is still running";
    m_worker.SetStatus(SourceState::Lost, reason);
    return PassResult::Lost;
}

bool GpsdPosition::Apply(const GpsdReport& report) {
    const std::int64_t now = m_clock.NowMs();
    std::lock_guard lock(m_mutex);
    switch (report.kind) {
        case GpsdReport::Kind::Tpv: {
            if (const std::string why = ImpossibleTpv(report); !why.empty()) {
                ++m_impossible;
                m_lastImpossible = why;
            }
            std::optional<Fix> fix = FixFromTpv(report, now);
            if (!fix) {
                return false;
            }
            fix->satellitesUsed = m_satellitesUsed;
            fix->satellitesSeen = m_satellitesSeen;
            // gpsd sends a TPV for each sentence of a receiver's cycle, the
            // first often before the error estimate and height are known:
            // those carry over from the fix just before, in the same mode,
            // so they do not blink out once a second.
            const Fix& last = m_current;
            if (fix->valid && last.valid && last.mode == fix->mode &&
                now - last.receivedMs <= kStaleFixMs) {
                if (!fix->ephMetres) {
                    fix->ephMetres = last.ephMetres;
                }
                if (!fix->altitudeMetres && fix->fixClass == FixClass::Fix3D) {
                    fix->altitudeMetres = last.altitudeMetres;
                    fix->heightRaw = last.heightRaw;
                }
            }
            m_current = *fix;
            m_track.Add(*fix);
            return true;
        }
        case GpsdReport::Kind::Sky: {
            const auto count = [](const std::optional<int>& v) {
                return v && *v >= 0 ? v : std::nullopt;
            };
            m_satellitesUsed = count(report.satellitesUsed);
            m_satellitesSeen = count(report.satellitesSeen);
            m_current.satellitesUsed = m_satellitesUsed;
            m_current.satellitesSeen = m_satellitesSeen;
            return true;
        }
        case GpsdReport::Kind::Other:
            break;
    }
    return false;
}

std::string GpsdPosition::StatusLine() const {
    const Fix fix = Current();
    const SourceStatus status = Status();
    if (status.state == SourceState::Lost)
        return "gpsd: " + status.reason;
    std::string impossible;
    {
        std::lock_guard lock(m_mutex);
        if (m_impossible > 0)
            impossible = "  " + std::to_string(m_impossible) +
                         (m_impossible == 1 ? " impossible report" : " impossible reports") +
                         " taken as no fix (last: " + m_lastImpossible + ")";
    }
    if (fix.receivedMs < 0)
        return "gpsd: waiting for a GPS fix" + impossible;
    if (!fix.valid)
        return "gpsd: no fix, waiting for a GPS fix" + impossible;
    char text[160];
    std::snprintf(text, sizeof text, "gpsd %s  %.6f %c  %.6f %c",
                  fix.fixClass == FixClass::Fix3D ? "3D" : "2D", std::fabs(fix.latitude),
                  fix.latitude < 0 ? 'S' : 'N', std::fabs(fix.longitude),
                  fix.longitude < 0 ? 'W' : 'E');
    std::string line = text;
    if (fix.satellitesUsed)
        line += "  " + std::to_string(*fix.satellitesUsed) + " sats";
    if (fix.ephMetres) {
        std::snprintf(text, sizeof text, "  %.1f m", *fix.ephMetres);
        line += text;
    }
    return line + impossible;
}

}  // namespace ketrion::source
