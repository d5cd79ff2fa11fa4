#include "trace/post_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/circle.h"
#include "model/constants.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/line.h"
#include "model/polyline.h"
#include "raster/raster_entity.h"
#include "raster/raster_src.h"
#include "trace/common_thread.h"
#include "trace/outline.h"
#include "trace/straighten.h"
#include "trace/trace_option.h"
#include "support/idle_worker.h"

namespace {

// ---- fixtures ---------------------------------------------------------------

// Records the progress protocol on the calling thread and asks the worker to
// stop when the stopAt-th message (1-based) arrives.
class CRecorder : public CMessageReceiver {
public:
    ~CRecorder() override { Close(); }
    std::vector<UINT> messages;
    std::vector<std::string> texts;
    CCommonThread* worker = nullptr;
    std::size_t stopAt = 0;
    std::function<void()> atStop;  // called when the stop is asked for

protected:
    LRESULT WindowProc(UINT message, WPARAM, LPARAM lParam) override
    {
        messages.push_back(message);
        if (message == WM_STEP_TEXT)
            texts.emplace_back(reinterpret_cast<const char*>(lParam));
        if (messages.size() == stopAt && worker) {
            worker->RequestStop();
            if (atStop)
                atStop();
        }
        return 0;
    }
};

// A worker listened to by a recorder on this thread.
struct Sink {
    Sink()
    {
        worker.SetNotifyWindow(&recorder);
        recorder.worker = &worker;
    }
    CRecorder recorder;
    CIdleWorker worker;
};

// A drawing whose raster is a one-bit page of the given size at 200 dpi.
std::unique_ptr<CGraph> MakeDrawing(int width, int height)
{
    auto drawing = std::make_unique<CGraph>();
    CRasterSrc& image = drawing->GetRaster()->GetImage();
    EXPECT_TRUE(image.Create(width, height, 1));
    EXPECT_TRUE(image.SetResolution(7874));
    return drawing;
}

CRasterSrc& Image(CGraph& drawing) { return drawing.GetRaster()->GetImage(); }

// Sets every pixel (x, row) for which inside(x, row) holds.
template <typename Inside>
void Paint(CRasterSrc& raster, Inside inside)
{
    for (int y = 0; y < raster.GetHeight(); ++y)
        for (int x = 0; x < raster.GetWidth(); ++x)
            if (inside(static_cast<double>(x), static_cast<double>(y)))
                raster.SetPixelBit(x, y, true);
}

void FillRect(CRasterSrc& raster, int x0, int y0, int x1, int y1)
{
    Paint(raster, [=](double x, double y) { return x >= x0 && x < x1 && y >= y0 && y < y1; });
}

// Pixels within half the thickness of the segment (x0, y0)-(x1, y1).
void Stroke(CRasterSrc& raster, double x0, double y0, double x1, double y1, double thickness)
{
    const double dx = x1 - x0, dy = y1 - y0, l2 = dx * dx + dy * dy;
    Paint(raster, [=](double x, double y) {
        const double t = std::clamp(((x - x0) * dx + (y - y0) * dy) / l2, 0.0, 1.0);
        return std::hypot(x - x0 - t * dx, y - y0 - t * dy) <= thickness / 2;
    });
}

// The ring between the radii within the angle range (degrees, y up).
void Ring(CRasterSrc& raster, double cx, double cy, double inner, double outer, double from = 0, double to = 360)
{
    Paint(raster, [=](double x, double y) {
        const double r = std::hypot(x - cx, y - cy);
        const double a = std::fmod(std::atan2(cy - y, x - cx) / DEGREE + 360, 360);
        return r >= inner && r <= outer && a >= from && a <= to;
    });
}

// A chord from a to b fits when every node between lies within d of it.
bool ChordFits(const std::vector<frDoublePoint>& nodes, std::size_t i, std::size_t j, double d)
{
    const frDoublePoint a = nodes[i], b = nodes[j];
    const double dx = b.x - a.x, dy = b.y - a.y, l = std::hypot(dx, dy);
    for (std::size_t k = i + 1; k < j; ++k) {
        const double t =
            l > 0 ? std::clamp(((nodes[k].x - a.x) * dx + (nodes[k].y - a.y) * dy) / (l * l), 0.0, 1.0) : 0;
        if (std::hypot(nodes[k].x - a.x - t * dx, nodes[k].y - a.y - t * dy) > d)
            return false;
    }
    return true;
}

// Traces the drawing's raster by centre lines onto its first layer as the
// trace run does: nodes (x, row) become world points (x, H - 1 - row), each
// chain is thinned to the chords that stay within the straighten distance,
// then straightened.
void TraceCentreLines(CGraph& drawing, const CTraceOption& options)
{
    CRasterSrc& image = Image(drawing);
    COutlineList list(&image);
    ASSERT_TRUE(list.TraceCenterLines(nullptr));
    const double height = image.GetHeight();
    const double d = options.GetMaxDis();
    for (const auto* item = list.GetItems().GetHead(); item; item = item->next) {
        std::vector<frDoublePoint> nodes;
        for (const COutlineNode& node : item->value.nodes)
            nodes.push_back({node.x, height - 1 - node.y});
        const bool closed = item->value.closed && nodes.size() > 3;
        auto polyline = std::make_unique<CPolyLine>();
        polyline->AddPoint(nodes[0].x, nodes[0].y);
        for (std::size_t i = 0; i + 1 < nodes.size();) {
            std::size_t j = i + 1;
            while (j + 1 < nodes.size() && ChordFits(nodes, i, j + 1, d))
                ++j;
            if (!(closed && j + 1 == nodes.size()))  // a ring's last node repeats its first
                polyline->AddPoint(nodes[j].x, nodes[j].y);
            i = j;
        }
        polyline->m_Closed = closed;
        if (polyline->IsDegenerate())
            continue;
        StraightenPolyline(*polyline, d);
        drawing.GetFirstLayer()->AddEntity(polyline.release());
    }
}

std::vector<CEntity*> Entities(const CLayer& layer)
{
    std::vector<CEntity*> out;
    for (CEntity* e = layer.GetFirstEntity(); e; e = e->m_Next)
        out.push_back(e);
    return out;
}

std::vector<CVertex*> Vertices(const CPolyLine& polyline)
{
    std::vector<CVertex*> out;
    CVertex* v = polyline.GetHead();
    for (int i = 0; v && (i == 0 || v != polyline.GetHead()); ++i, v = v->next)
        out.push_back(v);
    return out;
}

double TotalLength(const CLayer& layer)
{
    double total = 0;
    for (CEntity* e : Entities(layer)) {
        if (e->m_Type == ENTITY_CIRCLE) {
            total += TWO_PI * static_cast<CCircle*>(e)->m_Radius;
        } else if (e->m_Type == ENTITY_ARC) {
            const auto* arc = static_cast<CArc*>(e);
            const double sweep = arc->m_EndAngle - arc->m_StartAngle;
            total += arc->m_Radius * (sweep <= 0 ? sweep + TWO_PI : sweep);
        } else {
            total += e->GetLength();
        }
    }
    return total;
}

std::unique_ptr<CPolyLine> MakePolyline(std::initializer_list<frDoublePoint> points, double width = 0)
{
    auto polyline = std::make_unique<CPolyLine>();
    for (const frDoublePoint& p : points)
        polyline->AddPointWidth(p.x, p.y, width);
    return polyline;
}

// Every step off: the chain measures and clears widths only.
CTraceOption AllOff()
{
    CTraceOption options;
    CChartType& chart = options.ChartType;
    chart.b_CalcWidth = chart.b_DelLine = chart.b_RecogniseCirArc = chart.b_ForceOrtho = chart.b_Connect = false;
    chart.d_MaxDis = 0;
    return options;
}

CWidthSeries PixelSeries(std::initializer_list<double> widths)
{
    CWidthSeries series;
    series.Unit = WIDTH_UNIT_PIXEL;
    series.MoreWidth = MORE_WIDTH_KEEP;
    for (double w : widths)
        series.AddWidth(w);
    return series;
}

// The options of the traced drawings: "pre_Default", every step on.
CTraceOption Drawing()
{
    CTraceOption options;
    options.ChartType.WidthSeries = PixelSeries({1, 3, 5, 7, 9});
    return options;
}

// ---- the chain's switches -----------------------------------------------------

class PostProcessSwitches : public ::testing::Test {
protected:
    void SetUp() override
    {
        drawing = MakeDrawing(80, 60);
        FillRect(Image(*drawing), 10, 20, 70, 25);  // 5 thick, centre row 22 = world y 37
        FillRect(Image(*drawing), 10, 40, 13, 43);  // a speck
        layer().AddEntity(MakePolyline({{15, 37}, {65, 37}}).release());
        layer().AddEntity(MakePolyline({{10, 18}, {12, 18}}).release());
    }
    CLayer& layer() { return *drawing->GetFirstLayer(); }
    std::unique_ptr<CGraph> drawing;
};

TEST_F(PostProcessSwitches, EverySwitchOffStillMeasuresThenClearsWidths)
{
    Sink sink;
    EXPECT_TRUE(RunPostProcessing(*drawing, &sink.worker, AllOff()));
    const auto entities = Entities(layer());
    ASSERT_EQ(1u, entities.size());  // the speck went with the width step
    EXPECT_EQ(0.0, static_cast<CPolyLine*>(entities[0])->GetHead()->startWidth);
    EXPECT_EQ((std::vector<std::string>{"Calculate line width"}), sink.recorder.texts);
    EXPECT_TRUE(drawing->IsModified());
}

TEST_F(PostProcessSwitches, MeasuredWidthsAreRoundedOnlyToASeries)
{
    CTraceOption options = AllOff();
    options.ChartType.b_CalcWidth = true;
    EXPECT_TRUE(RunPostProcessing(*drawing, nullptr, options));
    EXPECT_DOUBLE_EQ(5.0, layer().GetFirstEntity()->GetWidth());  // empty series: kept

    options.ChartType.WidthSeries.SetDefault();  // millimetres at 200 dpi
    Sink sink;
    EXPECT_TRUE(RunPostProcessing(*drawing, &sink.worker, options));
    EXPECT_NEAR(3.937, layer().GetFirstEntity()->GetWidth(), 1e-9);
    EXPECT_EQ("Round width", sink.recorder.texts.back());
}

TEST_F(PostProcessSwitches, AnglesAreAdjustedOnTheStraightenedLines)
{
    // A zigzag along 29 degrees on its 3-pixel stroke: straightened first it
    // is one segment, which the angle step turns to 30 without leaving the
    // stroke; the zigzag's own segments would each be snapped otherwise.
    CTraceOption options = AllOff();
    options.ChartType.b_CalcWidth = true;
    options.ChartType.b_ForceOrtho = true;
    options.ChartType.d_MaxDis = 2.0;
    const double along = 29 * 3.14159265358979 / 180;
    std::vector<frDoublePoint> stairs;
    for (int i = 0; i <= 16; ++i) {
        const double side = (i % 2 ? 0.4 : -0.4) * (i % 16 ? 1 : 0);
        stairs.push_back({15 + 2 * i * std::cos(along) - side * std::sin(along),
                          10 + 2 * i * std::sin(along) + side * std::cos(along)});
    }
    Stroke(Image(*drawing), stairs.front().x, 59 - stairs.front().y, stairs.back().x, 59 - stairs.back().y, 3);
    layer().DeleteAll();
    auto polyline = std::make_unique<CPolyLine>();
    for (const frDoublePoint& p : stairs)
        polyline->AddPoint(p.x, p.y);
    layer().AddEntity(polyline.release());
    Sink sink;
    EXPECT_TRUE(RunPostProcessing(*drawing, &sink.worker, options));
    EXPECT_EQ((std::vector<std::string>{"Calculate line width", "Straighten line", "Adjust angle"}),
              sink.recorder.texts);
    const auto* result = static_cast<const CPolyLine*>(layer().GetFirstEntity());
    ASSERT_EQ(result->GetPointCount(), 2);
    const CVertex* a = result->GetHead();
    EXPECT_NEAR(std::atan2(a->next->y - a->y, a->next->x - a->x) * 180 / 3.14159265358979, 30.0, 1e-4);
}

TEST_F(PostProcessSwitches, LayerEmptiedByAStepSkipsTheRest)
{
    CTraceOption options;  // the default chart type, every step on
    options.ChartType.i_DelLine_Length = 1000;
    Sink sink;
    EXPECT_TRUE(RunPostProcessing(*drawing, &sink.worker, options));
    EXPECT_TRUE(layer().IsEmpty());
    EXPECT_EQ((std::vector<std::string>{"Calculate line width", "Connect line"}), sink.recorder.texts);
}

TEST(PostProcess, DrawingWithoutLayersIsDone)
{
    CGraph drawing;
    drawing.RemoveAllLayers();
    EXPECT_TRUE(RunPostProcessing(drawing, nullptr, CTraceOption()));
}

TEST(PostProcess, ShortVectorsGoButLengthEqualToTheLimitStays)
{
    CTraceOption options;
    options.ChartType.i_DelLine_Length = 10;
    CLayer layer;
    layer.AddEntity(MakePolyline({{0, 0}, {6, 8}}).release());  // 10
    layer.AddEntity(MakePolyline({{0, 0}, {9.99, 0}}).release());
    auto* line = new CLine();
    line->SetEnds({0, 0}, {0, 9});
    layer.AddEntity(line);
    auto* circle = new CCircle();  // small, but only vectors are measured
    circle->m_Radius = 0.5;
    layer.AddEntity(circle);
    RemoveShortVectors(layer, options);
    const auto left = Entities(layer);
    ASSERT_EQ(2u, left.size());
    EXPECT_EQ(ENTITY_POLYLINE, left[0]->m_Type);
    EXPECT_EQ(ENTITY_CIRCLE, left[1]->m_Type);
}

// ---- traced synthetic drawings ----------------------------------------------------

// Paints a page, traces it and runs the whole chain; returns the first layer's entities.
template <typename PaintFn>
std::vector<CEntity*> TraceAndProcess(std::unique_ptr<CGraph>& drawing, int width, int height, PaintFn paint)
{
    drawing = MakeDrawing(width, height);
    paint(Image(*drawing));
    TraceCentreLines(*drawing, Drawing());
    EXPECT_TRUE(RunPostProcessing(*drawing, nullptr, Drawing()));
    return Entities(*drawing->GetFirstLayer());
}

TEST(PostProcessTraced, RingPlusAndSlantedStrokeBecomeTheirPrimitives)
{
    std::unique_ptr<CGraph> drawing;
    auto entities = TraceAndProcess(drawing, 120, 120, [](CRasterSrc& r) { Ring(r, 60, 60, 38, 42); });
    ASSERT_EQ(1u, entities.size());
    ASSERT_EQ(ENTITY_CIRCLE, entities[0]->m_Type);
    const auto& circle = static_cast<CCircle&>(*entities[0]);
    EXPECT_NEAR(40.0, circle.m_Radius, 1.0);
    EXPECT_NEAR(60.0, circle.m_Centre.x, 1.0);
    EXPECT_NEAR(59.0, circle.m_Centre.y, 1.0);

    // A "+" traced as four arms comes back as two straight lines.
    entities = TraceAndProcess(drawing, 120, 120, [](CRasterSrc& r) {
        FillRect(r, 10, 57, 110, 63);
        FillRect(r, 57, 10, 63, 110);
    });
    ASSERT_EQ(2u, entities.size());
    bool level = false, upright = false;
    for (CEntity* e : entities) {
        ASSERT_EQ(ENTITY_POLYLINE, e->m_Type);
        const auto v = Vertices(*static_cast<CPolyLine*>(e));
        ASSERT_EQ(2u, v.size());
        level = level || std::fabs(v[0]->y - v[1]->y) < 1e-4;
        upright = upright || std::fabs(v[0]->x - v[1]->x) < 1e-4;
    }
    EXPECT_TRUE(level && upright);

    // A 29 degree stroke is snapped to 30.
    entities = TraceAndProcess(drawing, 200, 120, [](CRasterSrc& r) {
        Stroke(r, 20, 100, 20 + 160 * std::cos(29 * DEGREE), 100 - 160 * std::sin(29 * DEGREE), 4);
    });
    ASSERT_EQ(1u, entities.size());
    const auto v = Vertices(*static_cast<CPolyLine*>(entities[0]));
    ASSERT_EQ(2u, v.size());
    const double a = std::atan2(v[1]->y - v[0]->y, v[1]->x - v[0]->x);
    EXPECT_NEAR(30.0, (a < 0 ? a + PI : a) / DEGREE, 1e-4);
}

// ---- stops ----------------------------------------------------------------------

// A bar, a ring, a "+" and a slanted stroke: work for every step.
std::unique_ptr<CGraph> TracedScene()
{
    auto drawing = MakeDrawing(240, 200);
    CRasterSrc& image = Image(*drawing);
    FillRect(image, 10, 10, 230, 16);
    Ring(image, 60, 100, 33, 37);
    FillRect(image, 120, 97, 220, 103);
    FillRect(image, 167, 50, 173, 150);
    Stroke(image, 20, 190, 200, 160, 3);
    TraceCentreLines(*drawing, Drawing());
    return drawing;
}

// Every stop leaves the layer holding what it had: nothing of the drawing
// lost (length and extents), and a step stopped right at its text (it tests
// the flag after its first entity, which no step drops or merges) hands back
// as many entities as it was given.
TEST(PostProcessStop, StopAtAnyMessageKeepsThePolylinesOnTheLayer)
{
    std::vector<UINT> reference;
    {
        auto drawing = TracedScene();
        Sink sink;
        ASSERT_TRUE(RunPostProcessing(*drawing, &sink.worker, Drawing()));
        reference = sink.recorder.messages;
        ASSERT_EQ(6u, sink.recorder.texts.size());  // every step with a text ran
    }
    auto traced = TracedScene();
    const double length = TotalLength(*traced->GetFirstLayer());
    double box[4];
    ASSERT_TRUE(traced->GetFirstLayer()->GetExtents(nullptr, box));
    // A stop during the last step's end is never polled.
    for (std::size_t stopAt = 1; stopAt < reference.size(); ++stopAt) {
        auto drawing = TracedScene();
        CLayer& layer = *drawing->GetFirstLayer();
        Sink sink;
        int countAtStep = -1;
        sink.recorder.stopAt = stopAt;
        sink.recorder.atStop = [&] { countAtStep = layer.CountEntities(); };
        EXPECT_FALSE(RunPostProcessing(*drawing, &sink.worker, Drawing())) << "stop at " << stopAt;
        EXPECT_EQ(RUN_STOPPED, sink.worker.GetRunResult());
        if (reference[stopAt - 1] == WM_STEP_TEXT) {
            EXPECT_EQ(countAtStep, layer.CountEntities()) << sink.recorder.texts.back();
        }
        EXPECT_GT(TotalLength(layer), 0.8 * length) << "stop at " << stopAt;
        double after[4];
        ASSERT_TRUE(layer.GetExtents(nullptr, after));
        for (int k = 0; k < 4; ++k)
            EXPECT_NEAR(box[k], after[k], 4.0) << "stop at " << stopAt;
    }
}

}  // namespace
