// Runs the ktp command as a user would: argument parsing, exit codes and the
// files it leaves.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/ktp/ProjectionMaker.h"

namespace ketrion::ktp {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const std::string kKtp = std::string(KETRION_BINARY_DIR) + "/tools/ktp/ktp";

struct CommandRun {
    int status = -1;
    std::string output;  // standard output and standard error together
};

CommandRun Ktp(const std::string& args, const std::string& shellPrefix = "") {
    CommandRun run;
    const std::string command = shellPrefix + "timeout 20 '" + kKtp + "' " + args + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    std::array<char, 4096> buf{};
    while (std::fgets(buf.data(), static_cast<int>(buf.size()), pipe) != nullptr) {
        run.output += buf.data();
    }
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class KtpCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kKtp)) {
            GTEST_SKIP() << "ktp is not built (it needs Qt 6 Gui)";
        }
        m_dir = fs::temp_directory_path() / ("ketrion_ktp_" + std::to_string(::getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        // A 4 x 3 plan image as a BMP file, which the command reads through Qt.
        std::vector<std::uint8_t> rgb(4 * 3 * 3, 0xFF);
        rgb[0] = rgb[1] = rgb[2] = 0;
        m_bitmap = MakeBitmap24(4, 3, rgb.data(), 12);
        std::ofstream(Path("plan.bmp"), std::ios::binary)
            .write(reinterpret_cast<const char*>(m_bitmap.data()),
                   static_cast<std::streamsize>(m_bitmap.size()));
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string Path(const std::string& name) const { return (m_dir / name).string(); }

    fs::path m_dir;
    Bytes m_bitmap;
};

TEST_F(KtpCommandTest, PackInfoUnpack) {
    const CommandRun pack = Ktp("pack '" + Path("plan.bmp") +
                                "' --ref 52.206,0.120,0,0 --ref 52.206,0.122,4,0"
                                " --ref=52.205,0.120,0,3 -o '" +
                                Path("site.ktp") + "'");
    ASSERT_EQ(pack.status, 0) << pack.output;
    EXPECT_NE(pack.output.find("4 x 3 pixels"), std::string::npos) << pack.output;
    EXPECT_NE(pack.output.find("rms 0.000 px"), std::string::npos) << pack.output;

    const CommandRun info = Ktp("info '" + Path("site.ktp") + "'");
    ASSERT_EQ(info.status, 0) << info.output;
    EXPECT_NE(info.output.find("expanded length: " + std::to_string(m_bitmap.size())),
              std::string::npos)
        << info.output;
    EXPECT_FALSE(fs::exists(Path("site.ktpb")));

    const CommandRun unpack = Ktp("unpack '" + Path("site.ktp") + "'");
    ASSERT_EQ(unpack.status, 0) << unpack.output;
    EXPECT_NE(unpack.output.find("x = "), std::string::npos) << unpack.output;
    EXPECT_TRUE(fs::exists(Path("site.ktpc")));
    std::ifstream expanded(Path("site.ktpb"), std::ios::binary);
    const Bytes bytes((std::istreambuf_iterator<char>(expanded)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, m_bitmap);
}

TEST_F(KtpCommandTest, Failures) {
    struct Case {
        const char* legend;
        std::string args;
        int status;
        const char* message;
    };
    const std::string image = "'" + Path("plan.bmp") + "'";
    const std::string out = " -o '" + Path("out.ktp") + "'";
    const Case cases[] = {
        {"two control points", "pack " + image + " --ref 1,2,3,4 --ref 2,3,4,5" + out, 1,
         "at least three control points"},
        {"collinear points", "pack " + image + " --ref 1,1,0,0 --ref 2,2,5,1 --ref 3,3,9,0" + out,
         1, "on one line"},
        {"malformed point", "pack " + image + " --ref 1,2,3 --ref 1,2,3,4 --ref 2,1,3,4" + out, 2,
         "is not LAT,LON,X,Y"},
        {"not an image",
         "pack '" + Path("missing.png") + "' --ref 52.206,0.12,0,0 --ref 52.206,0.122,4,0" +
             " --ref 52.205,0.12,0,3" + out,
         1, "cannot read"},
        {"info on a missing file", "info '" + Path("none.ktp") + "'", 1, "cannot open"},
        {"unpack of a missing file", "unpack '" + Path("none.ktp") + "'", 1, "was not found"},
        {"no subcommand", "", 106, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const CommandRun run = Ktp(c.args);
        EXPECT_EQ(run.status, c.status) << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
    }
    EXPECT_FALSE(fs::exists(Path("out.ktp")));
}

TEST_F(KtpCommandTest, FoldersPipesAndDamagedFilesFailCleanly) {
    ASSERT_EQ(Ktp("pack '" + Path("plan.bmp") +
                  "' --ref 52.206,0.12,0,0 --ref 52.206,0.122,4,0 --ref 52.205,0.12,0,3 -o '" +
                  Path("site.ktp") + "'")
                  .status,
              0);
    const std::string fifo = Path("pipe.ktp");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Cut the projection inside its block.
    const std::string cut = Path("cut.ktp");
    fs::copy_file(Path("site.ktp"), cut);
    fs::resize_file(cut, fs::file_size(cut) - 10);

    struct Case {
        const char* legend;
        std::string args;
        std::string message;
    };
    const Case cases[] = {
        {"info on a folder", "info '" + m_dir.string() + "'",
         "ktp: cannot open " + m_dir.string() + ": Is a directory"},
        {"info on a pipe", "info '" + fifo + "'",
         "ktp: cannot open " + fifo + ": it is a named pipe, not a regular file"},
        {"unpack of a pipe", "unpack '" + fifo + "'", fifo + " is not a regular file."},
        {"unpack of a folder", "unpack '" + m_dir.string() + "'",
         m_dir.string() + " is a folder, not a file."},
        {"unpack of a cut file", "unpack '" + cut + "'", cut + " is cut short"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        // `timeout` ends a run that waits on the pipe, with status 124.
        const CommandRun run = Ktp(c.args);
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
    }
    EXPECT_FALSE(fs::exists(cut + "b"));

    // A bitmap that cannot be written whole (here a file-size limit, as on a
    // full disk) is an error, not a cut plan with status 0.
    const CommandRun limited =
        Ktp("unpack '" + Path("site.ktp") + "'", "trap '' XFSZ; ulimit -f 0; ");
    EXPECT_EQ(limited.status, 1) << limited.output;
    EXPECT_NE(limited.output.find("File too large"), std::string::npos) << limited.output;
    EXPECT_NE(limited.output.find("no bitmap was written"), std::string::npos) << limited.output;
}

}  // namespace
}  // namespace ketrion::ktp
