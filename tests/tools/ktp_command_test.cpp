// Runs the ktp command as a user would: argument parsing, exit codes and the
// files it leaves.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/RunProgram.h"
#include "survey/ProjectionMaker.h"

namespace ketrion::ktp {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const std::string kKtp = testing::ToolPath("ktp");

using Args = std::vector<std::string>;

// Runs ktp; the run's `out` holds standard output and standard error together.
testing::ProgramRun Ktp(const Args& args) {
    testing::RunOptions options;
    options.mergeErrors = true;
    return testing::RunProgram(kKtp, args, options);
}

class KtpCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kKtp)) {
            GTEST_SKIP() << "ktp is not built (it needs Qt 6 Gui)";
        }
        // A space in the folder's name: every path reaches the command whole.
        std::string name = "ketrion ktp ";
        name += std::to_string(::getpid());
        m_dir = fs::temp_directory_path() / name;
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
    const auto pack = Ktp({"pack", Path("plan.bmp"), "--ref", "52.206,0.120,0,0", "--ref",
                           "52.206,0.122,4,0", "--ref=52.205,0.120,0,3", "-o", Path("site.ktp")});
    ASSERT_EQ(pack.status, 0) << pack.out;
    EXPECT_NE(pack.out.find("4 x 3 pixels"), std::string::npos) << pack.out;
    EXPECT_NE(pack.out.find("rms 0.000 px"), std::string::npos) << pack.out;

    const auto info = Ktp({"info", Path("site.ktp")});
    ASSERT_EQ(info.status, 0) << info.out;
    std::string length = "expanded length: ";
    length += std::to_string(m_bitmap.size());
    EXPECT_NE(info.out.find(length), std::string::npos) << info.out;
    EXPECT_FALSE(fs::exists(Path("site.ktpb")));

    const auto unpack = Ktp({"unpack", Path("site.ktp")});
    ASSERT_EQ(unpack.status, 0) << unpack.out;
    EXPECT_NE(unpack.out.find("x = "), std::string::npos) << unpack.out;
    EXPECT_TRUE(fs::exists(Path("site.ktpc")));
    std::ifstream expanded(Path("site.ktpb"), std::ios::binary);
    const Bytes bytes((std::istreambuf_iterator<char>(expanded)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, m_bitmap);
}

TEST_F(KtpCommandTest, Failures) {
    struct Case {
        const char* legend;
        Args args;
        int status;
        const char* message;
    };
    // The arguments of `ktp pack` with `refs` as control points.
    const auto pack = [&](const std::string& image, const Args& refs) {
        Args args = {"pack", image};
        for (const std::string& ref : refs) {
            args.push_back("--ref");
            args.push_back(ref);
        }
        args.push_back("-o");
        args.push_back(Path("out.ktp"));
        return args;
    };
    const std::string image = Path("plan.bmp");
    const Case cases[] = {
        {"two control points", pack(image, {"1,2,3,4", "2,3,4,5"}), 1,
         "at least three control points"},
        {"collinear points", pack(image, {"1,1,0,0", "2,2,5,1", "3,3,9,0"}), 1, "on one line"},
        {"malformed point", pack(image, {"1,2,3", "1,2,3,4", "2,1,3,4"}), 2, "is not LAT,LON,X,Y"},
        {"not an image",
         pack(Path("missing.png"), {"52.206,0.12,0,0", "52.206,0.122,4,0", "52.205,0.12,0,3"}), 1,
         "cannot read"},
        {"info on a missing file", {"info", Path("none.ktp")}, 1, "cannot open"},
        {"unpack of a missing file", {"unpack", Path("none.ktp")}, 1, "was not found"},
        {"no subcommand", {}, 106, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const auto run = Ktp(c.args);
        EXPECT_EQ(run.status, c.status) << run.out;
        EXPECT_NE(run.out.find(c.message), std::string::npos) << run.out;
    }
    EXPECT_FALSE(fs::exists(Path("out.ktp")));
}

TEST_F(KtpCommandTest, FoldersPipesAndDamagedFilesFailCleanly) {
    ASSERT_EQ(Ktp({"pack", Path("plan.bmp"), "--ref", "52.206,0.12,0,0", "--ref",
                   "52.206,0.122,4,0", "--ref", "52.205,0.12,0,3", "-o", Path("site.ktp")})
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
        Args args;
        std::string message;
    };
    const Case cases[] = {
        {"info on a folder",
         {"info", m_dir.string()},
         "ktp: cannot open " + m_dir.string() + ": Is a directory"},
        {"info on a pipe",
         {"info", fifo},
         "ktp: cannot open " + fifo + ": it is a named pipe, not a regular file"},
        {"unpack of a pipe", {"unpack", fifo}, fifo + " is not a regular file."},
        {"unpack of a folder",
         {"unpack", m_dir.string()},
         m_dir.string() + " is a folder, not a file."},
        {"unpack of a cut file", {"unpack", cut}, cut + " is cut short"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        // The runner kills a run that waits on the pipe, and its status is then -1.
        const auto run = Ktp(c.args);
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_NE(run.out.find(c.message), std::string::npos) << run.out;
    }
    EXPECT_FALSE(fs::exists(cut + "b"));

    // A bitmap that cannot be written whole (here a file-size limit, as on a
    // full disk) is an error, not a cut plan with status 0.
    // The shell only sets the limit; ktp and its path arrive as arguments.
    testing::RunOptions options;
    options.mergeErrors = true;
    const auto limited = testing::RunProgram(
        "/bin/sh",
        {"-c", "trap '' XFSZ; ulimit -f 0; exec \"$0\" \"$@\"", kKtp, "unpack", Path("site.ktp")},
        options);
    EXPECT_EQ(limited.status, 1) << limited.out;
    EXPECT_NE(limited.out.find("File too large"), std::string::npos) << limited.out;
    EXPECT_NE(limited.out.find("no bitmap was written"), std::string::npos) << limited.out;
}

}  // namespace
}  // namespace ketrion::ktp
