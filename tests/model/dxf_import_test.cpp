// DXF import: fixtures written by ezdxf (tests/data/dxf, made by
// make_fixtures.py), our own DXF 2000 and R10 output read back, files from
// real CAD programs, and damaged or hostile text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "export/export_format.h"
#include "export/vector_file.h"
#include "support/dxf_samples.h"
#include "model/circle.h"
#include "model/constants.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/line.h"
#include "model/polygon_set.h"
#include "model/polyline.h"
#include "model/solid.h"
#include "platform/number_text.h"

namespace {

namespace fs = std::filesystem;

const std::string kFixtures = std::string(LW_TEST_DATA_DIR) + "/dxf/";

// A file in a private temporary folder, removed with the object.
class TempFile {
public:
    explicit TempFile(const std::string& name)
    {
        static int serial = 0;
        m_Dir = fs::temp_directory_path() /
                ("lw_dxf_import_" + std::to_string(::getpid()) + "_" + std::to_string(serial++));
        fs::create_directories(m_Dir);
        m_Path = (m_Dir / name).string();
    }
    TempFile(const std::string& name, const std::string& content) : TempFile(name)
    {
        std::ofstream(m_Path, std::ios::binary) << content;
    }
    ~TempFile()
    {
        std::error_code ignored;
        fs::remove_all(m_Dir, ignored);
    }
    [[nodiscard]] const std::string& Path() const { return m_Path; }

private:
    fs::path m_Dir;
    std::string m_Path;
};

std::string Num(double v) { return FormatC("%.4f", std::fabs(v) < 5e-5 ? 0.0 : v); }

std::string Ring(const CVertex* head)
{
    std::string text;
    if (head == nullptr)
        return text;
    const CVertex* v = head;
    do {
        text += " (" + Num(v->x) + "," + Num(v->y);
        if (std::fabs(v->bulge) >= POINT_TOLERANCE)
            text += " b" + Num(v->bulge);
        if (v->startWidth != 0 || v->endWidth != 0)
            text += " w" + Num(v->startWidth) + "/" + Num(v->endWidth);
        text += ")";
        v = v->next;
    } while (v != head);
    return text;
}

// One line per entity: type, colour when set, geometry at 4 decimals. With
// outlinesAsPolylines a polygon set is listed as its outlines, each a closed
// polyline (how DXF R10 carries it).
std::string Describe(const CEntity& e, bool outlinesAsPolylines = false)
{
    std::string text;
    const std::string color = e.m_Color == ENTITY_COLOR_BY_LAYER ? "" : " c" + std::to_string(e.m_Color);
    switch (e.m_Type) {
    case ENTITY_LINE: {
        const auto& l = static_cast<const CLine&>(e);
        return "line" + color + " (" + Num(l.GetStart().x) + "," + Num(l.GetStart().y) + ")-(" + Num(l.GetEnd().x) +
               "," + Num(l.GetEnd().y) + ")";
    }
    case ENTITY_POLYLINE: {
        const auto& p = static_cast<const CPolyLine&>(e);
        return std::string(p.m_Closed ? "closed" : "open") + " polyline" + color + Ring(p.GetHead());
    }
    case ENTITY_CIRCLE: {
        const auto& c = static_cast<const CCircle&>(e);
        return "circle" + color + " (" + Num(c.m_Centre.x) + "," + Num(c.m_Centre.y) + ") r" + Num(c.m_Radius) +
               (c.GetWidth() > 0 ? " w" + Num(c.GetWidth()) : "");
    }
    case ENTITY_ARC: {
        const auto& a = static_cast<const CArc&>(e);
        return "arc" + color + " (" + Num(a.m_Centre.x) + "," + Num(a.m_Centre.y) + ") r" + Num(a.m_Radius) + " " +
               Num(a.m_StartAngle / PI * 180) + ".." + Num(a.m_EndAngle / PI * 180);
    }
    case ENTITY_SOLID: return "solid" + color + Ring(static_cast<const CSolid&>(e).GetHead());
    case ENTITY_POLYPOLYGON: {
        const auto& set = static_cast<const CPolyPolygon&>(e);
        for (int i = 0; i < set.GetOutlineCount(); ++i) {
            if (outlinesAsPolylines)
                text += (i ? "\n" : "") + std::string("closed polyline") + color + Ring(set.GetOutline(i)->GetHead());
            else
                text += (i ? " |" : "polygon set" + color) + Ring(set.GetOutline(i)->GetHead());
        }
        return text;
    }
    default: return "?";
    }
}

// Layer name (colour) followed by its entities, layers in list order.
std::string Describe(const CGraph& graph, bool outlinesAsPolylines = false)
{
    std::string text;
    for (const CLayer* l = graph.GetFirstLayer(); l; l = l->GetNext()) {
        if (l->IsEmpty())
            continue;
        text += "[" + l->GetName() + " " + std::to_string(l->GetColor()) + "]\n";
        for (const CEntity* e = l->GetFirstEntity(); e; e = e->m_Next)
            text += Describe(*e, outlinesAsPolylines) + "\n";
    }
    return text;
}

std::string DescribeLayer(const CGraph& graph, const std::string& name)
{
    const CLayer* l = graph.FindLayerByName(name);
    if (l == nullptr)
        return "(no layer " + name + ")";
    std::string text;
    for (const CEntity* e = l->GetFirstEntity(); e; e = e->m_Next)
        text += Describe(*e) + "\n";
    return text;
}

// A DXF text from pairs written one per line ("code\nvalue\n...").
std::string Entities(const std::string& body) { return "0\nSECTION\n2\nENTITIES\n" + body + "0\nENDSEC\n0\nEOF\n"; }

struct Imported {
    bool ok = false;
    std::string error;
    std::vector<std::string> warnings;
};

Imported Import(CGraph& graph, const std::string& text)
{
    TempFile file("in.dxf", text);
    Imported result;
    result.ok = graph.ReadDXF(file.Path(), nullptr, &result.error, &result.warnings);
    return result;
}

// ---- fixtures written by ezdxf --------------------------------------------------

TEST(DxfImportFixtures, R12FileGivesHeaderLayersAndEveryEntity)
{
    CGraph graph;
    std::string error;
    ASSERT_TRUE(graph.ReadDXF(kFixtures + "r12_entities.dxf", nullptr, &error)) << error;
    EXPECT_FALSE(graph.IsModified());
    EXPECT_EQ(graph.GetCurrentColor(), 5);
    ASSERT_NE(graph.GetCurrentLayer(), nullptr);
    EXPECT_EQ(graph.GetCurrentLayer()->GetName(), "walls");
    EXPECT_DOUBLE_EQ(graph.GetCurrentWidth(), 0.5);
    EXPECT_TRUE(graph.GetOrtho());
    EXPECT_EQ(graph.GetObjectSnapMask(), 3u);
    EXPECT_TRUE(graph.GetObjectSnapOn());
    EXPECT_EQ(graph.FindLayerByName("walls")->GetColor(), 3);
    EXPECT_EQ(graph.FindLayerByName("ROUND")->GetColor(), 200);

    // Only the POLYLINE's own flags close it (its VERTEX flags are 0), and
    // flags 128 / 129 are an open and a closed outline.
    EXPECT_EQ(DescribeLayer(graph, "walls"),
              "line c1 (0.0000,0.0000)-(10.0000,5.0000)\n"
              "closed polyline (0.0000,0.0000 b1.0000) (10.0000,0.0000) (10.0000,10.0000)\n"
              "open polyline (0.0000,20.0000) (5.0000,20.0000) (5.0000,25.0000)\n"
              "closed polyline (0.0000,30.0000) (5.0000,30.0000) (5.0000,35.0000)\n");
    // "round" and "Round" are one layer; the arc 350..10 runs to 370 degrees.
    EXPECT_EQ(DescribeLayer(graph, "Round"), "circle (5.0000,5.0000) r2.5000\n"
                                             "arc (0.0000,0.0000) r3.0000 350.0000..370.0000\n");
    // SOLID corners come in the order 1, 2, 4, 3 and are put back round the
    // outline; the triangle (its fourth corner repeating the third) is
    // turned counter-clockwise; the 3DFACE keeps its order.
    EXPECT_EQ(DescribeLayer(graph, "fill"), "solid (0.0000,0.0000) (4.0000,0.0000) (4.0000,3.0000) (0.0000,3.0000)\n"
                                            "solid (10.0000,0.0000) (14.0000,0.0000) (12.0000,3.0000)\n"
                                            "solid (0.0000,0.0000) (1.0000,0.0000) (1.0000,1.0000) (0.0000,1.0000)\n");
}

TEST(DxfImportFixtures, CrLfCommentsLongLinesAndLowerCaseNamesReadAlike)
{
    CGraph plain, variant;
    std::string error;
    ASSERT_TRUE(plain.ReadDXF(kFixtures + "r12_entities.dxf", nullptr, &error)) << error;
    ASSERT_TRUE(variant.ReadDXF(kFixtures + "crlf_comments_long.dxf", nullptr, &error)) << error;
    EXPECT_EQ(Describe(variant), Describe(plain));
    EXPECT_EQ(plain.GetEntityCount(), 9);
}

TEST(DxfImportFixtures, R2000FileGivesPolylinesCurvesAndSolidHatches)
{
    CGraph graph;
    std::string error;
    std::vector<std::string> warnings;
    ASSERT_TRUE(graph.ReadDXF(kFixtures + "r2000_entities.dxf", nullptr, &error, &warnings)) << error;
    // The constant width reaches every vertex; two half circles make a circle.
    EXPECT_EQ(DescribeLayer(graph, "shapes"),
              "closed polyline (0.0000,0.0000 b0.5000) (10.0000,0.0000) (10.0000,10.0000)\n"
              "open polyline (0.0000,20.0000 w2.5000/2.5000) (5.0000,20.0000 w2.5000/2.5000) "
              "(5.0000,25.0000 w2.5000/2.5000)\n"
              "closed polyline (0.0000,30.0000) (5.0000,30.0000) (5.0000,35.0000)\n"
              "circle (1.0000,40.0000) r1.0000\n");
    // Colour 0 (by block) becomes by layer; the ellipse and spline are passed over.
    EXPECT_EQ(DescribeLayer(graph, "curves"), "circle (50.0000,50.0000) r4.0000\n"
                                              "arc c4 (50.0000,50.0000) r6.0000 90.0000..180.0000\n");
    // Edge paths: arcs become bulges, clockwise ones negative, and a line
    // given against the chain is turned round. The spline path is passed
    // over (its hatch keeps the polyline path); the pattern fill is refused.
    EXPECT_EQ(DescribeLayer(graph, "hatches"),
              "polygon set c2 (0.0000,0.0000) (10.0000,0.0000) (10.0000,10.0000) (0.0000,10.0000) |"
              " (3.0000,3.0000) (7.0000,3.0000) (7.0000,7.0000) (3.0000,7.0000)\n"
              "polygon set c3 (20.0000,0.0000) (30.0000,0.0000 b1.0000) (30.0000,10.0000) (20.0000,10.0000 b1.0000)\n"
              "polygon set c4 (40.0000,0.0000) (50.0000,0.0000 b-1.0000) (50.0000,10.0000) (40.0000,10.0000)\n"
              "polygon set c5 (60.0000,20.0000) (70.0000,20.0000) (65.0000,28.0000)\n");
    // Every kind left out is named with its count.
    ASSERT_EQ(warnings.size(), 4u);
    EXPECT_NE(warnings[0].find("spline"), std::string::npos);
    EXPECT_EQ(warnings[1], "1 ELLIPSE entity was left out: the drawing cannot hold this kind of entity.");
    EXPECT_EQ(warnings[2], "1 SPLINE entity was left out: the drawing cannot hold this kind of entity.");
    EXPECT_EQ(warnings[3], "1 HATCH entity was left out: a hatch pattern is not kept, only solid fills.");
}

TEST(DxfImportFixtures, ARepeatedVertexKeepsItsArcAndAHiddenLayerStaysHidden)
{
    CGraph graph;
    std::string error;
    ASSERT_TRUE(graph.ReadDXF(kFixtures + "repeats_hidden_layer.dxf", nullptr, &error)) << error;
    // The repeat of (10,0) carries the half circle to (10,10).
    EXPECT_EQ(DescribeLayer(graph, "Hidden"),
              "closed polyline (0.0000,0.0000) (10.0000,0.0000 b1.0000) (10.0000,10.0000) (0.0000,10.0000)\n");
    EXPECT_EQ(DescribeLayer(graph, "Shown"),
              "polygon set c2 (0.0000,0.0000) (10.0000,0.0000 b1.0000) (10.0000,10.0000) (0.0000,10.0000)\n");
    const CLayer* hidden = graph.FindLayerByName("hidden");
    ASSERT_NE(hidden, nullptr);
    EXPECT_FALSE(hidden->IsVisible());
    EXPECT_EQ(hidden->GetColor(), 3);
    EXPECT_TRUE(graph.FindLayerByName("Shown")->IsVisible());
    EXPECT_EQ(graph.FindLayerByName("Shown")->GetColor(), 5);
}

// ---- our own output read back ------------------------------------------------------

CVertex* NewVertex(double x, double y, double bulge = 0, double width = 0)
{
    auto* v = new CVertex(x, y, width, width, 0);
    v->bulge = bulge;
    return v;
}

void BuildSampleDrawing(CGraph& graph)
{
    CLayer* layer = graph.GetCurrentLayer();
    CLine* line = graph.AddLine(1.5, 2.25, 30.125, 40.0);
    line->m_Color = 3;
    auto polyline = std::make_unique<CPolyLine>();
    polyline->AddVertex(NewVertex(0, 0, 0.25, 1.5), true);
    polyline->AddVertex(NewVertex(10, 0, 0, 1.5), true);
    polyline->AddVertex(NewVertex(10, 10, -0.75, 1.5), true);
    polyline->m_Closed = true;
    layer->AddEntity(polyline.release());
    auto open = std::make_unique<CPolyLine>();
    open->AddVertex(NewVertex(-5.5, 3), true);
    open->AddVertex(NewVertex(-1, 7.125), true);
    open->m_Color = 12;
    layer->AddEntity(open.release());
    layer->AddEntity(NewCircle(frDoublePoint(100, 100), 12.5).release());
    layer->AddEntity(NewArc(frDoublePoint(50, 60), 7, 0.5, 2.0).release());
    auto square = std::make_unique<CSolid>();
    for (const auto& [x, y] : {std::pair{0.0, 0.0}, {4.0, 0.0}, {4.0, 3.0}, {0.0, 3.0}})
        (void)square->AddPoint(x, y);
    layer->AddEntity(square.release());
    layer->AddEntity(NewSolid(frDoublePoint(20, 0), frDoublePoint(22, 3), frDoublePoint(24, 0)).release());
    auto region = std::make_unique<CPolyPolygon>();
    auto outer = std::make_unique<CPolyLine>();
    for (auto* v : {NewVertex(0, 0), NewVertex(20, 0, 0.4), NewVertex(20, 20), NewVertex(0, 20)})
        outer->AddVertex(v, true);
    auto hole = std::make_unique<CPolyLine>();
    for (auto* v : {NewVertex(5, 5), NewVertex(15, 5), NewVertex(15, 15)})
        hole->AddVertex(v, true);
    region->AddOutline(std::move(outer));
    region->AddOutline(std::move(hole));
    region->m_Color = 9;
    layer->AddEntity(region.release());
    CLayer* second = graph.SelectOrAddLayer("Second");
    second->SetColor(4);
    graph.AddLine(-1, -2, -3, -4);
}

TEST(DxfImportOwnOutput, Dxf2000AndR10ReadBackEqual)
{
    CGraph source;
    BuildSampleDrawing(source);
    for (const int format : {EXPORT_DXF2000, EXPORT_DXFR10}) {
        SCOPED_TRACE(format);
        TempFile file("out.dxf");
        std::string error;
        ASSERT_TRUE(SaveVectorFile(source, file.Path(), format, &error)) << error;
        CGraph copy;
        ASSERT_TRUE(copy.ReadDXF(file.Path(), nullptr, &error)) << error;
        // R10 has no hatch: a polygon set comes back as closed polylines.
        const bool r10 = format == EXPORT_DXFR10;
        for (const char* name : {"Trace", "Second"}) {
            const CLayer* expected = source.FindLayerByName(name);
            const CLayer* got = copy.FindLayerByName(name);
            ASSERT_NE(got, nullptr) << name;
            EXPECT_EQ(got->GetColor(), expected->GetColor());
            std::string want, have;
            for (const CEntity* e = expected->GetFirstEntity(); e; e = e->m_Next)
                want += Describe(*e, r10) + "\n";
            for (const CEntity* e = got->GetFirstEntity(); e; e = e->m_Next)
                have += Describe(*e, r10) + "\n";
            EXPECT_EQ(have, want);
        }
    }
}

// ---- files from CAD programs --------------------------------------------------------

// Records of the kinds the import reads, in the file's ENTITIES section.
int CountReadableRecords(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string code, value;
    bool inEntities = false;
    int count = 0;
    auto trim = [](std::string s) {
        const auto first = s.find_first_not_of(" \t\r");
        const auto last = s.find_last_not_of(" \t\r");
        return first == std::string::npos ? std::string() : s.substr(first, last - first + 1);
    };
    while (std::getline(in, code) && std::getline(in, value)) {
        if (trim(code) != "0" && trim(value) != "ENTITIES")
            continue;
        const std::string v = trim(value);
        if (v == "ENTITIES")
            inEntities = true;
        if (v == "ENDSEC")
            inEntities = false;
        if (inEntities && (v == "LINE" || v == "ARC" || v == "CIRCLE" || v == "LWPOLYLINE" || v == "POLYLINE" ||
                           v == "SOLID" || v == "3DFACE" || v == "HATCH"))
            ++count;
    }
    return count;
}

TEST(DxfImportCadFiles, EverySampleImportsWithItsEntities)
{
    // A missing folder fails: the samples are what this test is about.
    const fs::path folder = test_support::DxfSamplesFolder();
    ASSERT_TRUE(fs::is_directory(folder))
        << "no DXF samples in " << folder << ": configure with -DLW_DXF_SAMPLES_DIR=... or set LW_DXF_SAMPLES";
    int files = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::string ext = entry.path().extension().string();
        for (char& c : ext)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext != ".dxf")
            continue;
        ++files;
        const std::string path = entry.path().string();
        SCOPED_TRACE(path);
        CGraph graph;
        std::string error;
        ASSERT_TRUE(graph.ReadDXF(path, nullptr, &error)) << error;
        const int records = CountReadableRecords(path);
        const int entities = graph.GetEntityCount();
        EXPECT_GT(entities, 0);
        // Only degenerate records (a polyline of one point) may be dropped.
        EXPECT_LE(entities, records);
        EXPECT_GE(entities, records * 95 / 100);
    }
    EXPECT_GT(files, 50);
}

// ---- files that are no DXF, damaged or hostile --------------------------------------

TEST(DxfImportFailures, NonDxfBinaryEmptyAndCutShortFilesFailAndKeepTheDrawing)
{
    const std::string binary = std::string("AutoCAD Binary DXF\r\n\x1a\0", 22) + std::string(40, '\x01');
    const std::string cutShort = "0\nSECTION\n2\nENTITIES\n0\nLINE\n8\nA\n10\n0\n20\n0\n11\n1\n21\n1\n";
    const std::string badHeader = "0\nSECTION\n2\nHEADER\n9\n$CECOLOR\n62\nred\n0\nENDSEC\n0\nEOF\n";
    // A section that lost its end would swallow the ENTITIES after it.
    const std::string entities =
        "0\nSECTION\n2\nENTITIES\n0\nLINE\n8\nA\n10\n0\n20\n0\n11\n1\n21\n1\n0\nENDSEC\n0\nEOF\n";
    const std::string openBlock =
        "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n8\n0\n2\nB\n0\nLINE\n8\n0\n10\n0\n20\n0\n" + entities;
    const std::string openHeader = "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1009\n" + entities;
    const std::string openTables = "0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nLAYER\n0\nLAYER\n2\nA\n" + entities;
    const std::pair<std::string, const char*> cases[] = {
        {"", "no SECTION"},
        {"hello\nworld\n", "no SECTION"},
        {binary, "Binary"},
        {cutShort, "ENTITIES"},
        {badHeader, "$CECOLOR"},
        {"0\nSECTION\n0\nENDSEC\n", "no name"},
        {openBlock, "BLOCKS section of the DXF file has no end"},
        {openHeader, "HEADER section of the DXF file has no end"},
        {openTables, "TABLES section of the DXF file has no end"},
    };
    for (const auto& [text, reason] : cases) {
        SCOPED_TRACE(text.substr(0, 40));
        CGraph graph;
        graph.AddLine(0, 0, 1, 1);
        const Imported result = Import(graph, text);
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.error.find(reason), std::string::npos) << result.error;
        ASSERT_NE(graph.FindLayerByName("Trace"), nullptr);
        EXPECT_EQ(graph.GetEntityCount(), 1);
    }
    CGraph graph;
    std::string error;
    EXPECT_FALSE(graph.ReadDXF("/nonexistent/drawing.dxf", nullptr, &error));
    EXPECT_EQ(error, "Can't open DXF file! (No such file or directory)");
    // A FIFO in the file's place is refused at once instead of waiting for a writer.
    const fs::path fifo = fs::temp_directory_path() / ("lw_dxf_fifo_" + std::to_string(::getpid()));
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(graph.ReadDXF(fifo.string(), nullptr, &error));
    EXPECT_EQ(error, "Can't open DXF file! (not a regular file)");
    fs::remove(fifo);
    EXPECT_EQ(graph.GetEntityCount(), 0);
    EXPECT_EQ(graph.GetLayerCount(), 1);
}

TEST(DxfImportFailures, AGroupCodeThatIsNoNumberBetweenRecordsRefusesTheFileNamingItsLine)
{
    // Pairs out of step read as an empty drawing with no word of why.
    const std::string line = "0\nLINE\n8\nA\n10\n0\n20\n0\n11\n1\n21\n1\n";
    struct Case {
        std::string text;
        const char* error;
    } cases[] = {
        // Every code shifted a line down by a stray line after the section
        // name: the section then seems cut short, but the stray line is why.
        {"0\nSECTION\n2\nENTITIES\nstray\n" + line + "0\nENDSEC\n0\nEOF\n",
         "Line 5 of the DXF file holds the group code 'stray', which is not a number."},
        // Between sections, after a comment, with CR LF and lone CR line ends.
        {"999\r\nnote\r\n0\rSECTION\r\n2\r\nHEADER\r\n0\r\nENDSEC\r\n  x1 \r\n0\r\n" + Entities(line),
         "Line 9 of the DXF file holds the group code 'x1', which is not a number."},
        // In the header, a skipped variable's value slot taken by text.
        {"0\nSECTION\n2\nHEADER\n9\n$ACADVER\nAC1009\n9\n0\nENDSEC\n0\nEOF\n",
         "Line 7 of the DXF file holds the group code 'AC1009', which is not a number."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        CGraph graph;
        graph.AddLine(0, 0, 1, 1);
        const Imported result = Import(graph, c.text);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, c.error);
        EXPECT_EQ(graph.GetEntityCount(), 1);
    }
    // Without the stray line the same file reads.
    CGraph graph;
    EXPECT_TRUE(Import(graph, Entities(line)).ok);
    EXPECT_EQ(graph.GetEntityCount(), 1);
}

TEST(DxfImportFailures, BadRecordsAreDroppedAndTheRestRead)
{
    CGraph graph;
    const Imported result = Import(
        graph, Entities(
                   // NaN, infinite and huge coordinates
                   "0\nLINE\n8\nA\n10\nnan\n20\n0\n11\n1\n21\n1\n"
                   "0\nLINE\n8\nA\n10\n0\n20\ninf\n11\n1\n21\n1\n"
                   "0\nLINE\n8\nA\n10\n0\n20\n1e300\n11\n1\n21\n1\n"
                   // a group code that is not a number
                   "0\nLINE\n8\nA\nxx\n0\n10\n0\n20\n0\n11\n1\n21\n1\n"
                   // a radius of 0 or below
                   "0\nCIRCLE\n8\nA\n10\n0\n20\n0\n40\n0\n"
                   "0\nARC\n8\nA\n10\n0\n20\n0\n40\n-2\n50\n0\n51\n90\n"
                   // a hatch announcing two billion paths, another with a
                   // path of four vertices listing three
                   "0\nHATCH\n8\nA\n2\nSOLID\n70\n1\n91\n2147483647\n"
                   "0\nHATCH\n8\nA\n2\nSOLID\n70\n1\n91\n1\n92\n2\n93\n4\n10\n0\n20\n0\n10\n1\n20\n0\n10\n1\n20\n1\n"
                   "97\n0\n75\n0\n"
                   // mesh polylines; a SOLID of two corners
                   "0\nPOLYLINE\n8\nA\n70\n16\n0\nVERTEX\n8\nA\n10\n0\n20\n0\n"
                   "0\nVERTEX\n8\nA\n10\n1\n20\n0\n0\nSEQEND\n"
                   "0\nSOLID\n8\nA\n10\n0\n20\n0\n11\n1\n21\n0\n"
                   // these two are fine: colours out of range become by layer
                   "0\nCIRCLE\n8\nA\n62\n300\n10\n0\n20\n0\n40\n1\n"
                   "0\nARC\n8\nA\n62\n-5\n10\n0\n20\n0\n40\n2\n50\n0\n51\n90\n"
                   // and these, without a layer, are on layer "0"
                   "0\nCIRCLE\n10\n0\n20\n0\n40\n1\n"
                   "0\nLINE\n10\n0\n20\n0\n11\n1\n21\n1\n"
                   "0\nLWPOLYLINE\n90\n2\n70\n0\n10\n0\n20\n0\n10\n3\n20\n0\n"));
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(DescribeLayer(graph, "A"), "circle (0.0000,0.0000) r1.0000\n"
                                         "arc (0.0000,0.0000) r2.0000 0.0000..90.0000\n");
    EXPECT_EQ(DescribeLayer(graph, "0"), "circle (0.0000,0.0000) r1.0000\n"
                                         "line (0.0000,0.0000)-(1.0000,1.0000)\n"
                                         "open polyline (0.0000,0.0000) (3.0000,0.0000)\n");
    // The short path, the mesh, and a count of each kind refused.
    EXPECT_EQ(result.warnings,
              (std::vector<std::string>{"Hatch boundary paths whose vertex count did not match were passed over.",
                                        "Polygon mesh and polyface mesh polylines were passed over.",
                                        "4 LINE entities were left out: missing, unreadable or out-of-range values, "
                                        "or too few points.",
                                        "1 CIRCLE entity was left out: missing, unreadable or out-of-range values, "
                                        "or too few points.",
                                        "1 ARC entity was left out: missing, unreadable or out-of-range values, "
                                        "or too few points.",
                                        "2 HATCH entities were left out: missing, unreadable or out-of-range values, "
                                        "or too few points.",
                                        "1 POLYLINE entity was left out: missing, unreadable or out-of-range values, "
                                        "or too few points.",
                                        "1 SOLID entity was left out: missing, unreadable or out-of-range values, "
                                        "or too few points.",
                                        "3 entities had no layer and went to layer \"0\"."}));
}

TEST(DxfImportFailures, PolylineWithoutSeqendLeavesTheNextEntity)
{
    CGraph graph;
    // Behind a byte order mark.
    const Imported result =
        Import(graph, "\xEF\xBB\xBF" + Entities("0\nPOLYLINE\n8\nA\n70\n1\n0\nVERTEX\n8\nA\n10\n0\n20\n0\n"
                                                "0\nLINE\n8\nA\n10\n0\n20\n0\n11\n1\n21\n1\n"));
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(DescribeLayer(graph, "A"), "line (0.0000,0.0000)-(1.0000,1.0000)\n");
}

TEST(DxfImportFailures, MirroredCurvesAreBroughtIntoThePlane)
{
    CGraph graph;
    const Imported result = Import(
        graph, Entities("0\nARC\n8\nA\n10\n5\n20\n1\n40\n2\n50\n0\n51\n90\n230\n-1\n"
                        "0\nLWPOLYLINE\n8\nA\n70\n0\n230\n-1.0\n10\n1\n20\n0\n42\n0.5\n10\n3\n20\n0\n10\n3\n20\n2\n"));
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(DescribeLayer(graph, "A"), "arc (-5.0000,1.0000) r2.0000 90.0000..180.0000\n"
                                         "open polyline (-1.0000,0.0000 b-0.5000) (-3.0000,0.0000) (-3.0000,2.0000)\n");
}

// ---- header, viewport and layer table --------------------------------------------------

std::string Header(const std::string& variables)
{
    return "0\nSECTION\n2\nHEADER\n" + variables + "0\nENDSEC\n0\nEOF\n";
}

TEST(DxfImportHeader, ValuesOutOfRangeAreClampedAndUnknownVariablesPassed)
{
    CGraph graph;
    const Imported result =
        Import(graph, Header("9\n$EXTMIN\n10\n1\n20\n2\n30\n3\n999\nnote\n9\n$CECOLOR\n62\n0\n9\n$PLINEWID\n40\n-1\n"
                             "9\n$OSMODE\n70\n0\n9\n$ORTHOMODE\n70\n0\n"));
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(graph.GetCurrentColor(), 256);
    EXPECT_EQ(graph.GetCurrentWidth(), 0.0);
    EXPECT_EQ(graph.GetObjectSnapMask(), 0u);
    EXPECT_FALSE(graph.GetObjectSnapOn());
    EXPECT_FALSE(graph.GetOrtho());
    // No layer table, no entities: the single layer "0", current.
    EXPECT_EQ(graph.GetLayerCount(), 1);
    EXPECT_EQ(graph.GetCurrentLayer()->GetName(), "0");
}

TEST(DxfImportTables, ActiveViewportAndLayerRecordsApply)
{
    CGraph graph;
    const std::string vport = [] {
        std::string t = "0\nTABLE\n2\nVPORT\n";
        t += "0\nVPORT\n2\nOther\n13\n9\n14\n9\n24\n9\n";
        t += "0\nVPORT\n2\n*Active\n13\n1.5\n23\n2.5\n14\n10\n24\n20\n50\n90\n75\n1\n";
        t += "0\nVPORT\n2\n*ACTIVE\n14\n99\n24\n99\n";
        return t + "0\nENDTAB\n";
    }();
    const std::string layers = "0\nTABLE\n2\nLAYER\n0\nLAYER\n2\nWalls\n62\n3\n0\nLAYER\n2\nWALLS\n62\n-4\n"
                               "0\nLAYER\n62\n5\n0\nLAYER\n2\n\n62\n2\n0\nLAYER\n2\nDoors\n62\n6\n"
                               "0\nLAYER\n2\nWindows\n62\n0\n0\nENDTAB\n";
    const Imported result = Import(graph, "0\nSECTION\n2\nTABLES\n" + vport + layers + "0\nENDSEC\n" +
                                              Entities("0\nLINE\n8\nwalls\n10\n0\n20\n0\n11\n1\n21\n1\n"));
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_DOUBLE_EQ(graph.GetSnapBase().x, 1.5);
    EXPECT_DOUBLE_EQ(graph.GetSnapBase().y, 2.5);
    EXPECT_DOUBLE_EQ(graph.GetGridSpacingX(), 10);
    EXPECT_DOUBLE_EQ(graph.GetGridSpacingY(), 20);
    EXPECT_DOUBLE_EQ(graph.GetSnapAngle(), PI / 2);
    EXPECT_TRUE(graph.GetGridShown());
    // "WALLS" updated "Walls"; the records without a name or with an empty
    // one were dropped; colour 0 (by block) is no layer colour and gives 7.
    ASSERT_EQ(graph.GetLayerCount(), 3);
    EXPECT_EQ(graph.FindLayerByName("walls")->GetColor(), 4);
    EXPECT_FALSE(graph.FindLayerByName("walls")->IsVisible());  // turned off by the second record
    EXPECT_TRUE(graph.FindLayerByName("Doors")->IsVisible());
    EXPECT_EQ(graph.FindLayerByName("walls")->CountEntities(), 1);
    EXPECT_EQ(graph.FindLayerByName("Doors")->GetColor(), 6);
    EXPECT_EQ(graph.FindLayerByName("Windows")->GetColor(), 7);
}

// Names in the code page the header declares, valid UTF-8 whatever it
// declares, and "\U+XXXX" for what a code page lacks, in the layer table and
// in the entities' layer groups alike.
TEST(DxfImportTables, LayerNamesAreReadInTheFilesCodePage)
{
    const std::string cyrillic1251 = "\xD1\xEB\xEE\xE9", cyrillic = "\xD0\xA1\xD0\xBB\xD0\xBE\xD0\xB9";  // Слой
    auto file = [](const std::string& codePage, const std::string& table, const std::string& entity) {
        return "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1015\n9\n$DWGCODEPAGE\n3\n" + codePage +
               "\n0\nENDSEC\n0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nLAYER\n0\nLAYER\n2\n" + table +
               "\n62\n3\n0\nENDTAB\n0\nENDSEC\n" + Entities("0\nLINE\n8\n" + entity + "\n10\n0\n20\n0\n11\n1\n21\n1\n");
    };
    const struct {
        std::string text, name;
    } cases[] = {
        {file("ANSI_1251", cyrillic1251, cyrillic1251), cyrillic},
        {file("ansi_1251", cyrillic, cyrillic1251), cyrillic},
        {file("ANSI_1252", "\xDCn\xEF", "\xDCn\xEF"), "\xC3\x9Cn\xC3\xAF"},  // Ünï
        {file("ANSI_1252", "\\U+0421\\U+043b\\U+043E\\U+0439", "\\U+0421\\U+043B\\U+043E\\U+0439"), cyrillic},
        // Past U+FFFF as a surrogate pair, or in eight digits.
        {file("ANSI_1252", "a\\U+D83D\\U+DE00", "a\\U+0001f600"), "a\xF0\x9F\x98\x80"},
        // No character: kept as written.
        {file("ANSI_1252", "\\U+0000\\U+D83Dx\\U+12", "\\U+0000\\U+D83Dx\\U+12"), "\\U+0000\\U+D83Dx\\U+12"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(60, 60));
        CGraph graph;
        const Imported result = Import(graph, c.text);
        ASSERT_TRUE(result.ok) << result.error;
        ASSERT_EQ(graph.GetLayerCount(), 1);
        EXPECT_EQ(graph.GetFirstLayer()->GetName(), c.name);
        EXPECT_EQ(graph.GetFirstLayer()->GetColor(), 3);
        EXPECT_EQ(graph.GetFirstLayer()->CountEntities(), 1);
    }
}

// ---- progress ---------------------------------------------------------------------

std::vector<int> g_Percents;
void RecordProgress(const std::string& text, int percent)
{
    EXPECT_EQ(text, "Reading DXF file...");
    g_Percents.push_back(percent);
}

TEST(DxfImportProgress, RunsFromZeroToHundredWithoutGoingBack)
{
    g_Percents.clear();
    CGraph graph;
    ASSERT_TRUE(graph.ReadDXF(kFixtures + "r2000_entities.dxf", RecordProgress));
    ASSERT_GE(g_Percents.size(), 3u);
    EXPECT_EQ(g_Percents.front(), 0);
    EXPECT_EQ(g_Percents.back(), 100);
    for (std::size_t i = 1; i < g_Percents.size(); ++i)
        EXPECT_GE(g_Percents[i], g_Percents[i - 1]);
    g_Percents.clear();
    std::string error;
    TempFile empty("empty.dxf", "");
    EXPECT_FALSE(graph.ReadDXF(empty.Path(), RecordProgress, &error));
    EXPECT_EQ(g_Percents, (std::vector<int>{0, 100}));
}

}  // namespace
