#pragma once
// The later passes of the first thinning step, run as a wavefront of
// sub-iterations down the page (see thinning_wavefront.cpp).
#include "raster/raster_src.h"

#include <cstdint>
#include <memory>
#include <span>

class CWordSet;

class CWavefront {
public:
    explicit CWavefront(CRasterSrc& raster);
    ~CWavefront();
    CWavefront(const CWavefront&) = delete;
    CWavefront& operator=(const CWavefront&) = delete;

    // Room for a batch run by this many threads' groups of sub-iterations;
    // false when out of memory.
    [[nodiscard]] bool Allocate(int groups);
    // The words to test first: those next to the deletions of the last
    // sub-iteration and of the one before, or (null) every word.
    void Start(const CWordSet* last, const CWordSet* beforeLast);
    // Runs a batch of whole passes; the count each deleted, in order. Once
    // a pass deletes nothing, so do the rest.
    std::span<const std::uint64_t> RunBatch();

private:
    class CImpl;
    std::unique_ptr<CImpl> m_impl;
};
