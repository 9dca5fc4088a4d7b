#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace ketrion {

class CLocation;
class Prompt;
class Sound;

// Ties the plan image to the earth: an affine map from latitude and longitude
// (degrees) to plan pixels, read from a projection file together with the
// compressed plan image, which loading expands into a bitmap file beside the
// projection file. Until a projection is loaded every position maps to (0, 0).
// User-interface thread only.
//
// Projection file (little-endian): 145-byte header with two rows of four
// doubles at offsets 13 (x) and 45 (y), each (latitude coefficient, longitude
// coefficient, unused, offset); then the compressed image block, whose first
// uint32 is its own length.
class CSiteProjection {
public:
    static constexpr std::size_t kHeaderSize = 145;
    static constexpr std::size_t kXRowOffset = 13;
    static constexpr std::size_t kYRowOffset = 45;

    CSiteProjection(CLocation& location, Prompt& prompt, Sound& sound);
    virtual ~CSiteProjection() = default;

    // Loads the projection file at path: copies its image block to path + "c",
    // expands it into path + "b" (m_strBitmapPath) and takes the coefficients.
    // Returns false when the file cannot be opened, is not a regular file or is
    // shorter than its header; the message has then been shown and the
    // previous projection stays in place. A block that cannot be copied or
    // expanded shows its message and leaves no bitmap file; the coefficients
    // are still taken.
    bool LoadProjection(const std::string& path);

    // Plan position of the receiver's current position.
    int CurrentPlanX() const;
    int CurrentPlanY() const;
    // Plan position of a position stored in units of 1/3,600,000 degree.
    int PlanX(int latitude, int longitude) const;
    int PlanY(int latitude, int longitude) const;

    // A plan coordinate as an int: truncated toward zero, saturated to the int
    // range, and 0 when not finite.
    static int ToPlanCoordinate(double value);

    double m_xLat = 0;
    double m_xLon = 0;
    double m_yLat = 0;
    double m_yLon = 0;
    double m_xOrigin = 0;
    double m_yOrigin = 0;
    std::string m_strProjectionPath;
    std::string m_strBitmapPath;
    std::array<std::uint8_t, kHeaderSize> m_header{};

private:
    CLocation& m_location;
    Prompt& m_prompt;
    Sound& m_sound;
};

}  // namespace ketrion
