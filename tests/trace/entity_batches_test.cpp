// The post-processing steps that hand batches of entities to the row-band
// pool leave the same layer, entity ids included, on any thread count as
// the per-entity calls one after another.
#include "trace/entity_batches.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <span>
#include <vector>

#include "model/circle.h"
#include "model/constants.h"
#include "model/layer.h"
#include "model/polyline.h"
#include "raster/raster_src.h"
#include "raster/row_bands.h"
#include "trace/angle_adjust.h"
#include "trace/ink_guard.h"
#include "trace/arc_recognition.h"
#include "trace/common_thread.h"
#include "trace/line_widths.h"
#include "trace/post_process.h"
#include "trace/straighten.h"
#include "trace/trace_option.h"
#include "support/idle_worker.h"

namespace {

constexpr int kPageWidth = 600;
constexpr int kPageHeight = 400;
// More entities than one batch holds.
constexpr int kEntities = static_cast<int>(2 * kEntityBatch + 700);

// A page of strokes of several widths and a few specks.
void DrawPage(CRasterSrc& raster)
{
    ASSERT_TRUE(raster.Create(kPageWidth, kPageHeight, 1));
    std::mt19937 random(11);
    std::uniform_int_distribution<int> x(0, kPageWidth - 40), y(0, kPageHeight - 40), size(1, 9), length(10, 40);
    for (int i = 0; i < 300; ++i) {
        const int x0 = x(random), y0 = y(random), thick = size(random), run = length(random);
        const bool across = i % 2 == 0;
        for (int a = 0; a < run; ++a)
            for (int b = 0; b < thick; ++b)
                raster.SetPixelBit(across ? x0 + a : x0 + b, across ? y0 + b : y0 + a, true);
    }
}

// Random walks, arcs that recognition turns into curves or bulges, and
// specks; the same layer for the same seed.
void FillLayer(CLayer& layer, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> x(0, kPageWidth), y(0, kPageHeight), step(-6, 6), radius(4, 30);
    std::uniform_int_distribution<int> kind(0, 9), count(2, 12);
    for (int i = 0; i < kEntities; ++i) {
        auto polyline = std::make_unique<CPolyLine>();
        const double cx = x(random), cy = y(random);
        switch (kind(random)) {
        case 0:
        case 1: {
            // An arc of a circle, sometimes all round, sometimes with a tail.
            const double r = radius(random), sweep = kind(random) < 4 ? 360.0 : 200.0;
            const int n = 24;
            for (int k = 0; k <= n; ++k) {
                const double a = k * sweep / n * DEGREE;
                EXPECT_TRUE(polyline->AddPoint(cx + r * std::cos(a), cy + r * std::sin(a)) || k == n);
            }
            if (kind(random) < 3)
                polyline->AddPoint(cx + r + 15, cy - 5);
            polyline->m_Closed = sweep == 360.0 && kind(random) < 5;
            break;
        }
        case 2:
            polyline->AddPoint(cx, cy);  // a speck
            polyline->AddPoint(cx + 0.5, cy);
            break;
        default: {
            double px = cx, py = cy;
            for (int k = count(random); k > 0; --k) {
                polyline->AddPoint(px, py);
                px += step(random);
                py += kind(random) < 5 ? 0.2 * step(random) : step(random);
            }
            break;
        }
        }
        ASSERT_TRUE(layer.AddEntity(polyline.release()));
    }
}

struct Shape {
    int type;
    std::uint32_t id;  // counted from the first id of the run
    std::vector<double> numbers;
    bool operator==(const Shape&) const = default;
};

std::vector<Shape> Snapshot(const CLayer& layer, std::uint32_t firstId)
{
    std::vector<Shape> shapes;
    for (CEntity* e = layer.GetFirstEntity(); e; e = e->m_Next) {
        Shape& shape = shapes.emplace_back(Shape{static_cast<int>(e->m_Type), e->m_Id - firstId, {}});
        if (e->m_Type == ENTITY_POLYLINE) {
            const auto& polyline = static_cast<const CPolyLine&>(*e);
            shape.numbers.push_back(polyline.m_Closed ? 1 : 0);
            shape.numbers.push_back(polyline.IsAllStraight() ? 1 : 0);
            const CVertex* head = polyline.GetHead();
            for (const CVertex* v = head; v; v = v->next == head ? nullptr : v->next)
                shape.numbers.insert(shape.numbers.end(), {v->x, v->y, v->startWidth, v->bulge});
        } else if (e->m_Type == ENTITY_CIRCLE || e->m_Type == ENTITY_ARC) {
            const auto& circle = static_cast<const CCircle&>(*e);
            shape.numbers = {circle.m_Centre.x, circle.m_Centre.y, circle.m_Radius, circle.GetWidth()};
        }
    }
    return shapes;
}

CTraceOption StepOptions()
{
    CTraceOption options;
    options.i_AutoTraceWhat = TRACE_CENTER_LINE;
    options.ChartType.d_MaxDis = 1.0;
    options.ChartType.b_Connect = true;
    options.ChartType.i_DelLine_Length = 3;
    EXPECT_TRUE(options.ChartType.AngleSeries.SetPreset("Ortho series"));
    return options;
}

std::vector<CEntity*> EntitiesOf(const CLayer& layer)
{
    std::vector<CEntity*> out;
    for (CEntity* e = layer.GetFirstEntity(); e; e = e->m_Next)
        out.push_back(e);
    return out;
}

void Delete(CLayer& layer, CEntity* e)
{
    layer.RemoveEntity(e);
    delete e;
}

// The same steps one entity after another through the per-entity calls.
std::vector<Shape> RunStepsOneByOne(const CRasterSrc& raster)
{
    const CTraceOption options = StepOptions();
    const std::uint32_t firstId = GetIdCounter();
    CLayer layer;
    FillLayer(layer, 5);
    for (CEntity* e : EntitiesOf(layer))
        CalcLineWidth(static_cast<CPolyLine&>(*e), raster);
    for (CEntity* e : EntitiesOf(layer))
        if (!CorrectPolylineEnds(static_cast<CPolyLine&>(*e)))
            Delete(layer, e);
    for (CEntity* e : EntitiesOf(layer))
        if (e->GetLength() < options.ChartType.i_DelLine_Length)
            Delete(layer, e);
    for (CEntity* e : EntitiesOf(layer)) {
        e->m_Layer = &layer;
        EXPECT_EQ(RecognizeCircles(static_cast<CPolyLine&>(*e), kPageWidth, RECOGNIZE_LAYER_POLYLINE, options),
                  RECOGNIZE_DONE);
    }
    for (CEntity* e : EntitiesOf(layer))
        if (e->m_Type == ENTITY_POLYLINE && e->IsDegenerate())
            Delete(layer, e);
    EXPECT_TRUE(RejoinRecognizedArcs(layer, nullptr, options));
    for (CEntity* e : EntitiesOf(layer))
        if (e->m_Type == ENTITY_POLYLINE)
            StraightenPolyline(static_cast<CPolyLine&>(*e), options);
    for (CEntity* e : EntitiesOf(layer))
        AdjustAngle(*e, options.ChartType.AngleSeries);
    return Snapshot(layer, firstId);
}

std::vector<Shape> RunSteps(const CRasterSrc& raster, int threads)
{
    SetRowBandThreads(threads);
    const CTraceOption options = StepOptions();
    const std::uint32_t firstId = GetIdCounter();
    CLayer layer;
    FillLayer(layer, 5);
    EXPECT_TRUE(CalcLineWidths(layer, nullptr, raster));
    RemoveShortVectors(layer, options);
    EXPECT_TRUE(RecognizeCircles(layer, nullptr, kPageWidth, RECOGNIZE_AFTER_CENTER_LINE, options));
    EXPECT_TRUE(StraightenLines(layer, nullptr, options));
    EXPECT_TRUE(AdjustAngles(layer, nullptr, options, CInkGuard()));
    std::vector<Shape> shapes = Snapshot(layer, firstId);
    SetRowBandThreads(0);
    return shapes;
}

TEST(EntityBatches, LayerStepsGiveTheSameLayerAndIdsOnAnyThreadCount)
{
    CRasterSrc raster;
    DrawPage(raster);
    const std::vector<Shape> expected = RunStepsOneByOne(raster);
    // The drawing is not trivial: curves were made and blobs dropped.
    int curves = 0;
    for (const Shape& s : expected)
        curves += s.type == ENTITY_CIRCLE || s.type == ENTITY_ARC;
    EXPECT_GT(curves, 50);
    EXPECT_LT(expected.size(), static_cast<std::size_t>(kEntities));
    for (int threads : {1, 2, 4, 7})
        EXPECT_TRUE(RunSteps(raster, threads) == expected) << threads << " threads";
}

TEST(EntityBatches, EveryEntityIsWorkedOnOnceAndBetweenSeesEachBatchInOrder)
{
    CLayer layer;
    FillLayer(layer, 9);
    std::vector<CEntity*> expected;
    for (CEntity* e = layer.GetFirstEntity(); e; e = e->m_Next)
        expected.push_back(e);
    for (int threads : {1, 4}) {
        SetRowBandThreads(threads);
        std::vector<int> visits(expected.size(), 0);
        std::vector<CEntity*> seen;
        const BatchResult result = ForEachEntityBatch(
            layer,
            [&](std::size_t, CEntity& e) {
                // Each entity's own slot: no two threads write the same one.
                const auto at =
                    static_cast<std::size_t>(std::find(expected.begin(), expected.end(), &e) - expected.begin());
                ++visits[at];
            },
            [&](std::span<CEntity* const> batch) {
                EXPECT_LE(batch.size(), kEntityBatch);
                seen.insert(seen.end(), batch.begin(), batch.end());
                return true;
            });
        EXPECT_EQ(result, BatchResult::kDone);
        EXPECT_EQ(seen, expected);
        EXPECT_EQ(std::count(visits.begin(), visits.end(), 1), static_cast<long>(visits.size()));
        // A false from between stops the walk after that batch.
        int batches = 0;
        EXPECT_EQ(ForEachEntityBatch(
                      layer, [](std::size_t, CEntity&) {}, [&](std::span<CEntity* const>) { return ++batches < 2; }),
                  BatchResult::kStopped);
        EXPECT_EQ(batches, 2);
    }
    SetRowBandThreads(0);
}

TEST(EntityBatches, AheadWalkFinishesEveryWorkedEntityOnceInLayerOrder)
{
    for (int threads : {1, 2, 4, 7}) {
        SetRowBandThreads(threads);
        CLayer layer;
        FillLayer(layer, 9);
        const std::vector<CEntity*> all = EntitiesOf(layer);
        // The plain result: every third entity dropped as it is finished.
        std::vector<CEntity*> kept;
        for (std::size_t i = 0; i < all.size(); ++i)
            if (i % 3 != 0)
                kept.push_back(all[i]);
        std::vector<CEntity*> slots(2 * kEntityBatch, nullptr);
        std::vector<int> worked(all.size(), 0);
        std::vector<CEntity*> finished;
        std::size_t reported = 0;
        const auto place = [&](const CEntity* e) {
            return static_cast<std::size_t>(std::find(all.begin(), all.end(), e) - all.begin());
        };
        const BatchResult result = ForEachEntityBatchAhead(
            layer,
            [&](std::size_t i, CEntity& e) {
                slots[i] = &e;
                ++worked[place(&e)];
            },
            [&](std::span<CEntity* const> batch, std::size_t first) {
                EXPECT_LE(batch.size(), kEntityBatch);
                EXPECT_TRUE(first == 0 || first == kEntityBatch);
                for (std::size_t i = 0; i < batch.size(); ++i) {
                    // The slot the work wrote for this entity.
                    EXPECT_EQ(slots[first + i], batch[i]);
                    finished.push_back(batch[i]);
                    if (place(batch[i]) % 3 == 0)
                        Delete(layer, batch[i]);
                }
                return true;
            },
            [&](std::size_t done) {
                reported += done;
                return true;
            });
        EXPECT_EQ(result, BatchResult::kDone) << threads << " threads";
        EXPECT_EQ(finished, all) << threads << " threads";
        EXPECT_EQ(std::count(worked.begin(), worked.end(), 1), static_cast<long>(all.size()));
        EXPECT_EQ(reported, all.size());
        EXPECT_EQ(EntitiesOf(layer), kept) << threads << " threads";

        // A stop from progress ends the walk, but what was worked on is
        // finished: the finished entities are exactly the worked ones, in
        // layer order.
        // (A full layer, so that a batch is in the pool's hands at the stop.)
        layer.DeleteAll();
        FillLayer(layer, 9);
        const std::vector<CEntity*> before = EntitiesOf(layer);
        worked.assign(before.size(), 0);
        finished.clear();
        const auto placeBefore = [&](const CEntity* e) {
            return static_cast<std::size_t>(std::find(before.begin(), before.end(), e) - before.begin());
        };
        int calls = 0;
        EXPECT_EQ(ForEachEntityBatchAhead(
                      layer, [&](std::size_t, CEntity& e) { ++worked[placeBefore(&e)]; },
                      [&](std::span<CEntity* const> batch, std::size_t) {
                          finished.insert(finished.end(), batch.begin(), batch.end());
                          return true;
                      },
                      [&](std::size_t) { return ++calls < 2; }),
                  BatchResult::kStopped);
        EXPECT_EQ(calls, 2);
        ASSERT_GE(finished.size(), kEntityBatch + 1);
        ASSERT_LE(finished.size(), before.size());
        EXPECT_TRUE(std::equal(finished.begin(), finished.end(), before.begin())) << threads << " threads";
        for (CEntity* e : before)
            EXPECT_EQ(worked[placeBefore(e)], std::count(finished.begin(), finished.end(), e) == 1 ? 1 : 0);
        // A false from finish (no memory) ends the walk at once.
        calls = 0;
        EXPECT_EQ(ForEachEntityBatchAhead(
                      layer, [](std::size_t, CEntity&) {},
                      [&](std::span<CEntity* const>, std::size_t) { return ++calls < 2; },
                      [](std::size_t) { return true; }),
                  BatchResult::kNoMemory);
        EXPECT_EQ(calls, 2);
    }
    SetRowBandThreads(0);
}

// Records the step positions; asks the worker to stop at the first one
// when told to.
class CStepRecorder : public CMessageReceiver {
public:
    ~CStepRecorder() override { Close(); }
    std::vector<WPARAM> positions;
    CCommonThread* stopAtFirst = nullptr;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM) override
    {
        if (message == WM_STEP_POS) {
            positions.push_back(wParam);
            if (stopAtFirst)
                stopAtFirst->RequestStop();
        }
        return 0;
    }
};

TEST(EntityBatches, StepsReportRisingPositionsOncePerBatchAndHeedAStop)
{
    CRasterSrc raster;
    DrawPage(raster);
    const CTraceOption options = StepOptions();
    const auto steps = [&](CLayer& layer, CCommonThread* sink, int step) {
        switch (step) {
        case 0: return CalcLineWidths(layer, sink, raster);
        case 1: return RecognizeCircles(layer, sink, kPageWidth, RECOGNIZE_AFTER_CENTER_LINE, options);
        default: return StraightenLines(layer, sink, options);
        }
    };
    for (int threads : {1, 4}) {
        SetRowBandThreads(threads);
        for (int step = 0; step < 3; ++step) {
            CLayer layer;
            FillLayer(layer, 5);
            CStepRecorder recorder;
            CIdleWorker worker;
            worker.SetNotifyWindow(&recorder);
            EXPECT_TRUE(steps(layer, &worker, step)) << step;
            ASSERT_FALSE(recorder.positions.empty()) << step;
            EXPECT_TRUE(std::is_sorted(recorder.positions.begin(), recorder.positions.end())) << step;
            // Three batches: at most one position each. The line widths
            // add the second half of the bar; the circles' rejoining has
            // 40 positions of its own, over the arcs alone.
            if (step == 1) {
                EXPECT_GE(recorder.positions.back(), 60u);
                EXPECT_LE(recorder.positions.size(), 3u + 40u);
            } else {
                EXPECT_EQ(recorder.positions.back(), 100u) << step;
                EXPECT_LE(recorder.positions.size(), 4u) << step;
            }

            CLayer stopped;
            FillLayer(stopped, 5);
            CStepRecorder stopper;
            CIdleWorker stopping;
            stopping.SetNotifyWindow(&stopper);
            stopper.stopAtFirst = &stopping;
            EXPECT_FALSE(steps(stopped, &stopping, step)) << step;
            EXPECT_EQ(stopping.GetRunResult(), RUN_STOPPED) << step;
            EXPECT_EQ(stopper.positions.size(), 1u) << step;
            EXPECT_GT(stopped.CountEntities(), 0) << step;
        }
    }
    SetRowBandThreads(0);
}

}  // namespace
