#include "tools/ktd/ReportPages.h"

#include <QFontMetrics>
#include <QPdfWriter>
#include <algorithm>

#include "tools/ktd/ReportLayout.h"

namespace ketrion::ktd {

namespace {

constexpr int kCellPadding = 4;  // page units above and below a table row's text
const QColor kPass(20, 130, 50);
const QColor kFail(190, 20, 30);

}  // namespace

ReportPages::ReportPages(QPdfWriter& writer, QPainter& painter)
    : m_writer(writer), m_painter(painter), m_area(painter.viewport()) {
    m_body.setFamily("DejaVu Sans");
    m_body.setPixelSize(kResolution / 6);  // 12 pt
    m_heading = m_body;
    m_heading.setPixelSize(kResolution / 4);
    m_heading.setBold(true);
    m_subheading = m_body;
    m_subheading.setPixelSize(kResolution / 5);
    m_subheading.setBold(true);
    m_small = m_body;
    m_small.setPixelSize(kResolution / 8);
}

void ReportPages::NewPage() {
    m_writer.newPage();
    m_y = 0;
}

void ReportPages::Heading(const QString& text) {
    Line(text, m_heading, m_heading.pixelSize() / 2);
}

void ReportPages::Subheading(const QString& text) {
    Line(text, m_subheading, m_subheading.pixelSize() / 3);
}

void ReportPages::Body(const QString& text) {
    Line(text, m_body, 0);
}

void ReportPages::Small(const QString& text) {
    Line(text, m_small, 0);
}

void ReportPages::Gap() {
    m_y += m_body.pixelSize();
}

void ReportPages::Line(const QString& text, const QFont& font, int below) {
    const QFontMetrics metrics(font);
    const QRect bounds =
        metrics.boundingRect(QRect(0, 0, m_area.width(), m_area.height()), Qt::TextWordWrap, text);
    if (m_y + bounds.height() > m_area.height() && m_y > 0)
        NewPage();
    m_painter.setFont(font);
    m_painter.setPen(QColor(0, 0, 0));
    m_painter.drawText(QRect(0, m_y, m_area.width(), bounds.height()), Qt::TextWordWrap, text);
    m_y += bounds.height() + below;
}

void ReportPages::TitleBlock(const std::vector<std::pair<QString, QString>>& rows) {
    if (rows.empty())
        return;
    QFont bold = m_body;
    bold.setBold(true);
    const QFontMetrics labels(bold);
    const QFontMetrics values(m_body);
    const int pad = m_body.pixelSize() / 2;
    int labelWidth = 0;
    for (const auto& row : rows)
        labelWidth = std::max(labelWidth, labels.horizontalAdvance(row.first));
    const int valueX = pad + labelWidth + 2 * pad;
    const int valueWidth = std::max(m_area.width() - valueX - pad, 1);
    const int top = m_y;
    m_y += pad;
    for (const auto& row : rows) {
        const QRect bounds = values.boundingRect(QRect(0, 0, valueWidth, m_area.height()),
                                                 Qt::TextWordWrap, row.second);
        const int height = std::max(bounds.height(), labels.height());
        m_painter.setPen(QColor(0, 0, 0));
        m_painter.setFont(bold);
        m_painter.drawText(QRect(pad, m_y, labelWidth, height), Qt::AlignLeft | Qt::AlignTop,
                           row.first);
        m_painter.setFont(m_body);
        m_painter.drawText(QRect(valueX, m_y, valueWidth, height), Qt::TextWordWrap, row.second);
        m_y += height + pad / 2;
    }
    m_y += pad / 2;
    m_painter.setPen(QPen(QColor(90, 90, 90), 2));
    m_painter.setBrush(Qt::NoBrush);
    m_painter.drawRect(QRect(0, top, m_area.width() - 1, m_y - top));
    m_y += pad;
}

void ReportPages::Verdict(const QString& text, bool pass) {
    const QFontMetrics metrics(m_body);
    QFont bold = m_body;
    bold.setBold(true);
    const QString word = pass ? "PASS" : "FAIL";
    const int wordWidth = QFontMetrics(bold).horizontalAdvance(word) + m_body.pixelSize();
    const QRect bounds =
        metrics.boundingRect(QRect(0, 0, std::max(m_area.width() - wordWidth, 1), m_area.height()),
                             Qt::TextWordWrap, text);
    if (m_y + bounds.height() > m_area.height() && m_y > 0)
        NewPage();
    m_painter.setPen(pass ? kPass : kFail);
    m_painter.setFont(bold);
    m_painter.drawText(QPoint(0, m_y + metrics.ascent()), word);
    m_painter.setPen(QColor(0, 0, 0));
    m_painter.setFont(m_body);
    m_painter.drawText(QRect(wordWidth, m_y, m_area.width() - wordWidth, bounds.height()),
                       Qt::TextWordWrap, text);
    m_y += bounds.height();
}

void ReportPages::Table(const std::vector<QString>& header,
                        const std::vector<std::vector<QString>>& rows) {
    QFont bold = m_small;
    bold.setBold(true);
    const QFontMetrics plain(m_small);
    const QFontMetrics strong(bold);
    std::vector<int> widest(header.size(), 0);
    for (std::size_t c = 0; c < header.size(); ++c)
        widest[c] = strong.horizontalAdvance(header[c]);
    for (const auto& cells : rows)
        for (std::size_t c = 0; c < cells.size() && c < widest.size(); ++c)
            widest[c] = std::max(widest[c], plain.horizontalAdvance(cells[c]));
    const std::vector<ColumnSpan> columns =
        LayoutColumns(widest, m_area.width(), m_small.pixelSize());
    const int line = plain.height() + 2 * kCellPadding;

    auto row = [&](const std::vector<QString>& cells, bool isHeader) {
        const QFont& font = isHeader ? bold : m_small;
        const QFontMetrics& metrics = isHeader ? strong : plain;
        m_painter.setFont(font);
        m_painter.setPen(QColor(0, 0, 0));
        for (std::size_t c = 0; c < cells.size() && c < columns.size(); ++c) {
            const QString text = metrics.elidedText(cells[c], Qt::ElideRight, columns[c].width);
            // A verdict cell reads at a glance.
            const bool verdict = !isHeader && (text == "PASS" || text == "FAIL");
            m_painter.setPen(!verdict ? QColor(0, 0, 0) : text == "PASS" ? kPass : kFail);
            m_painter.drawText(QPoint(columns[c].x, m_y + kCellPadding + metrics.ascent()), text);
        }
        m_painter.setPen(QColor(0, 0, 0));
        m_y += line;
        if (isHeader)
            m_painter.drawLine(0, m_y - 1, m_area.width(), m_y - 1);
    };
    if (m_y + 2 * line > m_area.height() && m_y > 0)
        NewPage();
    row(header, true);
    for (const auto& cells : rows) {
        if (m_y + line > m_area.height()) {
            NewPage();
            row(header, true);
        }
        row(cells, false);
    }
    m_y += line / 2;
}

void ReportPages::Heatmap(const QImage& picture, const heatmap::ColourScale& scale) {
    if (picture.isNull())
        return;
    const int legendText = m_small.pixelSize();
    const QSize legend = heatmap::LegendSize(scale, legendText);
    const int gap = legendText;
    // Beside the picture when that leaves it larger, else below it.
    const int height = std::max(Left() - gap, 1);
    const QSize beside = picture.size().scaled(std::max(m_area.width() - legend.width() - gap, 1),
                                               height, Qt::KeepAspectRatio);
    const QSize below = picture.size().scaled(
        m_area.width(), std::max(height - legend.height() - gap, 1), Qt::KeepAspectRatio);
    if (beside.width() >= below.width()) {
        m_painter.drawImage(QRect(QPoint(0, m_y), beside), picture);
        heatmap::DrawLegend(m_painter, QPoint(beside.width() + gap, m_y), scale, legendText);
        m_y += std::max(beside.height(), legend.height()) + gap;
    } else {
        m_painter.drawImage(QRect(QPoint(0, m_y), below), picture);
        m_y += below.height() + gap;
        heatmap::DrawLegend(m_painter, QPoint(0, m_y), scale, legendText);
        m_y += legend.height() + gap;
    }
}

}  // namespace ketrion::ktd
