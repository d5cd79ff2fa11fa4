#include "platform/system.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

std::mutex browserMutex;
FolderBrowser folderBrowser;

}  // namespace

bool RunQuietly(std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

FolderBrowser SetFolderBrowser(FolderBrowser browser)
{
    std::lock_guard lock(browserMutex);
    std::swap(browser, folderBrowser);
    return browser;
}

std::string BrowseForFolder(void* owner, const std::string& title, const std::string& start)
{
    FolderBrowser browser;
    {
        std::lock_guard lock(browserMutex);
        browser = folderBrowser;
    }
    return browser ? browser(owner, title, start) : std::string();
}

bool PowerOffComputer()
{
    // systemctl asks logind, which lets a logged-in user power off; busctl
    // reaches logind directly where systemctl is missing.
    if (RunQuietly({"systemctl", "poweroff"}))
        return true;
    return RunQuietly({"busctl", "call", "org.freedesktop.login1", "/org/freedesktop/login1",
                       "org.freedesktop.login1.Manager", "PowerOff", "b", "false"});
}

std::string GetProgramPath()
{
    std::vector<char> buffer(4096);
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0)
        return {};
    return std::string(buffer.data(), static_cast<size_t>(n));
}
