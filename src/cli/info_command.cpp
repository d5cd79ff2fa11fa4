// info: what a file holds. Each kind of file has its own printer, chosen by
// the file's name; rasters are the first kind.
#include "cli/command.h"

#include "model/file_paths.h"
#include "model/utilities.h"
#include "platform/number_text.h"
#include "raster/raster_file.h"
#include "raster/raster_src.h"

#include <cstdio>

namespace {

constexpr double kInchesPerMetre = 0.0254;

struct InfoPrinter {
    bool (*accepts)(const std::string& path);
    int (*print)(const std::string& path);
};

bool IsRasterPath(const std::string& path)
{
    return IsRasterFileExt(GetFileExt(path)) || !RasterFileFormatName(path).empty();
}

std::string Resolution(LONG x, LONG y)
{
    return FormatC("%.0f x %.0f dpi (%d x %d dots per metre)", x * kInchesPerMetre, y * kInchesPerMetre,
                   static_cast<int>(x), static_cast<int>(y));
}

std::string AutoThreshold(CRasterSrc& image)
{
    if (image.GetBitCount() == 1)
        return "none (already 1 bit per pixel)";
    BYTE threshold = image.GetAutoThreshold();
    return threshold ? std::to_string(threshold) : "none found";
}

void PrintImage(CRasterSrc& image, const char* indent)
{
    LONG x = 0;
    (void)image.GetResolution(x);  // a header without resolution reads as 200 dpi
    std::printf("%sWidth:               %d pixels\n", indent, image.GetWidth());
    std::printf("%sHeight:              %d pixels\n", indent, image.GetHeight());
    std::printf("%sBits per pixel:      %d\n", indent, image.GetBitCount());
    std::printf("%sResolution:          %s\n", indent, Resolution(x, image.GetHeader()->biYPelsPerMeter).c_str());
    std::printf("%sAutomatic threshold: %s\n", indent, AutoThreshold(image).c_str());
}

int PrintRasterInfo(const std::string& path)
{
    std::vector<CRasterPage> pages;
    RasterLoadError error = RasterLoadError::kNone;
    std::string detail;
    if (!LoadRasterPages(path, pages, &error, &detail)) {
        std::string message = "cannot read '" + path + "': " + RasterLoadErrorText(error);
        if (!detail.empty())
            message += " (" + detail + ")";
        std::fprintf(stderr, "lineweft: %s\n", message.c_str());
        return kExitFailure;
    }
    std::printf("File:                %s\n", path.c_str());
    std::printf("Format:              %s\n", RasterFileFormatName(path).c_str());
    std::printf("Pages:               %zu\n", pages.size());
    if (pages.size() == 1) {
        PrintImage(*pages[0].image, "");
        return kExitOk;
    }
    for (size_t i = 0; i < pages.size(); ++i) {
        std::printf("Page %zu:              %s\n", i + 1, pages[i].name.c_str());
        PrintImage(*pages[i].image, "  ");
    }
    return kExitOk;
}

// Later kinds (projects, DXF) add their rows here.
const InfoPrinter kPrinters[] = {
    {IsRasterPath, PrintRasterInfo},
};

} // namespace

int RunInfo(const std::vector<std::string>& args)
{
    if (args.size() != 1)
        return UsageError("info takes one file name");
    const std::string& path = args[0];
    for (const InfoPrinter& printer : kPrinters) {
        if (printer.accepts(path))
            return printer.print(path);
    }
    std::fprintf(stderr, "lineweft: cannot read '%s': %s\n", path.c_str(),
                 RasterLoadErrorText(RasterLoadError::kUnknownFormat).c_str());
    return kExitFailure;
}
