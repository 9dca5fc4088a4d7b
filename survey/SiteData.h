#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "survey/CollectionFile.h"
#include "survey/SurveyLock.h"

namespace ketrion {

class Clock;
class CLocation;
class CSiteProjection;
class LinkList;
class Prompt;
class Sound;

// The survey being collected: the points drawn on the plan (m_points) and the
// collection file ("ktd") that stores every point with the access points heard
// at it. One instance for the whole program.
//
// Threads: RecordScan runs on the link thread (the engine's ScanEnd hook);
// everything else on the user-interface thread.
//  - File operations from both threads are serialised by one internal mutex;
//    each operation opens the file, works and closes it again. The file is also
//    locked against other processes while an operation holds it.
//  - g_hSurveyLock guards m_points and m_current (never held across file I/O).
//    Lock order: file mutex, then g_hSurveyLock.
//  - SetPosition's emptying of the access-point list and RecordScan's walk of
//    it never overlap.
// Failures the user must see go to the Prompt (never blocking the caller).
class CSiteData {
public:
    // One survey point or dynamic access point.
    struct _tap {
        std::int32_t x = 0;  // plan x
        std::int32_t y = 0;  // plan y
        // Strongest average signal of the readings (dBm), never below -100;
        // -100 for a dynamic access point.
        std::int16_t signal = 0;
        // Reading records after the location record; 0 for a dynamic access point.
        std::uint16_t readings = 0;
        std::uint8_t kind = 0;    // 0 survey point, 1 dynamic access point
        std::int64_t offset = 0;  // file offset of the point's location record
    };

    // A stable copy of the selected point and its reading lines, for the
    // Location Information dialog: taken once, not changed by later appends.
    struct PointDetails {
        bool valid = false;              // false when no point has been selected
        _tap point;                      // the point as FindNearestPoint left it
        std::vector<std::string> lines;  // FormatReading(1 .. readings) for a survey point
    };

    static constexpr int kKindSurvey = 0;
    static constexpr int kKindDynamicAp = 1;
    static constexpr std::int16_t kWeakestSignal = -100;  // floor of a point's signal (dBm)
    static constexpr int kFindRange = 40;                 // plan units for FindNearestPoint

    CSiteData(LinkList& list, CLocation& location, Prompt& prompt, Sound& sound, Clock& clock);
    // Same, with the system clock for the creation time of new files.
    CSiteData(LinkList& list, CLocation& location, Prompt& prompt, Sound& sound);
    virtual ~CSiteData();
    CSiteData(const CSiteData&) = delete;
    CSiteData& operator=(const CSiteData&) = delete;

    // The projection LoadSurvey uses to place stored positions on the plan; with
    // none (the default) every loaded point lands on plan (0, 0).
    void SetProjection(const CSiteProjection* projection) { m_projection = projection; }

    // The collection file's full path (m_strPath); empty when none is chosen.
    // Set it before NewCollection or LoadSurvey.
    void SetPath(std::string path);
    std::string Path() const;
    bool HasPath() const;

    // Creates (truncating) the collection file at the path: a 33-byte header and
    // record-size block. m_points is not changed. Returns false after showing a
    // message when the file cannot be created or written.
    bool NewCollection();
    // Replaces m_points with the points of the file at the path, playing "PING"
    // for each survey point. A file cut short loads what is complete. Returns
    // false after a message when the file cannot be opened or is damaged.
    bool LoadSurvey();
    // Stores the plan position of the coming survey point and empties the
    // access-point list.
    void SetPosition(int x, int y);
    // Writes one survey point (the last GPS report and one reading per listed
    // access point) at the end of the file and appends it to m_points. Does
    // nothing while no file is chosen. Returns true when a point was recorded.
    bool RecordScan();
    // Writes a dynamic access point at plan (x, y) with the current GPS position
    // and appends it to m_points. Returns true when it was recorded.
    bool RecordDynamicAp(int x, int y);
    // The kind of the nearest point within 40 plan units of (x, y) (the earlier
    // one on a tie), left in m_current; -1 when there is none.
    int FindNearestPoint(int x, int y);
    // The text line of reading i (from 1) of the selected point, read from the
    // file: "%d  %02X-...-%02X %d      %s"; empty when it cannot be read.
    std::string FormatReading(int i);
    // A copy of the selected point with all its reading lines (one file open).
    PointDetails SelectedPoint();

    // Calls f(const _tap&) for every point in list order while holding
    // g_hSurveyLock. f must not call back into CSiteData.
    template <class F>
    void ForEachPoint(F&& f) const {
        std::lock_guard lock(g_hSurveyLock);
        for (const _tap& point : m_points)
            f(point);
    }
    // Number of points in m_points (the view's "DATA PTS").
    std::size_t PointCount() const;
    // Copy of the selected point (under the lock).
    _tap Current() const;

    // Set when the access-point list was empty at the last recorded scan; the
    // site view shows its alert band while it is set.
    std::atomic<bool> m_bNoApHeard{false};

private:
    // How an operation opens the file.
    enum class Access { Read, Append };
    class OpenFile;

    // Takes the chosen path into `file`; without one, tells the user and
    // returns false.
    bool TakeChosenPath(OpenFile& file);
    bool OpenCollection(OpenFile& file, Access access);
    bool Append(OpenFile& file, const std::uint8_t* bytes, std::size_t length,
                std::int64_t& offset);
    bool CheckTail(OpenFile& file, std::int64_t size);
    void AddPoint(const _tap& point);
    std::string ReadingLine(OpenFile& file, const _tap& point, int i);
    void ShowFailure(const std::string& path, const char* action, int error);
    void RememberTail(const OpenFile& file, std::int64_t end);

    LinkList& m_list;
    CLocation& m_location;
    Prompt& m_prompt;
    Sound& m_sound;
    Clock& m_clock;
    const CSiteProjection* m_projection = nullptr;

    // Guards m_strPath only, so reading the path never waits for file I/O.
    mutable std::mutex m_pathMutex;
    std::string m_strPath;
    // Serialises file operations and guards the fields below it.
    std::mutex m_fileMutex;
    collection::Header m_header;                                    // as last read or written
    std::uint8_t m_locationRecord[collection::kLocationSize] = {};  // last built or read
    std::vector<std::uint8_t> m_pointBuffer;                        // one composed point, reused
    // End of the last complete point of the file (device, inode) as this
    // process last saw it, so appends after a torn tail (a crash mid-write)
    // start on a record boundary without walking the whole file each time.
    bool m_tailKnown = false;
    std::uint64_t m_tailDevice = 0;
    std::uint64_t m_tailInode = 0;
    std::int64_t m_tailEnd = -1;

    // Orders SetPosition against RecordScan's walk of the list.
    std::mutex m_scanMutex;
    std::atomic<std::int32_t> m_currentX{0};
    std::atomic<std::int32_t> m_currentY{0};

    // Guarded by g_hSurveyLock.
    _tap m_current;
    bool m_bCurrentValid = false;
    std::vector<_tap> m_points;
};

}  // namespace ketrion
