#include "ui/siteview/InstructionPage.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

namespace ketrion {

namespace {

// Text sizes in points and the page's margins and spacing in client pixels.
constexpr int kTitlePoints = 20;
constexpr int kStepPoints = 13;
constexpr int kMargin = 48;
constexpr int kStepGap = 12;
// The text column is at most this wide, for lines that stay readable.
constexpr int kMaxTextWidth = 900;

const QColor kBackground(0, 0, 0);
const QColor kTitleColour(255, 255, 255);
const QColor kStepColour(220, 220, 220);
const QColor kNumberColour(120, 200, 255);

}  // namespace

QString InstructionPage::Title() {
    return QStringLiteral("Survey a site");
}

QStringList InstructionPage::Steps() {
    return {
        QStringLiteral("Load the site plan: File > Open projection... (Ctrl+O)."),
        QStringLiteral("Choose where the survey goes: File > New collection... (Ctrl+N), or add "
                       "to one with File > Open collection... (Ctrl+Shift+O)."),
        QStringLiteral("Walk the site and record: Survey > Record (Space or F5) takes a reading "
                       "every 5 seconds at the GPS position; Survey > Stop (F6) pauses."),
        QStringLiteral("Indoors, without GPS, say where you are: Survey > Stop and go, then click "
                       "where you stand for each reading; or Survey > Continuous walk, then click "
                       "where you start, at each turn and where you end while walking steadily. "
                       "Ctrl+Z takes back the last point or stretch of the walk."),
        QStringLiteral("Mark an access point you can see: Survey > Place access point, then "
                       "click where it stands."),
        QStringLiteral("Look at the result: View > Heatmap shows the coverage between the "
                       "points, by signal, network, access point or count, and where the "
                       "access points probably stand."),
        QStringLiteral("Move around the plan: drag, or the wheel; Ctrl+wheel, Ctrl++ and Ctrl+- "
                       "zoom; View > Fit to window (Ctrl+0) shows the whole plan. Hold the "
                       "right button on a point for its readings."),
    };
}

void InstructionPage::Draw(QPainter& dc, const QRect& area) {
    dc.save();
    dc.fillRect(area, kBackground);
    const int width = std::min(kMaxTextWidth, area.width() - 2 * kMargin);
    if (width <= 0) {
        dc.restore();
        return;
    }
    const int left = area.left() + (area.width() - width) / 2;
    int top = area.top() + kMargin;

    QFont title = dc.font();
    title.setPointSize(kTitlePoints);
    title.setBold(true);
    dc.setFont(title);
    dc.setPen(kTitleColour);
    const QRect titleBox =
        dc.boundingRect(QRect(left, top, width, area.height()), Qt::TextWordWrap, Title());
    dc.drawText(titleBox, Qt::TextWordWrap, Title());
    top = titleBox.bottom() + 2 * kStepGap;

    QFont step = dc.font();
    step.setPointSize(kStepPoints);
    step.setBold(false);
    dc.setFont(step);
    const int numberWidth =
        QFontMetrics(step, dc.device()).horizontalAdvance(QStringLiteral("00."));
    const QStringList steps = Steps();
    for (int i = 0; i < steps.size(); ++i) {
        dc.setPen(kNumberColour);
        dc.drawText(QRect(left, top, numberWidth, area.height()), Qt::AlignRight,
                    QStringLiteral("%1.").arg(i + 1));
        dc.setPen(kStepColour);
        const QRect box(left + numberWidth + kStepGap, top, width - numberWidth - kStepGap,
                        area.bottom() - top);
        const QRect used = dc.boundingRect(box, Qt::TextWordWrap, steps[i]);
        dc.drawText(box, Qt::TextWordWrap, steps[i]);
        top = used.bottom() + kStepGap;
    }
    dc.restore();
}

}  // namespace ketrion
