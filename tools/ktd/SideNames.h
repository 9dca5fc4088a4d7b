#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "survey/SideStore.h"

namespace ketrion::ktd {

// The full network names the side store beside a collection file keeps, for
// a command that walks the file record by record (`ktd csv`): the file holds
// 31 bytes of a name, up to its first zero byte; the store holds all of it.
// One point's rows are held at a time. Without a store every name is the
// file's; a damaged or foreign one gets one line on standard error.
class SideNames {
public:
    void Opened(const std::string& path) { m_path = path; }
    void Header(const std::uint8_t* header25);
    void Point(std::int64_t offset);
    // The name of the point's next reading (its record's bytes): the store's
    // when its row names the same access point and continues the file's name.
    std::string Next(const std::uint8_t* reading);

private:
    std::string m_path;
    std::unique_ptr<SideStore> m_store;
    std::vector<SideStore::Reading> m_rows;  // of the current point
    std::size_t m_next = 0;
};

}  // namespace ketrion::ktd
