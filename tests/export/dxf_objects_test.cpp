// The object records of a DXF 2000 file, read as a CAD program follows
// them: the root dictionary names the group and layout dictionaries, each
// layout is owned by the layout dictionary and points at its block record,
// which points back; every handle is unique and below the handle seed.
// Layers keep their colour, order and name through a DXF -> DXF round trip.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "export/dxf_writer.h"
#include "export/export_format.h"
#include "export/vector_file.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/line.h"

#include "export_test_support.h"

namespace {

using namespace export_test;

struct Group {
    int code;
    std::string value;
};

// One record: its type (group 0) and the groups up to the next record.
struct Record {
    std::string type;
    std::vector<Group> groups;
    // The values of a group code, in order.
    std::vector<std::string> All(int code) const
    {
        std::vector<std::string> out;
        for (const Group& g : groups)
            if (g.code == code)
                out.push_back(g.value);
        return out;
    }
    std::string One(int code) const
    {
        const std::vector<std::string> all = All(code);
        return all.size() == 1 ? all[0] : "<" + std::to_string(all.size()) + " groups " + std::to_string(code) + ">";
    }
};

std::string Trim(std::string s)
{
    while (!s.empty() && (s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    while (!s.empty() && s.front() == ' ')
        s.erase(s.begin());
    return s;
}

std::vector<Record> ReadRecords(const std::string& text)
{
    std::vector<Record> records;
    std::istringstream in(text);
    for (std::string code, value; std::getline(in, code) && std::getline(in, value);) {
        const int c = std::stoi(Trim(code));
        if (c == 0)
            records.push_back({Trim(value), {}});
        else if (!records.empty())
            records.back().groups.push_back({c, Trim(value)});
    }
    return records;
}

class DxfObjects : public ExportTest {
protected:
    std::vector<Record> Write()
    {
        std::string error;
        bool ok = false;
        const std::string text = Capture([&](std::FILE* f) { return WriteDXF2000File(graph, f, true, &error); }, &ok);
        EXPECT_TRUE(ok) << error;
        return ReadRecords(text);
    }
    CGraph graph;
};

TEST_F(DxfObjects, DictionariesAndLayoutsLinkUpWithTheBlockRecords)
{
    auto* line = new CLine();
    line->SetEnd(10, 5);
    graph.GetCurrentLayer()->AddEntity(line);
    const std::vector<Record> records = Write();

    // Sections by name, and every handle (5, or 105 of a dimension style).
    std::map<std::string, std::size_t> sections;
    std::set<unsigned long> handles;
    unsigned long seed = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const Record& r = records[i];
        if (r.type == "SECTION") {
            sections[r.One(2)] = i;
            continue;  // the header's variables: the seed is no handle
        }
        for (const Group& g : r.groups) {
            if (g.code == 5 || g.code == 105) {
                const unsigned long h = std::stoul(g.value, nullptr, 16);
                EXPECT_TRUE(handles.insert(h).second) << "handle " << g.value << " twice";
                EXPECT_GT(h, 0u);
            }
        }
    }
    for (const Record& r : records)
        for (std::size_t k = 0; k + 1 < r.groups.size(); ++k)
            if (r.groups[k].code == 9 && r.groups[k].value == "$HANDSEED")
                seed = std::stoul(r.groups[k + 1].value, nullptr, 16);
    ASSERT_FALSE(handles.empty());
    EXPECT_GT(seed, *handles.rbegin()) << "the seed is above every handle";
    ASSERT_TRUE(sections.count("OBJECTS"));
    ASSERT_EQ(records.back().type, "EOF");

    // The objects, in file order: root, group and layout dictionaries, then
    // the two layouts.
    std::vector<const Record*> objects;
    for (std::size_t i = sections["OBJECTS"] + 1; i < records.size() && records[i].type != "ENDSEC"; ++i)
        objects.push_back(&records[i]);
    ASSERT_EQ(objects.size(), 5u);
    const Record &root = *objects[0], &groups = *objects[1], &layouts = *objects[2];
    for (const Record* d : {&root, &groups, &layouts}) {
        EXPECT_EQ(d->type, "DICTIONARY");
        EXPECT_EQ(d->One(100), "AcDbDictionary");
        EXPECT_EQ(d->One(281), "1");
    }
    EXPECT_EQ(root.One(330), "0") << "the root dictionary has no owner";
    EXPECT_EQ(root.All(3), (std::vector<std::string>{"ACAD_GROUP", "ACAD_LAYOUT"}));
    EXPECT_EQ(root.All(350), (std::vector<std::string>{groups.One(5), layouts.One(5)}));
    EXPECT_EQ(groups.One(330), root.One(5));
    EXPECT_EQ(layouts.One(330), root.One(5));
    EXPECT_TRUE(groups.All(3).empty());
    EXPECT_EQ(layouts.All(3), (std::vector<std::string>{"Layout1", "Model"}));

    // Block records by name, from the tables.
    std::map<std::string, const Record*> blockRecords;
    for (const Record& r : records)
        if (r.type == "BLOCK_RECORD")
            blockRecords[r.One(2)] = &r;
    ASSERT_EQ(blockRecords.size(), 2u);
    const struct {
        const char* layout;
        const char* block;
        const char* order;
    } expected[] = {{"Layout1", "*Paper_Space", "1"}, {"Model", "*Model_Space", "0"}};
    const std::vector<std::string> layoutHandles = layouts.All(350);
    ASSERT_EQ(layoutHandles.size(), 2u);
    for (std::size_t k = 0; k < 2; ++k) {
        SCOPED_TRACE(expected[k].layout);
        const Record* layout = nullptr;
        for (const Record* o : objects)
            if (o->type == "LAYOUT" && o->One(5) == layoutHandles[k])
                layout = o;
        ASSERT_NE(layout, nullptr) << "the dictionary names a layout that is not there";
        const Record& record = *blockRecords.at(expected[k].block);
        // The plot settings' empty page set-up name, then the layout's.
        EXPECT_EQ(layout->All(1), (std::vector<std::string>{"", expected[k].layout}));
        EXPECT_EQ(layout->One(71), expected[k].order);
        EXPECT_EQ(layout->One(70), "1");
        EXPECT_EQ(layout->All(100), (std::vector<std::string>{"AcDbPlotSettings", "AcDbLayout"}));
        // Owned by the layout dictionary, and bound to its block record,
        // which names it back.
        EXPECT_EQ(layout->All(330), (std::vector<std::string>{layouts.One(5), record.One(5)}));
        EXPECT_EQ(record.One(340), layout->One(5));
    }
    // The model space layout is the second object after the dictionaries.
    EXPECT_EQ(objects[3]->All(1).back(), "Model");
    EXPECT_EQ(objects[4]->All(1).back(), "Layout1");
}

// A DXF whose layer table lists "0" without a colour, then two layers, is
// written back with the same layers in the same order and colours.
TEST_F(DxfObjects, LayerColourAndOrderSurviveADxfRoundTrip)
{
    const fs::path first = folder / "first.dxf", second = folder / "second.dxf";
    std::ofstream(first) << "0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nLAYER\n70\n3\n"
                            "0\nLAYER\n2\n0\n70\n0\n6\nCONTINUOUS\n"
                            "0\nLAYER\n2\nWalls\n70\n0\n62\n3\n"
                            "0\nLAYER\n2\nDoors\n70\n0\n62\n-1\n"
                            "0\nENDTAB\n0\nENDSEC\n"
                            "0\nSECTION\n2\nENTITIES\n"
                            "0\nLINE\n8\n0\n10\n0\n20\n0\n11\n5\n21\n5\n"
                            "0\nLINE\n8\nWalls\n10\n1\n20\n0\n11\n6\n21\n5\n"
                            "0\nLINE\n8\nWindows\n10\n2\n20\n0\n11\n7\n21\n5\n"
                            "0\nENDSEC\n0\nEOF\n";
    auto layers = [](const CGraph& g) {
        std::string text;
        for (CLayer* l = g.GetFirstLayer(); l; l = l->GetNext())
            text += l->GetName() + " " + std::to_string(l->GetColor()) + (l->IsVisible() ? "" : " off") + "\n";
        return text;
    };
    CGraph a, b, c;
    std::string error;
    ASSERT_TRUE(a.ReadDXF(first.string(), nullptr, &error)) << error;
    const std::string expected = "0 7\nWalls 3\nDoors 1 off\nWindows " + std::to_string(CLayer().GetColor()) + "\n";
    EXPECT_EQ(layers(a), expected) << "the file's order; DXF's default colour for a record without one";
    for (auto [from, to] : {std::pair{&a, &b}, std::pair{&b, &c}}) {
        ASSERT_TRUE(SaveVectorFile(*from, second.string(), EXPORT_DXF2000, &error)) << error;
        ASSERT_TRUE(to->ReadDXF(second.string(), nullptr, &error)) << error;
        EXPECT_EQ(layers(*to), expected);
    }
}

// Names beyond ASCII: in the declared code page, "\U+XXXX" (UTF-16) for what
// it lacks. ezdxf reads them as a CAD program does and so does the import.
TEST_F(DxfObjects, NonAsciiLayerNamesReadBackInEzdxfAndHere)
{
    const std::vector<std::string> names = {"\xC3\x9Cn\xC3\xAF\x63\xC3\xB8\x64\xC3\xA9",  // Ünïcødé
                                            "\xC5\x92uvre\xE2\x82\xAC",                   // Œuvre€
                                            "\xD0\xA1\xD0\xBB\xD0\xBE\xD0\xB9",           // Слой
                                            "\xE6\x97\xA5\xE6\x9C\xAC",                   // 日本
                                            "emoji\xF0\x9F\x98\x80"};
    for (const std::string& name : names)
        graph.SelectOrAddLayer(name)->AddEntity(new CLine());
    const fs::path path = folder / "names.dxf";
    std::string error, out;
    ASSERT_TRUE(SaveVectorFile(graph, path.string(), EXPORT_DXF2000, &error)) << error;
    CGraph copy;
    ASSERT_TRUE(copy.ReadDXF(path.string(), nullptr, &error)) << error;
    for (const std::string& name : names) {
        ASSERT_NE(copy.FindLayerByName(name), nullptr) << name;
        EXPECT_EQ(copy.FindLayerByName(name)->CountEntities(), 1) << name;
    }
    if (RunCommand(std::string(kPython) + " -c 'import ezdxf'", &out) != 0)
        GTEST_SKIP() << "python3 ezdxf missing";
    // ezdxf leaves the escapes to its caller; UTF-16 pairs make one character.
    std::ofstream(folder / "names.py")
        << "import ezdxf,sys\n"
           "from ezdxf.lldxf.encoding import decode_dxf_unicode as u\n"
           "name=lambda n: u(n).encode('utf-16','surrogatepass').decode('utf-16')\n"
           "d=ezdxf.readfile(sys.argv[1])\n"
           "print(d.header['$DWGCODEPAGE'])\n"
           "for l in d.layers: print(name(l.dxf.name), sum(1 for e in d.modelspace() if e.dxf.layer==l.dxf.name))\n";
    ASSERT_EQ(RunCommand(std::string(kPython) + " " + (folder / "names.py").string() + " " + path.string(), &out), 0)
        << out;
    // New layers go to the head of the list.
    std::string expected = "ANSI_1252\n0 0\n";
    for (auto name = names.rbegin(); name != names.rend(); ++name)
        expected += *name + " 1\n";
    EXPECT_EQ(out, expected + "Trace 0\nDefpoints 0\n");
}

}  // namespace
