// undo_bench: undo and redo of deleting every entity of a drawing, timed
// against one redraw of that drawing, at growing sizes. An undo that stays
// linear in what it touches keeps the same ratio to the redraw whatever the
// size; a step that searches the drawing for each entity it restores grows
// with the square of it.
//
//   undo_bench [SIZE...]
//       for each SIZE (default 5000 10000 20000): a drawing of SIZE short
//       polylines on a square grid spread over three layers, shown on a
//       1600 x 1000 device. Prints the median of a redraw, of Undo of Delete
//       All and of its Redo (five rounds each), and the ratios to the redraw.
#include "bench_support.h"
#include "model/cdc_device.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/polyline.h"
#include "model/undo.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kDeviceWidth = 1600;
constexpr int kDeviceHeight = 1000;
constexpr int kRounds = 5;
constexpr double kCell = 10.0;  // grid spacing of the polylines, world units
const char* const kLayers[] = {"Walls", "Doors", "Text"};

// n polylines of four vertices each, one per grid cell, dealt to the layers
// in turn so that every layer's chain is long.
bool BuildDrawing(CGraph& drawing, int n)
{
    const int side = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(n))));
    std::vector<CLayer*> layers;
    for (const char* name : kLayers)
        layers.push_back(drawing.SelectOrAddLayer(name));
    for (int i = 0; i < n; ++i) {
        const double x = (i % side) * kCell, y = (i / side) * kCell;
        auto polyline = std::make_unique<CPolyLine>();
        if (!polyline->AddPoint(x, y) || !polyline->AddPoint(x + 6, y + 1) || !polyline->AddPoint(x + 7, y + 6) ||
            !polyline->AddPoint(x + 2, y + 7))
            return false;
        if (!layers[static_cast<std::size_t>(i) % layers.size()]->AddEntity(polyline.get()))
            return false;
        polyline.release();
    }
    return true;
}

double TimeRedraw(CGraph& drawing, CFrCDCDevice& device)
{
    const auto start = BenchClock::now();
    if (!device.BeginDraw(nullptr, true))
        return -1;
    (void)drawing.Draw(&device);
    device.EndDraw();
    return Since(start);
}

void Run(int n)
{
    CGraph drawing;
    CUndoList rasterUndo(kDefaultRasterUndoSteps), vectorUndo(kDefaultVectorUndoSteps);
    drawing.SetUndoLists(&rasterUndo, &vectorUndo);
    if (!BuildDrawing(drawing, n)) {
        std::fprintf(stderr, "cannot build a drawing of %d entities\n", n);
        std::exit(1);
    }
    CFrCDCDevice device;
    device.Transform().SetDeviceRect(0, 0, kDeviceWidth, kDeviceHeight);
    double box[4];
    if (!drawing.GetExtents(box, true, false)) {
        std::fprintf(stderr, "the drawing has no extents\n");
        std::exit(1);
    }
    device.Transform().SetWorldBox(box[0], box[2], box[1], box[3]);

    std::vector<double> redraws, undos, redos;
    (void)TimeRedraw(drawing, device);  // the first pass sizes the buffer
    for (int round = 0; round < kRounds; ++round) {
        redraws.push_back(TimeRedraw(drawing, device));
        drawing.SelectAll(true);
        if (!drawing.DeleteSelected() || drawing.GetEntityCount() != 0) {
            std::fprintf(stderr, "delete all failed\n");
            std::exit(1);
        }
        auto start = BenchClock::now();
        const bool undone = vectorUndo.UndoLast();
        undos.push_back(Since(start));
        if (!undone || drawing.GetEntityCount() != n) {
            std::fprintf(stderr, "undo of delete all failed\n");
            std::exit(1);
        }
        start = BenchClock::now();
        const bool redone = vectorUndo.RedoNext();
        redos.push_back(Since(start));
        // Back to the whole drawing for the next round.
        if (!redone || drawing.GetEntityCount() != 0 || !vectorUndo.UndoLast()) {
            std::fprintf(stderr, "redo of delete all failed\n");
            std::exit(1);
        }
    }
    const double redraw = Median(redraws), undo = Median(undos), redo = Median(redos);
    std::printf("%8d %12.2f %12.2f %12.2f %10.2f %10.2f\n", n, redraw * 1e3, undo * 1e3, redo * 1e3, undo / redraw,
                redo / redraw);
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty())
        sizes = {5000, 10000, 20000};
    std::printf("%8s %12s %12s %12s %10s %10s\n", "entities", "redraw ms", "undo ms", "redo ms", "undo/draw",
                "redo/draw");
    for (int n : sizes) {
        if (n <= 0) {
            std::fprintf(stderr, "sizes are positive entity counts\n");
            return 2;
        }
        Run(n);
    }
    return 0;
}
