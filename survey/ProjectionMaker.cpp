#include "survey/ProjectionMaker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "survey/Compression.h"
#include "survey/ProjectionHeader.h"
#include "survey/RegularFile.h"
#include "survey/SiteProjection.h"

namespace ketrion::ktp {

namespace {

// Relative size below which the spread of the points across their second
// direction counts as none: the points lie on a line (or on one spot).
constexpr double kCollinearTolerance = 1e-9;

void PutLE32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

void PutLE16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void PutDouble(std::vector<std::uint8_t>& b, std::size_t at, double v) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    for (int i = 0; i < 8; ++i) {
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
}

// True when the centred point cloud (sums of squares and cross products) has
// no spread in some direction: the points are collinear or coincide.
bool Degenerate(double suu, double svv, double suv) {
    if (!(suu > 0) || !(svv > 0)) {
        return true;
    }
    return suu * svv - suv * suv <= kCollinearTolerance * suu * svv;
}

}  // namespace

namespace {

// Parses exactly `count` comma-separated finite numbers (spaces around each
// and a leading plus sign allowed) into out.
bool ParseNumbers(std::string_view text, std::size_t count, double* out) {
    std::size_t pos = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t end = i + 1 < count ? text.find(',', pos) : text.size();
        if (end == std::string_view::npos) {
            return false;
        }
        std::string_view field = text.substr(pos, end - pos);
        while (!field.empty() && field.front() == ' ') {
            field.remove_prefix(1);
        }
        while (!field.empty() && field.back() == ' ') {
            field.remove_suffix(1);
        }
        if (!field.empty() && field.front() == '+') {
            field.remove_prefix(1);
        }
        const auto [ptr, ec] = std::from_chars(field.data(), field.data() + field.size(), out[i]);
        if (ec != std::errc{} || ptr != field.data() + field.size() || field.empty() ||
            !std::isfinite(out[i])) {
            return false;
        }
        pos = end + 1;
    }
    return true;
}

}  // namespace

std::optional<ControlPoint> ParseControlPoint(std::string_view text) {
    double v[4] = {};
    if (!ParseNumbers(text, 4, v)) {
        return std::nullopt;
    }
    return ControlPoint{v[0], v[1], v[2], v[3]};
}

std::optional<ScaleLine> ParseScaleLine(std::string_view text) {
    double v[5] = {};
    if (!ParseNumbers(text, 5, v)) {
        return std::nullopt;
    }
    return ScaleLine{v[0], v[1], v[2], v[3], v[4]};
}

std::optional<PlanOrigin> ParsePlanOrigin(std::string_view text) {
    double v[4] = {};
    const auto commas = std::count(text.begin(), text.end(), ',');
    if (commas == 1 && ParseNumbers(text, 2, v)) {
        return PlanOrigin{v[0], v[1], std::nullopt};
    }
    if (commas == 3 && ParseNumbers(text, 4, v)) {
        return PlanOrigin{v[0], v[1], PlanPoint{v[2], v[3]}};
    }
    return std::nullopt;
}

std::optional<std::vector<ControlPoint>> LocalPlaneControlPoints(const LocalPlaneRequest& request,
                                                                 std::vector<std::string>& warnings,
                                                                 std::string& error) {
    const std::optional<LocalPlane> plane = MakeLocalPlane(request, error);
    if (!plane) {
        return std::nullopt;
    }
    warnings = plane->warnings;
    // Corners lie inside the image, so the command does not warn about them,
    // and never on one line.
    const double w = request.width;
    const double h = request.height;
    std::vector<ControlPoint> points;
    for (const PlanPoint corner : {PlanPoint{0, 0}, PlanPoint{w, 0}, PlanPoint{0, h}}) {
        const std::optional<GeoPoint> geo = plane->map.ToGeo(corner.x, corner.y);
        if (!geo) {
            error = "the plan's map has no inverse";  // MakeLocalPlane has checked the corners
            return std::nullopt;
        }
        points.push_back({geo->latitude, geo->longitude, corner.x, corner.y});
    }
    return points;
}

double MapX(const AffineFit& fit, double latitude, double longitude) {
    return (latitude * fit.xLat + longitude * fit.xLon) + fit.xOrigin;
}

double MapY(const AffineFit& fit, double latitude, double longitude) {
    return (latitude * fit.yLat + longitude * fit.yLon) + fit.yOrigin;
}

std::optional<AffineFit> FitAffine(const std::vector<ControlPoint>& points, std::string& error) {
    if (points.size() < 3) {
        error = "need at least three control points (--ref LAT,LON,X,Y), got " +
                std::to_string(points.size());
        return std::nullopt;
    }
    // Centre everything on the means: latitudes of tens of degrees differ only
    // in their fourth decimal across a site, so an uncentred fit loses digits.
    const double n = static_cast<double>(points.size());
    double mLat = 0, mLon = 0, mX = 0, mY = 0;
    for (const ControlPoint& p : points) {
        mLat += p.latitude;
        mLon += p.longitude;
        mX += p.x;
        mY += p.y;
    }
    mLat /= n;
    mLon /= n;
    mX /= n;
    mY /= n;
    double suu = 0, svv = 0, suv = 0, sux = 0, svx = 0, suy = 0, svy = 0;
    double sxx = 0, syy = 0, sxy = 0;
    for (const ControlPoint& p : points) {
        const double u = p.latitude - mLat;
        const double v = p.longitude - mLon;
        const double x = p.x - mX;
        const double y = p.y - mY;
        suu += u * u;
        svv += v * v;
        suv += u * v;
        sux += u * x;
        svx += v * x;
        suy += u * y;
        svy += v * y;
        sxx += x * x;
        syy += y * y;
        sxy += x * y;
    }
    if (Degenerate(suu, svv, suv)) {
        error =
            "the control points lie on one line (or on one spot) on the earth: give at least "
            "three that form a triangle, e.g. three corners of the plan";
        return std::nullopt;
    }
    if (Degenerate(sxx, syy, sxy)) {
        error =
            "the control points lie on one line (or on one spot) on the image: give at least "
            "three that form a triangle, e.g. three corners of the plan";
        return std::nullopt;
    }
    const double det = suu * svv - suv * suv;
    AffineFit fit;
    fit.xLat = (sux * svv - svx * suv) / det;
    fit.xLon = (svx * suu - sux * suv) / det;
    fit.yLat = (suy * svv - svy * suv) / det;
    fit.yLon = (svy * suu - suy * suv) / det;
    fit.xOrigin = mX - fit.xLat * mLat - fit.xLon * mLon;
    fit.yOrigin = mY - fit.yLat * mLat - fit.yLon * mLon;

    double sumSq = 0;
    for (const ControlPoint& p : points) {
        const double dx = MapX(fit, p.latitude, p.longitude) - p.x;
        const double dy = MapY(fit, p.latitude, p.longitude) - p.y;
        const double d = std::sqrt(dx * dx + dy * dy);
        sumSq += d * d;
        fit.maxResidual = std::max(fit.maxResidual, d);
    }
    fit.rmsResidual = std::sqrt(sumSq / n);
    for (double c : {fit.xLat, fit.xLon, fit.xOrigin, fit.yLat, fit.yLon, fit.yOrigin}) {
        if (!std::isfinite(c)) {
            error = "the control points give no usable map (coefficients out of range)";
            return std::nullopt;
        }
    }
    return fit;
}

std::vector<std::uint8_t> MakeBitmap24(int width, int height, const std::uint8_t* rgb,
                                       std::size_t stride) {
    constexpr std::size_t kFileHeader = 14;
    constexpr std::size_t kInfoHeader = 40;
    constexpr std::size_t kPixelsAt = kFileHeader + kInfoHeader;
    // 2835 pixels per metre: 72 dots per inch.
    constexpr std::uint32_t kPixelsPerMetre = 2835;
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);
    const std::size_t rowBytes = (w * 3 + 3) & ~std::size_t{3};
    std::vector<std::uint8_t> bmp(kPixelsAt + rowBytes * h);
    bmp[0] = 'B';
    bmp[1] = 'M';
    PutLE32(bmp, 2, static_cast<std::uint32_t>(bmp.size()));
    PutLE32(bmp, 10, kPixelsAt);
    PutLE32(bmp, 14, kInfoHeader);
    PutLE32(bmp, 18, static_cast<std::uint32_t>(width));
    PutLE32(bmp, 22, static_cast<std::uint32_t>(height));  // positive: bottom-up rows
    PutLE16(bmp, 26, 1);                                   // planes
    PutLE16(bmp, 28, 24);                                  // bits per pixel
    PutLE32(bmp, 34, static_cast<std::uint32_t>(rowBytes * h));
    PutLE32(bmp, 38, kPixelsPerMetre);
    PutLE32(bmp, 42, kPixelsPerMetre);
    for (std::size_t row = 0; row < h; ++row) {
        const std::uint8_t* src = rgb + row * stride;
        std::uint8_t* dst = bmp.data() + kPixelsAt + (h - 1 - row) * rowBytes;
        for (std::size_t x = 0; x < w; ++x) {
            dst[3 * x] = src[3 * x + 2];
            dst[3 * x + 1] = src[3 * x + 1];
            dst[3 * x + 2] = src[3 * x];
        }
    }
    return bmp;
}

std::vector<std::uint8_t> MakeProjectionFile(const AffineFit& fit,
                                             std::span<const std::uint8_t> bitmap) {
    std::vector<std::uint8_t> file(CSiteProjection::kHeaderSize, 0);
    const std::size_t x = CSiteProjection::kXRowOffset;
    const std::size_t y = CSiteProjection::kYRowOffset;
    PutDouble(file, x, fit.xLat);
    PutDouble(file, x + 8, fit.xLon);
    PutDouble(file, x + 16, 0.0);
    PutDouble(file, x + 24, fit.xOrigin);
    PutDouble(file, y, fit.yLat);
    PutDouble(file, y + 8, fit.yLon);
    PutDouble(file, y + 16, 0.0);
    PutDouble(file, y + 24, fit.yOrigin);
    const std::vector<std::uint8_t> block = CCompression::EncodeBlock(bitmap);
    file.insert(file.end(), block.begin(), block.end());
    return file;
}

std::optional<ProjectionInfo> ReadProjectionInfo(const std::string& path, std::string& error) {
    return projection::ReadHeader(path, error);
}

std::string FormatProjectionInfo(const ProjectionInfo& info) {
    std::ostringstream out;
    char line[160];
    const auto row = [&](const char* name, const double* r) {
        std::snprintf(line, sizeof line, "%s: lat %.10g  lon %.10g  unused %.10g  offset %.10g\n",
                      name, r[0], r[1], r[2], r[3]);
        out << line;
    };
    out << "file size: " << info.fileSize << " bytes\n";
    row("x row", info.xRow);
    row("y row", info.yRow);
    if (!info.hasLength) {
        out << "block: none (the file ends after the header)\n";
        return out.str();
    }
    out << "block length: " << info.blockLength << " bytes";
    if (info.blockLength < 4) {
        out << " (below 4: an empty block)";
    } else if (info.blockLength > info.blockAvailable) {
        out << " (the file holds only " << info.blockAvailable << ")";
    } else if (info.blockLength < info.blockAvailable) {
        out << " (" << info.blockAvailable - info.blockLength << " bytes follow it)";
    }
    out << "\n";
    if (info.hasPlainLength) {
        out << "expanded length: " << info.plainLength << " bytes\n";
    }
    return out.str();
}

}  // namespace ketrion::ktp
