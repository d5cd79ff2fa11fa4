#include "cli/command.h"

const std::vector<CliCommand>& CliCommands()
{
    static const std::vector<CliCommand> commands = {
        {"install", "Register the project file type (.lwt) with the desktop", "install", RunInstall},
        {"uninstall", "Remove the project file type registration", "uninstall", RunUninstall},
        {"info", "Print what a raster file holds", "info FILE", RunInfo},
        {"options", "Show, load or reset the stored tracing options (job-file text)",
         "options [--describe]\n       lineweft options --load FILE.lwj [--section NAME] [--describe]\n"
         "       lineweft options --reset [--describe]",
         RunOptions},
    };
    return commands;
}
