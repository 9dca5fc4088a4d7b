#include "analysis/SurveyPoints.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "engine/LinkList.h"
#include "engine/Location.h"
#include "platform/Prompt.h"
#include "platform/Sound.h"
#include "survey/CollectionFile.h"
#include "survey/SiteData.h"
#include "survey/SiteProjection.h"

namespace ketrion::analysis {

namespace {

using namespace ketrion::collection;

// Keeps the first message the loader shows, for the caller to report.
class KeepingPrompt final : public Prompt {
public:
    void Message(std::string_view text) override {
        if (m_text.empty())
            m_text = text;
    }
    const std::string& Text() const { return m_text; }

private:
    std::string m_text;
};

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

bool UtcSeconds(int year, int month, int day, int hour, int minute, int second, std::int64_t& out) {
    static constexpr int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1] || hour > 23 ||
        hour < 0 || minute < 0 || minute > 59 || second < 0 || second > 60)
        return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month == 2 && day == 29 && !leap)
        return false;
    out = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
          hour * 3600 + minute * 60 + second;
    return true;
}

bool LoadSurvey(const std::string& path, const CSiteProjection& projection, Survey& out,
                std::string& error) {
    out = Survey{};
    // The program's own loader places the points (and decides what a point is).
    LinkList list;
    CLocation location;
    KeepingPrompt prompt;
    NullSound sound;
    CSiteData data(list, location, prompt, sound);
    data.SetProjection(&projection);
    data.SetPath(path);
    if (!data.LoadSurvey()) {
        error = prompt.Text().empty() ? path + " cannot be loaded." : prompt.Text();
        return false;
    }
    std::vector<CSiteData::_tap> taps;
    data.ForEachPoint([&](const CSiteData::_tap& tap) { taps.push_back(tap); });

    // A second walk takes what the loader does not keep: readings and times.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    Reader reader(fd.get());
    Header header;
    if (const Damage damage = reader.Open(header); damage != Damage::None) {
        error = DamageText(damage, path, header);
        return false;
    }
    std::uint8_t record[kLocationSize];
    std::uint8_t reading[kReadingSize];
    std::int64_t offset = 0;
    std::size_t next = 0;
    while (next < taps.size() && reader.NextLocation(record, offset)) {
        const CSiteData::_tap& tap = taps[next];
        if (tap.offset != offset)
            break;  // the file changed between the two walks
        ++next;
        const unsigned count = Get16(record + kCountAt);
        if (tap.kind != CSiteData::kKindSurvey) {
            out.dynamicAps.push_back(DynamicAp{tap.x, tap.y});
            for (unsigned i = 0; i < count && reader.NextReading(reading); ++i) {
            }
            continue;
        }
        SurveyPoint point;
        point.x = tap.x;
        point.y = tap.y;
        point.strongest = tap.signal;
        point.offset = offset;
        point.latitude = static_cast<std::int32_t>(Get32(record + kLatitudeAt));
        point.longitude = static_cast<std::int32_t>(Get32(record + kLongitudeAt));
        point.hasTime =
            UtcSeconds(Get16(record + kYearAt), record[kMonthAt], record[kDayAt], record[kHourAt],
                       record[kMinuteAt], record[kSecondAt], point.time);
        point.readings.reserve(tap.readings);
        for (unsigned i = 0; i < tap.readings && reader.NextReading(reading); ++i) {
            Reading r;
            std::memcpy(r.mac.data(), reading + kMacAt, r.mac.size());
            r.ssid = Ssid(reading);
            r.signal = SignalDbm(reading);
            point.readings.push_back(std::move(r));
        }
        out.points.push_back(std::move(point));
        if (tap.readings < count) {
            out.problem = "the file ends inside point " + std::to_string(next);
            break;
        }
    }
    if (out.problem.empty()) {
        struct stat st {};
        if (reader.Error() != 0) {
            out.problem = std::strerror(reader.Error());
        } else if (next == taps.size() && !reader.NextLocation(record, offset) &&
                   ::fstat(fd.get(), &st) == 0 && offset < st.st_size) {
            out.problem =
                "the file ends inside the location record of point " + std::to_string(next + 1);
        }
    }
    return true;
}

}  // namespace ketrion::analysis
