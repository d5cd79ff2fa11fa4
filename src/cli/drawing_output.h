#pragma once
// What trace and convert write: a project file (.lwt) or a vector file in one
// of the export formats, chosen by --format or else by the output's
// extension, and the --unit and --widths values both commands take.
#include <string>
#include <vector>

#include "cli/option_table.h"

class CGraph;

struct CDrawingOutput {
    bool project = false;  // a project file, raster included
    int format = 0;        // the ExportFormat code otherwise
};

// Chooses the output for the path and the --format name (empty: by the
// extension). kExitOk with `out` filled; otherwise the problem is printed and
// the exit status returned (usage for an unknown format, failure for a format
// that cannot be written yet).
int ChooseDrawingOutput(const std::string& path, const std::string& formatName, CDrawingOutput& out);

// Adds --format (the name, checked by ChooseDrawingOutput), --unit (a
// DrawingUnit) and --widths to a command's options.
void AddDrawingOutputOptions(std::vector<CCliOption>& options, std::string& format, int& unit, bool& widths);

// Writes the drawing as chosen; false with the reason in `error`. A project
// needs at least one entity.
bool WriteDrawingOutput(CGraph& drawing, const std::string& path, const CDrawingOutput& output, bool widths,
                        std::string& error);

// Imports a DXF file into the drawing; false with the reason in `error`.
// What the import had to leave out is printed to stderr, a line per kind.
bool ReadDxfDrawing(CGraph& drawing, const std::string& path, std::string& error);

// True when the path ends in ".lwt", ignoring case.
bool IsProjectPath(const std::string& path);
// True when the path ends in ".dxf", ignoring case.
bool IsDxfPath(const std::string& path);
