// render: a drawing (raster, project or DXF file) drawn through the view's
// drawing device, as the view shows it, and written as PNG.
#include "raster/freeimage_api.h"

#include "cli/command.h"
#include "cli/drawing_output.h"
#include "cli/option_table.h"
#include "cli/raster_steps.h"
#include "cli/stdin_input.h"

#include "model/cdc_device.h"
#include "model/file_paths.h"
#include "model/graph.h"
#include "model/utilities.h"
#include "platform/atomic_file.h"
#include "platform/memory_file.h"
#include "platform/number_text.h"
#include "platform/pixel_dc.h"
#include "raster/png_file.h"
#include "raster/raster_decoders.h"
#include "raster/raster_file.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The largest picture side the command draws.
constexpr int kMaxRenderSide = 16384;
constexpr int kDefaultWidth = 800;
constexpr int kDefaultHeight = 600;

struct RenderArgs {
    std::string input;
    std::string output;
    int width = kDefaultWidth;
    int height = kDefaultHeight;
    bool zoomWindow = false;
    double window[4] = {0, 0, 0, 0};  // x0, y0, x1, y1
    bool grid = false;
    bool grips = false;
};

int Fail(const std::string& message)
{
    std::fprintf(stderr, "lineweft: %s\n", message.c_str());
    return kExitFailure;
}

std::string LowerExt(const std::string& path)
{
    std::string ext = GetFileExt(path);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool ParseSize(const std::string& text, int& width, int& height)
{
    const std::size_t x = text.find_first_of("xX");
    std::int32_t w = 0, h = 0;
    if (x == std::string::npos || !ParseIntC(std::string_view(text).substr(0, x), w) ||
        !ParseIntC(std::string_view(text).substr(x + 1), h))
        return false;
    if (w < 1 || h < 1 || w > kMaxRenderSide || h > kMaxRenderSide)
        return false;
    width = w;
    height = h;
    return true;
}

bool ParseWindow(const std::string& text, double* values)
{
    std::size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t comma = i < 3 ? text.find(',', start) : text.size();
        if (comma == std::string::npos)
            return false;
        if (!ParseDoubleC(std::string_view(text).substr(start, comma - start), values[i]))
            return false;
        start = comma + 1;
    }
    return values[0] != values[2] && values[1] != values[3];
}

std::vector<CCliOption> RenderOptions(RenderArgs& out)
{
    auto flag = [](const char* name, const char* help, bool& on) {
        return CCliOption{{name}, nullptr, help, [&on](const std::string&) {
                              on = true;
                              return std::string();
                          }};
    };
    return {
        TextOption({"-o", "--output"}, "FILE.png", "the PNG file to write", out.output),
        {{"--size"},
         "WxH",
         "picture size, each side 1 to " + std::to_string(kMaxRenderSide) + " (default 800x600)",
         [&out](const std::string& value) {
             if (!ParseSize(value, out.width, out.height))
                 return "--size takes WIDTHxHEIGHT, each 1 to " + std::to_string(kMaxRenderSide);
             return std::string();
         }},
        {{"--zoom-window"},
         "x0,y0,x1,y1",
         "the drawing's window to show, in pixels (default: all of it)",
         [&out](const std::string& value) {
             if (!ParseWindow(value, out.window))
                 return std::string("--zoom-window takes x0,y0,x1,y1 with x0 != x1, y0 != y1");
             out.zoomWindow = true;
             return std::string();
         }},
        flag("--grid", "show the grid", out.grid),
        flag("--grips", "select everything and show the grips", out.grips),
    };
}

// Empty on success, else the usage error's message.
std::string ParseArgs(const std::vector<std::string>& args, RenderArgs& out)
{
    std::vector<std::string> positional;
    if (std::string error = ParseCommandLine(args, RenderOptions(out), 1, positional); !error.empty())
        return error;
    if (positional.empty())
        return "render needs an input file (raster, .lwt project or .dxf)";
    out.input = positional[0];
    if (out.output.empty())
        return "render needs an output file (-o FILE.png)";
    // Standard output, a FIFO or a device takes the PNG whatever its name.
    if (!IsStreamTarget(out.output) && LowerExt(out.output) != ".png")
        return "render writes PNG only: the output must end in .png";
    return {};
}

bool LoadDrawing(CGraph& graph, const std::string& path, std::string& error)
{
    const std::string ext = LowerExt(path);
    if (ext == ".lwt")
        return graph.LoadProject(path, nullptr, &error);
    if (ext == ".dxf")
        return ReadDxfDrawing(graph, path, error);
    // Anything else is tried as a raster: the image library knows more
    // formats (PNG among them) than the open dialog offers.
    if (!graph.NewFromRaster(path, nullptr)) {
        if (!IsRasterFileExt(ext)) {
            error = "not a raster, .lwt or .dxf file";
            return false;
        }
        // Loaded again only to learn why it was refused, as info and trace say it.
        RasterLoadError why = RasterLoadError::kUnsupportedLayout;
        std::string detail;
        if (FIBITMAP* bitmap = LoadRasterFile(path, &why, &detail)) {
            FreeImage_Unload(bitmap);
            error = "cannot load the raster file";
            return false;
        }
        error = RasterLoadErrorText(why) + (detail.empty() ? "" : " (" + detail + ")");
        return false;
    }
    WarnOfRasterDamage(path);
    return true;
}

// The drawing canvas keeps a word per pixel.
constexpr unsigned kCanvasBits = 32;

// The picture as a PNG file, encoded straight from the canvas it was drawn
// on. A stream target gets the file only once it is whole.
bool WritePng(const CPixelDC& canvas, const std::string& path, std::string& why)
{
    if (IsStreamTarget(path)) {
        MemoryFile memory;
        return memory.Get() != nullptr && WriteCanvasPng(canvas, memory.Get()) && memory.Finish() &&
               WriteFileAtomically(path, memory.Content(), &why);
    }
    CAtomicFile file;
    if (!file.Open(path, &why))
        return false;
    if (!WriteCanvasPng(canvas, file.File())) {
        if (file.WriteError() != 0)
            why = std::strerror(file.WriteError());
        return false;
    }
    return file.Commit(&why);
}

}  // namespace

int RunRender(const std::vector<std::string>& args)
{
    RenderArgs parsed;
    const std::string usage = ParseArgs(args, parsed);
    if (!usage.empty())
        return UsageError(usage);

    CStdinInput stdinInput;
    std::string error;
    if (!stdinInput.Take(parsed.input, error))
        return Fail(error);
    CGraph graph;
    if (!LoadDrawing(graph, parsed.input, error))
        return Fail("cannot read " + parsed.input + (error.empty() ? "" : ": " + error));

    CFrCDCDevice device;
    device.Transform().SetDeviceRect(0, 0, parsed.width, parsed.height);
    if (parsed.zoomWindow) {
        device.Transform().SetWorldBox(parsed.window[0], parsed.window[1], parsed.window[2], parsed.window[3]);
    } else {
        double box[4];
        if (!graph.GetExtents(box, true, true))
            return Fail(parsed.input + " holds nothing to draw");
        device.Transform().SetWorldBox(box[0], box[2], box[1], box[3]);
    }
    graph.SetGridShown(parsed.grid);
    if (parsed.grips)
        graph.SelectAll(true);

    // Drawn on a canvas of its own and encoded from it row by row: the
    // picture is held once, at four bytes a pixel.
    if (CheckRasterSize(parsed.width, parsed.height, kCanvasBits, nullptr) != RasterLoadError::kNone) {
        (void)Fail(FormatC("a picture of %d x %d pixels needs %.1f GB, more memory than this machine can spare",
                           parsed.width, parsed.height,
                           static_cast<double>(parsed.width) * parsed.height * (kCanvasBits / 8) / 1e9));
        return kExitNoMemory;
    }
    CPixelDC canvas(parsed.width, parsed.height);
    if (!canvas.IsValid() || !device.BeginDrawOn(&canvas, true)) {
        (void)Fail("not enough memory for a picture of that size");
        return kExitNoMemory;
    }
    if (graph.Draw(&device) == 1 && parsed.grid)
        std::fprintf(stderr, "lineweft: the grid is too dense to show at this size\n");
    device.EndDraw();
    std::string why;
    if (!WritePng(canvas, parsed.output, why))
        return Fail("cannot write " + parsed.output + (why.empty() ? "" : ": " + why));
    return kExitOk;
}

std::string RenderDetails()
{
    RenderArgs unused;
    return std::string("\n") + kStdinNote + "\nOptions:\n" + CommandOptionsHelp(RenderOptions(unused)) +
           "\nExit status: 0 done, 1 failed, 2 usage, 3 out of memory\n";
}
