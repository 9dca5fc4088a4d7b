#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <memory>
#include <string>

namespace ketrion::ktd {

// `ktd push FILE.ktd...|SITE.kts --db URL [--site NAME --building B --floor F]`
// and `ktd pull --db URL --site NAME -o DIR`: collection files (or a whole
// site) into the shared store and back.
void AddPushCommand(CLI::App& app, int& status);
void AddPullCommand(CLI::App& app, int& status);

// Where a command reads its survey from when it is given --db instead of a
// file: a site of the store, and a floor or one collection of it.
struct StoreSource {
    std::string url;
    std::string site;
    std::string building;
    std::string floor;
    std::string collection;
};

// Adds --db, --site, --building, --floor and --collection to `command`.
std::shared_ptr<StoreSource> AddStoreSource(CLI::App& command);

// Runs `run` on the collection file `path`, or, when `source` names a store,
// on the one collection of the site (and floor) it chooses, written with its
// side store into a temporary folder for the run and removed after it: the
// same bytes as the file that was pushed, so the results are the same as from
// that file. Exit status 2 with one line on standard error when the store
// cannot be read or the choice is not one collection.
// When the store's site was pushed as a site (its floors have plans) and no
// --collection is named, `runSite` (when given) runs instead on the whole
// site pulled into a temporary folder: its site file's path.
int RunOnCollection(const StoreSource& source, const std::string& path,
                    const std::function<int(const std::string&)>& run,
                    const std::function<int(const std::string&)>& runSite = {});

// Pulls the store's site `site` at `url` into a temporary folder and runs
// `run` on its site file; exit status 2 with one line when it cannot.
int RunOnStoreSite(const std::string& url, const std::string& site,
                   const std::function<int(const std::string&)>& run);

}  // namespace ketrion::ktd
