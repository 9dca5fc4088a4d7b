#pragma once

// A strict RFC 4180 reader for checking CSV output: records end in CR LF (a
// bare LF is an error), fields are plain or wholly in double quotes with
// quotes doubled, and quoted fields may hold commas, quotes and line breaks.
// Header-only.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ketrion::testing {

using CsvRecord = std::vector<std::string>;

// The records of `text`, or nothing with `error` set at the first fault.
inline std::optional<std::vector<CsvRecord>> ReadRfc4180(std::string_view text,
                                                         std::string& error) {
    std::vector<CsvRecord> records;
    CsvRecord record;
    std::string field;
    std::size_t i = 0;
    const auto fail = [&](const std::string& what) {
        error = what + " at byte " + std::to_string(i);
        return std::nullopt;
    };
    while (i < text.size()) {
        if (text[i] == '"') {
            // Quoted: up to the closing quote, then a separator or the end.
            ++i;
            for (;;) {
                if (i >= text.size())
                    return fail("unterminated quoted field");
                if (text[i] == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += text[i++];
            }
            if (i < text.size() && text[i] != ',' && text[i] != '\r')
                return fail("text after a closing quote");
        } else {
            while (i < text.size() && text[i] != ',' && text[i] != '\r') {
                if (text[i] == '"')
                    return fail("quote inside an unquoted field");
                if (text[i] == '\n')
                    return fail("bare line feed");
                field += text[i++];
            }
        }
        record.push_back(std::move(field));
        field.clear();
        if (i >= text.size())
            return fail("last record without CR LF");
        if (text[i] == ',') {
            ++i;
            if (i >= text.size())
                return fail("separator at the end");
            continue;
        }
        // text[i] == '\r'
        if (i + 1 >= text.size() || text[i + 1] != '\n')
            return fail("carriage return without line feed");
        i += 2;
        records.push_back(std::move(record));
        record.clear();
    }
    return records;
}

}  // namespace ketrion::testing
