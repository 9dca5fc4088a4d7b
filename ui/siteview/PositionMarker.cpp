#include "ui/siteview/PositionMarker.h"

#include <QPainter>

#include <cmath>
#include <cstdint>

#include "ui/shell/Draw.h"

namespace ketrion {

namespace {

// Bitmap resource of the marker.
constexpr std::uint16_t kBitmapMarker = 134;

}  // namespace

PositionMarker::PositionMarker(CDraw& draw) {
    QImage marker = draw.LoadBitmap(kBitmapMarker);
    if (marker.isNull()) {
        // A plain cross keeps the centre visible without the resource.
        marker = QImage(kSize, kSize, QImage::Format_RGB32);
        marker.fill(Qt::white);
        for (int i = 0; i < kSize; ++i) {
            marker.setPixel(i, kSize / 2, qRgb(0, 0, 0));
            marker.setPixel(kSize / 2, i, qRgb(0, 0, 0));
        }
    }
    m_marker = marker.convertToFormat(QImage::Format_RGB32);
}

void PositionMarker::Draw(QPainter& dc, const QRect& area) {
    const double ratio = dc.device()->devicePixelRatioF();
    // The marker at device resolution, drawn pixel for pixel: raster
    // operations do not mix with scaling.
    if (m_scaled.isNull() || m_scaled.devicePixelRatio() != ratio) {
        const int side = static_cast<int>(std::lround(kSize * ratio));
        m_scaled = ratio == 1.0
                       ? m_marker
                       : m_marker.scaled(side, side, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        m_scaled.setDevicePixelRatio(ratio);
    }
    dc.save();
    // White marker pixels leave the picture, black ones paint it black.
    dc.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
    dc.drawImage(area.left() + area.width() / 2 - kSize / 2,
                 area.top() + area.height() / 2 - kSize / 2, m_scaled);
    dc.restore();
}

}  // namespace ketrion
