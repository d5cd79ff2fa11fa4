// lineweft: the command-line face of the converter.
#include "cli/command.h"

#include "model/file_paths.h"
#include "model/text_table.h"
#include "platform/locale_separators.h"
#include "platform/settings_store.h"
#include "platform/system.h"
#include "raster/raster_library.h"

#include <cstdio>
#include <cstring>

namespace {

const char* const kLanguageKey = "Software\\Korvane\\Lineweft\\Language";

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

// The user's language file, named in the settings; a relative name lies
// beside the program. Without it every text shows its English default.
void LoadUserLanguage()
{
    std::string name = "english.lan";
    CSettingsKey key;
    std::string stored;
    if (key.Open(kLanguageKey) && key.QueryString("LanguageFileName", stored) && !stored.empty())
        name = stored;
    if (name[0] != '/')
        name = GetFileDir(GetProgramPath()) + name;
    std::string why;
    if (FileExists(name) && !LoadLanguageFile(name, &why))
        std::fprintf(stderr, "lineweft: cannot read the language file %s (%s); English texts are used\n",
                     name.c_str(), why.c_str());
}

} // namespace

int UsageError(const std::string& message)
{
    std::fprintf(stderr, "lineweft: %s\nRun 'lineweft --help' for usage.\n", message.c_str());
    return kExitUsage;
}

int main(int argc, char** argv)
{
    CRasterLibraryGuard rasterLibrary;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        PrintHelp();
        return kExitUsage;
    }
    const std::string& first = args[0];
    if (first == "--help" || first == "-h" || first == "help") {
        PrintHelp();
        return kExitOk;
    }
    if (first == "--version") {
        std::printf("lineweft %s\n", LINEWEFT_VERSION);
        return kExitOk;
    }
    if (first.size() > 1 && first[0] == '-')
        return UsageError("unknown option '" + first + "'");

    for (const CliCommand& command : CliCommands()) {
        if (first != command.name)
            continue;
        std::vector<std::string> rest(args.begin() + 1, args.end());
        if (!rest.empty() && (rest[0] == "--help" || rest[0] == "-h")) {
            std::printf("Usage: lineweft %s\n\n%s\n", command.usage, command.summary);
            return kExitOk;
        }
        InitLocaleSeparators();
        LoadUserLanguage();
        return command.run(rest);
    }
    return UsageError("unknown command '" + first + "'");
}
