// The text pieces of the exports: names from the board made valid UTF-8, XML
// and CSV quoting, coordinates and the disc classes.

#include "analysis/ExportText.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace ketrion::analysis {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

TEST(ValidUtf8, KeepsWellFormedTextAndReplacesEachBadByte) {
    struct Row {
        const char* legend;
        std::string in;
        std::string out;
    };
    const Row rows[] = {
        {"ASCII", "KT-Office", "KT-Office"},
        {"two, three and four bytes", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\xB6",
         "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\xB6"},
        {"Latin-1 byte", "caf\xE9", "caf" + kFffd},
        {"stray continuation", "a\x80z", "a" + kFffd + "z"},
        {"overlong two-byte slash", "\xC0\xAF", kFffd + kFffd},
        {"overlong three-byte", "\xE0\x80\xAF", kFffd + kFffd + kFffd},
        {"surrogate", "\xED\xA0\x80", kFffd + kFffd + kFffd},
        {"above U+10FFFF", "\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},
        {"cut at the end", "ab\xE2\x82", "ab" + kFffd + kFffd},
        {"cut by a new sequence", "\xE2\x82\xC3\xA9", kFffd + kFffd + "\xC3\xA9"},
        {"highest code point", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
        {"0xFF", "\xFF", kFffd},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        EXPECT_EQ(ValidUtf8(row.in), row.out);
    }
}

TEST(XmlEscape, EscapesMarkupAndDropsWhatXmlCannotCarry) {
    EXPECT_EQ(XmlEscape("a<b>&\"c'"), "a&lt;b&gt;&amp;&quot;c&apos;");
    EXPECT_EQ(XmlEscape("]]>"), "]]&gt;");
    // Tab and carriage return as references (a parser would fold a literal CR),
    // line feed as is; other controls cannot appear in XML 1.0 at all.
    EXPECT_EQ(XmlEscape("a\tb\rc\nd\x01"
                        "e\x1F"),
              "a&#9;b&#13;c\nd" + kFffd + "e" + kFffd);
    EXPECT_EQ(XmlEscape("\xC3\xA9\xE9"), "\xC3\xA9" + kFffd);
}

TEST(CsvField, QuotesOnlyWhatRfc4180Needs) {
    EXPECT_EQ(CsvField("KT-Office"), "KT-Office");
    EXPECT_EQ(CsvField(""), "");
    EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CsvField("two\nlines"), "\"two\nlines\"");
    EXPECT_EQ(CsvField("cr\r"), "\"cr\r\"");
    // A leading = stays: the file is read by programs, not run by spreadsheets.
    EXPECT_EQ(CsvField("=1+1"), "=1+1");
    EXPECT_EQ(CsvField("\xE9,"), "\"" + kFffd + ",\"");
}

TEST(DegreesText, ReadsBackExactlyWithAtLeastTheDecimalsAsked) {
    EXPECT_EQ(DegreesText(40.0), "40.0000000");
    EXPECT_EQ(DegreesText(-74.5), "-74.5000000");
    EXPECT_EQ(DegreesText(0.0), "0.0000000");
    EXPECT_EQ(DegreesText(12.5, 2), "12.50");
    // Every stored unit around a few latitudes reads back as the same double.
    for (const int base : {0, 121956832, -268200000, 647999999, -648000000}) {
        for (int step = -3; step <= 3; ++step) {
            const double degrees = static_cast<double>(base + step) * (1.0 / 3600000.0);
            const std::string text = DegreesText(degrees);
            SCOPED_TRACE(text);
            EXPECT_EQ(std::strtod(text.c_str(), nullptr), degrees);
            EXPECT_GE(text.size() - text.find('.') - 1, 7u);
            EXPECT_EQ(text.find('e'), std::string::npos);
        }
    }
}

TEST(ExportText, NamesLoseWhatXmlTerminalsAndSpreadsheetsWouldMisread) {
    struct Row {
        std::string name, xml, terminal, spreadsheet;
    };
    const std::vector<Row> rows = {
        // The two non-characters XML 1.0 cannot carry; U+FFFD itself is kept.
        {"a\xEF\xBF\xBE\xEF\xBF\xBFz", "a" + kFffd + kFffd + "z", "a\xEF\xBF\xBE\xEF\xBF\xBFz",
         "a\xEF\xBF\xBE\xEF\xBF\xBFz"},
        {"ok\xEF\xBF\xBD", "ok" + kFffd, "ok" + kFffd, "ok" + kFffd},
        // Terminal commands: ESC, BEL, DEL and the one-character CSI (U+009B).
        {"\x1B]0;x\x07\x7F\xC2\x9Bz", kFffd + "]0;x" + kFffd + "\x7F\xC2\x9Bz",
         kFffd + "]0;x" + kFffd + kFffd + kFffd + "z",
         kFffd + "]0;x" + kFffd + kFffd + kFffd + "z"},
        // Formulas get a leading quote; a name that only contains the signs does not.
        {"=1+1", "=1+1", "=1+1", "'=1+1"},
        {"+x", "+x", "+x", "'+x"},
        {"-x", "-x", "-x", "'-x"},
        {"@SUM(A1)", "@SUM(A1)", "@SUM(A1)", "'@SUM(A1)"},
        {"\tx", "&#9;x", "\tx", "'\tx"},
        {"\rx", "&#13;x", "\rx", "'\rx"},
        {"a=b-c", "a=b-c", "a=b-c", "a=b-c"},
        {"", "", "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(XmlEscape(row.name), row.xml);
        const std::string terminal = WithoutTerminalControls(row.name);
        EXPECT_EQ(terminal, row.terminal);
        EXPECT_EQ(NeutralisedFormula(terminal), row.spreadsheet);
    }
}

TEST(SignalLevel, FiveDiscClassesWithTheSiteViewsBounds) {
    const int bounds[][2] = {{-128, 0}, {-91, 0}, {-90, 1}, {-71, 1}, {-70, 2}, {-51, 2},
                             {-50, 3},  {-31, 3}, {-30, 4}, {0, 4},   {20, 4}};
    for (const auto& b : bounds)
        EXPECT_EQ(SignalLevel(b[0]), b[1]) << b[0];
    EXPECT_EQ(LevelColour(1).r, 192);
    EXPECT_EQ(LevelColour(2).g, 192);
    EXPECT_EQ(LevelColour(3).b, 192);
    EXPECT_EQ(LevelColour(4).g, 255);
    EXPECT_EQ(FixName(0), std::string("none"));
    EXPECT_EQ(FixName(1), std::string("2D"));
    EXPECT_EQ(FixName(2), std::string("3D"));
    EXPECT_EQ(FixName(7), std::string("none"));
}

}  // namespace
}  // namespace ketrion::analysis
