// The save helper: what a save replaces, what it writes straight through,
// and that a save that fails or is killed leaves the old file as it was.
#include "platform/atomic_file.h"
#include "platform/stop_cleanup.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/file_contents.h"

namespace fs = std::filesystem;

namespace {

mode_t ModeOf(const fs::path& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Runs body in a child process and answers its wait status.
template <typename Body>
int InChild(Body body)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        body();
        ::_exit(0);
    }
    int status = -1;
    ::waitpid(pid, &status, 0);
    return status;
}

// A save whose writes stop at `limit` bytes of file size, in a child: with
// SIGXFSZ ignored the write fails; with it at its default the child is
// killed in the middle of the write, as kill -9 would.
int SaveWithSizeLimit(const fs::path& path, const std::string& content, rlim_t limit, bool killed)
{
    return InChild([&] {
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        ::signal(SIGXFSZ, killed ? SIG_DFL : SIG_IGN);
        const rlimit size{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &size);
        std::string why;
        const bool saved = WriteFileAtomically(path.string(), content, &why);
        ::_exit(!saved && errno == EFBIG && !why.empty() ? 0 : 1);
    });
}

class AtomicFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("lw-atomic-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

TEST_F(AtomicFile, ARegularFileIsReplacedWithItsModeAndNothingElseIsLeft)
{
    const fs::path file = dir / "plan.dxf";
    WriteFile(file, "old");
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    ASSERT_TRUE(WriteFileAtomically(file.string(), "new content"));
    EXPECT_EQ(ReadFile(file), "new content");
    EXPECT_EQ(ModeOf(file), 0640u);
    EXPECT_EQ(Entries(dir), std::vector<std::string>{"plan.dxf"});

    ASSERT_TRUE(WriteFileAtomically((dir / "new.dxf").string(), "x"));
    EXPECT_EQ(ModeOf(dir / "new.dxf"), 0644u);
}

TEST_F(AtomicFile, ASymbolicLinkStaysAndItsTargetIsReplacedInItsOwnFolder)
{
    fs::create_directories(dir / "links");
    fs::create_directories(dir / "data");
    const fs::path target = dir / "data" / "plan.dxf";
    WriteFile(target, "old");
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    // A relative link, through a second link: each is read from its own folder.
    fs::create_symlink("../data/plan.dxf", dir / "links" / "first");
    fs::create_symlink("first", dir / "links" / "second");

    ASSERT_TRUE(WriteFileAtomically((dir / "links" / "second").string(), "new"));
    EXPECT_TRUE(fs::is_symlink(dir / "links" / "second"));
    EXPECT_TRUE(fs::is_symlink(dir / "links" / "first"));
    EXPECT_EQ(ReadFile(target), "new");
    EXPECT_EQ(ModeOf(target), 0600u);
    EXPECT_EQ(Entries(dir / "links"), (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(Entries(dir / "data"), std::vector<std::string>{"plan.dxf"});

    // A link to a file not yet there makes the file and keeps the link.
    fs::create_symlink("../data/later.dxf", dir / "links" / "dangling");
    ASSERT_TRUE(WriteFileAtomically((dir / "links" / "dangling").string(), "made"));
    EXPECT_TRUE(fs::is_symlink(dir / "links" / "dangling"));
    EXPECT_EQ(ReadFile(dir / "data" / "later.dxf"), "made");

    // A loop of links fails and changes nothing.
    fs::create_symlink("loop-b", dir / "links" / "loop-a");
    fs::create_symlink("loop-a", dir / "links" / "loop-b");
    std::string why;
    EXPECT_FALSE(WriteFileAtomically((dir / "links" / "loop-a").string(), "x", &why));
    EXPECT_EQ(errno, ELOOP);
    EXPECT_FALSE(why.empty());
}

TEST_F(AtomicFile, AFifoIsWrittenStraightThroughToItsReader)
{
    const fs::path fifo = dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path received = dir / "received";
    const pid_t reader = ::fork();
    if (reader == 0) {
        const int in = ::open(fifo.c_str(), O_RDONLY);
        const int out = ::open(received.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        char buffer[4096];
        ssize_t got;
        while ((got = ::read(in, buffer, sizeof buffer)) > 0)
            if (::write(out, buffer, static_cast<size_t>(got)) != got)
                ::_exit(1);
        ::_exit(0);
    }
    const std::string content(200000, 'q');  // more than a pipe holds at once
    ASSERT_TRUE(WriteFileAtomically(fifo.string(), content));
    int status = -1;
    ::waitpid(reader, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ReadFile(received), content);
    struct stat info {};
    ASSERT_EQ(::lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"pipe", "received"}));
}

TEST_F(AtomicFile, StandardOutputAndDevicesAreWrittenAndNeverReplaced)
{
    // "-" goes to standard output, here a pipe that the parent reads.
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const int status = InChild([&] {
        ::close(pipeEnds[0]);
        ::dup2(pipeEnds[1], STDOUT_FILENO);
        ::_exit(WriteFileAtomically("-", "to standard output") ? 0 : 1);
    });
    ::close(pipeEnds[1]);
    char buffer[64] = {};
    const ssize_t got = ::read(pipeEnds[0], buffer, sizeof buffer);
    ::close(pipeEnds[0]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(std::string(buffer, got > 0 ? static_cast<size_t>(got) : 0), "to standard output");

    // A device takes the bytes (and reports its failure); it is never renamed
    // over. The nodes are made here: a fault that replaced them must not
    // replace the system's own.
    const fs::path null = dir / "null", full = dir / "full";
    if (::mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 &&
        ::mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0) {
        ASSERT_TRUE(WriteFileAtomically(null.string(), "gone"));
        std::string why;
        EXPECT_FALSE(WriteFileAtomically(full.string(), "no room", &why));
        EXPECT_EQ(errno, ENOSPC);
        EXPECT_FALSE(why.empty());
        struct stat info {};
        ASSERT_EQ(::lstat(null.c_str(), &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode));
        ASSERT_EQ(::lstat(full.c_str(), &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode));
        EXPECT_EQ(Entries(dir), (std::vector<std::string>{"full", "null"}));
    }
    std::string why;
    EXPECT_FALSE(WriteFileAtomically(dir.string(), "a folder", &why));
    EXPECT_EQ(errno, EISDIR);
}

// The streamed save: what is written goes in place on Commit only, through
// a link, with the old mode; given up or failing part way, the old file stays
// byte for byte and no temporary is left.
TEST_F(AtomicFile, AStreamedSaveReplacesOnlyOnCommit)
{
    const fs::path target = dir / "plan.dxf";
    WriteFile(target, "old");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    fs::create_symlink("plan.dxf", dir / "link.dxf");
    {
        CAtomicFile file;
        ASSERT_TRUE(file.Open((dir / "link.dxf").string()));
        EXPECT_EQ(std::fputs("abandoned", file.File()), 1);
    }
    EXPECT_EQ(ReadFile(target), "old");
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"link.dxf", "plan.dxf"}));

    CAtomicFile file;
    ASSERT_TRUE(file.Open((dir / "link.dxf").string()));
    const std::string content(100000, 'x');
    EXPECT_EQ(std::fwrite(content.data(), 1, content.size(), file.File()), content.size());
    EXPECT_EQ(ReadFile(target), "old") << "nothing shows before the commit";
    ASSERT_TRUE(file.Commit());
    EXPECT_EQ(ReadFile(target), content);
    EXPECT_EQ(ModeOf(target), 0640u);
    EXPECT_TRUE(fs::is_symlink(dir / "link.dxf"));
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"link.dxf", "plan.dxf"}));

    const int failed = InChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit size{64 * 1024, 64 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &size);
        CAtomicFile big;
        if (!big.Open(target.string()))
            ::_exit(2);
        const std::string bytes(1 << 20, 'n');
        std::fwrite(bytes.data(), 1, bytes.size(), big.File());
        std::string why;
        ::_exit(!big.Commit(&why) && !why.empty() ? 0 : 1);
    });
    EXPECT_TRUE(WIFEXITED(failed) && WEXITSTATUS(failed) == 0);
    EXPECT_EQ(ReadFile(target), content);
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"link.dxf", "plan.dxf"}));

    // Large enough for the system to be asked to write parts out on the way.
    std::string large(19 << 20, '\0');
    for (std::size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>(i * 31 + i / 4096);
    CAtomicFile largeFile;
    ASSERT_TRUE(largeFile.Open(target.string()));
    for (std::size_t at = 0; at < large.size(); at += 100000)
        ASSERT_EQ(std::fwrite(large.data() + at, 1, std::min<std::size_t>(100000, large.size() - at), largeFile.File()),
                  std::min<std::size_t>(100000, large.size() - at));
    ASSERT_TRUE(largeFile.Commit());
    EXPECT_TRUE(ReadFile(target) == large);

    CAtomicFile stream;
    EXPECT_FALSE(stream.Open("-")) << "a stream target is written whole, not streamed";
}

TEST_F(AtomicFile, AFailedOrKilledSaveLeavesTheOldFileByteForByte)
{
    const fs::path file = dir / "keep.dxf";
    std::string old(3000, '\0');
    for (size_t i = 0; i < old.size(); ++i)
        old[i] = static_cast<char>(i * 7);
    WriteFile(file, old);
    const std::string bigger(1 << 20, 'n');

    // The write runs out of room part way.
    const int failed = SaveWithSizeLimit(file, bigger, 64 * 1024, false);
    EXPECT_TRUE(WIFEXITED(failed) && WEXITSTATUS(failed) == 0);
    EXPECT_EQ(ReadFile(file), old);
    EXPECT_EQ(Entries(dir), std::vector<std::string>{"keep.dxf"});

    // The process dies in the middle of the write: no temporary is left.
    const int killed = SaveWithSizeLimit(file, bigger, 64 * 1024, true);
    EXPECT_TRUE(WIFSIGNALED(killed) && WTERMSIG(killed) == SIGXFSZ);
    EXPECT_EQ(ReadFile(file), old);
    EXPECT_EQ(Entries(dir), std::vector<std::string>{"keep.dxf"});

    // A folder that is not there, with the system's reason.
    std::string why;
    EXPECT_FALSE(WriteFileAtomically((dir / "missing" / "x.dxf").string(), "x", &why));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_NE(why.find("No such file"), std::string::npos) << why;

    // A folder the user may not write to (root may write anywhere).
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(dir.c_str(), 0555), 0);
        EXPECT_FALSE(WriteFileAtomically(file.string(), bigger, &why));
        EXPECT_EQ(errno, EACCES);
        ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
        EXPECT_EQ(ReadFile(file), old);
        EXPECT_EQ(Entries(dir), std::vector<std::string>{"keep.dxf"});
    }
}

}  // namespace

TEST_F(AtomicFile, AStopRemovesTheNamedTemporaryAndSaysTheFileIsAsItWas)
{
    // Forced here, the named temporary is what file systems without unnamed
    // files get; a stop by any signal the process can see removes it.
    const fs::path file = dir / "keep.dxf";
    const std::string old = "the earlier drawing\n";
    WriteFile(file, old);
    const fs::path notice = dir.parent_path() / ("lw-stop-notice-" + std::to_string(::getpid()));
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const int status = InChild([&] {
            const int fd = ::open(notice.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(fd, STDERR_FILENO);
            ::setenv("LINEWEFT_TEST_NAMED_TEMPORARY", "1", 1);
            InstallStopCleanup();
            CAtomicFile save;
            if (!save.Open(file.string()) || std::fputs("half a new drawing", save.File()) < 0 ||
                std::fflush(save.File()) != 0)
                ::_exit(2);
            // The named temporary is there, beside the target.
            if (Entries(dir).size() != 2)
                ::_exit(3);
            ::raise(signal);
            ::_exit(4);
        });
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal << " " << status;
        EXPECT_EQ(ReadFile(file), old);
        EXPECT_EQ(Entries(dir), std::vector<std::string>{"keep.dxf"}) << signal;
        EXPECT_EQ(ReadFile(notice), "\nlineweft: stopped: '" + file.string() + "' was not written and is as it was\n");
    }
    fs::remove(notice);
    // Without the switch the temporary has no name to leave behind.
    const int status = InChild([&] {
        ::unsetenv("LINEWEFT_TEST_NAMED_TEMPORARY");
        CAtomicFile save;
        ::_exit(save.Open(file.string()) && Entries(dir).size() == 1 ? 0 : 1);
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
