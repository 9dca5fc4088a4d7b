#include "ui/shell/Info.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "survey/SitePlan.h"
#include "ui/shell/Services.h"

namespace ketrion {

namespace {

// Size of the dialog and its list (about 151 x 158 and 135 x 116 dialog units).
constexpr int kDialogWidth = 240;
constexpr int kDialogHeight = 260;

// The list's text order: case-insensitive, character by character, so "#"
// comes before digits and a blank before any digit ("1  ..." before "10  ...").
bool ListsBefore(const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive) < 0;
}

// The desktop dialog: at least this size, wider when the columns need it.
constexpr int kDesktopMinWidth = 560;
constexpr int kDesktopHeight = 420;

// A table cell that sorts by number.
QTableWidgetItem* NumberItem(int value) {
    auto* item = new QTableWidgetItem;
    item->setData(Qt::DisplayRole, value);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

// Sorts by the number kept beside a text ("0x1F").
class HexItem final : public QTableWidgetItem {
public:
    explicit HexItem(int value)
        : QTableWidgetItem(QStringLiteral("0x%1").arg(value, 2, 16, QLatin1Char('0')).toUpper()),
          m_value(value) {
        setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    bool operator<(const QTableWidgetItem& other) const override {
        if (const auto* hex = dynamic_cast<const HexItem*>(&other)) {
            return m_value < hex->m_value;
        }
        return QTableWidgetItem::operator<(other);
    }

private:
    int m_value;
};

}  // namespace

bool CInfo::IsDesktop(const QWidget* parent) {
    return parent != nullptr && parent->window()->width() > kHandheldWidth;
}

CInfo::CInfo(Services& services, QWidget* parent)
    : CInfo(services.data.SelectedPoint(), services.plan.m_bSignalIsSn, parent) {
    if (IsDesktop(parent)) {
        const CSiteData::PointDetails details = services.data.SelectedPoint();
        PointRecord record = ReadPointRecord(services.data.Path(), details.point.offset);
        if (details.valid) {
            services.data.ForEachPoint([&](const auto& point) {
                ++record.of;
                if (point.offset == details.point.offset) {
                    record.number = record.of;
                }
            });
        }
        BuildDesktop(details, services.plan.m_bSignalIsSn, record);
    }
}

CInfo::CInfo(const CSiteData::PointDetails& details, bool signalIsSn, const PointRecord& record,
             QWidget* parent)
    : CInfo(details, signalIsSn, parent) {
    BuildDesktop(details, signalIsSn, record);
}

void CInfo::BuildDesktop(const CSiteData::PointDetails& details, bool signalIsSn,
                         const PointRecord& record) {
    auto* layout = qobject_cast<QVBoxLayout*>(this->layout());
    m_list->hide();
    layout->removeWidget(m_list);

    const bool dynamicAp = details.valid && details.point.kind == CSiteData::kKindDynamicAp;
    if (record.valid) {
        if (record.number > 0) {
            m_summary << QStringLiteral("Point: %1 of %2").arg(record.number).arg(record.of);
        }
        m_summary
            << QStringLiteral("Time: %1").arg(QString::fromStdString(record.time))
            << QStringLiteral("Position: %1").arg(QString::fromStdString(record.PositionText()))
            << QStringLiteral("Fix: %1").arg(QString::fromLatin1(record.FixText()));
        // The board's own GPS is how every point used to be placed: only
        // another way is worth a line.
        if (!record.method.empty() && record.method != "board") {
            m_summary << QStringLiteral("Placed by: %1").arg(QString::fromStdString(record.method));
        }
    } else if (details.valid) {
        m_summary << QStringLiteral("The point's record cannot be read from the collection file.");
    } else {
        m_summary << QStringLiteral("No point is selected.");
    }
    if (dynamicAp) {
        m_summary << QString::fromLatin1(kDynamicAp);
    } else if (details.valid) {
        m_summary << QStringLiteral("Readings: %1").arg(details.point.readings);
    }
    auto* summary = new QLabel(m_summary.join(QLatin1Char('\n')), this);
    summary->setObjectName(QStringLiteral("infoSummary"));
    summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(summary);

    // The adapter's details follow when the side store has them.
    const int columns = record.sideDetails ? kColumns + 4 : kColumns;
    m_table = new QTableWidget(0, columns, this);
    QStringList headers{QStringLiteral("#"), QStringLiteral("MAC"),
                        signalIsSn ? QStringLiteral("S/N") : QStringLiteral("Signal (dBm)"),
                        QStringLiteral("Name"), QStringLiteral("Attribute")};
    if (record.sideDetails) {
        headers << QStringLiteral("Channel") << QStringLiteral("Band") << QStringLiteral("Security")
                << QStringLiteral("PHY");
    }
    m_table->setHorizontalHeaderLabels(headers);
    m_table->horizontalHeaderItem(kColAttribute)
        ->setToolTip(QStringLiteral(
            "The reading's attribute byte as stored: the receiver board's own byte, kept "
            "unchanged; a Wi-Fi adapter's survey stores the channel number there."));
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setAlternatingRowColors(true);
    if (!dynamicAp) {
        m_table->setRowCount(static_cast<int>(record.readings.size()));
        int row = 0;
        for (const PointRecord::Reading& r : record.readings) {
            m_table->setItem(row, kColNumber, NumberItem(r.number));
            m_table->setItem(row, kColMac, new QTableWidgetItem(QString::fromStdString(r.mac)));
            m_table->setItem(row, kColSignal, NumberItem(r.signal));
            m_table->setItem(row, kColName,
                             new QTableWidgetItem(QString::fromLatin1(r.ssid.c_str())));
            m_table->setItem(row, kColAttribute, new HexItem(r.attribute));
            if (record.sideDetails) {
                int column = kColumns;
                for (const std::string* text : {&r.channel, &r.band, &r.security, &r.phy}) {
                    m_table->setItem(row, column++,
                                     new QTableWidgetItem(QString::fromStdString(*text)));
                }
            }
            ++row;
        }
    }
    m_table->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_table->setSortingEnabled(true);
    // The strongest first, as a surveyor reads the list.
    m_table->sortByColumn(kColSignal, Qt::DescendingOrder);
    m_table->resizeColumnsToContents();
    m_table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(m_table, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    int columnsWidth = 0;
    for (int c = 0; c < columns; ++c) {
        columnsWidth += m_table->columnWidth(c);
    }
    const int width = std::max(
        kDesktopMinWidth, columnsWidth + 2 * m_table->frameWidth() +
                              m_table->verticalScrollBar()->sizeHint().width() +
                              layout->contentsMargins().left() + layout->contentsMargins().right());
    resize(width, kDesktopHeight);
}

CInfo::CInfo(const CSiteData::PointDetails& details, bool signalIsSn, QWidget* parent)
    : QDialog(parent), m_list(new QListWidget(this)) {
    setWindowTitle(QStringLiteral("Location Information"));
    resize(kDialogWidth, kDialogHeight);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    // Columns of the reading lines line up only in a fixed-pitch font.
    m_list->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_list->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setMinimumWidth(1);
    Build(details, signalIsSn);
}

void CInfo::Build(const CSiteData::PointDetails& details, bool signalIsSn) {
    if (!details.valid) {
        return;
    }
    switch (details.point.kind) {
        case CSiteData::kKindSurvey:
            AddString(QString::fromLatin1(signalIsSn ? kHeaderSn : kHeaderRssi));
            for (const std::string& line : details.lines) {
                AddString(QString::fromLatin1(line.c_str()));
            }
            break;
        case CSiteData::kKindDynamicAp:
            AddString(QString::fromLatin1(kDynamicAp));
            break;
        default:
            break;  // no other kind is listed
    }
}

void CInfo::AddString(const QString& line) {
    // A sorted list box: each line goes where the text order puts it, after
    // any equal lines already there.
    int row = m_list->count();
    while (row > 0 && ListsBefore(line, m_list->item(row - 1)->text())) {
        --row;
    }
    m_list->insertItem(row, line);
}

QStringList CInfo::Lines() const {
    QStringList lines;
    for (int i = 0; i < m_list->count(); ++i) {
        lines << m_list->item(i)->text();
    }
    return lines;
}

}  // namespace ketrion
