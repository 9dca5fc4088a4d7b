#include "site/CollectionMerge.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <unordered_set>
#include <utility>

#include "analysis/SideDetails.h"
#include "analysis/SurveyRecords.h"
#include "site/FloorPlan.h"
#include "survey/CollectionFile.h"
#include "survey/OutputFile.h"
#include "survey/RegularFile.h"
#include "survey/SideStore.h"

namespace ketrion::site {

namespace {

using collection::Header;

const char* const kSideCompanions[] = {"", "-wal", "-shm"};

struct Span {
    std::int64_t offset = 0;
    std::int64_t size = 0;
};

// One input, walked and with its side rows.
struct Input {
    std::string path;
    int fd = -1;
    Header header;
    std::int64_t first = 0;  // offset of the first point
    std::vector<Span> points;
    std::unique_ptr<SideStore> side;
    std::map<std::int64_t, SideStore::Point> rows;
    std::map<std::int64_t, std::vector<SideStore::Reading>> readings;

    Input() = default;
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;
    ~Input() {
        if (fd >= 0)
            ::close(fd);
    }
};

std::string Walk(Input& in) {
    files::OpenFailure failure;
    in.fd = files::OpenRegular(in.path, O_RDONLY, 0, failure);
    if (in.fd < 0)
        return "cannot open " + in.path + ": " + files::Describe(failure);
    collection::Reader reader(in.fd);
    const collection::Damage damage = reader.Open(in.header);
    if (damage != collection::Damage::None)
        return collection::DamageText(damage, in.path, in.header);
    in.first = reader.Position();
    std::uint8_t location[collection::kLocationSize];
    std::uint8_t reading[collection::kReadingSize];
    std::int64_t offset = 0;
    while (reader.NextLocation(location, offset)) {
        const unsigned count = collection::Get16(location + collection::kCountAt);
        for (unsigned i = 0; i < count; ++i)
            if (!reader.NextReading(reading))
                return in.path + " is damaged: the file ends inside point " +
                       std::to_string(in.points.size() + 1);
        in.points.push_back({offset, reader.Position() - offset});
        if (in.points.size() > collection::kMaxLoadedPoints)
            return collection::TooManyPointsText(in.path);
    }
    if (reader.Error() != 0)
        return "cannot read " + in.path + ": " + std::strerror(reader.Error());
    if (::lseek(in.fd, 0, SEEK_END) != offset)
        return in.path + " is damaged: the file ends inside the location record of point " +
               std::to_string(in.points.size() + 1);
    std::string message;
    in.side = SideStore::OpenForReading(in.path, SideIdentity(in.path, in.header.bytes), &message);
    if (!message.empty())
        return message + " (the merge needs its rows)";
    if (in.side != nullptr) {
        in.rows = in.side->Points();
        in.readings = in.side->AllReadings();
    }
    return {};
}

bool ReadAt(int fd, std::int64_t offset, std::size_t size, std::string& out) {
    out.resize(size);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, out.data() + done, size - done,
                                  static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

template <typename T>
void Field(std::string& key, const std::optional<T>& value) {
    if (!value) {
        key += "-\x1e";
        return;
    }
    char text[40];
    if constexpr (std::is_floating_point_v<T>)
        std::snprintf(text, sizeof text, "%.17g\x1e", *value);
    else
        std::snprintf(text, sizeof text, "%lld\x1e", static_cast<long long>(*value));
    key += text;
}
void Field(std::string& key, const std::string& value) {
    key += std::to_string(value.size()) + ":" + value + "\x1e";
}
void Field(std::string& key, std::int64_t value) {
    key += std::to_string(value) + "\x1e";
}

// Everything a point's side rows say but its offset.
std::string SideKey(const SideStore::Point* p, const std::vector<SideStore::Reading>* readings) {
    if (p == nullptr)
        return "none";
    std::string key = "point\x1e";
    Field(key, p->scanSource);
    Field(key, p->method);
    Field(key, p->planX);
    Field(key, p->planY);
    Field(key, p->floor);
    Field(key, p->timeMs);
    Field(key, p->ephMetres);
    Field(key, p->satellites);
    Field(key, p->mode);
    Field(key, p->altitudeMetres);
    Field(key, p->fixFlag);
    Field(key, std::int64_t{p->provisional ? 1 : 0});
    Field(key, std::int64_t{p->deleted ? 1 : 0});
    Field(key, p->scanStartMs);
    Field(key, p->scanEndMs);
    if (readings != nullptr) {
        for (const SideStore::Reading& r : *readings) {
            key += "reading\x1e";
            Field(key, std::int64_t{r.index});
            Field(key, r.bssid);
            Field(key, r.ssid);
            Field(key, r.frequencyMhz);
            Field(key, r.channel);
            Field(key, r.band);
            Field(key, r.signalMbm);
            Field(key, r.signalUnspec);
            Field(key, std::int64_t{r.inCollection ? 1 : 0});
            Field(key, r.security);
            Field(key, r.phy);
            Field(key, r.widthMhz);
            Field(key, r.noiseDbm);
            Field(key, r.ageMs);
        }
    }
    return key;
}

// The plans the inputs' side stores name; refused when more than one.
std::string CheckPlans(const std::vector<std::unique_ptr<Input>>& inputs) {
    std::map<std::string, std::string> plans;  // plan name -> first input naming it
    for (const auto& in : inputs)
        for (const auto& [offset, row] : in->rows)
            if (!row.floor.empty())
                plans.emplace(row.floor, in->path);
    if (plans.size() <= 1)
        return {};
    std::string list;
    for (const auto& [plan, path] : plans)
        list += (list.empty() ? "" : ", ") + ("\"" + plan + "\" (" + path + ")");
    return "the walks are on different plans: " + list + "; merge walks of one plan only";
}

std::string CheckProjection(const std::vector<std::unique_ptr<Input>>& inputs,
                            const std::string& projection) {
    FloorPlan plan;
    std::string error;
    if (!ReadFloorPlan(projection, plan, error))
        return error;
    for (const auto& in : inputs) {
        analysis::SurveyRecords records;
        analysis::ReadSurveyRecords(in->path, records);
        analysis::AttachSideDetails(records, nullptr);
        error = CheckOnPlan(records, plan, projection);
        if (!error.empty())
            return error;
    }
    return {};
}

}  // namespace

MergeResult MergeCollections(const MergeRequest& request) {
    MergeResult result;
    auto fail = [&](std::string message) {
        result.ok = false;
        result.error = std::move(message) + "; nothing written";
        return result;
    };
    if (request.inputs.empty())
        return fail("no collection files to merge");
    std::vector<files::Input> named;
    for (const std::string& path : request.inputs) {
        named.push_back({path, "collection file"});
        named.push_back({SideStore::PathFor(path), "side store"});
    }
    if (const std::string refusal = files::CheckOutput(request.output, named); !refusal.empty())
        return fail(refusal);

    std::vector<std::unique_ptr<Input>> inputs;
    for (const std::string& path : request.inputs) {
        auto in = std::make_unique<Input>();
        in->path = path;
        if (const std::string problem = Walk(*in); !problem.empty())
            return fail(problem);
        const Header& a = inputs.empty() ? in->header : inputs.front()->header;
        if (in->header.locationSize != a.locationSize || in->header.readingSize != a.readingSize)
            return fail(path + " has records of " + std::to_string(in->header.locationSize) +
                        " and " + std::to_string(in->header.readingSize) + " bytes, " +
                        inputs.front()->path + " of " + std::to_string(a.locationSize) + " and " +
                        std::to_string(a.readingSize) + "; they cannot share one file");
        inputs.push_back(std::move(in));
    }
    if (const std::string problem = CheckPlans(inputs); !problem.empty())
        return fail(problem);
    if (!request.projection.empty())
        if (const std::string problem = CheckProjection(inputs, request.projection);
            !problem.empty())
            return fail(problem);

    files::OutputFile out;
    if (!out.Open(request.output, named))
        return fail(out.Error());
    const Input& head = *inputs.front();
    std::string bytes;
    if (!ReadAt(head.fd, 0, static_cast<std::size_t>(head.first), bytes) || !out.Write(bytes))
        return fail("cannot write " + request.output + ": " + out.Error());

    std::unordered_set<std::string> taken;
    std::vector<SideStore::Point> rows;
    std::map<std::int64_t, std::vector<SideStore::Reading>> readings;
    std::int64_t at = head.first;
    bool anySide = false;
    for (const auto& in : inputs) {
        anySide = anySide || in->side != nullptr;
        std::unordered_set<std::string> mine;  // this input's keys: its own repeats stay
        for (const Span& span : in->points) {
            if (!ReadAt(in->fd, span.offset, static_cast<std::size_t>(span.size), bytes))
                return fail("cannot read " + in->path + ": " + std::strerror(errno));
            const auto row = in->rows.find(span.offset);
            const auto rowReadings = in->readings.find(span.offset);
            const std::string key =
                bytes + '\x1f' +
                SideKey(row == in->rows.end() ? nullptr : &row->second,
                        rowReadings == in->readings.end() ? nullptr : &rowReadings->second);
            if (taken.count(key) != 0) {
                ++result.duplicates;
                continue;
            }
            mine.insert(key);
            if (!out.Write(bytes))
                return fail("cannot write " + request.output + ": " + out.Error());
            if (row != in->rows.end()) {
                SideStore::Point moved = row->second;
                moved.offset = at;
                rows.push_back(std::move(moved));
                if (rowReadings != in->readings.end()) {
                    auto& list = readings[at] = rowReadings->second;
                    for (SideStore::Reading& r : list)
                        r.pointOffset = at;
                }
            }
            at += span.size;
            ++result.points;
        }
        taken.merge(mine);
    }

    std::unique_ptr<SideStore> side;
    if (anySide) {
        std::string message;
        side = SideStore::OpenForWriting(out.TempPath(),
                                         SideIdentity(request.output, head.header.bytes), &message);
        if (side == nullptr || !side->WritePoints(rows, readings, &message) ||
            !side->Close(&message)) {
            side.reset();
            for (const char* companion : kSideCompanions)
                ::unlink((SideStore::PathFor(out.TempPath()) + companion).c_str());
            return fail("cannot write the side store of " + request.output + ": " + message);
        }
        side.reset();
    }
    // OUT's old side store goes first (it describes the file being
    // replaced), then the file, then its new side store.
    const std::string outSide = SideStore::PathFor(request.output);
    const std::string tempSide = SideStore::PathFor(out.TempPath());
    for (const char* companion : kSideCompanions)
        ::unlink((outSide + companion).c_str());
    if (!out.Commit()) {
        ::unlink(tempSide.c_str());
        return fail(out.Error());
    }
    if (anySide && ::rename(tempSide.c_str(), outSide.c_str()) != 0) {
        result.error = "wrote " + request.output + " but not its side store " + outSide + ": " +
                       std::strerror(errno);
        ::unlink(tempSide.c_str());
        return result;
    }
    result.ok = true;
    return result;
}

}  // namespace ketrion::site
