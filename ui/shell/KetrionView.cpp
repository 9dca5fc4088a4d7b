#include "ui/shell/KetrionView.h"

#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

#include "source/ScanSource.h"
#include "ui/shell/Draw.h"

namespace ketrion {

CKetrionView::CKetrionView(source::ScanSource& scan, CDraw& draw, QWidget* parent)
    : QWidget(parent), m_scan(scan), m_draw(draw) {
    // Every paint covers the whole view from its own buffer.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QString CKetrionView::FirmwareLine() const {
    return QStringLiteral("(%1)").arg(QString::fromLatin1(m_scan.IdentityLines().first.c_str()));
}

QString CKetrionView::SerialLine() const {
    const std::string line = m_scan.IdentityLines().second;
    return line.empty() ? QString() : QStringLiteral("(%1)").arg(QString::fromLatin1(line.c_str()));
}

QImage CKetrionView::Render(QSize size, qreal devicePixelRatio) {
    QImage buffer(size * devicePixelRatio, QImage::Format_RGB32);
    buffer.setDevicePixelRatio(devicePixelRatio);
    // The strip below the picture shows the window's own background.
    buffer.fill(palette().color(QPalette::Window));
    QPainter dc(&buffer);
    OnDraw(dc, size);
    return buffer;
}

QRect CKetrionView::PictureRect(QSize size) {
    const int w = size.width();
    const int h = size.height() - kBottomStrip;
    if (w == kHandheldWidth || w <= 0 || h <= 0) {
        return {0, 0, w, h};
    }
    // Kept in shape: as tall as fits, centred; the sides continue its rows.
    const QSize fitted = QSize(kSplashWidth, kSplashHeight).scaled(w, h, Qt::KeepAspectRatio);
    return {(w - fitted.width()) / 2, (h - fitted.height()) / 2, fitted.width(), fitted.height()};
}

void CKetrionView::OnDraw(QPainter& dc, QSize size) {
    const int w = size.width();
    if (w == kHandheldWidth) {
        OnDrawHandheld(dc, size);
        return;
    }
    const QRect picture = PictureRect(size);
    const QImage splash = m_draw.LoadBitmap(kSplashBitmap);
    if (!splash.isNull() && !picture.isEmpty()) {
        dc.save();
        dc.setRenderHint(QPainter::SmoothPixmapTransform, true);
        // The first and last columns stretched out to the sides carry the
        // picture's bands across the whole width.
        const QRectF left(0, picture.top(), picture.left() + 1, picture.height());
        const QRectF right(picture.right(), picture.top(), w - picture.right(), picture.height());
        dc.drawImage(left, splash, QRectF(0, 0, 1, splash.height()));
        dc.drawImage(right, splash, QRectF(splash.width() - 1, 0, 1, splash.height()));
        dc.drawImage(QRectF(picture), splash);
        dc.restore();
    }
    // The handheld's two lines at the same places of the picture, in a font
    // that grows with it.
    const double scale = picture.height() / static_cast<double>(kSplashHeight);
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(kFontPoints * std::max(1.0, scale));
    dc.setFont(font);
    const QFontMetrics metrics(font, dc.device());
    const int lineHeight = metrics.height();
    const auto top = [&](int pictureRow) {
        return picture.top() + static_cast<int>(pictureRow * scale);
    };
    DrawTextLine(dc, FirmwareLine(), QRect(0, top(kFirmwarePictureRow), w, lineHeight));
    DrawTextLine(dc, SerialLine(), QRect(0, top(kSerialPictureRow), w, lineHeight));
}

void CKetrionView::OnDrawHandheld(QPainter& dc, QSize size) {
    const int w = size.width();
    const int h = size.height();
    m_draw.DrawBitmap(dc, kSplashBitmap, 0, 0, w, h - kBottomStrip);

    QFont font(QStringLiteral("Arial"));
    font.setPointSize(kFontPoints);
    dc.setFont(font);
    const QFontMetrics metrics(font, dc.device());
    // The line height is the height of "X" as the font measures text: the
    // font's full height, not the glyph's ink.
    const int lineHeight = metrics.size(Qt::TextSingleLine, QStringLiteral("X")).height();

    DrawTextLine(dc, FirmwareLine(), QRect(0, FirmwareBandTop(h), w, lineHeight));
    DrawTextLine(dc, SerialLine(), QRect(0, SerialBandTop(h), w, lineHeight));
}

void CKetrionView::DrawTextLine(QPainter& dc, const QString& text, const QRect& band) {
    // Each line sits on a white band exactly as wide as its characters.
    const int flags = Qt::AlignHCenter | Qt::AlignVCenter;
    const QRect used = dc.boundingRect(band, flags, text);
    dc.fillRect(used.intersected(band), Qt::white);
    dc.setPen(Qt::black);
    dc.drawText(band, flags, text);
}

void CKetrionView::paintEvent(QPaintEvent*) {
    const QImage buffer = Render(size(), devicePixelRatioF());
    QPainter screen(this);
    screen.drawImage(QPoint(0, 0), buffer);
}

void CKetrionView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        QApplication::beep();
        emit tapped();
    }
    QWidget::mousePressEvent(event);
}

}  // namespace ketrion
