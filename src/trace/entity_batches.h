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
#include <array>
#include <atomic>
#include <cstddef>
#include <new>
#include <span>

#include "model/entity.h"
#include "model/layer.h"
#include "raster/row_bands.h"

// Entities handed to the pool at a time: small enough for a stop to take
// effect soon and for the batch to live on the stack (a large heap block
// makes the allocator sweep its many small free vertices), large enough to
// keep the threads busy.
constexpr std::size_t kEntityBatch = 4096;
// Entities per band: polylines differ widely in size, so many small bands
// even out the threads.
constexpr std::size_t kEntitiesPerBand = 64;

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

enum class BatchResult { kDone, kNoMemory, kStopped };

namespace entity_batches_detail {

using Batch = std::array<CEntity*, kEntityBatch>;

// Takes up to a batch of entities from next on along the chain.
inline std::size_t WalkBatch(CEntity*& next, Batch& batch)
{
    std::size_t count = 0;
    for (; next && count < kEntityBatch; next = next->m_Next)
        batch[count++] = next;
    return count;
}

// One thread: works as it walks, then after(batch) gives the batch's end.
template <class Work, class After>
[[nodiscard]] BatchResult RunBatchesInTurn(CLayer& layer, Batch& slots, Work& work, After&& after)
{
    CEntity* next = layer.GetFirstEntity();
    while (next) {
        std::size_t count = 0;
        try {
            for (; next && count < kEntityBatch; next = next->m_Next, ++count) {
                slots[count] = next;
                work(count, *next);
            }
        } catch (const std::bad_alloc&) {
            return BatchResult::kNoMemory;
        }
        if (const BatchResult result = after(std::span<CEntity* const>(slots.data(), count));
            result != BatchResult::kDone)
            return result;
    }
    return BatchResult::kDone;
}

}  // namespace entity_batches_detail

// Walks the layer head to tail a batch at a time: work(i, entity) runs on
// the pool for the batch's entities (i their place in the batch), then
// between(batch) on the caller, which may remove or delete entities of the
// batch and returns false to stop the walk.
//
// Following the entity chain costs a cache miss per entity, which a loop
// that works as it walks hides behind the work but a walk of its own does
// not. So one thread works as it walks, and with more threads the caller
// walks the next batch while the others work on this one (the work changes
// no chain pointer).
template <class Work, class Between>
[[nodiscard]] BatchResult ForEachEntityBatch(CLayer& layer, Work&& work, Between&& between)
{
    using namespace entity_batches_detail;
    Batch batches[2];
    if (GetRowBandThreads() == 1)
        return RunBatchesInTurn(layer, batches[0], work, [&](std::span<CEntity* const> batch) {
            return between(batch) ? BatchResult::kDone : BatchResult::kStopped;
        });

    const auto walk = WalkBatch;
    CEntity* next = layer.GetFirstEntity();
    int current = 0;
    std::size_t count = walk(next, batches[current]);
    while (count > 0) {
        Batch& batch = batches[current];
        Batch& following = batches[1 - current];
        std::size_t followingCount = 0;
        const int bands = static_cast<int>((count + kEntitiesPerBand - 1) / kEntitiesPerBand);
        std::atomic<bool> failed{false};
        // Band 0, the caller's, walks on.
        RunBands(bands + 1, [&](int band) {
            if (band == 0) {
                followingCount = walk(next, following);
                return;
            }
            const std::size_t lo = static_cast<std::size_t>(band - 1) * kEntitiesPerBand;
            const std::size_t hi = std::min(count, lo + kEntitiesPerBand);
            try {
                for (std::size_t i = lo; i < hi; ++i)
                    work(i, *batch[i]);
            } catch (const std::bad_alloc&) {
                failed.store(true);
            }
        });
        if (failed.load())
            return BatchResult::kNoMemory;
        if (!between(std::span<CEntity* const>(batch.data(), count)))
            return BatchResult::kStopped;
        current = 1 - current;
        count = followingCount;
    }
    return BatchResult::kDone;
}

// Like ForEachEntityBatch, but the caller's share of a batch overlaps the
// pool's work on the next one: while the pool works on batch k, the caller
// runs finish(batch k-1) and progress(its size), then walks batch k+1.
// finish may remove or delete entities of its batch and add entities
// (the work reads and writes no chain pointer, so this is safe); it returns
// false when it ran out of memory. progress returns false to stop; the
// batch the pool has already worked on is then finished too, so every
// entity worked on is also finished. The work's per-entity results live in
// two halves of 2 * kEntityBatch slots: work(i, entity) and
// finish(batch, first) use slots first .. first + batch.size() - 1.
//
// The caller's finishing and walking are the steps' sequential part; done
// between batches they left the pool idle.
template <class Work, class Finish, class Progress>
[[nodiscard]] BatchResult ForEachEntityBatchAhead(CLayer& layer, Work&& work, Finish&& finish, Progress&& progress)
{
    using namespace entity_batches_detail;
    Batch batches[2];
    if (GetRowBandThreads() == 1)
        return RunBatchesInTurn(layer, batches[0], work, [&](std::span<CEntity* const> batch) {
            if (!finish(batch, std::size_t{0}))
                return BatchResult::kNoMemory;
            return progress(batch.size()) ? BatchResult::kDone : BatchResult::kStopped;
        });

    const auto walk = WalkBatch;
    CEntity* next = layer.GetFirstEntity();
    int current = 0;
    std::size_t count = walk(next, batches[current]);
    std::size_t previousCount = 0;  // batch 1 - current, worked on, not yet finished
    while (count > 0 || previousCount > 0) {
        const std::size_t first = static_cast<std::size_t>(current) * kEntityBatch;
        const std::size_t previousFirst = kEntityBatch - first;
        Batch& batch = batches[current];
        Batch& other = batches[1 - current];
        std::size_t followingCount = 0;
        bool finished = true, goOn = true;
        const int bands = static_cast<int>((count + kEntitiesPerBand - 1) / kEntitiesPerBand);
        std::atomic<bool> failed{false};
        // Band 0, the caller's, finishes the previous batch and then walks
        // the following one into its array.
        RunBands(bands + 1, [&](int band) {
            if (band == 0) {
                if (previousCount > 0) {
                    finished = finish(std::span<CEntity* const>(other.data(), previousCount), previousFirst);
                    goOn = finished && progress(previousCount);
                }
                if (finished && goOn)
                    followingCount = walk(next, other);
                return;
            }
            const std::size_t lo = static_cast<std::size_t>(band - 1) * kEntitiesPerBand;
            const std::size_t hi = std::min(count, lo + kEntitiesPerBand);
            try {
                for (std::size_t i = lo; i < hi; ++i)
                    work(first + i, *batch[i]);
            } catch (const std::bad_alloc&) {
                failed.store(true);
            }
        });
        if (!finished || failed.load())
            return BatchResult::kNoMemory;
        if (!goOn) {
            if (count > 0 && !finish(std::span<CEntity* const>(batch.data(), count), first))
                return BatchResult::kNoMemory;
            return BatchResult::kStopped;
        }
        previousCount = count;
        count = followingCount;
        current = 1 - current;
    }
    return BatchResult::kDone;
}
