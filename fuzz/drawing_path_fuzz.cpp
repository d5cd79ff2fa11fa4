// Drawings opened by name: a project file or a DXF file read from its path
// must come out as the same drawing the stream readers make of the same
// bytes, and a failed open must leave the drawing as it was. The first byte
// picks the reader, the rest is the file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "fuzz_folder.h"
#include "model/entity.h"
#include "model/graph.h"
#include "drawing_compare.h"
#include "platform/message_box.h"
#include "raster/raster_library.h"

namespace {

constexpr std::size_t kMaxInput = 1u << 20;

std::string g_folder;

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

// A drawing with something in it, so that a failed read shows if it changed it.
void Prepare(CGraph& drawing)
{
    static const char kStart[] =
        "0\nSECTION\n2\nENTITIES\n0\nLINE\n8\n0\n10\n1\n20\n2\n11\n30\n21\n40\n0\nENDSEC\n0\nEOF\n";
    std::FILE* file = fmemopen(const_cast<char*>(kStart), sizeof kStart - 1, "rb");
    Check(file && drawing.ReadDXFStream(file, nullptr));
    std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_folder = MakeFuzzFolder("lineweft-drawing-fuzz");
    // New layers take their colour from the tracing options: an empty
    // settings store of the run's own.
    setenv("LINEWEFT_CONFIG_DIR", g_folder.c_str(), 1);
    InitRasterLibrary();
    SetMessageBoxHook([](const std::string&, const std::string&, unsigned) { return IDOK; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1 || size > kMaxInput)
        return 0;
    const bool project = data[0] & 1;
    const std::string path = g_folder + (project ? "/drawing.lwt" : "/drawing.dxf");
    std::FILE* out = std::fopen(path.c_str(), "wb");
    Check(out && std::fwrite(data + 1, 1, size - 1, out) == size - 1 && std::fclose(out) == 0);

    // Both drawings get the same entity ids.
    ResetIdCounter();
    CGraph byPath;
    Prepare(byPath);
    const std::string before = Snapshot(byPath);
    std::string error;
    const bool loaded = project ? byPath.LoadProject(path, nullptr, &error) : byPath.ReadDXF(path, nullptr, &error);
    if (!loaded)
        Check(Snapshot(byPath) == before);

    ResetIdCounter();
    CGraph byStream;
    Prepare(byStream);
    std::FILE* in = std::fopen(path.c_str(), "rb");
    Check(in != nullptr);
    const bool streamed = project ? byStream.ReadProject(in) : byStream.ReadDXFStream(in, nullptr);
    std::fclose(in);
    Check(loaded == streamed);
    if (loaded)
        Check(Snapshot(byPath) == Snapshot(byStream));
    ::unlink(path.c_str());
    return 0;
}
