// lineweft: the command-line face of the converter.
#include "cli/command.h"

#include "model/file_paths.h"
#include "model/text_table.h"
#include "platform/locale_separators.h"
#include "platform/settings_store.h"
#include "platform/stop_cleanup.h"
#include "platform/system.h"
#include "raster/raster_library.h"

#include <cstdio>
#include <cstring>

namespace {

// The command being run, whose usage line a usage error repeats.
const CliCommand* g_command = nullptr;

// The synopsis: the usage text up to its first line break.
std::string FirstLine(const char* text)
{
    const std::string all(text);
    return all.substr(0, all.find('\n'));
}

void PrintHelp()
{
    std::printf("Usage: lineweft COMMAND [OPTIONS]\n"
                "       lineweft --help | --version\n\n"
                "Converts scanned drawings, maps and logos into vector drawings.\n\n"
                "Commands:\n");
    for (const CliCommand& command : CliCommands())
        std::printf("  %-12s %s\n", command.name, command.summary);
    std::printf("\nRun 'lineweft COMMAND --help' for the options of a command.\n"
                "Settings are kept in %s\n",
                CSettingsStore::DefaultFile().c_str());
}

}  // namespace

int UsageError(const std::string& message)
{
    if (g_command == nullptr) {
        std::fprintf(stderr, "lineweft: %s\nRun 'lineweft --help' for usage.\n", message.c_str());
    } else {
        std::fprintf(stderr, "lineweft: %s\nUsage: lineweft %s\nRun 'lineweft %s --help' for every option.\n",
                     message.c_str(), FirstLine(g_command->usage).c_str(), g_command->name);
    }
    return kExitUsage;
}

int main(int argc, char** argv)
{
    CRasterLibraryGuard rasterLibrary;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        PrintHelp();
        return FinishStandardOutput(kExitUsage);
    }
    const std::string& first = args[0];
    if (first == "--help" || first == "-h" || first == "help") {
        PrintHelp();
        return FinishStandardOutput(kExitOk);
    }
    if (first == "--version") {
        std::printf("lineweft %s\n", LINEWEFT_VERSION);
        return FinishStandardOutput(kExitOk);
    }
    if (first.size() > 1 && first[0] == '-')
        return UsageError(UnknownOption(first));

    for (const CliCommand& command : CliCommands()) {
        if (first != command.name)
            continue;
        std::vector<std::string> rest(args.begin() + 1, args.end());
        g_command = &command;
        if (!rest.empty() && (rest[0] == "--help" || rest[0] == "-h")) {
            std::printf("Usage: lineweft %s\n\n%s\n", command.usage, command.summary);
            if (command.details)
                std::fputs(command.details().c_str(), stdout);
            return FinishStandardOutput(kExitOk);
        }
        InitLocaleSeparators();
        // A stop outside the trace's own steps removes what the command has
        // half made and says what was not written.
        InstallStopCleanup();
        std::string why;
        if (!LoadUserLanguageFile(&why))
            std::fprintf(stderr, "lineweft: %s\n", why.c_str());
        return FinishStandardOutput(command.run(rest));
    }
    return UsageError("unknown command '" + first + "'");
}
