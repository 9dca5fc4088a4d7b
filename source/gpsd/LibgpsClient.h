#pragma once

#include <memory>

#include "source/gpsd/GpsdClient.h"

struct gps_data_t;

namespace ketrion::source {

// The connection to gpsd through libgps (gps_open, gps_stream with
// WATCH_ENABLE | WATCH_JSON, gps_waiting, gps_read).
class LibgpsClient final : public GpsdClient {
public:
    LibgpsClient();
    ~LibgpsClient() override;
    LibgpsClient(const LibgpsClient&) = delete;
    LibgpsClient& operator=(const LibgpsClient&) = delete;

    std::optional<std::string> Open(const std::string& host, const std::string& port) override;
    void Close() override;
    ReadResult Read(int waitMs, GpsdReport& report, std::string& error) override;

private:
    std::unique_ptr<gps_data_t> m_data;
    bool m_open = false;
};

// The report in a gps_data_t after a read: what the last message set.
GpsdReport ReportFromGpsData(const gps_data_t& data);

}  // namespace ketrion::source
