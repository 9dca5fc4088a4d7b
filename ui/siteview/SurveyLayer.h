#pragma once

#include <QBrush>
#include <QFont>
#include <QImage>
#include <QPen>
#include <QPoint>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <unordered_map>
#include <vector>

#include "survey/SiteData.h"
#include "survey/SitePlan.h"
#include "ui/siteview/SurveyMarks.h"

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
    using DiscColour = SurveyPlacement::DiscColour;
    // Everything that places the picture for one paint.
    using Placement = SurveyPlacement;

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

    // The path's dashed line (SurveyMarks::DrawDashedLine).
    static void DrawDashedLine(QImage& layer, QPoint from, QPoint to, QRgb ink, int width) {
        SurveyMarks::DrawDashedLine(layer, from, to, ink, width);
    }
    static void DrawDashedLine(QImage& layer, QPoint from, QPoint to, QRgb ink, int width,
                               const QRect& clip) {
        SurveyMarks::DrawDashedLine(layer, from, to, ink, width, clip);
    }

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

    // The plan, within `clip` (client pixels) when one is given.
    void DrawPlan(const CSitePlan& plan, const QImage& planImage, const QRectF* clip = nullptr);
    void ExtendPath(QPoint to, int penWidth);
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

    // What drawing a point needs, as it was when drawn (square pixels), with
    // the path point before it: a pan redraws its strips from these, finding
    // the few that reach a strip through bands of the plan.
    struct Drawn {
        std::int32_t x = 0;
        std::int32_t y = 0;
        std::int32_t prevX = 0;  // the path's point before this one
        std::int32_t prevY = 0;
        QRgb colour = 0;  // survey points not deleted
        std::uint8_t kind = 0;
        bool deleted = false;
        bool hollow = false;
        bool hasPrev = false;  // the path comes to this point
    };
    // Indices into m_drawn by the bands of plan columns and of plan rows
    // (kBand pixels) that a point's mark and the path segment to it cross; a
    // segment across more than kMaxBands bands is looked at by every pan.
    static constexpr std::int64_t kBand = 64;
    static constexpr std::int64_t kMaxBands = 64;
    struct Bands {
        std::unordered_map<std::int64_t, std::vector<std::uint32_t>> byColumn;
        std::unordered_map<std::int64_t, std::vector<std::uint32_t>> byRow;
        std::vector<std::uint32_t> everywhere;
        void Clear();
        void Add(std::uint32_t index, std::int64_t x0, std::int64_t y0, std::int64_t x1,
                 std::int64_t y1);
    };

    QImage m_image;
    Key m_key;
    bool m_valid = false;
    std::size_t m_points = 0;    // points of the list already drawn
    std::vector<Drawn> m_drawn;  // those points, when drawn with square pixels
    Bands m_bands;               // m_drawn by where on the plan they are
    QPoint m_pathLast;           // the path's last screen point (handheld)
    QPoint m_pathLastPlan;       // the path's last plan point (square pixels)
    bool m_pathStarted = false;
    Overlay m_overlay;
    SurveyMarks m_marks;  // the discs and access point, drawn once and copied
};

}  // namespace ketrion
