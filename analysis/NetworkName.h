#pragma once

#include <compare>
#include <cstddef>
#include <string>
#include <string_view>

namespace ketrion::analysis {

// A network name as a reading carries it: the text is held once for the
// whole program and each reading holds a pointer to it. A survey hears tens
// of names in millions of readings, so a name in every reading would cost
// more than the rest of the reading. Reads like a const std::string.
//
// Threads: names are made on any thread (the table is guarded); the texts
// never move or change and live until the program ends.
class NetworkName {
public:
    NetworkName() : m_text(&Empty()) {}
    NetworkName(std::string_view text);  // NOLINT(google-explicit-constructor): as a string
    NetworkName(const std::string& text) : NetworkName(std::string_view(text)) {}  // NOLINT
    NetworkName(const char* text) : NetworkName(std::string_view(text)) {}         // NOLINT

    const std::string& str() const { return *m_text; }
    operator const std::string&() const { return *m_text; }  // NOLINT: as a string
    bool empty() const { return m_text->empty(); }
    std::size_t size() const { return m_text->size(); }
    const char* c_str() const { return m_text->c_str(); }

    friend bool operator==(const NetworkName& a, const NetworkName& b) {
        return a.m_text == b.m_text;  // one text per name
    }
    friend bool operator==(const NetworkName& a, const std::string& b) { return *a.m_text == b; }
    friend bool operator==(const NetworkName& a, std::string_view b) { return *a.m_text == b; }
    friend bool operator==(const NetworkName& a, const char* b) { return *a.m_text == b; }
    friend std::strong_ordering operator<=>(const NetworkName& a, const NetworkName& b) {
        return *a.m_text <=> *b.m_text;
    }

private:
    static const std::string& Empty();
    const std::string* m_text;
};

}  // namespace ketrion::analysis
