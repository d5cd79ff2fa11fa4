// DXF files come from any CAD program and any web page: every byte string
// must import or fail cleanly, and what it imports must be finite and write
// out again.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "export/dxf_writer.h"
#include "model/graph.h"
#include "model/layer.h"
#include "platform/message_box.h"

namespace {

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    SetMessageBoxHook([](const std::string&, const std::string&, unsigned) { return IDOK; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // fmemopen refuses an empty buffer; a NUL ends DXF text just the same.
    static const char kNul = '\0';
    void* bytes = size ? const_cast<std::uint8_t*>(data) : static_cast<void*>(const_cast<char*>(&kNul));
    std::FILE* file = fmemopen(bytes, size ? size : 1, "rb");
    if (file == nullptr)
        return 0;
    CGraph graph;
    std::string error;
    std::vector<std::string> warnings;
    const bool ok = graph.ReadDXFStream(file, nullptr, &error, &warnings);
    std::fclose(file);
    Check(ok || !error.empty());
    if (!ok)
        return 0;
    Check(graph.GetLayerCount() >= 1 && graph.GetCurrentLayer() != nullptr);
    double box[4];
    if (graph.GetExtents(box, true, false))
        for (const double v : box)
            Check(std::isfinite(v));

    char* text = nullptr;
    std::size_t length = 0;
    std::FILE* out = open_memstream(&text, &length);
    if (out == nullptr)
        return 0;
    (void)WriteDXF2000File(graph, out, true, nullptr);
    std::fclose(out);
    std::free(text);
    return 0;
}
