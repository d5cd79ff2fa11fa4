#pragma once
// Clean-up of a polygon set made by outline tracing with solid fill. A
// region one pixel thin is traced as three collinear vertices, a sliver with
// no area: it is widened into a thin strip. A hole that does not lie inside
// the outer outline is dropped.
#include <cstdint>
#include <vector>

#include "model/point.h"

class CPolyLine;
class CPolyPolygon;

// Rebuilds an outline of three collinear vertices as a closed strip 0.5 wide
// to the right of its first segment: P1, P2, Q2, Q1, or P1, Q1, Q2, P2 when
// reverse is set. False, unchanged, for any other outline.
[[nodiscard]] bool WidenFlatOutline(CPolyLine& outline, bool reverse);

// Widens flat outlines (the outer one reversed) and removes every hole with
// a vertex outside the outer outline's vertex polygon (a vertex on its
// boundary counts as inside). Leaves the point arrays empty and the set
// modified.
void CleanTracedPolygon(CPolyPolygon& polygon);

// PointInPolygon over one fixed polygon, answered from the edges whose
// height range holds the point's y (a segment tree over height bands), so a
// polygon of n edges is tested in about log n plus the edges crossing that
// height. Same results as PointInPolygon: 0 on the boundary, -1 outside,
// 1 or 2 inside with a positive or negative winding.
class CPolygonLocator {
public:
    CPolygonLocator(const frDoublePoint* points, int count);
    [[nodiscard]] std::int16_t Locate(double x, double y) const;

private:
    [[nodiscard]] int BandOf(double y) const;
    void Insert(int leaves, int from, int to, int edge);

    const frDoublePoint* m_Points;
    int m_Count;
    double m_MinY = 0;
    double m_BandHeight = 1;
    int m_Bands = 0;
    int m_Leaves = 0;
    bool m_Usable = false;                  // finite extents: the tree answers
    std::vector<std::vector<int>> m_Nodes;  // edges (by first point) per tree node
};
