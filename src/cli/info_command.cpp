// info: what a file holds. Each kind of file has its own printer, chosen by
// the file's name: rasters, projects and DXF files.
#include "raster/freeimage_api.h"

#include "cli/command.h"

#include "cli/drawing_output.h"
#include "cli/raster_steps.h"
#include "cli/stdin_input.h"
#include "model/entity.h"
#include "model/file_paths.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/utilities.h"
#include "platform/number_text.h"
#include "raster/raster_entity.h"
#include "raster/raster_file.h"
#include "raster/raster_src.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace {

constexpr double kInchesPerMetre = 0.0254;

struct InfoPrinter {
    bool (*accepts)(const std::string& path);
    // shown: the name the user gave ("-" for standard input).
    int (*print)(const std::string& path, const std::string& shown);
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

const char* const kOneBitThreshold = "none (already 1 bit per pixel)";
// A page whose pixels would take more than this decoded at once (counted at
// 32 bits a pixel or more, as the library's colour paths hold them) is not
// decoded by info when its threshold cannot be counted strip by strip.
constexpr std::uint64_t kMaxInfoDecodeBytes = std::uint64_t{64} << 20;

std::string ThresholdText(BYTE threshold) { return threshold ? std::to_string(threshold) : "none found"; }

std::string AutoThreshold(CRasterSrc& image)
{
    if (image.GetBitCount() == 1)
        return kOneBitThreshold;
    return ThresholdText(image.GetAutoThreshold());
}

// fileDotsPerMetre: what the file itself says, before the image makes up
// for a missing resolution (both sides become 200 dpi then). An empty
// threshold is one left out: the header's bit count is then the stored one.
void PrintHeader(const CRasterHeader& header, double fileDotsPerMetre, const std::string& threshold, const char* indent)
{
    LONG x = header.xDotsPerMetre, y = header.yDotsPerMetre;
    const bool none = IsMissingResolution(fileDotsPerMetre);
    if (IsMissingResolution(x))
        x = y = kDefaultDotsPerMetre;
    std::printf("%sWidth:               %d pixels\n", indent, header.width);
    std::printf("%sHeight:              %d pixels\n", indent, header.height);
    std::printf("%sBits per pixel:      %d%s\n", indent, header.bitCount, threshold.empty() ? " (as stored)" : "");
    std::printf("%sResolution:          %s\n", indent, Resolution(x, y).c_str());
    if (none)
        std::printf("%s                     (none in the file: lengths in inch, cm and mm take 200 dpi;\n"
                    "%s                     PDF and EPS pages of a drawing in pixels take 1 point per pixel)\n",
                    indent, indent);
    if (threshold.empty())
        std::printf("%s(automatic threshold left out: the page is too large to decode here)\n", indent);
    else
        std::printf("%sAutomatic threshold: %s\n", indent, threshold.c_str());
}

void PrintImage(CRasterSrc& image, double fileDotsPerMetre, const char* indent)
{
    const BITMAPINFOHEADER* h = image.GetHeader();
    PrintHeader(
        CRasterHeader{image.GetWidth(), image.GetHeight(), image.GetBitCount(), h->biXPelsPerMeter, h->biYPelsPerMeter},
        fileDotsPerMetre, AutoThreshold(image), indent);
}

// One page as info prints it: its header and threshold, or the image when
// it had to be decoded to tell them.
struct InfoPage {
    std::string name;
    CRasterHeader header;
    std::string threshold;  // empty when left out
    std::unique_ptr<CRasterSrc> image;
};

bool IsTooLargeToDecode(const CRasterHeader& header)
{
    const auto bits = static_cast<std::uint64_t>(std::max(header.bitCount, 32));
    return static_cast<std::uint64_t>(header.width) * static_cast<std::uint64_t>(header.height) * bits / 8 >
           kMaxInfoDecodeBytes;
}

// A TIFF page from its directory and strips where they tell its header and
// threshold, or with the threshold left out when it is too large to decode;
// false when it has to be decoded whole.
bool ReadUndecodedPage(CRasterLoader& loader, int i, InfoPage& page)
{
    const bool known = loader.GetPageHeader(i, page.header);
    BYTE threshold = 0;
    if (known && page.header.bitCount == 1)
        page.threshold = kOneBitThreshold;
    else if (known && loader.GetPageAutoThreshold(i, threshold))
        page.threshold = ThresholdText(threshold);
    else
        return page.header.width > 0 && IsTooLargeToDecode(page.header);
    return true;
}

// The pages of a TIFF (false for any other file), read without decoding
// where their directories and strips allow; pages that cannot be read are
// skipped, as opening the file skips them.
bool ReadTiffPages(const std::string& path, std::vector<InfoPage>& pages, RasterLoadError& error, std::string& detail)
{
    CRasterLoader loader;
    if (!loader.Open(path))
        return false;
    error = RasterLoadError::kDecodeFailed;
    for (int i = 0; i < loader.GetPageCount(); ++i) {
        InfoPage page;
        page.name = loader.GetPageCount() == 1 ? path : loader.GetPageFileName(i);
        if (!ReadUndecodedPage(loader, i, page)) {
            FIBITMAP* bitmap = loader.CopyPage(i, &error, &detail);
            page.image = std::make_unique<CRasterSrc>();
            if (!bitmap || !page.image->Attach(bitmap)) {
                if (bitmap)
                    FreeImage_Unload(bitmap);
                continue;
            }
        }
        pages.push_back(std::move(page));
    }
    if (!pages.empty())
        error = RasterLoadError::kNone;
    return true;
}

bool ReadInfoPages(const std::string& path, std::vector<InfoPage>& pages, RasterLoadError& error, std::string& detail)
{
    if (ReadTiffPages(path, pages, error, detail))
        return !pages.empty();
    std::vector<CRasterPage> loaded;
    if (!LoadRasterPages(path, loaded, &error, &detail))
        return false;
    for (CRasterPage& page : loaded)
        pages.push_back(InfoPage{page.name, {}, {}, std::move(page.image)});
    return true;
}

int PrintRasterInfo(const std::string& path, const std::string& shown)
{
    std::vector<InfoPage> pages;
    RasterLoadError error = RasterLoadError::kNone;
    std::string detail;
    if (!ReadInfoPages(path, pages, error, detail)) {
        std::string message = "cannot read '" + shown + "': " + RasterLoadErrorText(error);
        if (!detail.empty())
            message += " (" + detail + ")";
        std::fprintf(stderr, "lineweft: %s\n", message.c_str());
        return kExitFailure;
    }
    WarnOfRasterDamage(shown);
    std::printf("File:                %s\n", shown.c_str());
    // A file is read as what it holds; say so when its name says otherwise.
    std::string format = RasterContentFormatName(path);
    const std::string named = RasterFileFormatName(path);
    if (format != named && shown == path)
        format += " (the file's name says " + named + ")";
    std::printf("Format:              %s\n", format.c_str());
    std::printf("Pages:               %zu\n", pages.size());
    const bool several = pages.size() > 1;
    for (size_t i = 0; i < pages.size(); ++i) {
        const char* indent = several ? "  " : "";
        if (several)
            std::printf("Page %zu:              %s\n", i + 1, pages[i].name.c_str());
        if (pages[i].image)
            PrintImage(*pages[i].image, pages[i].image->GetHeader()->biXPelsPerMeter, indent);
        else
            PrintHeader(pages[i].header, pages[i].header.xDotsPerMetre, pages[i].threshold, indent);
    }
    return kExitOk;
}

// Entity kinds by type code, as the counts name them.
constexpr const char* kEntityKinds[ENTITY_TYPE_LAST + 1] = {
    "other", "line", "polyline", "circle", "arc", "raster", "solid", "polygon set",
};

using EntityCounts = std::array<int, ENTITY_TYPE_LAST + 1>;

EntityCounts CountKinds(const CLayer& layer)
{
    EntityCounts counts{};
    for (const CEntity* e = layer.GetFirstEntity(); e; e = e->m_Next)
        ++counts[e->m_Type <= ENTITY_TYPE_LAST ? static_cast<std::size_t>(e->m_Type) : 0];
    return counts;
}

// "3 lines, 1 arc": the kinds present, in type-code order.
std::string KindList(const EntityCounts& counts)
{
    std::string text;
    for (std::size_t kind = 0; kind < counts.size(); ++kind) {
        if (counts[kind] == 0)
            continue;
        if (!text.empty())
            text += ", ";
        text += std::to_string(counts[kind]) + " " + kEntityKinds[kind] + (counts[kind] == 1 ? "" : "s");
    }
    return text.empty() ? "empty" : text;
}

// The layers' box in the drawing unit, the way the output formats write it.
std::string Extents(CGraph& drawing)
{
    double box[4];
    if (!drawing.GetExtents(box, false, false))
        return "none";
    std::string unit;
    drawing.GetPixelsPerUnit(&box[EXT_MIN_X], &box[EXT_MIN_Y], &unit);
    drawing.GetPixelsPerUnit(&box[EXT_MAX_X], &box[EXT_MAX_Y], nullptr);
    return FormatC("%.3f, %.3f to %.3f, %.3f %s", box[EXT_MIN_X], box[EXT_MIN_Y], box[EXT_MAX_X], box[EXT_MAX_Y],
                   unit.empty() ? "pixels" : unit.c_str());
}

void PrintDrawing(CGraph& drawing, const std::string& shown, const char* format)
{
    static const char* const kUnits[] = {"inch", "cm", "mm", "pixel"};
    std::printf("File:                %s\n", shown.c_str());
    std::printf("Format:              %s\n", format);
    std::printf("Unit:                %s\n", drawing.GetUnit() <= UNIT_LAST ? kUnits[drawing.GetUnit()] : "?");
    std::printf("Layers:              %d\n", drawing.GetLayerCount());
    EntityCounts total{};
    for (const CLayer* l = drawing.GetFirstLayer(); l; l = l->GetNext()) {
        const EntityCounts counts = CountKinds(*l);
        for (std::size_t kind = 0; kind < total.size(); ++kind)
            total[kind] += counts[kind];
        std::printf("  %s: %s (colour %d%s)\n", l->GetName().c_str(), KindList(counts).c_str(),
                    static_cast<int>(l->GetColor()), l->IsVisible() ? "" : ", hidden");
    }
    std::printf("Entities:            %d (%s)\n", drawing.GetEntityCount(), KindList(total).c_str());
    std::printf("Extents:             %s\n", Extents(drawing).c_str());
    CRaster* raster = drawing.GetRaster();
    if (raster == nullptr || raster->GetImage().IsEmpty()) {
        std::printf("Raster:              none\n");
        return;
    }
    std::printf("Raster:              origin %.3f, %.3f\n", raster->GetOriginX(), raster->GetOriginY());
    PrintImage(raster->GetImage(), static_cast<double>(raster->GetResolutionX()), "  ");
}

int PrintProjectInfo(const std::string& path, const std::string& shown)
{
    CGraph drawing;
    std::string error;
    if (!drawing.LoadProject(path, nullptr, &error)) {
        std::fprintf(stderr, "lineweft: cannot read '%s': %s\n", path.c_str(), error.c_str());
        return kExitFailure;
    }
    PrintDrawing(drawing, shown, "Lineweft project");
    return kExitOk;
}

int PrintDxfInfo(const std::string& path, const std::string& shown)
{
    CGraph drawing;
    std::string error;
    if (!ReadDxfDrawing(drawing, path, error)) {
        std::fprintf(stderr, "lineweft: cannot read '%s': %s\n", path.c_str(), error.c_str());
        return kExitFailure;
    }
    PrintDrawing(drawing, shown, "DXF");
    return kExitOk;
}

const InfoPrinter kPrinters[] = {
    {IsProjectPath, PrintProjectInfo},
    {IsDxfPath, PrintDxfInfo},
    {IsRasterPath, PrintRasterInfo},
};

}  // namespace

int RunInfo(const std::vector<std::string>& args)
{
    for (const std::string& arg : args)
        if (arg.size() > 1 && arg[0] == '-')
            return UsageError(UnknownOption(arg));
    if (args.size() != 1)
        return UsageError("info takes one file name");
    std::string path = args[0];
    CStdinInput stdinInput;
    if (std::string error; !stdinInput.Take(path, error)) {
        std::fprintf(stderr, "lineweft: %s\n", error.c_str());
        return kExitFailure;
    }
    for (const InfoPrinter& printer : kPrinters) {
        if (printer.accepts(path))
            return printer.print(path, args[0]);
    }
    std::fprintf(stderr, "lineweft: cannot read '%s': %s\n", path.c_str(),
                 RasterLoadErrorText(RasterLoadError::kUnknownFormat).c_str());
    return kExitFailure;
}

std::string InfoDetails()
{
    return std::string("\n") + kStdinNote +
           "FILE: a raster file (BMP, JPEG, PCX, TARGA, TIFF), a .lwt project or a .dxf file.\n";
}
