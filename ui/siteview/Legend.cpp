#include "ui/siteview/Legend.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <iterator>

#include "ui/siteview/SurveyLayer.h"

namespace ketrion {

namespace {

// Distance from the client's lower-left corner, side of the colour swatches
// and padding inside the box.
constexpr int kMargin = 8;
constexpr int kSwatch = 12;
constexpr int kPadding = 6;
// Rows, strongest first: the signal level of each row.
constexpr int kLevels[] = {4, 3, 2, 1, 0};

const QColor kBlack(0, 0, 0);

}  // namespace

QString Legend::Text(int level) {
    switch (level) {
        case 4:
            return QStringLiteral("-30 dBm and above");
        case 3:
            return QStringLiteral("-50 to -31 dBm");
        case 2:
            return QStringLiteral("-70 to -51 dBm");
        case 1:
            return QStringLiteral("-90 to -71 dBm");
        default:
            return QStringLiteral("-91 dBm and below");
    }
}

void Legend::Draw(QPainter& dc, int bottom) {
    // A box in the lower-left corner: one row per disc colour, strongest first.
    const QFontMetrics metrics(dc.font(), dc.device());
    const int row = std::max(metrics.height(), kSwatch) + 2;
    int textWidth = 0;
    for (int level : kLevels) {
        textWidth = std::max(textWidth, metrics.horizontalAdvance(Text(level)));
    }
    const int boxWidth = 2 * kPadding + kSwatch + kPadding + textWidth;
    const int rows = static_cast<int>(std::size(kLevels));
    const int boxHeight = 2 * kPadding + rows * row;
    const QRect box(kMargin, bottom - kMargin - boxHeight, boxWidth, boxHeight);
    dc.save();
    dc.setPen(QPen(kBlack, 1));
    dc.setBrush(QColor(255, 255, 255, 220));
    dc.drawRect(box);
    for (int i = 0; i < rows; ++i) {
        const int level = kLevels[i];
        const int top = box.top() + kPadding + i * row;
        const QRect swatch(box.left() + kPadding, top + (row - kSwatch) / 2, kSwatch, kSwatch);
        dc.setPen(QPen(kBlack, 1));
        dc.setBrush(SurveyLayer::LevelColour(level));
        dc.drawEllipse(swatch);
        dc.setPen(kBlack);
        const QRect text(swatch.right() + 1 + kPadding, top, textWidth + 1, row);
        dc.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, Text(level));
    }
    dc.restore();
}

}  // namespace ketrion
