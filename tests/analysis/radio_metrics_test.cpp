// The radio metrics of a point: SNR and where its noise came from, the third
// access point and SIR with an access point's radios counted once, and the
// expected PHY rate against rates computed by hand from the MCS tables.

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "analysis/Metrics.h"
#include "analysis/RadioMetrics.h"

namespace ketrion::analysis {
namespace {

ReadingDetails Radio(int frequency, std::optional<int> noise = {}, const char* phy = "",
                     std::optional<int> width = {}) {
    ReadingDetails d;
    d.frequencyMhz = frequency;
    d.band = BandOfFrequency(frequency);
    d.noiseDbm = noise;
    d.phy = phy;
    d.widthMhz = width;
    return d;
}

Reading R(Mac mac, double dbm, std::optional<ReadingDetails> details = {}) {
    Reading r;
    r.mac = mac;
    r.signal = static_cast<std::int16_t>(std::lround(dbm * 256));
    r.details = std::move(details);
    return r;
}

constexpr Mac kA{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x10};
constexpr Mac kA2{0x02, 0x1a, 0x2b, 0x3c, 0x4d, 0x1f};  // A's other network (LA bit, last bits)
constexpr Mac kB{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x20};
constexpr Mac kC{0x00, 0x1a, 0x2b, 0x3c, 0x4e, 0x10};

TEST(RadioMetrics, SnrTakesTheNoiseFromTheReadingThenTheChannelThenTheDefault) {
    struct Case {
        const char* what;
        SurveyPoint point;
        double snr;
        NoiseFrom from;
    };
    auto P = [](std::initializer_list<Reading> readings) {
        SurveyPoint p;
        p.readings = readings;
        return p;
    };
    const Case cases[] = {
        {"own noise", P({R(kA, -50, Radio(5180, -92)), R(kB, -60, Radio(5180, -80))}), 42,
         NoiseFrom::Reading},
        {"another reading on the same channel",
         P({R(kA, -50, Radio(5180)), R(kB, -60, Radio(5200, -70)), R(kC, -70, Radio(5180, -90))}),
         40, NoiseFrom::Channel},
        {"no noise on that channel", P({R(kA, -50, Radio(5180)), R(kB, -60, Radio(5200, -70))}), 45,
         NoiseFrom::Default},
        {"no details", P({R(kA, -60)}), 35, NoiseFrom::Default},
        {"nothing heard", P({}), -5, NoiseFrom::Default},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SnrAt(c.point).db, c.snr) << c.what;
        EXPECT_EQ(SnrAt(c.point).from, c.from) << c.what;
    }
    EXPECT_EQ(NoiseSentence({3, 0, 1}),
              "noise floor: the side store's at 3 points, the default -95 dBm (no noise "
              "recorded) at 1 point");
}

TEST(RadioMetrics, AnAccessPointsRadiosCountOnceForThirdAndSir) {
    EXPECT_EQ(ApKey(kA), ApKey(kA2));
    EXPECT_NE(ApKey(kA), ApKey(kB));
    EXPECT_NE(ApKey(kA), ApKey(kC));

    SurveyPoint p;
    p.readings = {R(kA, -50, Radio(2437)), R(kA2, -52, Radio(2437)), R(kB, -71.5, Radio(2447)),
                  R(kC, -80, Radio(2462))};
    // A (twice), B, C: the third is C; A2 is no interferer of A; B on
    // channel 8 overlaps channel 6, C on 11 does not.
    EXPECT_EQ(NthApSignal(p, 2), -71);
    EXPECT_EQ(NthApSignal(p, 3), -80);
    EXPECT_EQ(NthApSignal(p, 4), kNotHeard);
    EXPECT_EQ(SirAt(p), 21.5);
    p.readings.pop_back();
    p.readings.pop_back();
    EXPECT_EQ(SirAt(p), kSirClear) << "only A's own radios";
    p.readings.front().details.reset();
    EXPECT_TRUE(std::isnan(SirAt(p))) << "serving channel unknown";

    MetricSpec spec;
    spec.metric = Metric::Width;
    SurveyPoint w;
    w.readings = {R(kA, -50, Radio(5180, {}, "ax", 80))};
    EXPECT_EQ(PointValue(w, -50, spec), 80);
    spec.metric = Metric::Phy;
    EXPECT_EQ(PointValue(w, -50, spec), static_cast<double>(Phy::Ax));
    w.readings = {R(kA, -50, Radio(5180, {}, "", 80))};
    EXPECT_TRUE(std::isnan(PointValue(w, -50, spec)));
}

TEST(RadioMetrics, PhyRateFollowsTheMcsTables) {
    struct Case {
        Phy phy;
        int width, streams;
        double snr, mbps;
    };
    // Rates by hand: tones x bits x code rate x streams / symbol time.
    const Case cases[] = {
        {Phy::Legacy, 20, 2, 21, 54},    // a/g top rate at 21 dB, one stream
        {Phy::Legacy, 20, 1, 20.9, 48},  // just short of 54
        {Phy::Legacy, 20, 1, 3, 0},      // below 6 Mbit/s
        {Phy::N, 20, 1, 22, 65},         // HT MCS 7: 52 x 6 x 5/6 / 4 us
        {Phy::N, 80, 1, 40, 135},        // HT stops at 40 MHz: 108 x 6 x 5/6 / 4
        {Phy::N, 40, 2, 24.9, 243},      // 40 MHz needs 3 dB more: MCS 6 at 24.9
        {Phy::Ac, 80, 1, 40, 390},       // VHT MCS 9: 234 x 8 x 5/6 / 4
        {Phy::Ac, 20, 1, 40, 78},        // no MCS 9 at 20 MHz: MCS 8
        {Phy::Ax, 80, 2, 50, 980 * 10 * 5.0 / 6 * 2 / 13.6},  // HE MCS 11, 1200.98 Mbit/s
        {Phy::Ax, 20, 1, 4, 234 * 1 * 0.5 / 13.6},            // HE MCS 0 at its 4 dB
        {Phy::Be, 320, 1, 60, 3920 * 12 * 5.0 / 6 / 13.6},    // EHT MCS 13
    };
    for (const Case& c : cases)
        EXPECT_NEAR(PhyRateMbps(c.phy, c.width, c.streams, c.snr), c.mbps, 0.01)
            << PhyName(c.phy) << " " << c.width << " MHz at " << c.snr << " dB";

    SurveyPoint p;
    p.readings = {R(kA, -60, Radio(5180, -96, "ac", 80))};  // 36 dB: MCS 9 needs 29 + 6
    EXPECT_NEAR(RateAt(p), 780, 0.01);
    p.readings = {R(kA, -60, Radio(5180, -96, "", 80))};
    EXPECT_TRUE(std::isnan(RateAt(p)));
    EXPECT_EQ(RateAt(SurveyPoint{}), 0);
}

}  // namespace
}  // namespace ketrion::analysis
