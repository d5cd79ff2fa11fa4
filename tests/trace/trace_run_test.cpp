#include "trace/trace_run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "model/entity.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/polygon_set.h"
#include "model/polyline.h"
#include "raster/raster_entity.h"
#include "raster/raster_src.h"
#include "raster/row_bands.h"

namespace {

using namespace std::chrono_literals;

constexpr LONG k300Dpi = 11811;

// The messages of one run as a progress display receives them; can press
// Stop at the n-th position message.
class CRunRecorder : public CMessageReceiver {
public:
    ~CRunRecorder() override { Close(); }

    std::vector<std::string> steps;
    std::vector<std::pair<std::string, DWORD>> positions;  // (step, position)
    int runEnds = 0;
    DWORD code = RUN_NOT_REPORTED;
    CCommonThread* worker = nullptr;
    int stopAtPosition = 0;

    void Reset()
    {
        steps.clear();
        positions.clear();
        runEnds = 0;
        code = RUN_NOT_REPORTED;
        worker = nullptr;
        stopAtPosition = 0;
    }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_STEP_TEXT) {
            steps.emplace_back(reinterpret_cast<const char*>(lParam));
        } else if (message == WM_STEP_POS) {
            positions.emplace_back(steps.empty() ? std::string() : steps.back(), static_cast<DWORD>(wParam));
            if (worker && static_cast<int>(positions.size()) == stopAtPosition)
                worker->RequestStop();
        } else if (message == WM_RUN_END) {
            ++runEnds;
            code = static_cast<DWORD>(wParam);
        }
        return 0;
    }
};

CRunRecorder* g_recorder = nullptr;
int g_announcedTotal = -1;

DWORD RecordingRunner(CCommonThread& worker, int totalSteps)
{
    g_announcedTotal = totalSteps;
    g_recorder->worker = &worker;
    worker.SetNotifyWindow(g_recorder);
    if (!worker.Start())
        return RUN_NOT_REPORTED;
    // Pump until the thread is done, so a worker never waits on us.
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!worker.IsFinished()) {
        if (std::chrono::steady_clock::now() > deadline)
            worker.RequestStop();
        g_recorder->PumpFor(10ms);
    }
    worker.Wait();
    g_recorder->Pump();
    return g_recorder->code;
}

// A thread that cannot start: no run end will ever come.
DWORD FailingRunner(CCommonThread&, int) { return RUN_NOT_REPORTED; }

class TraceRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_recorder = &recorder;
        ASSERT_TRUE(Image().Create(200, 120, 1));
        ASSERT_TRUE(Image().SetResolution(k300Dpi));
        options.Outline.b_RecogniseCirArc = false;
        options.Outline.b_Fill = false;
    }
    void TearDown() override { g_recorder = nullptr; }

    CRasterSrc& Image() { return drawing.GetRaster()->GetImage(); }
    void Square(int x0, int y0, int side)
    {
        for (int y = y0; y < y0 + side; ++y)
            for (int x = x0; x < x0 + side; ++x)
                Image().SetPixelBit(x, y, true);
    }
    // Squares of 3 x 3 pixels on a 5-pixel pitch, row by row.
    void ManySquares(int count)
    {
        for (int i = 0; i < count; ++i)
            Square(1 + (i % 39) * 5, 1 + (i / 39) * 5, 3);
    }
    CTraceRunResult Trace(UINT method)
    {
        options.i_AutoTraceWhat = method;
        recorder.Reset();
        return TraceDrawing(&drawing, options, RecordingRunner);
    }
    CLayer* OnlyLayer()
    {
        EXPECT_EQ(drawing.GetLayerCount(), 1);
        CLayer* layer = drawing.GetFirstLayer();
        EXPECT_NE(layer, nullptr);
        if (layer) {
            EXPECT_EQ(layer->GetName(), "Trace");
        }
        return layer;
    }
    int CountOfType(CLayer& layer, int type)
    {
        int count = 0;
        for (CEntity* e = layer.GetFirstEntity(); e; e = e->m_Next)
            count += static_cast<int>(e->m_Type) == type;
        return count;
    }

    CGraph drawing;
    CTraceOption options;
    CRunRecorder recorder;
};

TEST_F(TraceRun, EmptyPageFinishesWithOneEmptyTraceLayer)
{
    drawing.SelectOrAddLayer("Old");
    for (UINT method : {TRACE_CENTER_LINE, TRACE_OUTLINE, TRACE_FILL_PATTERN}) {
        const CTraceRunResult result = Trace(method);
        EXPECT_EQ(result.code, RUN_FINISHED) << method;
        EXPECT_EQ(recorder.runEnds, 1) << method;
        CLayer* layer = OnlyLayer();
        ASSERT_NE(layer, nullptr);
        EXPECT_TRUE(layer->IsEmpty()) << method;
        // Nothing traced: no polyline step and no post-processing.
        for (const std::string& step : recorder.steps)
            EXPECT_EQ(step.find("Generate"), std::string::npos) << method;
    }
}

TEST_F(TraceRun, StepTotalMatchesTheStepsAnnounced)
{
    Square(20, 20, 30);
    Square(80, 30, 40);
    for (int x = 10; x < 190; ++x)  // a line for the centre-line method
    {
        Image().SetPixelBit(x, 100, true);
        Image().SetPixelBit(x, 101, true);
    }

    struct Case {
        UINT method;
        bool recognise;
        bool fill;
        UINT fillType;
    };
    const Case cases[] = {
        {TRACE_OUTLINE, false, false, FILL_SOLID},         {TRACE_OUTLINE, true, false, FILL_SOLID},
        {TRACE_OUTLINE, true, true, FILL_CROSS},           {TRACE_OUTLINE, false, true, FILL_HORIZONTAL},
        {TRACE_OUTLINE, false, true, FILL_SOLID},          {TRACE_FILL_PATTERN, false, false, FILL_CROSS},
        {TRACE_FILL_PATTERN, false, false, FILL_VERTICAL},
    };
    for (const Case& c : cases) {
        options.Outline.b_RecogniseCirArc = c.recognise;
        options.Outline.b_Fill = c.fill;
        options.Outline.i_FillType = c.fillType;
        options.FillPattern.i_FillType = c.fillType;
        EXPECT_EQ(Trace(c.method).code, RUN_FINISHED);
        EXPECT_EQ(g_announcedTotal, static_cast<int>(recorder.steps.size()))
            << "method " << c.method << " fill " << c.fill << " type " << c.fillType;
    }

    CTraceOption centre;
    centre.i_AutoTraceWhat = TRACE_CENTER_LINE;
    centre.ChartType.b_Connect = centre.ChartType.b_RecogniseCirArc = centre.ChartType.b_ForceOrtho = false;
    centre.ChartType.d_MaxDis = 0;
    centre.ChartType.b_CalcWidth = false;
    EXPECT_EQ(GetTraceStepCount(centre), 6);
    centre.ChartType.b_Connect = centre.ChartType.b_ForceOrtho = true;
    options = centre;
    EXPECT_EQ(Trace(TRACE_CENTER_LINE).code, RUN_FINISHED);
    EXPECT_EQ(g_announcedTotal, static_cast<int>(recorder.steps.size()));
}

TEST_F(TraceRun, OutlineMakesClosedPolylinesOrPolygonSetsPerRegion)
{
    Square(20, 20, 30);
    Square(60, 20, 30);
    Square(130, 30, 50);
    Square(145, 45, 20);
    for (int y = 45; y < 65; ++y)  // a hole in the last square
        for (int x = 145; x < 165; ++x)
            Image().SetPixelBit(x, y, false);

    ASSERT_EQ(Trace(TRACE_OUTLINE).code, RUN_FINISHED);
    CLayer* layer = OnlyLayer();
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(CountOfType(*layer, ENTITY_POLYLINE), 4);  // three borders and a hole
    EXPECT_TRUE(drawing.IsModified());

    options.Outline.b_Fill = true;
    options.Outline.i_FillType = FILL_SOLID;
    ASSERT_EQ(Trace(TRACE_OUTLINE).code, RUN_FINISHED);
    layer = OnlyLayer();
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(CountOfType(*layer, ENTITY_POLYLINE), 0);
    ASSERT_EQ(CountOfType(*layer, ENTITY_POLYPOLYGON), 3);
    int outlines = 0;
    for (CEntity* e = layer->GetFirstEntity(); e; e = e->m_Next)
        outlines += static_cast<CPolyPolygon*>(e)->GetOutlineCount();
    EXPECT_EQ(outlines, 4);
}

TEST_F(TraceRun, BarReachesItsEndWithMoreThanAHundredItems)
{
    ManySquares(150);
    for (bool solid : {false, true}) {
        options.Outline.b_Fill = solid;
        options.Outline.i_FillType = FILL_SOLID;
        ASSERT_EQ(Trace(TRACE_OUTLINE).code, RUN_FINISHED);
        DWORD last = 0, previous = 0;
        bool rising = true;
        for (const auto& [step, position] : recorder.positions) {
            if (step != "Generate polyline")
                continue;
            rising = rising && position >= previous;
            previous = last = position;
        }
        EXPECT_TRUE(rising) << solid;
        EXPECT_GE(last, 99u) << solid;
        EXPECT_LE(last, 100u) << solid;
        EXPECT_EQ(drawing.GetFirstLayer()->CountEntities(), 150) << solid;
    }
}

// Polylines are made on the pool a chunk of chains ahead of adding them to
// the layer: the layer must hold the same entities, in the same order and
// with the same ids, whatever the thread count. The outline page has chains
// for several chunks; the centre-line page runs the post-processing too.
TEST_F(TraceRun, EntitiesAreTheSameOnAnyThreadCount)
{
    ASSERT_TRUE(Image().Create(730, 700, 1));
    ASSERT_TRUE(Image().SetResolution(k300Dpi));
    std::mt19937 random(5);
    for (int y = 0; y + 6 <= 700; y += 6)
        for (int x = 0; x + 6 <= 730; x += 6) {
            const int x0 = x + static_cast<int>(random() % 2), y0 = y + static_cast<int>(random() % 2);
            const int w = 1 + static_cast<int>(random() % 4), h = 1 + static_cast<int>(random() % 4);
            for (int v = y0; v < y0 + h; ++v)
                for (int u = x0; u < x0 + w; ++u)
                    Image().SetPixelBit(u, v, true);
        }
    for (int i = 0; i < 40; ++i) {
        const int x0 = static_cast<int>(random() % 700), y0 = static_cast<int>(random() % 680);
        const int length = 20 + static_cast<int>(random() % 300);
        const bool across = random() % 2 == 0;
        for (int t = 0; t < length; ++t)
            for (int pen = 0; pen < 3; ++pen)
                Image().SetPixelBit(std::min(729, x0 + (across ? t : pen)), std::min(699, y0 + (across ? pen : t)),
                                    true);
    }
    // Each entity as its type, its id from the first one's and its vertices.
    const auto entities = [&] {
        std::vector<std::vector<double>> list;
        CLayer* layer = drawing.GetFirstLayer();
        EXPECT_NE(layer, nullptr);
        if (!layer || !layer->GetFirstEntity())
            return list;
        const std::uint32_t firstId = layer->GetFirstEntity()->m_Id;
        for (CEntity* e = layer->GetFirstEntity(); e; e = e->m_Next) {
            std::vector<double> entity{static_cast<double>(e->m_Type), static_cast<double>(e->m_Id - firstId)};
            if (e->m_Type == ENTITY_POLYLINE) {
                const auto* polyline = static_cast<CPolyLine*>(e);
                entity.push_back(polyline->m_Closed ? 1.0 : 0.0);
                const CVertex* v = polyline->GetHead();
                for (int k = 0; v && k < polyline->GetPointCount(); ++k, v = v->next) {
                    entity.push_back(v->x);
                    entity.push_back(v->y);
                }
            }
            list.push_back(entity);
        }
        return list;
    };
    for (UINT method : {TRACE_OUTLINE, TRACE_CENTER_LINE}) {
        SetRowBandThreads(1);
        ASSERT_EQ(Trace(method).code, RUN_FINISHED);
        const auto one = entities();
        EXPECT_GT(one.size(), method == TRACE_OUTLINE ? 9000u : 20u);
        for (int threads : {2, 4, 7}) {
            SetRowBandThreads(threads);
            ASSERT_EQ(Trace(method).code, RUN_FINISHED);
            EXPECT_EQ(entities(), one) << method << ", " << threads << " threads";
        }
        SetRowBandThreads(0);
    }
}

TEST_F(TraceRun, StopKeepsWhatWasMadeAndEndsWithTheStopCode)
{
    ManySquares(150);
    // The outline step reports per row band; stop a few items into the
    // polyline step.
    Trace(TRACE_OUTLINE);
    int firstPolylinePosition = 0;
    for (const auto& [step, position] : recorder.positions) {
        ++firstPolylinePosition;
        if (step == "Generate polyline")
            break;
    }
    options.i_AutoTraceWhat = TRACE_OUTLINE;
    recorder.Reset();
    recorder.stopAtPosition = firstPolylinePosition + 9;
    const CTraceRunResult result = TraceDrawing(&drawing, options, RecordingRunner);
    EXPECT_EQ(result.code, RUN_STOPPED);
    EXPECT_EQ(recorder.runEnds, 1);
    CLayer* layer = OnlyLayer();
    ASSERT_NE(layer, nullptr);
    const int kept = layer->CountEntities();
    EXPECT_GE(kept, 10);
    EXPECT_LT(kept, 150);
}

TEST_F(TraceRun, RunWorksOnItsOwnOptionsAndDimsThePaletteAfterwards)
{
    Square(20, 20, 30);
    CDoAllThread worker;
    CTraceOption snapshot = options;
    snapshot.i_AutoTraceWhat = TRACE_OUTLINE;
    worker.Setup(&drawing, &recorder, snapshot);
    snapshot.i_AutoTraceWhat = TRACE_FILL_PATTERN;  // later edits do not reach the run
    EXPECT_EQ(worker.GetMethod(), TRACE_OUTLINE);
    EXPECT_EQ(worker.GetRasterGrey(), 0);

    recorder.worker = &worker;
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(recorder.PumpUntil([this] { return recorder.runEnds > 0; }, 20s));
    worker.Wait();
    EXPECT_EQ(recorder.code, RUN_FINISHED);
    EXPECT_EQ(CountOfType(*drawing.GetFirstLayer(), ENTITY_POLYLINE), 1);
    EXPECT_EQ(worker.GetRasterGrey(), kOutlineRasterGrey);

    Image().GetPalette()[1] = RGBQUAD{0, 0, 0, 0};
    worker.ApplyRasterPalette();
    EXPECT_EQ(Image().GetPalette()[1].rgbRed, kOutlineRasterGrey);
    EXPECT_TRUE(Image().GetPaletteDimmed());
}

TEST_F(TraceRun, RunsThatCannotStartOrHaveNoDrawingEndWithAnErrorCode)
{
    Square(20, 20, 30);
    options.i_AutoTraceWhat = TRACE_OUTLINE;
    EXPECT_EQ(TraceDrawing(&drawing, options, FailingRunner).code, RUN_NOT_REPORTED);
    EXPECT_EQ(TraceDrawing(nullptr, options, RecordingRunner).code, RUN_NOT_REPORTED);
    EXPECT_EQ(recorder.runEnds, 0);
    EXPECT_FALSE(TraceResultText(RUN_NOT_REPORTED).empty());
    EXPECT_TRUE(TraceResultText(RUN_FINISHED).empty());

    // A raster that is not one bit is a failed run, not a crash.
    ASSERT_TRUE(Image().Create(10, 10, 8));
    EXPECT_EQ(Trace(TRACE_OUTLINE).code, RUN_FAILED);
}

}  // namespace
