#include "trace/fill_pattern.h"

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "model/graph.h"
#include "model/layer.h"
#include "model/line.h"
#include "platform/window_messages.h"
#include "raster/raster_entity.h"
#include "raster/raster_src.h"
#include "trace/common_thread.h"
#include "trace/trace_option.h"

namespace {

// ---- fixtures ---------------------------------------------------------------

struct Segment {
    double x1, y1, x2, y2;
    bool operator==(const Segment&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Segment& s)
{
    return os << "(" << s.x1 << "," << s.y1 << ")-(" << s.x2 << "," << s.y2 << ")";
}

// A drawing with a current layer and a one-bit raster from rows of text,
// '#' black.
struct Scene {
    explicit Scene(const std::vector<std::string>& rows)
    {
        drawing.SelectOrAddLayer("Trace");
        EXPECT_TRUE(raster.Create(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), 1));
        for (size_t y = 0; y < rows.size(); ++y)
            for (size_t x = 0; x < rows[y].size(); ++x)
                raster.SetPixelBit(static_cast<int>(x), static_cast<int>(y), rows[y][x] == '#');
    }

    std::vector<Segment> Lines() const
    {
        std::vector<Segment> lines;
        for (CEntity* e = drawing.GetCurrentLayer()->GetFirstEntity(); e; e = e->m_Next) {
            auto* line = dynamic_cast<CLine*>(e);
            EXPECT_NE(line, nullptr);
            if (line)
                lines.push_back({line->GetStart().x, line->GetStart().y, line->GetEnd().x, line->GetEnd().y});
        }
        return lines;
    }

    CGraph drawing;
    CRasterSrc raster;
};

// Records the step texts and positions and asks for a stop at the stopAt-th
// position.
class CRecorder : public CMessageReceiver {
public:
    ~CRecorder() override { Close(); }
    std::vector<std::string> texts;
    std::vector<DWORD> positions;
    int ends = 0;
    CCommonThread* worker = nullptr;
    std::size_t stopAt = 0;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_STEP_TEXT)
            texts.emplace_back(reinterpret_cast<const char*>(lParam));
        if (message == WM_STEP_END)
            ++ends;
        if (message == WM_STEP_POS) {
            positions.push_back(static_cast<DWORD>(wParam));
            if (positions.size() == stopAt)
                worker->RequestStop();
        }
        return 0;
    }
};

class CIdleWorker : public CCommonThread {
protected:
    DWORD Run() override { return 0; }
};

struct Sink {
    Sink()
    {
        worker.SetNotifyWindow(&recorder);
        recorder.worker = &worker;
    }
    CRecorder recorder;
    CIdleWorker worker;
};

// ---- line placement ---------------------------------------------------------

TEST(FillHorLines, LinesSpanThePixelsOfEachRunIncludingASinglePixelAtTheRowEnd)
{
    Scene scene({"##.#", "....", ".###"});
    ASSERT_TRUE(FillHorLines(scene.raster, 1.0, &scene.drawing, nullptr));
    const std::vector<Segment> expected = {{-0.5, 2, 1.5, 2}, {2.5, 2, 3.5, 2}, {0.5, 0, 3.5, 0}};
    EXPECT_EQ(scene.Lines(), expected);
}

TEST(FillVerLines, LinesSitOnTheColumnAndSpanItsRuns)
{
    Scene scene({"#.", "#.", ".#", "#."});
    ASSERT_TRUE(FillVerLines(scene.raster, 1.0, &scene.drawing, nullptr));
    const std::vector<Segment> expected = {{0, 3.5, 0, 1.5}, {0, 0.5, 0, -0.5}, {1, 1.5, 1, 0.5}};
    EXPECT_EQ(scene.Lines(), expected);
}

TEST(FillHorLines, SpacingBelowOneScansRowsTwiceAtTheirOwnHeights)
{
    Scene scene({"##", "##"});
    ASSERT_TRUE(FillHorLines(scene.raster, 0.5, &scene.drawing, nullptr));
    const std::vector<Segment> lines = scene.Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_DOUBLE_EQ(lines[0].y1, 1.0);
    EXPECT_DOUBLE_EQ(lines[1].y1, 0.5);
    EXPECT_DOUBLE_EQ(lines[2].y1, 0.0);
    EXPECT_DOUBLE_EQ(lines[3].y1, -0.5);
}

TEST(FillHorLines, RunsMatchAPixelByPixelScanAcrossWordBoundaries)
{
    std::mt19937 rng(7);
    std::bernoulli_distribution black(0.6);
    std::vector<std::string> rows(9, std::string(200, '.'));
    for (auto& row : rows)
        for (char& c : row)
            c = black(rng) ? '#' : '.';
    rows[4] = std::string(200, '#');
    Scene scene(rows);
    ASSERT_TRUE(FillHorLines(scene.raster, 2.0, &scene.drawing, nullptr));

    std::vector<Segment> expected;
    for (int r = 0; r < 9; r += 2)
        for (int x = 0; x < 200;) {
            if (rows[r][x] != '#') {
                ++x;
                continue;
            }
            const int x0 = x;
            while (x < 200 && rows[r][x] == '#')
                ++x;
            expected.push_back({x0 - 0.5, 9.0 - r - 1, x - 0.5, 9.0 - r - 1});
        }
    EXPECT_EQ(scene.Lines(), expected);
}

// ---- the method's course ----------------------------------------------------

TEST(FillPattern, CrossHatchSendsTwoStepsAndLeavesThePaletteAlone)
{
    Scene scene({".#.", "###", ".#."});
    Sink sink;
    const BYTE foreground = scene.raster.GetPalette()[1].rgbRed;
    ASSERT_TRUE(FillPattern(scene.raster, FILL_CROSS, 1.0, &scene.drawing, &sink.worker));
    EXPECT_EQ(sink.recorder.texts, (std::vector<std::string>{"Fill horizontal line", "Fill vertical line"}));
    EXPECT_EQ(sink.recorder.ends, 2);
    EXPECT_EQ(scene.Lines().size(), 6u);
    EXPECT_EQ(scene.raster.GetPalette()[1].rgbRed, foreground);  // the run dims it afterwards
    EXPECT_EQ(sink.worker.GetRunResult(), RUN_NOT_REPORTED);
}

TEST(FillPattern, RefusesSolidUnknownTypesNoDrawingAndTooSmallSpacingWithoutAPost)
{
    Scene scene({"##"});
    Sink sink;
    EXPECT_FALSE(FillPattern(scene.raster, FILL_SOLID, 1.0, &scene.drawing, &sink.worker));
    EXPECT_FALSE(FillPattern(scene.raster, 7, 1.0, &scene.drawing, &sink.worker));
    EXPECT_FALSE(FillPattern(scene.raster, FILL_HORIZONTAL, 1.0, nullptr, &sink.worker));
    EXPECT_FALSE(FillPattern(scene.raster, FILL_VERTICAL, 0.0, &scene.drawing, &sink.worker));
    EXPECT_FALSE(FillPattern(scene.raster, FILL_HORIZONTAL, kMinFillSpace / 2, &scene.drawing, &sink.worker));
    EXPECT_TRUE(scene.Lines().empty());
    EXPECT_TRUE(sink.recorder.texts.empty());
    EXPECT_EQ(sink.worker.GetRunResult(), RUN_NOT_REPORTED);
}

TEST(FillPattern, EmptyRasterSucceedsWithNoLines)
{
    Scene scene({"....", "...."});
    EXPECT_TRUE(FillPattern(scene.raster, FILL_CROSS, 1.0, &scene.drawing, nullptr));
    EXPECT_TRUE(scene.Lines().empty());
}

TEST(FillPattern, StopKeepsTheLinesMadeAndPostsStoppedOnce)
{
    Scene scene({"##", "##", "##", "##"});
    Sink sink;
    sink.recorder.stopAt = 1;
    EXPECT_FALSE(FillPattern(scene.raster, FILL_CROSS, 1.0, &scene.drawing, &sink.worker));
    EXPECT_EQ(sink.worker.GetRunResult(), RUN_STOPPED);
    EXPECT_EQ(scene.Lines().size(), 2u);  // the first two rows
    EXPECT_EQ(sink.recorder.texts.size(), 1u);
    EXPECT_EQ(sink.recorder.ends, 0);
}

}  // namespace
