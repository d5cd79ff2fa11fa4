// trace: a raster file in, a vector file out. Loads the raster (one page of a
// TIFF), makes it one bit, traces it on the worker thread with the terminal
// as its progress display, and writes the drawing when the run finished.

#include "cli/command.h"

#include "cli/drawing_output.h"
#include "cli/option_table.h"
#include "cli/raster_steps.h"
#include "cli/stdin_input.h"
#include "cli/terminal_progress.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/text_table.h"
#include "platform/number_text.h"
#include "platform/settings_store.h"
#include "platform/text_trim.h"
#include "raster/raster_entity.h"
#include "raster/raster_file.h"
#include "raster/raster_src.h"
#include "raster/row_bands.h"
#include "trace/common_thread.h"
#include "trace/option_text.h"
#include "trace/trace_option.h"
#include "trace/trace_run.h"

#include <cstdint>
#include <cstdio>

namespace {

// Exit statuses of the run's result codes, beside kExitFailure, kExitUsage
// and kExitNoMemory.
constexpr int kExitFillFailed = 4;   // RUN_FILL_FAILED
constexpr int kExitStopped = 5;      // RUN_STOPPED
constexpr int kExitTraceFailed = 6;  // RUN_FAILED, or no result at all

// The dynamic threshold's tile and factor: tiles well above a stroke's width,
// and a threshold a little below the tile's mean so paper noise stays white.
constexpr int kDynamicTile = 64;
constexpr float kDynamicFactor = 0.85f;

enum class ThresholdMode { kStored, kAuto, kFixed, kDynamic };

struct TraceArgs {
    std::string input;
    std::string output;
    std::string job;
    std::string section;
    UINT method = 0;  // TRACE_CENTER_LINE...; 0 keeps the options'
    std::string format;
    ThresholdMode threshold = ThresholdMode::kStored;
    BYTE grey = 0;
    int page = 0;   // counted from 1; 0 for the whole file
    int unit = -1;  // DrawingUnit; -1 keeps the drawing's
    bool widths = true;
    std::vector<std::string> settings;  // job-file keys, KEY=VALUE
    std::vector<CRasterStep> steps;
};

int Fail(const std::string& message, bool outOfMemory = false)
{
    std::fprintf(stderr, "lineweft: %s\n", message.c_str());
    return outOfMemory ? kExitNoMemory : kExitFailure;
}

std::string ParseMethod(const std::string& name, UINT& method)
{
    if (IsOneOf(name, {"centerline", "centreline", "center", "centre"}))
        method = TRACE_CENTER_LINE;
    else if (name == "outline")
        method = TRACE_OUTLINE;
    else if (name == "fill" || name == "fillpattern")
        method = TRACE_FILL_PATTERN;
    else
        return "--method takes centerline, outline or fill";
    return {};
}

std::string ParseThreshold(const std::string& value, TraceArgs& out)
{
    std::int32_t number = 0;
    if (value == "auto") {
        out.threshold = ThresholdMode::kAuto;
    } else if (value == "dynamic") {
        out.threshold = ThresholdMode::kDynamic;
    } else if (ParseIntC(value, number) && number >= 0 && number <= 255) {
        out.threshold = ThresholdMode::kFixed;
        out.grey = static_cast<BYTE>(number);
    } else {
        return "--threshold takes auto, dynamic or a grey level 0 to 255";
    }
    return {};
}

std::string ParseThreads(const std::string& value)
{
    std::int32_t number = 0;
    if (!ParseIntC(value, number) || number < 1 || number > 64)
        return "--threads takes a number from 1 to 64";
    SetRowBandThreads(static_cast<int>(number));
    return {};
}

std::vector<CCliOption> TraceOptions(TraceArgs& out)
{
    std::vector<CCliOption> options = {TextOption({"-o", "--output"}, "FILE", "the file to write", out.output)};
    AddDrawingOutputOptions(options, out.format, out.unit, out.widths);
    options.push_back({{"--method"},
                       "NAME",
                       "centerline (or centreline, center, centre), outline, fill (or\n"
                       "fillpattern); default: the stored options",
                       [&out](const std::string& v) { return ParseMethod(v, out.method); }});
    options.push_back({{"--threshold"},
                       "VALUE",
                       "auto, dynamic, or a grey level 0 to 255; default: the stored options",
                       [&out](const std::string& v) { return ParseThreshold(v, out); }});
    options.push_back(PageOption(out.page));
    options.push_back(TextOption({"--job"}, "FILE.lwj", "take the tracing options from a job file", out.job));
    options.push_back(TextOption({"--section"}, "NAME", "the job file's section (default: the first with a Method key)",
                                 out.section));
    options.push_back(SetOption(out.settings));
    options.push_back({{"--threads"},
                       "N",
                       "threads for the kernels, 1 to 64; default: LW_THREADS, else the\n"
                       "cores the process may use",
                       ParseThreads});
    return options;
}

// Empty on success, else the usage error's message.
std::string ParseArgs(const std::vector<std::string>& args, TraceArgs& out)
{
    std::vector<std::string> positional;
    if (std::string error = ParseCommandLine(args, TraceOptions(out), 1, positional, &out.steps); !error.empty())
        return error;
    if (positional.empty())
        return "trace needs an input raster file";
    out.input = positional[0];
    if (out.output.empty())
        return "trace needs an output file (-o FILE)";
    if (!out.section.empty() && out.job.empty())
        return "--section needs --job";
    return {};
}

// The job file's options, then the method, then the single keys, which are
// so read, and checked, as the chosen method's whatever their order. Empty
// on success, else the message, with status saying whether it is a usage
// error.
std::string ChooseOptions(const TraceArgs& args, CTraceOption& options, int& status)
{
    status = kExitUsage;
    if (!args.job.empty()) {
        std::string error;
        std::vector<CJobValueProblem> badValues;
        if (!LoadJobFileOptions(args.job, args.section, options, &error, &badValues)) {
            if (badValues.empty())
                status = kExitFailure;
            return error;
        }
    }
    if (args.method != 0) {
        for (const std::string& setting : args.settings)
            if (FoldSettingName(TrimChars(std::string_view(setting).substr(0, setting.find('=')), " \t\v\f")) ==
                "method")
                return "give the method once: --method or --set " + setting;
        options.i_AutoTraceWhat = args.method;
    }
    if (std::string error; !ApplyJobSettings(args.settings, options, &error))
        return error;
    return {};
}

// The fixed threshold, and whether the histogram's automatic one replaces
// it when the histogram has one.
struct GreyChoice {
    BYTE grey;
    bool automatic;
};

GreyChoice ChooseGrey(const TraceArgs& args, const CTraceOption& options)
{
    if (args.threshold == ThresholdMode::kFixed)
        return {args.grey, false};
    return {options.i_Gray, args.threshold == ThresholdMode::kAuto || options.b_AutoGray};
}

// The file (or the page of a TIFF) as the drawing's raster at the origin. A
// colour BMP that goes straight to a fixed or automatic threshold is
// thresholded as it is read (MakeOneBit then has nothing left to do), which
// spares copying its colour pixels.
bool LoadDrawingRaster(const TraceArgs& args, const CTraceOption& options, CGraph& drawing, std::string& error,
                       bool& outOfMemory)
{
    CRaster* raster = drawing.GetRaster();
    if (raster == nullptr) {
        error = "no raster entity";
        return false;
    }
    CRasterSrc& image = raster->GetImage();
    OneBitLoad direct = OneBitLoad::kNotInPlace;
    if (args.steps.empty() && args.page <= 1 && args.threshold != ThresholdMode::kDynamic) {
        const GreyChoice choice = ChooseGrey(args, options);
        direct = LoadBmpAsOneBit(args.input, choice.grey, choice.automatic, image);
    }
    outOfMemory = direct == OneBitLoad::kNoMemory;
    if (outOfMemory) {
        error = GetLanString("NoMemoryMsg", "Not enough memory to perform operation !");
        return false;
    }
    if (direct == OneBitLoad::kNotInPlace && !LoadRasterPage(args.input, args.page, image, error))
        return false;
    const BITMAPINFOHEADER* header = image.GetHeader();
    raster->SetResolution(header->biXPelsPerMeter > 0 ? static_cast<std::uint32_t>(header->biXPelsPerMeter) : 0,
                          header->biYPelsPerMeter > 0 ? static_cast<std::uint32_t>(header->biYPelsPerMeter) : 0);
    (void)raster->SetOrigin(0.0, 0.0);
    raster->InvalidateDisplayCache();
    return true;
}

// One bit per pixel by the chosen threshold; a raster already one bit stays.
bool MakeOneBit(CRasterSrc& image, const TraceArgs& args, const CTraceOption& options, std::string& error,
                bool& outOfMemory)
{
    outOfMemory = false;
    if (image.GetBitCount() == 1)
        return true;
    if (image.GetBitCount() <= 8 && image.GetColorsUsed() < 2) {
        error = GetLanString("TraceTwoColorsMsg", "A raster needs at least two colours to be traced.");
        return false;
    }
    bool converted = false;
    if (args.threshold == ThresholdMode::kDynamic) {
        converted = image.SmartThreshold(kDynamicTile, kDynamicFactor);
    } else {
        const GreyChoice choice = ChooseGrey(args, options);
        BYTE grey = choice.grey;
        if (choice.automatic) {
            // A histogram without a valley (a blank page) keeps the stored level.
            const BYTE found = image.GetAutoThreshold();
            if (found != 0)
                grey = found;
        }
        converted = image.ConvertTo1Bit(grey);
    }
    if (!converted)
        error = GetLanString("NoMemoryMsg", "Not enough memory to perform operation !");
    outOfMemory = !converted;
    return converted;
}

int ExitStatusOf(DWORD code)
{
    switch (code) {
    case RUN_FINISHED: return kExitOk;
    case RUN_NO_MEMORY: return kExitNoMemory;
    case RUN_FILL_FAILED: return kExitFillFailed;
    case RUN_STOPPED: return kExitStopped;
    default: return kExitTraceFailed;
    }
}

}  // namespace

int RunTrace(const std::vector<std::string>& args)
{
    TraceArgs parsed;
    if (std::string problem = ParseArgs(args, parsed); !problem.empty())
        return UsageError(problem);

    CDrawingOutput output;
    if (const int status = ChooseDrawingOutput(parsed.output, parsed.format, output); status != kExitOk)
        return status;

    CStdinInput stdinInput;
    if (std::string error; !stdinInput.Take(parsed.input, error))
        return Fail(error);

    GetTraceOption().LoadFromRegistry();
    CTraceOption options = SnapshotTraceOption();
    int optionStatus = kExitOk;
    if (std::string error = ChooseOptions(parsed, options, optionStatus); !error.empty())
        return optionStatus == kExitUsage ? UsageError(error) : Fail(error);
    // Entities take defaults from the global record as they are made; no
    // interface edits it here, so it may carry this run's options (unsaved).
    GetTraceOption() = options;

    CGraph drawing;
    std::string error;
    bool outOfMemory = false;
    if (parsed.unit >= 0)
        (void)drawing.SetUnit(static_cast<std::uint32_t>(parsed.unit));
    if (!LoadDrawingRaster(parsed, options, drawing, error, outOfMemory) ||
        !ApplyRasterSteps(drawing.GetRaster()->GetImage(), parsed.steps, error, outOfMemory) ||
        !MakeOneBit(drawing.GetRaster()->GetImage(), parsed, options, error, outOfMemory))
        return Fail(error, outOfMemory);

    const CTraceRunResult result = TraceDrawing(&drawing, options, RunWithTerminalProgress);
    const int status = ExitStatusOf(result.code);
    // A run that ended early holds part of a drawing at best: writing it
    // would replace a good earlier output with a fragment.
    if (result.code != RUN_FINISHED) {
        std::fprintf(stderr, "lineweft: %s\n", TraceResultText(result.code).c_str());
        std::fprintf(stderr, "lineweft: nothing was written to %s\n", parsed.output.c_str());
        return status;
    }

    // A project keeps the raster as traced (one bit), so work can resume on it.
    if (!WriteDrawingOutput(drawing, parsed.output, output, parsed.widths, error))
        return Fail("cannot write '" + parsed.output + "': " + error);
    const int entities = drawing.GetEntityCount();
    std::fprintf(stderr, "%s: %d entities, traced in %.1f s\n", parsed.output.c_str(), entities,
                 result.elapsedMs / 1000.0);
    stdinInput.Remove();
    return ExitSkippingTeardown(status);
}

std::string TraceDetails()
{
    TraceArgs unused;
    return std::string("\n") + kStdinNote +
           "INPUT is a raster file: BMP, JPEG, PCX, TARGA or TIFF.\n\n"
           "Options:\n" +
           CommandOptionsHelp(TraceOptions(unused)) + "\nSteps, applied in the order given before the threshold:\n" +
           RasterStepsHelp() +
           "\nExit status: 0 done, 1 failed, 2 usage or a bad value in the job file, 3 out of memory,\n"
           "4 hatch fill failed, 5 stopped, 6 tracing failed\n";
}
