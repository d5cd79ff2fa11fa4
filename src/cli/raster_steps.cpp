#include "cli/raster_steps.h"

#include "raster/freeimage_api.h"
#include "raster/raster_file.h"

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

// Empty when the value makes a step, else the usage message.
std::string ParseValue(const std::string& option, const std::string& value, std::vector<CRasterStep>& steps)
{
    CRasterStep step;
    std::int32_t number = 0;
    std::vector<int> fields;
    if (option == "--rotate") {
        step.kind = RasterStepKind::kRotate;
        if (!ParseDoubleC(value, step.degrees) || !std::isfinite(step.degrees))
            return "--rotate takes an angle in degrees";
    } else if (option == "--crop") {
        step.kind = RasterStepKind::kCrop;
        if (!ParseIntList(value, ',', fields, 4, 0, kMaxSide) || fields[2] < 1 || fields[3] < 1)
            return "--crop takes X,Y,W,H with a width and height of at least 1";
        step.x = fields[0];
        step.y = fields[1];
        step.width = fields[2];
        step.height = fields[3];
    } else if (option == "--median") {
        step.kind = RasterStepKind::kMedian;
        if (!ParseIntC(value, number) || !IsValidMedianSize(number))
            return FormatC("--median takes an odd size from %d to %d", kMinMedianSize, kMaxMedianSize);
        step.size = number;
    } else if (option == "--fill-holes") {
        step.kind = RasterStepKind::kFillHoles;
        if (!ParseIntC(value, number) || number < 0 || number > kMaxFillPasses)
            return FormatC("--fill-holes takes a number of passes from 0 to %d", kMaxFillPasses);
        step.size = number;
    } else if (option == "--template") {
        step.kind = RasterStepKind::kTemplate;
        if (value.empty())
            return "--template takes a template name";
        step.name = value;
    } else if (option == "--resample") {
        step.kind = RasterStepKind::kResample;
        const size_t colon = value.find(':');
        const std::string size = value.substr(0, colon);
        if (!ParseIntList(size, 'x', fields, 2, 1, kMaxSide))
            return FormatC("--resample takes WxH[:FILTER], sides from 1 to %d", kMaxSide);
        step.width = fields[0];
        step.height = fields[1];
        step.filter = FindStretchFilter(colon == std::string::npos ? "lanczos3" : value.substr(colon + 1));
        if (step.filter < 0)
            return "--resample filters: triangle, box, hermite, bell, spline, lanczos3, mitchell";
    } else if (option == "--brightness" || option == "--contrast") {
        const bool brightness = option == "--brightness";
        if (!ParseIntC(value, number) || number < -kMaxBrightContrast || number > kMaxBrightContrast)
            return option + " takes a value from -100 to 100";
        // One step for both, as long as the option is not given twice.
        CRasterStep* last = steps.empty() ? nullptr : &steps.back();
        if (last == nullptr || last->kind != RasterStepKind::kBrightContrast ||
            (brightness ? last->hasBrightness : last->hasContrast)) {
            step.kind = RasterStepKind::kBrightContrast;
            steps.push_back(step);
            last = &steps.back();
        }
        (brightness ? last->brightness : last->contrast) = number;
        (brightness ? last->hasBrightness : last->hasContrast) = true;
        return {};
    } else {  // --replace-colour
        step.kind = RasterStepKind::kReplaceColour;
        const size_t colon = value.find(':');
        if (colon == std::string::npos || !ParseHexColour(std::string_view(value).substr(0, colon), step.from) ||
            !ParseHexColour(std::string_view(value).substr(colon + 1), step.to))
            return "--replace-colour takes FROM:TO as RRGGBB hex colours (ff0000:ffffff)";
    }
    steps.push_back(step);
    return {};
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

bool ApplyStep(CRasterSrc& image, const CRasterStep& step, std::string& error)
{
    switch (step.kind) {
    case RasterStepKind::kInvert:
        if (!Invert(image))
            error = "--invert failed";
        break;
    case RasterStepKind::kFlip:
        if (!FlipVertical(image))
            error = "--flip failed";
        break;
    case RasterStepKind::kMirror:
        if (!FlipHorizontal(image))
            error = "--mirror failed";
        break;
    case RasterStepKind::kRotate:
        if (!(image.GetBitCount() == 1 ? Rotate1Bit(image, step.degrees) : Rotate(image, step.degrees)))
            error = "--rotate failed (not enough memory?)";
        break;
    case RasterStepKind::kCrop:
        // The option gives a width and height; Crop takes the far corner.
        if (step.x + step.width > image.GetWidth() || step.y + step.height > image.GetHeight()) {
            error = FormatC("--crop %d,%d,%d,%d lies outside the %d x %d image", step.x, step.y, step.width,
                            step.height, image.GetWidth(), image.GetHeight());
        } else if (!image.Crop(step.x, step.y, step.x + step.width, step.y + step.height)) {
            error = "--crop failed";
        }
        break;
    case RasterStepKind::kMedian:
        if (!ApplyMedianFilter(image, step.size))
            error = "--median failed";
        break;
    case RasterStepKind::kFillHoles:
        if (!SmoothFilter(image, step.size))
            error = image.GetBitCount() == 1 ? "--fill-holes failed" : "--fill-holes needs a 1-bit image";
        break;
    case RasterStepKind::kTemplate:
        return ApplyTemplateNamed(image, step.name, error);
    case RasterStepKind::kResample: {
        const std::unique_ptr<CStrecthFilter> kernel = CreateStretchFilter(step.filter);
        if (!kernel || !image.Resample(step.width, step.height, 0, *kernel))
            error = "--resample failed (not enough memory?)";
        break;
    }
    case RasterStepKind::kBrightContrast: {
        CRasterProcess process(image, nullptr);
        if (!process.AdjustBrightContrast(step.brightness, step.contrast))
            error = "--brightness and --contrast need an image of more than 1 bit";
        break;
    }
    case RasterStepKind::kReplaceColour: {
        CRasterProcess process(image, nullptr);
        if (!process.ReplaceColor(step.from, step.to, 0))
            error = "--replace-colour needs an image of more than 1 bit";
        break;
    }
    }
    return error.empty();
}

} // namespace

bool ParseRasterStep(const std::vector<std::string>& args, size_t& i, std::vector<CRasterStep>& steps,
                     std::string& error)
{
    const std::string& option = args[i];
    CRasterStep flag;
    if (option == "--invert" || option == "--flip" || option == "--mirror") {
        flag.kind = option == "--invert" ? RasterStepKind::kInvert
                    : option == "--flip" ? RasterStepKind::kFlip
                                         : RasterStepKind::kMirror;
        steps.push_back(flag);
        return true;
    }
    static const char* const kValued[] = {"--rotate",   "--crop",       "--median",     "--fill-holes",
                                          "--template", "--resample",   "--brightness", "--contrast",
                                          "--replace-colour"};
    bool known = false;
    for (const char* name : kValued)
        known = known || option == name;
    if (!known)
        return false;
    if (i + 1 >= args.size()) {
        error = option + " needs a value";
        return true;
    }
    error = ParseValue(option, args[++i], steps);
    return true;
}

std::string RasterStepsHelp()
{
    std::string filters;
    for (int i = 0; i < kStretchFilterCount; ++i)
        filters += std::string(i ? ", " : "") + std::string(GetStretchFilterName(i));
    std::string templates;
    CRasterTemplateList list;
    (void)list.Load();  // the built-in list when none is stored
    for (const CRasterTemplate* t = list.Items().MoveToHead(); t; t = list.Items().MoveNext())
        templates += (templates.empty() ? "\"" : ", \"") + t->GetName() + "\"";
    return "  --invert                 invert the colours\n"
           "  --flip                   turn top to bottom\n"
           "  --mirror                 turn left to right\n"
           "  --rotate DEG             rotate by DEG degrees, clockwise on the screen\n"
           "  --crop X,Y,W,H           keep W x H pixels from column X, row Y (from the top left)\n" +
           FormatC("  --median N               median filter, N odd from %d to %d\n", kMinMedianSize, kMaxMedianSize) +
           FormatC("  --fill-holes N           fill holes of a 1-bit image, N passes from 0 to %d\n", kMaxFillPasses) +
           "  --template NAME          apply a convolution template of the stored list:\n"
           "                           " + templates + "\n" +
           FormatC("  --resample WxH[:FILTER]  resample to W x H pixels, each side 1 to %d; FILTER:\n", kMaxSide) +
           "                           " + filters + " (default lanczos3)\n"
           "  --brightness B           brightness from -100 to 100\n"
           "  --contrast C             contrast from -100 to 100\n"
           "  --replace-colour FROM:TO replace a colour, both as RRGGBB hex (ff0000:ffffff)\n";
}

bool ApplyRasterSteps(CRasterSrc& image, const std::vector<CRasterStep>& steps, std::string& error)
{
    error.clear();
    for (const CRasterStep& step : steps) {
        if (!ApplyStep(image, step, error))
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

} // namespace

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
        std::fprintf(stderr, "lineweft: warning: '%s' is damaged (%s); it was read as far as it goes\n",
                     shown.c_str(), damage.c_str());
}

