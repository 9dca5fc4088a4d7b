#pragma once

// The site file (.kts): a site, its buildings, floors, reference points and
// collections in an SQLite database. SQLite, like the side store beside each
// collection file: one file that any tool can open, with its own integrity
// checks, and rows that later versions can add to.
//
// The schema's version is the database's `user_version`; its
// `application_id` marks it as a site file. A file of a newer version is
// refused (never changed), naming the file and both versions. Saving writes
// the whole site to a new file in the same folder, syncs it and renames it
// over the old one, so a crash while saving leaves the old file whole.
//
// Everything read is checked as outside input: names must be text, numbers
// finite, every collection on one floor only.

#include <string>

#include "site/Site.h"

namespace ketrion::site {

class SiteFile {
public:
    // Schema version this build writes and reads (and every older one).
    static constexpr int kVersion = 1;
    // "KTS1": what `application_id` holds in a site file.
    static constexpr int kApplicationId = 0x4B545331;

    // Reads the site file at `path` into `out`. False with one line in
    // `error` naming the file when it is missing, not a site file, damaged or
    // from a newer version; `out` is then left as it was.
    static bool Load(const std::string& path, Site& out, std::string& error);
    // Writes `site` as the site file at `path`, atomically (see above). False
    // with a message; the file at `path` is then unchanged.
    static bool Save(const std::string& path, const Site& site, std::string& error);

    // True when the file at `path` starts as an SQLite database does (a
    // collection file never does): how the tools tell a site from a collection.
    static bool LooksLikeSite(const std::string& path);

    // `path` (as given on a command line) relative to the site file's folder,
    // when it lies inside it; else its absolute form.
    static std::string RelativePath(const std::string& sitePath, const std::string& path);
    // A stored path made usable: relative ones are taken from the site
    // file's folder.
    static std::string ResolvePath(const std::string& sitePath, const std::string& stored);
};

}  // namespace ketrion::site
