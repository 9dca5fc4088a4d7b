#include "site/Alignment.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace ketrion::site {

namespace {

constexpr double kPi = 3.14159265358979323846;

std::string Label(const ReferencePoint& p) {
    return "\"" + p.label + "\"";
}

}  // namespace

double Similarity::Scale() const {
    return std::hypot(a, b);
}

double Similarity::RotationDegrees() const {
    return std::atan2(b, a) * 180 / kPi;
}

std::string CheckReferences(const std::string& floorName,
                            const std::vector<ReferencePoint>& points) {
    for (std::size_t i = 0; i < points.size(); ++i)
        for (std::size_t j = i + 1; j < points.size(); ++j)
            if (std::hypot(points[i].x - points[j].x, points[i].y - points[j].y) <
                kMinReferenceSeparation)
                return "floor \"" + floorName + "\": reference points " + Label(points[i]) +
                       " and " + Label(points[j]) + " are on one spot";
    if (points.size() < 3)
        return {};
    // The smaller eigenvalue of the points' covariance is their mean squared
    // distance from the best line through them.
    double mx = 0, my = 0;
    for (const ReferencePoint& p : points) {
        mx += p.x;
        my += p.y;
    }
    const auto n = static_cast<double>(points.size());
    mx /= n;
    my /= n;
    double sxx = 0, syy = 0, sxy = 0;
    for (const ReferencePoint& p : points) {
        sxx += (p.x - mx) * (p.x - mx);
        syy += (p.y - my) * (p.y - my);
        sxy += (p.x - mx) * (p.y - my);
    }
    sxx /= n;
    syy /= n;
    sxy /= n;
    const double half = (sxx + syy) / 2;
    const double smaller =
        half - std::sqrt(std::max(0.0, (sxx - syy) * (sxx - syy) / 4 + sxy * sxy));
    if (std::sqrt(std::max(0.0, smaller)) < kMinReferenceSpread) {
        std::string names;
        for (const ReferencePoint& p : points)
            names += (names.empty() ? "" : ", ") + Label(p);
        return "floor \"" + floorName + "\": reference points " + names +
               " lie on one line, which cannot show a mirrored plan; mark one off the line";
    }
    return {};
}

std::optional<Alignment> AlignFloors(const Floor& from, const Floor& to, double metresPerPixelTo,
                                     std::string& error) {
    for (const Floor* floor : {&from, &to}) {
        error = CheckReferences(floor->name, floor->references);
        if (!error.empty())
            return std::nullopt;
    }
    std::map<std::string, PlanPoint> target;
    for (const ReferencePoint& p : to.references)
        target[p.label] = {p.x, p.y};
    std::vector<std::pair<PlanPoint, PlanPoint>> pairs;
    for (const ReferencePoint& p : from.references)
        if (const auto it = target.find(p.label); it != target.end())
            pairs.push_back({{p.x, p.y}, it->second});
    if (pairs.size() < 2) {
        error = "floor \"" + from.name + "\" shares " + std::to_string(pairs.size()) +
                " reference point" + (pairs.size() == 1 ? "" : "s") + " with floor \"" + to.name +
                "\"; two or more (by label) align them";
        return std::nullopt;
    }
    // Least squares over complex numbers: with both sets centred,
    // (a + ib) = sum(conj(p) q) / sum(|p|^2), then the shift takes centre to centre.
    PlanPoint cp, cq;
    for (const auto& [p, q] : pairs) {
        cp.x += p.x;
        cp.y += p.y;
        cq.x += q.x;
        cq.y += q.y;
    }
    const auto n = static_cast<double>(pairs.size());
    cp = {cp.x / n, cp.y / n};
    cq = {cq.x / n, cq.y / n};
    double re = 0, im = 0, norm = 0;
    for (const auto& [p, q] : pairs) {
        const double px = p.x - cp.x, py = p.y - cp.y, qx = q.x - cq.x, qy = q.y - cq.y;
        re += px * qx + py * qy;
        im += px * qy - py * qx;
        norm += px * px + py * py;
    }
    if (!(norm > 0)) {
        error = "floor \"" + from.name + "\": its shared reference points are on one spot";
        return std::nullopt;
    }
    Alignment out;
    out.pairs = pairs.size();
    Similarity& t = out.transform;
    t.a = re / norm;
    t.b = im / norm;
    t.tx = cq.x - (t.a * cp.x - t.b * cp.y);
    t.ty = cq.y - (t.b * cp.x + t.a * cp.y);
    double sum = 0;
    for (const auto& [p, q] : pairs) {
        const PlanPoint m = t.Apply(p);
        const double d = std::hypot(m.x - q.x, m.y - q.y) * metresPerPixelTo;
        sum += d * d;
        out.maxMetres = std::max(out.maxMetres, d);
    }
    out.rmsMetres = std::sqrt(sum / n);
    return out;
}

}  // namespace ketrion::site
