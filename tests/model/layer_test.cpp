#include "model/layer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "model/entity.h"
#include "platform/text_encoding.h"
#include "recording_device.h"
#include "test_entity.h"
#include "trace/trace_option.h"

namespace {

std::vector<CEntity*> Chain(const CLayer& layer)
{
    std::vector<CEntity*> chain;
    for (CEntity* e = layer.GetFirstEntity(); e; e = e->m_Next)
        chain.push_back(e);
    return chain;
}

// The chain read backwards from the tail matches the forward one.
void ExpectConsistent(CLayer& layer)
{
    std::vector<CEntity*> forward = Chain(layer);
    // The count is kept as entities come and go, not walked.
    EXPECT_EQ(static_cast<std::size_t>(layer.CountEntities()), forward.size());
    std::vector<CEntity*> backward;
    for (CEntity* e = layer.GetLastEntity(); e; e = e->m_Prev)
        backward.insert(backward.begin(), e);
    EXPECT_EQ(forward, backward);
    for (CEntity* e : forward)
        EXPECT_EQ(e->m_Layer, &layer);
}

TEST(LayerAttributes, NamesIgnoreEmptyAndCaseOnlyChangesAndAreHeldToTheSavableLimit)
{
    CLayer layer;
    EXPECT_EQ(layer.GetColor(), static_cast<std::int32_t>(GetTraceOption().c_NormalColorIndex));
    EXPECT_TRUE(layer.SetName("Walls"));
    EXPECT_FALSE(layer.SetName(""));
    EXPECT_FALSE(layer.SetName("WALLS"));
    EXPECT_EQ(layer.GetName(), "Walls");
    EXPECT_TRUE(layer.SetName(std::string(300, 'a')));
    EXPECT_EQ(layer.GetName().size(), MAX_LAYER_NAME);

    // 254 ASCII bytes and then two-byte characters: a cut at 255 would split
    // one, so it backs off to a whole character.
    std::string accented = std::string(254, 'b');
    for (int i = 0; i < 5; ++i)
        accented += "\xC3\xA9";
    EXPECT_TRUE(layer.SetName(accented));
    EXPECT_TRUE(IsValidUtf8(layer.GetName()));
    EXPECT_EQ(layer.GetName().size(), 254u);

    EXPECT_TRUE(layer.SetName(std::string("cut\0here", 8)));
    EXPECT_EQ(layer.GetName(), "cut");
    EXPECT_FALSE(layer.SetName(std::string("\0x", 2)));  // empty once cut
    layer.SetSavedName(std::string(400, 's'));
    EXPECT_EQ(layer.GetSavedName().size(), MAX_LAYER_NAME);
}

TEST(LayerChain, AddAndRemoveKeepTheLinksRight)
{
    CLayer layer, other;
    auto* a = new CTestBox;
    auto* b = new CTestBox;
    auto* c = new CTestBox;
    auto* foreign = new CTestBox;
    EXPECT_FALSE(layer.AddEntity(nullptr));
    ASSERT_TRUE(layer.AddEntity(a));
    ASSERT_TRUE(layer.AddEntity(b));
    ASSERT_TRUE(layer.AddEntityFront(c));
    EXPECT_FALSE(layer.AddEntity(a));  // twice would make a cycle
    EXPECT_FALSE(layer.AddEntityFront(b));
    EXPECT_EQ(Chain(layer), (std::vector<CEntity*>{c, a, b}));
    ExpectConsistent(layer);
    EXPECT_EQ(layer.FindEntity(b->m_Id), b);

    other.AddEntity(foreign);
    layer.RemoveEntity(foreign);  // of another layer: nothing
    EXPECT_EQ(Chain(other), std::vector<CEntity*>{foreign});

    layer.RemoveEntity(b);  // the tail
    EXPECT_EQ(b->m_Next, nullptr);
    EXPECT_EQ(b->m_Prev, nullptr);
    layer.RemoveEntity(b);  // no longer in the chain: nothing
    ExpectConsistent(layer);
    delete b;
    layer.RemoveEntity(c);  // the head
    EXPECT_EQ(layer.GetFirstEntity(), a);
    delete c;
    ExpectConsistent(layer);
    layer.RemoveEntity(a);  // the only one
    EXPECT_EQ(layer.GetLastEntity(), nullptr);
    ExpectConsistent(layer);
    delete a;
    layer.RemoveEntity(nullptr);
}

TEST(LayerExtents, UnionSkipsBoxlessEntities)
{
    CLayer layer;
    double box[4] = {1, 2, 3, 4};
    double merge[4] = {5, 20, -1, 2};
    EXPECT_FALSE(layer.GetExtents(merge, box));
    // A first entity without extents does not poison the box of the rest.
    layer.AddEntity(new CTestBox(ENTITY_LINE, std::numeric_limits<double>::quiet_NaN(), 0, 0, 0));
    EXPECT_FALSE(layer.GetExtents(merge, box));
    EXPECT_EQ(box[0], 1.0);
    layer.AddEntity(new CTestBox(ENTITY_LINE, 0, 0, 10, 5));
    layer.AddEntity(new CTestBox(ENTITY_LINE, -2, 1, 3, 8));
    ASSERT_TRUE(layer.GetExtents(merge, box));
    EXPECT_EQ(std::vector<double>(box, box + 4), (std::vector<double>{-2, 10, 0, 8}));
    EXPECT_EQ(std::vector<double>(merge, merge + 4), (std::vector<double>{-2, 20, -1, 8}));
}

TEST(LayerDraw, DrawsHeadToTailOnlyWhenVisible)
{
    CLayer layer;
    layer.SetColor(4);
    layer.AddEntity(new CTestBox(ENTITY_LINE, 0, 0, 1, 1));
    layer.AddEntity(new CTestBox(ENTITY_LINE, 2, 2, 3, 3));
    CRecordingDevice device;
    layer.Draw(&device);
    EXPECT_EQ(device.calls, (std::vector<std::string>{"DrawEntityLine (0,0 w0) (1,1 w0) color=4 selected=0",
                                                      "DrawEntityLine (2,2 w0) (3,3 w0) color=4 selected=0"}));
    device.calls.clear();
    layer.SetVisible(false);
    layer.Draw(&device);
    EXPECT_TRUE(device.calls.empty());
}

TEST(LayerSelection, CrossingAndWindowSkipSelectedEntities)
{
    CLayer layer;
    auto* inside = new CTestBox(ENTITY_LINE, 1, 1, 2, 2);
    auto* crossing = new CTestBox(ENTITY_LINE, 4, 4, 8, 8);
    auto* outside = new CTestBox(ENTITY_LINE, 20, 20, 21, 21);
    for (CEntity* e : {inside, crossing, outside})
        layer.AddEntity(e);
    inside->m_CurVertex = 5;

    std::vector<CEntity*> got;
    auto collect = [&](CEntity* e) { got.push_back(e); };
    EXPECT_TRUE(layer.SelectWindow({0, 0}, {5, 5}, collect));
    EXPECT_EQ(got, std::vector<CEntity*>{inside});
    EXPECT_EQ(inside->m_CurVertex, 1);

    got.clear();
    EXPECT_TRUE(layer.SelectCrossing({0, 0}, {5, 5}, collect));
    EXPECT_EQ(got, std::vector<CEntity*>{crossing});
    EXPECT_FALSE(layer.SelectCrossing({0, 0}, {5, 5}, collect));
    EXPECT_FALSE(outside->m_Selected);

    got.clear();
    layer.SelectAll(true, collect);  // already selected ones included
    EXPECT_EQ(got.size(), 3u);
}

TEST(LayerCopy, CopyFromClonesEntitiesInOrderAndReportsUnclonable)
{
    CLayer source;
    source.SetName("Source");
    source.SetVisible(false);
    auto* a = new CTestBox(ENTITY_LINE, 0, 0, 1, 1);
    auto* b = new CTestBox(ENTITY_LINE, 5, 5, 6, 6);
    source.AddEntity(a);
    source.AddEntity(b);

    CLayer copy;
    copy.AddEntity(new CTestBox);
    const int before = CTestBox::live;
    ASSERT_TRUE(copy.CopyFrom(source));
    EXPECT_EQ(CTestBox::live, before + 1);  // one old deleted, two clones
    EXPECT_EQ(copy.GetId(), source.GetId());
    EXPECT_FALSE(copy.IsVisible());
    std::vector<CEntity*> chain = Chain(copy);
    ASSERT_EQ(chain.size(), 2u);
    EXPECT_EQ(chain[0]->m_Id, a->m_Id);
    EXPECT_EQ(chain[1]->m_Id, b->m_Id);
    EXPECT_NE(chain[0], a);
    ExpectConsistent(copy);

    source.AddEntityFront(new CEntity);  // the base cannot be cloned
    EXPECT_FALSE(copy.CopyFrom(source));
    EXPECT_EQ(copy.CountEntities(), 2);
}

TEST(LayerCopy, MoveEntitiesFromEmptiesTheOtherLayer)
{
    CLayer here, there;
    auto* a = new CTestBox;
    auto* b = new CTestBox;
    ASSERT_TRUE(here.AddEntity(a) && there.AddEntity(b));
    here.MoveEntitiesFrom(there);
    EXPECT_EQ(Chain(here), (std::vector<CEntity*>{a, b}));
    ExpectConsistent(here);
    EXPECT_EQ(there.GetLastEntity(), nullptr);
    ExpectConsistent(there);
    here.MoveEntitiesFrom(here);
    EXPECT_EQ(here.CountEntities(), 2);
}

TEST(LayerCopy, DistributeToLayersMatchesWidthsWrittenInTheNames)
{
    CLayer source;
    source.SetName("Trace");
    CLayer half, one;
    half.SetName("0_5000");
    one.SetName("1_0000");
    half.SetNext(&one);
    one.SetNext(&source);  // the source itself in the chain must not loop
    std::vector<CEntity*> e;
    for (double width : {0.5, 1.00005, 3.0}) {
        e.push_back(new CTestBox);
        e.back()->m_Width = width;
        source.AddEntity(e.back());
    }

    EXPECT_FALSE(source.DistributeToLayers(&half, 3, 7874));
    EXPECT_EQ(Chain(half), std::vector<CEntity*>{e[0]});
    EXPECT_EQ(Chain(one), std::vector<CEntity*>{e[1]});
    EXPECT_EQ(Chain(source), std::vector<CEntity*>{e[2]});
    ExpectConsistent(source);

    // Unit 2 scales by the resolution in millimetres.
    e[2]->m_Width = 0.5 * (7874.0 / 1000);
    EXPECT_TRUE(source.DistributeToLayers(&half, 2, 7874));
    EXPECT_EQ(e[2]->m_Layer, &half);
}

// ---- project block --------------------------------------------------------

class LayerBlock : public ::testing::Test {
protected:
    CTestBoxCreator lineStandIn{ENTITY_LINE};

    static std::string SampleBlock()
    {
        CLayer layer;
        layer.SetId(0x1234);
        layer.SetName("Walls");
        layer.SetSavedName("Old");
        layer.SetVisible(false);
        layer.SetColor(200);
        auto* a = new CTestBox(ENTITY_LINE, 0, 0, 1, 2);
        a->m_Id = 900;
        layer.AddEntity(a);
        layer.AddEntity(new CTestBox(ENTITY_LINE, 3, 4, 5, 6));
        return WriteToBytes([&](std::FILE* f) { return layer.Write(f); });
    }
};

TEST_F(LayerBlock, FixedLayoutReadsAndWritesAgainToTheSameBytes)
{
    const std::string bytes = SampleBlock();
    const std::string head = std::string("\x34\x12\0\0", 4) + std::string("\x05\0\0\0", 4) + "Walls" +
                             std::string("\x03\0\0\0", 4) + "Old" + std::string("\0", 1) +
                             std::string("\xC8\0\0\0", 4) + std::string("\x02\0\0\0", 4);
    EXPECT_EQ(bytes.substr(0, head.size()), head);
    EXPECT_EQ(bytes.size(), head.size() + 2 * (34 + 32));

    FilePtr file = OpenBytes(bytes);
    CLayer layer;
    layer.AddEntity(new CTestBox);  // replaced by the block's entities
    ASSERT_TRUE(layer.Read(file.get()));
    EXPECT_EQ(layer.CountEntities(), 2);
    ExpectConsistent(layer);
    EXPECT_EQ(layer.GetFirstEntity()->m_Id, 900u);
    EXPECT_EQ(WriteToBytes([&](std::FILE* f) { return layer.Write(f); }), bytes);
}

TEST_F(LayerBlock, EveryTruncatedPrefixFailsCleanly)
{
    const std::string bytes = SampleBlock();
    const int before = CTestBox::live;
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        FilePtr file = OpenBytes(bytes.substr(0, n));
        CLayer layer;
        EXPECT_FALSE(layer.Read(file.get())) << "prefix " << n;
        ExpectConsistent(layer);
    }
    EXPECT_EQ(CTestBox::live, before);
}

TEST_F(LayerBlock, OverlongNameLengthFailsBeforeReadingTheName)
{
    std::string bytes =
        std::string("\x01\0\0\0", 4) + std::string("\x00\x01\0\0", 4) + std::string(256, 'n') + std::string(13, '\0');
    FilePtr file = OpenBytes(bytes);
    CLayer layer;
    EXPECT_FALSE(layer.Read(file.get()));
    EXPECT_EQ(std::ftell(file.get()), 8);
}

TEST_F(LayerBlock, EmptyNamesRoundTripAndTheIdCounterIsRaised)
{
    ResetIdCounter(48);
    const std::string bytes = std::string("\x00\x10\0\0", 4) + std::string(4, '\0') + std::string(4, '\0') +
                              std::string("\x01", 1) + std::string("\x07\0\0\0", 4) + std::string(4, '\0');
    FilePtr file = OpenBytes(bytes);
    CLayer layer;
    ASSERT_TRUE(layer.Read(file.get()));
    EXPECT_EQ(layer.GetName(), "");
    EXPECT_GT(GetIdCounter(), 0x1000u);
    EXPECT_EQ(WriteToBytes([&](std::FILE* f) { return layer.Write(f); }), bytes);
}

TEST(LayerColours, OverrideSavesTheColoursAndMinusOneKeepsThem)
{
    CLayer layer;
    auto* a = new CTestBox;
    auto* b = new CTestBox;
    a->m_Color = 3;
    b->m_Color = 5;
    layer.AddEntity(a);
    layer.AddEntity(b);
    layer.OverrideColors(-1);
    EXPECT_EQ(a->m_Color, 3);
    EXPECT_EQ(b->m_Color, 5);
    layer.OverrideColors(2);
    EXPECT_EQ(a->m_Color, 2);
    EXPECT_EQ(b->m_Color, 2);
    layer.RestoreColors();
    EXPECT_EQ(a->m_Color, 3);
    EXPECT_EQ(b->m_Color, 5);
}

// ---- DXF LAYER record -----------------------------------------------------

TEST(LayerDxf, ReadsNameAndColourUpToTheNextRecord)
{
    FilePtr file = OpenBytes("  2\n Walls \n 70\n0\n 62\n-3\n  0\nLAYER\n");
    CLayer layer;
    EXPECT_TRUE(layer.ReadDXF(file.get()));
    EXPECT_EQ(layer.GetName(), "Walls");
    // A negative colour is a layer turned off in its own colour.
    EXPECT_EQ(layer.GetColor(), 3);
    EXPECT_FALSE(layer.IsVisible());
    char line[16] = {};
    ASSERT_NE(std::fgets(line, sizeof line, file.get()), nullptr);
    EXPECT_STREQ(line, "  0\n");  // left for the caller
    FilePtr inRange = OpenBytes("  2\nA\n 62\n200\n  0\nENDTAB\n");
    EXPECT_TRUE(layer.ReadDXF(inRange.get()));
    EXPECT_EQ(layer.GetColor(), 200);
    EXPECT_TRUE(layer.IsVisible());
    for (const char* text : {"  2\nA\n 62\n256\n  0\nENDTAB\n", "  2\nA\n 62\n-256\n  0\nENDTAB\n",
                             "  2\nA\n 62\n0\n  0\nENDTAB\n", "  2\nA\n 62\n-2147483648\n  0\nENDTAB\n"}) {
        FilePtr outOfRange = OpenBytes(text);
        EXPECT_TRUE(layer.ReadDXF(outOfRange.get())) << text;
        EXPECT_EQ(layer.GetColor(), 7) << text;
    }
}

TEST(LayerDxf, LongValuesAndCommentsKeepThePairsInStep)
{
    // A value longer than any buffer is cut, never read as a pair of its own.
    const std::string text = "  2\nLong\n999\nnote\n  1\n" + std::string(10000, 'x') + "\n 62\n-5\n  0\nENDTAB\n";
    FilePtr file = OpenBytes(text);
    CLayer layer;
    EXPECT_TRUE(layer.ReadDXF(file.get()));
    EXPECT_EQ(layer.GetName(), "Long");
    EXPECT_EQ(layer.GetColor(), 5);
    EXPECT_FALSE(layer.IsVisible());
}

TEST(LayerDxf, RecordWithoutNameOrCutShortFails)
{
    CLayer layer;
    for (const char* text : {" 62\n5\n  0\nLAYER\n", "  2\nA\n 62\n", "  2\nA\nxx\n1\n"}) {
        FilePtr file = OpenBytes(text);
        EXPECT_FALSE(layer.ReadDXF(file.get())) << text;
    }
}

}  // namespace
