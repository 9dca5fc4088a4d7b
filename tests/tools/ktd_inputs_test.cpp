// Every ktd command reads the collection file without taking it from the
// program recording into it, and every one stops at the program's point limit
// with the program's message.

#include <sys/file.h>
#include <unistd.h>

#include "ktd_heatmap_fixture.h"

namespace ketrion::testing {
namespace {

class KtdInputs : public HeatmapSite {
protected:
    std::string Survey() {
        const std::string path = dir.File("walk.ktd");
        WriteBytes(path, FileBuilder()
                             .Location(LatUnits(20), LonUnits(20), 1)
                             .Reading(-55 * 256, 0x01, "LAB")
                             .Location(LatUnits(60), LonUnits(70), 1)
                             .Reading(-75 * 256, 0x01, "LAB")
                             .bytes());
        return path;
    }
    // Every command that reads a collection file, on `survey`.
    std::vector<std::string> Commands(const std::string& survey) {
        std::vector<std::string> commands = {
            "dump " + survey,
            "csv " + survey,
            "aps " + survey,
            "export --format kml -o " + dir.File("out.kml") + " " + survey,
        };
#if KTD_DRAWING
        const std::string projection = Projection();
        commands.push_back("heatmap --projection " + projection + " --grid " + dir.File("g.asc") +
                           " " + survey);
        commands.push_back("report --projection " + projection + " -o " + dir.File("r.pdf") + " " +
                           survey);
#endif
        return commands;
    }
};

TEST_F(KtdInputs, CommandsRunWhileTheProgramRecordsIntoTheFile) {
    const std::string survey = Survey();
    SiteDataWorld recorder;
    recorder.Gps(GpsFix{});  // points with a fix: the commands leave none out
    recorder.data.SetPath(survey);
    ASSERT_TRUE(recorder.data.LoadSurvey());
    for (const std::string& command : Commands(survey)) {
        SCOPED_TRACE(command);
        const KtdRun run = RunKtd(command);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        // The recorder still holds the file and adds to it.
        recorder.AddAp({{0, 1, 2, 3, 4, 5}, "NEW", -40, 1, 0});
        EXPECT_TRUE(recorder.Record());
    }
    EXPECT_TRUE(recorder.prompt.Messages().empty());
    // Nothing else holds the file once the recorder lets it go.
    recorder.data.SetPath("");
    const int fd = open(survey.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    close(fd);
}

TEST_F(KtdInputs, AFileBeyondThePointLimitIsRefusedByEveryCommand) {
    const std::string path = dir.File("sparse.ktd");
    WriteBytes(path, FileBuilder().bytes());
    // A million and one zero-byte points in a file with holes: no disk.
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(33 + 1'000'001 * 61)), 0);
    const std::string message =
        "ktd: The collection file " + path + " holds more than 1000000 points; it is not loaded.\n";
    for (const std::string& command : Commands(path)) {
        SCOPED_TRACE(command);
        // dump and csv have shown what they read (a million lines, dropped
        // here); the others made nothing.
        const bool streams = command.starts_with("dump") || command.starts_with("csv");
        RunOptions options;
        if (streams)
            options.stdoutPath = "/dev/null";
        const KtdRun run = RunKtd(command, options);
        EXPECT_EQ(run.status, streams ? 1 : 2);
        EXPECT_TRUE(run.err.ends_with(message)) << run.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.kml")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("g.asc")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("r.pdf")));
}

}  // namespace
}  // namespace ketrion::testing
