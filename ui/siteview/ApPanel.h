#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

#include "analysis/ApEstimate.h"

class QTableWidget;

namespace ketrion {

// What is known of an access point beyond the collection file (the side
// store's channel, band and security); every field may be missing.
struct ApDetails {
    std::optional<int> channel;
    std::optional<QString> band;      // "2.4 GHz", "5 GHz", ...
    std::optional<QString> security;  // "WPA2", "Open", ...
};

// Looks an access point's details up by its address.
using ApDetailsSource = std::function<ApDetails(const analysis::Mac&)>;

// The estimated access points as a table: address, network, channel, band,
// security, the estimated position and its uncertainty, how often and how
// strongly it was heard. Cells the details source cannot fill stay empty.
class ApPanel : public QWidget {
    Q_OBJECT
public:
    enum Column {
        kAddress,
        kNetwork,
        kChannel,
        kBand,
        kSecurity,
        kEstimate,
        kUncertainty,
        kHeard,
        kStrongest,
        kColumns
    };

    explicit ApPanel(QWidget* parent = nullptr);

    void SetDetailsSource(ApDetailsSource source);
    // Lists `aps`, one row each, in the order given.
    void Show(const std::vector<analysis::ApEstimate>& aps);
    QTableWidget* Table() const { return m_table; }

    // The text of an estimate's position cell.
    static QString EstimateText(const analysis::ApEstimate& ap);

    // As wide as its columns (up to a share of the screen), so a dock shows
    // every column without scrolling sideways.
    QSize sizeHint() const override;

private:
    // The table's columns, its frame and a vertical scroll bar, in pixels.
    int ColumnsWidth() const;

    QTableWidget* m_table = nullptr;
    ApDetailsSource m_details;
    std::vector<analysis::ApEstimate> m_aps;
};

}  // namespace ketrion
