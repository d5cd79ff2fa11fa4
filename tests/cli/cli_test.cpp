#include <gtest/gtest.h>

#include "cli_runner.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>

namespace {

} // namespace

TEST(Cli, HelpAndVersionSucceed)
{
    CliRun help = Lineweft("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: lineweft"), std::string::npos);
    EXPECT_NE(help.out.find("install"), std::string::npos);
    CliRun version = Lineweft("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("lineweft ", 0), 0u);
}

TEST(Cli, UnknownCommandsAndOptionsAreUsageErrors)
{
    CliRun command = Lineweft("frobnicate");
    EXPECT_EQ(command.status, 2);
    EXPECT_NE(command.out.find("unknown command 'frobnicate'"), std::string::npos);
    CliRun option = Lineweft("--frobnicate");
    EXPECT_EQ(option.status, 2);
    EXPECT_NE(option.out.find("unknown option '--frobnicate'"), std::string::npos);
    EXPECT_EQ(Lineweft("").status, 2);
    EXPECT_EQ(Lineweft("install extra").status, 2);
}

TEST(Cli, InstallAndUninstallTheProjectType)
{
    CliRun install = Lineweft("install");
    ASSERT_EQ(install.status, 0) << install.out;
    std::string mime = std::string(std::getenv("XDG_DATA_HOME")) + "/mime/packages/lineweft-lwt.xml";
    EXPECT_TRUE(std::filesystem::exists(mime));
    EXPECT_EQ(Lineweft("uninstall").status, 0);
    EXPECT_FALSE(std::filesystem::exists(mime));
}
