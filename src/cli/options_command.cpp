// options: show the stored tracing options as job-file text, load them from a
// job file, set single keys or reset them to the defaults. Whatever is
// loaded, set or reset is saved, so later runs trace with it.
#include "cli/command.h"

#include "cli/option_table.h"
#include "trace/option_text.h"
#include "trace/trace_option.h"

#include <cstdio>

namespace {

void PrintOptions(const CTraceOption& option, bool describe)
{
    if (describe) {
        std::fputs(option.GetDescriptionText().c_str(), stdout);
        return;
    }
    // A section header makes the output a job file that --load reads back.
    std::printf("[%s]\n", kJobOptionSection);
    std::fputs(option.GetJobText().c_str(), stdout);
}

struct OptionsArgs {
    std::string loadPath;
    std::string section;
    std::vector<std::string> settings;
    bool reset = false;
    bool describe = false;
    bool haveSection = false;
};

std::vector<CCliOption> OptionsOptions(OptionsArgs& out)
{
    auto flag = [](const char* name, const char* help, bool& on) {
        return CCliOption{{name}, nullptr, help, [&on](const std::string&) {
                              on = true;
                              return std::string();
                          }};
    };
    return {
        {{"--load"},
         "FILE.lwj",
         "load and store the options of a job file",
         [&out](const std::string& value) {
             if (!out.loadPath.empty())
                 return std::string("--load given twice");
             out.loadPath = value;
             return std::string();
         }},
        {{"--section"},
         "NAME",
         "the job file's section (default: the first with a Method key)",
         [&out](const std::string& value) {
             out.section = value;
             out.haveSection = true;
             return std::string();
         }},
        SetOption(out.settings),
        flag("--reset", "store the default options", out.reset),
        flag("--describe", "print the options as a readable summary", out.describe),
    };
}

}  // namespace

int RunOptions(const std::vector<std::string>& args)
{
    OptionsArgs parsed;
    std::vector<std::string> positional;
    if (std::string error = ParseCommandLine(args, OptionsOptions(parsed), 0, positional); !error.empty())
        return UsageError(error);
    const std::string& loadPath = parsed.loadPath;
    const bool reset = parsed.reset;
    if (reset && !loadPath.empty())
        return UsageError("--load and --reset cannot be combined");
    if (parsed.haveSection && loadPath.empty())
        return UsageError("--section needs --load");
    if (parsed.haveSection && parsed.section.empty())
        return UsageError("--section needs a name");

    CTraceOption& option = GetTraceOption();
    option.LoadFromRegistry();
    if (reset || !loadPath.empty() || !parsed.settings.empty()) {
        CTraceOption changed(option);
        if (reset) {
            // A fresh record: the presets leave the width series alone, and a
            // stored series name would load back as a changed chart type.
            changed = CTraceOption();
        } else if (!loadPath.empty()) {
            std::string error;
            std::vector<CJobValueProblem> badValues;
            if (!LoadJobFileOptions(loadPath, parsed.section, changed, &error, &badValues)) {
                if (!badValues.empty())
                    return UsageError(error);
                std::fprintf(stderr, "lineweft: %s\n", error.c_str());
                return kExitFailure;
            }
        }
        if (std::string error; !ApplyJobSettings(parsed.settings, changed, &error))
            return UsageError(error);
        option = changed;
        if (!option.SaveToRegistry()) {
            std::fprintf(stderr, "lineweft: the options could not be saved\n");
            return kExitFailure;
        }
    }
    PrintOptions(option, parsed.describe);
    return kExitOk;
}

std::string OptionsDetails()
{
    OptionsArgs unused;
    return "\nOptions:\n" + CommandOptionsHelp(OptionsOptions(unused)) +
           "A bad value in the job file or in --set is reported (with its line) and the status is 2.\n";
}
