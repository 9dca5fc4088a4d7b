#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "session/FixWait.h"
#include "session/PlanPlacing.h"
#include "session/UndoSteps.h"
#include "session/WalkPlacing.h"
#include "source/PositionSource.h"
#include "source/ScanSource.h"

namespace ketrion {

class Clock;
class CSiteData;
class Ticker;
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
// waiting on the disk. The projection's map is read there as one immutable
// snapshot. Every change of the points is announced to the listeners
// (SubscribePoints), so views follow the survey instead of polling it.
//
// Self-contained jobs are done by helpers it owns, which its callers never
// see: FixWait, WalkPlacing, PlanPlacing, UndoSteps and Listeners.
class SurveySession {
public:
    // Where a reading is drawn on the plan.
    struct PlanPoint {
        std::int32_t x = 0;
        std::int32_t y = 0;
    };

    // Period of the collection ticks while recording.
    static constexpr int kCollectionPeriodMs = 5000;

    // `ticker` paces the recording (one reading each kCollectionPeriodMs);
    // without one, only Tick and a source that paces itself take readings.
    SurveySession(source::ScanSource& scan, source::PositionSource& position, CSiteData& data,
                  CSiteProjection& projection, Sound& sound, Clock& clock,
                  Ticker* ticker = nullptr);
    ~SurveySession();
    SurveySession(const SurveySession&) = delete;
    SurveySession& operator=(const SurveySession&) = delete;

    // Starts the scan source, then the position source; neither waits for
    // its device (a source says it is Starting meanwhile). The one place the
    // program starts them; StopSources joins their threads (safe to repeat),
    // and so does the destructor.
    void StartSources();
    void StopSources();

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
    // Forgets the collection file (nothing more is recorded; a recording
    // goes on until stopped or a file is chosen).
    void CloseCollection();
    bool HasCollection() const;

    // Starts recording: false, with nothing changed, while no collection
    // file is chosen. Plays "WHOOSH", takes a reading at once when the
    // source is up and one at each tick after (the ticks go on while the
    // source is down, so recording resumes by itself once it is back).
    bool StartRecording();
    // Plays "WHOOSH"; stops only while a collection file is chosen.
    void StopRecording();
    bool IsRecording() const { return m_recording; }
    // One collection tick (the ticker's, while recording): Collect unless
    // the source is still scanning or down.
    void Tick();
    // The recording's reading, now: TakeReading, announced to the reading
    // listeners; nothing in stop and go, whose readings are taken at clicks.
    void Collect();
    // A reading the recording asked for, with where its point will be drawn
    // (the walk's own position while walking; none when not known yet), for
    // the view to bring it into sight. User-interface thread.
    using ReadingListener = std::function<void(std::optional<PlanPoint> at)>;
    int SubscribeReadings(ReadingListener listener);
    void UnsubscribeReadings(int id);

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
    // (x, y) and stored there (through the projection's inverse map; at the
    // current position when there is no projection).
    bool PlaceDynamicAp(int x, int y);

    // How a reading's position is found.
    enum class Placing {
        Gps,        // the position source's fix
        StopAndGo,  // the surveyor clicks where they stand; one reading there
        Walk,       // clicks at the start, each turn and the end of a steady walk
    };
    void SetPlacing(Placing placing);
    Placing CurrentPlacing() const { return m_placing; }

    // Stop and go: one reading placed exactly at plan (x, y). False, with
    // nothing changed, while a scan runs, the source is down, no file is
    // chosen or (x, y) is off the globe (as for every placing below).
    bool StandAt(double x, double y);
    // Continuous walk: the surveyor is at plan (x, y) now. The first click
    // starts the walk; each later one ends a segment, and every scan that
    // ended since the click before is placed on it by the time of its
    // middle. Returns the number of points written.
    int WalkClick(double x, double y);
    // Scans waiting for their segment's end click (drawn hollow at the last
    // click), and the walk's clicks so far.
    std::size_t ProvisionalCount() const;
    std::vector<std::pair<double, double>> WalkClicks() const;
    // Ends the walk: clicks are forgotten; scans not yet placed stay in the
    // side store and are offered again when the file is opened.
    void EndWalk();
    // Scans of an earlier walk left unplaced in the side store (after a
    // stop, quit or crash): placed along a line from (x1, y1) to (x2, y2) in
    // the order they were taken. Returns the number of points written.
    std::size_t UnplacedScans() const;
    int PlaceUnplacedScans(double x1, double y1, double x2, double y2);
    // Every scan the side store keeps waiting for its place, the walk's and
    // an earlier walk's: what opening the file again offers.
    std::size_t WaitingScans() const;

    // Undoes the last point or walk segment (marks its points deleted), or
    // the last deletion. A walk's segment gives back its end click, so the
    // walk goes on from the click before, and its scans wait again for the
    // next click (for two clicks, as an earlier walk's, once that walk has
    // ended). False when there is nothing to undo.
    bool Undo();
    // Marks the point at `offset` deleted (undoable).
    bool DeletePoint(std::int64_t offset);

    // What happened to the survey's points: a reading recorded where the
    // position source put it (or a dynamic access point), readings placed by
    // the surveyor's clicks, a point deleted, a step undone.
    enum class PointChange { Added, Placed, Deleted, Undone };
    // Called after each change on the thread that made it (the scan source's
    // for Added): a listener only posts on, never draws or blocks. Listeners
    // that may go before the session take themselves off with Unsubscribe,
    // which waits for a call under way.
    using PointListener = std::function<void(PointChange)>;
    int SubscribePoints(PointListener listener);
    void UnsubscribePoints(int id);
    // Counts the changes announced so far: a listener that copied the points
    // at revision N knows a later announcement of N or less is old news.
    std::uint64_t PointsRevision() const;

    // Readings without a valid fix (or not yet placed) are left out of the
    // view's heatmap and estimates unless this is set.
    void SetIncludeNoFix(bool include) { m_includeNoFix = include; }
    bool IncludeNoFix() const { return m_includeNoFix; }

    // Where the next reading will be placed, for the view's marker: the fix
    // and its error circle (plan pixels; 0 when unknown), or the walk's
    // current estimate.
    struct NextPosition {
        bool known = false;
        double x = 0;
        double y = 0;
        double errorRadius = 0;
    };
    NextPosition NextReadingPosition() const;

    // Source thread: a finished scan becomes a survey point. A scan placed
    // from a position track first waits for the receiver's report after its
    // middle (FixWait: at most FixWait::kWaitMs after it ended); the source
    // is ready again meanwhile.
    void OnScan(const source::ScanResult& result);
    // Scans waiting for their position report.
    std::size_t ScansWaitingForFix() const { return m_fixWait->Waiting(); }
    // User-interface thread: a source's news, once posted there. A source
    // that paces itself gets its next scan as soon as one ended.
    void OnSourceEvent(const source::SourceEvent& event);

    // "", "no-fix" or "stale" for a fix as it stood at `atMs`.
    static std::string FixFlag(const source::Fix& fix, std::int64_t atMs);

private:
    class Listeners;

    // Writes the point of a scan placed by the position source.
    void RecordTracked(const source::ScanResult& result);
    // What belongs to the collection file being left: its walk, its scans
    // waiting (they stay in its side store) and its steps to undo.
    void LeaveCollection();
    void Announce(PointChange change);

    source::ScanSource& m_scan;
    source::PositionSource& m_position;
    CSiteData& m_data;
    CSiteProjection& m_projection;
    Sound& m_sound;
    Clock& m_clock;
    Ticker* m_ticker;

    std::atomic<bool> m_recording{false};
    // The reading and point listeners (SessionListeners.h).
    std::unique_ptr<Listeners> m_listeners;
    // Points the surveyor places on the plan.
    PlanPlacing m_plan;
    // Where the coming point is drawn (set by TakeReading, read by OnScan),
    // and the placing that reading was taken in.
    mutable std::mutex m_readingMutex;
    PlanPoint m_requested;
    std::atomic<Placing> m_placing{Placing::Gps};
    bool m_stopPending = false;
    double m_stopX = 0;
    double m_stopY = 0;
    // The walk (guarded by m_readingMutex): its clicks and waiting scans,
    // and the scans an earlier walk left unplaced (user-interface thread).
    WalkPlacing m_walk;
    UndoSteps m_undo;  // user-interface thread
    std::atomic<bool> m_includeNoFix{false};
    // Scans waiting for their position; last, so it goes first and writes
    // what still waits while everything it writes with is there.
    std::unique_ptr<FixWait> m_fixWait;
};

}  // namespace ketrion
