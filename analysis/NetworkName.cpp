#include "analysis/NetworkName.h"

#include <mutex>
#include <unordered_set>

namespace ketrion::analysis {
namespace {

// Every name made so far; a set's elements never move.
struct NameTable {
    std::mutex mutex;
    std::unordered_set<std::string> names;
};

NameTable& Table() {
    static NameTable* table = new NameTable;  // never destroyed: names outlive static objects
    return *table;
}

}  // namespace

const std::string& NetworkName::Empty() {
    static const std::string* empty = new std::string;
    return *empty;
}

NetworkName::NetworkName(std::string_view text) : m_text(&Empty()) {
    if (text.empty())
        return;
    NameTable& table = Table();
    std::lock_guard lock(table.mutex);
    m_text = &*table.names.emplace(text).first;
}

}  // namespace ketrion::analysis
