#include "ui/siteview/ApPanel.h"

#include <QHeaderView>
#include <QScreen>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace ketrion {

namespace {

// Decimal places of the estimated latitude and longitude: about 0.1 m.
constexpr int kDegreeDecimals = 6;
// The share of its window's width (or of the screen's, before it is in a
// window) the panel may take for its columns, and the width taken where
// neither is known.
constexpr double kMostWindowShare = 0.45;
constexpr int kMostWidthWithoutScreen = 860;

int MostWidth(const QWidget& widget) {
    const QWidget* window = widget.window();
    if (window != &widget)
        return static_cast<int>(window->width() * kMostWindowShare);
    const QScreen* screen = widget.screen();
    return screen != nullptr
               ? static_cast<int>(screen->availableGeometry().width() * kMostWindowShare)
               : kMostWidthWithoutScreen;
}

QTableWidgetItem* Cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

}  // namespace

ApPanel::ApPanel(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QStringLiteral("Access points"));
    m_table = new QTableWidget(0, kColumns, this);
    m_table->setHorizontalHeaderLabels(
        {QStringLiteral("Address"), QStringLiteral("Network"), QStringLiteral("Channel"),
         QStringLiteral("Band"), QStringLiteral("Security"), QStringLiteral("Estimated position"),
         QStringLiteral("\u00B1 m"), QStringLiteral("Points"), QStringLiteral("Strongest")});
    m_table->verticalHeader()->setVisible(false);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_table);
}

void ApPanel::SetDetailsSource(ApDetailsSource source) {
    m_details = std::move(source);
    Show(std::vector<analysis::ApEstimate>(m_aps));
}

QString ApPanel::EstimateText(const analysis::ApEstimate& ap) {
    if (ap.position.used == 0) {
        return {};
    }
    QString text = QStringLiteral("%1, %2")
                       .arg(ap.position.latitude, 0, 'f', kDegreeDecimals)
                       .arg(ap.position.longitude, 0, 'f', kDegreeDecimals);
    if (!ap.fromFixes) {
        text += QStringLiteral(" (no GPS fix)");
    }
    return text;
}

void ApPanel::Show(const std::vector<analysis::ApEstimate>& aps) {
    m_aps = aps;
    m_table->setSortingEnabled(false);
    m_table->setRowCount(static_cast<int>(m_aps.size()));
    for (int row = 0; row < static_cast<int>(m_aps.size()); ++row) {
        const analysis::ApEstimate& ap = m_aps[static_cast<std::size_t>(row)];
        const ApDetails details = m_details ? m_details(ap.mac) : ApDetails{};
        m_table->setItem(row, kAddress, Cell(QString::fromStdString(analysis::MacText(ap.mac))));
        m_table->setItem(row, kNetwork, Cell(QString::fromUtf8(ap.ssid)));
        m_table->setItem(row, kChannel,
                         Cell(details.channel ? QString::number(*details.channel) : QString()));
        m_table->setItem(row, kBand, Cell(details.band.value_or(QString())));
        m_table->setItem(row, kSecurity, Cell(details.security.value_or(QString())));
        m_table->setItem(row, kEstimate, Cell(EstimateText(ap)));
        m_table->setItem(
            row, kUncertainty,
            Cell(ap.position.used == 0 ? QString()
                                       : QString::number(ap.position.uncertainty, 'f', 1)));
        m_table->setItem(row, kHeard, Cell(QString::number(ap.pointsHeard)));
        m_table->setItem(row, kStrongest,
                         Cell(QStringLiteral("%1 dBm").arg(ap.strongest, 0, 'f', 1)));
    }
    m_table->resizeColumnsToContents();
    m_table->setSortingEnabled(true);
    // The dock keeps at least the columns' width (within the screen's share):
    // its default width showed two of nine columns.
    setMinimumWidth(std::min(ColumnsWidth(), MostWidth(*this)));
    updateGeometry();
}

int ApPanel::ColumnsWidth() const {
    int width = 2 * m_table->frameWidth() + m_table->verticalScrollBar()->sizeHint().width();
    for (int column = 0; column < kColumns; ++column)
        width += m_table->columnWidth(column);
    return width;
}

QSize ApPanel::sizeHint() const {
    QSize hint = QWidget::sizeHint();
    hint.setWidth(std::min(ColumnsWidth(), MostWidth(*this)));
    return hint;
}

}  // namespace ketrion
