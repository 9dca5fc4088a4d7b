#pragma once

#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRect>

#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "survey/SiteData.h"
#include "survey/SitePlan.h"

class QPainter;

namespace ketrion {

// Everything that places the survey layer's picture for one paint.
struct SurveyPlacement {
    // The colour of a survey point's disc.
    using DiscColour = std::function<QRgb(const CSiteData::_tap&)>;

    SiteRect client;       // client rectangle, client pixels
    double ratio = 1.0;    // device pixels per client pixel
    int radius = 10;       // disc radius, device pixels
    int penWidth = 1;      // width of the dashed pen, device pixels
    int dotsPerMeter = 0;  // resolution for the "AP" label's font
    QFont font;            // font of the "AP" label
    // Disc colours; empty: the five signal levels' colours. Call
    // SurveyLayer::Invalidate() when the colours it gives change.
    DiscColour discColour;
};

// The survey's marks, drawn into the survey layer's picture at device pixels:
// discs coloured by signal, rings for points without a valid fix, the path's
// dashed line and the dynamic access points' "AP" marks. Discs and the access
// point are drawn once per size (and colour) and kept, then copied: the same
// pixels wherever they land, at a fraction of a painter call's cost. UI
// thread only.
class SurveyMarks {
public:
    // Border around a disc image beyond the pen's width, so its outer pixels fit.
    static constexpr int kSpriteMargin = 2;
    // Half the side of the box the "AP" label is centred in, whatever the disc size.
    static constexpr int kApLabelHalf = 10;

    // Disc of `colour` centred at (sx, sy), drawn only within `clip`.
    void DrawDisc(QImage& image, int sx, int sy, QRgb colour, int radius, int penWidth,
                  const QRect& clip);
    // A point taken without a valid fix: its colour as a ring.
    static void DrawRing(QImage& image, int sx, int sy, QRgb colour,
                         const SurveyPlacement& placement);
    // A 1-pixel-per-width dashed line (4 drawn, 2 left out, scaled by the
    // width), clipped to the image; the last pixel is not drawn.
    static void DrawDashedLine(QImage& layer, QPoint from, QPoint to, QRgb ink, int width);
    // The same line, drawn only within `clip` (device pixels).
    static void DrawDashedLine(QImage& layer, QPoint from, QPoint to, QRgb ink, int width,
                               const QRect& clip);
    // A dynamic access point painted at (sx, sy) (the handheld's layout).
    static void DrawAccessPoint(QImage& image, int sx, int sy, const SurveyPlacement& placement);
    // Square pixels: the access point as a copied picture `reach` device
    // pixels around its centre, within `clip`.
    void DrawAccessPointSprite(QImage& image, QPoint at, int reach,
                               const SurveyPlacement& placement, const QRect& clip);

private:
    struct DiscImage {
        struct Span {
            int row;
            int left;
            int length;
        };
        QImage image;             // the disc, opaque where painted
        std::vector<Span> spans;  // the painted runs of each row
    };

    const DiscImage& Disc(QRgb colour, int radius, int penWidth);
    static void PaintAccessPoint(QPainter& dc, int sx, int sy, const SurveyPlacement& placement);

    QImage m_apSprite;  // a dynamic access point, drawn once per size
    int m_apSpriteRadius = 0;
    // Discs drawn once per (radius, pen width) and colour, then copied.
    std::map<std::pair<int, int>, std::map<QRgb, DiscImage>> m_discs;
};

}  // namespace ketrion
