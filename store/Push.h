#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ketrion::store {

class Connection;

// Where pushed collections go: the site, and the building and floor their
// points are on (a floor named by a point's side-store row is used when
// `floor` is empty; `building` defaults to "main").
struct PushTarget {
    std::string site;
    std::string building;
    std::string floor;
};

// One collection file and its side store as read for a push: the bytes kept
// whole (a pull writes them back) and the rows the tables get.
struct CollectionSnapshot {
    struct Reading {
        std::uint8_t mac[6] = {};
        std::string ssid;  // as UTF-8 (other bytes as \xHH)
        float signalDbm = 0;
        int attribute = 0;
        std::optional<int> channel, frequency, width, noise;
        std::string band, security, phy;
    };
    struct Point {
        std::int64_t offset = 0;
        std::int64_t number = 0;
        std::int32_t latitude = 0, longitude = 0;  // 1/3,600,000 degree
        std::string taken;                         // "YYYY-MM-DD HH:MM:SS", empty if not a time
        int fixClass = 0, kind = 0;
        std::optional<double> planX, planY;
        std::string floor, method;
        bool deleted = false;
        std::vector<Reading> readings;
    };
    std::string path;
    std::string name;  // file name without folder
    std::string bytes;
    std::optional<std::string> side;
    std::vector<Point> points;
    std::int64_t readings = 0;
    std::int64_t created = 0;  // header creation time, seconds since 1970
    std::string damage;    // empty, or what is wrong with the file (its readable part is pushed)
    std::string sideNote;  // empty, or why the side store was left out or may be stale
};

// Reads `path` (read-only, never locked) and its side store. False with one
// line in `error` when the file cannot be read or has no valid header.
bool ReadSnapshot(const std::string& path, CollectionSnapshot& out, std::string& error);

// What pushing one collection did.
struct PushOutcome {
    std::int64_t pointsAdded = 0;
    std::int64_t readingsAdded = 0;
    bool unchanged = false;  // the store already held every point and the same bytes
};

// Called with the readings sent so far and the total of the whole push.
using PushProgress = std::function<void(std::int64_t done, std::int64_t total)>;

// Pushes one collection in one transaction: its site, building and floors
// made when missing, its row (bytes, side store), and the points (keyed by
// collection and offset) it does not hold yet with their readings, sent
// with COPY. Pushing the same file twice adds nothing; a file that grew adds
// its new points. A failure (such as a broken connection) throws and leaves
// nothing of this collection behind.
PushOutcome PushCollection(Connection& connection, const CollectionSnapshot& snapshot,
                           const PushTarget& target, std::int64_t doneBefore, std::int64_t total,
                           const PushProgress& progress);

// Options of a push of several files.
struct PushOptions {
    PushTarget target;
    // Times to reconnect and go on after a broken connection (the collection
    // in progress is sent again; those committed are found unchanged).
    int reconnects = 3;
    PushProgress progress;
    // Told each line of news ("a.ktd: 120 points, 2400 readings added").
    std::function<void(const std::string&)> say;
};

// Pushes every file in `paths` to the store at `url`, one transaction per
// collection. False with one line in `error` at the first failure that
// reconnecting does not mend; collections committed before it stay.
bool PushFiles(const std::string& url, const std::vector<std::string>& paths,
               const PushOptions& options, std::string& error);

}  // namespace ketrion::store
