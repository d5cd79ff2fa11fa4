#pragma once
// The output formats of the vector export, by the codes the export dialog and
// the stored options use.
#include <string_view>
#include <vector>

class CEntity;

enum ExportFormat : int {
    EXPORT_NONE = 0,
    EXPORT_DXF2000 = 1,
    EXPORT_METAFILE = 2,
    EXPORT_HPGL = 3,
    EXPORT_SVG = 4,
    EXPORT_EPS = 5,
    EXPORT_PDF = 6,
    EXPORT_DXFR10 = 7,
    EXPORT_SVGZ = 8,
    EXPORT_CGM = 9,
};
constexpr int EXPORT_FORMAT_FIRST = EXPORT_DXF2000;
constexpr int EXPORT_FORMAT_LAST = EXPORT_CGM;

// The format a file name's extension asks for (".dxf" is DXF 2000; case is
// ignored); EXPORT_NONE when the extension names no format.
[[nodiscard]] int ExportFormatFromPath(std::string_view path);
// The format of a short name as a user types it ("dxf", "dxf-r10", "svg",
// "svgz", "eps", "pdf", "cgm", "hpgl"/"plt", "emf"); EXPORT_NONE when unknown.
[[nodiscard]] int ExportFormatFromName(std::string_view name);
// Every short name ExportFormatFromName takes, in the order of the codes.
[[nodiscard]] std::vector<std::string_view> ExportFormatShortNames();
// The path's extension is one of the format's (".plt" and ".hpgl" for HP-GL,
// ".dxf" for both DXF versions); case is ignored.
[[nodiscard]] bool ExportFormatHasExtension(int format, std::string_view path);
// The usual extension with its point (".dxf"), or "" for an unknown code.
[[nodiscard]] const char* ExportFormatExtension(int format);
// A short display name ("DXF 2000"), or "" for an unknown code.
[[nodiscard]] const char* ExportFormatName(int format);
// SaveVectorFile can write this format.
[[nodiscard]] bool IsExportFormatAvailable(int format);

// The entity's class writes a record of its own for the format; the others
// are left out of the file until their records are built.
[[nodiscard]] bool EntityHasOutputRecord(const CEntity& entity, int format);
