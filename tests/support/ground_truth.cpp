// Ground truth for tracing: rasterising, collecting and measuring. The
// segments of one side (truth or trace) are filed in a grid of square cells,
// so that a nearest-segment search looks at the rings of cells round a point
// only until the ring is farther than the best distance found.
#include "support/ground_truth.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "model/circle.h"
#include "model/constants.h"
#include "model/entity.h"
#include "model/geometry.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/line.h"
#include "model/polygon_set.h"
#include "model/polyline.h"
#include "raster/raster_entity.h"
#include "raster/raster_src.h"
#include "trace/common_thread.h"
#include "trace/trace_run.h"

namespace ground_truth {

namespace {

constexpr double kFlatChord = 0.02;  // sagitta of a flattened arc's chords, pixels
constexpr double kCell = 8.0;
constexpr double kHalfCircle = 1e-3;  // a bulge this near 1 is a half circle
constexpr LONG k300Dpi = 11811;

double Distance(Point a, Point b) { return std::hypot(a.x - b.x, a.y - b.y); }

double SegmentDistance(Point p, Point a, Point b)
{
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double length2 = dx * dx + dy * dy;
    double t = length2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / length2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    return Distance(p, {a.x + t * dx, a.y + t * dy});
}

// Points every `step` along each segment of the lines, ends included.
template <class Visit>
void Sample(const std::vector<std::vector<Point>>& lines, double step, Visit visit)
{
    for (const auto& line : lines) {
        if (line.size() == 1)
            visit(line[0]);
        for (std::size_t i = 1; i < line.size(); ++i) {
            const Point a = line[i - 1], b = line[i];
            const int n = std::max(1, static_cast<int>(std::ceil(Distance(a, b) / step)));
            for (int k = i == 1 ? 0 : 1; k <= n; ++k)
                visit(Point{a.x + (b.x - a.x) * k / n, a.y + (b.y - a.y) * k / n});
        }
    }
}

class SegmentIndex {
public:
    SegmentIndex(const std::vector<std::vector<Point>>& lines, int width, int height)
        : m_columns(static_cast<int>(width / kCell) + 2), m_rows(static_cast<int>(height / kCell) + 2),
          m_cells(static_cast<std::size_t>(m_columns) * m_rows)
    {
        for (const auto& line : lines) {
            for (std::size_t i = 0; i < line.size(); ++i) {
                const Point a = line[i], b = i + 1 < line.size() ? line[i + 1] : line[i];
                if (i + 1 == line.size() && line.size() > 1)
                    break;
                const int id = static_cast<int>(m_segments.size());
                m_segments.push_back({a, b});
                const int c0 = Column(std::min(a.x, b.x)), c1 = Column(std::max(a.x, b.x));
                const int r0 = Row(std::min(a.y, b.y)), r1 = Row(std::max(a.y, b.y));
                for (int r = r0; r <= r1; ++r)
                    for (int c = c0; c <= c1; ++c)
                        m_cells[static_cast<std::size_t>(r) * m_columns + c].push_back(id);
            }
        }
    }

    // The distance to the nearest segment, kFarCap when none is nearer.
    double Nearest(Point p, double cap = kFarCap) const
    {
        double best = cap;
        const int c = Column(p.x), r = Row(p.y);
        const int rings = static_cast<int>(cap / kCell) + 1;
        for (int k = 0; k <= rings; ++k) {
            for (int y = r - k; y <= r + k; ++y) {
                if (y < 0 || y >= m_rows)
                    continue;
                const bool edge = y == r - k || y == r + k;
                for (int x = c - k; x <= c + k; x += edge ? 1 : 2 * k) {
                    if (x >= 0 && x < m_columns)
                        for (int id : m_cells[static_cast<std::size_t>(y) * m_columns + x])
                            best = std::min(best, SegmentDistance(p, m_segments[id].a, m_segments[id].b));
                    if (k == 0)
                        break;
                }
            }
            // Every cell beyond ring k lies at least k cells away.
            if (best <= k * kCell)
                break;
        }
        return best;
    }

private:
    struct Segment {
        Point a, b;
    };
    int Column(double x) const { return std::clamp(static_cast<int>(std::floor(x / kCell)) + 1, 0, m_columns - 1); }
    int Row(double y) const { return std::clamp(static_cast<int>(std::floor(y / kCell)) + 1, 0, m_rows - 1); }

    int m_columns, m_rows;
    std::vector<std::vector<int>> m_cells;
    std::vector<Segment> m_segments;
};

// Points of the arc from `start` turning by `sweep` (radians, signed), ends
// included, in world coordinates.
void AppendArc(std::vector<Point>& out, frDoublePoint centre, double radius, double start, double sweep)
{
    const double step = 2 * std::acos(std::max(0.0, 1 - kFlatChord / std::max(radius, kFlatChord)));
    const int n = std::clamp(static_cast<int>(std::ceil(std::fabs(sweep) / std::max(step, 1e-3))), 2, 100000);
    for (int k = 0; k <= n; ++k) {
        const double a = start + sweep * k / n;
        out.push_back({centre.x + radius * std::cos(a), centre.y + radius * std::sin(a)});
    }
}

struct Collector {
    Traced& traced;
    int height;

    Point Pixel(double x, double y) const { return {x, height - 1 - y}; }
    Circle PixelCircle(frDoublePoint c, double r) const { return {Pixel(c.x, c.y), r}; }
    void AddWorldLine(std::vector<Point> world)
    {
        for (Point& p : world)
            p = Pixel(p.x, p.y);
        traced.lines.push_back(std::move(world));
    }

    void AddPolyline(const CPolyLine& polyline)
    {
        const CVertex* head = polyline.GetHead();
        if (head == nullptr)
            return;
        std::vector<Point> world{{head->x, head->y}};
        bool allHalves = polyline.m_Closed;
        bool first = true;
        Circle halves;
        for (const CVertex* v = head; v->next != head || polyline.m_Closed; v = v->next) {
            if (v == polyline.GetTail() && !polyline.m_Closed)
                break;
            const CVertex* w = v->next;
            CBulgeArc arc;
            if (IsArcBulge(v->bulge) && GetBulgeArc(*v, *w, v->bulge, &arc)) {
                AppendArc(world, arc.centre, arc.radius, arc.startAngle,
                          SignedBulgeArcSweep(arc.startAngle, arc.endAngle, v->bulge));
                traced.curves.push_back(PixelCircle(arc.centre, arc.radius));
                if (first)
                    halves = PixelCircle(arc.centre, arc.radius);
            } else {
                world.push_back({w->x, w->y});
            }
            if (std::fabs(std::fabs(v->bulge) - 1) > kHalfCircle)
                allHalves = false;
            first = false;
            if (w == head)
                break;
        }
        if (allHalves && !first)
            traced.circles.push_back(halves);
        AddWorldLine(std::move(world));
    }

    void Add(CEntity& entity)
    {
        switch (entity.m_Type) {
        case ENTITY_LINE: {
            const auto& line = static_cast<const CLine&>(entity);
            AddWorldLine({{line.GetStart().x, line.GetStart().y}, {line.GetEnd().x, line.GetEnd().y}});
            break;
        }
        case ENTITY_POLYLINE: AddPolyline(static_cast<const CPolyLine&>(entity)); break;
        case ENTITY_CIRCLE: {
            const auto& circle = static_cast<const CCircle&>(entity);
            std::vector<Point> world;
            AppendArc(world, circle.m_Centre, circle.m_Radius, 0, TWO_PI);
            AddWorldLine(std::move(world));
            traced.circles.push_back(PixelCircle(circle.m_Centre, circle.m_Radius));
            traced.curves.push_back(traced.circles.back());
            break;
        }
        case ENTITY_ARC: {
            const auto& arc = static_cast<const CArc&>(entity);
            double sweep = std::fmod(arc.m_EndAngle - arc.m_StartAngle, TWO_PI);
            if (sweep <= 0)
                sweep += TWO_PI;
            std::vector<Point> world;
            AppendArc(world, arc.m_Centre, arc.m_Radius, arc.m_StartAngle, sweep);
            AddWorldLine(std::move(world));
            traced.curves.push_back(PixelCircle(arc.m_Centre, arc.m_Radius));
            break;
        }
        case ENTITY_POLYPOLYGON: {
            const auto& set = static_cast<const CPolyPolygon&>(entity);
            for (int i = 0; i < set.GetOutlineCount(); ++i)
                if (const CPolyLine* outline = set.GetOutline(i))
                    AddPolyline(*outline);
            break;
        }
        default: break;
        }
    }
};

DWORD SilentRunner(CCommonThread& worker, int)
{
    if (!worker.Start())
        return RUN_NOT_REPORTED;
    worker.Wait();
    return worker.GetRunResult();
}

}  // namespace

bool ReadDrawing(const std::string& path, Drawing& out)
{
    std::ifstream in(path);
    if (!in)
        return false;
    out = Drawing();
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        fields.imbue(std::locale::classic());
        std::string kind;
        fields >> kind;
        if (kind == "size") {
            fields >> out.width >> out.height;
        } else if (kind == "text") {
            fields >> out.texts;
        } else if (kind == "circle") {
            Circle c;
            fields >> c.centre.x >> c.centre.y >> c.radius;
            out.circles.push_back(c);
        } else if (kind == "line") {
            std::vector<Point> points;
            Point p;
            while (fields >> p.x >> p.y)
                points.push_back(p);
            out.lines.push_back(std::move(points));
        }
    }
    return out.width > 0 && out.height > 0;
}

void AddCircle(Drawing& drawing, Point centre, double radius)
{
    std::vector<Point> line;
    AppendArc(line, {centre.x, centre.y}, radius, 0, TWO_PI);
    drawing.lines.push_back(std::move(line));
    drawing.circles.push_back({centre, radius});
}

void AddPolygon(Drawing& drawing, Point centre, double radius, int sides, double turn)
{
    std::vector<Point> line;
    for (int k = 0; k <= sides; ++k) {
        const double a = turn + TWO_PI * k / sides;
        line.push_back({centre.x + radius * std::cos(a), centre.y + radius * std::sin(a)});
    }
    drawing.lines.push_back(std::move(line));
    drawing.polygons.push_back({centre, radius, sides});
}

Drawing SyntheticSheet()
{
    Drawing sheet;
    sheet.width = 1400;
    sheet.height = 1000;
    // Off the pixel grid by a fraction, so no shape is drawn only on whole pixels.
    double x = 40.3;
    for (double r : {12.0, 16.0, 25.0, 40.0, 60.0}) {
        AddCircle(sheet, {x + r, 80.6}, r);
        x += 2 * r + 30;
    }
    AddCircle(sheet, {1200.2, 180.7}, 150);
    double y = 400.4;
    for (int sides : {3, 4, 6, 8}) {
        x = 30.6;
        for (double r : {12.0, 20.0, 35.0, 60.0, 100.0}) {
            AddPolygon(sheet, {x + r, y}, r, sides, 0.1 * sides);
            x += 2 * r + 40;
        }
        y += 220;  // the largest polygons are 200 across
    }
    sheet.height = static_cast<int>(y) - 90;
    return sheet;
}

Drawing Tangle(std::uint64_t seed)
{
    Drawing tangle;
    tangle.width = 640;
    tangle.height = 640;
    std::uint64_t state = seed;
    const auto next = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) / 9007199254740992.0;
    };
    std::vector<Point> walk{{320.5, 320.5}};
    for (int step = 0; step < 500; ++step) {
        const double a = 2 * M_PI * next(), length = 18 + 14 * next();
        const Point to{walk.back().x + length * std::cos(a), walk.back().y + length * std::sin(a)};
        if (to.x >= 24 && to.x <= 616 && to.y >= 24 && to.y <= 616)
            walk.push_back(to);
    }
    walk.push_back(walk.front());
    tangle.lines.push_back(walk);
    return tangle;
}

bool Rasterise(const Drawing& drawing, double penWidth, CRasterSrc& image)
{
    if (!image.Create(drawing.width, drawing.height, 1))
        return false;
    const double r = penWidth / 2;
    for (const auto& line : drawing.lines) {
        for (std::size_t i = 0; i < line.size(); ++i) {
            const Point a = line[i], b = line[std::min(i + 1, line.size() - 1)];
            const int x0 = std::max(0, static_cast<int>(std::floor(std::min(a.x, b.x) - r)));
            const int x1 = std::min(drawing.width - 1, static_cast<int>(std::ceil(std::max(a.x, b.x) + r)));
            const int y0 = std::max(0, static_cast<int>(std::floor(std::min(a.y, b.y) - r)));
            const int y1 = std::min(drawing.height - 1, static_cast<int>(std::ceil(std::max(a.y, b.y) + r)));
            for (int py = y0; py <= y1; ++py)
                for (int px = x0; px <= x1; ++px)
                    if (SegmentDistance({double(px), double(py)}, a, b) <= r)
                        image.SetPixelBit(px, py, true);
        }
    }
    return true;
}

Traced Collect(CLayer& layer, int height)
{
    Traced traced;
    Collector collector{traced, height};
    for (CEntity* e = layer.GetFirstEntity(); e; e = e->m_Next)
        collector.Add(*e);
    return traced;
}

Traced FromDrawing(const Drawing& drawing)
{
    Traced traced;
    traced.lines = drawing.lines;
    return traced;
}

Figures Measure(const Drawing& truth, const Traced& traced, double penWidth)
{
    Figures figures;
    const SegmentIndex truthIndex(truth.lines, truth.width, truth.height);
    Sample(traced.lines, kSampleStep, [&](Point p) {
        const double distance = truthIndex.Nearest(p);
        if (distance > figures.maxDistance) {
            figures.maxDistance = distance;
            figures.farthest = p;
        }
    });

    const SegmentIndex traceIndex(traced.lines, truth.width, truth.height);
    long total = 0, near = 0;
    Sample(truth.lines, kSampleStep, [&](Point p) {
        ++total;
        near += traceIndex.Nearest(p, kNearTrace + 1) <= kNearTrace;
    });
    figures.covered = total ? static_cast<double>(near) / total : 1.0;

    const auto isCircle = [&](Point centre, double radius) {
        return std::any_of(traced.circles.begin(), traced.circles.end(), [&](const Circle& f) {
            return Distance(f.centre, centre) <= kCircleMatch && std::fabs(f.radius - radius) <= kCircleMatch;
        });
    };
    for (const Circle& c : truth.circles) {
        ++figures.circles;
        // A ring is found only when its hole is a circle too.
        const double half = traced.borders ? 0.5 * penWidth : 0;
        figures.circlesFound += isCircle(c.centre, c.radius + half) && isCircle(c.centre, c.radius - half);
    }
    for (const Polygon& polygon : truth.polygons) {
        if (polygon.radius * (1 - std::cos(PI / polygon.sides)) < 1.5 * penWidth)
            continue;
        ++figures.polygons;
        // A corner's fillet is small; a curve the size of the polygon stands for its sides.
        figures.polygonsCurved += std::any_of(traced.curves.begin(), traced.curves.end(), [&](const Circle& f) {
            return Distance(f.centre, polygon.centre) <= 0.5 * polygon.radius && f.radius >= 0.5 * polygon.radius;
        });
    }
    return figures;
}

bool TraceDrawing(const Drawing& truth, double penWidth, const CTraceOption& options, Traced& traced)
{
    CGraph drawing;
    CRaster* raster = drawing.GetRaster();
    if (raster == nullptr || !Rasterise(truth, penWidth, raster->GetImage()))
        return false;
    (void)raster->GetImage().SetResolution(k300Dpi);
    if (::TraceDrawing(&drawing, options, SilentRunner).code != RUN_FINISHED)
        return false;
    CLayer* layer = drawing.GetFirstLayer();
    traced = layer ? Collect(*layer, truth.height) : Traced();
    traced.borders = options.i_AutoTraceWhat == TRACE_OUTLINE;
    return true;
}

}  // namespace ground_truth
