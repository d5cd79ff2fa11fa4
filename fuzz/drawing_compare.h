#pragma once
// Drawings compared by what the project writer makes of them: equal bytes,
// equal drawings.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "model/graph.h"

// The drawing as WriteProject writes it; empty when it holds no entity.
inline std::string Snapshot(CGraph& drawing)
{
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* memory = open_memstream(&data, &size);
    const bool written = drawing.WriteProject(memory);
    std::fclose(memory);
    std::string bytes = written ? std::string(data, size) : std::string();
    std::free(data);
    return bytes;
}
