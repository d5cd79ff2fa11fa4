// Line widths measured on the one-bit raster, end-hook correction, and the
// layer commands that measure and round widths.
//
// A sample counts the stroke across a segment at one point: the foreground
// runs from the point's pixel towards both sides, as far as the segment is
// long. The walk itself (RunLengthAlongLine) bridges single-pixel gaps and
// reports -1 when it leaves the raster.
#include "trace/line_widths.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <span>

#include "model/circle.h"
#include "model/constants.h"
#include "model/entity.h"
#include "model/layer.h"
#include "model/line.h"
#include "model/polyline.h"
#include "raster/raster_src.h"
#include "trace/common_thread.h"
#include "trace/entity_batches.h"
#include "trace/outline.h"
#include "trace/post_process.h"
#include "trace/trace_option.h"

namespace {

constexpr double kNoStroke = -10.0;
// Segments at least this long are sampled five times along their length.
constexpr double kLongSegment = 5.0;
constexpr int kSamplesPerLongSegment = 5;
// Samples within this share of their mean agree on the width.
constexpr double kAgreement = 0.1;
constexpr double kThinnestWidth = 0.01;
// Two-vertex polylines not longer than this share of their width are blobs.
constexpr double kBlobLength = 0.95;
// Share of the neighbouring width that bounds an end's band (single precision).
constexpr double kBandShare = static_cast<double>(0.6f);
constexpr double kTinyEnd = 0.01;
constexpr double kMinBand = 0.005;

// A pixel of the raster for a world point; false outside the raster.
struct CPixelPos {
    int column;
    int row;
};

bool ToPixel(const frDoublePoint& p, int width, int height, CPixelPos* out)
{
    const double column = std::floor(p.x + 0.5);
    const double row = static_cast<double>(height) - 1.0 - std::floor(p.y + 0.5);
    if (!(column >= 0 && column < width && row >= 0 && row < height))
        return false;
    *out = {static_cast<int>(column), static_cast<int>(row)};
    return true;
}

// The far pixel of a walk. It may lie outside the raster (the walk then
// reports -1 where it leaves), but a walk never needs to reach farther than
// the raster is wide and high, so an offset beyond that is shortened to keep
// the pixel arithmetic in range.
CPixelPos FarPixel(const frDoublePoint& from, double ox, double oy, int width, int height)
{
    const double reach = static_cast<double>(width) + height + 4;
    const double longest = std::max(std::fabs(ox), std::fabs(oy));
    if (longest > reach) {
        ox *= reach / longest;
        oy *= reach / longest;
    }
    return {static_cast<int>(std::floor(from.x + ox + 0.5)),
            static_cast<int>(static_cast<double>(height) - 1.0 - std::floor(from.y + oy + 0.5))};
}

bool Agrees(double sample, double mean) { return std::fabs(sample - mean) <= kAgreement * mean; }

void MeasureLong(const CRasterSrc& raster, CVertex& v, const frDoublePoint& d, int height)
{
    double samples[kSamplesPerLongSegment];
    double sum = 0;
    int positive = 0;
    for (int k = 1; k <= kSamplesPerLongSegment; ++k) {
        const double f = static_cast<double>(k) / (kSamplesPerLongSegment + 1);
        samples[k - 1] = SampleStrokeWidth(raster, {v.x + f * d.x, v.y + f * d.y}, d, height);
        if (samples[k - 1] > 0) {
            sum += samples[k - 1];
            ++positive;
        }
    }
    const double mean = positive ? sum / positive : 0.0;
    if (mean <= kThinnestWidth) {
        v.startWidth = 0.0;
        return;
    }
    double smallest = mean;
    bool agree = true;
    for (double s : samples) {
        if (s <= 0)
            continue;
        agree = agree && Agrees(s, mean);
        smallest = std::min(smallest, s);
    }
    v.startWidth = agree ? mean : smallest;
}

void MeasureShort(const CRasterSrc& raster, CVertex& v, const frDoublePoint& d, int height)
{
    const CVertex& n = *v.next;
    const double w1 = SampleStrokeWidth(raster, {v.x, v.y}, d, height);
    const double w2 = SampleStrokeWidth(raster, {n.x, n.y}, d, height);
    if (w1 < 0 && w2 < 0) {
        v.startWidth = 0.0;
        return;
    }
    const double mean = w1 < 0 ? w2 : w2 < 0 ? w1 : (w1 + w2) / 2;
    if (mean <= 0) {
        v.startWidth = 0.0;
        return;
    }
    if (Agrees(w1, mean) && Agrees(w2, mean))
        v.startWidth = mean;
    else
        v.startWidth = w1 < 0 ? w2 : w2 < 0 ? w1 : std::min(w1, w2);
}

frDoublePoint Minus(const CVertex& a, const CVertex& b) { return {a.x - b.x, a.y - b.y}; }

double Length(const frDoublePoint& d) { return std::hypot(d.x, d.y); }

// Slides n towards the end by d1 cos(t) along the line and drops the end.
void FoldEnd(CPolyLine& polyline, CVertex* e, CVertex* n, const frDoublePoint& u, double d1, double d2, double t)
{
    const double slide = d1 * std::cos(t) / d2;
    n->x += u.x * slide;
    n->y += u.y * slide;
    polyline.RemoveVertex(e);
    polyline.m_Modified = true;
}

bool IsOneBit(const CRasterSrc& raster)
{
    return !raster.IsEmpty() && raster.GetBitCount() == 1 && raster.GetWidth() > 0 && raster.GetHeight() > 0;
}

}  // namespace

double SampleStrokeWidth(const CRasterSrc& raster, const frDoublePoint& p, const frDoublePoint& d, int height)
{
    const int width = raster.GetWidth();
    CPixelPos start;
    if (!std::isfinite(d.x) || !std::isfinite(d.y) || !ToPixel(p, width, height, &start))
        return kNoStroke;
    // A walk with diagonal steps hops over pixels of a slanted stroke (across
    // a 45 degree stroke two pixels wide it meets one or two pixels, by where
    // it starts), so the walk goes along the axis nearer to the normal, as far
    // as the segment is long, and its run is turned into the width across.
    const double length = std::hypot(d.x, d.y);
    double ox = -d.y, oy = d.x;
    double across = 1.0;
    if (length > 0 && std::isfinite(length)) {
        if (std::fabs(d.y) >= std::fabs(d.x)) {
            across = std::fabs(d.y) / length;
            ox = std::copysign(length, ox);
            oy = 0;
        } else {
            across = std::fabs(d.x) / length;
            ox = 0;
            oy = std::copysign(length, oy);
        }
    }
    const CPixelPos left = FarPixel(p, ox, oy, width, height);
    const CPixelPos right = FarPixel(p, -ox, -oy, width, height);
    const int a = RunLengthAlongLine(raster, start.column, start.row, left.column, left.row);
    const int b = RunLengthAlongLine(raster, start.column, start.row, right.column, right.row);
    double value;
    if (a < 0 && b < 0)
        return kNoStroke;
    if (a < 0)
        value = 2.0 * b;
    else if (b < 0)
        value = 2.0 * a;
    else
        value = a + b;
    // Both runs counted the start pixel; a stroke of up to two pixels is a
    // hairline.
    if (value > 2)
        return (value - 1) * across;
    return value > 0 ? 0.0 : value;
}

void MeasureWidthAtVertex(const CRasterSrc& raster, CVertex& v, int height)
{
    const frDoublePoint d = Minus(*v.next, v);
    if (Length(d) >= kLongSegment)
        MeasureLong(raster, v, d, height);
    else
        MeasureShort(raster, v, d, height);
}

void CalcLineWidth(CPolyLine& polyline, const CRasterSrc& raster)
{
    CVertex* head = polyline.GetHead();
    if (head == nullptr || head->next == head || !IsOneBit(raster))
        return;
    const int height = raster.GetHeight();
    CVertex* tail = head->prev;
    for (CVertex* v = head; v != tail; v = v->next)
        MeasureWidthAtVertex(raster, *v, height);
    if (polyline.m_Closed)
        MeasureWidthAtVertex(raster, *tail, height);
    polyline.m_Modified = true;
}

bool CorrectPolylineEnds(CPolyLine& polyline)
{
    CVertex* head = polyline.GetHead();
    if (head == nullptr)
        return true;
    const bool twoVertices = head->next != head && head->next->next == head;
    if (twoVertices && polyline.GetLength() <= kBlobLength * head->startWidth)
        return false;
    // A closed ring has no ends: its head is an arbitrary corner.
    if (head->next == head || twoVertices || polyline.m_Closed)
        return true;
    CVertex* n = head->next;
    CorrectPolylineEnd(polyline, head, n, n->next, kBandShare * n->startWidth, head->startWidth);
    head = polyline.GetHead();
    if (head->next == head || head->next->next == head)
        return true;
    CVertex* tail = head->prev;
    n = tail->prev;
    CorrectPolylineEnd(polyline, tail, n, n->prev, kBandShare * n->prev->startWidth, n->startWidth);
    return true;
}

void CorrectPolylineEnd(CPolyLine& polyline, CVertex* e, CVertex* n, CVertex* q, double h, double w)
{
    const frDoublePoint outward = Minus(*e, *n);
    const frDoublePoint u = Minus(*n, *q);
    const double d1 = Length(outward);
    const double d2 = Length(u);
    if (d1 < kTinyEnd) {
        polyline.RemoveVertex(e);
        polyline.m_Modified = true;
        return;
    }
    // Only a short end segment after a longer one can be a hook.
    if (!(d1 < 0.5 * d2 && d2 >= kTinyEnd))
        return;
    const double t = VectorAngle(u, outward);
    if (d1 < 2 * w && 2.5 * h < d2 && t < THIRD_PI && d1 < 5 * d2) {
        FoldEnd(polyline, e, n, u, d1, d2, t);
        return;
    }
    if (h <= kMinBand)
        return;
    // The band of half-width h round the line q-n.
    const frDoublePoint offset(-u.y / d2 * h, u.x / d2 * h);
    const frDoublePoint upperA(q->x + offset.x, q->y + offset.y), upperB(n->x + offset.x, n->y + offset.y);
    const frDoublePoint lowerA(q->x - offset.x, q->y - offset.y), lowerB(n->x - offset.x, n->y - offset.y);
    const frDoublePoint end(e->x, e->y);
    if (GetPointSide(end, lowerA, lowerB) != -1 && GetPointSide(end, upperA, upperB) != 1)
        FoldEnd(polyline, e, n, u, d1, d2, t);
}

// ---- layer commands --------------------------------------------------------

namespace {

// A polyline filed in the connect grid by the tracer points at its end
// records; a deleted polyline must not be reachable through them.
void DetachConnectEnds(CEntity* entity)
{
    if (entity->m_StartLink)
        entity->m_StartLink->entity = nullptr;
    if (entity->m_EndLink)
        entity->m_EndLink->entity = nullptr;
    entity->m_StartLink = entity->m_EndLink = nullptr;
}

}  // namespace

bool CalcLineWidths(CLayer& layer, CCommonThread* sink, const CRasterSrc& raster)
{
    CStepProgress step(sink, "ProcessCalcLineWidth", "Calculate line width");
    const std::int64_t count = layer.CountEntities();
    step.SetRange(0, 50, count);
    // Measuring and correcting a polyline reads the raster and changes that
    // polyline alone, so a batch runs on the pool; the blobs found leave the
    // layer after it, in layer order, while the pool works on the next
    // batch. (They are dropped at once rather than listed: a list that grows
    // into large blocks makes the allocator sweep its many small free blocks
    // each time.)
    std::array<bool, 2 * kEntityBatch> blob;
    const BatchResult result = ForEachEntityBatchAhead(
        layer,
        [&](std::size_t i, CEntity& e) {
            blob[i] = false;
            if (e.m_Type != ENTITY_POLYLINE)
                return;
            auto& polyline = static_cast<CPolyLine&>(e);
            CalcLineWidth(polyline, raster);
            blob[i] = !CorrectPolylineEnds(polyline);
        },
        [&](std::span<CEntity* const> batch, std::size_t first) {
            for (std::size_t i = 0; i < batch.size(); ++i) {
                if (blob[first + i]) {
                    layer.RemoveEntity(batch[i]);
                    DetachConnectEnds(batch[i]);
                    delete batch[i];
                }
            }
            return true;
        },
        [&](std::size_t done) { return AdvanceOverBatch(step, done); });
    if (result == BatchResult::kNoMemory)
        step.Fail(RUN_NO_MEMORY);
    if (result != BatchResult::kDone)
        return false;
    // The second half of the bar, which a walk that dropped the blobs
    // would move.
    step.SetRange(50, 50, count);
    if (!AdvanceOverBatch(step, static_cast<std::size_t>(std::max<std::int64_t>(count, 0))))
        return false;
    step.End();
    return true;
}

bool RoundWidths(CLayer& layer, CCommonThread* sink, double resolution, const CTraceOption& options)
{
    CStepProgress step(sink, "ProcessRoundWidth", "Round width");
    step.SetRange(0, 100, layer.CountEntities());
    const CWidthSeries& series = options.ChartType.WidthSeries;
    for (CEntity* e = layer.GetFirstEntity(); e; e = e->m_Next) {
        switch (e->m_Type) {
        case ENTITY_POLYLINE: static_cast<CPolyLine*>(e)->RoundWidth(resolution, options); break;
        case ENTITY_CIRCLE:
        case ENTITY_ARC: static_cast<CCircle*>(e)->RoundWidth(resolution, options); break;
        default: e->m_Width = series.RoundToSeries(e->m_Width, resolution); break;
        }
        if (!step.Advance())
            return false;
    }
    step.End();
    return true;
}
