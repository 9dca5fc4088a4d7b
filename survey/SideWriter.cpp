#include "survey/SideWriter.h"

#include <map>

#include "platform/Prompt.h"
#include "survey/CollectionFile.h"
#include "survey/HeldFile.h"

namespace ketrion {

bool SideWriter::ForHeldFile() const {
    return m_path == m_file.Path() && m_device == m_file.Device() && m_inode == m_file.Inode();
}

SideStore* SideWriter::Store(std::string* failure) {
    const bool sameFile = ForHeldFile();
    if (m_side != nullptr && sameFile)
        return m_side.get();
    if (!sameFile) {
        // Another file: its store starts afresh.
        m_side.reset();
        m_outage = false;
        m_path = m_file.Path();
        m_device = m_file.Device();
        m_inode = m_file.Inode();
    }
    // A store that could not be opened is tried again with each later write:
    // what kept it shut may have passed.
    std::uint8_t header[collection::kHeaderSize] = {};
    std::string message;
    if (m_file.ReadHeaderBytes(header)) {
        m_side = SideStore::OpenForWriting(m_file.Path(), SideIdentity(m_file.Path(), header),
                                           &message, m_outage ? 0 : m_waitMs);
    } else {
        message = "Cannot read the header of " + m_file.Path() + " for its side store.";
    }
    if (m_side == nullptr) {
        *failure = message;
        return nullptr;
    }
    // A store set aside (with a new one started) is news for the surveyor.
    if (!message.empty()) {
        m_prompt.Message(message);
    }
    return m_side.get();
}

void SideWriter::Outage(const std::string& message) {
    // The collection file holds the points; only their details wait.
    if (m_outage)
        return;  // told once per outage
    m_outage = true;
    m_prompt.Message(message +
                     " The details are kept and written to the side store once it can be "
                     "written again.");
}

bool SideWriter::CatchUp() {
    if (m_behind.empty())
        return true;
    std::string message;
    SideStore* side = Store(&message);
    if (side != nullptr) {
        // In an outage a try does not wait for the lock: the file's points
        // must not queue behind the store.
        side->SetBusyTimeout(m_outage ? 0 : m_waitMs);
        std::vector<SideStore::Point> points;
        std::map<std::int64_t, std::vector<SideStore::Reading>> readings;
        for (auto& [point, rows] : m_behind) {
            points.push_back(point);
            readings[point.offset] = rows;
        }
        if (side->WritePoints(points, readings, &message)) {
            if (m_outage && m_behind.size() > 1)
                m_prompt.Message("The side store " + side->Path() +
                                 " can be written again; the details of " +
                                 std::to_string(m_behind.size()) + " points are in it now.");
            m_outage = false;
            m_behind.clear();
            m_behindCount = 0;
            return true;
        }
    }
    m_behindCount = m_behind.size();
    Outage(message);
    return false;
}

void SideWriter::Write(const SideStore::Point& side, const std::vector<SideStore::Reading>& rows,
                       std::int64_t offset) {
    SideStore::Point point = side;
    point.offset = offset;
    std::vector<SideStore::Reading> readings = rows;
    for (SideStore::Reading& reading : readings)
        reading.pointOffset = offset;
    // Rows kept back for another file are not this file's.
    if (!ForHeldFile())
        m_behind.clear();
    m_behind.emplace_back(std::move(point), std::move(readings));
    CatchUp();
}

bool SideWriter::Run(const Operation& op, bool catchUpOnly) {
    const bool caughtUp = CatchUp();
    if (catchUpOnly)
        return caughtUp;
    std::string message;
    SideStore* side = Store(&message);
    if (side != nullptr) {
        side->SetBusyTimeout(m_waitMs);
        if (op(*side, &message))
            return true;
    }
    // The surveyor's own change (a deletion, a walk's scan kept) failed:
    // said every time.
    m_prompt.Message(message);
    return false;
}

}  // namespace ketrion
