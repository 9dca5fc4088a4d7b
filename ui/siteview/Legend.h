#pragma once

#include <QString>

class QPainter;

namespace ketrion {

// The key to the disc colours: one row per signal level, strongest first,
// each a disc of the level's colour and its dBm range, in a box in the
// lower-left corner of the view.
class Legend {
public:
    // The dBm range of a level (0 weakest .. 4 strongest).
    static QString Text(int level);
    // Draws the legend with the painter's font, its box `bottom` client
    // pixels from the top (the client's bottom edge).
    static void Draw(QPainter& dc, int bottom);
};

}  // namespace ketrion
