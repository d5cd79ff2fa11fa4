// install / uninstall: the project file type with the desktop.
#include "cli/command.h"

#include "model/file_paths.h"
#include "platform/file_types.h"
#include "platform/system.h"

#include <cstdio>

namespace {
const char* const kProjectExtension = ".lwt";
}  // namespace

int RunInstall(const std::vector<std::string>& args)
{
    if (!args.empty())
        return UsageError("install takes no arguments");
    // Projects open in the desktop program that sits beside this one.
    std::string opener = GetFileDir(GetProgramPath()) + "lineweft-gui";
    if (!RegisterFileType(kProjectExtension, "Lineweft.Project", "Lineweft Project", "application/x-lineweft-project",
                          "lineweft", 0, opener)) {
        std::fprintf(stderr, "lineweft: could not register the %s file type under %s\n", kProjectExtension,
                     UserDataFolder().c_str());
        return kExitFailure;
    }
    std::printf("Registered %s files under %s\n", kProjectExtension, UserDataFolder().c_str());
    return kExitOk;
}

int RunUninstall(const std::vector<std::string>& args)
{
    if (!args.empty())
        return UsageError("uninstall takes no arguments");
    if (!UnregisterFileType(kProjectExtension)) {
        std::fprintf(stderr, "lineweft: could not remove the %s file type\n", kProjectExtension);
        return kExitFailure;
    }
    std::printf("Removed the %s file type registration\n", kProjectExtension);
    return kExitOk;
}
