#pragma once
// The few calls into the desktop and the operating system that the core makes.
#include <functional>
#include <string>
#include <vector>

// Shows a folder chooser and returns the chosen folder, or "" when cancelled.
// The desktop installs the real chooser; without one nothing can be chosen.
using FolderBrowser = std::function<std::string(void* owner, const std::string& title, const std::string& start)>;
FolderBrowser SetFolderBrowser(FolderBrowser browser);
std::string BrowseForFolder(void* owner, const std::string& title, const std::string& start);

// Asks the system to power off (after a long batch run, when the user asked
// for it). False when no way to ask succeeded.
bool PowerOffComputer();

// The running program's own file.
std::string GetProgramPath();

// Runs a program found on PATH with its output discarded and waits for it;
// true when it exited with status 0.
bool RunQuietly(std::vector<std::string> args);
