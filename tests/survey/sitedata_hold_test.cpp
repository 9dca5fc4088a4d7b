// The collection file is held for as long as it is the collection file: a
// second recorder (another CSiteData, or another process) is told and writes
// nothing. Fifos, devices and folders are refused without waiting, and a huge
// file of zero bytes is refused instead of filling the memory.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/SiteDataFixture.h"

namespace ketrion::testing {
namespace {

// Ends the test binary with SIGALRM instead of letting it hang on an open
// that waits for the other end of a pipe.
class HangGuard {
public:
    HangGuard() { alarm(30); }
    ~HangGuard() { alarm(0); }
};

std::string InUse(const std::string& path) {
    return "The collection file " + path + " is in use by another program.";
}

// True when another open file description can take the file's lock now.
bool LockFree(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return free;
}

TEST(SiteDataHold, ASecondRecorderIsToldAndWritesNothing) {
    TempDir dir;
    const std::string path = dir.File("shared.ktd");
    SiteDataWorld first;
    first.data.SetPath(path);
    ASSERT_TRUE(first.data.NewCollection());
    first.AddAp({{0, 1, 2, 3, 4, 5}, "one", -50, 1, 0});
    ASSERT_TRUE(first.Record());
    const Bytes before = ReadBytes(path);
    // Held between operations, not only during them.
    EXPECT_FALSE(LockFree(path));

    SiteDataWorld second;
    second.data.SetPath(path);
    EXPECT_FALSE(second.data.NewCollection());  // would have cut the first one's survey
    second.AddAp({{9, 9, 9, 9, 9, 9}, "two", -40, 1, 0});
    EXPECT_FALSE(second.Record());
    EXPECT_FALSE(second.PlaceAp(5, 5));
    EXPECT_EQ(second.prompt.Messages(),
              (std::vector<std::string>{InUse(path), InUse(path), InUse(path)}));
    EXPECT_EQ(second.data.PointCount(), 0u);
    EXPECT_EQ(second.data.FileFailures(), 3u);
    EXPECT_EQ(second.data.LastFileFailure(), InUse(path));
    EXPECT_EQ(ReadBytes(path), before);

    // It may look at the points, and is told that it cannot add any.
    second.prompt.Clear();
    EXPECT_TRUE(second.data.LoadSurvey());
    EXPECT_EQ(second.data.PointCount(), 1u);
    EXPECT_EQ(second.prompt.Messages(),
              std::vector<std::string>{"The collection file " + path +
                                       " is in use by another program: its points can be "
                                       "shown, but none can be added to it."});

    // The first recorder goes on as before.
    ASSERT_TRUE(first.Record());
    EXPECT_EQ(ReadBytes(path).size(), before.size() + 61 + 41);
    EXPECT_TRUE(first.prompt.Messages().empty());

    // Choosing another file lets the first one go; the second recorder can
    // then record into it, after the points written so far.
    first.data.SetPath(dir.File("other.ktd"));
    EXPECT_TRUE(LockFree(path));
    second.prompt.Clear();
    ASSERT_TRUE(second.Record());
    EXPECT_TRUE(second.prompt.Messages().empty());
    SiteDataWorld reader;
    reader.data.SetPath(path);
    ASSERT_TRUE(reader.data.LoadSurvey());
    const auto points = reader.Points();
    ASSERT_EQ(points.size(), 3u);
    EXPECT_EQ(points[2].offset, static_cast<std::int64_t>(before.size() + 61 + 41));
}

TEST(SiteDataHold, AnotherProcessCannotRecordIntoAHeldFile) {
    TempDir dir;
    const std::string path = dir.File("process.ktd");
    // The other program is forked before this one starts its writer thread,
    // and waits until the file is held.
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(30);  // never outlives a parent that gave up
        close(go[1]);
        char byte = 0;
        if (read(go[0], &byte, 1) != 1)
            _exit(3);
        SiteDataWorld other;
        other.data.SetPath(path);
        const bool created = other.data.NewCollection();
        const bool recorded = other.Record();
        const bool toldInUse = other.prompt.Messages().size() == 2 &&
                               other.prompt.Messages()[0] == InUse(path) &&
                               other.prompt.Messages()[1] == InUse(path);
        _exit(!created && !recorded && toldInUse ? 0 : 1);
    }
    close(go[0]);
    SiteDataWorld owner;
    owner.data.SetPath(path);
    ASSERT_TRUE(owner.data.NewCollection());
    ASSERT_EQ(write(go[1], "x", 1), 1);
    close(go[1]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(ReadBytes(path).size(), 33u);
}

// A program that locks files with POSIX record locks (not flock) holds the
// file in another process: this one records nothing into it.
TEST(SiteDataHold, ARecordLockOfAnotherProcessIsRespected) {
    TempDir dir;
    const std::string path = dir.File("locked.ktd");
    const Bytes file = FileBuilder().Location(0, 0, 1).Reading(-50 * 256, 1, "net").bytes();
    WriteBytes(path, file);
    int ready[2];
    int done[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(done), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(30);
        close(ready[0]);
        close(done[1]);
        const int fd = open(path.c_str(), O_RDWR);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        if (fd < 0 || fcntl(fd, F_SETLK, &lock) != 0)
            _exit(2);
        if (write(ready[1], "x", 1) != 1)
            _exit(3);
        char byte = 0;
        (void)!read(done[0], &byte, 1);  // holds the lock until told
        _exit(0);
    }
    close(ready[1]);
    close(done[0]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    {
        SiteDataWorld w;
        w.data.SetPath(path);
        EXPECT_FALSE(w.data.NewCollection());
        EXPECT_FALSE(w.Record());
        ASSERT_EQ(w.prompt.Messages().size(), 2u);
        EXPECT_EQ(w.prompt.Messages()[0], InUse(path));
        EXPECT_EQ(w.prompt.Messages()[1], InUse(path));
        // Its points may still be looked at, and the flock is not kept.
        EXPECT_TRUE(w.data.LoadSurvey());
        EXPECT_EQ(w.data.PointCount(), 1u);
        EXPECT_TRUE(LockFree(path));
    }
    EXPECT_EQ(ReadBytes(path), file);
    ASSERT_EQ(write(done[1], "x", 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    // Once the other program has let go, the file is this one's.
    SiteDataWorld w;
    w.data.SetPath(path);
    EXPECT_TRUE(w.Record());
    EXPECT_EQ(ReadBytes(path).size(), file.size() + 61);
}

// A link planted at the name of a new collection file is not followed: the
// file it names is not cut, and the message names the link.
TEST(SiteDataHold, ANewCollectionIsNeverMadeThroughALink) {
    TempDir dir;
    const std::string target = dir.File("precious.txt");
    const Bytes precious = {'k', 'e', 'e', 'p'};
    WriteBytes(target, precious);
    struct Case {
        const char* legend;
        std::string linkTarget;
    };
    const Case cases[] = {
        {"link to a file", target},
        {"dangling link", dir.File("not-yet.txt")},
        {"link to a collection file", dir.File("survey.ktd")},
    };
    WriteBytes(dir.File("survey.ktd"), FileBuilder().Location(0, 0, 0).bytes());
    const Bytes survey = ReadBytes(dir.File("survey.ktd"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const std::string link = dir.File("new.ktd");
        unlink(link.c_str());
        ASSERT_EQ(symlink(c.linkTarget.c_str(), link.c_str()), 0);
        SiteDataWorld w;
        w.data.SetPath(link);
        EXPECT_FALSE(w.data.NewCollection());
        EXPECT_EQ(w.prompt.Messages(),
                  std::vector<std::string>{
                      "Cannot create the collection file " + link + ": it is a symbolic link to " +
                      c.linkTarget +
                      ", and a new collection file is never made through a link (its target "
                      "would be cut). Choose another name."});
        struct stat st {};
        ASSERT_EQ(lstat(link.c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode));
    }
    EXPECT_EQ(ReadBytes(target), precious);
    EXPECT_EQ(ReadBytes(dir.File("survey.ktd")), survey);
    EXPECT_FALSE(std::filesystem::exists(dir.File("not-yet.txt")));
}

TEST(SiteDataHold, FifosDevicesAndFoldersAreRefusedWithoutWaiting) {
    HangGuard guard;
    TempDir dir;
    const std::string fifo = dir.File("pipe.ktd");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = dir.File("folder.ktd");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    struct Case {
        std::string path;
        const char* what;
    };
    const Case cases[] = {
        {fifo, "it is a named pipe, not a regular file"},
        {folder, "Is a directory"},
        {"/dev/null", "it is a device, not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        SiteDataWorld w;
        w.data.SetPath(c.path);
        EXPECT_FALSE(w.data.NewCollection());
        EXPECT_FALSE(w.data.LoadSurvey());
        EXPECT_FALSE(w.Record());
        const std::string tail = std::string(": ") + c.what + ".";
        EXPECT_EQ(w.prompt.Messages(), (std::vector<std::string>{
                                           "Cannot create the collection file " + c.path + tail,
                                           "Cannot open the collection file " + c.path + tail,
                                           "Cannot open the collection file " + c.path + tail,
                                       }));
        EXPECT_EQ(w.data.PointCount(), 0u);
    }
    struct stat st {};
    ASSERT_EQ(stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(SiteDataHold, AHugeFileOfZeroBytesIsRefused) {
    TempDir dir;
    const std::string path = dir.File("sparse.ktd");
    WriteBytes(path, FileBuilder().bytes());
    // One point more than a load takes, every one of them zero bytes (a file
    // with holes: it costs no disk).
    const auto size = static_cast<off_t>(33 + (CSiteData::kMaxLoadedPoints + 1) * 61);
    ASSERT_EQ(truncate(path.c_str(), size), 0);

    SiteDataWorld w;
    w.data.SetPath(dir.File("small.ktd"));
    WriteBytes(dir.File("small.ktd"), FileBuilder().Location(1, 2, 0).bytes());
    ASSERT_TRUE(w.data.LoadSurvey());
    w.data.SetPath(path);
    EXPECT_FALSE(w.data.LoadSurvey());
    EXPECT_EQ(w.prompt.Messages(),
              std::vector<std::string>{"The collection file " + path +
                                       " holds more than 1000000 points; it is not loaded."});
    EXPECT_EQ(w.data.PointCount(), 1u);     // the earlier survey stays
    EXPECT_EQ(w.sound.Names().size(), 1u);  // no sound for a refused file

    // Exactly at the bound it loads.
    ASSERT_EQ(truncate(path.c_str(), size - 61), 0);
    w.prompt.Clear();
    EXPECT_TRUE(w.data.LoadSurvey());
    EXPECT_EQ(w.data.PointCount(), CSiteData::kMaxLoadedPoints);
    EXPECT_TRUE(w.prompt.Messages().empty());
}

}  // namespace
}  // namespace ketrion::testing
