#pragma once
// Per-entity work of the post-processing steps on the row-band pool.
//
// The work on one entity may touch that entity only (and read shared data
// such as the raster or the options), so its result is the same on any
// thread and in any order; the thread count only decides speed. What has to
// happen in layer order stays with the caller between batches: adding and
// removing entities, and creating them (an entity's id, which the output
// files use, is taken when it is made). The caller also reports progress and
// polls the stop flag between batches.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <new>
#include <vector>

#include "model/entity.h"
#include "model/layer.h"
#include "raster/row_bands.h"

// Entities handed to the pool at a time: small enough for a stop to take
// effect soon, large enough to keep the threads busy.
constexpr std::size_t kEntityBatch = 8192;
// Entities per band: polylines differ widely in size, so many small bands
// even out the threads.
constexpr std::size_t kEntitiesPerBand = 64;

// The entities of the layer, head to tail.
inline std::vector<CEntity*> CollectLayerEntities(CLayer& layer)
{
    std::vector<CEntity*> entities;
    entities.reserve(static_cast<std::size_t>(std::max(layer.CountEntities(), 0)));
    for (CEntity* e = layer.GetFirstEntity(); e; e = e->m_Next)
        entities.push_back(e);
    return entities;
}

// Runs work(i) for every i in [begin, end) on the pool. False when a work
// ran out of memory (the others still ran); no exception leaves a band.
template <class Work>
[[nodiscard]] bool ForEachIndexInBands(std::size_t begin, std::size_t end, Work&& work)
{
    if (end <= begin)
        return true;
    const std::size_t count = end - begin;
    const int bands = static_cast<int>((count + kEntitiesPerBand - 1) / kEntitiesPerBand);
    std::atomic<bool> failed{false};
    RunBands(bands, [&](int band) {
        const std::size_t lo = begin + static_cast<std::size_t>(band) * kEntitiesPerBand;
        const std::size_t hi = std::min(end, lo + kEntitiesPerBand);
        try {
            for (std::size_t i = lo; i < hi; ++i)
                work(i);
        } catch (const std::bad_alloc&) {
            failed.store(true);
        }
    });
    return !failed.load();
}
