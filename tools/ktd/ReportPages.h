#pragma once

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QString>
#include <utility>
#include <vector>

#include "render/HeatmapImage.h"

class QPdfWriter;

namespace ketrion::ktd {

// Lays out a report on the pages of a PDF, top to bottom: headings, wrapped
// text, a title block, pass/fail lines, tables whose columns are measured
// from their texts, and a heatmap filling the rest of a page with its legend.
class ReportPages {
public:
    static constexpr int kResolution = 150;  // dots per inch of the page coordinates

    ReportPages(QPdfWriter& writer, QPainter& painter);

    void NewPage();
    void Heading(const QString& text);
    void Subheading(const QString& text);
    void Body(const QString& text);
    void Small(const QString& text);
    void Gap();

    // Labelled lines ("Site", "Client", ...) in a framed block, labels in
    // bold in a column as wide as the widest; values wrap.
    void TitleBlock(const std::vector<std::pair<QString, QString>>& rows);

    // A sentence followed by PASS (green) or FAIL (red).
    void Verdict(const QString& text, bool pass);

    // A table with a header row, repeated on each new page it runs onto.
    void Table(const std::vector<QString>& header, const std::vector<std::vector<QString>>& rows);

    // The picture as large as the rest of the page allows, the legend to its
    // right (or below, when the page is narrow for it).
    void Heatmap(const QImage& picture, const heatmap::ColourScale& scale);

    int Left() const { return m_area.height() - m_y; }

private:
    // A paragraph, wrapped at the page width.
    void Line(const QString& text, const QFont& font, int below);

    QPdfWriter& m_writer;
    QPainter& m_painter;
    QRect m_area;
    QFont m_body, m_heading, m_subheading, m_small;
    int m_y = 0;
};

}  // namespace ketrion::ktd
