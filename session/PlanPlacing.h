#pragma once

#include <cstdint>
#include <string>

#include "source/PositionSource.h"
#include "source/ScanSource.h"

namespace ketrion {

class Clock;
class CSiteData;
class CSiteProjection;

// Survey points the surveyor places on the plan (a stop and go reading, a
// walk's scans): whether a plan position is a place on the globe, and the
// point written there, its position through the projection's inverse map.
//
// Threads: RecordPlaced runs on the scan source's thread for a stop and go
// reading and on the user-interface thread for a walk's; it reads the
// projection through its positioning calls only, which may run on any thread.
class PlanPlacing {
public:
    PlanPlacing(CSiteData& data, const CSiteProjection& projection, const source::ScanSource& scan,
                Clock& clock);
    PlanPlacing(const PlanPlacing&) = delete;
    PlanPlacing& operator=(const PlanPlacing&) = delete;

    // True for a plan position that is no place on the globe (not a number,
    // or mapped past the poles or the date line): never placed or stored.
    bool OffGlobe(double x, double y) const;
    // Writes a survey point for `result` at plan (x, y), placed by `method`.
    void RecordPlaced(const source::ScanResult& result, double x, double y,
                      const std::string& method);

private:
    // A fix for a point the surveyor placed at plan (x, y): its position
    // through the projection's inverse map, the time (UTC) of the session
    // clock's `atMs`.
    source::Fix PlacedFix(double x, double y, std::int64_t atMs) const;

    CSiteData& m_data;
    const CSiteProjection& m_projection;
    const source::ScanSource& m_scan;
    Clock& m_clock;
};

}  // namespace ketrion
