// Command-line values are typed by anyone: every option value must be taken
// or refused with a usage message, and a clean-up step taken must run on an
// image without leaving it. The input is the argument list, split at zero
// bytes; its first byte picks the command.
//
// No output option reaches the commands, so each stops at its usage check
// before it touches a file; the run still works in a folder of its own.
#include "fuzz_folder.h"
#include "cli/command.h"
#include "cli/raster_steps.h"

#include "platform/message_box.h"
#include "raster/raster_library.h"
#include "raster/raster_src.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kMaxArgs = 64;
// Steps are applied to a small image only when what they make stays small.
constexpr int kMaxResampleSide = 256;
constexpr int kImageSide = 24;

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

std::vector<std::string> SplitArgs(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size && args.size() <= kMaxArgs; ++i) {
        if (data[i] == 0)
            args.emplace_back();
        else
            args.back() += static_cast<char>(data[i]);
    }
    return args;
}

bool IsOutputOption(const std::string& arg) { return arg.rfind("-o", 0) == 0 || arg.rfind("--o", 0) == 0; }

void CheckStep(const CRasterStep& step)
{
    switch (step.kind) {
    case RasterStepKind::kCrop: Check(step.x >= 0 && step.y >= 0 && step.width >= 1 && step.height >= 1); break;
    case RasterStepKind::kResample: Check(step.width >= 1 && step.height >= 1 && step.filter >= 0); break;
    case RasterStepKind::kFillHoles: Check(step.size >= 0); break;
    case RasterStepKind::kBrightContrast:
        Check(step.hasBrightness || step.hasContrast);
        Check(std::abs(step.brightness) <= 100 && std::abs(step.contrast) <= 100);
        break;
    default: break;
    }
}

bool SmallEnough(const CRasterStep& step)
{
    return step.kind != RasterStepKind::kResample ||
           (step.width <= kMaxResampleSide && step.height <= kMaxResampleSide);
}

// The steps on a small grey image with a pattern in it.
void ApplySteps(const std::vector<CRasterStep>& steps, bool oneBit)
{
    for (const CRasterStep& step : steps) {
        CheckStep(step);
        if (!SmallEnough(step))
            return;
    }
    CRasterSrc image;
    if (!image.Create(kImageSide, kImageSide, 8))
        return;
    for (int y = 0; y < kImageSide; ++y)
        for (int x = 0; x < kImageSide; ++x)
            image.SetPixelIndex(x, y, static_cast<BYTE>((x * 7 + y * 13) % 256));
    if (oneBit)
        (void)image.ConvertTo1Bit(128);
    std::string error;
    if (bool outOfMemory = false; !ApplyRasterSteps(image, steps, error, outOfMemory))
        Check(!error.empty());
    Check(image.GetWidth() > 0 && image.GetHeight() > 0);
}

}  // namespace

// The commands report usage errors through this; main() prints them. Weak,
// so that a definition among the command sources takes its place.
__attribute__((weak)) int UsageError(const std::string& message)
{
    Check(!message.empty());
    return kExitUsage;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    InitRasterLibrary();
    SetMessageBoxHook([](const std::string&, const std::string&, unsigned) { return IDOK; });
    const std::string& folder = MakeFuzzFolder("lineweft-cli-fuzz");
    if (chdir(folder.c_str()) != 0)
        std::abort();
    setenv("LINEWEFT_CONFIG_DIR", folder.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::uint8_t choice = data[0] % 4;
    std::vector<std::string> args = SplitArgs(data + 1, size - 1);
    for (const std::string& arg : args)
        if (IsOutputOption(arg))
            return 0;
    if (choice == 0) {
        Check(RunRender(args) == kExitUsage);
    } else if (choice == 1) {
        Check(RunTrace(args) == kExitUsage);
    } else if (choice == 2) {
        Check(RunRaster(args) == kExitUsage);
    } else {
        std::vector<CRasterStep> steps;
        for (std::size_t i = 0; i < args.size(); ++i) {
            std::string error;
            if (ParseRasterStep(args, i, steps, error) && !error.empty())
                return 0;
        }
        ApplySteps(steps, data[0] & 4);
    }
    return 0;
}
