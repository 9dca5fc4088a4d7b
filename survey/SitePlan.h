#pragma once

#include <cstdint>

namespace ketrion {

// An integer rectangle: the view's client area, or a part of the plan image.
struct SiteRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    bool operator==(const SiteRect&) const = default;
};

// How plan coordinates map onto the client area: client = (plan - origin) *
// scale, on each axis. With square pixels scaleX == scaleY; at the handheld
// size the square viewport is stretched to the client rectangle, so they differ.
struct ViewTransform {
    double scaleX = 1.0;   // client pixels per plan pixel, horizontally
    double scaleY = 1.0;   // client pixels per plan pixel, vertically
    double originX = 0.0;  // plan x at the client's left edge
    double originY = 0.0;  // plan y at the client's top edge

    double ToClientX(double x) const { return (x - originX) * scaleX; }
    double ToClientY(double y) const { return (y - originY) * scaleY; }
    double ToPlanX(double sx) const { return originX + sx / scaleX; }
    double ToPlanY(double sy) const { return originY + sy / scaleY; }
};

// The geometry that maps the plan image onto the site view: the plan's extent,
// the viewport (the part of the plan shown, which may reach beyond the extent),
// its centre, the zoom factor and the view's client rectangle. Plan coordinates
// are image pixels, x right and y down; all divisions truncate toward zero.
// Products that could overflow 32 bits are taken in 64 bits and results are
// saturated to the int32 range. User-interface thread only.
//
// Two ways of laying the plan out. The handheld way (the default) keeps a
// square viewport of 1, 1/2, 1/4... of the client's smaller side and stretches
// it to the client rectangle. With square pixels (SetSquarePixels(true), for
// clients wider than the handheld's) the viewport follows the client's shape:
// a scale (client pixels per plan pixel, 1 at 100%) and a centre kept in
// fractions of a plan pixel decide it, and every operation below keeps the
// integer viewport and centre in step with them.
class CSitePlan {
public:
    CSitePlan() = default;
    virtual ~CSitePlan() = default;

    // Extent, viewport and centre back to 0; the zoom factor and settings stay.
    void ResetGeometry();
    void SetClientRect(std::int32_t left, std::int32_t top, std::int32_t right,
                       std::int32_t bottom);
    // Called with (0, 0, image width, image height).
    void SetExtent(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom);
    // Called with (0, 0, s, s), s the smaller side of the client area.
    void SetViewport(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom);

    // Halves the viewport around the centre and doubles the zoom factor; does
    // nothing once the viewport would drop below one plan pixel on either axis,
    // would not shrink any more, or the factor would leave the int16 range.
    void ZoomIn();
    // Doubles the viewport (clamped to the extent) and halves the factor; back
    // at factor 1 the viewport is squared to the client area's smaller side.
    void ZoomOut();

    void ScrollLeft(std::int32_t n);
    void ScrollRight(std::int32_t n);
    void ScrollUp(std::int32_t n);
    void ScrollDown(std::int32_t n);

    std::int32_t GetCentreX() const { return m_centreX; }
    std::int32_t GetCentreY() const { return m_centreY; }
    void SetCentreX(std::int32_t x);
    void SetCentreY(std::int32_t y);
    void CentreOn(std::int32_t x, std::int32_t y);
    void CentreOnScreenPoint(const SiteRect& client, std::int32_t sx, std::int32_t sy);

    // Screen point (relative to the client area's origin) to plan point.
    void ScreenToPlan(const SiteRect& client, std::int32_t sx, std::int32_t sy, std::int32_t& px,
                      std::int32_t& py) const;
    // Plan point to screen point; false (outputs untouched) outside the viewport.
    bool PlanToScreen(const SiteRect& client, std::int32_t x, std::int32_t y, std::int32_t& sx,
                      std::int32_t& sy) const;
    bool Contains(std::int32_t x, std::int32_t y) const;
    // On entry dst holds the client rectangle; on return dst is where the plan
    // image goes on screen and src the part of the image that goes there.
    void GetCopyRects(SiteRect& dst, SiteRect& src) const;

    // Square pixels on or off. The centre stays where it is; turning them on
    // takes the scale the handheld layout shows at, turning them off goes back
    // to the square viewport at the zoom factor nearest to the scale.
    void SetSquarePixels(bool on);
    bool IsSquarePixels() const { return m_bSquare; }
    // Client pixels per plan pixel (horizontally, at the handheld layout).
    double GetScale() const;
    // The zoom shown to the user, in percent.
    int GetZoomPercent() const;
    // Square pixels only (the handheld layout ignores these): the scale is
    // kept between MinScale() and kMaxScale.
    static constexpr double kMaxScale = 32.0;
    // The whole plan fits the client at this scale.
    double FitScale() const;
    // Zoom goes down to 100% or to the fit scale, whichever is smaller.
    double MinScale() const;
    // Sets the scale (clamped) keeping the centre.
    void SetScale(double scale);
    // Multiplies the scale by `factor` keeping the plan point under the
    // client point (sx, sy) where it is (as far as the clamping allows).
    void ZoomAt(double factor, double sx, double sy);
    // Moves the plan by (dx, dy) client pixels, as a drag does; the centre
    // stays within the extent.
    void PanBy(double dx, double dy);
    // Shows the whole plan, centred.
    void ZoomToFit();
    // Shows the plan rectangle `area` with `margin` client pixels around it,
    // at no more than `maxScale`, centred on it.
    void FitArea(const SiteRect& area, double margin, double maxScale);
    // Plan to client mapping for drawing in fractions of a pixel.
    ViewTransform Transform() const;

    std::int16_t GetZoom() const { return m_nZoom; }
    SiteRect GetExtent() const { return m_extent; }
    SiteRect GetViewport() const { return m_viewport; }
    SiteRect GetClientRect() const { return m_client; }

    // Display settings read by the site view and the Location Information
    // dialog; no operation of this class changes them.
    bool m_bShowPath = true;
    bool m_bShowDynamicAps = true;
    bool m_bSignalIsSn = false;

private:
    void LayOutX();
    void LayOutY();
    // Square pixels: the integer viewport and centre from scale and centre.
    void SyncSquare();
    double ClientWidth() const;
    double ClientHeight() const;
    void ClampCentre();

    SiteRect m_extent;
    SiteRect m_viewport;
    std::int32_t m_centreX = 0;
    std::int32_t m_centreY = 0;
    std::int16_t m_nZoom = 1;
    SiteRect m_client;
    bool m_bSquare = false;
    double m_scale = 1.0;
    double m_fCentreX = 0.0;
    double m_fCentreY = 0.0;
};

}  // namespace ketrion
