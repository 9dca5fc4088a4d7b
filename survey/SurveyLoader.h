#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "survey/CollectionFile.h"
#include "survey/PointList.h"

namespace ketrion {

class CollectionFailures;
class CSiteProjection;
class HeldFile;
class Prompt;
class Sound;

// Reads the points of a collection file for LoadSurvey: every complete point
// placed on the plan, "PING" played once when a survey point came, and what
// the side store adds (deleted marks, points drawn hollow, a walk's scans
// still to be placed). A file cut short gives what is complete; one whose
// records stop making sense part-way (damage before its end) gives the
// points before the damage, says where it is, and is noted damaged in the
// held file, which is then only read from.
//
// Threads: Load runs on the user-interface thread under the writer's file
// mutex; PendingScansAtLoad from any thread (a member mutex guards what it
// returns, never held across I/O).
class SurveyLoader {
public:
    // What a load found.
    struct Loaded {
        std::vector<PointList::Point> points;
        // The last location record read, when there was one.
        bool anyLocation = false;
        std::uint8_t lastLocation[collection::kLocationSize] = {};
    };

    SurveyLoader(CollectionFailures& failures, Prompt& prompt, Sound& sound)
        : m_failures(failures), m_prompt(prompt), m_sound(sound) {}

    // Holds `path` for reading and walks its points, placed with
    // `projection` (every point at plan (0, 0) without one). Nothing when the
    // file cannot be opened, its header is damaged, or it holds too many
    // points (each said).
    std::optional<Loaded> Load(HeldFile& file, const std::string& path,
                               const CSiteProjection* projection);
    // The walk's scans the side store held when a file was last loaded.
    std::vector<std::pair<std::int64_t, std::string>> PendingScansAtLoad() const;

private:
    // The side store's marks on `points`, and its pending scans.
    void ApplySide(const HeldFile& file, const std::string& path,
                   std::vector<PointList::Point>& points);

    CollectionFailures& m_failures;
    Prompt& m_prompt;
    Sound& m_sound;
    mutable std::mutex m_noticeMutex;  // guards the one below
    std::vector<std::pair<std::int64_t, std::string>> m_pendingAtLoad;
};

}  // namespace ketrion
