#pragma once

#include <QBrush>
#include <QFont>
#include <QImage>
#include <QPen>
#include <QPoint>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <utility>
#include <vector>

#include "survey/SiteData.h"
#include "survey/SitePlan.h"

class QPainter;

namespace ketrion {

// Draws the plan for the client area, then an optional overlay, then the
// survey on it: discs coloured by signal, the dashed path through the survey
// points and the dynamic access points. Keeps the result between paints: a
// repaint with nothing moved costs nothing here, and a new point is drawn
// onto the kept picture alone. UI thread only.
class SurveyLayer {
public:
    // Draws between the plan and the points, in client coordinates (the
    // painter scales to device pixels itself); the transform maps plan
    // coordinates to client coordinates.
    using Overlay = std::function<void(QPainter&, const ViewTransform&)>;

    // The colour of a survey point's disc.
    using DiscColour = std::function<QRgb(const CSiteData::_tap&)>;

    // Everything that places the picture for one paint.
    struct Placement {
        SiteRect client;       // client rectangle, client pixels
        double ratio = 1.0;    // device pixels per client pixel
        int radius = 10;       // disc radius, device pixels
        int penWidth = 1;      // width of the dashed pen, device pixels
        int dotsPerMeter = 0;  // resolution for the "AP" label's font
        QFont font;            // font of the "AP" label
        // Disc colours; empty: the five signal levels' colours. Call
        // Invalidate() when the colours it gives change.
        DiscColour discColour;
    };

    // Disc colour class of a signal in dBm: 0 (-91 and below) .. 4 (-30 and above).
    static int SignalLevel(int signal);
    // The disc colour of a level.
    static QColor LevelColour(int level);

    // Brings the picture up to date for `plan` (viewport, layout), the plan
    // image and the points of `data`, and returns it: `client * ratio` device
    // pixels carrying the device pixel ratio. Null when it cannot be allocated.
    const QImage& Update(const CSitePlan& plan, const Placement& placement, const QImage& planImage,
                         const CSiteData& data);
    // Forces a full redraw at the next update (the list was replaced).
    void Invalidate() { m_valid = false; }
    // Installs or removes (empty function) the overlay; redraws at the next update.
    void SetOverlay(Overlay overlay);

    // A 1-pixel-per-width dashed line (4 drawn, 2 left out, scaled by the
    // width), clipped to the image; the last pixel is not drawn.
    static void DrawDashedLine(QImage& layer, QPoint from, QPoint to, QRgb ink, int width);
    // The same line, drawn only within `clip` (device pixels).
    static void DrawDashedLine(QImage& layer, QPoint from, QPoint to, QRgb ink, int width,
                               const QRect& clip);

private:
    struct Key {
        SiteRect client;
        SiteRect viewport;
        SiteRect extent;
        double scale = 0;
        double originX = 0;
        double originY = 0;
        bool square = false;
        double ratio = 0;
        qint64 plan = 0;
        bool showPath = false;
        bool showAps = false;
        int dotsPerMeter = 0;
        int radius = 0;
        int penWidth = 0;
        bool colours = false;
        bool operator==(const Key&) const = default;
    };
    struct DiscImage {
        struct Span {
            int row;
            int left;
            int length;
        };
        QImage image;             // the disc, opaque where painted
        std::vector<Span> spans;  // the painted runs of each row
    };

    // The plan, within `clip` (client pixels) when one is given.
    void DrawPlan(const CSitePlan& plan, const QImage& planImage, const QRectF* clip = nullptr);
    const DiscImage& Disc(QRgb colour, int radius, int penWidth);
    // Disc and access point drawn only within `clip` (device pixels).
    void DrawDisc(int sx, int sy, QRgb colour, int radius, int penWidth, const QRect& clip);
    // A point taken without a valid fix: its colour as a ring.
    void DrawRing(int sx, int sy, QRgb colour, const Placement& placement);
    void ExtendPath(QPoint to, int penWidth);
    void DrawAccessPoint(int sx, int sy, const Placement& placement);
    static void PaintAccessPoint(QPainter& dc, int sx, int sy, const Placement& placement);
    // Square pixels: the access point as a copied picture `reach` device
    // pixels around its centre, within `clip`.
    void DrawAccessPointSprite(QPoint at, int reach, const Placement& placement, const QRect& clip);
    // Whether `key` differs from the kept picture's by a pan of whole device
    // pixels only; `shift` is how far the picture moves.
    bool PanShift(const Key& key, QPoint& shift) const;
    // Moves the kept picture by `shift` device pixels (what leaves is lost).
    void ShiftPicture(QPoint shift);
    // Draws plan, overlay and the points already drawn in the strips a pan
    // by `shift` uncovered.
    void RedrawStrips(const CSitePlan& plan, const Placement& placement, const QImage& planImage,
                      const CSiteData& data, QPoint shift);
    // Square pixels: draws points [from, to) of the list within the clip
    // rectangles (device pixels), carrying the path on from the last point
    // drawn when `carryPath`; returns the index after the last point seen.
    std::size_t DrawSquarePoints(const CSitePlan& plan, const Placement& placement,
                                 const CSiteData& data, std::size_t from, std::size_t to,
                                 std::span<const QRect> clips, bool carryPath);

    QImage m_image;
    Key m_key;
    bool m_valid = false;
    std::size_t m_points = 0;  // points of the list already drawn
    QPoint m_pathLast;         // the path's last screen point (handheld)
    QPoint m_pathLastPlan;     // the path's last plan point (square pixels)
    bool m_pathStarted = false;
    Overlay m_overlay;
    QImage m_apSprite;  // a dynamic access point, drawn once per size
    int m_apSpriteRadius = 0;
    // Discs drawn once per (radius, pen width) and colour, then copied.
    std::map<std::pair<int, int>, std::map<QRgb, DiscImage>> m_discs;
};

}  // namespace ketrion
