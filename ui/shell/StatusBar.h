#pragma once

#include <QStatusBar>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/EngineEvent.h"

class QLabel;

namespace ketrion {

// What the status bar shows, gathered from the shared state at each update.
struct StatusFacts {
    // The scan source's words while it has no device at all (no board was
    // found, or its port failed to open); empty when it has one.
    std::string absent;
    LinkState link = LinkState::Connected;
    std::string fixName;   // the position source's name of its fix; empty before any report
    double gpsAge = -1.0;  // seconds since the last report; negative: not known
    bool recording = false;
    std::size_t points = 0;
    std::string file;        // the collection file's path; empty when none is chosen
    std::string linkReason;  // why the source is lost, when it says
    std::string gpsQuality;  // the fix's quality where the source knows it ("9 sats, 4.0 m")
    std::string scanKind = "board";  // the scan source's kind: "board", "wifi", "wifi-replay"
    // How readings are placed: "gps", "stop" (stop and go) or "walk"; and a
    // walk's readings still waiting for their place (the walk's and an
    // ended walk's: what opening the file again offers).
    std::string placing = "gps";
    std::size_t waiting = 0;
};

namespace source {
class ScanSource;
class PositionSource;
}  // namespace source
class Clock;
// The facts of the scan and position sources, each in its own words.
StatusFacts SourceFacts(const source::ScanSource& scan, const source::PositionSource& position,
                        Clock& clock);

// The texts of the status bar's fields for `facts`.
struct StatusTexts {
    QString link;
    QString gps;
    QString recording;
    QString points;
    QString file;
    QString fileTip;  // the full path, as the file field's tool tip
    QString placing;
    bool gpsStale = false;
};
StatusTexts StatusTextsFor(const StatusFacts& facts);

// The main window's status bar on a desktop: link state, GPS fix and its age,
// recording or not, points recorded, how readings are placed, the current
// collection file.
class CStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit CStatusBar(QWidget* parent = nullptr);
    void Show(const StatusFacts& facts);
    // The texts shown now, for tests and tools.
    const StatusTexts& Texts() const { return m_texts; }

private:
    QLabel* m_link;
    QLabel* m_gps;
    QLabel* m_recording;
    QLabel* m_points;
    QLabel* m_placing;
    QLabel* m_file;
    StatusTexts m_texts;
};

}  // namespace ketrion
