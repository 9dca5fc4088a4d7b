#pragma once

#include <QDialog>
#include <QStringList>

#include "survey/SiteData.h"

class QListWidget;

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

    // Shows the survey data's selected point (m_current).
    explicit CInfo(Services& services, QWidget* parent = nullptr);
    // Shows `details`; `signalIsSn` picks the "S/N" header instead of "RSSI".
    CInfo(const CSiteData::PointDetails& details, bool signalIsSn, QWidget* parent = nullptr);

    // The list's lines, top to bottom.
    QStringList Lines() const;
    QListWidget* List() const { return m_list; }

private:
    void Build(const CSiteData::PointDetails& details, bool signalIsSn);
    void AddString(const QString& line);

    QListWidget* m_list;
};

}  // namespace ketrion
