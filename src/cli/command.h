#pragma once
// The subcommands of `lineweft`: each parses its own arguments and returns the
// process exit status.
#include <string>
#include <vector>

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct CliCommand {
    const char* name;
    const char* summary;
    const char* usage;
    int (*run)(const std::vector<std::string>& args);
};

const std::vector<CliCommand>& CliCommands();

// Prints "lineweft: message" to stderr and returns kExitUsage.
int UsageError(const std::string& message);

int RunInstall(const std::vector<std::string>& args);
int RunUninstall(const std::vector<std::string>& args);
int RunInfo(const std::vector<std::string>& args);
int RunOptions(const std::vector<std::string>& args);
int RunTrace(const std::vector<std::string>& args);
int RunRaster(const std::vector<std::string>& args);
int RunConvert(const std::vector<std::string>& args);
int RunRender(const std::vector<std::string>& args);
