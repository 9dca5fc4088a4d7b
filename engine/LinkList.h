#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace ketrion {

// One access point heard during the current reading.
struct ApRecord {
    std::uint8_t mac[6] = {};       // hardware address as received; the key of the list
    char macText[13] = {};          // 12 upper-case hex digits and a zero byte
    char ssid[32] = {};             // network name, zero-terminated, at most 31 characters
    std::int16_t signalSum = 0;     // sum of applied signal values, wrapping at 16 bits
    std::uint8_t attribute = 0;     // attribute byte of the latest detail record
    std::uint8_t hasDetails = 0;    // 1 once a detail record has been applied
    std::uint32_t sampleCount = 0;  // number of entries applied
};

// A list node: the record plus its links. Callers read the record's fields
// directly through a node pointer (node->ssid, node->signalSum, ...).
struct ApNode : ApRecord {
    ApNode* prev = nullptr;
    ApNode* next = nullptr;
};

// Layout of a ScanReport body (frame type 0x17), all offsets from the body start:
//   0            N, entry count, 1..32
//   1            N entries of 8 bytes: mac[6], signal int16 little-endian
//   1 + 8N       M, detail-record count, 0..32
//   2 + 8N       M detail records of 37 bytes: entry index, name length L,
//                name[32] (first min(L, 31) used), attribute, flags[2] (LE)
//   2 + 8N + 37M check byte
namespace report {
inline constexpr std::size_t kMaxEntries = 32;
inline constexpr std::size_t kMaxDetails = 32;
inline constexpr std::size_t kEntrySize = 8;
inline constexpr std::size_t kDetailSize = 37;
inline constexpr std::size_t kNameOffset = 2;        // within a detail record
inline constexpr std::size_t kNameField = 32;        // bytes of the name field
inline constexpr std::size_t kMaxNameLength = 31;    // characters kept from a name
inline constexpr std::size_t kAttributeOffset = 34;  // within a detail record
// Body length (check byte included) of a report with n entries and m details.
constexpr std::size_t BodyLength(std::size_t n, std::size_t m) {
    return 1 + kEntrySize * n + 1 + kDetailSize * m + 1;
}
}  // namespace report

// The engine's copy of the last access-point report it looked at: counts and
// raw entries and detail records (kept for inspection and diagnostics). The
// engine owns one and passes it to LinkList::ApplyReport.
struct ReportScratch {
    std::int16_t reportApCount = 0;
    std::int16_t reportDetailCount = 0;
    std::uint8_t reportEntries[report::kMaxEntries][report::kEntrySize] = {};
    std::uint8_t reportDetails[report::kMaxDetails][report::kDetailSize] = {};
};

// The access points heard in the current reading: a circular doubly linked
// list with a sentinel, kept in ascending order of the signal value each record
// had when it was inserted.
//
// Locking: `listMutex` guards the list.
//  - The engine (link thread) try-locks it around each ScanReport and drops the
//    report when it is busy: use TryApplyReport, or lock it yourself and call
//    ApplyReport.
//  - RemoveAll locks it itself (waiting), so clearing never overlaps a report.
//  - Walkers (GetAt/GetNext/FindByMac, e.g. the survey data's end-of-scan walk)
//    hold it for the whole walk: std::lock_guard lock(list.listMutex).
// Every other operation expects the caller to hold the mutex.
//
// Return codes: 0 success, -1 not found or no memory, -2 end of the list.
class LinkList {
public:
    using Node = ApNode;
    static constexpr std::int16_t kSortBySignal = 3;

    LinkList();
    virtual ~LinkList();
    LinkList(const LinkList&) = delete;
    LinkList& operator=(const LinkList&) = delete;

    // Frees every record (the sentinel stays) and resets the cursor. Takes
    // listMutex, waiting for a report being applied to finish. Returns 0.
    int RemoveAll();
    // First record whose mac equals the 6 bytes at `address`: 0 and `node` set,
    // or -1 (node cleared).
    int FindByMac(const std::uint8_t* address, Node*& node) const;
    // Record at `position` (from 1): 0 and `node` set, or -2 and node cleared.
    int GetAt(int position, Node*& node) const;
    // Advances `node` to the following record: 0, or -2 and node cleared at the end.
    int GetNext(Node*& node) const;
    // Allocates a zeroed node and counts it: 0 and `node` set, or -1 when no
    // memory is available. The node must then be passed to InsertSorted.
    int NewNode(Node*& node);
    // Links a filled node from NewNode in signal order (after every record whose
    // signalSum is <= its own); at the end when sortMode is not 3. Returns 0.
    int InsertSorted(Node* node);

    // Applies one ScanReport body. `length` is the frame body length including
    // the check byte, as the parser reports it. Reports whose entry count is 0
    // or above 32, whose detail count is above 32, or whose body is shorter than
    // the counts claim, leave the list unchanged. Known addresses add their signal
    // (and take name and attribute from a detail record when one names them); new
    // addresses are inserted only when a detail record describes them. The caller
    // holds listMutex. Returns true when the report was well formed and applied.
    bool ApplyReport(const std::uint8_t* body, std::uint32_t length, ReportScratch& scratch);
    // Takes listMutex without waiting and applies the report; a report that
    // meets a busy list is dropped. Returns true when applied.
    bool TryApplyReport(const std::uint8_t* body, std::uint32_t length, ReportScratch& scratch);

    // Number of records (count minus the sentinel). Caller holds listMutex.
    int Size() const { return count - 1; }

    std::mutex listMutex;

    // Plain state, read by tests and diagnostics.
    std::int32_t count = 1;  // nodes including the sentinel
    Node* head = nullptr;    // the sentinel: next is the first record, prev the last
    Node* cursor = nullptr;  // the sentinel after construction and RemoveAll
    std::int16_t sortMode = kSortBySignal;
};

// Formats six address bytes as 12 upper-case hex digits and a zero byte.
void FormatMac(const std::uint8_t* mac, char (&text)[13]);

}  // namespace ketrion
