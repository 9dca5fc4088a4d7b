// The status bar's texts for each state of the link, the GPS and the survey.

#include <gtest/gtest.h>

#include <QLabel>

#include "support/QtTestApp.h"
#include "ui/shell/StatusBar.h"

namespace ketrion {
namespace {

TEST(StatusTexts, LinkStates) {
    struct {
        const char* legend;
        bool portOpen;
        LinkState link;
        const char* text;
        const char* kind = "board";
        const char* reason = "";
    } const cases[] = {
        {"open and answering", true, LinkState::Connected, "Link: connected"},
        {"hung up", true, LinkState::Lost, "Link: lost"},
        {"closed while it comes back", false, LinkState::Reconnecting, "Link: reconnecting"},
        {"closed after losing it", false, LinkState::Lost, "Link: lost"},
        {"never opened", false, LinkState::Connected, "No board: --port PATH or --simulate"},
        // Other scan sources in their own words, whatever the board's port.
        {"adapter", false, LinkState::Connected, "Wi-Fi adapter: scanning", "wifi"},
        {"adapter gone", true, LinkState::Lost, "Wi-Fi adapter: stopped (wlan0 is down)", "wifi",
         "wlan0 is down"},
        {"replay", false, LinkState::Connected, "Wi-Fi replay: scanning", "wifi-replay"},
        {"replay at its end", true, LinkState::Lost, "Wi-Fi replay: stopped", "wifi-replay"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        StatusFacts facts;
        facts.portOpen = c.portOpen;
        facts.link = c.link;
        facts.scanKind = c.kind;
        facts.linkReason = c.reason;
        EXPECT_EQ(StatusTextsFor(facts).link, QString::fromLatin1(c.text));
    }
}

TEST(StatusTexts, GpsFixAndItsAge) {
    struct {
        const char* legend;
        std::uint64_t reports;
        double age;
        std::uint8_t fix;
        const char* text;
        bool stale;
    } const cases[] = {
        {"nothing yet", 0, -1.0, 0, "GPS: no report yet", false},
        {"fresh 3D fix", 3, 0.4, 7, "GPS: 3D Fix, 0 s ago", false},
        {"at the limit", 3, 5.0, 6, "GPS: 2D Fix, 5 s ago", false},
        {"stopped reporting", 3, 12.7, 7, "GPS: 3D Fix, 12 s old", true},
        {"age not kept", 1, -1.0, 3, "GPS: Acquiring Satellites", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        StatusFacts facts;
        facts.reports = c.reports;
        facts.gpsAge = c.age;
        facts.fixStatus = c.fix;
        const StatusTexts texts = StatusTextsFor(facts);
        EXPECT_EQ(texts.gps, QString::fromLatin1(c.text));
        EXPECT_EQ(texts.gpsStale, c.stale);
    }
}

TEST(StatusTexts, RecordingPointsAndFile) {
    StatusFacts facts;
    StatusTexts texts = StatusTextsFor(facts);
    EXPECT_EQ(texts.recording, QStringLiteral("Not recording"));
    EXPECT_EQ(texts.points, QStringLiteral("0 points"));
    EXPECT_EQ(texts.file, QStringLiteral("No collection file"));
    EXPECT_TRUE(texts.fileTip.isEmpty());

    facts.recording = true;
    facts.points = 1;
    facts.file = "/home/surveyor/site one/floor2.ktd";
    texts = StatusTextsFor(facts);
    EXPECT_EQ(texts.recording, QStringLiteral("Recording"));
    EXPECT_EQ(texts.points, QStringLiteral("1 point"));
    EXPECT_EQ(texts.file, QStringLiteral("floor2.ktd"));
    EXPECT_EQ(texts.fileTip, QStringLiteral("/home/surveyor/site one/floor2.ktd"));
}

TEST(StatusBarWidget, ShowsTheTexts) {
    testing::QtTestApp();
    CStatusBar bar;
    StatusFacts facts;
    facts.points = 12;
    facts.recording = true;
    bar.Show(facts);
    EXPECT_EQ(bar.Texts().points, QStringLiteral("12 points"));
    const auto* label = bar.findChild<QLabel*>(QStringLiteral("pointsStatus"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QStringLiteral("12 points"));
    EXPECT_EQ(bar.findChild<QLabel*>(QStringLiteral("recordingStatus"))->text(),
              QStringLiteral("Recording"));
}

}  // namespace
}  // namespace ketrion
