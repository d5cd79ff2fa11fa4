#include "cli/raster_steps.h"

#include "cli/option_table.h"

#include "raster/freeimage_api.h"
#include "raster/raster_file.h"

#include "model/text_table.h"
#include "platform/message_box.h"
#include "platform/number_text.h"
#include "raster/median.h"
#include "raster/pixel_ops.h"
#include "raster/raster_src.h"
#include "raster/raster_template.h"
#include "raster/resample.h"

#include <cmath>
#include <cstdint>
#include <memory>

namespace {

constexpr int kMaxSide = 1000000;        // the largest side Resample makes
constexpr int kMaxFillPasses = 1000;     // far beyond any hole worth filling
constexpr int kMaxBrightContrast = 100;  // percent either way
constexpr int kMaxPage = 1000000;        // far beyond any file's page count

// Whole decimal fields split by sep, each within lo..hi.
bool ParseIntList(const std::string& text, char sep, std::vector<int>& values, size_t count, int lo, int hi)
{
    values.clear();
    size_t start = 0;
    while (values.size() < count) {
        const size_t end = values.size() + 1 == count ? text.size() : text.find(sep, start);
        if (end == std::string::npos)
            return false;
        std::int32_t value = 0;
        if (!ParseIntC(std::string_view(text).substr(start, end - start), value) || value < lo || value > hi)
            return false;
        values.push_back(static_cast<int>(value));
        start = end + 1;
    }
    return true;
}

bool ParseHexColour(std::string_view text, COLORREF& colour)
{
    if (text.size() != 6)
        return false;
    unsigned value = 0;
    for (char c : text) {
        int digit = 0;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    colour = RGB(static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value));
    return true;
}

bool ApplyTemplateNamed(CRasterSrc& image, const std::string& name, std::string& error)
{
    CRasterTemplateList templates;
    (void)templates.Load();  // the built-in list when none is stored
    const CRasterTemplate* kernel = templates.Find(name);
    if (kernel == nullptr) {
        error = "no raster template named '" + name + "'";
        return false;
    }
    CRasterProcess process(image, nullptr);
    if (!process.ApplyTemplate(*kernel)) {
        error = "--template needs an image of more than 1 bit";
        return false;
    }
    return true;
}

// ---- one row per option: its value, its help and what it does ----------------

// Empty when the value fits the step, else the usage message.
using ParseFn = std::string (*)(const std::string& value, CRasterStep& step);
using HelpFn = std::string (*)();
// False with error set when the step cannot be applied.
using ApplyFn = bool (*)(CRasterSrc& image, const CRasterStep& step, std::string& error);

struct CStepOption {
    const char* name;
    const char* value;  // the value's name in the help; null for a flag
    RasterStepKind kind;
    HelpFn help;
    ParseFn parse;  // null for a flag
    ApplyFn apply;  // null when an earlier row of the same kind applies it
};

std::string ParseRotate(const std::string& value, CRasterStep& step)
{
    if (!ParseDoubleC(value, step.degrees) || !std::isfinite(step.degrees))
        return "--rotate takes an angle in degrees";
    return {};
}

std::string ParseCrop(const std::string& value, CRasterStep& step)
{
    std::vector<int> fields;
    if (!ParseIntList(value, ',', fields, 4, 0, kMaxSide) || fields[2] < 1 || fields[3] < 1)
        return "--crop takes X,Y,W,H with a width and height of at least 1";
    step.x = fields[0];
    step.y = fields[1];
    step.width = fields[2];
    step.height = fields[3];
    return {};
}

std::string ParseMedian(const std::string& value, CRasterStep& step)
{
    std::int32_t number = 0;
    if (!ParseIntC(value, number) || !IsValidMedianSize(number))
        return FormatC("--median takes an odd size from %d to %d", kMinMedianSize, kMaxMedianSize);
    step.size = number;
    return {};
}

std::string ParseFillHoles(const std::string& value, CRasterStep& step)
{
    std::int32_t number = 0;
    if (!ParseIntC(value, number) || number < 0 || number > kMaxFillPasses)
        return FormatC("--fill-holes takes a number of passes from 0 to %d", kMaxFillPasses);
    step.size = number;
    return {};
}

std::string ParseTemplate(const std::string& value, CRasterStep& step)
{
    if (value.empty())
        return "--template takes a template name";
    step.name = value;
    return {};
}

std::string ParseResample(const std::string& value, CRasterStep& step)
{
    std::vector<int> fields;
    const size_t colon = value.find(':');
    if (!ParseIntList(value.substr(0, colon), 'x', fields, 2, 1, kMaxSide))
        return FormatC("--resample takes WxH[:FILTER], sides from 1 to %d", kMaxSide);
    step.width = fields[0];
    step.height = fields[1];
    step.filter = FindStretchFilter(colon == std::string::npos ? "lanczos3" : value.substr(colon + 1));
    if (step.filter < 0)
        return "--resample filters: triangle, box, hermite, bell, spline, lanczos3, mitchell";
    return {};
}

bool ParsePercent(const std::string& value, int& percent)
{
    std::int32_t number = 0;
    if (!ParseIntC(value, number) || number < -kMaxBrightContrast || number > kMaxBrightContrast)
        return false;
    percent = number;
    return true;
}

std::string ParseBrightness(const std::string& value, CRasterStep& step)
{
    if (!ParsePercent(value, step.brightness))
        return "--brightness takes a value from -100 to 100";
    step.hasBrightness = true;
    return {};
}

std::string ParseContrast(const std::string& value, CRasterStep& step)
{
    if (!ParsePercent(value, step.contrast))
        return "--contrast takes a value from -100 to 100";
    step.hasContrast = true;
    return {};
}

std::string ParseReplaceColour(const std::string& value, CRasterStep& step)
{
    const size_t colon = value.find(':');
    if (colon == std::string::npos || !ParseHexColour(std::string_view(value).substr(0, colon), step.from) ||
        !ParseHexColour(std::string_view(value).substr(colon + 1), step.to))
        return "--replace-colour takes FROM:TO as RRGGBB hex colours (ff0000:ffffff)";
    return {};
}

bool ApplyInvert(CRasterSrc& image, const CRasterStep&, std::string& error)
{
    if (!Invert(image))
        error = "--invert failed";
    return error.empty();
}

bool ApplyFlip(CRasterSrc& image, const CRasterStep&, std::string& error)
{
    if (!FlipVertical(image))
        error = "--flip failed";
    return error.empty();
}

bool ApplyMirror(CRasterSrc& image, const CRasterStep&, std::string& error)
{
    if (!FlipHorizontal(image))
        error = "--mirror failed";
    return error.empty();
}

bool ApplyRotate(CRasterSrc& image, const CRasterStep& step, std::string& error)
{
    if (!(image.GetBitCount() == 1 ? Rotate1Bit(image, step.degrees) : Rotate(image, step.degrees)))
        error = "--rotate failed (not enough memory?)";
    return error.empty();
}

bool ApplyCrop(CRasterSrc& image, const CRasterStep& step, std::string& error)
{
    // The option gives a width and height; Crop takes the far corner.
    if (step.x + step.width > image.GetWidth() || step.y + step.height > image.GetHeight()) {
        error = FormatC("--crop %d,%d,%d,%d lies outside the %d x %d image", step.x, step.y, step.width, step.height,
                        image.GetWidth(), image.GetHeight());
    } else if (!image.Crop(step.x, step.y, step.x + step.width, step.y + step.height)) {
        error = "--crop failed";
    }
    return error.empty();
}

bool ApplyMedian(CRasterSrc& image, const CRasterStep& step, std::string& error)
{
    if (!ApplyMedianFilter(image, step.size))
        error = "--median failed";
    return error.empty();
}

bool ApplyFillHoles(CRasterSrc& image, const CRasterStep& step, std::string& error)
{
    if (!SmoothFilter(image, step.size))
        error = image.GetBitCount() == 1 ? "--fill-holes failed" : "--fill-holes needs a 1-bit image";
    return error.empty();
}

bool ApplyTemplate(CRasterSrc& image, const CRasterStep& step, std::string& error)
{
    return ApplyTemplateNamed(image, step.name, error);
}

bool ApplyResample(CRasterSrc& image, const CRasterStep& step, std::string& error)
{
    const std::unique_ptr<CStrecthFilter> kernel = CreateStretchFilter(step.filter);
    if (!kernel || !image.Resample(step.width, step.height, 0, *kernel))
        error = "--resample failed (not enough memory?)";
    return error.empty();
}

bool ApplyBrightContrast(CRasterSrc& image, const CRasterStep& step, std::string& error)
{
    CRasterProcess process(image, nullptr);
    if (!process.AdjustBrightContrast(step.brightness, step.contrast))
        error = "--brightness and --contrast need an image of more than 1 bit";
    return error.empty();
}

bool ApplyReplaceColour(CRasterSrc& image, const CRasterStep& step, std::string& error)
{
    CRasterProcess process(image, nullptr);
    if (!process.ReplaceColor(step.from, step.to, 0))
        error = "--replace-colour needs an image of more than 1 bit";
    return error.empty();
}

std::string TemplateHelp()
{
    std::string templates;
    CRasterTemplateList list;
    (void)list.Load();  // the built-in list when none is stored
    for (const CRasterTemplate* t = list.Items().MoveToHead(); t; t = list.Items().MoveNext())
        templates += (templates.empty() ? "\"" : ", \"") + t->GetName() + "\"";
    return "apply a convolution template of the stored list:\n" + templates;
}

std::string ResampleHelp()
{
    std::string filters;
    for (int i = 0; i < kStretchFilterCount; ++i)
        filters += std::string(i ? ", " : "") + std::string(GetStretchFilterName(i));
    return FormatC("resample to W x H pixels, each side 1 to %d; FILTER:\n", kMaxSide) + filters +
           " (default lanczos3)";
}

const CStepOption kStepOptions[] = {
    {"--invert", nullptr, RasterStepKind::kInvert, [] { return std::string("invert the colours"); }, nullptr,
     ApplyInvert},
    {"--flip", nullptr, RasterStepKind::kFlip, [] { return std::string("turn top to bottom"); }, nullptr, ApplyFlip},
    {"--mirror", nullptr, RasterStepKind::kMirror, [] { return std::string("turn left to right"); }, nullptr,
     ApplyMirror},
    {"--rotate", "DEG", RasterStepKind::kRotate,
     [] { return std::string("rotate by DEG degrees, clockwise on the screen"); }, ParseRotate, ApplyRotate},
    {"--crop", "X,Y,W,H", RasterStepKind::kCrop,
     [] { return std::string("keep W x H pixels from column X, row Y (from the top left)"); }, ParseCrop, ApplyCrop},
    {"--median", "N", RasterStepKind::kMedian,
     [] { return FormatC("median filter, N odd from %d to %d", kMinMedianSize, kMaxMedianSize); }, ParseMedian,
     ApplyMedian},
    {"--fill-holes", "N", RasterStepKind::kFillHoles,
     [] { return FormatC("fill holes of a 1-bit image, N passes from 0 to %d", kMaxFillPasses); }, ParseFillHoles,
     ApplyFillHoles},
    {"--template", "NAME", RasterStepKind::kTemplate, TemplateHelp, ParseTemplate, ApplyTemplate},
    {"--resample", "WxH[:FILTER]", RasterStepKind::kResample, ResampleHelp, ParseResample, ApplyResample},
    {"--brightness", "B", RasterStepKind::kBrightContrast, [] { return std::string("brightness from -100 to 100"); },
     ParseBrightness, ApplyBrightContrast},
    {"--contrast", "C", RasterStepKind::kBrightContrast, [] { return std::string("contrast from -100 to 100"); },
     ParseContrast, nullptr},
    {"--replace-colour", "FROM:TO", RasterStepKind::kReplaceColour,
     [] { return std::string("replace a colour, both as RRGGBB hex (ff0000:ffffff)"); }, ParseReplaceColour,
     ApplyReplaceColour},
};

const CStepOption* FindOption(const std::string& name)
{
    for (const CStepOption& option : kStepOptions)
        if (name == option.name)
            return &option;
    return nullptr;
}

ApplyFn FindApply(RasterStepKind kind)
{
    for (const CStepOption& option : kStepOptions)
        if (option.kind == kind && option.apply)
            return option.apply;
    return nullptr;
}

// Runs one step with the message hook recording what the kernel would show:
// on failure that text says more than the option's own message, and tells
// a shortage of memory from other failures.
bool ApplyStep(CRasterSrc& image, const CRasterStep& step, std::string& error, bool& outOfMemory)
{
    const ApplyFn apply = FindApply(step.kind);
    if (apply == nullptr) {
        error = "unknown raster step";
        return false;
    }
    struct Shown {
        std::string text, caption;
        unsigned type;
    };
    std::vector<Shown> shown;
    MessageBoxHook previous =
        SetMessageBoxHook([&](const std::string& text, const std::string& caption, unsigned type) {
            shown.push_back({text, caption, type});
            return (type & 0xF) == MB_YESNO || (type & 0xF) == MB_YESNOCANCEL ? IDYES : IDOK;
        });
    const bool done = apply(image, step, error);
    SetMessageBoxHook(previous);
    if (done) {
        for (const Shown& message : shown)
            (void)ShowMessageBox(message.text, message.caption, message.type);
        return true;
    }
    if (!shown.empty()) {
        error.clear();
        const std::string noMemory = GetLanString("NoMemoryMsg", "Not enough memory to perform operation !");
        for (const Shown& message : shown) {
            error += (error.empty() ? "" : "; ") + message.text;
            outOfMemory = outOfMemory || message.text == noMemory;
        }
    }
    return false;
}

}  // namespace

bool ParseRasterStep(const std::vector<std::string>& args, size_t& i, std::vector<CRasterStep>& steps,
                     std::string& error)
{
    const CStepOption* option = FindOption(args[i]);
    if (option == nullptr)
        return false;
    CRasterStep step;
    step.kind = option->kind;
    if (option->parse == nullptr) {
        steps.push_back(step);
        return true;
    }
    if (i + 1 >= args.size()) {
        error = std::string(option->name) + " needs a value";
        return true;
    }
    // Brightness and contrast share one step, as long as neither is given twice.
    CRasterStep* last = steps.empty() ? nullptr : &steps.back();
    const bool join = option->kind == RasterStepKind::kBrightContrast && last != nullptr &&
                      last->kind == RasterStepKind::kBrightContrast &&
                      !(option->parse == ParseBrightness ? last->hasBrightness : last->hasContrast);
    CRasterStep& target = join ? *last : step;
    error = option->parse(args[++i], target);
    if (error.empty() && !join)
        steps.push_back(step);
    return true;
}

std::string RasterStepsHelp()
{
    std::string help;
    for (const CStepOption& option : kStepOptions) {
        const std::string usage = std::string(option.name) + (option.value ? std::string(" ") + option.value : "");
        help += HelpRow(usage, option.help());
    }
    return help;
}

bool ApplyRasterSteps(CRasterSrc& image, const std::vector<CRasterStep>& steps, std::string& error, bool& outOfMemory)
{
    error.clear();
    outOfMemory = false;
    for (const CRasterStep& step : steps) {
        if (!ApplyStep(image, step, error, outOfMemory))
            return false;
    }
    return true;
}

namespace {

std::string LoadErrorMessage(const std::string& path, RasterLoadError error, const std::string& detail)
{
    std::string message = "cannot read '" + path + "': " + RasterLoadErrorText(error);
    if (!detail.empty())
        message += " (" + detail + ")";
    return message;
}

}  // namespace

CCliOption PageOption(int& page)
{
    return {{"--page"}, "N", "the page of a multi-page TIFF, counted from 1", [&page](const std::string& value) {
                std::int32_t number = 0;
                if (!ParseIntC(value, number) || number < 1 || number > kMaxPage)
                    return std::string("--page takes a page number from 1");
                page = static_cast<int>(number);
                return std::string();
            }};
}

bool LoadRasterPage(const std::string& path, int page, CRasterSrc& image, std::string& error)
{
    RasterLoadError why = RasterLoadError::kNone;
    std::string detail;
    FIBITMAP* bitmap = nullptr;
    CRasterLoader loader;
    if (page > 0 && loader.Open(path)) {
        if (page > loader.GetPageCount()) {
            error = FormatC("'%s' has %d page(s)", path.c_str(), loader.GetPageCount());
            return false;
        }
        bitmap = loader.CopyPage(page - 1, &why, &detail);
    } else if (page > 1) {
        error = "'" + path + "' has one page";
        return false;
    } else {
        bitmap = LoadRasterFile(path, &why, &detail);
    }
    if (bitmap == nullptr) {
        error = LoadErrorMessage(path, why, detail);
        return false;
    }
    if (!image.Attach(bitmap)) {
        FreeImage_Unload(bitmap);
        error = LoadErrorMessage(path, RasterLoadError::kUnsupportedLayout, {});
        return false;
    }
    WarnOfRasterDamage(path);
    return true;
}

void WarnOfRasterDamage(const std::string& shown)
{
    const std::string& damage = GetLastRasterLoadWarning();
    if (!damage.empty())
        std::fprintf(stderr, "lineweft: warning: '%s' is damaged (%s); it was read as far as it goes\n", shown.c_str(),
                     damage.c_str());
}
