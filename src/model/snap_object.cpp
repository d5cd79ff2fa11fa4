// Object snap over the whole drawing: the snap segments of the visible
// entities that touch the pick box compete for the point nearest the box
// centre; crossings of two segments compete as intersections.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "model/entity.h"
#include "model/geometry.h"
#include "model/graph.h"
#include "model/layer.h"

namespace {

// The best candidate so far: the first found, replaced only by a strictly
// nearer one.
struct SnapBest {
    std::int32_t mode = 0;
    frDoublePoint point;
    double distance = 0;

    void Offer(std::int32_t candidateMode, const frDoublePoint& candidate, double d)
    {
        if (mode == 0 || d < distance) {
            mode = candidateMode;
            point = candidate;
            distance = d;
        }
    }
};

bool OffersIntersection(const CSnapSegment& s) { return (s.modes & SNAP_INTERSECTION) != 0; }

}  // namespace

std::int32_t CGraph::FindSnapPoint(const frDoublePoint* base, const frDoublePoint& corner1,
                                   const frDoublePoint& corner2, frDoublePoint* out)
{
    const frDoublePoint boxMin(std::min(corner1.x, corner2.x), std::min(corner1.y, corner2.y));
    const frDoublePoint boxMax(std::max(corner1.x, corner2.x), std::max(corner1.y, corner2.y));
    const frDoublePoint centre((boxMin.x + boxMax.x) * 0.5, (boxMin.y + boxMax.y) * 0.5);

    std::vector<CSnapSegment> segments;
    for (CLayer* layer = m_FirstLayer; layer; layer = layer->GetNext())
        if (layer->IsVisible())
            layer->CollectSegments(boxMin, boxMax, segments);
    if (m_TempPolyline)
        m_TempPolyline->CollectSegments(boxMin, boxMax, segments);

    const auto mask = static_cast<std::int32_t>(m_ObjectSnapMask);
    const bool intersections = (mask & SNAP_INTERSECTION) != 0;
    SnapBest best;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        frDoublePoint point;
        double distance = 0;
        if (std::int32_t mode = segments[i].FindSnap(base, centre, mask, &point, &distance))
            best.Offer(mode, point, distance);
        if (!intersections || !OffersIntersection(segments[i]))
            continue;
        for (std::size_t j = i + 1; j < segments.size(); ++j) {
            if (!OffersIntersection(segments[j]))
                continue;
            frDoublePoint crossing[2];
            const int count = IntersectSnapSegments(segments[i], segments[j], &crossing[0], &crossing[1]);
            for (int k = 0; k < count && k < 2; ++k)
                best.Offer(SNAP_INTERSECTION, crossing[k], PointDistance(&crossing[k], &centre));
        }
    }
    if (best.mode != 0 && out)
        *out = best.point;
    return best.mode;
}
