// End to end: the real program surveys a simulated board unattended, through
// the real timer, engine, link thread and pseudo-terminal.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>

#include <algorithm>
#include <set>
#include <string>

#include "sim/Scenario.h"
#include "support/SiteDataFixture.h"
#include "survey/CollectionFile.h"

namespace ketrion::testing {
namespace {

constexpr int kReadings = 5;

// The sample site with short scans, so readings follow the 5-second timer.
std::string FastScenario() {
    std::string text = sim::DefaultScenarioText();
    sim::Scenario scenario;
    std::string error;
    EXPECT_TRUE(sim::ParseScenario(text, scenario, &error)) << error;
    const std::string from = "\"minMs\": " + std::to_string(scenario.scanMinMs);
    const std::string to = "\"maxMs\": " + std::to_string(scenario.scanMaxMs);
    const auto a = text.find(from);
    const auto b = text.find(to);
    EXPECT_NE(a, std::string::npos);
    EXPECT_NE(b, std::string::npos);
    text.replace(b, to.size(), "\"maxMs\": 300");
    text.replace(a, from.size(), "\"minMs\": 100");
    return text;
}

TEST(AutopilotSim, RecordsTheAskedReadingsFromTheSimulatedBoard) {
    TempDir dir;
    const std::string scenarioPath = dir.File("fast.json");
    const std::string text = FastScenario();
    WriteBytes(scenarioPath, Bytes(text.begin(), text.end()));
    sim::Scenario scenario;
    std::string error;
    ASSERT_TRUE(sim::ParseScenario(text, scenario, &error)) << error;
    ASSERT_EQ(scenario.scanMaxMs, 300);

    const std::string collection = dir.File("out.ktd");
    const std::string snapshot = dir.File("out.jpg");
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_DATA_HOME", QString::fromStdString(dir.File("xdg")));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(KETRION_BINARY_DIR "/app/ketrion"),
                  {"--autopilot", QString::fromStdString("--simulate=" + scenarioPath),
                   "--collection", QString::fromStdString(collection), "--readings",
                   QString::number(kReadings), "--snapshot", QString::fromStdString(snapshot)});
    ASSERT_TRUE(program.waitForStarted(10000));
    ASSERT_TRUE(program.waitForFinished(120000));
    const std::string out = program.readAllStandardOutput().toStdString();
    const std::string err = program.readAllStandardError().toStdString();
    ASSERT_EQ(program.exitStatus(), QProcess::NormalExit) << err;
    EXPECT_EQ(program.exitCode(), 0) << err;
    EXPECT_EQ(out, "recorded 5 points to " + collection + "\n") << err;

    // The collection file: five survey points, each with readings of the
    // simulator's access points only.
    const int fd = ::open(collection.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    collection::Reader reader(fd);
    collection::Header header;
    ASSERT_EQ(reader.Open(header), collection::Damage::None);
    std::uint8_t location[collection::kLocationSize];
    std::uint8_t reading[collection::kReadingSize];
    std::int64_t offset = 0;
    int points = 0;
    int readings = 0;
    std::set<std::string> heard;
    while (reader.NextLocation(location, offset)) {
        ++points;
        EXPECT_EQ(location[collection::kKindAt], 0);
        const int count =
            location[collection::kCountAt] | (location[collection::kCountAt + 1] << 8);
        for (int i = 0; i < count; ++i) {
            ASSERT_TRUE(reader.NextReading(reading));
            ++readings;
            const auto match =
                std::find_if(scenario.accessPoints.begin(), scenario.accessPoints.end(),
                             [&](const sim::AccessPoint& ap) {
                                 return std::equal(ap.mac.begin(), ap.mac.end(), reading + 3);
                             });
            ASSERT_NE(match, scenario.accessPoints.end()) << "reading of an unknown address";
            EXPECT_EQ(collection::Ssid(reading), match->ssid);
            EXPECT_EQ(reading[0], match->attribute);
            const auto signal = static_cast<std::int16_t>(reading[1] | (reading[2] << 8));
            EXPECT_EQ(signal % 256, 0);
            EXPECT_GE(signal / 256, scenario.pathLossFloor);
            heard.insert(match->ssid);
        }
    }
    ::close(fd);
    EXPECT_EQ(points, kReadings);
    EXPECT_GT(readings, 0);
    EXPECT_FALSE(heard.empty());

    EXPECT_EQ(QImage(QString::fromStdString(snapshot)).size(), QSize(240, 265));
}

// The board loses half of its scan ends; with this seed the first two scans
// of the run lose theirs, so no point comes for more than the 30 s the
// autopilot waits for one. Each abandoned scan is reported and the survey
// goes on: the run ends with all its points.
TEST(AutopilotSim, AbandonedScansAreReportedAndTheSurveyGoesOn) {
    TempDir dir;
    std::string text = FastScenario();
    const auto replace = [&text](const std::string& from, const std::string& to) {
        const auto at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
    };
    replace("\"seed\": 1234", "\"seed\": 3");
    replace("\"loseScanEnd\": 0.0", "\"loseScanEnd\": 0.5");
    const std::string scenarioPath = dir.File("lossy.json");
    WriteBytes(scenarioPath, Bytes(text.begin(), text.end()));
    const std::string collection = dir.File("lossy.ktd");

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_DATA_HOME", QString::fromStdString(dir.File("xdg")));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(KETRION_BINARY_DIR "/app/ketrion"),
                  {"--autopilot", QString::fromStdString("--simulate=" + scenarioPath),
                   "--collection", QString::fromStdString(collection), "--readings", "2"});
    ASSERT_TRUE(program.waitForStarted(10000));
    ASSERT_TRUE(program.waitForFinished(180000));
    const std::string out = program.readAllStandardOutput().toStdString();
    const std::string err = program.readAllStandardError().toStdString();
    EXPECT_EQ(program.exitCode(), 0) << err;
    EXPECT_EQ(out, "recorded 2 points to " + collection + "\n") << err;
    std::size_t abandoned = 0;
    for (auto at = err.find("scan abandoned: "); at != std::string::npos;
         at = err.find("scan abandoned: ", at + 1)) {
        ++abandoned;
    }
    EXPECT_GE(abandoned, 2u) << err;
}

}  // namespace
}  // namespace ketrion::testing
