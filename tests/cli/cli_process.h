#pragma once
// Commands run as processes the test can signal: started with stderr to a
// file (and, when given, standard input from a descriptor and extra
// environment), watched for a text, waited for within a time.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "raster/raster_src.h"
#include "support/file_contents.h"

// Noise of black and white pixels: thousands of tiny shapes keep every
// step of a trace busy for a while.
inline std::filesystem::path NoisePage(const std::filesystem::path& dir, int size)
{
    CRasterSrc image;
    EXPECT_TRUE(image.Create(size, size, 8));
    image.SetGreyRamp();
    std::uint32_t state = 12345;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            state = state * 1664525u + 1013904223u;
            image.SetPixelIndex(x, y, (state >> 31) ? 230 : 20);
        }
    const std::filesystem::path path = dir / "noise.bmp";
    EXPECT_TRUE(image.SaveBMP(path.string()));
    return path;
}

// Starts lineweft with stderr to a file, standard input from `input` when it
// is not -1, and the environment entries given; the process id.
inline pid_t Start(const std::vector<std::string>& args, const std::filesystem::path& errors, int input = -1,
                   const std::vector<std::pair<std::string, std::string>>& environment = {})
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, STDERR_FILENO);
        if (input >= 0)
            ::dup2(input, STDIN_FILENO);
        for (const auto& [name, value] : environment)
            ::setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(LW_CLI_PATH)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(LW_CLI_PATH, argv.data());
        ::_exit(127);
    }
    return pid;
}

// Waits until the file holds the text; false after the time-out.
inline bool WaitFor(const std::filesystem::path& file, const std::string& text, int seconds = 120)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (ReadFile(file).find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

// The process's wait status, or -1 when it had not ended within the time
// (it is then killed, so a hang fails the test instead of stalling it).
inline int WaitWithin(pid_t pid, int seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = -1;
    while (std::chrono::steady_clock::now() < end) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}
