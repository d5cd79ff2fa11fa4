#include "trace/line_widths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "model/circle.h"
#include "model/constants.h"
#include "model/layer.h"
#include "model/polyline.h"
#include "raster/raster_src.h"
#include "trace/common_thread.h"
#include "trace/trace_option.h"
#include "support/idle_worker.h"

namespace {

struct Pt {
    double x, y;
};

constexpr int kW = 80;
constexpr int kH = 60;

// A one-bit raster with black rectangles given in pixel rows (row 0 on top).
class Page {
public:
    Page(int width = kW, int height = kH) { EXPECT_TRUE(raster.Create(width, height, 1)); }
    void Fill(int x0, int row0, int x1, int row1)
    {
        for (int r = row0; r < row1; ++r)
            for (int x = x0; x < x1; ++x)
                raster.SetPixelBit(x, r, true);
    }
    // World y of a pixel row, as the tracer maps it.
    [[nodiscard]] double Y(int row) const { return raster.GetHeight() - 1 - row; }
    CRasterSrc raster;
};

std::unique_ptr<CPolyLine> MakePolyline(const std::vector<Pt>& points, double width = 0)
{
    auto polyline = std::make_unique<CPolyLine>();
    for (const Pt& p : points)
        polyline->AddPointWidth(p.x, p.y, width);
    return polyline;
}

std::vector<Pt> Points(const CPolyLine& polyline)
{
    std::vector<Pt> out;
    for (const CVertex* v = polyline.GetHead(); v; v = v->next == polyline.GetHead() ? nullptr : v->next)
        out.push_back({v->x, v->y});
    return out;
}

// ---- measuring ------------------------------------------------------------------

TEST(LineWidth, ShortSegmentsAreSampledAtBothEnds)
{
    Page page;
    page.Fill(10, 20, 70, 25);  // 5 thick, centre row 22
    page.Fill(10, 40, 70, 47);  // 7 thick, centre row 43
    auto polyline = MakePolyline({{30, page.Y(22)}, {33, page.Y(22)}, {36, page.Y(22)}});
    CalcLineWidth(*polyline, page.raster);
    EXPECT_DOUBLE_EQ(5.0, polyline->GetHead()->startWidth);
    EXPECT_DOUBLE_EQ(5.0, polyline->GetHead()->next->startWidth);
    EXPECT_DOUBLE_EQ(0.0, polyline->GetTail()->startWidth);  // begins no segment
    // The walks reach only as far as the segment is long.
    auto thick = MakePolyline({{30, page.Y(43)}, {33, page.Y(43)}});
    CalcLineWidth(*thick, page.raster);
    EXPECT_DOUBLE_EQ(5.0, thick->GetHead()->startWidth);
}

TEST(LineWidth, SegmentsFromFivePixelsOnAreSampledAlongTheirLength)
{
    // A 5-thick stroke that swells to 9 at columns 30 and 35 only: a short
    // segment sees the swellings at its ends, a long one samples between them.
    for (double length : {4.95, 5.0, 5.05}) {
        Page page;
        page.Fill(0, 20, 80, 25);
        page.Fill(30, 18, 31, 27);
        page.Fill(35, 18, 36, 27);
        auto polyline = MakePolyline({{30, page.Y(22)}, {30 + length, page.Y(22)}});
        CalcLineWidth(*polyline, page.raster);
        EXPECT_DOUBLE_EQ(length < 5 ? 9.0 : 5.0, polyline->GetHead()->startWidth) << length;
    }
}

TEST(LineWidth, SamplesWithinATenthOfTheirMeanGiveTheMeanElseTheSmallest)
{
    // Five samples at x = 16.7, 28.3, 40, 51.7 and 63.3 over strokes that
    // change thickness at x = 40: 4, 4, 5, 5, 5 (mean 4.6, 4 is 0.13 of it
    // off) and 9, 9, 10, 10, 10 (mean 9.6, 9 is 0.06 off).
    for (auto [thin, expected] : {std::pair{4, 4.0}, std::pair{9, 9.6}}) {
        Page page;
        page.Fill(0, 10, 40, 10 + thin);
        page.Fill(40, 10, 80, 10 + thin + 1);
        auto polyline = MakePolyline({{5, page.Y(10 + thin / 2)}, {75, page.Y(10 + thin / 2)}});
        CalcLineWidth(*polyline, page.raster);
        EXPECT_DOUBLE_EQ(expected, polyline->GetHead()->startWidth) << thin;
    }
}

TEST(LineWidth, WalkLeavingTheRasterCountsTheOtherSideTwice)
{
    // World y 0 is the bottom pixel row, not one below the raster.
    Page page;
    page.Fill(10, kH - 3, 70, kH);  // bottom rows
    page.Fill(10, 0, 70, 4);        // top rows
    for (double y : {0.0, page.Y(1)}) {
        auto polyline = MakePolyline({{15, y}, {65, y}});
        CalcLineWidth(*polyline, page.raster);
        EXPECT_DOUBLE_EQ(5.0, polyline->GetHead()->startWidth) << y;
    }
}

TEST(LineWidth, SlantedStrokeMeasuresItsWidthWhereverTheSamplesFall)
{
    // Diagonal bands: a hairline (x = row) and one two pixels across
    // (0 <= x - row - 20 <= 2, three pixels to a row). Every segment along
    // either, from any start, measures the same.
    Page page(80, 80);
    for (int r = 0; r < 80; ++r) {
        page.Fill(r, r, r + 1, r + 1);
        if (r + 20 < 78)
            page.Fill(r + 20, r, r + 23, r + 1);
    }
    for (int start = 5; start < 12; ++start) {
        for (int length : {3, 4, 7, 10, 13}) {
            auto band = MakePolyline({{start + 21.0, page.Y(start)}, {start + 21.0 + length, page.Y(start + length)}});
            CalcLineWidth(*band, page.raster);
            EXPECT_NEAR(band->GetHead()->startWidth, 2.0, 0.25) << start << " " << length;
            auto hairline =
                MakePolyline({{start + 0.0, page.Y(start)}, {start + 0.0 + length, page.Y(start + length)}});
            CalcLineWidth(*hairline, page.raster);
            EXPECT_EQ(hairline->GetHead()->startWidth, 0.0) << start << " " << length;
        }
    }
}

TEST(LineWidth, SamplesOutsideTheRasterFindNoStroke)
{
    Page page;
    page.Fill(0, 0, kW, kH);
    EXPECT_EQ(-10.0, SampleStrokeWidth(page.raster, {-1, 5}, {10, 0}, kH));
    EXPECT_EQ(-10.0, SampleStrokeWidth(page.raster, {5, kH - 0.4}, {10, 0}, kH));
    EXPECT_EQ(-10.0, SampleStrokeWidth(page.raster, {5, 5}, {NAN, 0}, kH));
    // A huge segment still walks inside the raster only.
    Page bar;
    bar.Fill(0, 50, kW, 58);
    EXPECT_EQ(8.0, SampleStrokeWidth(bar.raster, {5, bar.Y(54)}, {1e300, 0}, kH));
    auto polyline = MakePolyline({{-50, -50}, {500, 900}, {1e12, -1e12}}, 2.0);
    CalcLineWidth(*polyline, page.raster);  // must not read outside the raster
}

// ---- end correction ------------------------------------------------------------

TEST(PolylineEnds, TwoVertexBlobNoLongerThanItsWidthIsDropped)
{
    EXPECT_FALSE(CorrectPolylineEnds(*MakePolyline({{0, 0}, {3, 0}}, 4.0)));
    EXPECT_TRUE(CorrectPolylineEnds(*MakePolyline({{0, 0}, {3, 0}}, 3.0)));
}

TEST(PolylineEnds, HookIsFoldedOntoTheLine)
{
    const double c = std::cos(30 * DEGREE), s = std::sin(30 * DEGREE);
    auto polyline = MakePolyline({{0, 0}, {20, 0}, {20 + 2 * c, 2 * s}}, 3.0);
    EXPECT_TRUE(CorrectPolylineEnds(*polyline));
    const auto p = Points(*polyline);
    ASSERT_EQ(2u, p.size());
    EXPECT_NEAR(20 + 2 * c, p[1].x, 1e-12);
    EXPECT_NEAR(0.0, p[1].y, 1e-12);
    // A hook turns by less than 60 degrees; the band (0.6 of the head's 0.4)
    // is too narrow to fold these on its own.
    for (double degrees : {55.0, 65.0}) {
        auto bent =
            MakePolyline({{0, 0}, {20, 0}, {20 + 2 * std::cos(degrees * DEGREE), 2 * std::sin(degrees * DEGREE)}}, 3.0);
        bent->GetHead()->startWidth = 0.4;
        EXPECT_TRUE(CorrectPolylineEnds(*bent));
        EXPECT_EQ(Points(*bent).size(), degrees < 60 ? 2u : 3u) << degrees;
    }
}

TEST(PolylineEnds, EndInsideTheBandIsFolded)
{
    // Too long for a hook at this width; folded only within the band of
    // 0.6 x 3 round the line.
    for (double y : {1.5, 1.78, 1.82, 2.5}) {
        auto polyline = MakePolyline({{0, 0}, {20, 0}, {21, y}}, 3.0);
        polyline->GetHead()->next->startWidth = 0.4;
        EXPECT_TRUE(CorrectPolylineEnds(*polyline));
        const auto p = Points(*polyline);
        if (y < 1.8) {
            ASSERT_EQ(2u, p.size());
            EXPECT_NEAR(21.0, p[1].x, 1e-12);
            EXPECT_NEAR(0.0, p[1].y, 1e-12);
        } else {
            EXPECT_EQ(3u, p.size());
        }
    }
}

TEST(PolylineEnds, TinyEndSegmentIsRemovedButARingHasNoEnds)
{
    auto ring = MakePolyline({{0, 0}, {0.5, 0.3}, {20, 0}, {20, 20}}, 3.0);
    ring->m_Closed = true;
    EXPECT_TRUE(CorrectPolylineEnds(*ring));
    EXPECT_EQ(4u, Points(*ring).size());

    auto polyline = MakePolyline({{0.005, 0}, {0, 0}, {20, 0}, {40, 5}}, 1.0);
    EXPECT_TRUE(CorrectPolylineEnds(*polyline));
    const auto p = Points(*polyline);
    ASSERT_EQ(3u, p.size());
    EXPECT_EQ(0.0, p[0].x);
    EXPECT_EQ(40.0, p[2].x);
}

TEST(PolylineEnds, BothEndsAreCorrected)
{
    auto polyline = MakePolyline({{-1, 1}, {0, 0}, {20, 0}, {21, 1}}, 3.0);
    EXPECT_TRUE(CorrectPolylineEnds(*polyline));
    const auto p = Points(*polyline);
    ASSERT_EQ(2u, p.size());
    EXPECT_NEAR(-1.0, p[0].x, 1e-12);
    EXPECT_NEAR(21.0, p[1].x, 1e-12);
}

// ---- layer commands --------------------------------------------------------------

// Records the progress protocol on the calling thread.
class CRecorder : public CMessageReceiver {
public:
    ~CRecorder() override { Close(); }
    std::vector<UINT> messages;
    std::vector<WPARAM> positions;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM) override
    {
        messages.push_back(message);
        if (message == WM_STEP_POS)
            positions.push_back(wParam);
        return 0;
    }
};

TEST(LineWidthLayer, MeasuresThenDropsBlobs)
{
    Page page;
    page.Fill(10, 20, 70, 25);
    page.Fill(10, 40, 13, 43);  // a 3 x 3 speck
    CLayer layer;
    layer.AddEntity(MakePolyline({{15, page.Y(22)}, {65, page.Y(22)}}).release());
    layer.AddEntity(MakePolyline({{10, page.Y(41)}, {12, page.Y(41)}}).release());
    CRecorder recorder;
    CIdleWorker worker;
    worker.SetNotifyWindow(&recorder);
    EXPECT_TRUE(CalcLineWidths(layer, &worker, page.raster));
    ASSERT_EQ(1, layer.CountEntities());
    EXPECT_DOUBLE_EQ(5.0, layer.GetFirstEntity()->GetWidth());
    ASSERT_GE(recorder.messages.size(), 3u);
    EXPECT_EQ(WM_STEP_TEXT, recorder.messages.front());
    EXPECT_EQ(WM_STEP_END, recorder.messages.back());
    // A batch reports once: half way after the measuring, then the end.
    EXPECT_EQ((std::vector<WPARAM>{50, 100}), recorder.positions);
}

TEST(RoundWidthLayer, RoundsEveryEntityToTheSeries)
{
    CTraceOption options;
    options.ChartType.WidthSeries.SetDefault();  // 0, 0.5, 1, 2 mm
    CLayer layer;
    layer.AddEntity(MakePolyline({{0, 0}, {10, 0}, {20, 0}}, 5.0).release());
    auto* circle = new CCircle();
    circle->m_Width = 10.0;
    layer.AddEntity(circle);
    EXPECT_TRUE(RoundWidths(layer, nullptr, 7874, options));  // 200 dpi
    const CVertex* head = static_cast<CPolyLine*>(layer.GetFirstEntity())->GetHead();
    EXPECT_NEAR(3.937, head->startWidth, 1e-9);
    EXPECT_NEAR(3.937, head->next->startWidth, 1e-9);
    EXPECT_NEAR(7.874, circle->m_Width, 1e-9);
}

// ---- properties ------------------------------------------------------------------

TEST(LineWidthProperty, BarsComeBackWithTheirThicknessAndHairlinesWithZero)
{
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> thickness(1, 15), row(0, 30), length(10, 60);
    for (int trial = 0; trial < 100; ++trial) {
        Page page;
        const int t = thickness(rng), r0 = row(rng) + 8, x1 = 10 + length(rng);
        page.Fill(5, r0, x1, r0 + t);
        auto polyline = MakePolyline({{8, page.Y(r0 + t / 2)}, {x1 - 3.0, page.Y(r0 + t / 2)}}, 7.0);
        CalcLineWidth(*polyline, page.raster);
        EXPECT_DOUBLE_EQ(t == 1 ? 0.0 : t, polyline->GetHead()->startWidth) << "thickness " << t;
    }
}

TEST(PolylineEndsProperty, CorrectionNeverGrowsAPolylineAndKeepsItsInnerVertices)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> coordinate(-30, 30), width(0, 6);
    std::uniform_int_distribution<int> count(2, 8);
    for (int trial = 0; trial < 500; ++trial) {
        std::vector<Pt> points;
        const int n = count(rng);
        for (int i = 0; i < n; ++i)
            points.push_back({coordinate(rng), coordinate(rng)});
        auto polyline = MakePolyline(points, width(rng));
        const size_t before = Points(*polyline).size();
        if (!CorrectPolylineEnds(*polyline))
            continue;
        const auto after = Points(*polyline);
        ASSERT_LE(after.size(), before);
        ASSERT_GE(after.size() + 2, before);
        for (size_t i = 2; i + 2 < before; ++i) {  // vertices away from both ends stay put
            const bool found = std::any_of(after.begin(), after.end(),
                                           [&](const Pt& p) { return p.x == points[i].x && p.y == points[i].y; });
            EXPECT_TRUE(found) << "trial " << trial << " vertex " << i;
        }
    }
}

}  // namespace
