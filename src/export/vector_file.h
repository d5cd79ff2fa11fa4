#pragma once
// The one entry point that writes a drawing to a vector file of any format.
#include <string>

class CGraph;

struct CVectorFileOptions {
    // Write each entity's line widths (DXF 40/41 groups, SVG stroke widths).
    bool widths = true;
};

// Writes the drawing in the format (ExportFormat code) to path. The file is
// built completely before it replaces path, so a failed save leaves any
// previous file intact. False with a message in *error (when given) for an
// unknown format, a format not built yet, a failed entity record or a failed
// write.
[[nodiscard]] bool SaveVectorFile(const CGraph& drawing, const std::string& path, int format, std::string* error);
[[nodiscard]] bool SaveVectorFile(const CGraph& drawing, const std::string& path, int format,
                                  const CVectorFileOptions& options, std::string* error);
