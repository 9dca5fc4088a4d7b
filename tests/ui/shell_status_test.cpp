// The status bar's texts for each state of the link, the GPS and the survey.

#include <gtest/gtest.h>

#include <utility>

#include <QLabel>

#include "support/QtTestApp.h"
#include "ui/shell/StatusBar.h"

namespace ketrion {
namespace {

TEST(StatusTexts, LinkStates) {
    struct {
        const char* legend;
        const char* absent;  // the source's words while it has no device
        LinkState link;
        const char* text;
        const char* kind = "board";
        const char* reason = "";
    } const cases[] = {
        {"open and answering", "", LinkState::Connected, "Link: connected"},
        {"hung up", "", LinkState::Lost, "Link: lost"},
        {"closed while it comes back", "No board", LinkState::Reconnecting, "Link: reconnecting"},
        {"closed after losing it", "No board", LinkState::Lost, "Link: lost"},
        {"never opened", "No board: --port PATH or --simulate", LinkState::Connected,
         "No board: --port PATH or --simulate"},
        // Other scan sources in their own words, whatever the board's port.
        {"adapter", "", LinkState::Connected, "Wi-Fi adapter: scanning", "wifi"},
        {"adapter gone", "", LinkState::Lost, "Wi-Fi adapter: stopped (wlan0 is down)", "wifi",
         "wlan0 is down"},
        {"replay", "", LinkState::Connected, "Wi-Fi replay: scanning", "wifi-replay"},
        {"replay at its end", "", LinkState::Lost, "Wi-Fi replay: stopped", "wifi-replay"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        StatusFacts facts;
        facts.absent = c.absent;
        facts.link = c.link;
        facts.scanKind = c.kind;
        facts.linkReason = c.reason;
        EXPECT_EQ(StatusTextsFor(facts).link, QString::fromLatin1(c.text));
    }
}

TEST(StatusTexts, GpsFixAndItsAge) {
    struct {
        const char* legend;
        double age;
        const char* fix;  // the source's name of it; "" before any report
        const char* text;
        bool stale;
    } const cases[] = {
        {"nothing yet", -1.0, "", "GPS: no report yet", false},
        {"fresh 3D fix", 0.4, "3D Fix", "GPS: 3D Fix, 0 s ago", false},
        {"at the limit", 5.0, "2D Fix", "GPS: 2D Fix, 5 s ago", false},
        {"stopped reporting", 12.7, "3D Fix", "GPS: 3D Fix, 12 s old", true},
        {"age not kept", -1.0, "Acquiring Satellites", "GPS: Acquiring Satellites", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        StatusFacts facts;
        facts.gpsAge = c.age;
        facts.fixName = c.fix;
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

    // The placing mode is in view, not only as a menu's dot; a walk says what waits.
    const std::pair<std::pair<const char*, std::size_t>, const char*> placings[] = {
        {{"gps", 0}, "Placing: GPS"},
        {{"stop", 0}, "Placing: stop and go"},
        {{"walk", 0}, "Placing: walk"},
        {{"walk", 3}, "Placing: walk, 3 readings to place"},
    };
    for (const auto& [placing, text] : placings) {
        facts.placing = placing.first;
        facts.waiting = placing.second;
        EXPECT_EQ(StatusTextsFor(facts).placing, QString::fromLatin1(text));
    }
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
