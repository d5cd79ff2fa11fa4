#include "cli/option_table.h"

#include "cli/command.h"
#include "cli/raster_steps.h"
#include "trace/option_text.h"

#include <string_view>

namespace {

// The column where the help text of every option starts.
constexpr std::size_t kHelpColumn = 27;

const CCliOption* FindOption(const std::vector<CCliOption>& options, const std::string& name)
{
    for (const CCliOption& option : options)
        for (const char* n : option.names)
            if (name == n)
                return &option;
    return nullptr;
}

bool LooksLikeOption(const std::string& arg) { return arg.size() > 1 && arg[0] == '-'; }

// The job-file keys by method, a line each.
std::string JobKeysHelp()
{
    std::string text;
    for (const char* method : {"", "Center", "Outline", "FillPattern"}) {
        std::string line = std::string("  ") + (*method ? method : "any method") + ":";
        for (const CJobKey& key : GetJobKeys())
            if (std::string_view(key.methods).find(method) != std::string_view::npos &&
                (*method != 0 || *key.methods == 0))
                line += std::string(" ") + key.name;
        text += "\n" + line;
    }
    return text;
}

}  // namespace

std::string ParseCommandLine(const std::vector<std::string>& args, const std::vector<CCliOption>& options,
                             std::size_t maxPositional, std::vector<std::string>& positional,
                             std::vector<CRasterStep>* steps)
{
    positional.clear();
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (steps != nullptr) {
            std::string error;
            if (ParseRasterStep(args, i, *steps, error)) {
                if (!error.empty())
                    return error;
                continue;
            }
        }
        if (const CCliOption* option = FindOption(options, arg)) {
            // Options are told apart before their values are taken, so an
            // unknown one is never "missing a value".
            if (option->value != nullptr && i + 1 >= args.size())
                return arg + " needs a value";
            const std::string error = option->take(option->value != nullptr ? args[++i] : std::string());
            if (!error.empty())
                return error;
        } else if (LooksLikeOption(arg)) {
            return UnknownOption(arg);
        } else if (positional.size() < maxPositional) {
            positional.push_back(arg);
        } else {
            return "unexpected argument '" + arg + "'";
        }
    }
    return {};
}

std::string HelpRow(const std::string& usage, const std::string& help)
{
    std::string row = "  " + usage;
    row += usage.size() + 2 < kHelpColumn ? std::string(kHelpColumn - 2 - usage.size(), ' ') : std::string(" ");
    for (const char c : help) {
        row += c;
        if (c == '\n')
            row += std::string(kHelpColumn, ' ');
    }
    return row + "\n";
}

std::string CommandOptionsHelp(const std::vector<CCliOption>& options)
{
    std::string help;
    for (const CCliOption& option : options) {
        std::string usage;
        for (const char* name : option.names)
            usage += (usage.empty() ? "" : ", ") + std::string(name);
        if (option.value != nullptr)
            usage += std::string(" ") + option.value;
        help += HelpRow(usage, option.help);
    }
    return help;
}

CCliOption TextOption(std::vector<const char*> names, const char* value, std::string help, std::string& target)
{
    return {std::move(names), value, std::move(help), [&target](const std::string& v) {
                target = v;
                return std::string();
            }};
}

CCliOption SetOption(std::vector<std::string>& settings)
{
    return {{"--set"},
            "KEY=VALUE",
            "one job-file key over the stored options and the job file,\n"
            "read and checked as the job file's; repeatable. Keys:" +
                JobKeysHelp(),
            [&settings](const std::string& v) {
                settings.push_back(v);
                return std::string();
            }};
}
