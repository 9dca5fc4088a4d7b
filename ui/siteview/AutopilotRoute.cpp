#include "ui/siteview/AutopilotRoute.h"

#include <cmath>
#include <cstddef>
#include <cstdio>

#include <nlohmann/json.hpp>

namespace ketrion {

namespace {

// A walk's clicks lie within a day of its start: their timers count
// milliseconds in an int, which holds a little under 25 days.
constexpr double kMaxWalkSeconds = 24.0 * 3600.0;

bool ReadClicks(const std::string& text, bool timed, std::vector<WalkClickAt>& clicks,
                std::string& error) {
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    if (!json.is_array() || json.empty()) {
        error = "expected a non-empty JSON array of objects";
        return false;
    }
    clicks.clear();
    for (std::size_t i = 0; i < json.size(); ++i) {
        const nlohmann::json& item = json[i];
        const auto number = [&](const char* key, double& out) {
            if (!item.is_object() || !item.contains(key) || !item[key].is_number()) {
                error = "item " + std::to_string(i + 1) + " has no number \"" + key + "\"";
                return false;
            }
            out = item[key].get<double>();
            if (!std::isfinite(out)) {
                error = "item " + std::to_string(i + 1) + ": \"" + key + "\" is not finite";
                return false;
            }
            return true;
        };
        WalkClickAt click;
        if (!number("x", click.x) || !number("y", click.y) ||
            (timed && !number("t", click.seconds))) {
            return false;
        }
        if (timed &&
            (click.seconds < 0 || (!clicks.empty() && click.seconds < clicks.back().seconds))) {
            error = "item " + std::to_string(i + 1) + ": \"t\" must not go back in time";
            return false;
        }
        if (timed && click.seconds > kMaxWalkSeconds) {
            error = "item " + std::to_string(i + 1) + ": \"t\" is more than " +
                    std::to_string(static_cast<int>(kMaxWalkSeconds / 3600)) +
                    " hours after the start";
            return false;
        }
        clicks.push_back(click);
    }
    return true;
}

}  // namespace

bool ParseStops(const std::string& text, std::vector<std::pair<double, double>>& stops,
                std::string& error) {
    std::vector<WalkClickAt> clicks;
    if (!ReadClicks(text, false, clicks, error)) {
        return false;
    }
    stops.clear();
    for (const WalkClickAt& click : clicks) {
        stops.emplace_back(click.x, click.y);
    }
    return true;
}

bool ParseWalk(const std::string& text, std::vector<WalkClickAt>& walk, std::string& error) {
    return ReadClicks(text, true, walk, error);
}

std::string RouteOutsidePlan(QSize size, const std::vector<std::pair<double, double>>& stops,
                             const std::vector<WalkClickAt>& walk) {
    const auto outside = [&](double x, double y) {
        return !(x >= 0 && y >= 0 && x <= size.width() && y <= size.height());
    };
    char text[200];
    for (std::size_t i = 0; i < stops.size(); ++i) {
        const auto& [x, y] = stops[i];
        if (outside(x, y)) {
            std::snprintf(text, sizeof text, "stop %zu at %g, %g is outside the plan (%d x %d)",
                          i + 1, x, y, size.width(), size.height());
            return text;
        }
    }
    for (std::size_t i = 0; i < walk.size(); ++i) {
        const WalkClickAt& click = walk[i];
        if (outside(click.x, click.y)) {
            std::snprintf(text, sizeof text,
                          "walk click %zu at %g, %g is outside the plan (%d x %d)", i + 1, click.x,
                          click.y, size.width(), size.height());
            return text;
        }
    }
    return {};
}

}  // namespace ketrion
