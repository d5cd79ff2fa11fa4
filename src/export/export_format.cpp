#include "export/export_format.h"

#include <cctype>
#include <string>

#include "model/entity.h"

namespace {

struct FormatRow {
    int code;
    const char* extension;
    const char* shortName;
    const char* displayName;
};

// The first row of a code gives its usual extension.
constexpr FormatRow kFormats[] = {
    {EXPORT_DXF2000, ".dxf", "dxf", "DXF 2000"}, {EXPORT_METAFILE, ".emf", "emf", "Enhanced Metafile"},
    {EXPORT_HPGL, ".plt", "plt", "HP-GL"},       {EXPORT_HPGL, ".hpgl", "hpgl", "HP-GL"},
    {EXPORT_SVG, ".svg", "svg", "SVG"},          {EXPORT_EPS, ".eps", "eps", "EPS"},
    {EXPORT_PDF, ".pdf", "pdf", "PDF"},          {EXPORT_DXFR10, ".dxf", "dxf-r10", "DXF R10"},
    {EXPORT_SVGZ, ".svgz", "svgz", "SVGZ"},      {EXPORT_CGM, ".cgm", "cgm", "CGM"},
};

std::string Lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The file name's extension with its point, in lower case; "" for none.
std::string LowerExtension(std::string_view path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    return dot == std::string_view::npos ? std::string() : Lower(name.substr(dot));
}

const FormatRow* FindCode(int format)
{
    for (const FormatRow& row : kFormats)
        if (row.code == format)
            return &row;
    return nullptr;
}

}  // namespace

int ExportFormatFromPath(std::string_view path)
{
    const std::string ext = LowerExtension(path);
    if (ext.empty())
        return EXPORT_NONE;
    for (const FormatRow& row : kFormats)
        if (ext == row.extension)
            return row.code;  // ".dxf" finds DXF 2000 first
    return EXPORT_NONE;
}

std::vector<std::string_view> ExportFormatShortNames()
{
    std::vector<std::string_view> names;
    for (int code = EXPORT_FORMAT_FIRST; code <= EXPORT_FORMAT_LAST; ++code)
        for (const FormatRow& row : kFormats)
            if (row.code == code)
                names.emplace_back(row.shortName);
    return names;
}

bool ExportFormatHasExtension(int format, std::string_view path)
{
    const std::string ext = LowerExtension(path);
    for (const FormatRow& row : kFormats)
        if (row.code == format && ext == row.extension)
            return true;
    return false;
}

int ExportFormatFromName(std::string_view name)
{
    const std::string key = Lower(name);
    for (const FormatRow& row : kFormats)
        if (key == row.shortName)
            return row.code;
    return EXPORT_NONE;
}

const char* ExportFormatExtension(int format)
{
    const FormatRow* row = FindCode(format);
    return row ? row->extension : "";
}

const char* ExportFormatName(int format)
{
    const FormatRow* row = FindCode(format);
    return row ? row->displayName : "";
}

bool IsExportFormatAvailable(int format) { return format >= EXPORT_FORMAT_FIRST && format <= EXPORT_FORMAT_LAST; }

bool EntityHasOutputRecord(const CEntity& entity, int format)
{
    // Every drawn kind writes every format; the raster writes none.
    (void)format;
    switch (entity.m_Type) {
    case ENTITY_POLYLINE:
    case ENTITY_LINE:
    case ENTITY_SOLID:
    case ENTITY_CIRCLE:
    case ENTITY_ARC:
    case ENTITY_POLYPOLYGON: return true;
    default: return false;
    }
}
