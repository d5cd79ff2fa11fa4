// The DXF 2000 file of a drawing of many entities: its ENTITIES section is
// every entity's own record in layer order, its extents those of the layers,
// and its bytes the same whatever the thread count.
#include "export/dxf_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "export/format_writers.h"
#include "model/circle.h"
#include "model/constants.h"
#include "model/entity.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/line.h"
#include "model/polygon_set.h"
#include "model/polyline.h"
#include "model/solid.h"
#include "platform/number_text.h"
#include "raster/row_bands.h"

#include "export_test_support.h"

namespace {

using export_test::Capture;

class RandomDrawing {
public:
    explicit RandomDrawing(unsigned seed) : m_Random(seed) {}

    // Layers of odd sizes (one empty) holding every kind of entity, more of
    // them than one batch of the writer's walk holds.
    void Fill(CGraph& graph)
    {
        ResetIdCounter(1);
        AddEntities(graph.GetCurrentLayer(), 1);
        graph.SelectOrAddLayer("Empty");
        graph.SelectOrAddLayer("Plan");
        graph.GetCurrentLayer()->SetColor(3);
        AddEntities(graph.GetCurrentLayer(), 2003);
        graph.SelectOrAddLayer("Walls");
        AddEntities(graph.GetCurrentLayer(), 3001);
        ResetIdCounter();
    }

private:
    double Coordinate() { return std::uniform_real_distribution<double>(-500.0, 4000.0)(m_Random); }
    int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_Random); }

    std::unique_ptr<CPolyLine> Polyline(int vertices, bool closed)
    {
        auto poly = std::make_unique<CPolyLine>();
        for (int i = 0; i < vertices; ++i) {
            const double width = Below(3) * 0.75;
            auto* v = new CVertex(Coordinate(), Coordinate(), width, width, 0);
            if (Below(4) == 0)
                v->bulge = std::uniform_real_distribution<double>(-1.0, 1.0)(m_Random);
            poly->AddVertex(v, true);
        }
        poly->m_Closed = closed;
        return poly;
    }

    void AddEntities(CLayer* layer, int count)
    {
        for (int n = 0; n < count; ++n) {
            CEntity* e = nullptr;
            switch (Below(8)) {
            case 0: {
                auto* line = new CLine();
                line->SetStart(Coordinate(), Coordinate());
                line->SetEnd(Coordinate(), Coordinate());
                e = line;
                break;
            }
            case 1: {
                auto* solid = new CSolid();
                for (int i = 3 + Below(2); i > 0; --i)
                    (void)solid->AddPoint(Coordinate(), Coordinate());
                e = solid;
                break;
            }
            case 2: {
                auto* circle = new CCircle();
                circle->m_Centre = frDoublePoint(Coordinate(), Coordinate());
                circle->m_Radius = 1 + Below(200);
                e = circle;
                break;
            }
            case 3: {
                auto* arc = new CArc();
                arc->m_Centre = frDoublePoint(Coordinate(), Coordinate());
                arc->m_Radius = 1 + Below(200);
                arc->SetStartAngle(Below(6));
                arc->SetEndAngle(Below(6) + 0.5);
                e = arc;
                break;
            }
            case 4: {
                auto* set = new CPolyPolygon();
                for (int i = 1 + Below(3); i > 0; --i)
                    (void)set->AddOutline(Polyline(3 + Below(12), true));
                set->m_SeedPoint = frDoublePoint(Coordinate(), Coordinate());
                e = set;
                break;
            }
            default: {
                // Mostly short, now and then long enough to be written in
                // pieces, and a few of no or one vertex, which write nothing.
                const int sizes[] = {0, 1, 2, 5, 17, 40, 400};
                e = Polyline(sizes[Below(7)], Below(3) == 0).release();
                break;
            }
            }
            if (Below(5) == 0)
                e->m_Color = static_cast<std::int16_t>(1 + Below(255));
            layer->AddEntity(e);
        }
    }

    std::mt19937 m_Random;
};

class DxfWriter : public ::testing::Test {
protected:
    void TearDown() override { SetRowBandThreads(0); }

    std::string Write(bool widths, int threads)
    {
        SetRowBandThreads(threads);
        std::string error;
        bool ok = false;
        const std::string text = Capture([&](std::FILE* f) { return WriteDXF2000File(graph, f, widths, &error); }, &ok);
        EXPECT_TRUE(ok) << error;
        return text;
    }

    CGraph graph;
};

TEST_F(DxfWriter, EntitiesAreEachRecordInLayerOrderUnderTheLayersExtents)
{
    RandomDrawing(7).Fill(graph);
    for (bool widths : {true, false}) {
        std::string expected;
        for (CLayer* layer = graph.GetFirstLayer(); layer; layer = layer->GetNext())
            for (CEntity* e = layer->GetFirstEntity(); e; e = e->m_Next)
                expected += Capture([&](std::FILE* f) { return e->WriteDXF2000(f, widths); });
        const std::string text = Write(widths, 4);
        const std::string head = "  2\nENTITIES\n";
        const std::size_t begin = text.find(head) + head.size();
        const std::size_t end = text.find("  0\nENDSEC\n  0\nSECTION\n  2\nOBJECTS\n");
        ASSERT_NE(end, std::string::npos);
        ASSERT_GE(end, begin);
        EXPECT_TRUE(text.compare(begin, end - begin, expected) == 0) << "widths " << widths;
    }

    double box[4];
    ASSERT_TRUE(MergeLayersExtents(graph, box, false));
    const std::string text = Write(true, 3);
    const auto point = [](double x, double y) { return FormatC(" 10\n%f\n 20\n%f\n 30\n0.000000\n", x, y); };
    EXPECT_NE(text.find("$EXTMIN\n" + point(box[EXT_MIN_X], box[EXT_MIN_Y])), std::string::npos);
    EXPECT_NE(text.find("$EXTMAX\n" + point(box[EXT_MAX_X], box[EXT_MAX_Y])), std::string::npos);
}

TEST_F(DxfWriter, BytesDoNotDependOnTheThreadCount)
{
    RandomDrawing(11).Fill(graph);
    // Two copies that keep their original's id get fresh handles, in order.
    CLayer* walls = graph.GetCurrentLayer();
    int copies = 0;
    for (CEntity* e = walls->GetFirstEntity(); e && copies < 2; e = e->m_Next) {
        if (e->m_Type != ENTITY_LINE && e->m_Type != ENTITY_CIRCLE)
            continue;
        std::unique_ptr<CEntity> copy = e->Clone();
        ASSERT_NE(copy, nullptr);
        ASSERT_TRUE(walls->AddEntity(copy.release()));
        ++copies;
    }
    ASSERT_EQ(copies, 2);
    const std::string one = Write(true, 1);
    for (int threads = 2; threads <= 7; ++threads)
        EXPECT_TRUE(Write(true, threads) == one) << threads << " threads";
    EXPECT_TRUE(Write(false, 5) == Write(false, 1));
}

TEST_F(DxfWriter, AFailedWriteAmongTheEntitiesIsReported)
{
    RandomDrawing(3).Fill(graph);
    const std::string whole = Write(true, 4);
    const std::size_t head = whole.find("  2\nENTITIES\n") + 13;
    // A stream with room for the head and a little more.
    std::string room(head + 100, '\0');
    std::FILE* file = fmemopen(room.data(), room.size(), "w");
    ASSERT_NE(file, nullptr);
    std::string error;
    EXPECT_FALSE(WriteDXF2000File(graph, file, true, &error));
    std::fclose(file);
    EXPECT_EQ(error.rfind("Could not write entity ", 0), 0u) << error;
}

}  // namespace
