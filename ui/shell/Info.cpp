#include "ui/shell/Info.h"

#include <QFontDatabase>
#include <QListWidget>
#include <QScrollBar>
#include <QVBoxLayout>

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

}  // namespace

CInfo::CInfo(Services& services, QWidget* parent)
    : CInfo(services.data.SelectedPoint(), services.plan.m_bSignalIsSn, parent) {}

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
