// trace: a raster file in, a vector file out. Loads the raster (one page of a
// TIFF), makes it one bit, traces it on the worker thread with the terminal
// as its progress display, and writes the drawing when the run finished.

#include "cli/command.h"

#include "cli/drawing_output.h"
#include "cli/raster_steps.h"
#include "cli/stdin_input.h"
#include "cli/terminal_progress.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/text_table.h"
#include "platform/number_text.h"
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

// Exit statuses of the run's result codes, beside kExitFailure and kExitUsage.
constexpr int kExitNoMemory = 3;     // RUN_NO_MEMORY
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
    std::string method;
    std::string format;
    ThresholdMode threshold = ThresholdMode::kStored;
    BYTE grey = 0;
    int page = 0;   // counted from 1; 0 for the whole file
    int unit = -1;  // DrawingUnit; -1 keeps the drawing's
    bool widths = true;
    std::vector<std::string> settings;  // job-file keys, KEY=VALUE
    std::vector<CRasterStep> steps;
};

int Fail(const std::string& message)
{
    std::fprintf(stderr, "lineweft: %s\n", message.c_str());
    return kExitFailure;
}

// Empty on success, else the usage error's message.
std::string ParseArgs(const std::vector<std::string>& args, TraceArgs& out)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string stepError;
        if (ParseRasterStep(args, i, out.steps, stepError)) {
            if (!stepError.empty())
                return stepError;
        } else if (arg.size() > 1 && arg[0] == '-') {
            if (!IsOneOf(arg, {"-o", "--output", "--method", "--format", "--unit", "--widths", "--job", "--section",
                               "--set", "--page", "--threshold", "--threads"}))
                return UnknownOption(arg);
            if (i + 1 >= args.size())
                return arg + " needs a value";
            const std::string& value = args[++i];
            std::int32_t number = 0;
            if (arg == "-o" || arg == "--output") {
                out.output = value;
            } else if (arg == "--method") {
                out.method = value;
            } else if (arg == "--format") {
                out.format = value;
            } else if (arg == "--unit") {
                if (!ParseUnitName(value, out.unit))
                    return "--unit takes inch, cm, mm or pixel";
            } else if (arg == "--widths") {
                if (!ParseOnOff(value, out.widths))
                    return "--widths takes on or off";
            } else if (arg == "--job") {
                out.job = value;
            } else if (arg == "--section") {
                out.section = value;
            } else if (arg == "--set") {
                out.settings.push_back(value);
            } else if (arg == "--page") {
                if (!ParseIntC(value, number) || number < 1 || number > 1000000)
                    return "--page takes a page number from 1";
                out.page = static_cast<int>(number);
            } else if (arg == "--threads") {
                if (!ParseIntC(value, number) || number < 1 || number > 64)
                    return "--threads takes a number from 1 to 64";
                SetRowBandThreads(static_cast<int>(number));
            } else if (arg == "--threshold") {
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
            } else {
                return UnknownOption(arg);
            }
        } else if (out.input.empty()) {
            out.input = arg;
        } else {
            return "unexpected argument '" + arg + "'";
        }
    }
    if (out.input.empty())
        return "trace needs an input raster file";
    if (out.output.empty())
        return "trace needs an output file (-o FILE)";
    if (!out.section.empty() && out.job.empty())
        return "--section needs --job";
    return {};
}

bool ApplyMethod(const std::string& name, CTraceOption& options)
{
    if (name.empty())
        return true;
    if (name == "centerline" || name == "centreline" || name == "center" || name == "centre")
        options.i_AutoTraceWhat = TRACE_CENTER_LINE;
    else if (name == "outline")
        options.i_AutoTraceWhat = TRACE_OUTLINE;
    else if (name == "fill" || name == "fillpattern")
        options.i_AutoTraceWhat = TRACE_FILL_PATTERN;
    else
        return false;
    return true;
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
bool LoadDrawingRaster(const TraceArgs& args, const CTraceOption& options, CGraph& drawing, std::string& error)
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
    if (direct == OneBitLoad::kNoMemory) {
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
bool MakeOneBit(CRasterSrc& image, const TraceArgs& args, const CTraceOption& options, std::string& error)
{
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
    if (!parsed.job.empty()) {
        std::string error;
        std::vector<CJobValueProblem> badValues;
        if (!LoadJobFileOptions(parsed.job, parsed.section, options, &error, &badValues))
            return badValues.empty() ? Fail(error) : UsageError(error);
    }
    // Single keys go over the job file's, as though it held them.
    if (std::string error; !ApplyJobSettings(parsed.settings, options, &error))
        return UsageError(error);
    if (!ApplyMethod(parsed.method, options))
        return UsageError("--method takes centerline, outline or fill");
    // Entities take defaults from the global record as they are made; no
    // interface edits it here, so it may carry this run's options (unsaved).
    GetTraceOption() = options;

    CGraph drawing;
    std::string error;
    if (parsed.unit >= 0)
        (void)drawing.SetUnit(static_cast<std::uint32_t>(parsed.unit));
    if (!LoadDrawingRaster(parsed, options, drawing, error))
        return Fail(error);
    if (!ApplyRasterSteps(drawing.GetRaster()->GetImage(), parsed.steps, error))
        return Fail(error);
    if (!MakeOneBit(drawing.GetRaster()->GetImage(), parsed, options, error))
        return Fail(error);

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
