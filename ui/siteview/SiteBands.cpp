#include "ui/siteview/SiteBands.h"

#include <QFontMetrics>
#include <QPainter>
#include <QWidget>

#include <cmath>
#include <cstdio>

#include "engine/Location.h"
#include "model/SourceEvent.h"
#include "platform/Clock.h"
#include "platform/Sound.h"
#include "session/SurveySession.h"
#include "source/FixHealth.h"
#include "survey/SiteData.h"
#include "survey/SitePlan.h"
#include "ui/shell/Services.h"
#include "ui/siteview/PlanNavigator.h"

namespace ketrion {

namespace {

// Smallest size a band's text is shrunk to so that it fits the band.
constexpr double kMinFontPoints = 5.0;

const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);
const QColor kRed(192, 0, 0);
const QColor kGreen(0, 192, 0);
const QColor kBlue(0, 0, 192);

}  // namespace

SiteBands::SiteBands(Services& services, const QWidget& viewport)
    : m_services(services), m_viewport(viewport) {}

void SiteBands::OnSourceEvent(const source::SourceEvent& event) {
    switch (event.kind) {
        case source::SourceEventKind::ScanAbandoned:
            m_scanAbandoned = true;
            // Why, in the source's own words (the board's missing scan end,
            // an adapter's scan without results).
            m_linkAlert = event.reason.empty()
                              ? QStringLiteral("ALERT! SCAN ABANDONED")
                              : QStringLiteral("ALERT! SCAN ABANDONED: %1")
                                    .arg(QString::fromStdString(event.reason).toUpper());
            // Played without holding up the user-interface thread.
            m_services.sound.PlayResourceSound("REDALERT");
            break;
        case source::SourceEventKind::LinkLost:
            m_scanAbandoned = false;
            m_linkAlert = event.reason.empty() ? QStringLiteral("ALERT! LINK LOST")
                                               : QStringLiteral("ALERT! LINK LOST: %1")
                                                     .arg(QString::fromStdString(event.reason));
            m_services.sound.PlayResourceSound("REDALERT");
            break;
        case source::SourceEventKind::LinkRestored:
            m_scanAbandoned = false;
            m_linkAlert.clear();
            break;
        case source::SourceEventKind::ScanEnded:
            // A finished scan shows the source answers again.
            if (m_scanAbandoned) {
                m_scanAbandoned = false;
                m_linkAlert.clear();
            }
            break;
        case source::SourceEventKind::GpsUpdate:
        case source::SourceEventKind::Notice:
            break;
    }
}

QFont SiteBands::Font() const {
    QFont font(QStringLiteral("System"));
    font.setPointSize(PlanNavigator::IsDesktopWidth(m_viewport.width()) ? kDesktopFontPoints
                                                                        : kFontPoints);
    return font;
}

int SiteBands::Height(QPainter& dc) {
    return QFontMetrics(dc.font(), dc.device()).height();
}

int SiteBands::StatusHeight() const {
    // The bands' font at the resolution the view's back buffer is given.
    return 2 * QFontMetrics(Font(), &m_viewport).height();
}

QString SiteBands::LocationText() const {
    // The position in the source's own words; an old one is not passed off
    // as the current one.
    QString line = QString::fromStdString(m_services.position.StatusLine());
    const double age = m_services.position.FixAgeSeconds(m_services.clock.NowMs());
    if (age * 1000.0 > static_cast<double>(source::kStaleFixMs)) {
        line += QStringLiteral(" (no GPS for %1 s)").arg(static_cast<long long>(std::floor(age)));
    }
    return line;
}

QString SiteBands::LocationLine(const LocationSnapshot& snapshot) {
    char text[CLocation::kStatusLineSize * 2] = {};
    CLocation::FormatStatusLine(snapshot, text, sizeof text);
    QString line = QString::fromLatin1(text);
    // An old position is not shown as the current one.
    if (snapshot.ageSeconds > gps::kGpsStaleSeconds) {
        line += QStringLiteral(" (no GPS for %1 s)")
                    .arg(static_cast<long long>(std::floor(snapshot.ageSeconds)));
    }
    return line;
}

QString SiteBands::ZoomText() const {
    char text[128];
    std::snprintf(text, sizeof text, "ZOOM=%d%%  DATA PTS=%d", m_services.plan.GetZoomPercent(),
                  static_cast<int>(m_services.data.PointCount()));
    return QString::fromLatin1(text);
}

void SiteBands::DrawStatus(QPainter& dc) const {
    // A 3D fix turns the location band green.
    const bool fix3D = m_services.position.Current().fixClass == source::FixClass::Fix3D;
    Draw(dc, 0, fix3D ? kGreen : kRed, LocationText());
    Draw(dc, Height(dc), kBlue, ZoomText());
}

void SiteBands::DrawAlerts(QPainter& dc, bool placingAp) const {
    const int height = Height(dc);
    if (placingAp) {
        Draw(dc, 2 * height, kBlack, QStringLiteral("TAP ON SCREEN TO PLACE AP"));
    }
    const bool noAp = m_services.data.m_bNoApHeard.load();
    if (noAp) {
        Draw(dc, 2 * height, kRed, QStringLiteral("ALERT! NO ACCESS POINTS DETECTED!"));
    }
    if (!m_linkAlert.isEmpty()) {
        // Below the third band when that one already carries a message.
        Draw(dc, (placingAp || noAp ? 3 : 2) * height, kRed, m_linkAlert);
    }
}

void SiteBands::Draw(QPainter& dc, int top, const QColor& fill, const QString& text) const {
    // The fill is also the text's background, so the text is drawn over it.
    const QRect band(0, top, m_viewport.width(), Height(dc));
    dc.save();
    dc.fillRect(band, fill);
    dc.setPen(kWhite);
    dc.setBackgroundMode(Qt::TransparentMode);
    // A line wider than the band (the location text in a wide font on a
    // narrow screen) is drawn smaller rather than cut at both ends.
    QFont font = dc.font();
    while (font.pointSizeF() > kMinFontPoints &&
           QFontMetrics(font, dc.device()).horizontalAdvance(text) > band.width()) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
    }
    dc.setFont(font);
    dc.drawText(band, Qt::AlignCenter, text);
    dc.restore();
}

}  // namespace ketrion
