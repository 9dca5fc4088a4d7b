// `ktd site` and `ktd merge`: the site file's commands. Each edit loads the
// site, makes one checked change and saves it whole; a refused change says
// why and leaves the file as it was.

#include "tools/ktd/SiteCommand.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "site/CollectionMerge.h"
#include "site/SiteEditor.h"
#include "site/SiteFile.h"
#include "tools/ktd/StandardOutput.h"

namespace ketrion::ktd {

namespace {

constexpr int kProblems = 1;
constexpr int kCannotRun = 2;

int Fail(const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "ktd: %s\n", message.c_str());
    return kCannotRun;
}

struct SiteOptions {
    std::string site;
    std::string name;
    std::string building = "Building";
    std::string floor;
    std::string projection;
    int order = 0;
    double height = 0;
    std::vector<std::string> refs;
    std::vector<std::string> files;
    std::string surveyor;
    bool off = false;
    std::string state;
};

// "LABEL,X,Y" -> a reference point.
std::optional<site::ReferencePoint> ParseRef(const std::string& text) {
    const std::size_t a = text.find(',');
    const std::size_t b = a == std::string::npos ? a : text.find(',', a + 1);
    if (b == std::string::npos || a == 0)
        return std::nullopt;
    site::ReferencePoint p;
    p.label = text.substr(0, a);
    try {
        std::size_t used = 0;
        const std::string xs = text.substr(a + 1, b - a - 1), ys = text.substr(b + 1);
        p.x = std::stod(xs, &used);
        if (used != xs.size())
            return std::nullopt;
        p.y = std::stod(ys, &used);
        if (used != ys.size() || !std::isfinite(p.x) || !std::isfinite(p.y))
            return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return p;
}

bool ParseRefs(const std::vector<std::string>& texts, std::vector<site::ReferencePoint>& out,
               std::string& error) {
    for (const std::string& text : texts) {
        const auto p = ParseRef(text);
        if (!p) {
            error = "--ref \"" + text + "\" is not LABEL,X,Y (plan pixels)";
            return false;
        }
        out.push_back(*p);
    }
    return true;
}

// Loads the site, applies `edit` and saves it; the edit's refusal or the
// save's failure as the exit status.
template <typename Edit>
int Change(const std::string& path, Edit edit) {
    site::Site s;
    std::string error;
    if (!site::SiteFile::Load(path, s, error))
        return Fail(error);
    site::SiteEditor editor(s, path);
    if (!edit(editor, error))
        return Fail(error + " (" + path + " is unchanged)");
    if (!site::SiteFile::Save(path, s, error))
        return Fail(error);
    return 0;
}

int RunNew(const SiteOptions& o) {
    struct stat st {};
    if (::lstat(o.site.c_str(), &st) == 0)
        return Fail(o.site + " exists already; a new site needs a new name");
    site::Site s;
    s.name = o.name;
    std::string error;
    if (!site::SiteFile::Save(o.site, s, error))
        return Fail(error);
    std::printf("%s: a new site \"%s\"\n", o.site.c_str(), s.name.c_str());
    return 0;
}

int RunAddFloor(const SiteOptions& o) {
    std::vector<site::ReferencePoint> refs;
    std::string error;
    if (!ParseRefs(o.refs, refs, error))
        return Fail(error);
    return Change(o.site, [&](site::SiteEditor& editor, std::string& why) {
        if (!editor.AddFloor(o.building, o.floor, o.order, o.height, o.projection, why))
            return false;
        return refs.empty() || editor.SetReferences(o.building + "/" + o.floor, refs, why);
    });
}

int RunAlign(const SiteOptions& o) {
    std::vector<site::ReferencePoint> refs;
    std::string error;
    if (!ParseRefs(o.refs, refs, error))
        return Fail(error);
    const int status = Change(o.site, [&](site::SiteEditor& editor, std::string& why) {
        return editor.SetReferences(o.floor, refs, why);
    });
    if (status != 0)
        return status;
    site::Site s;
    if (!site::SiteFile::Load(o.site, s, error))
        return Fail(error);
    for (const site::FloorAlignment& row : site::AlignSite(s, o.site)) {
        if (row.reference == nullptr || !row.aligned)
            continue;
        std::printf("floor \"%s\" on \"%s\": residual %.2f m rms, %.2f m max\n",
                    row.floor->name.c_str(), row.reference->name.c_str(), row.rmsMetres,
                    row.maxMetres);
    }
    return 0;
}

int RunAdd(const SiteOptions& o) {
    return Change(o.site, [&](site::SiteEditor& editor, std::string& why) {
        for (const std::string& file : o.files)
            if (!editor.AddCollection(o.floor, file, o.surveyor, !o.off, why))
                return false;
        return true;
    });
}

int RunRemove(const SiteOptions& o) {
    return Change(o.site, [&](site::SiteEditor& editor, std::string& why) {
        for (const std::string& file : o.files)
            if (!editor.RemoveCollection(file, why))
                return false;
        return true;
    });
}

int RunSwitch(const SiteOptions& o) {
    return Change(o.site, [&](site::SiteEditor& editor, std::string& why) {
        for (const std::string& file : o.files)
            if (!editor.SwitchCollection(file, o.state == "on", why))
                return false;
        return true;
    });
}

int RunList(const SiteOptions& o) {
    site::Site s;
    std::string error;
    if (!site::SiteFile::Load(o.site, s, error))
        return Fail(error);
    std::printf("site \"%s\" (%s)\n", s.name.c_str(), o.site.c_str());
    const std::vector<site::FloorAlignment> alignment = site::AlignSite(s, o.site);
    for (const site::Building& building : s.buildings) {
        std::printf("building \"%s\"\n", building.name.c_str());
        for (const site::Floor& floor : building.floors) {
            std::printf("  floor \"%s\" order %d height %.1f m plan %s\n", floor.name.c_str(),
                        floor.order, floor.heightMetres, floor.projection.c_str());
            for (const site::ReferencePoint& p : floor.references)
                std::printf("    reference \"%s\" %.1f %.1f\n", p.label.c_str(), p.x, p.y);
            for (const site::FloorAlignment& row : alignment) {
                if (row.floor != &floor || row.reference == nullptr)
                    continue;
                if (row.aligned)
                    std::printf(
                        "    aligned on \"%s\": residual %.2f m rms, %.2f m max, scale %.4f, "
                        "turn %.2f degrees\n",
                        row.reference->name.c_str(), row.rmsMetres, row.maxMetres, row.scale,
                        row.rotationDegrees);
                else
                    std::printf("    not aligned: %s\n", row.problem.c_str());
            }
            for (const site::SiteCollection& c : floor.collections)
                std::printf("    %-3s %s surveyor \"%s\" adapter %s date %s\n",
                            c.enabled ? "on" : "off", c.path.c_str(), c.surveyor.c_str(),
                            c.adapter.empty() ? "-" : c.adapter.c_str(),
                            c.date.empty() ? "-" : c.date.c_str());
        }
    }
    return StandardOutputWritten() ? 0 : kCannotRun;
}

int RunCheck(const SiteOptions& o) {
    site::Site s;
    std::string error;
    if (!site::SiteFile::Load(o.site, s, error))
        return Fail(error);
    const std::vector<std::string> problems = site::CheckSite(s, o.site);
    std::size_t floors = 0, collections = 0;
    for (const site::Building& b : s.buildings)
        for (const site::Floor& f : b.floors) {
            ++floors;
            collections += f.collections.size();
        }
    for (const std::string& problem : problems)
        std::printf("problem: %s\n", problem.c_str());
    std::printf("%s: %zu buildings, %zu floors, %zu collections, %zu problems\n", o.site.c_str(),
                s.buildings.size(), floors, collections, problems.size());
    if (!StandardOutputWritten())
        return kCannotRun;
    return problems.empty() ? 0 : kProblems;
}

}  // namespace

void AddSiteCommand(CLI::App& app, int& status) {
    CLI::App* command =
        app.add_subcommand("site",
                           "make, edit and check a site file (.kts): buildings, floors, "
                           "collections");
    command->require_subcommand(1);
    auto o = std::make_shared<SiteOptions>();
    auto siteArg = [o](CLI::App* sub) {
        sub->add_option("SITE", o->site, "site file (.kts)")->required();
    };
    CLI::App* make = command->add_subcommand("new", "make a new, empty site file");
    siteArg(make);
    make->add_option("--name", o->name, "the site's name");
    make->callback([&status, o] { status = RunNew(*o); });

    CLI::App* addFloor = command->add_subcommand("add-floor", "add a floor with its plan");
    siteArg(addFloor);
    addFloor->add_option("--building", o->building, "building (made when new; default Building)");
    addFloor->add_option("--floor", o->floor, "the floor's name")->required();
    addFloor->add_option("--projection", o->projection, "the floor's projection file (.ktp)")
        ->required();
    addFloor->add_option("--order", o->order, "0 ground floor, 1 the one above, -1 below");
    addFloor->add_option("--height", o->height, "height of the floor above the ground, metres");
    addFloor->add_option("--ref", o->refs, "reference point LABEL,X,Y in plan pixels (repeat)");
    addFloor->callback([&status, o] { status = RunAddFloor(*o); });

    CLI::App* align =
        command->add_subcommand("align", "set a floor's reference points (LABEL,X,Y)");
    siteArg(align);
    align->add_option("--floor", o->floor, "FLOOR or BUILDING/FLOOR")->required();
    align->add_option("--ref", o->refs, "reference point LABEL,X,Y in plan pixels (repeat)")
        ->required();
    align->callback([&status, o] { status = RunAlign(*o); });

    CLI::App* add = command->add_subcommand("add", "add collection files to a floor");
    siteArg(add);
    add->add_option("--floor", o->floor, "FLOOR or BUILDING/FLOOR")->required();
    add->add_option("--surveyor", o->surveyor, "who surveyed them");
    add->add_flag("--off", o->off, "add them switched off");
    add->add_option("FILES", o->files, "collection files (.ktd)")->required();
    add->callback([&status, o] { status = RunAdd(*o); });

    CLI::App* remove = command->add_subcommand("remove", "remove collection files from the site");
    siteArg(remove);
    remove->add_option("FILES", o->files, "collection files (.ktd)")->required();
    remove->callback([&status, o] { status = RunRemove(*o); });

    CLI::App* toggle =
        command->add_subcommand("switch", "switch collection files on or off (kept in the site)");
    siteArg(toggle);
    toggle->add_option("STATE", o->state, "on or off")
        ->required()
        ->check(CLI::IsMember({"on", "off"}));
    toggle->add_option("FILES", o->files, "collection files (.ktd)")->required();
    toggle->callback([&status, o] { status = RunSwitch(*o); });

    CLI::App* list = command->add_subcommand("list",
                                             "print the site's buildings, floors, "
                                             "alignment and collections");
    siteArg(list);
    list->callback([&status, o] { status = RunList(*o); });

    CLI::App* check = command->add_subcommand(
        "check", "check every path, every collection's floor and the alignment (exit 1: problems)");
    siteArg(check);
    check->callback([&status, o] { status = RunCheck(*o); });
}

void AddMergeCommand(CLI::App& app, int& status) {
    CLI::App* command = app.add_subcommand(
        "merge", "merge walks on one plan into one collection file (and its side store)");
    auto request = std::make_shared<site::MergeRequest>();
    command->add_option("FILES", request->inputs, "collection files (.ktd)")->required();
    command->add_option("-o,--output", request->output, "the merged collection file")->required();
    command->add_option("--projection", request->projection,
                        "the plan (.ktp) every walk must lie on");
    command->callback([&status, request] {
        const site::MergeResult result = site::MergeCollections(*request);
        if (!result.ok) {
            status = Fail(result.error);
            return;
        }
        std::printf("%s: %zu points from %zu files, %zu repeated points left out\n",
                    request->output.c_str(), result.points, request->inputs.size(),
                    result.duplicates);
        status = 0;
    });
}

}  // namespace ketrion::ktd
