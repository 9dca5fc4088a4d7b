#pragma once

#include <atomic>
#include <string>
#include <utility>

#include "source/ScanSource.h"

namespace ketrion {

// The scan source the session and the windows are given, standing for the one
// in use: the board, or the source the surveyor chose when no board was found
// (the Wi-Fi adapter). Every call goes to the source in use; its scans and
// news come back through this object's own onScan and onEvent.
//
// Threads: Use runs on the user-interface thread while neither source runs
// (the old one stopped, the new one not yet started), so a source's thread
// only ever sees the source it belongs to.
class ScanSourceSwitch final : public source::ScanSource {
public:
    explicit ScanSourceSwitch(source::ScanSource& first) { Use(first); }
    ScanSourceSwitch(const ScanSourceSwitch&) = delete;
    ScanSourceSwitch& operator=(const ScanSourceSwitch&) = delete;

    // Makes `source` the one in use; its callbacks lead here.
    void Use(source::ScanSource& source);
    source::ScanSource& Current() const { return *m_current.load(); }

    void Start() override { Current().Start(); }
    void Stop() override { Current().Stop(); }
    bool Starting() const override { return Current().Starting(); }
    std::string Kind() const override { return Current().Kind(); }
    std::string Identity() const override { return Current().Identity(); }
    std::pair<std::string, std::string> IdentityLines() const override {
        return Current().IdentityLines();
    }
    source::SourceStatus Status() const override { return Current().Status(); }
    std::string Absence() const override { return Current().Absence(); }
    bool IsScanning() const override { return Current().IsScanning(); }
    void BeginReading() override { Current().BeginReading(); }
    bool RequestScan() override { return Current().RequestScan(); }
    bool PacesItself() const override { return Current().PacesItself(); }

private:
    std::atomic<source::ScanSource*> m_current{nullptr};
};

}  // namespace ketrion
