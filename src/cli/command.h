#pragma once
// The subcommands of `lineweft`: each parses its own arguments and returns the
// process exit status.
#include <initializer_list>
#include <string>
#include <vector>

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoMemory = 3;

// Said in the help of every command that reads a file.
inline constexpr const char* kStdinNote =
    "INPUT may be - to read the file from standard input (its kind is told by its content).\n";

struct CliCommand {
    const char* name;
    const char* summary;
    const char* usage;
    int (*run)(const std::vector<std::string>& args);
    // The rest of `COMMAND --help`: every option with every value it takes.
    std::string (*details)();
};

const std::vector<CliCommand>& CliCommands();

// Prints "lineweft: message" and the usage line of the command being run to
// stderr and returns kExitUsage.
int UsageError(const std::string& message);

// Ends the process once a command has written everything: flushes the
// standard streams and exits with `status` at once, without freeing the
// drawing (a traced page is hundreds of thousands of separate allocations,
// which the system takes back faster as a whole) or running static
// destructors. Whatever must outlive the command (a file, a temporary to
// remove) has to be settled before. Sanitizer builds return `status` for a
// normal return instead, so that their checks still cover the teardown.
int ExitSkippingTeardown(int status);

// Flushes standard output. When what was written there did not all arrive
// (a full disk, a closed pipe read no further), says why on stderr and
// turns a success into kExitFailure.
int FinishStandardOutput(int status);

// The message for an option that takes no part in the command.
std::string UnknownOption(const std::string& option);

// The argument is one of the names (options are told apart before their
// values are taken, so an unknown one is never "missing a value").
inline bool IsOneOf(const std::string& arg, std::initializer_list<const char*> names)
{
    for (const char* name : names)
        if (arg == name)
            return true;
    return false;
}

int RunInstall(const std::vector<std::string>& args);
int RunUninstall(const std::vector<std::string>& args);
int RunInfo(const std::vector<std::string>& args);
int RunOptions(const std::vector<std::string>& args);
int RunTrace(const std::vector<std::string>& args);
int RunRaster(const std::vector<std::string>& args);
int RunConvert(const std::vector<std::string>& args);
int RunRender(const std::vector<std::string>& args);

// The help of each command after its usage line, written from the tables
// its parser reads.
std::string InfoDetails();
std::string OptionsDetails();
std::string TraceDetails();
std::string ConvertDetails();
std::string RasterDetails();
std::string RenderDetails();
