#pragma once
// Edge finding for the outline walk: the white pixels of a raster, framed by
// one white pixel all round, that have black 4-neighbours, row by row in scan
// order. Rows are independent, so bands of them are found on the pool.
#include <cstddef>
#include <cstdint>
#include <vector>

class CRasterSrc;

// The edges of one white pixel, as bits of a mask.
enum EdgeBit : unsigned { kNorth = 8, kWest = 4, kEast = 2, kSouth = 1 };
constexpr int kEdgeBits = 4;

// A white pixel with at least one edge: framed column (raster x + 1) <<
// kEdgeBits | its edge bits. Four bytes keep the stream the walk reads short.
using EdgePixel = std::uint32_t;
// The widest raster whose framed columns fit an EdgePixel.
constexpr int kMaxEdgeRasterWidth = (1 << (32 - kEdgeBits)) - 3;

// The edge pixels of framed rows [r0, r1): rowEnd[i] is the end of row r0 + i
// in pixels.
struct CRowEdges {
    std::vector<EdgePixel> pixels;
    std::vector<std::size_t> rowEnd;
};

// Fills out with the edge pixels of framed rows [r0, r1) (raster rows, with
// -1 and height the white frame rows); the raster is one bit per pixel and at
// most kMaxEdgeRasterWidth wide. Throws std::bad_alloc.
void FindRowEdges(const CRasterSrc& raster, int r0, int r1, CRowEdges& out);
