#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QPainter;
class QWidget;

namespace ketrion {

struct LocationSnapshot;
namespace source {
struct SourceEvent;
}
struct Services;

// The text bands across the top of the site view: the location band (green
// with a 3D fix, else red), the zoom band (zoom and point count) and the
// alert bands below them (no access point heard, the place-AP prompt, link
// news). Keeps the link news the sources announce until they are over, and
// plays the alert sound when they start. UI thread only.
class SiteBands {
public:
    // Band font: 8 points, face "System"; larger at desktop sizes.
    static constexpr int kFontPoints = 8;
    static constexpr int kDesktopFontPoints = 10;

    // `viewport` is the widget the bands are drawn across (its width) and
    // whose resolution sizes their font.
    SiteBands(Services& services, const QWidget& viewport);

    // A source's news: sets or clears the link alert (the view repaints).
    void OnSourceEvent(const source::SourceEvent& event);

    QFont Font() const;
    // Height of one band in the painter's current font and resolution.
    static int Height(QPainter& dc);
    // Height of the location and zoom bands at the viewport's resolution.
    int StatusHeight() const;

    // Texts as the next paint draws them.
    QString LocationText() const;
    QString ZoomText() const;
    // The location band's text for a board report: marked as old once no
    // report has come for longer than the GPS staleness limit.
    static QString LocationLine(const LocationSnapshot& snapshot);
    // Text of the link alert band; empty when none is due.
    const QString& LinkAlert() const { return m_linkAlert; }

    // The location and zoom bands at the top of the painter.
    void DrawStatus(QPainter& dc) const;
    // The alert bands that are due, from the third band down (the painter is
    // translated so that the location band would lie at its top).
    void DrawAlerts(QPainter& dc, bool placingAp) const;

private:
    void Draw(QPainter& dc, int top, const QColor& fill, const QString& text) const;

    Services& m_services;
    const QWidget& m_viewport;
    // Link news shown in an alert band (empty: none), and whether it is a
    // scan abandoned (which the next finished scan clears).
    QString m_linkAlert;
    bool m_scanAbandoned = false;
};

}  // namespace ketrion
