#pragma once

#include <optional>
#include <string>

namespace ketrion {
class CSiteProjection;
}

namespace ketrion::analysis {

// The six lines of a world file for an image whose pixels are plan pixels:
// longitude and latitude per pixel column and row, and the position of the
// centre of the top-left pixel, from the inverse of the projection's map
// from (latitude, longitude) to plan pixels.
struct WorldFile {
    double a = 0;  // longitude per pixel to the right
    double d = 0;  // latitude per pixel to the right
    double b = 0;  // longitude per pixel down
    double e = 0;  // latitude per pixel down
    double c = 0;  // longitude of the centre of pixel (0, 0)
    double f = 0;  // latitude of the centre of pixel (0, 0)

    // Longitude and latitude of plan point (x, y) (pixel (i, j) has its centre
    // at (i + 0.5, j + 0.5)).
    double Longitude(double x, double y) const;
    double Latitude(double x, double y) const;
    // The file's text: a, d, b, e, c, f, one a line.
    std::string Text() const;
};

// The world file of the projection; nothing when its map cannot be inverted
// (it squeezes the earth onto a line or a point, or holds no finite numbers).
std::optional<WorldFile> MakeWorldFile(const CSiteProjection& projection);

// The coordinate system the world file's numbers are in: WGS 84 longitude and
// latitude in degrees, as well-known text for a .prj file.
extern const char kWgs84Wkt[];

}  // namespace ketrion::analysis
