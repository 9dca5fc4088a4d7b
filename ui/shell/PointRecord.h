#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ketrion {

// One survey point as its collection file holds it: the location record's
// time, position and fix, and every reading with its attribute. What the
// desktop's Location Information dialog shows.
struct PointRecord {
    struct Reading {
        int number = 0;     // 1 .. readings, in file order
        std::string mac;    // "00:1a:2b:3c:4d:5e", as every output writes it
        int signal = 0;     // whole dBm (or S/N), truncated as the list shows it
        std::string ssid;   // network name
        int attribute = 0;  // the board's attribute byte
        // From the side store, where it has them (empty otherwise).
        std::string channel, band, security, phy;
    };
    bool valid = false;      // false when the file or the record cannot be read
    int kind = 0;            // 0 survey point, 1 dynamic access point
    std::string time;        // "YYYY-MM-DD hh:mm:ss UTC"
    double latitude = 0.0;   // degrees, north positive
    double longitude = 0.0;  // degrees, east positive
    int fixClass = 0;        // 1 2D fix, 2 3D fix, 0 other
    int count = 0;           // reading records the location record announces
    std::vector<Reading> readings;
    bool sideDetails = false;  // some reading has details from the side store
    std::string method;        // how the position was obtained, from the side store
    // The point's place among the loaded points (1-based) and how many there
    // are; 0 when not known.
    std::size_t number = 0;
    std::size_t of = 0;

    // "2D Fix", "3D Fix" or "No fix".
    const char* FixText() const;
    // "51.50124 N, 0.12450 W".
    std::string PositionText() const;
};

// Reads the point whose location record starts at `offset` of the collection
// file at `path`. The file is untrusted: a record cut short, a count larger
// than the file, or a file that is not a collection file give what could be
// read (valid false when not even the location record could).
PointRecord ReadPointRecord(const std::string& path, std::int64_t offset);

}  // namespace ketrion
