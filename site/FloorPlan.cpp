#include "site/FloorPlan.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "analysis/Selection.h"
#include "survey/CollectionFile.h"
#include "survey/Compression.h"
#include "survey/ProjectionHeader.h"
#include "survey/SiteProjection.h"

namespace ketrion::site {

namespace {

// Mean radius of the earth (metres): the scale is for showing residuals and
// distances on a floor, where a spherical earth is exact enough.
constexpr double kEarthRadius = 6371008.8;
constexpr double kPi = 3.14159265358979323846;
// Bytes of the expanded block read for the plan's size: the bitmap file
// header (14 bytes) and the start of the info header (width, height).
constexpr std::size_t kBitmapHeadBytes = 26;
// Largest plan side taken (pixels), as the program's limit on plan pixels allows.
constexpr int kMaxPlanSide = 1'000'000;

double Distance(const GeoPoint& a, const GeoPoint& b) {
    const double lat = (a.latitude + b.latitude) / 2 * kPi / 180;
    const double dx = (b.longitude - a.longitude) * kPi / 180 * std::cos(lat) * kEarthRadius;
    const double dy = (b.latitude - a.latitude) * kPi / 180 * kEarthRadius;
    return std::hypot(dx, dy);
}

std::int32_t Le32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(collection::Get32(p));
}

}  // namespace

PlanPoint FloorPlan::Place(const analysis::SurveyPoint& point) const {
    if (point.details && point.details->planX && point.details->planY)
        return {*point.details->planX, *point.details->planY};
    return map.ToPlan(point.LatitudeDegrees(), point.LongitudeDegrees());
}

bool ReadFloorPlan(const std::string& path, FloorPlan& out, std::string& error) {
    const auto info = projection::ReadHeader(path, error);
    if (!info)
        return false;
    FloorPlan plan;
    plan.map = {info->xRow[0], info->xRow[1], info->xRow[3],
                info->yRow[0], info->yRow[1], info->yRow[3]};
    const std::uint64_t length =
        info->hasLength ? std::min<std::uint64_t>(info->blockLength, info->blockAvailable) : 0;
    if (length < 8 || length > CSiteProjection::kMaxBlockBytes) {
        error = path + " is not a projection file: it holds no plan image";
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
    std::vector<std::uint8_t> head;
    CCompression::DecodeBlock(block, head, kBitmapHeadBytes);
    if (head.size() < kBitmapHeadBytes || head[0] != 'B' || head[1] != 'M') {
        error = path + " is not a projection file: its plan image is not a bitmap";
        return false;
    }
    plan.width = Le32(head.data() + 18);
    plan.height = std::abs(Le32(head.data() + 22));  // negative: top-down rows
    if (plan.width <= 0 || plan.height <= 0 || plan.width > kMaxPlanSide ||
        plan.height > kMaxPlanSide) {
        error = path + " is not a projection file: its plan image has no usable size";
        return false;
    }
    const double cx = plan.width / 2.0, cy = plan.height / 2.0;
    const auto centre = plan.map.ToGeo(cx, cy);
    const auto right = plan.map.ToGeo(cx + 1, cy);
    const auto down = plan.map.ToGeo(cx, cy + 1);
    if (!centre || !right || !down) {
        error = path +
                " is not a usable projection file: its map from latitude and longitude "
                "to the plan has no inverse";
        return false;
    }
    plan.metresPerPixel = (Distance(*centre, *right) + Distance(*centre, *down)) / 2;
    if (!(plan.metresPerPixel > 0) || !std::isfinite(plan.metresPerPixel)) {
        error = path + " is not a usable projection file: its plan has no scale";
        return false;
    }
    out = plan;
    return true;
}

std::string CheckOnPlan(const analysis::SurveyRecords& records, const FloorPlan& plan,
                        const std::string& planPath) {
    std::size_t positioned = 0, off = 0;
    const analysis::SurveyPoint* first = nullptr;
    for (const analysis::SurveyPoint& point : records.points) {
        // The points a heatmap of the floor would use.
        if (!point.IsSurvey() || !analysis::Uses(point, analysis::Selection{}))
            continue;
        ++positioned;
        if (plan.Contains(plan.Place(point)))
            continue;
        if (first == nullptr)
            first = &point;
        ++off;
    }
    if (positioned == 0)
        return records.path + " has no survey point with a position to place on " + planPath;
    if (off == 0)
        return {};
    const PlanPoint p = plan.Place(*first);
    char where[96];
    std::snprintf(where, sizeof where, "point %lld at plan pixel (%.0f, %.0f)",
                  static_cast<long long>(first->number), p.x, p.y);
    return records.path + " does not lie on " + planPath + ": " + std::to_string(off) + " of " +
           std::to_string(positioned) + " points are off its " + std::to_string(plan.width) +
           " x " + std::to_string(plan.height) + " plan (the first: " + where + ")";
}

}  // namespace ketrion::site
