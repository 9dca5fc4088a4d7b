// The desktop's Location Information: the point's record read from the file
// and its sortable table.

#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>

#include "support/SiteViewWorld.h"
#include "ui/shell/Info.h"
#include "ui/shell/PointRecord.h"

namespace ketrion::testing {
namespace {

// A file with one survey point of three readings after a dynamic access point.
class InfoTable : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        FileBuilder file;
        file.Location(0, 0, 0, 1);  // a dynamic access point first
        Bytes bytes = file.bytes();
        pointOffset = static_cast<std::int64_t>(bytes.size());
        file.Location(51 * 3'600'000 + 1'800'000, -(3'600'000 / 10), 3)
            .Reading(-70 * 256, 0x01, "lobby", 0x11)
            .Reading(-45 * 256, 0x02, "office", 0x02)
            .Reading(-88 * 256, 0x03, "guest", 0xA0);
        bytes = file.bytes();
        // Time and fix of the survey point's location record.
        std::uint8_t* record = bytes.data() + pointOffset;
        record[collection::kMonthAt] = 6;
        record[collection::kDayAt] = 14;
        collection::Put16(record + collection::kYearAt, 2024);
        record[collection::kHourAt] = 9;
        record[collection::kMinuteAt] = 5;
        record[collection::kSecondAt] = 7;
        record[collection::kFixClassAt] = 2;
        path = dir.File("info.ktd");
        WriteBytes(path, bytes);
    }

    CSiteData::PointDetails Details(int readings = 3) const {
        CSiteData::PointDetails details;
        details.valid = true;
        details.point.kind = CSiteData::kKindSurvey;
        details.point.readings = static_cast<std::uint16_t>(readings);
        details.point.offset = pointOffset;
        return details;
    }
    static QStringList Column(const QTableWidget& table, int column) {
        QStringList cells;
        for (int row = 0; row < table.rowCount(); ++row) {
            cells << table.item(row, column)->text();
        }
        return cells;
    }

    TempDir dir;
    std::string path;
    std::int64_t pointOffset = 0;
};

TEST_F(InfoTable, RecordReadsTimePositionFixAndEveryReading) {
    const PointRecord record = ReadPointRecord(path, pointOffset);
    ASSERT_TRUE(record.valid);
    EXPECT_EQ(record.kind, 0);
    EXPECT_EQ(record.time, "2024-06-14 09:05:07 UTC");
    EXPECT_EQ(record.PositionText(), "51.50000 N, 0.10000 W");
    EXPECT_STREQ(record.FixText(), "3D Fix");
    ASSERT_EQ(record.readings.size(), 3u);
    EXPECT_EQ(record.readings[1].number, 2);
    EXPECT_EQ(record.readings[1].mac, "00:1a:2b:3c:4d:02");
    EXPECT_EQ(record.readings[1].signal, -45);
    EXPECT_EQ(record.readings[1].ssid, "office");
    EXPECT_EQ(record.readings[1].attribute, 0x02);
}

TEST_F(InfoTable, DamagedOrForeignFilesGiveWhatCanBeRead) {
    // A count past the end of the file stops at the end.
    Bytes bytes = ReadBytes(path);
    collection::Put16(bytes.data() + pointOffset + collection::kCountAt, 60000);
    WriteBytes(path, bytes);
    PointRecord record = ReadPointRecord(path, pointOffset);
    EXPECT_TRUE(record.valid);
    EXPECT_EQ(record.count, 60000);
    EXPECT_EQ(record.readings.size(), 3u);

    // The last reading cut short is left out.
    bytes.resize(bytes.size() - 10);
    WriteBytes(path, bytes);
    EXPECT_EQ(ReadPointRecord(path, pointOffset).readings.size(), 2u);

    EXPECT_FALSE(ReadPointRecord(path, static_cast<std::int64_t>(bytes.size()) + 100).valid);
    EXPECT_FALSE(ReadPointRecord(path, 0).valid);
    EXPECT_FALSE(ReadPointRecord(dir.File("absent.ktd"), pointOffset).valid);
    EXPECT_FALSE(ReadPointRecord("", pointOffset).valid);
    const std::string shortFile = dir.File("short.ktd");
    WriteBytes(shortFile, {' ', 'K', 'T'});
    EXPECT_FALSE(ReadPointRecord(shortFile, collection::kFirstRecord).valid);
}

TEST_F(InfoTable, TableListsTheReadingsStrongestFirstAndSortsByAnyColumn) {
    CInfo info(Details(), false, ReadPointRecord(path, pointOffset));
    QTableWidget* table = info.Table();
    ASSERT_NE(table, nullptr);
    EXPECT_FALSE(info.List()->isVisibleTo(&info));
    ASSERT_EQ(table->columnCount(), CInfo::kColumns);
    QStringList headers;
    for (int c = 0; c < table->columnCount(); ++c) {
        headers << table->horizontalHeaderItem(c)->text();
    }
    EXPECT_EQ(headers, (QStringList{"#", "MAC", "Signal (dBm)", "Name", "Attribute"}));
    EXPECT_EQ(Column(*table, CInfo::kColSignal), (QStringList{"-45", "-70", "-88"}));
    EXPECT_EQ(Column(*table, CInfo::kColName), (QStringList{"office", "lobby", "guest"}));

    table->sortByColumn(CInfo::kColName, Qt::AscendingOrder);
    EXPECT_EQ(Column(*table, CInfo::kColName), (QStringList{"guest", "lobby", "office"}));
    // Numbers sort as numbers, attributes by their value.
    table->sortByColumn(CInfo::kColNumber, Qt::DescendingOrder);
    EXPECT_EQ(Column(*table, CInfo::kColNumber), (QStringList{"3", "2", "1"}));
    table->sortByColumn(CInfo::kColAttribute, Qt::AscendingOrder);
    EXPECT_EQ(Column(*table, CInfo::kColAttribute), (QStringList{"0X02", "0X11", "0XA0"}));

    EXPECT_EQ(info.Summary(),
              (QStringList{"Time: 2024-06-14 09:05:07 UTC", "Position: 51.50000 N, 0.10000 W",
                           "Fix: 3D Fix", "Readings: 3"}));
    // The point's place in the survey leads when it is known; the attribute
    // column says what the byte is.
    PointRecord placed = ReadPointRecord(path, pointOffset);
    placed.number = 2;
    placed.of = 5;
    CInfo numbered(Details(), false, placed);
    EXPECT_EQ(numbered.Summary().front(), QStringLiteral("Point: 2 of 5"));
    EXPECT_TRUE(numbered.Table()
                    ->horizontalHeaderItem(CInfo::kColAttribute)
                    ->toolTip()
                    .contains(QStringLiteral("channel")));
    // Wide enough for every column, with a Close button that ends it.
    info.show();
    int columns = 0;
    for (int c = 0; c < table->columnCount(); ++c) {
        columns += table->columnWidth(c);
    }
    EXPECT_GE(table->viewport()->width(), columns - table->columnWidth(CInfo::kColAttribute));
    EXPECT_GT(info.width(), CInfo::kHandheldWidth);
    auto* buttons = info.findChild<QDialogButtonBox*>();
    ASSERT_NE(buttons, nullptr);
    buttons->button(QDialogButtonBox::Close)->click();
    EXPECT_EQ(info.result(), QDialog::Rejected);
    EXPECT_FALSE(info.isVisible());
}

TEST_F(InfoTable, DynamicAccessPointsAndTheSignalFigureHeader) {
    CSiteData::PointDetails ap;
    ap.valid = true;
    ap.point.kind = CSiteData::kKindDynamicAp;
    ap.point.offset = collection::kFirstRecord;
    CInfo info(ap, true, ReadPointRecord(path, collection::kFirstRecord));
    EXPECT_EQ(info.Table()->rowCount(), 0);
    EXPECT_TRUE(info.Summary().contains(QString::fromLatin1(CInfo::kDynamicAp)));
    EXPECT_EQ(info.Table()->horizontalHeaderItem(CInfo::kColSignal)->text(), QStringLiteral("S/N"));
}

TEST(InfoLayout, TheWindowWidthChoosesTheDialog) {
    SiteViewWorld world;
    QWidget handheld;
    handheld.resize(240, 300);
    QWidget desktop;
    desktop.resize(800, 600);
    auto* inside = new QWidget(&desktop);
    EXPECT_FALSE(CInfo::IsDesktop(nullptr));
    EXPECT_FALSE(CInfo::IsDesktop(&handheld));
    EXPECT_TRUE(CInfo::IsDesktop(inside));

    world.ChooseCollection();
    world.AddSurveyPoint(10, 10, -60);
    ASSERT_EQ(world.data.FindNearestPoint(10, 10), 0);
    CInfo small(world.services, &handheld);
    EXPECT_EQ(small.Table(), nullptr);
    EXPECT_EQ(small.size(), QSize(240, 260));
    CInfo large(world.services, inside);
    ASSERT_NE(large.Table(), nullptr);
    ASSERT_EQ(large.Table()->rowCount(), 1);
    EXPECT_EQ(large.Table()->item(0, CInfo::kColSignal)->text(), QStringLiteral("-60"));
    EXPECT_EQ(large.Lines(), small.Lines());
}

}  // namespace
}  // namespace ketrion::testing
