#include "analysis/SideDetails.h"

#include <cmath>
#include <memory>

#include "analysis/Metrics.h"
#include "survey/SideStore.h"

namespace ketrion::analysis {

namespace {

// The store is outside input like the file: values no adapter reports are
// taken as unknown rather than carried into the outputs.
constexpr int kHighestFrequencyMhz = 100000;  // well above every Wi-Fi band
constexpr int kHighestChannel = 255;          // what a channel number can be
constexpr double kLargestMetres = 1e7;        // an error or altitude beyond this is no fix's
// A noise floor outside this is no adapter's measurement (dBm).
constexpr int kLowestNoiseDbm = -150;
constexpr int kHighestNoiseDbm = 0;

std::optional<int> InRange(std::optional<int> value, int low, int high) {
    if (value && *value >= low && *value <= high)
        return value;
    return std::nullopt;
}

std::optional<int> Width(std::optional<int> mhz) {
    if (mhz && (*mhz == 20 || *mhz == 40 || *mhz == 80 || *mhz == 160 || *mhz == 320))
        return mhz;
    return std::nullopt;
}

std::optional<double> Metres(std::optional<double> value, bool nonNegative) {
    if (value && std::isfinite(*value) && std::fabs(*value) <= kLargestMetres &&
        (!nonNegative || *value >= 0))
        return value;
    return std::nullopt;
}

// The band as the store writes it ("2.4", "5", "6", "other"; "5 GHz" read as
// "5"), else from the frequency.
Band BandOf(const std::string& text, std::optional<int> frequencyMhz) {
    const std::string_view name =
        std::string_view(text).substr(0, text.find(' '));  // "5 GHz" -> "5"
    if (const auto band = ParseBand(name))
        return *band;
    if (name == "other")
        return Band::Other;
    return frequencyMhz ? BandOfFrequency(*frequencyMhz) : Band::Unknown;
}

PointDetails FromRow(const SideStore::Point& row) {
    PointDetails d;
    d.method = row.method;
    d.fixFlag = row.fixFlag;
    d.provisional = row.provisional;
    d.deleted = row.deleted;
    d.ephMetres = Metres(row.ephMetres, true);
    d.altitudeMetres = Metres(row.altitudeMetres, false);
    if (row.planX && row.planY && std::isfinite(*row.planX) && std::isfinite(*row.planY)) {
        d.planX = row.planX;
        d.planY = row.planY;
    }
    return d;
}

ReadingDetails FromRow(const SideStore::Reading& row) {
    ReadingDetails d;
    d.frequencyMhz = InRange(row.frequencyMhz, 1, kHighestFrequencyMhz);
    d.channel = InRange(row.channel, 1, kHighestChannel);
    d.widthMhz = Width(row.widthMhz);
    d.band = BandOf(row.band, d.frequencyMhz);
    d.security = row.security;
    d.phy = row.phy;
    d.noiseDbm = InRange(row.noiseDbm, kLowestNoiseDbm, kHighestNoiseDbm);
    d.fullName = row.ssid;
    return d;
}

}  // namespace

SideDetails SideDetails::Load(const SurveyRecords& records, std::string* message) {
    SideDetails out;
    if (!records.headerRead)
        return out;
    std::string problem;
    const std::unique_ptr<SideStore> store = SideStore::OpenForReading(
        records.path, SideIdentity(records.path, records.header.data()), &problem);
    if (store == nullptr) {
        if (!problem.empty() && message != nullptr)
            *message = problem;
        return out;
    }
    out.m_present = true;
    for (const auto& [offset, row] : store->Points())
        out.m_points.emplace(offset, std::make_shared<const PointDetails>(FromRow(row)));
    for (const auto& [offset, rows] : store->AllReadings()) {
        for (const SideStore::Reading& row : rows) {
            const auto mac = ParseMac(row.bssid);
            // Only readings the collection file holds; the others have no record to join.
            if (!row.inCollection || !mac)
                continue;
            out.m_readings.emplace(
                std::make_pair(offset, row.index),
                ReadingRow{*mac, std::make_shared<const ReadingDetails>(FromRow(row))});
        }
    }
    return out;
}

const PointDetails* SideDetails::Point(std::int64_t offset) const {
    const auto found = m_points.find(offset);
    return found == m_points.end() ? nullptr : found->second.get();
}

const ReadingDetails* SideDetails::Reading(std::int64_t offset, int index, const Mac& mac) const {
    const auto found = m_readings.find({offset, index});
    if (found == m_readings.end() || found->second.mac != mac)
        return nullptr;
    return found->second.details.get();
}

void SideDetails::Attach(SurveyRecords& records) const {
    if (!m_present)
        return;
    records.sideDetails = true;
    for (SurveyPoint& point : records.points)
        Attach(point);
}

void SideDetails::Attach(SurveyPoint& point) const {
    if (!m_present)
        return;
    if (const auto found = m_points.find(point.offset); found != m_points.end())
        point.details = SharedDetails<PointDetails>(found->second);
    for (std::size_t i = 0; i < point.readings.size(); ++i) {
        analysis::Reading& reading = point.readings[i];
        const auto found = m_readings.find({point.offset, static_cast<int>(i)});
        if (found != m_readings.end() && found->second.mac == reading.mac)
            reading.details = SharedDetails<ReadingDetails>(found->second.details);
    }
}

void AttachSideDetails(SurveyRecords& records, std::string* message) {
    SideDetails::Load(records, message).Attach(records);
}

}  // namespace ketrion::analysis
