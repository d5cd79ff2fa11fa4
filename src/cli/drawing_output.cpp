// The output choice that trace and convert share.
#include "cli/drawing_output.h"

#include "cli/command.h"
#include "export/export_format.h"
#include "export/vector_file.h"
#include "model/graph.h"

#include <cstdio>
#include <vector>
#include <strings.h>

namespace {

bool EndsWithIgnoringCase(const std::string& path, const char* suffix)
{
    const std::size_t n = std::char_traits<char>::length(suffix);
    return path.size() > n && strcasecmp(path.c_str() + path.size() - n, suffix) == 0;
}

}  // namespace

bool IsProjectPath(const std::string& path) { return EndsWithIgnoringCase(path, ".lwt"); }

bool IsDxfPath(const std::string& path) { return EndsWithIgnoringCase(path, ".dxf"); }

namespace {

constexpr const char* kProjectFormatName = "lwt";

// What the path's extension asks for, as a display name; "" when it names no
// format.
std::string ExtensionFormatName(const std::string& path)
{
    if (IsProjectPath(path))
        return "project";
    const int format = ExportFormatFromPath(path);
    return format == EXPORT_NONE ? std::string() : ExportFormatName(format);
}

void WarnWhenTheExtensionDisagrees(const std::string& path, const CDrawingOutput& out)
{
    const std::string named = ExtensionFormatName(path);
    const bool agrees = out.project ? IsProjectPath(path) : ExportFormatHasExtension(out.format, path);
    if (named.empty() || agrees)
        return;
    std::fprintf(stderr, "lineweft: warning: '%s' is written as %s, as --format asks, though its extension says %s\n",
                 path.c_str(), out.project ? "a project" : ExportFormatName(out.format), named.c_str());
}

}  // namespace

int ChooseDrawingOutput(const std::string& path, const std::string& formatName, CDrawingOutput& out)
{
    out = CDrawingOutput{};
    if (formatName.empty() ? IsProjectPath(path) : strcasecmp(formatName.c_str(), kProjectFormatName) == 0) {
        out.project = true;
        if (!formatName.empty())
            WarnWhenTheExtensionDisagrees(path, out);
        return kExitOk;
    }
    out.format = formatName.empty() ? ExportFormatFromPath(path) : ExportFormatFromName(formatName);
    if (out.format == EXPORT_NONE)
        return UsageError(formatName.empty() ? "cannot tell the output format from '" + path + "': use --format"
                                             : "unknown format '" + formatName + "'");
    if (!IsExportFormatAvailable(out.format)) {
        std::fprintf(stderr, "lineweft: %s output is not available yet\n", ExportFormatName(out.format));
        return kExitFailure;
    }
    if (!formatName.empty())
        WarnWhenTheExtensionDisagrees(path, out);
    return kExitOk;
}

void AddDrawingOutputOptions(std::vector<CCliOption>& options, std::string& format, int& unit, bool& widths)
{
    std::string formats;
    for (std::string_view name : ExportFormatShortNames())
        formats += std::string(name) + ", ";
    options.push_back(TextOption({"--format"}, "NAME",
                                 formats + kProjectFormatName +
                                     "\n(default: by the output's extension; a disagreeing extension is\n"
                                     "written as --format asks, with a warning)",
                                 format));
    options.push_back({{"--unit"},
                       "NAME",
                       "inch, cm, mm, pixel: the unit of the coordinates written",
                       [&unit](const std::string& value) {
                           static const char* const kUnits[] = {"inch", "cm", "mm", "pixel"};  // DrawingUnit order
                           for (int u = 0; u < 4; ++u)
                               if (value == kUnits[u]) {
                                   unit = u;
                                   return std::string();
                               }
                           return std::string("--unit takes inch, cm, mm or pixel");
                       }});
    options.push_back(
        {{"--widths"}, "on|off", "write the line widths (default on)", [&widths](const std::string& value) {
             if (value != "on" && value != "off")
                 return std::string("--widths takes on or off");
             widths = value == "on";
             return std::string();
         }});
}

bool ReadDxfDrawing(CGraph& drawing, const std::string& path, std::string& error)
{
    std::vector<std::string> warnings;
    const bool read = drawing.ReadDXF(path, nullptr, &error, &warnings);
    for (const std::string& warning : warnings)
        std::fprintf(stderr, "lineweft: warning: %s: %s\n", path.c_str(), warning.c_str());
    return read;
}

bool WriteDrawingOutput(CGraph& drawing, const std::string& path, const CDrawingOutput& output, bool widths,
                        std::string& error)
{
    if (output.project)
        return drawing.SaveProject(path, nullptr, &error);
    CVectorFileOptions options;
    options.widths = widths;
    return SaveVectorFile(drawing, path, output.format, options, &error);
}
