// A walk's scan as the side store keeps it until it is placed: every detail
// comes back, and a body of any other shape is refused with the field named,
// never a crash.

#include "survey/PendingScan.h"

#include <gtest/gtest.h>

#include <string>

namespace ketrion {
namespace {

TEST(PendingScan, EveryDetailComesBack) {
    source::ScanResult scan;
    scan.startedMs = 1'000;
    scan.endedMs = 3'500;
    source::Reading full;
    full.mac = {0xde, 0xad, 0xbe, 0xef, 0x00, 0xff};
    full.name = std::string("caf\xc3\xa9\x00\xff", 7);  // bytes, not text
    full.signal256 = -60 * 256;
    full.dbm = -60;
    full.attribute = 0x8e;
    source::ReadingDetails d;
    d.frequencyMhz = 5955;
    d.channel = 1;
    d.band = "6";
    d.security = "wpa3";
    d.phy = "be";
    d.widthMhz = 320;
    d.noiseDbm = -95;
    d.ageMs = 0;
    d.signalMbm = -6050;
    d.fullName = std::string(32, '\xfe');
    full.details = d;
    source::Reading bare;
    bare.inCollection = false;
    scan.readings = {full, bare};

    const std::string body = EncodePendingScan(scan, "wifi");
    source::ScanResult back;
    std::string why;
    ASSERT_TRUE(DecodePendingScan(body, back, &why)) << why;
    EXPECT_EQ(back.startedMs, 1'000);
    EXPECT_EQ(back.endedMs, 3'500);
    ASSERT_EQ(back.readings.size(), 2u);
    const source::Reading& r = back.readings[0];
    EXPECT_EQ(r.mac, full.mac);
    EXPECT_EQ(r.name, full.name);
    EXPECT_EQ(r.signal256, full.signal256);
    EXPECT_EQ(r.attribute, full.attribute);
    ASSERT_TRUE(r.details.has_value());
    EXPECT_EQ(r.details->fullName, d.fullName);
    EXPECT_EQ(r.details->frequencyMhz, 5955);
    EXPECT_EQ(r.details->channel, 1);
    EXPECT_EQ(r.details->band, "6");
    EXPECT_EQ(r.details->security, "wpa3");
    EXPECT_EQ(r.details->phy, "be");
    EXPECT_EQ(r.details->widthMhz, 320);
    EXPECT_EQ(r.details->noiseDbm, -95);
    EXPECT_EQ(r.details->ageMs, 0);
    EXPECT_EQ(r.details->signalMbm, -6050);
    EXPECT_FALSE(r.details->signalUnspec.has_value());
    EXPECT_FALSE(back.readings[1].inCollection);
    EXPECT_FALSE(back.readings[1].details.has_value());
}

TEST(PendingScan, BodiesOfAnyOtherShapeAreRefusedWithTheFieldNamed) {
    const std::string mac = R"("mac":[1,2,3,4,5,6])";
    struct Row {
        std::string body;
        const char* why;
    };
    const Row rows[] = {
        {"", "not a JSON object"},
        {"[1,2]", "not a JSON object"},
        {R"({"started_ms":1})", "\"readings\""},
        {R"({"readings":{}})", "\"readings\""},
        {R"({"started_ms":"x","readings":[]})", "\"started_ms\" is not a whole number"},
        {R"({"started_ms":1.5,"readings":[]})", "\"started_ms\" is not a whole number"},
        {R"({"started_ms":-1,"readings":[]})", "\"started_ms\" is out of range"},
        {R"({"ended_ms":18446744073709551615,"readings":[]})", "\"ended_ms\" is out of range"},
        {R"({"ended_ms":1e308,"readings":[]})", "\"ended_ms\" is not a whole number"},
        {R"({"started_ms":9,"ended_ms":3,"readings":[]})", "ends before it starts"},
        {R"({"readings":[7]})", "a reading is not an object"},
        {R"({"readings":[{}]})", "\"mac\" does not hold 6 bytes"},
        {R"({"readings":[{"mac":[1,2,3,4,5,256]}]})", "\"mac\" is not a list of bytes"},
        {R"({"readings":[{"mac":"aa"}]})", "\"mac\" is not a list of bytes"},
        {R"({"readings":[{)" + mac + R"(,"name":[-1]}]})", "\"name\" is not a list of bytes"},
        {R"({"readings":[{)" + mac + R"(,"dbm":"x"}]})", "\"dbm\" is not a whole number"},
        {R"({"readings":[{)" + mac + R"(,"signal256":40000}]})", "\"signal256\" is out of range"},
        {R"({"readings":[{)" + mac + R"(,"attribute":256}]})", "\"attribute\" is out of range"},
        {R"({"readings":[{)" + mac + R"(,"in_collection":1}]})", "\"in_collection\" is not true"},
        {R"({"readings":[{)" + mac + R"(,"details":[]}]})", "\"details\" is not an object"},
        {R"({"readings":[{)" + mac + R"(,"details":{"channel":"6"}}]})",
         "\"channel\" is not a whole number"},
        {R"({"readings":[{)" + mac + R"(,"details":{"age_ms":4294967296}}]})",
         "\"age_ms\" is out of range"},
        {R"({"readings":[{)" + mac + R"(,"details":{"phy":"ax"}}]})", "\"phy\" is not a list"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.body);
        source::ScanResult result;
        result.startedMs = 77;
        std::string why;
        EXPECT_FALSE(DecodePendingScan(row.body, result, &why));
        EXPECT_NE(why.find(row.why), std::string::npos) << why;
        EXPECT_EQ(result.startedMs, 77) << "a refused body changed the result";
    }
}

}  // namespace
}  // namespace ketrion
