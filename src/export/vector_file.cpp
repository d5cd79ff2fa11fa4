// Writing a drawing to a vector file: the format's writer fills a temporary
// file, which replaces the file only when everything was written.
#include "export/vector_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "export/dxf_writer.h"
#include "export/export_format.h"
#include "export/format_writers.h"
#include "export/svg_writer.h"
#include "model/text_table.h"
#include "platform/atomic_file.h"
#include "platform/memory_file.h"

namespace {

void SetError(std::string* error, std::string message)
{
    if (error)
        *error = std::move(message);
}

// The message a user sees when a save in the format fails: the format's own
// text where it has one, with the detail after it.
struct SaveFailureRow {
    int format;
    const char* key;
    const char* english;
};
constexpr SaveFailureRow kSaveFailureTexts[] = {
    {EXPORT_METAFILE, "MainSaveEMFFailMsg", "Saving the Enhanced Metafile failed!"},
};

std::string SaveFailureText(int format, const std::string& detail)
{
    for (const SaveFailureRow& row : kSaveFailureTexts)
        if (row.format == format)
            return GetLanString(row.key, row.english) + " " + detail;
    return detail;
}

}  // namespace

bool SaveVectorFile(const CGraph& drawing, const std::string& path, int format, std::string* error)
{
    return SaveVectorFile(drawing, path, format, CVectorFileOptions{}, error);
}

bool SaveVectorFile(const CGraph& drawing, const std::string& path, int format, const CVectorFileOptions& options,
                    std::string* error)
{
    if (format < EXPORT_FORMAT_FIRST || format > EXPORT_FORMAT_LAST) {
        SetError(error, "Unknown output format " + std::to_string(format) + ".");
        return false;
    }
    if (!IsExportFormatAvailable(format)) {
        SetError(error, std::string("Output format ") + ExportFormatName(format) + " is not available yet.");
        return false;
    }
    // A file is written straight into the temporary that replaces it: a
    // page's drawing makes files of tens of megabytes. A stream target
    // (standard output, a FIFO) gets the file only once it is whole.
    const bool stream = IsStreamTarget(path);
    MemoryFile memory;
    CAtomicFile file;
    std::string why;
    if (stream ? memory.Get() == nullptr : !file.Open(path, &why)) {
        SetError(error, SaveFailureText(format, stream ? "Not enough memory to write " + path + "."
                                                       : "Could not save " + path + ": " + why + "."));
        return false;
    }
    std::FILE* out = stream ? memory.Get() : file.File();
    std::string detail;
    bool written = false;
    switch (format) {
    case EXPORT_DXF2000: written = WriteDXF2000File(drawing, out, options.widths, &detail); break;
    case EXPORT_DXFR10: written = WriteDXFR10File(drawing, out, options.widths, &detail); break;
    case EXPORT_SVG: written = WriteSVGFile(drawing, out, options.widths, &detail); break;
    case EXPORT_SVGZ: written = WriteSVGZFile(drawing, out, options.widths, &detail); break;
    case EXPORT_EPS: written = WriteEPSFile(drawing, out, options.widths, &detail); break;
    case EXPORT_PDF: written = WritePDFFile(drawing, out, options.widths, &detail); break;
    case EXPORT_HPGL: written = WriteHPGLFile(drawing, out, &detail); break;
    case EXPORT_CGM: written = WriteCGMFile(drawing, out, &detail); break;
    case EXPORT_METAFILE: written = WriteMetafileFile(drawing, out, options.widths, &detail); break;
    default: break;
    }
    if (!written || (stream && !memory.Finish())) {
        // A failed write is told by the system's reason (a full disk), not
        // by the record it stopped at.
        if (!stream && file.WriteError() != 0)
            detail = std::strerror(file.WriteError()) + std::string(".");
        SetError(error, SaveFailureText(format, "Could not write " + path + (detail.empty() ? "." : ": " + detail)));
        return false;
    }
    if (!(stream ? WriteFileAtomically(path, memory.Content(), &why) : file.Commit(&why))) {
        SetError(error, SaveFailureText(format, "Could not save " + path + ": " + why + "."));
        return false;
    }
    return true;
}
