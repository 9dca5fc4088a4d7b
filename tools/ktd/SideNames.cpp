#include "tools/ktd/SideNames.h"

#include <cctype>
#include <cstdio>

#include "model/Text.h"
#include "survey/CollectionFile.h"

namespace ketrion::ktd {

namespace {

// "aa:bb:cc:dd:ee:ff" for the reading record's address.
std::string Bssid(const std::uint8_t* reading) {
    return MacText(reading + collection::kMacAt);
}

bool SameAddress(std::string a, const std::string& b) {
    for (char& c : a)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return a == b;
}

}  // namespace

void SideNames::Header(const std::uint8_t* header25) {
    std::string message;
    m_store = SideStore::OpenForReading(m_path, SideIdentity(m_path, header25), &message);
    if (!message.empty()) {
        std::fflush(stdout);
        std::fprintf(stderr, "ktd: %s\n", message.c_str());
    }
}

void SideNames::Point(std::int64_t offset) {
    m_rows.clear();
    m_next = 0;
    if (m_store != nullptr)
        m_rows = m_store->ReadingsOf(offset);
}

std::string SideNames::Next(const std::uint8_t* reading) {
    std::string name = collection::Ssid(reading);
    const std::size_t index = m_next++;
    for (const SideStore::Reading& row : m_rows) {
        if (row.index != static_cast<int>(index) || !row.inCollection)
            continue;
        if (SameAddress(row.bssid, Bssid(reading)) && row.ssid.size() > name.size() &&
            row.ssid.starts_with(name))
            return row.ssid;
        break;
    }
    return name;
}

}  // namespace ketrion::ktd
