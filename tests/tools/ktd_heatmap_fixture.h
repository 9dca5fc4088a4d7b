#pragma once

// A small site for the drawing commands of ktd: a plain 120 x 90 plan packed
// into a projection file (1 plan pixel = 0.001 degree, north up), collection
// files built by hand, and a way to run ktd as the user runs it.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/RunProgram.h"
#include "support/SiteDataFixture.h"
#include "survey/ProjectionMaker.h"

namespace ketrion::testing {

using KtdRun = ProgramRun;

// Runs ktd with `args`, split at single spaces (no shell: nothing else in them
// is interpreted); the paths these tests build come from mkdtemp and have none.
inline KtdRun RunKtd(const std::string& args, const RunOptions& options = {}) {
    std::vector<std::string> argv;
    std::size_t start = 0;
    while (start <= args.size()) {
        const std::size_t end = std::min(args.find(' ', start), args.size());
        if (end > start)
            argv.push_back(args.substr(start, end - start));
        start = end + 1;
    }
    return RunProgram(ToolPath("ktd"), argv, options);
}

inline std::string Text(const std::string& path) {
    const Bytes bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

class HeatmapSite : public ::testing::Test {
protected:
    static constexpr int kWidth = 120;
    static constexpr int kHeight = 90;
    static constexpr std::uint8_t kGrey = 200;

    // x = 1000 * lon + 74550, y = -1000 * lat + 40045: (40, -74.5) is near plan (50, 45).
    static ktp::AffineFit Fit() {
        ktp::AffineFit fit;
        fit.xLon = 1000;
        fit.xOrigin = 74550;
        fit.yLat = -1000;
        fit.yOrigin = 40045;
        return fit;
    }

    // A projection file with a plain grey plan and the given map.
    std::string Projection(const ktp::AffineFit& fit, const std::string& name = "site.ktp") {
        std::vector<std::uint8_t> rgb(kWidth * kHeight * 3, kGrey);
        const Bytes bitmap = ktp::MakeBitmap24(kWidth, kHeight, rgb.data(), kWidth * 3);
        const std::string path = dir.File(name);
        WriteBytes(path, ktp::MakeProjectionFile(fit, bitmap));
        return path;
    }
    std::string Projection() { return Projection(Fit()); }

    // The stored position of plan pixel (x, y) under Fit().
    static std::int32_t LatUnits(int y) { return (40045 - y) * 3600; }
    static std::int32_t LonUnits(int x) { return (x - 74550) * 3600; }

    TempDir dir;
};

}  // namespace ketrion::testing
