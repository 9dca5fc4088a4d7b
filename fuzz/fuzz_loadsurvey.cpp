// Feeds arbitrary bytes to CSiteData as a collection file: load it, list the
// readings of a selected point, append to it (which checks and trims a torn
// tail) and load it again. The file lives in memory (memfd).

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/MemoryFile.h"
#include "platform/Prompt.h"
#include "platform/Sound.h"
#include "survey/SiteData.h"
#include "survey/SiteProjection.h"

namespace {

class SilentPrompt final : public ketrion::Prompt {
public:
    void Message(std::string_view) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ketrion::fuzz::MemoryFile file(data, size);
    if (!file.IsOpen())
        return 0;
    {
        SilentPrompt prompt;
        ketrion::NullSound sound;
        ketrion::CSiteProjection projection(prompt, sound);
        {
            ketrion::PlanMap planMap = projection.Map();
            planMap.xLat = 1000.5;
            planMap.yLon = -2000.25;
            planMap.xOrigin = 1e9;
            projection.SetMap(planMap);
        }
        ketrion::CSiteData survey(prompt, sound);
        survey.SetProjection(&projection);
        survey.SetPath(file.Path());
        survey.LoadSurvey();
        int x = 0;
        int y = 0;
        survey.ForEachPoint([&](const ketrion::CSiteData::_tap& point) {
            x = point.x;
            y = point.y;
        });
        if (survey.FindNearestPoint(x, y) >= 0)
            survey.SelectedPoint();
        if (survey.FindNearestPoint(0, 0) >= 0)
            survey.SelectedPoint();
        survey.FormatReading(1);
        survey.RecordDynamicAp(1, 2, 3600000, -7200000);
        survey.LoadSurvey();
    }
    return 0;
}
