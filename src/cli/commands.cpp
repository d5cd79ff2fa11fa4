#include "cli/command.h"

const std::vector<CliCommand>& CliCommands()
{
    static const std::vector<CliCommand> commands = {
        {"install", "Register the project file type (.lwt) with the desktop", "install", RunInstall},
        {"uninstall", "Remove the project file type registration", "uninstall", RunUninstall},
    };
    return commands;
}
