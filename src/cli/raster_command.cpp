// raster: a raster file in, cleaned up by the step options, a BMP out.

#include "cli/command.h"

#include "cli/raster_steps.h"
#include "cli/stdin_input.h"
#include "model/file_paths.h"
#include "platform/atomic_file.h"
#include "platform/number_text.h"
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

int Fail(const std::string& message)
{
    std::fprintf(stderr, "lineweft: %s\n", message.c_str());
    return kExitFailure;
}

bool IsBmpPath(const std::string& path)
{
    std::string ext = GetFileExt(path);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".bmp";
}

// Empty on success, else the usage error's message.
std::string ParseArgs(const std::vector<std::string>& args, RasterArgs& out)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string error;
        if (ParseRasterStep(args, i, out.steps, error)) {
            if (!error.empty())
                return error;
        } else if (arg.size() > 1 && arg[0] == '-') {
            if (!IsOneOf(arg, {"-o", "--output", "--page"}))
                return UnknownOption(arg);
            if (i + 1 >= args.size())
                return arg + " needs a value";
            const std::string& value = args[++i];
            std::int32_t number = 0;
            if (arg == "-o" || arg == "--output") {
                out.output = value;
            } else if (arg == "--page") {
                if (!ParseIntC(value, number) || number < 1 || number > 1000000)
                    return "--page takes a page number from 1";
                out.page = static_cast<int>(number);
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
        return "raster needs an input raster file";
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
    if (!ApplyRasterSteps(image, parsed.steps, error))
        return Fail(error);
    errno = 0;
    if (!image.SaveBMP(parsed.output))
        return Fail("cannot write '" + parsed.output + "'" + (errno ? std::string(": ") + std::strerror(errno) : ""));
    std::fprintf(stderr, "%s: %d x %d, %d bit(s) per pixel\n", parsed.output.c_str(), image.GetWidth(),
                 image.GetHeight(), image.GetBitCount());
    return kExitOk;
}
