// Information lines and property rows of every entity kind: the rows in
// order, each row applied and refused, the protocol codes, and the lines.
#include <cmath>
#include <locale.h>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/circle.h"
#include "model/color_index.h"
#include "model/constants.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/line.h"
#include "model/polygon_set.h"
#include "model/polyline.h"
#include "model/property_list.h"
#include "model/solid.h"
#include "model/text_table.h"
#include "model/utilities.h"
#include "platform/locale_separators.h"
#include "raster/raster_entity.h"
#include "recording_property_list.h"
#include "recording_device.h"

namespace {

using Lines = std::vector<std::string>;
using Names = std::vector<std::string>;

std::string ColorName(int index)
{
    std::string name;
    (void)ColorIndexToRGB(index, &name, true);
    return name;
}

// A drawing with the layers "Other" and "Trace" (in list order); entities go
// to "Trace", whose colour is 3.
class PropertyRows : public ::testing::Test {
protected:
    void SetUp() override
    {
        trace = graph.GetCurrentLayer();
        trace->SetColor(3);
        graph.SelectOrAddLayer("Other");
        graph.SetModified(false);
    }
    void TearDown() override
    {
        GetLangTable().Clear();
        InitLocaleSeparators("C");
    }

    template <typename T>
    T* Add(std::unique_ptr<T> entity)
    {
        T* raw = entity.get();
        EXPECT_TRUE(trace->AddEntity(entity.release()));
        return raw;
    }
    // Raster of 10000 pixels per metre shown in mm: 10 pixels a unit.
    void UseMillimetres()
    {
        ASSERT_TRUE(graph.GetRaster()->GetImage().Create(10, 10, 8));
        ASSERT_TRUE(graph.GetRaster()->GetImage().SetResolution(10000));
        ASSERT_TRUE(graph.SetUnit(UNIT_MM));
    }
    int Apply(CEntity* e, int row, const std::string& text, int value = 0)
    {
        return e->ApplyProperty(&graph, row, value, text, nullptr);
    }
    static Lines Info(CEntity* e)
    {
        Lines lines;
        e->GetInfo(&lines);
        return lines;
    }

    CGraph graph;
    CLayer* trace = nullptr;
    CRecordingPropertyList list;
};

std::unique_ptr<CPolyLine> MakePolyline(std::initializer_list<CVertex> vertices)
{
    auto p = std::make_unique<CPolyLine>();
    for (const CVertex& v : vertices) {
        auto* copy = new CVertex(v);
        copy->next = copy->prev = nullptr;
        EXPECT_TRUE(p->AddVertex(copy, true));
    }
    return p;
}

CVertex At(double x, double y, double bulge = 0)
{
    CVertex v(x, y, 0, 0, 0);
    v.bulge = bulge;
    return v;
}

// ---- base rows ------------------------------------------------------------

TEST_F(PropertyRows, BaseRowsShowLayerColourAndWidth)
{
    auto* circle = Add(NewCircle({0, 0}, 5));
    circle->m_Width = 2;
    circle->FillProperties(&list);
    ASSERT_GE(list.rows.size(), 4u);
    EXPECT_EQ(list.rows[0].name, "Base Properties");
    EXPECT_EQ(list.rows[0].kind, PROP_CATEGORY);
    EXPECT_EQ(list.rows[1].value, "Trace");
    EXPECT_EQ(list.rows[1].kind, PROP_CHOICE);
    EXPECT_EQ(list.rows[1].choices, "Other|Trace");
    // By layer: the swatch shows the layer's colour, the text the setting.
    EXPECT_EQ(list.rows[2].kind, PROP_COLOR_INDEX);
    EXPECT_EQ(list.rows[2].number, 3);
    EXPECT_EQ(list.rows[2].value, ColorName(256));
    EXPECT_EQ(list.rows[3].name, "Width");
    EXPECT_EQ(list.rows[3].value, "2.000000");

    // No layer, no rows and no layer row to apply.
    auto loose = NewCircle({0, 0}, 5);
    CRecordingPropertyList none;
    loose->FillProperties(&none);
    EXPECT_TRUE(none.rows.empty());
    EXPECT_EQ(Apply(loose.get(), 1, "Other"), PROP_REFUSED);
    EXPECT_EQ(Info(loose.get())[1].substr(0, 16), "    CenterPoint:");  // no layer line
}

TEST_F(PropertyRows, BaseRowsAnswerWithTheProtocolCodes)
{
    auto* circle = Add(NewCircle({0, 0}, 5));
    EXPECT_EQ(Apply(circle, 0, "x"), PROP_REFUSED);
    EXPECT_EQ(Apply(circle, -4, "x"), PROP_REFUSED);

    // Layer: another name asks the caller to move; the same one, in any
    // case, changes nothing.
    EXPECT_EQ(Apply(circle, 1, "tRACE"), PROP_REFUSED);
    EXPECT_EQ(Apply(circle, 1, "Other"), PROP_LAYER_CHANGED);
    EXPECT_EQ(circle->m_Layer, trace);  // moving is the caller's work
    EXPECT_FALSE(graph.IsModified());

    // Colour: stored, the row record follows; out of range is by layer.
    CPropertyRow record;
    EXPECT_EQ(circle->ApplyProperty(&graph, 2, 5, "", &record), PROP_APPLIED);
    EXPECT_EQ(circle->m_Color, 5);
    EXPECT_EQ(record.number, 5);
    EXPECT_EQ(record.value, ColorName(5));
    EXPECT_TRUE(graph.IsModified());
    EXPECT_EQ(circle->ApplyProperty(&graph, 2, 5, "", &record), PROP_REFUSED);
    for (int outside : {0, 300}) {
        circle->m_Color = 5;
        EXPECT_EQ(circle->ApplyProperty(&graph, 2, outside, "", &record), PROP_APPLIED);
        EXPECT_EQ(circle->m_Color, 256);
        EXPECT_EQ(record.number, 3);
    }
    EXPECT_EQ(circle->ApplyProperty(&graph, 2, 300, "", &record), PROP_REFUSED);

    // Width: bad, negative and unchanged values are refused.
    for (const char* bad : {"abc", "-1", "", "0"})
        EXPECT_EQ(Apply(circle, 3, bad), PROP_REFUSED) << bad;
    EXPECT_EQ(Apply(circle, 3, "2.5"), PROP_GEOMETRY_CHANGED);
    EXPECT_EQ(circle->GetWidth(), 2.5);
    EXPECT_EQ(Apply(circle, 3, "2.5"), PROP_REFUSED);
}

TEST_F(PropertyRows, BaseInformationNamesLayerAndColour)
{
    auto* line = Add(std::make_unique<CLine>());
    Lines lines = Info(line);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], "    Layer: Trace");
    EXPECT_EQ(lines[2], "    Color: ByLayer (" + ColorName(3) + ")");
    line->m_Color = 1;
    EXPECT_EQ(Info(line)[2], "    Color: " + ColorName(1));
}

// ---- units and translations -----------------------------------------------

TEST_F(PropertyRows, RowsAndLinesUseTheDrawingUnit)
{
    UseMillimetres();
    auto* line = Add(std::make_unique<CLine>());
    line->SetEnds({10, 20}, {40, 60});
    line->FillProperties(&list);
    EXPECT_EQ(list.Value("X of StartPoint"), "1.000000");
    EXPECT_EQ(list.Value("Y of EndPoint"), "6.000000");
    EXPECT_EQ(list.Value("Length"), "5.000000");
    EXPECT_EQ(Apply(line, 4, "5"), PROP_GEOMETRY_CHANGED);
    EXPECT_EQ(line->GetStart().x, 50);
    Lines lines = Info(line);
    EXPECT_EQ(lines[3], "    StartPoint: X=5.000  Y=2.000 mm");
    EXPECT_EQ(lines[5], "    Length: 4.123");
    EXPECT_EQ(line->m_Length, std::hypot(10, 40));  // converted on a copy
}

TEST_F(PropertyRows, TranslatedLabelsAreNeverFormats)
{
    GetLangTable().SetAt("LineStartPoint", "Start.%s%n%d:");
    GetLangTable().SetAt("PolylinePoint", "Pt.%s");
    locale_t probe = newlocale(LC_NUMERIC_MASK, "de_DE.UTF-8", static_cast<locale_t>(nullptr));
    const bool comma = probe != nullptr;
    if (probe)
        freelocale(probe);
    if (comma)
        InitLocaleSeparators("de_DE.UTF-8");

    auto* line = Add(std::make_unique<CLine>());
    line->SetEnds({1.5, 2}, {3, 4});
    auto* poly = Add(MakePolyline({At(0.25, 0), At(1, 0)}));
    const std::string d = comma ? "," : ".";
    EXPECT_EQ(Info(line)[3], "    Start.%s%n%d: X=1" + d + "500  Y=2" + d + "000");
    EXPECT_EQ(Info(poly)[5], "    Pt.%s  X=0" + d + "250  Y=0" + d + "000 Width=0" + d + "000");
}

// ---- lines ----------------------------------------------------------------

TEST_F(PropertyRows, LineRowsInOrderAndEachRowApplied)
{
    auto* line = Add(std::make_unique<CLine>());
    line->SetEnds({0, 0}, {0, 1});
    line->FillProperties(&list);
    EXPECT_EQ(list.Names(), (Names{"Base Properties", "Layer", "Color", "Line Properties", "X of StartPoint",
                                   "Y of StartPoint", "X of EndPoint", "Y of EndPoint", "Length", "Angle"}));
    EXPECT_EQ(list.Kinds(), (std::vector<int>{-1, 0, 8, -1, 1, 1, 1, 1, 3, 3}));
    EXPECT_EQ(list.Value("Angle"), "90.000000");

    EXPECT_EQ(Apply(line, 3, "1"), PROP_REFUSED);  // the heading takes the width's place
    EXPECT_EQ(Apply(line, 4, "3"), PROP_GEOMETRY_CHANGED);
    EXPECT_EQ(Apply(line, 5, "4"), PROP_GEOMETRY_CHANGED);
    EXPECT_EQ(Apply(line, 6, "6"), PROP_GEOMETRY_CHANGED);
    EXPECT_EQ(Apply(line, 7, "8"), PROP_GEOMETRY_CHANGED);
    EXPECT_EQ(line->GetStart().x, 3);
    EXPECT_EQ(line->GetStart().y, 4);
    EXPECT_EQ(line->GetEnd().x, 6);
    EXPECT_EQ(line->GetEnd().y, 8);
    EXPECT_EQ(line->m_Length, 5);  // the cached length follows the ends
    for (int row = 4; row <= 7; ++row)
        EXPECT_EQ(Apply(line, row, "abc"), PROP_REFUSED) << row;
    EXPECT_EQ(Apply(line, 4, "3"), PROP_REFUSED);  // unchanged
    for (int row : {8, 9, 10, 40})
        EXPECT_EQ(Apply(line, row, "1"), PROP_REFUSED) << row;
    EXPECT_EQ(line->GetEnd().y, 8);
}

TEST_F(PropertyRows, LineInformation)
{
    auto* line = Add(std::make_unique<CLine>());
    line->SetEnds({1, 2}, {4, 6});
    const Lines expected{"  Name: Line",
                         "    Layer: Trace",
                         "    Color: ByLayer (" + ColorName(3) + ")",
                         "    StartPoint: X=1.000  Y=2.000",
                         "    EndPoint: X=4.000  Y=6.000",
                         "    Length: 5.000",
                         ""};
    EXPECT_EQ(Info(line), expected);
    EXPECT_EQ(Info(line), expected);  // the stored length is not converted in place
}

// ---- solids ---------------------------------------------------------------

TEST_F(PropertyRows, SolidRowsAndRedrawAfterAnEdit)
{
    auto* solid = Add(NewSolid({0, 0}, {3, 0}, {3, 4}));
    ASSERT_NE(solid, nullptr);
    solid->FillProperties(&list);
    EXPECT_EQ(list.Names(),
              (Names{"Base Properties", "Layer", "Color", "Solid Properties", "X of 1st point", "Y of 1st point",
                     "X of 2nd point", "Y of 2nd point", "X of 3rd point", "Y of 3rd point", "Length"}));
    EXPECT_EQ(list.Value("Length"), "12.000000");
    EXPECT_EQ(list.rows.back().kind, PROP_READ_ONLY);

    // Class row 2 + 2k is x, 3 + 2k is y of vertex k; rows 3 and after.
    EXPECT_EQ(Apply(solid, 3, "1"), PROP_REFUSED);
    EXPECT_EQ(Apply(solid, 4, "-1"), PROP_GEOMETRY_CHANGED);
    EXPECT_EQ(Apply(solid, 9, "5"), PROP_GEOMETRY_CHANGED);
    EXPECT_EQ(solid->GetVertex(0)->x, -1);
    EXPECT_EQ(solid->GetVertex(2)->y, 5);
    EXPECT_EQ(Apply(solid, 9, "5"), PROP_REFUSED);
    EXPECT_EQ(Apply(solid, 5, "abc"), PROP_REFUSED);
    for (int row : {10, 11, 12})
        EXPECT_EQ(Apply(solid, row, "1"), PROP_REFUSED) << row;

    Lines lines = Info(solid);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "  Name: Solid");
    EXPECT_EQ(lines[3], "    At Point:  X=-1.000  Y=0.000");
    EXPECT_EQ(lines[5], "    At Point:  X=3.000  Y=5.000");
}

// ---- circles and arcs -----------------------------------------------------

TEST_F(PropertyRows, CircleRowsAndEdits)
{
    auto* circle = Add(NewCircle({1, 2}, 3));
    circle->FillProperties(&list);
    EXPECT_EQ(list.Names(), (Names{"Base Properties", "Layer", "Color", "Width", "Circle Properties", "X of Center",
                                   "Y of Center", "Radius", "Circumference"}));
    EXPECT_EQ(list.Kinds(), (std::vector<int>{-1, 0, 8, 1, -1, 1, 1, 1, 3}));

    circle->m_Modified = false;
    EXPECT_EQ(Apply(circle, 4, ""), PROP_REFUSED);  // heading
    EXPECT_EQ(Apply(circle, 5, "7"), PROP_GEOMETRY_CHANGED);
    EXPECT_EQ(Apply(circle, 6, "8"), PROP_GEOMETRY_CHANGED);
    EXPECT_EQ(Apply(circle, 7, "4"), PROP_GEOMETRY_CHANGED);
    EXPECT_TRUE(circle->m_Modified);
    EXPECT_EQ(circle->m_Centre.x, 7);
    EXPECT_EQ(circle->m_Centre.y, 8);
    EXPECT_EQ(circle->m_Radius, 4);
    for (const char* bad : {"abc", "-2", "0", "4"})
        EXPECT_EQ(Apply(circle, 7, bad), PROP_REFUSED) << bad;
    EXPECT_EQ(Apply(circle, 8, "1"), PROP_REFUSED);  // circumference
    EXPECT_EQ(Apply(circle, 9, "1"), PROP_REFUSED);

    const Lines expected{"  Name: Circle",
                         "    Layer: Trace",
                         "    Color: ByLayer (" + ColorName(3) + ")",
                         "    CenterPoint:  X=7.000  Y=8.000",
                         "    Radius:  4.000",
                         "    Width:  0.000",
                         "    Circumference:  " + DoubleToString(TWO_PI * 4, 3),
                         ""};
    EXPECT_EQ(Info(circle), expected);
}

TEST_F(PropertyRows, ArcRowsAndAngleEdits)
{
    auto* arc = Add(NewArc({0, 0}, 2, 0, HALF_PI));
    arc->FillProperties(&list);
    EXPECT_EQ(list.Names(),
              (Names{"Base Properties", "Layer", "Color", "Width", "Circle Properties", "X of Center", "Y of Center",
                     "Radius", "Arc Properties", "X of StartPoint", "Y of StartPoint", "X of EndPoint", "Y of EndPoint",
                     "Start Angle", "End Angle", "Length of Arc", "Sweep Angle"}));
    EXPECT_EQ(list.Value("End Angle"), "90.000000");
    EXPECT_EQ(list.Value("Sweep Angle"), "90.000000");

    for (int row = 8; row <= 12; ++row)
        EXPECT_EQ(Apply(arc, row, "1"), PROP_REFUSED) << row;
    EXPECT_EQ(Apply(arc, 13, "abc"), PROP_REFUSED);
    EXPECT_EQ(Apply(arc, 13, "30"), PROP_GEOMETRY_CHANGED);
    EXPECT_NEAR(arc->m_StartAngle, 30 * DEGREE, 1e-12);
    // An end below the start goes round once more.
    EXPECT_EQ(Apply(arc, 14, "10"), PROP_GEOMETRY_CHANGED);
    EXPECT_NEAR(arc->m_EndAngle, 370 * DEGREE, 1e-12);
    EXPECT_EQ(Apply(arc, 14, "10"), PROP_REFUSED);
    for (int row : {15, 16, 17})
        EXPECT_EQ(Apply(arc, row, "1"), PROP_REFUSED) << row;

    // A new radius moves the end points along.
    EXPECT_EQ(Apply(arc, 7, "4"), PROP_GEOMETRY_CHANGED);
    EXPECT_NEAR(arc->m_StartPoint.x, 4 * std::cos(30 * DEGREE), 1e-12);

    Lines lines = Info(arc);
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[0], "  Name: Arc");
    EXPECT_EQ(lines[6], "    StartAngle: 30.000");
    EXPECT_EQ(lines[7], "    EndAngle: 10.000");  // whole turns taken off
    EXPECT_EQ(lines[9].substr(0, 17), "    EndPoint:   X");
    EXPECT_EQ(lines[10], "    Angle:  340.000");
    EXPECT_EQ(lines[11], "    Length: " + DoubleToString(4 * 340 * DEGREE, 3));
    EXPECT_EQ(lines[12], "");
}

// ---- polylines ------------------------------------------------------------

TEST_F(PropertyRows, PolylineRowsFollowTheCurrentVertex)
{
    auto* poly = Add(MakePolyline({At(0, 0, 1), At(2, 0), At(2, 2)}));
    poly->FillProperties(&list);
    EXPECT_EQ(list.Names(), (Names{"Base Properties",
                                   "Layer",
                                   "Color",
                                   "Width",
                                   "PolyLine Properties",
                                   "Close",
                                   "Length",
                                   "Vertex of PolyLine",
                                   "Current Point",
                                   "Add Point",
                                   "Delete Current Point",
                                   "X of Vertex",
                                   "Y of Vertex",
                                   "Width of Vertex",
                                   "Bulg of Vertex",
                                   "X of Arc Center",
                                   "Y of Arc Center",
                                   "Radius of Arc",
                                   "StartAngle of Arc",
                                   "EndAngle of Arc"}));
    EXPECT_EQ(list.rows[5].value, "Open");
    EXPECT_EQ(list.rows[5].choices, "Open|Close|");
    EXPECT_EQ(list.rows[8].maximum, 3);
    EXPECT_EQ(list.Value("X of Arc Center"), "1.000000");
    EXPECT_EQ(list.Value("Radius of Arc"), "1.000000");

    // Rows with class row r = row - 3.
    for (int row : {4, 6, 7})
        EXPECT_EQ(Apply(poly, row, "1"), PROP_REFUSED) << row;
    EXPECT_EQ(Apply(poly, 8, "", 0), PROP_REFUSED);
    EXPECT_EQ(Apply(poly, 8, "", 4), PROP_REFUSED);
    EXPECT_EQ(Apply(poly, 8, "", 2), PROP_GEOMETRY_CHANGED);
    EXPECT_EQ(poly->m_CurVertex, 2);
    EXPECT_EQ(Apply(poly, 11, "5"), PROP_GEOMETRY_CHANGED);  // x of vertex 2
    EXPECT_EQ(poly->GetHead()->next->x, 5);
    EXPECT_EQ(Apply(poly, 12, "abc"), PROP_REFUSED);
    EXPECT_EQ(Apply(poly, 13, "-1"), PROP_REFUSED);
    EXPECT_EQ(Apply(poly, 13, "0.5"), PROP_GEOMETRY_CHANGED);
    EXPECT_EQ(poly->GetHead()->next->startWidth, 0.5);
    EXPECT_EQ(Apply(poly, 14, "0.25"), PROP_GEOMETRY_CHANGED);
    EXPECT_EQ(poly->GetHead()->next->bulge, 0.25);
    for (int row = 15; row <= 20; ++row)
        EXPECT_EQ(Apply(poly, row, "1"), PROP_REFUSED) << row;

    EXPECT_EQ(Apply(poly, 9, ""), PROP_GEOMETRY_CHANGED);  // add a point after vertex 2
    EXPECT_EQ(poly->GetPointCount(), 4);
    EXPECT_EQ(Apply(poly, 10, ""), PROP_GEOMETRY_CHANGED);  // delete vertex 2
    EXPECT_EQ(poly->GetPointCount(), 3);
    EXPECT_EQ(poly->m_CurVertex, 1);

    EXPECT_EQ(Apply(poly, 5, "close"), PROP_GEOMETRY_CHANGED);
    EXPECT_TRUE(poly->m_Closed);
    EXPECT_EQ(Apply(poly, 5, "Close"), PROP_REFUSED);
    EXPECT_EQ(Apply(poly, 5, "Open"), PROP_GEOMETRY_CHANGED);
    EXPECT_FALSE(poly->m_Closed);
}

TEST_F(PropertyRows, PolylineRowsRefuseWhatCannotBe)
{
    // Two straight vertices: no delete row, so the rows after it move up.
    auto* two = Add(MakePolyline({At(0, 0), At(4, 0)}));
    two->FillProperties(&list);
    EXPECT_EQ(list.Find("Delete Current Point"), -1);
    EXPECT_EQ(list.Find("X of Vertex"), 10);
    EXPECT_EQ(Apply(two, 10, "7"), PROP_GEOMETRY_CHANGED);
    EXPECT_EQ(two->GetHead()->x, 7);
    EXPECT_EQ(Apply(two, 5, "Close"), PROP_REFUSED);  // one straight segment stays open
    EXPECT_FALSE(two->m_Closed);
    // The tail of an open polyline begins no segment; nor does a repeated point.
    two->m_CurVertex = 2;
    EXPECT_EQ(Apply(two, 13, "0.5"), PROP_REFUSED);
    EXPECT_EQ(Apply(two, 9, ""), PROP_REFUSED);  // no point to add after it
    EXPECT_EQ(two->GetPointCount(), 2);
    auto* repeat = Add(MakePolyline({At(0, 0), At(1, 0), At(2, 0)}));
    repeat->GetHead()->next->x = 0;
    EXPECT_EQ(Apply(repeat, 14, "0.5"), PROP_REFUSED);
    EXPECT_TRUE(repeat->IsAllStraight());

    // Deleting from a straight polyline leaves the modified flag alone.
    repeat->m_Modified = false;
    EXPECT_EQ(Apply(repeat, 10, ""), PROP_GEOMETRY_CHANGED);
    EXPECT_FALSE(repeat->m_Modified);
}

TEST_F(PropertyRows, PolylineInformation)
{
    auto* poly = Add(MakePolyline({At(0, 0, 1), At(2, 0)}));
    const Lines expected{"  Name: PolyLine",
                         "    Layer: Trace",
                         "    Color: ByLayer (" + ColorName(3) + ")",
                         "    Open",
                         "    Vertex Count: 2",
                         "    At Point:  X=0.000  Y=0.000 Width=0.000",
                         "      Bulg=1.000000",
                         "      Center X=1.000, Y=0.000  Radius=1.000",
                         "    At Point:  X=2.000  Y=0.000 Width=0.000",
                         "    Length: " + DoubleToString(PI, 3),
                         ""};
    EXPECT_EQ(Info(poly), expected);
}

// ---- polygon sets ---------------------------------------------------------

std::unique_ptr<CPolyPolygon> MakePolygonSet()
{
    auto set = std::make_unique<CPolyPolygon>();
    EXPECT_TRUE(set->AddOutline(MakePolyline({At(0, 0), At(10, 0), At(10, 10), At(0, 10)})));
    EXPECT_TRUE(set->AddOutline(MakePolyline({At(2, 2), At(4, 2), At(4, 4)})));
    return set;
}

TEST_F(PropertyRows, PolygonSetRowsExistBeforeAnyDraw)
{
    auto* set = Add(MakePolygonSet());
    ASSERT_TRUE(set->GetOutlineCounts().empty());  // never drawn
    set->FillProperties(&list);
    EXPECT_EQ(list.Names(),
              (Names{"Base Properties", "Layer", "Color", "Width", "PolyPolygon Properties", "Current Outline",
                     "PolyLine Properties", "Length", "Vertex of PolyLine", "Current Point", "Add Point",
                     "Delete Current Point", "X of Vertex", "Y of Vertex", "Width of Vertex", "Bulg of Vertex"}));
    EXPECT_EQ(list.rows[5].maximum, 2);
    EXPECT_EQ(list.Value("Length"), "40.0000");
    EXPECT_EQ(list.rows[list.Find("Width of Vertex")].kind, PROP_READ_ONLY);

    EXPECT_EQ(Apply(set, 4, ""), PROP_REFUSED);
    for (int bad : {0, 3, 1})
        EXPECT_EQ(Apply(set, 5, "", bad), PROP_REFUSED) << bad;
    EXPECT_EQ(Apply(set, 5, "", 2), PROP_GEOMETRY_CHANGED);
    EXPECT_EQ(set->m_CurOutline, 2);

    // The outline's rows: an edit of a straight outline still refills the set.
    set->RebuildPointArrays(nullptr);
    ASSERT_FALSE(set->m_Modified);
    for (int row : {6, 7, 8, 14, 17})
        EXPECT_EQ(Apply(set, row, "1"), PROP_REFUSED) << row;
    EXPECT_EQ(Apply(set, 13, "3"), PROP_GEOMETRY_CHANGED);  // y of the hole's first vertex
    EXPECT_EQ(set->GetOutline(1)->GetHead()->y, 3);
    EXPECT_TRUE(set->m_Modified);
    EXPECT_TRUE(set->GetOutline(1)->m_Closed);

    CRecordingDevice device;
    set->Draw(&device);
    ASSERT_FALSE(set->m_Modified);
    EXPECT_EQ(Apply(set, 9, "", 3), PROP_GEOMETRY_CHANGED);  // current point of the hole
    EXPECT_EQ(set->GetOutline(1)->m_CurVertex, 3);
}

TEST_F(PropertyRows, PolygonSetInformation)
{
    auto* set = Add(MakePolygonSet());
    Lines lines = Info(set);
    ASSERT_EQ(lines.size(), 5u + (3 + 4 + 1) + (3 + 3 + 1));
    EXPECT_EQ(lines[0], "  Name: Polygon");
    EXPECT_EQ(lines[3], "    Outline Count: 2");
    EXPECT_EQ(lines[4], "");
    EXPECT_EQ(lines[5], "    Outline ID: 1");
    EXPECT_EQ(lines[6], "    Vertex Count: 4");
    EXPECT_EQ(lines[7], "    At Point:  X=0.000  Y=0.000 ");  // outlines show no width
    EXPECT_EQ(lines[11], "    Length: 40.000");
    EXPECT_EQ(lines[13], "    Outline ID: 2");
    EXPECT_EQ(lines.back(), "");
}

// ---- re-flattening and outline counts -------------------------------------

TEST(PolylineFlattening, NeedsReflattenWhenTheStepNoLongerSuits)
{
    CRecordingDevice device;
    device.Transform().SetDeviceRect(0, 0, 100, 100);
    device.Transform().SetWorldBox(0, 0, 100, 100);
    const double t = device.GetFlattenStep();
    ASSERT_GT(t, 0);

    auto straight = MakePolyline({At(0, 0), At(5, 0)});
    EXPECT_FALSE(straight->NeedsReflatten(&device));

    auto curved = MakePolyline({At(0, 0, 1), At(5, 0)});
    EXPECT_TRUE(curved->NeedsReflatten(&device));  // no flattened ring yet
    for (double step : {t, 0.2 * t}) {
        curved->Flatten(step);
        curved->m_Modified = false;
        EXPECT_FALSE(curved->NeedsReflatten(&device)) << step;
    }
    for (double step : {1.01 * t, 0.19 * t, -25.0}) {
        curved->Flatten(step);
        EXPECT_TRUE(curved->NeedsReflatten(&device)) << step;
    }
    curved->Flatten(t);
    curved->m_Modified = true;
    EXPECT_TRUE(curved->NeedsReflatten(&device));
}

TEST(PolygonSetOutlineCounts, ReserveGrowsInSteps)
{
    CPolyPolygon set;
    set.ReserveOutlineCounts(1);
    const std::size_t first = set.GetOutlineCounts().capacity();
    EXPECT_GE(first, 128u);
    set.ReserveOutlineCounts(1);
    EXPECT_EQ(set.GetOutlineCounts().capacity(), first);  // room already
    set.ReserveOutlineCounts(static_cast<int>(first) + 10);
    EXPECT_GE(set.GetOutlineCounts().capacity(), 2 * first + 10);
}

}  // namespace
