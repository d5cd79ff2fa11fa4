// raster: a raster file in, cleaned up by the step options, a BMP out.

#include "cli/command.h"

#include "cli/option_table.h"
#include "cli/raster_steps.h"
#include "cli/stdin_input.h"
#include "model/file_paths.h"
#include "platform/atomic_file.h"
#include "raster/raster_file.h"
#include "raster/raster_src.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <cstdio>

namespace {

struct RasterArgs {
    std::string input;
    std::string output;
    int page = 0;  // counted from 1; 0 for the only page
    std::vector<CRasterStep> steps;
};

int Fail(const std::string& message, bool outOfMemory = false)
{
    std::fprintf(stderr, "lineweft: %s\n", message.c_str());
    return outOfMemory ? kExitNoMemory : kExitFailure;
}

bool IsBmpPath(const std::string& path)
{
    std::string ext = GetFileExt(path);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".bmp";
}

std::vector<CCliOption> RasterOptions(RasterArgs& out)
{
    return {TextOption({"-o", "--output"}, "FILE.bmp", "the BMP file to write", out.output), PageOption(out.page)};
}

// Empty on success, else the usage error's message.
std::string ParseArgs(const std::vector<std::string>& args, RasterArgs& out)
{
    std::vector<std::string> positional;
    if (std::string error = ParseCommandLine(args, RasterOptions(out), 1, positional, &out.steps); !error.empty())
        return error;
    if (positional.empty())
        return "raster needs an input raster file";
    out.input = positional[0];
    if (out.output.empty())
        return "raster needs an output file (-o FILE.bmp)";
    if (!IsBmpPath(out.output) && !IsStreamTarget(out.output))
        return "raster writes BMP only: the output must end in .bmp";
    return {};
}

}  // namespace

int RunRaster(const std::vector<std::string>& args)
{
    RasterArgs parsed;
    if (std::string problem = ParseArgs(args, parsed); !problem.empty())
        return UsageError(problem);

    CStdinInput stdinInput;
    std::string error;
    if (!stdinInput.Take(parsed.input, error))
        return Fail(error);
    CRasterSrc image;
    if (!LoadRasterPage(parsed.input, parsed.page, image, error))
        return Fail(error);
    if (bool outOfMemory = false; !ApplyRasterSteps(image, parsed.steps, error, outOfMemory))
        return Fail(error, outOfMemory);
    errno = 0;
    if (!image.SaveBMP(parsed.output))
        return Fail("cannot write '" + parsed.output + "'" + (errno ? std::string(": ") + std::strerror(errno) : ""));
    std::fprintf(stderr, "%s: %d x %d, %d bit(s) per pixel\n", parsed.output.c_str(), image.GetWidth(),
                 image.GetHeight(), image.GetBitCount());
    return kExitOk;
}

std::string RasterDetails()
{
    RasterArgs unused;
    return std::string("\n") + kStdinNote +
           "INPUT is a raster file: BMP, JPEG, PCX, TARGA or TIFF.\n\n"
           "Options:\n" +
           CommandOptionsHelp(RasterOptions(unused)) + "\nSteps, applied in the order given:\n" + RasterStepsHelp() +
           "\nExit status: 0 done, 1 failed, 2 usage, 3 out of memory\n";
}
