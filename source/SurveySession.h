#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "source/PositionSource.h"
#include "source/ScanSource.h"

namespace ketrion {

class Clock;
class CSiteData;
class CSiteProjection;
class Sound;

// One survey as the surveyor runs it, without any widget: the projection and
// collection file, recording, readings and dynamic access points, with the
// scan source and position source it was given. Views and dialogs ask and
// show; this class does.
//
// Threads: everything runs on the user-interface thread (or a test's) but
// OnScan, which the scan source calls on its own thread with a finished scan;
// it composes the point and hands it to the collection file's writer without
// waiting on the disk.
class SurveySession {
public:
    // Where a reading is drawn on the plan.
    struct PlanPoint {
        std::int32_t x = 0;
        std::int32_t y = 0;
    };

    SurveySession(source::ScanSource& scan, source::PositionSource& position, CSiteData& data,
                  CSiteProjection& projection, Sound& sound, Clock& clock);
    ~SurveySession();
    SurveySession(const SurveySession&) = delete;
    SurveySession& operator=(const SurveySession&) = delete;

    source::ScanSource& Scan() { return m_scan; }
    source::PositionSource& Position() { return m_position; }
    CSiteData& Data() { return m_data; }

    // Loads a projection file (its own messages on failure). Survey files
    // loaded afterwards are placed with it.
    bool OpenProjection(const std::string& path);
    // Makes `path` the collection file and loads its points.
    bool OpenCollection(const std::string& path);
    // Makes `path` a new, empty collection file.
    bool NewCollection(const std::string& path);
    // Forgets the collection file (nothing more is recorded).
    void CloseCollection();
    bool HasCollection() const;

    // Starts recording: false, with nothing changed, while no collection
    // file is chosen. Plays "WHOOSH".
    bool StartRecording();
    void StopRecording();
    bool IsRecording() const { return m_recording; }

    // The collection timer's tick: takes a reading unless the source is down
    // or still scanning. The plan position of the reading when one was taken.
    std::optional<PlanPoint> OnTimer();
    // True when a reading can be asked for now.
    bool CanTakeReading() const;
    // True while the scan source is there (ready or scanning).
    bool SourceUp() const;
    // Takes one reading: the source forgets the last scan, the position for
    // the coming point is taken, the scan requested, "PING" played. Returns
    // the plan position the point will be drawn at.
    PlanPoint TakeReading();
    // The first half of a reading, without the request: the source forgets
    // the last scan and the position for the coming point is taken (a
    // replay whose recording holds its own scans). The point is drawn at
    // `at` when given, else where the current fix lies on the plan.
    PlanPoint PrepareReading(std::optional<PlanPoint> at = std::nullopt);
    // The plan position of the current fix.
    PlanPoint CurrentPlanPosition() const;

    // Places a dynamic access point where the surveyor tapped: drawn at plan
    // (x, y) and stored at the current position.
    bool PlaceDynamicAp(int x, int y);

    // Source thread: a finished scan becomes a survey point.
    void OnScan(const source::ScanResult& result);
    // User-interface thread: a source's news, once posted there. A source
    // that paces itself gets its next scan as soon as one ended.
    void OnSourceEvent(const source::SourceEvent& event);

    // "", "no-fix" or "stale" for a fix as it stood at `atMs`.
    static std::string FixFlag(const source::Fix& fix, std::int64_t atMs);

private:
    source::ScanSource& m_scan;
    source::PositionSource& m_position;
    CSiteData& m_data;
    CSiteProjection& m_projection;
    Sound& m_sound;
    Clock& m_clock;

    std::atomic<bool> m_recording{false};
    // Where the coming point is drawn (set by TakeReading, read by OnScan).
    std::mutex m_readingMutex;
    PlanPoint m_requested;
};

}  // namespace ketrion
