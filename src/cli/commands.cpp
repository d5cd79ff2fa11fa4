#include "cli/command.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const std::vector<CliCommand>& CliCommands()
{
    static const std::vector<CliCommand> commands = {
        {"install", "Register the project file type (.lwt) with the desktop", "install", RunInstall, nullptr},
        {"uninstall", "Remove the project file type registration", "uninstall", RunUninstall, nullptr},
        {"info", "Print what a raster, project or DXF file holds", "info FILE", RunInfo, InfoDetails},
        {"options", "Show, load, set or reset the stored tracing options (job-file text)",
         "options [--set KEY=VALUE]... [--describe]\n"
         "       lineweft options --load FILE.lwj [--section NAME] [--set KEY=VALUE]... [--describe]\n"
         "       lineweft options --reset [--set KEY=VALUE]... [--describe]",
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

int FinishStandardOutput(int status)
{
    // Told once: a sanitizer build returns here through main as well.
    static bool told = false;
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    if ((flushed && !std::ferror(stdout)) || told)
        return status;
    told = true;
    std::fprintf(stderr, "lineweft: cannot write to standard output: %s\n", std::strerror(errno ? errno : EIO));
    return status == kExitOk ? kExitFailure : status;
}

int ExitSkippingTeardown(int status)
{
    status = FinishStandardOutput(status);
#ifndef LW_KEEP_TEARDOWN
    std::fflush(nullptr);
    std::_Exit(status);
#endif
    return status;
}
