// The Location Information dialog's list.

#include <gtest/gtest.h>

#include "support/SiteViewWorld.h"
#include "ui/shell/Info.h"

namespace ketrion::testing {
namespace {

const QString kHeader = QString::fromLatin1(CInfo::kHeaderRssi);

CSiteData::PointDetails SurveyPoint(int readings) {
    CSiteData::PointDetails details;
    details.valid = true;
    details.point.kind = CSiteData::kKindSurvey;
    details.point.readings = static_cast<std::uint16_t>(readings);
    for (int i = 1; i <= readings; ++i) {
        details.lines.push_back(std::to_string(i) + "  00-1A-2B-3C-4D-5E -" +
                                std::to_string(40 + i) + "      net" + std::to_string(i));
    }
    return details;
}

QStringList LeadingNumbers(const QStringList& lines) {
    QStringList numbers;
    for (const QString& line : lines) {
        numbers << line.section(QLatin1Char(' '), 0, 0);
    }
    return numbers;
}

TEST(InfoList, ReadingsFollowTheListsTextOrderBelowTheHeader) {
    TestApplication();
    CInfo info(SurveyPoint(12), false);
    const QStringList lines = info.Lines();
    ASSERT_EQ(lines.size(), 13);
    EXPECT_EQ(lines[0], kHeader);
    EXPECT_EQ(LeadingNumbers(lines.mid(1)),
              (QStringList{"1", "10", "11", "12", "2", "3", "4", "5", "6", "7", "8", "9"}));
    EXPECT_EQ(info.windowTitle(), QStringLiteral("Location Information"));
}

TEST(InfoList, WhatEachKindOfPointShows) {
    TestApplication();
    CSiteData::PointDetails dynamicAp;
    dynamicAp.valid = true;
    dynamicAp.point.kind = CSiteData::kKindDynamicAp;
    CSiteData::PointDetails otherKind = SurveyPoint(2);
    otherKind.point.kind = 7;
    const CSiteData::PointDetails none;

    struct {
        const char* legend;
        CSiteData::PointDetails details;
        bool signalIsSn;
        QStringList expected;
    } const cases[] = {
        {"no readings", SurveyPoint(0), false, {kHeader}},
        {"s/n header", SurveyPoint(0), true, {QString::fromLatin1(CInfo::kHeaderSn)}},
        {"dynamic ap", dynamicAp, false, {QStringLiteral("THIS POINT IS A DYNAMIC AP")}},
        {"other kind", otherKind, false, {}},
        {"no selection", none, false, {}},
    };
    for (const auto& c : cases) {
        CInfo info(c.details, c.signalIsSn);
        EXPECT_EQ(info.Lines(), c.expected) << c.legend;
    }
    EXPECT_EQ(std::string(CInfo::kHeaderRssi).size(), 36u);
    EXPECT_EQ(std::string(CInfo::kHeaderSn).size(), 36u);
}

TEST(InfoList, ShowsTheSelectedPointsReadingsFromTheFile) {
    SiteViewWorld world;
    world.ChooseCollection();
    world.SetPosition(10, 10);
    for (int i = 0; i < 11; ++i) {
        world.AddAp({{0x00, 0x1A, 0x2B, 0x3C, 0x4D, static_cast<std::uint8_t>(i)},
                     "office",
                     static_cast<std::int16_t>(-40 - i),
                     1,
                     0});
    }
    world.ScanEnd();
    ASSERT_EQ(world.data.FindNearestPoint(12, 12), CSiteData::kKindSurvey);
    CInfo info(world.services);
    const QStringList lines = info.Lines();
    ASSERT_EQ(lines.size(), 12);
    EXPECT_EQ(lines[0], kHeader);
    EXPECT_EQ(LeadingNumbers(lines.mid(1, 3)), (QStringList{"1", "10", "11"}));
    for (const QString& line : lines.mid(1)) {
        EXPECT_TRUE(line.endsWith(QStringLiteral("office"))) << line.toStdString();
    }
}

}  // namespace
}  // namespace ketrion::testing
