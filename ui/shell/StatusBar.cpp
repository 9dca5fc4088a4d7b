#include "ui/shell/StatusBar.h"

#include <QFileInfo>
#include <QLabel>

#include <cmath>

#include "platform/Clock.h"
#include "source/FixHealth.h"
#include "source/PositionSource.h"
#include "source/ScanSource.h"

namespace ketrion {

StatusFacts SourceFacts(const source::ScanSource& scan, const source::PositionSource& position,
                        Clock& clock) {
    StatusFacts facts;
    const source::SourceStatus status = scan.Status();
    switch (status.state) {
        case source::SourceState::Ready:
        case source::SourceState::Scanning:
            facts.link = LinkState::Connected;
            break;
        case source::SourceState::Lost:
            facts.link = LinkState::Lost;
            break;
        case source::SourceState::Reconnecting:
            facts.link = LinkState::Reconnecting;
            break;
    }
    facts.linkReason = status.reason;
    facts.absent = scan.Absence();
    facts.fixName = position.FixName();
    facts.gpsAge = position.FixAgeSeconds(clock.NowMs());
    facts.scanKind = scan.Kind();
    const source::Fix fix = position.Current();
    QString quality;
    if (fix.satellitesUsed) {
        quality = QStringLiteral("%1 sats").arg(*fix.satellitesUsed);
    }
    if (fix.ephMetres) {
        if (!quality.isEmpty()) {
            quality += QStringLiteral(", ");
        }
        quality += QStringLiteral("%1 m").arg(*fix.ephMetres, 0, 'f', 1);
    }
    facts.gpsQuality = quality.toStdString();
    return facts;
}

namespace {

// A scan source other than the board in its own words: an adapter or a
// recording has no link to be connected.
QString OtherSourceText(const StatusFacts& facts) {
    const QString name = facts.scanKind == "wifi"          ? QStringLiteral("Wi-Fi adapter")
                         : facts.scanKind == "wifi-replay" ? QStringLiteral("Wi-Fi replay")
                                                           : QString::fromStdString(facts.scanKind);
    const QString state = facts.link == LinkState::Connected ? QStringLiteral("scanning")
                          : facts.link == LinkState::Lost    ? QStringLiteral("stopped")
                                                             : QStringLiteral("starting again");
    QString text = QStringLiteral("%1: %2").arg(name, state);
    if (facts.link != LinkState::Connected && !facts.linkReason.empty()) {
        text += QStringLiteral(" (%1)").arg(QString::fromStdString(facts.linkReason));
    }
    return text;
}

}  // namespace

StatusTexts StatusTextsFor(const StatusFacts& facts) {
    StatusTexts texts;
    // A link that the link thread is bringing back says so; a port that never
    // opened needs the user to name one.
    if (facts.scanKind != "board") {
        texts.link = OtherSourceText(facts);
    } else if (facts.link == LinkState::Connected && !facts.absent.empty()) {
        texts.link = QString::fromStdString(facts.absent);
    } else {
        texts.link = QStringLiteral("Link: %1").arg(QString::fromLatin1(LinkStateName(facts.link)));
        if (facts.link != LinkState::Connected && !facts.linkReason.empty()) {
            texts.link += QStringLiteral(" (%1)").arg(QString::fromStdString(facts.linkReason));
        }
    }
    const QString fixName = QString::fromStdString(facts.fixName);
    if (facts.fixName.empty()) {
        texts.gps = QStringLiteral("GPS: no report yet");
    } else if (facts.gpsAge < 0) {
        // A receiver that reports without the age being kept: the fix alone.
        texts.gps = QStringLiteral("GPS: %1").arg(fixName);
    } else {
        const auto seconds = static_cast<long long>(std::floor(facts.gpsAge));
        texts.gpsStale = facts.gpsAge * 1000.0 > static_cast<double>(source::kStaleFixMs);
        texts.gps = QStringLiteral("GPS: %1, %2 s %3")
                        .arg(fixName)
                        .arg(seconds)
                        .arg(texts.gpsStale ? QStringLiteral("old") : QStringLiteral("ago"));
    }
    if (!facts.fixName.empty() && !facts.gpsQuality.empty()) {
        texts.gps += QStringLiteral(", %1").arg(QString::fromStdString(facts.gpsQuality));
    }
    texts.recording =
        facts.recording ? QStringLiteral("Recording") : QStringLiteral("Not recording");
    texts.points = QStringLiteral("%1 point%2").arg(facts.points).arg(facts.points == 1 ? "" : "s");
    if (facts.placing == "stop") {
        texts.placing = QStringLiteral("Placing: stop and go");
    } else if (facts.placing == "walk") {
        texts.placing = QStringLiteral("Placing: walk");
        if (facts.waiting > 0) {
            texts.placing += QStringLiteral(", %1 reading%2 to place")
                                 .arg(facts.waiting)
                                 .arg(facts.waiting == 1 ? "" : "s");
        }
    } else {
        texts.placing = QStringLiteral("Placing: GPS");
    }
    if (facts.file.empty()) {
        texts.file = QStringLiteral("No collection file");
    } else {
        const QString path = QString::fromLocal8Bit(facts.file.c_str());
        texts.file = QFileInfo(path).fileName();
        texts.fileTip = path;
    }
    return texts;
}

CStatusBar::CStatusBar(QWidget* parent)
    : QStatusBar(parent),
      m_link(new QLabel(this)),
      m_gps(new QLabel(this)),
      m_recording(new QLabel(this)),
      m_points(new QLabel(this)),
      m_placing(new QLabel(this)),
      m_file(new QLabel(this)) {
    setObjectName(QStringLiteral("statusBar"));
    setSizeGripEnabled(true);
    m_link->setObjectName(QStringLiteral("linkStatus"));
    m_gps->setObjectName(QStringLiteral("gpsStatus"));
    m_recording->setObjectName(QStringLiteral("recordingStatus"));
    m_points->setObjectName(QStringLiteral("pointsStatus"));
    m_placing->setObjectName(QStringLiteral("placingStatus"));
    m_file->setObjectName(QStringLiteral("fileStatus"));
    // Fixed fields on the left, the file name taking what is left: it never
    // widens the window (its tool tip has the whole path).
    m_file->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    addWidget(m_link);
    addWidget(m_gps);
    addWidget(m_recording);
    addWidget(m_points);
    addWidget(m_placing);
    addWidget(m_file, 1);
    Show(StatusFacts{});
}

void CStatusBar::Show(const StatusFacts& facts) {
    m_texts = StatusTextsFor(facts);
    m_link->setText(m_texts.link);
    // A lost link and an old position are the states the surveyor must notice.
    const bool linkBad = !facts.absent.empty() || facts.link != LinkState::Connected;
    m_link->setStyleSheet(linkBad ? QStringLiteral("color: #b00000; font-weight: bold")
                                  : QString());
    m_gps->setText(m_texts.gps);
    m_gps->setStyleSheet(m_texts.gpsStale ? QStringLiteral("color: #b00000") : QString());
    m_recording->setText(m_texts.recording);
    m_recording->setStyleSheet(facts.recording ? QStringLiteral("color: #c00000; font-weight: bold")
                                               : QString());
    m_points->setText(m_texts.points);
    m_placing->setText(m_texts.placing);
    m_file->setText(m_texts.file);
    m_file->setToolTip(m_texts.fileTip);
}

}  // namespace ketrion
