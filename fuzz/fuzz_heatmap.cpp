// Feeds arbitrary bytes as a collection file to the heatmap's input: the
// points placed on a small plan through a projection (which lands many of
// them far outside it, at the ends of the int range), every metric
// interpolated over the plan and written as an ESRI grid. Checks that every
// value is a reading-sized number or no value. The file lives in memory (memfd).

#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "analysis/Grid.h"
#include "analysis/Idw.h"
#include "analysis/Metrics.h"
#include "analysis/PlacedSurvey.h"
#include "fuzz/MemoryFile.h"
#include "platform/Prompt.h"
#include "platform/Sound.h"
#include "survey/SiteProjection.h"

namespace {

class SilentPrompt final : public ketrion::Prompt {
public:
    void Message(std::string_view) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ketrion::analysis;
    const ketrion::fuzz::MemoryFile file(data, size);
    if (!file.IsOpen())
        return 0;
    {
        SilentPrompt prompt;
        ketrion::NullSound sound;
        ketrion::CSiteProjection projection(prompt, sound);
        // About a pixel per stored unit near (0, 0): small stored positions
        // land on the plan, the rest far off it.
        {
            ketrion::PlanMap planMap = projection.Map();
            planMap.xLon = 3600000.0 / 7;
            planMap.yLat = -3600000.0 / 5;
            planMap.yOrigin = 40;
            projection.SetMap(planMap);
        }
        PlacedSurvey survey;
        LoadPlacedSurvey(file.Path(), projection, survey);
        const IdwParams params{3, 20, 4, 2};
        for (Metric metric : {Metric::Strongest, Metric::Second, Metric::Count, Metric::Ap,
                              Metric::Ssid, Metric::Coverage, Metric::Snr, Metric::Third}) {
            MetricSpec spec;
            spec.metric = metric;
            spec.mac = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
            spec.ssid = "LAB";
            RunControl control;
            control.threads = 2;
            const Grid grid = MetricGrid(survey, spec, params, 64, 48, control);
            for (double v : grid.values) {
                if (v == Grid::kNoData)
                    continue;
                if (!std::isfinite(v) || v < -200 || v > 70000)
                    std::abort();
            }
            if (EsriAsciiGrid(grid).empty())
                std::abort();
        }
    }
    return 0;
}
