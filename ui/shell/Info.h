#pragma once

#include <QDialog>
#include <QStringList>

#include "survey/SiteData.h"
#include "ui/shell/PointRecord.h"

class QListWidget;
class QTableWidget;

namespace ketrion {

struct Services;

// The "Location Information" dialog: what was recorded at the selected survey
// point. A survey point lists a header and one line per access point heard
// there, kept in text order (1, 10, 11, ..., 2, ...); a dynamic access point
// shows one line saying so. Reads the point once, when it is built.
class CInfo : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kHeaderRssi = "#  MAC ADDR              RSSI   SSID";
    static constexpr const char* kHeaderSn = "#  MAC ADDR              S/N    SSID";
    static constexpr const char* kDynamicAp = "THIS POINT IS A DYNAMIC AP";
    // Lines wider than the list scroll horizontally up to this many pixels.
    static constexpr int kScrollWidth = 600;

    // Windows up to this wide are the handheld's: the dialog is its list.
    static constexpr int kHandheldWidth = 240;
    // Columns of the desktop's table.
    enum Column { kColNumber, kColMac, kColSignal, kColName, kColAttribute, kColumns };

    // Shows the survey data's selected point (m_current). In a window wider
    // than the handheld's the dialog is the desktop's: the point's time,
    // position, fix and reading count above a sortable table of its readings
    // read from the collection file, and a Close button.
    explicit CInfo(Services& services, QWidget* parent = nullptr);
    // Shows `details`; `signalIsSn` picks the "S/N" header instead of "RSSI".
    CInfo(const CSiteData::PointDetails& details, bool signalIsSn, QWidget* parent = nullptr);

    // The desktop dialog for `record` (read from the file) and the list's
    // `details`, as the constructor above builds it in a wide window.
    CInfo(const CSiteData::PointDetails& details, bool signalIsSn, const PointRecord& record,
          QWidget* parent = nullptr);

    // True when a dialog for `parent` takes the desktop's form.
    static bool IsDesktop(const QWidget* parent);

    // The list's lines, top to bottom.
    QStringList Lines() const;
    QListWidget* List() const { return m_list; }
    // The desktop's table (null in the handheld's dialog) and the lines
    // above it ("Time: ...", "Position: ...", "Fix: ...", "Readings: ...").
    QTableWidget* Table() const { return m_table; }
    QStringList Summary() const { return m_summary; }

private:
    void BuildDesktop(const CSiteData::PointDetails& details, bool signalIsSn,
                      const PointRecord& record);
    void Build(const CSiteData::PointDetails& details, bool signalIsSn);
    void AddString(const QString& line);

    QListWidget* m_list;
    QTableWidget* m_table = nullptr;
    QStringList m_summary;
};

}  // namespace ketrion
