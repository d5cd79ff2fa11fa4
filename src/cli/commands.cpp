#include "cli/command.h"

#include "cli/drawing_output.h"
#include "cli/raster_steps.h"
#include "trace/option_text.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

const char* const kStdinNote =
    "INPUT may be - to read the file from standard input (its kind is told by its content).\n";

// The job-file keys by method, for --set.
std::string JobKeysHelp()
{
    std::string text;
    for (const char* method : {"", "Center", "Outline", "FillPattern"}) {
        std::string line = std::string("                             ") + (*method ? method : "any method") + ":";
        for (const CJobKey& key : GetJobKeys())
            if (std::string_view(key.methods).find(method) != std::string_view::npos &&
                (*method != 0 || *key.methods == 0))
                line += std::string(" ") + key.name;
        text += line + "\n";
    }
    return text;
}

std::string TraceDetails()
{
    return std::string("\n") + kStdinNote +
           "INPUT is a raster file: BMP, JPEG, PCX, TARGA or TIFF.\n\n"
           "Options:\n"
           "  -o, --output FILE        the file to write\n" +
           DrawingOutputHelp() +
           "  --method NAME            centerline (or centreline, center, centre), outline, fill (or\n"
           "                           fillpattern); default: the stored options\n"
           "  --threshold VALUE        auto, dynamic, or a grey level 0 to 255; default: the stored options\n"
           "  --page N                 the page of a multi-page TIFF, counted from 1\n"
           "  --job FILE.lwj           take the tracing options from a job file\n"
           "  --section NAME           the job file's section (default: the first with a Method key)\n"
           "  --set KEY=VALUE          one job-file key over the stored options and the job file,\n"
           "                           read and checked as the job file's; repeatable. Keys:\n" +
           JobKeysHelp() +
           "  --threads N              threads for the kernels, 1 to 64; default: LW_THREADS, else the\n"
           "                           cores the process may use\n\n"
           "Steps, applied in the order given before the threshold:\n" +
           RasterStepsHelp() +
           "\nExit status: 0 done, 1 failed, 2 usage or a bad value in the job file, 3 out of memory,\n"
           "4 hatch fill failed, 5 stopped, 6 tracing failed\n";
}

std::string ConvertDetails()
{
    return std::string("\n") + kStdinNote +
           "\nOptions:\n"
           "  -o, --output FILE        the file to write\n" +
           DrawingOutputHelp();
}

std::string RasterDetails()
{
    return std::string("\n") + kStdinNote +
           "INPUT is a raster file: BMP, JPEG, PCX, TARGA or TIFF.\n\n"
           "Options:\n"
           "  -o, --output FILE.bmp    the BMP file to write\n"
           "  --page N                 the page of a multi-page TIFF, counted from 1\n\n"
           "Steps, applied in the order given:\n" +
           RasterStepsHelp();
}

std::string RenderDetails()
{
    return std::string("\n") + kStdinNote +
           "\nOptions:\n"
           "  -o, --output FILE.png    the PNG file to write\n"
           "  --size WxH               picture size, each side 1 to 16384 (default 800x600)\n"
           "  --zoom-window x0,y0,x1,y1  the drawing's window to show, in pixels (default: all of it)\n"
           "  --grid                   show the grid\n"
           "  --grips                  select everything and show the grips\n";
}

std::string InfoDetails()
{
    return std::string("\n") + kStdinNote +
           "FILE: a raster file (BMP, JPEG, PCX, TARGA, TIFF), a .lwt project or a .dxf file.\n";
}

std::string OptionsDetails()
{
    return "\nOptions:\n"
           "  --load FILE.lwj          load and store the options of a job file\n"
           "  --section NAME           the job file's section (default: the first with a Method key)\n"
           "  --set KEY=VALUE          one job-file key over the stored options and the job file,\n"
           "                           read and checked as the job file's; repeatable. Keys:\n" +
           JobKeysHelp() +
           "  --reset                  store the default options\n"
           "  --describe               print the options as a readable summary\n"
           "A bad value in the job file is reported with its line and the status is 2.\n";
}

}  // namespace

const std::vector<CliCommand>& CliCommands()
{
    static const std::vector<CliCommand> commands = {
        {"install", "Register the project file type (.lwt) with the desktop", "install", RunInstall, nullptr},
        {"uninstall", "Remove the project file type registration", "uninstall", RunUninstall, nullptr},
        {"info", "Print what a raster, project or DXF file holds", "info FILE", RunInfo, InfoDetails},
        {"options", "Show, load or reset the stored tracing options (job-file text)",
         "options [--describe]\n       lineweft options --load FILE.lwj [--section NAME] [--describe]\n"
         "       lineweft options --reset [--describe]",
         RunOptions, OptionsDetails},
        {"trace", "Trace a raster file into a vector file (DXF, SVG, ...) or a project (.lwt)",
         "trace INPUT -o OUTPUT [options] [steps...]", RunTrace, TraceDetails},
        {"convert", "Convert a project (.lwt) or DXF file to another format",
         "convert INPUT.lwt|INPUT.dxf -o OUTPUT [options]", RunConvert, ConvertDetails},
        {"raster", "Clean up a raster file and save it as BMP", "raster INPUT -o OUTPUT.bmp [--page N] [steps...]",
         RunRaster, RasterDetails},
        {"render", "Draw a raster, project or DXF file as the view shows it, to PNG",
         "render INPUT -o OUTPUT.png [--size WxH] [--zoom-window x0,y0,x1,y1] [--grid] [--grips]", RunRender,
         RenderDetails},
    };
    return commands;
}

std::string UnknownOption(const std::string& option) { return "unknown option '" + option + "'"; }

// Sanitizer builds keep the teardown, which their leak and use-after-free
// checks cover.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define LW_KEEP_TEARDOWN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define LW_KEEP_TEARDOWN 1
#endif
#endif

int ExitSkippingTeardown(int status)
{
#ifndef LW_KEEP_TEARDOWN
    std::fflush(nullptr);
    std::_Exit(status);
#endif
    return status;
}
