#pragma once
// Runs commands for the command-line tests: the exit status and everything
// printed (stdout and stderr together).
#include <array>
#include <cstdio>
#include <string>
#include <sys/wait.h>

struct CliRun {
    int status;
    std::string out;
};

inline CliRun Shell(const std::string& command)
{
    CliRun run{-1, {}};
    std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return run;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        run.out.append(buffer.data(), n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// lineweft with the given arguments.
inline CliRun Lineweft(const std::string& args) { return Shell(std::string(LW_CLI_PATH) + " " + args); }
