#include "platform/file_types.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string Read(const fs::path& p)
{
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class FileTypes : public ::testing::Test {
protected:
    void SetUp() override
    {
        data = fs::path(std::getenv("XDG_DATA_HOME")) / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(data);
        setenv("XDG_DATA_HOME", data.c_str(), 1);
    }
    fs::path data;
    fs::path MimeFile() const { return data / "mime/packages/lineweft-lwt.xml"; }
    fs::path DesktopFile() const { return data / "applications/lineweft-lwt.desktop"; }
};

}  // namespace

TEST_F(FileTypes, RegisterWritesMimeAndDesktopEntriesAndUninstallRemovesThem)
{
    ASSERT_TRUE(RegisterFileType(".lwt", "Lineweft.Project", "Lineweft <Project>", "application/x-lineweft-project",
                                 "lineweft", 0, "/opt/line weft/lineweft-gui"));
    std::string mime = Read(MimeFile());
    EXPECT_NE(mime.find("<glob pattern=\"*.lwt\"/>"), std::string::npos);
    EXPECT_NE(mime.find("type=\"application/x-lineweft-project\""), std::string::npos);
    EXPECT_NE(mime.find("Lineweft &lt;Project&gt;"), std::string::npos);
    std::string desktop = Read(DesktopFile());
    EXPECT_NE(desktop.find("Exec=\"/opt/line weft/lineweft-gui\" %f\n"), std::string::npos);
    EXPECT_NE(desktop.find("MimeType=application/x-lineweft-project;"), std::string::npos);
    EXPECT_NE(desktop.find("Icon=lineweft"), std::string::npos);

    EXPECT_TRUE(UnregisterFileType(".lwt"));
    EXPECT_FALSE(fs::exists(MimeFile()));
    EXPECT_FALSE(fs::exists(DesktopFile()));
}

TEST_F(FileTypes, UninstallLeavesAnotherProgramsRegistrationAlone)
{
    fs::create_directories(MimeFile().parent_path());
    const std::string theirs = "<mime-info><mime-type type=\"application/x-other\"><glob pattern=\"*.lwt\"/>"
                               "</mime-type></mime-info>\n";
    std::ofstream(MimeFile()) << theirs;
    EXPECT_TRUE(UnregisterFileType(".lwt"));
    EXPECT_EQ(Read(MimeFile()), theirs);
}

TEST_F(FileTypes, UninstallLeavesAFifoAloneWithoutReadingIt)
{
    fs::create_directories(MimeFile().parent_path());
    ASSERT_EQ(mkfifo(MimeFile().c_str(), 0600), 0);
    auto done = std::async(std::launch::async, [] { return UnregisterFileType(".lwt"); });
    if (done.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // Let the blocked reader go before failing.
        int fd = open(MimeFile().c_str(), O_WRONLY);
        close(fd);
        FAIL() << "uninstall blocked on the FIFO";
    }
    EXPECT_TRUE(done.get());
    EXPECT_TRUE(fs::is_fifo(MimeFile()));
}

TEST_F(FileTypes, UninstallLeavesAFileFarLargerThanOursAlone)
{
    fs::create_directories(DesktopFile().parent_path());
    std::ofstream(DesktopFile()) << "X-Lineweft-Registered=true\n" << std::string(2u << 20, '#');
    EXPECT_TRUE(UnregisterFileType(".lwt"));
    EXPECT_TRUE(fs::exists(DesktopFile()));
}

TEST_F(FileTypes, RefusesBadNames)
{
    EXPECT_FALSE(RegisterFileType("lwt", "Lineweft.Project", "d", "", "", -1, "/bin/true"));
    EXPECT_FALSE(RegisterFileType(".l/../x", "Lineweft.Project", "d", "", "", -1, "/bin/true"));
    EXPECT_FALSE(RegisterFileType(".lwt", "../evil", "d", "", "", -1, "/bin/true"));
    EXPECT_FALSE(RegisterFileType(".lwt", "Doc", "d", "text/<html>", "", -1, "/bin/true"));
    EXPECT_FALSE(fs::exists(data / "mime"));
    // Without a content type the mime type comes from the document type; no
    // icon for a negative index.
    ASSERT_TRUE(RegisterFileType(".lwt", "Lineweft.Project", "d", "", "icon", -1, "/bin/true"));
    EXPECT_NE(Read(MimeFile()).find("application/x-lineweft.project"), std::string::npos);
    EXPECT_EQ(Read(DesktopFile()).find("Icon="), std::string::npos);
}
