// Project files come from users and other machines: any bytes must either
// load whole or leave the drawing as it was, and what loads must save and
// load again to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "fuzz_folder.h"
#include "model/graph.h"
#include "drawing_compare.h"
#include "raster/raster_library.h"

namespace {

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

bool Read(CGraph& drawing, const std::string& bytes)
{
    // fmemopen refuses an empty buffer; a stream over one spare byte reads none.
    std::string buffer = bytes.empty() ? std::string(1, '\0') : bytes;
    std::FILE* file = fmemopen(buffer.data(), bytes.size() ? bytes.size() : 1, "rb");
    if (file == nullptr)
        return false;
    if (bytes.empty())
        std::fgetc(file);
    const bool loaded = drawing.ReadProject(file);
    std::fclose(file);
    return loaded;
}

}  // namespace

// New layers take their colour from the tracing options: give the run an
// empty settings store of its own rather than the user's.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("LINEWEFT_CONFIG_DIR", MakeFuzzFolder("lineweft-project-fuzz").c_str(), 1);
    InitRasterLibrary();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    CGraph drawing;
    drawing.AddLine(0, 0, 10, 10);
    const std::string before = Snapshot(drawing);
    if (!Read(drawing, bytes)) {
        Check(Snapshot(drawing) == before);
        return 0;
    }
    Check(drawing.GetCurrentLayer() != nullptr && !drawing.IsModified());
    double box[4];
    (void)drawing.GetExtents(box, true, true);

    const std::string saved = Snapshot(drawing);
    if (saved.empty())
        return 0;  // a file of empty layers loads, but is not saved again
    CGraph again;
    Check(Read(again, saved));
    Check(Snapshot(again) == saved);
    return 0;
}
