#pragma once

#include <functional>
#include <string>
#include <vector>

namespace ketrion::store {

class Connection;

// Which collections of the store to take: those of `site`, on `floor` when
// one is named (by name, in any building, or in `building` when named too),
// and only the one called `collection` when named.
struct Choice {
    std::string site;
    std::string building;
    std::string floor;
    std::string collection;
};

// One collection as it was pushed: its file name and its bytes, and its side
// store's when it had one.
struct StoredCollection {
    std::string name;
    std::string bytes;
    bool hasSide = false;
    std::string side;
};

// The collections `choice` names, by name. False with one line in `error`
// when the site is not in the store (naming the sites that are).
bool FetchCollections(Connection& connection, const Choice& choice,
                      std::vector<StoredCollection>& out, std::string& error);

// Writes `collections` into the folder `dir` (made when missing) as files
// named as they were pushed, each side store beside its collection file; a
// second collection with a name already written gets "-2", "-3", ... before
// its extension. Each file is written whole or not at all, and an existing
// file is not replaced. `written` gets the paths. False with one line in `error`.
bool WriteCollections(const std::vector<StoredCollection>& collections, const std::string& dir,
                      std::vector<std::string>& written, std::string& error);

}  // namespace ketrion::store
