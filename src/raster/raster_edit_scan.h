#pragma once
// A polygon of pixel points turned into the spans of rows it fills.
//
// Data: every edge is walked in pixel steps (CLineSteps); each step lying on
// a row of the image becomes a crossing of that row (CVirtualPoint), marked
// as part of a horizontal edge, of a right boundary (the polygon lies to its
// left) or of a left boundary. A row's crossings, sorted by x (at equal x by
// where their edges meet the row), are paired into spans (CScanLine): a span
// opens after a left boundary and after a step that touches the next
// crossing, and a gap after a right boundary or before a left one stays
// empty. The last column of a right boundary is left out; a bottom row is
// filled along its horizontal edge. A vertex where the outline turns back
// vertically (a tip, or the ends of a flat top or bottom whose neighbours
// both lie on one side) is a crossing of both its edges, a left and a right
// one: the left first at a spike, the right first at a notch. So two tips on
// one row pair with themselves and not with each other; every other vertex
// is a crossing once.
//
// Only the rows of the image are kept, and of the crossings left or right of
// the image only the one next to it in each row: pairing across the image's
// edge depends on nothing else, so a polygon reaching far outside the image
// fills the same pixels as on an unbounded canvas, in time bounded by the
// image's size rather than the polygon's.
//
// The vectors here throw std::bad_alloc when memory is short; the caller
// (CRasterSrc::FillPolygon) turns that into its result.
#include "platform/win_types.h"

#include <cstdint>
#include <span>
#include <vector>

struct CPoint {
    int x = 0;
    int y = 0;
    friend bool operator==(const CPoint&, const CPoint&) = default;
};

// The steps of a line from one point towards another: n = max(|dx|, |dy|)
// steps, step i at (x1 + round(i dx / n), y1 + round(i dy / n)) with halves
// rounded up, so step 0 is the start and step n the end; x and y each move
// one way only.
class CLineSteps {
public:
    CLineSteps(CPoint from, CPoint to);
    std::int64_t GetCount() const { return m_n; }
    std::int64_t X(std::int64_t i) const { return m_x1 + Offset(i, m_dx); }
    std::int64_t Y(std::int64_t i) const { return m_y1 + Offset(i, m_dy); }
    std::int64_t GetDx() const { return m_dx; }
    std::int64_t GetDy() const { return m_dy; }

    // The first step of [lo, hi) where holds(i) is true, for a test that is
    // false and then true along the steps; hi when there is none.
    template <class Test>
    static std::int64_t FirstWhere(std::int64_t lo, std::int64_t hi, Test holds)
    {
        while (lo < hi) {
            std::int64_t mid = lo + (hi - lo) / 2;
            if (holds(mid))
                hi = mid;
            else
                lo = mid + 1;
        }
        return lo;
    }

private:
    std::int64_t Offset(std::int64_t i, std::int64_t d) const;

    std::int64_t m_x1, m_y1, m_dx, m_dy, m_n;
};

// Crossing kinds.
constexpr BYTE kCrossHorizontal = 0;
constexpr BYTE kCrossRight = 1;  // the polygon lies to the left
constexpr BYTE kCrossLeft = 2;   // the polygon lies to the right
constexpr BYTE kNoTip = 0xFF;

struct CVirtualPoint {
    int x = 0;
    BYTE kind = kCrossHorizontal;
    double exact = 0;  // where the edge meets the row, before rounding
};

// A span of one row to fill, x1 included, x2 excluded.
struct CScanLine {
    int y = 0;
    int x1 = 0;
    int x2 = 0;
};

// One row's crossings: those inside the image, and the nearest on each side
// outside it.
class CVirtualLine {
public:
    // A crossing with 0 <= x < width.
    void InsertCrossing(CVirtualPoint p) { m_inside.push_back(p); }
    // A crossing with x < 0 or x >= width, in the order they come.
    void NoteLeftOutside(CVirtualPoint p);
    void NoteRightOutside(CVirtualPoint p);
    // Appends the row's spans, clipped to [0, width) and merged where they
    // touch. Sorts the crossings.
    void ToScanLines(int y, int width, std::vector<CScanLine>& spans);

private:
    std::vector<CVirtualPoint> m_inside;
    CVirtualPoint m_left;
    CVirtualPoint m_right;
    bool m_hasLeft = false;
    bool m_hasRight = false;
};

// 1 when the outline runs clockwise as displayed (rows growing downwards),
// -1 when anticlockwise, 0 when it encloses no area; from the signed area.
int PolygonTurnAtTop(std::span<const CPoint> points);

// The smallest and largest y of the points; false for fewer than 3.
bool PolygonBounds(std::span<const CPoint> points, int& ymin, int& ymax);

class CScanLineTable {
public:
    // Rows ymin..ymax of the polygon, clipped to the image's rows; false when
    // none of them lies in the image.
    [[nodiscard]] bool Init(int ymin, int ymax, int width, int height);
    // Adds the crossings of every edge of the polygon, tips counted twice.
    void AddPolygon(std::span<const CPoint> points, int orientation);
    // Adds the crossings of the edge from one vertex to the next (its end
    // excluded) for a polygon of the given orientation (1 or -1); tip is the
    // kind of the edge that ends at a tip in `from` (kNoTip for none), its
    // crossing going before this edge's first step or after it.
    void AddEdge(CPoint from, CPoint to, int orientation, BYTE tip = kNoTip, bool tipFirst = false);
    // Pairs every row's crossings; the spans come out in row order.
    void BuildScanLines();
    const std::vector<CScanLine>& GetScanLines() const { return m_spans; }

private:
    void AddStep(CVirtualLine& row, std::int64_t x, BYTE kind, double exact);
    void AddEdgeSteps(CPoint from, CPoint to, int orientation);

    int m_ymin = 0;
    int m_ymax = -1;
    int m_width = 0;
    std::vector<CVirtualLine> m_rows;  // m_ymin..m_ymax
    std::vector<CScanLine> m_spans;
};
