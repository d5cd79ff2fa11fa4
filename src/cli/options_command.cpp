// options: show the stored tracing options as job-file text, load them from a
// job file or reset them to the defaults. Whatever is loaded or reset is
// saved, so later runs trace with it.
#include "cli/command.h"

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

}  // namespace

int RunOptions(const std::vector<std::string>& args)
{
    std::string loadPath, section;
    bool reset = false, describe = false, haveSection = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--load" || arg == "--section") {
            if (i + 1 >= args.size())
                return UsageError(arg + " needs a value");
            const std::string& value = args[++i];
            if (arg == "--load") {
                if (!loadPath.empty())
                    return UsageError("--load given twice");
                loadPath = value;
            } else {
                section = value;
                haveSection = true;
            }
        } else if (arg == "--reset") {
            reset = true;
        } else if (arg == "--describe") {
            describe = true;
        } else {
            return UsageError(arg.size() > 1 && arg[0] == '-' ? UnknownOption(arg)
                                                              : "unexpected argument '" + arg + "'");
        }
    }
    if (reset && !loadPath.empty())
        return UsageError("--load and --reset cannot be combined");
    if (haveSection && loadPath.empty())
        return UsageError("--section needs --load");
    if (haveSection && section.empty())
        return UsageError("--section needs a name");

    CTraceOption& option = GetTraceOption();
    option.LoadFromRegistry();
    if (reset || !loadPath.empty()) {
        CTraceOption changed(option);
        if (reset) {
            changed.SetDefaults();
        } else {
            std::string error;
            std::vector<CJobValueProblem> badValues;
            if (!LoadJobFileOptions(loadPath, section, changed, &error, &badValues)) {
                if (!badValues.empty())
                    return UsageError(error);
                std::fprintf(stderr, "lineweft: %s\n", error.c_str());
                return kExitFailure;
            }
        }
        option = changed;
        if (!option.SaveToRegistry()) {
            std::fprintf(stderr, "lineweft: the options could not be saved\n");
            return kExitFailure;
        }
    }
    PrintOptions(option, describe);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}
