#pragma once

#include <QImage>
#include <QRect>

class QPainter;

namespace ketrion {

class CDraw;

// The cross at the centre of the plan area that marks the plan's centre:
// its white pixels leave the picture, its black ones paint it black (an AND
// copy), at the painter's device resolution. UI thread only.
class PositionMarker {
public:
    // Side of the marker, client pixels.
    static constexpr int kSize = 32;

    // Loads the marker's bitmap resource; a plain cross without it.
    explicit PositionMarker(CDraw& draw);

    // Draws the marker centred in `area` (client pixels).
    void Draw(QPainter& dc, const QRect& area);

private:
    QImage m_marker;
    // The marker at the last ratio it was drawn at.
    QImage m_scaled;
};

}  // namespace ketrion
