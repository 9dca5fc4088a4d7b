#pragma once

// Text pieces the exports share: network names made into valid UTF-8,
// XML and CSV quoting, coordinates, fix and signal classes.

#include <cstdint>
#include <string>
#include <string_view>

namespace ketrion::analysis {

// The program's version as the exports name it.
inline constexpr const char* kExportVersion = "1.03";

// `bytes` as valid UTF-8: every byte that does not belong to a well-formed
// sequence (stray continuation bytes, overlong forms, surrogates, code points
// above U+10FFFF, cut sequences) becomes U+FFFD. Valid text is unchanged.
std::string ValidUtf8(std::string_view bytes);

// `text` as XML 1.0 character data or attribute text: valid UTF-8, with
// & < > " ' as entities, and every character XML 1.0 cannot carry at all
// (everything below U+0020 but tab, line feed and carriage return, and the
// non-characters U+FFFE and U+FFFF) replaced by U+FFFD. Carriage returns and tabs are written as
// character references so a parser keeps them.
std::string XmlEscape(std::string_view text);

// `text` as valid UTF-8 that a terminal shows as text: the control
// characters that start or make up terminal commands (C0 but tab, line feed
// and carriage return; DEL; C1, among them the one-character CSI) replaced
// by U+FFFD.
std::string WithoutTerminalControls(std::string_view text);

// A name a spreadsheet would run as a formula (one starting with =, +, -, @,
// a tab or a carriage return) with a leading single quote, so it is shown
// as the text it is; any other name as it is.
std::string NeutralisedFormula(std::string text);

// One CSV field as RFC 4180 writes it: in double quotes, with quotes doubled,
// when it holds a comma, a quote, a carriage return or a line feed; as is
// otherwise. The text is first made valid UTF-8.
std::string CsvField(std::string_view text);

// A coordinate in degrees: the shortest decimal text that reads back as the
// same double, padded with zeros to at least `minDecimals` decimals
// ("40.0000000", "33.876897777777775").
std::string DegreesText(double degrees, int minDecimals = 7);

// A signal in dBm as text: whole numbers plain ("-72"), others with two
// decimals ("-59.50").
std::string DbmText(double dbm);

// A measure with at most `maxDecimals` decimals and no trailing zeros
// ("4.8", "12", "-3.25").
std::string DecimalText(double value, int maxDecimals = 2);

// "none", "2D" or "3D" for a stored fix class (1 2D, 2 3D, anything else none).
const char* FixName(std::uint8_t fixClass);

// The site view's five disc classes of a point's strongest signal (dBm):
// 0 at -91 and below (black), 1 from -90 to -71 (red), 2 from -70 to -51
// (green), 3 from -50 to -31 (blue), 4 at -30 and above (white).
int SignalLevel(int signal);
// The disc colour of a level as red, green, blue.
struct Rgb {
    std::uint8_t r, g, b;
};
Rgb LevelColour(int level);

}  // namespace ketrion::analysis
