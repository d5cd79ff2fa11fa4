#include "model/entity.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <thread>
#include <vector>

#include "model/layer.h"
#include "recording_device.h"
#include "test_entity.h"
#include "trace/trace_option.h"

namespace {

// ---- id counter -----------------------------------------------------------

TEST(EntityIdCounter, NewEntitiesTakeConsecutiveIds)
{
    ResetIdCounter(48);
    CTestBox a, b;
    EXPECT_EQ(a.m_Id, 48u);
    EXPECT_EQ(b.m_Id, 49u);
    EXPECT_EQ(GetIdCounter(), 50u);
}

TEST(EntityIdCounter, RaiseOnlyEverMovesTheCounterUp)
{
    ResetIdCounter(100);
    RaiseIdCounter(500);
    EXPECT_EQ(GetIdCounter(), 501u);
    RaiseIdCounter(20);
    EXPECT_EQ(GetIdCounter(), 501u);
    EXPECT_EQ(TakeNextId(), 501u);
}

TEST(EntityIdCounter, NeverHandsOutZeroNorAnIdLeftToTheFiles)
{
    ResetIdCounter(std::numeric_limits<std::uint32_t>::max());
    EXPECT_EQ(TakeNextId(), FIRST_ENTITY_ID);
    EXPECT_EQ(TakeNextId(), FIRST_ENTITY_ID + 1);
    ResetIdCounter(0);
    EXPECT_EQ(TakeNextId(), FIRST_ENTITY_ID);
    ResetIdCounter(ENTITY_ID_LIMIT - 1);
    EXPECT_EQ(TakeNextId(), ENTITY_ID_LIMIT - 1);
    EXPECT_EQ(TakeNextId(), FIRST_ENTITY_ID);
    // A file's id up there leaves the counter where it was.
    RaiseIdCounter(0xFFFFFFFFu);
    RaiseIdCounter(ENTITY_ID_LIMIT);
    EXPECT_EQ(GetIdCounter(), FIRST_ENTITY_ID + 1);
    RaiseIdCounter(ENTITY_ID_LIMIT - 1);
    EXPECT_EQ(GetIdCounter(), ENTITY_ID_LIMIT);
    ResetIdCounter();
}

TEST(EntityIdCounter, ThreadsCreatingEntitiesNeverShareAnId)
{
    ResetIdCounter();
    constexpr int kPerThread = 20000;
    std::vector<std::uint32_t> ids[2];
    auto work = [](std::vector<std::uint32_t>* out) {
        for (int i = 0; i < kPerThread; ++i)
            out->push_back(TakeNextId());
    };
    std::thread t1(work, &ids[0]);
    std::thread t2(work, &ids[1]);
    t1.join();
    t2.join();
    std::set<std::uint32_t> all(ids[0].begin(), ids[0].end());
    all.insert(ids[1].begin(), ids[1].end());
    EXPECT_EQ(all.size(), 2u * kPerThread);
}

// ---- construction, copies and base operations -----------------------------

TEST(EntityBase, NewEntitiesTakeTheirLengthFromTheConnectDistance)
{
    const int saved = GetTraceOption().ChartType.i_ConDis;
    GetTraceOption().ChartType.i_ConDis = 7;
    CEntity e;
    GetTraceOption().ChartType.i_ConDis = saved;
    EXPECT_EQ(e.m_Length, 14.0);
    EXPECT_EQ(e.m_Color, 256);  // by layer
}

TEST(EntityBase, CloneCarriesIdColourWidthAndTypeButNoLinks)
{
    CLayer layer;
    auto* original = new CTestBox(ENTITY_LINE, 0, 0, 5, 5);
    original->m_Color = 3;
    original->m_SavedColor = 9;
    original->m_Width = 1.5;
    original->m_ActiveEnd = 1;
    original->m_Joined = true;
    original->m_CurVertex = 4;
    ASSERT_TRUE(layer.AddEntity(original));
    ASSERT_TRUE(layer.AddEntity(new CTestBox));

    std::unique_ptr<CEntity> clone = original->Clone();
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(clone->m_Id, original->m_Id);
    EXPECT_EQ(clone->m_Color, 3);
    EXPECT_EQ(clone->m_Width, 1.5);
    EXPECT_EQ(clone->m_Type, ENTITY_LINE);
    EXPECT_EQ(clone->m_Layer, &layer);
    EXPECT_EQ(clone->m_Next, nullptr);
    EXPECT_EQ(clone->m_Prev, nullptr);
    // Not copied: saved colour, active end, joined; current vertex only for
    // polylines.
    EXPECT_EQ(clone->m_SavedColor, 256);
    EXPECT_EQ(clone->m_ActiveEnd, 0u);
    EXPECT_FALSE(clone->m_Joined);
    EXPECT_EQ(clone->m_CurVertex, 1);

    CTestBox polyline(ENTITY_POLYLINE);
    polyline.m_CurVertex = 6;
    CTestBox copy;
    copy.CopyFrom(&polyline);
    EXPECT_EQ(copy.m_CurVertex, 6);
}

TEST(EntityBase, InsideRectNeedsADrawnEntityAndCountsTouchingEdges)
{
    CTestBox e(ENTITY_LINE, 0, 0, 10, 5);
    EXPECT_TRUE(e.InsideRect({0, 0}, {10, 5}));
    EXPECT_EQ(e.m_Extents[EXT_MAX_X], 10.0);
    EXPECT_FALSE(e.InsideRect({0.5, 0}, {10, 5}));
    EXPECT_FALSE(e.InsideRect({0, 0}, {10, 4.9}));
    e.m_Drawn = false;
    EXPECT_FALSE(e.InsideRect({-100, -100}, {100, 100}));

    CEntity empty;  // no extents: never inside, whatever its stale box
    EXPECT_FALSE(empty.InsideRect({-100, -100}, {100, 100}));
}

TEST(EntityBase, DrawColourFollowsTheLayerWhenByLayer)
{
    CLayer layer;
    layer.SetColor(42);
    auto* e = new CTestBox;
    ASSERT_TRUE(layer.AddEntity(e));
    EXPECT_EQ(e->GetDrawColorIndex(), 42);
    e->m_Color = 3;
    EXPECT_EQ(e->GetDrawColorIndex(), 3);
    CTestBox loose;
    EXPECT_EQ(loose.GetDrawColorIndex(), 7);
}

// ---- DXF common groups ----------------------------------------------------

TEST(EntityDxf, Dxf2000GroupsCarryHandleSubclassLayerAndColour)
{
    CLayer layer;  // named "0"
    auto* e = new CTestBox;
    ASSERT_TRUE(layer.AddEntity(e));
    e->m_Id = 255;
    bool ok = false;
    EXPECT_EQ(WriteToBytes([&](std::FILE* f) { return e->WriteDXF2000(f, false); }, &ok),
              "  5\nFF\n  100\nAcDbEntity\n  8\n0\n");
    EXPECT_TRUE(ok);
    e->m_Color = 1;
    EXPECT_EQ(WriteToBytes([&](std::FILE* f) { return e->WriteDXF2000(f, false); }),
              "  5\nFF\n  100\nAcDbEntity\n  8\n0\n  62\n1\n");
}

TEST(EntityDxf, R10GroupsHaveNoHandle)
{
    CLayer layer;
    ASSERT_TRUE(layer.SetName("Walls"));
    auto* e = new CTestBox;
    ASSERT_TRUE(layer.AddEntity(e));
    e->m_Color = 12;
    EXPECT_EQ(WriteToBytes([&](std::FILE* f) { return e->WriteDXFR10(f, false); }), "  8\nWalls\n  62\n12\n");
}

TEST(EntityDxf, RecordsCarryTheNamesTheFileGivesThem)
{
    CTestBox e;
    e.m_Id = 255;
    const CDxfNames own = e.GetDxfNames();
    EXPECT_EQ(own.handle, 255u);
    EXPECT_EQ(own.layer, "0") << "outside any layer";
    EXPECT_EQ(WriteToBytes([&](std::FILE* f) {
                  return e.WriteDXF2000(f, false, {0x2A, "W_1"});
              }),
              "  5\n2A\n  100\nAcDbEntity\n  8\nW_1\n");
    EXPECT_EQ(WriteToBytes([&](std::FILE* f) { return e.WriteDXFR10(f, false, {0x2A, "W_1"}); }), "  8\nW_1\n");
}

TEST(EntityDxf, FailedWriteIsReported)
{
    CTestBox e;
    FilePtr readOnly(std::fopen("/dev/null", "r"), &std::fclose);
    ASSERT_NE(readOnly, nullptr);
    EXPECT_FALSE(e.WriteDXF2000(readOnly.get(), false));
    EXPECT_FALSE(e.WriteDXFR10(readOnly.get(), false));
}

// ---- project record -------------------------------------------------------

std::string Le32(std::uint32_t v)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[i] = static_cast<char>(v >> (8 * i));
    return s;
}

std::string Le64(double d)
{
    std::uint64_t v;
    std::memcpy(&v, &d, 8);
    std::string s(8, '\0');
    for (int i = 0; i < 8; ++i)
        s[i] = static_cast<char>(v >> (8 * i));
    return s;
}

TEST(EntityProjectRecord, CommonRecordHasTheFixedLayout)
{
    CEntity e;
    e.m_Type = ENTITY_SOLID;
    e.m_Id = 0x01020304;
    e.m_Color = 5;
    e.m_SavedColor = -2;
    e.m_Width = 1.25;
    e.m_Length = 8.5;
    e.m_ActiveEnd = 1;
    e.m_Closed = true;
    const std::string bytes = WriteToBytes([&](std::FILE* f) { return e.Save(f); });
    const std::string expected = Le32(6) + Le32(0x01020304) + std::string("\x05\x00\xFE\xFF", 4) + Le64(1.25) +
                                 Le64(8.5) + Le32(1) + std::string("\x01\x00", 2);
    EXPECT_EQ(bytes.size(), 34u);
    EXPECT_EQ(bytes, expected);
}

class EntityRecordRoundTrip : public ::testing::Test {
protected:
    CTestBoxCreator lineStandIn{ENTITY_LINE};

    static std::string SampleRecord()
    {
        CTestBox e(ENTITY_LINE, -1.5, 2, 30, 40.25);
        e.m_Id = 777;
        e.m_Color = 14;
        e.m_SavedColor = 3;
        e.m_Width = 0.75;
        e.m_Length = 123.5;
        e.m_ActiveEnd = 1;
        e.m_Closed = true;
        e.m_Joined = true;
        return WriteToBytes([&](std::FILE* f) { return e.Save(f); });
    }
};

TEST_F(EntityRecordRoundTrip, LoadsAndSavesByteForByte)
{
    const std::string bytes = SampleRecord();
    ASSERT_EQ(bytes.size(), 34u + 32u);
    FilePtr file = OpenBytes(bytes);
    std::unique_ptr<CEntity> loaded = CreateEntityFromProject(file.get());
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->m_Id, 777u);
    EXPECT_EQ(loaded->m_SavedColor, 3);
    EXPECT_TRUE(loaded->m_Joined);
    EXPECT_EQ(WriteToBytes([&](std::FILE* f) { return loaded->Save(f); }), bytes);
}

TEST_F(EntityRecordRoundTrip, EveryTruncatedPrefixFailsCleanly)
{
    const std::string bytes = SampleRecord();
    const int liveBefore = CTestBox::live;
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        FilePtr file = OpenBytes(bytes.substr(0, n));
        EXPECT_EQ(CreateEntityFromProject(file.get()), nullptr) << "prefix " << n;
    }
    EXPECT_EQ(CTestBox::live, liveBefore);  // half-read objects were deleted
}

TEST_F(EntityRecordRoundTrip, LoadingRaisesTheIdCounterPastTheIdRead)
{
    ResetIdCounter(48);
    FilePtr file = OpenBytes(SampleRecord());
    ASSERT_NE(CreateEntityFromProject(file.get()), nullptr);
    EXPECT_GT(GetIdCounter(), 777u);
    CTestBox fresh;
    EXPECT_NE(fresh.m_Id, 777u);
}

TEST_F(EntityRecordRoundTrip, UnknownTypeCodesReadNothingFurther)
{
    for (std::uint32_t code : {0u, 8u, 0xFFFFFFFFu}) {
        FilePtr file = OpenBytes(Le32(code) + std::string(40, '\x01'));
        EXPECT_EQ(CreateEntityFromProject(file.get()), nullptr);
        EXPECT_EQ(std::ftell(file.get()), 4) << code;
    }
}

TEST_F(EntityRecordRoundTrip, DamagedWidthLoadsAsThinnest)
{
    std::string bytes = SampleRecord();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    bytes.replace(12, 8, Le64(nan));
    FilePtr file = OpenBytes(bytes);
    std::unique_ptr<CEntity> loaded = CreateEntityFromProject(file.get());
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->m_Width, 0.0);
}

TEST(EntityFactory, BuildsEveryClassOfTheProgram)
{
    for (std::uint32_t type : {ENTITY_POLYLINE, ENTITY_CIRCLE, ENTITY_ARC, ENTITY_RASTER}) {
        std::unique_ptr<CEntity> e = CreateEntity(type);
        ASSERT_NE(e, nullptr) << type;
        EXPECT_EQ(e->m_Type, type);
    }
}

TEST(EntityFactory, RegistrationReplacesAndRestoresCreators)
{
    EXPECT_EQ(RegisterEntityCreator(0, nullptr), nullptr);
    EXPECT_EQ(RegisterEntityCreator(8, nullptr), nullptr);
    EXPECT_EQ(CreateEntity(0), nullptr);
    EXPECT_EQ(CreateEntity(8), nullptr);
    const EntityCreator before = RegisterEntityCreator(ENTITY_SOLID, nullptr);
    EXPECT_EQ(CreateEntity(ENTITY_SOLID), nullptr);
    {
        CTestBoxCreator standIn(ENTITY_SOLID);
        std::unique_ptr<CEntity> e = CreateEntity(ENTITY_SOLID);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->m_Type, ENTITY_SOLID);
    }
    EXPECT_EQ(CreateEntity(ENTITY_SOLID), nullptr);
    RegisterEntityCreator(ENTITY_SOLID, before);
}

TEST(EntityProjectPrimitives, ShortReadsFailAndValuesRoundTrip)
{
    const std::string bytes = WriteToBytes([](std::FILE* f) {
        return WriteProjectI16(f, -3) && WriteProjectI32(f, -70000) && WriteProjectF32(f, 1.0f) &&
               WriteProjectF64(f, -0.0) && WriteProjectU8(f, 200);
    });
    EXPECT_EQ(bytes.substr(6, 4), std::string("\x00\x00\x80\x3F", 4));
    FilePtr file = OpenBytes(bytes);
    std::int16_t i16;
    std::int32_t i32;
    float f32;
    double f64;
    std::uint8_t u8;
    ASSERT_TRUE(ReadProjectI16(file.get(), i16) && ReadProjectI32(file.get(), i32) && ReadProjectF32(file.get(), f32) &&
                ReadProjectF64(file.get(), f64) && ReadProjectU8(file.get(), u8));
    EXPECT_EQ(i16, -3);
    EXPECT_EQ(i32, -70000);
    EXPECT_EQ(f32, 1.0f);
    EXPECT_TRUE(std::signbit(f64));
    EXPECT_EQ(u8, 200);
    EXPECT_FALSE(ReadProjectU8(file.get(), u8));
}

}  // namespace
