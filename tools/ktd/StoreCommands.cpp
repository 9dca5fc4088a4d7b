#include "tools/ktd/StoreCommands.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "site/SiteFile.h"
#include "store/Connection.h"
#include "store/Pull.h"
#include "store/Push.h"
#include "store/SiteStore.h"
#include "survey/RegularFile.h"
#include "tools/ktd/SiteInput.h"

namespace ketrion::ktd {

namespace {

// Exit status: 1 the store refused or the connection failed, 2 the command
// line is wrong or a file cannot be read or written.
constexpr int kStoreFailed = 1;
constexpr int kUsage = 2;
// The site a push goes to when none is named.
constexpr const char* kDefaultSite = "default";
// Width of the progress bar in characters.
constexpr int kBarWidth = 30;

int Fail(const std::string& message, int status = kStoreFailed) {
    std::fflush(stdout);
    std::fprintf(stderr, "ktd: %s\n", message.c_str());
    return status;
}

// A bar on standard error, redrawn in place, only when it is a terminal.
class ProgressBar {
public:
    ProgressBar() : m_tty(isatty(STDERR_FILENO) == 1) {}
    ~ProgressBar() { Clear(); }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;
    void Show(const std::string& what, std::int64_t done, std::int64_t total) {
        if (!m_tty)
            return;
        const int filled = total > 0 ? static_cast<int>(done * kBarWidth / total) : kBarWidth;
        std::string bar(static_cast<std::size_t>(filled), '#');
        bar.resize(kBarWidth, '.');
        std::fprintf(stderr, "\r%s [%s] %lld/%lld readings", what.c_str(), bar.c_str(),
                     static_cast<long long>(done), static_cast<long long>(total));
        m_shown = true;
    }
    // Ends the bar's line before other text is written.
    void Clear() {
        if (m_shown)
            std::fprintf(stderr, "\n");
        m_shown = false;
    }

private:
    bool m_tty;
    bool m_shown = false;
};

struct PushArgs {
    std::vector<std::string> paths;
    std::string url;
    store::PushTarget target;
    int reconnects = 3;
};

// After a site's push: every access point's position on its floor, as
// `ktd aps SITE.kts` gives it, into the store's estimates for GIS queries.
int StoreSiteEstimates(const std::string& url, const std::string& sitePath, std::string siteName) {
    std::string error;
    std::vector<SiteApPosition> located;
    if (!LocateSiteAccessPoints(sitePath, analysis::Selection{}, located, error))
        return Fail(error);
    if (siteName.empty()) {
        site::Site site;
        if (!site::SiteFile::Load(sitePath, site, error))
            return Fail(error);
        siteName = site.name;
    }
    std::vector<store::StoredEstimate> estimates;
    for (const SiteApPosition& ap : located)
        estimates.push_back({analysis::MacText(ap.mac), ap.building, ap.floor, ap.position.latitude,
                             ap.position.longitude, ap.position.uncertainty, ap.position.used});
    auto connection = store::Connection::Open(url, error);
    if (!connection || !store::StoreEstimates(*connection, siteName, estimates, "centroid", error))
        return Fail(error);
    return 0;
}

int RunPush(PushArgs args) {
    // Every file is checked before the store is asked anything: a wrong
    // name is the command line's fault, not the store's.
    for (const std::string& path : args.paths) {
        files::OpenFailure failure;
        const int fd = files::OpenRegular(path, O_RDONLY, 0, failure);
        if (fd < 0)
            return Fail("cannot open " + path + ": " + files::Describe(failure), kUsage);
        close(fd);
    }
    // A site file is pushed whole, into the store's site of its own name
    // unless --site names another.
    const bool site = args.paths.size() == 1 && site::SiteFile::LooksLikeSite(args.paths.front());
    if (site && (!args.target.building.empty() || !args.target.floor.empty()))
        return Fail("a site file names its own buildings and floors; no --building or --floor",
                    kUsage);
    if (!site && args.target.site.empty()) {
        args.target.site = kDefaultSite;
        std::fprintf(stderr, "ktd: no --site given; pushing to the site \"%s\"\n", kDefaultSite);
    }
    ProgressBar bar;
    store::PushOptions options;
    options.target = args.target;
    options.reconnects = args.reconnects;
    options.say = [&](const std::string& text) {
        bar.Clear();
        std::fprintf(stderr, "ktd: %s\n", text.c_str());
    };
    options.progress = [&](std::int64_t done, std::int64_t total) {
        bar.Show("pushing", done, total);
    };
    std::string error;
    const bool ok = site ? store::PushSite(args.url, args.paths.front(), options, error)
                         : store::PushFiles(args.url, args.paths, options, error);
    bar.Clear();
    if (!ok)
        return Fail(error);
    return site ? StoreSiteEstimates(args.url, args.paths.front(), options.target.site) : 0;
}

struct PullArgs {
    std::string url;
    store::Choice choice;
    std::string out;
};

int RunPull(const PullArgs& args) {
    std::string error;
    auto connection = store::Connection::Open(args.url, error);
    if (!connection)
        return Fail(error);
    std::vector<store::StoredCollection> collections;
    try {
        // A site pushed as a site comes back as one: its site file, plans
        // and collections floor by floor.
        const bool whole = args.choice.building.empty() && args.choice.floor.empty() &&
                           args.choice.collection.empty();
        if (whole && store::HasPlans(*connection, args.choice.site)) {
            std::string sitePath;
            if (!store::PullSite(*connection, args.choice.site, args.out, sitePath, error))
                return Fail(error, kUsage);
            std::printf("%s\n", sitePath.c_str());
            return 0;
        }
        if (!store::FetchCollections(*connection, args.choice, collections, error))
            return Fail(error);
    } catch (const std::exception& e) {
        return Fail(connection->ShownUrl() + ": " + connection->Describe(e));
    }
    std::vector<std::string> written;
    if (!store::WriteCollections(collections, args.out, written, error))
        return Fail(error, kUsage);
    for (const std::string& path : written)
        std::printf("%s\n", path.c_str());
    if (collections.empty())
        std::fprintf(stderr, "ktd: the site \"%s\" has no collections to pull\n",
                     args.choice.site.c_str());
    return 0;
}

// A folder of its own under $TMPDIR, removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") + "/ktd-store-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr)
            m_path = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

}  // namespace

void AddPushCommand(CLI::App& app, int& status) {
    CLI::App* command = app.add_subcommand(
        "push", "push collection files (and their side stores) into the shared store");
    auto args = std::make_shared<PushArgs>();
    command
        ->add_option("--db", args->url,
                     "the store: postgresql://USER@HOST/DB (the password from the URL, "
                     "PGPASSWORD, PGPASSFILE or ~/.pgpass)")
        ->required();
    command->add_option("--site", args->target.site, "site the collections belong to");
    command->add_option("--building", args->target.building, "building of --floor (default main)");
    command->add_option("--floor", args->target.floor,
                        "floor every point is on (default: the floor the side store names)");
    command->add_option("--reconnects", args->reconnects,
                        "times to reconnect after a lost connection (default 3)");
    command->add_option("FILE", args->paths, "collection files (.ktd)")->required();
    command->callback([&status, args] { status = RunPush(*args); });
}

void AddPullCommand(CLI::App& app, int& status) {
    CLI::App* command =
        app.add_subcommand("pull", "write a site's collections from the store back as files");
    auto args = std::make_shared<PullArgs>();
    command->add_option("--db", args->url, "the store: postgresql://USER@HOST/DB")->required();
    command->add_option("--site", args->choice.site, "site to pull")->required();
    command->add_option("--building", args->choice.building, "only the floor in this building");
    command->add_option("--floor", args->choice.floor, "only the collections on this floor");
    command->add_option("--collection", args->choice.collection,
                        "only the collection of this name");
    command->add_option("-o,--output", args->out, "folder to write into")->required();
    command->callback([&status, args] { status = RunPull(*args); });
}

std::shared_ptr<StoreSource> AddStoreSource(CLI::App& command) {
    auto source = std::make_shared<StoreSource>();
    CLI::Option* db = command.add_option(
        "--db", source->url, "read the survey from the store instead of FILE: postgresql://...");
    command.add_option("--site", source->site, "with --db: the site")->needs(db);
    command.add_option("--building", source->building, "with --db: the building of --floor")
        ->needs(db);
    // One --floor for both inputs: a floor of the store's site, or of a site file.
    command.add_option("--floor", source->floor,
                       "with --db: the floor; with a site file (.kts): the floor, as FLOOR or "
                       "BUILDING/FLOOR (its switched-on collections together)");
    command
        .add_option("--collection", source->collection,
                    "with --db: the collection (by file name) when the floor has several")
        ->needs(db);
    return source;
}

int RunOnStoreSite(const std::string& url, const std::string& site,
                   const std::function<int(const std::string&)>& run) {
    std::string error;
    auto connection = store::Connection::Open(url, error);
    if (!connection)
        return Fail(error, kUsage);
    TempFolder folder;
    if (folder.Path().empty())
        return Fail("cannot make a temporary folder for the store's site", kUsage);
    std::string sitePath;
    try {
        if (!store::PullSite(*connection, site, folder.Path(), sitePath, error))
            return Fail(error, kUsage);
    } catch (const std::exception& e) {
        return Fail(connection->ShownUrl() + ": " + connection->Describe(e), kUsage);
    }
    connection.reset();
    return run(sitePath);
}

int RunOnCollection(const StoreSource& source, const std::string& path,
                    const std::function<int(const std::string&)>& run,
                    const std::function<int(const std::string&)>& runSite) {
    if (source.url.empty()) {
        if (!source.floor.empty())
            return Fail("--floor needs a site file (.kts) or --db", kUsage);
        if (path.empty())
            return Fail("give a collection file (.ktd), or --db URL --site NAME", kUsage);
        return run(path);
    }
    if (!path.empty())
        return Fail("give either a collection file or --db, not both", kUsage);
    if (source.site.empty())
        return Fail("--db needs --site NAME", kUsage);
    std::string error;
    auto connection = store::Connection::Open(source.url, error);
    if (!connection)
        return Fail(error, kUsage);
    std::vector<store::StoredCollection> collections;
    const store::Choice choice{source.site, source.building, source.floor, source.collection};
    try {
        if (runSite && source.collection.empty() && store::HasPlans(*connection, source.site)) {
            connection.reset();
            return RunOnStoreSite(source.url, source.site, runSite);
        }
        if (!store::FetchCollections(*connection, choice, collections, error))
            return Fail(error, kUsage);
    } catch (const std::exception& e) {
        return Fail(connection->ShownUrl() + ": " + connection->Describe(e), kUsage);
    }
    connection.reset();
    if (collections.size() != 1) {
        std::string names;
        for (const auto& c : collections)
            names += (names.empty() ? "" : ", ") + c.name;
        return Fail(collections.empty()
                        ? "the store holds no collection of site \"" + source.site + "\"" +
                              (source.floor.empty() ? "" : " on floor \"" + source.floor + "\"")
                        : "the choice holds " + std::to_string(collections.size()) +
                              " collections (" + names + "); name one with --collection",
                    kUsage);
    }
    TempFolder folder;
    if (folder.Path().empty())
        return Fail("cannot make a temporary folder for the store's collection", kUsage);
    std::vector<std::string> written;
    if (!store::WriteCollections(collections, folder.Path(), written, error))
        return Fail(error, kUsage);
    return run(written.front());
}

}  // namespace ketrion::ktd
