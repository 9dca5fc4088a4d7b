// What a gpsd connection can hand the position source: a "HOST[:PORT]" text
// from the command line, then any sequence of decoded TPV and SKY messages
// with arbitrary values (NaN, infinities, huge or negative numbers, modes gpsd
// does not define). Every fix that comes out must be in range (reports no
// receiver could make are no fix), and placing scans on the track must never
// fail.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Clock.h"
#include "source/FixHealth.h"
#include "source/gpsd/GpsdPosition.h"

using namespace ketrion;
using namespace ketrion::source;

namespace {

class FuzzClock final : public Clock {
public:
    std::int64_t NowSeconds() override { return ms / 1000; }
    std::int64_t NowMs() override { return ms; }
    void SleepMs(unsigned milliseconds) override { ms += milliseconds; }
    std::int64_t ms = 1'000'000;
};

// Never connected: the fuzzer drives Apply directly.
class NoClient final : public GpsdClient {
public:
    std::optional<std::string> Open(const std::string&, const std::string&) override {
        return std::string("no gpsd here");
    }
    void Close() override {}
    ReadResult Read(int, GpsdReport&, std::string&) override { return ReadResult::Lost; }
};

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    bool Empty() const { return m_at >= m_size; }
    template <typename T>
    T Take() {
        T value{};
        const std::size_t n = std::min(sizeof(T), m_size - m_at);
        std::memcpy(&value, m_data + m_at, n);
        m_at += n;
        return value;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

void Check(const Fix& fix) {
    if (!fix.valid) {
        return;
    }
    const bool ok = std::isfinite(fix.latitude) && std::fabs(fix.latitude) <= 90.0 &&
                    std::isfinite(fix.longitude) && std::fabs(fix.longitude) <= 180.0 &&
                    std::abs(fix.latitudeUnits) <= 90 * 3600000 &&
                    std::abs(static_cast<std::int64_t>(fix.longitudeUnits)) <= 180LL * 3600000 &&
                    fix.fixClass != FixClass::None;
    // Nothing impossible gets through: no year past 2099, no height beyond
    // 100 km (in cm), no error estimate below zero.
    const bool plausible = fix.year < 2100 && std::abs(fix.heightRaw) <= 10'000'000 &&
                           (!fix.ephMetres || *fix.ephMetres >= 0) &&
                           (!fix.altitudeMetres || std::fabs(*fix.altitudeMetres) <= 100000);
    if (!ok || !plausible) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = all.find('\n');
    std::string error;
    (void)ParseGpsdEndpoint(all.substr(0, newline), error);
    if (newline == std::string_view::npos) {
        return 0;
    }

    FuzzClock clock;
    GpsdPosition source(clock, GpsdEndpoint{}, std::make_unique<NoClient>());
    Reader in(data + newline + 1, size - newline - 1);
    for (int i = 0; i < 256 && !in.Empty(); ++i) {
        const auto flags = in.Take<std::uint16_t>();
        GpsdReport r;
        r.kind = (flags & 1) != 0 ? GpsdReport::Kind::Sky : GpsdReport::Kind::Tpv;
        r.mode = in.Take<std::int8_t>();
        const auto maybe = [&](int bit) -> std::optional<double> {
            const double v = in.Take<double>();
            return (flags >> bit) & 1 ? std::optional<double>(v) : std::nullopt;
        };
        r.latitude = maybe(1);
        r.longitude = maybe(2);
        r.ephMetres = maybe(3);
        r.altitudeHaeMetres = maybe(4);
        r.altitudeMslMetres = maybe(5);
        r.speedMetresPerSecond = maybe(6);
        r.climbMetresPerSecond = maybe(7);
        r.trackDegrees = maybe(8);
        if ((flags >> 9) & 1) {
            r.timeSeconds = in.Take<std::int64_t>();
        }
        r.satellitesUsed = in.Take<std::int16_t>();
        r.satellitesSeen = in.Take<std::int16_t>();
        clock.ms += in.Take<std::int16_t>();  // arrivals may even go back
        source.Apply(r);
        Check(source.Current());
        const auto start = clock.ms - in.Take<std::uint16_t>();
        const Fix placed = source.FixFor(start, start + in.Take<std::int16_t>());
        Check(placed);
        (void)ClassifyFix(placed, clock.ms);
    }
    return 0;
}
