#include "model/polygon_set.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "model/geometry.h"
#include "recording_device.h"
#include "test_entity.h"

namespace {

struct Pt {
    double x, y, bulge = 0;
};

std::unique_ptr<CPolyLine> MakeOutline(const std::vector<Pt>& points, bool closed = true)
{
    auto outline = std::make_unique<CPolyLine>();
    for (const Pt& p : points) {
        auto* v = new CVertex(p.x, p.y, 0, 0, 0);
        v->bulge = p.bulge;
        outline->AddVertex(v, true);
    }
    outline->m_Closed = closed;
    return outline;
}

std::unique_ptr<CPolyLine> Square(double x, double y, double size, double closingBulge = 0)
{
    return MakeOutline({{x, y}, {x + size, y}, {x + size, y + size}, {x, y + size, closingBulge}});
}

// An outer square with a bulging closing side and a square hole.
std::unique_ptr<CPolyPolygon> MakeRegion(double closingBulge = 0.4)
{
    auto set = std::make_unique<CPolyPolygon>();
    EXPECT_TRUE(set->AddOutline(Square(0, 0, 10, closingBulge)));
    EXPECT_TRUE(set->AddOutline(Square(2, 2, 2)));
    return set;
}

// A device whose flattening chord is `step` world units.
void SetFlattenStep(CFrDevice& device, double step)
{
    device.Transform().SetDeviceRect(0, 0, 1000, 1000);
    device.Transform().SetWorldBox(0, 0, step * 200, step * 200);
    ASSERT_NEAR(device.GetFlattenStep(), step, step * 1e-12);
}

std::vector<CGripRecord> GripsOf(CEntity& entity)
{
    CGripRecord* head = nullptr;
    entity.AddGrips(nullptr, &head);
    std::vector<CGripRecord> out;
    while (head) {
        out.insert(out.begin(), *head);  // oldest first
        CGripRecord* next = head->next;
        delete head;
        head = next;
    }
    return out;
}

std::string SaveBytes(CEntity& entity)
{
    bool ok = false;
    std::string bytes = WriteToBytes([&](std::FILE* f) { return entity.Save(f); }, &ok);
    EXPECT_TRUE(ok);
    return bytes;
}

// Draws the set and checks that what was filled is every outline's current
// flattened ring for the device, outline after outline.
void ExpectArraysMatchOutlines(CPolyPolygon& set, CRecordingDevice& device)
{
    set.Draw(&device);
    std::vector<frDoublePoint> points;
    std::vector<std::int32_t> counts;
    for (int i = 0; i < set.GetOutlineCount(); ++i) {
        const CVertex* ring = set.GetOutline(i)->GetFlatList(&device, false);
        ASSERT_NE(ring, nullptr);
        const CVertex* v = ring;
        std::int32_t n = 0;
        do {
            points.emplace_back(v->x, v->y);
            ++n;
            v = v->next;
        } while (v != ring);
        counts.push_back(n);
    }
    EXPECT_EQ(set.GetOutlineCounts(), counts);
    ASSERT_EQ(set.GetPoints().size(), points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        EXPECT_EQ(set.GetPoints()[i].x, points[i].x) << i;
        EXPECT_EQ(set.GetPoints()[i].y, points[i].y) << i;
    }
    EXPECT_FALSE(set.NeedsRebuild(&device));
}

// ---- outlines -------------------------------------------------------------

TEST(PolygonSetOutlines, ShortOutlinesAreDroppedAndTheOuterOneAlwaysStays)
{
    CPolyPolygon set;
    EXPECT_FALSE(set.AddOutline(nullptr));
    EXPECT_FALSE(set.AddOutline(MakeOutline({{1, 1}})));
    EXPECT_EQ(set.GetOutlineCount(), 0);
    EXPECT_EQ(set.GetPointCount(), 0);
    double box[4];
    EXPECT_FALSE(set.GetExtents(nullptr, box));

    ASSERT_TRUE(set.AddOutline(Square(0, 0, 10)));
    ASSERT_TRUE(set.AddOutline(Square(2, 2, 2)));
    ASSERT_TRUE(set.AddOutline(Square(20, -5, 1)));
    EXPECT_EQ(set.GetPointCount(), 12);
    ASSERT_TRUE(set.GetExtents(nullptr, box));
    EXPECT_EQ(std::vector<double>(box, box + 4), (std::vector<double>{0, 21, -5, 10}));

    CPolyLine* outer = set.GetOutline(0);
    set.RemoveOutline(outer);
    auto stranger = Square(0, 0, 1);
    set.RemoveOutline(stranger.get());
    EXPECT_EQ(set.GetOutlineCount(), 3);
    set.RemoveOutline(set.GetOutline(1));
    EXPECT_EQ(set.GetOutlineCount(), 2);
    EXPECT_EQ(set.GetOutline(0), outer);

    // The count saved is always the number of outline records that follow.
    const std::string bytes = SaveBytes(set);
    std::uint32_t saved = 0;
    std::memcpy(&saved, bytes.data() + 34, 4);
    EXPECT_EQ(saved, 2u);
    EXPECT_EQ(bytes.size(), 34u + 4u + 2 * (34u + 21u + 4 * 40u));
}

TEST(PolygonSetOutlines, OutlinesAreClosedSoTheClosingArcIsFilledAndGripped)
{
    auto outline = Square(0, 0, 10, 0.4);
    outline->m_Closed = false;
    const int openGrips = outline->GetGripCount();
    CPolyPolygon set;
    ASSERT_TRUE(set.AddOutline(std::move(outline)));
    EXPECT_TRUE(set.GetOutline(0)->m_Closed);
    EXPECT_EQ(set.GetGripCount(), openGrips + 1);
    CRecordingDevice device;
    SetFlattenStep(device, 0.5);
    set.Draw(&device);
    EXPECT_GT(set.GetPoints().size(), 4u);  // the closing arc in pieces
    for (const frDoublePoint& p : set.GetPoints())
        EXPECT_GE(p.x, -2.1);

    // A record whose outline was stored open loads closed.
    std::string bytes = SaveBytes(set);
    ASSERT_EQ(bytes[34 + 4 + 32], 1);
    bytes[34 + 4 + 32] = 0;
    FilePtr file = OpenBytes(bytes);
    std::unique_ptr<CEntity> loaded = CreateEntityFromProject(file.get());
    ASSERT_NE(loaded, nullptr);
    auto* reloaded = static_cast<CPolyPolygon*>(loaded.get());
    EXPECT_TRUE(reloaded->GetOutline(0)->m_Closed);
    EXPECT_EQ(reloaded->GetGripCount(), openGrips + 1);
}

// ---- point arrays and drawing ---------------------------------------------

TEST(PolygonSetPointArrays, TwoSquaresFillAsOnePolyPolygon)
{
    CPolyPolygon set;
    set.AddOutline(Square(0, 0, 10));
    set.AddOutline(Square(2, 2, 2));
    set.m_Color = 2;
    CRecordingDevice device;
    set.Draw(&device);
    ASSERT_EQ(device.calls.size(), 1u);
    EXPECT_EQ(device.calls[0],
              "FillPolyPolygon [(0,0) (10,0) (10,10) (0,10)] [(2,2) (4,2) (4,4) (2,4)] color=2 selected=0");
    EXPECT_EQ(set.GetOutlineCounts(), (std::vector<std::int32_t>{4, 4}));
    EXPECT_FALSE(set.m_Modified);

    CPolyPolygon empty;
    empty.Draw(&device);
    EXPECT_EQ(device.calls.size(), 1u);
}

TEST(PolygonSetPointArrays, MatchTheOutlinesAfterEveryEdit)
{
    auto set = MakeRegion();
    CRecordingDevice device;
    SetFlattenStep(device, 1.0);
    ExpectArraysMatchOutlines(*set, device);

    ASSERT_TRUE(set->AddOutline(Square(5, 5, 1)));
    EXPECT_TRUE(set->NeedsRebuild(&device));
    ExpectArraysMatchOutlines(*set, device);

    ASSERT_TRUE(set->MoveGrip(6, 4, 0, set->GetGripCount() - 1));
    ExpectArraysMatchOutlines(*set, device);
    ASSERT_TRUE(set->MoveGrip(-1, -1, 0, 0));
    ExpectArraysMatchOutlines(*set, device);

    set->RemoveOutline(set->GetOutline(1));
    ExpectArraysMatchOutlines(*set, device);

    // A view much finer or coarser than the curved outline's ring.
    SetFlattenStep(device, 0.05);
    EXPECT_TRUE(set->NeedsRebuild(&device));
    ExpectArraysMatchOutlines(*set, device);
    const std::size_t finePoints = set->GetPoints().size();
    SetFlattenStep(device, 3.0);
    ExpectArraysMatchOutlines(*set, device);
    EXPECT_LT(set->GetPoints().size(), finePoints);

    CPolyPolygon copy;
    copy.CopyFrom(set.get());
    ExpectArraysMatchOutlines(copy, device);
    FilePtr file = OpenBytes(SaveBytes(*set));
    std::unique_ptr<CEntity> loaded = CreateEntityFromProject(file.get());
    ASSERT_NE(loaded, nullptr);
    ExpectArraysMatchOutlines(*static_cast<CPolyPolygon*>(loaded.get()), device);

    set->RemoveAllOutlines();
    EXPECT_TRUE(set->GetPoints().empty());
    EXPECT_TRUE(set->GetOutlineCounts().empty());
}

TEST(PolygonSetPointArrays, AnOutlineThatLostItsRingIsDroppedButNotTheOuterOne)
{
    auto set = MakeRegion(0);
    set->GetOutline(1)->RemoveAllVertices();
    set->GetOutline(0)->RemoveAllVertices();
    set->m_Modified = true;
    CRecordingDevice device;
    set->Draw(&device);
    EXPECT_EQ(set->GetOutlineCount(), 1);
    EXPECT_TRUE(set->GetOutlineCounts().empty());
    EXPECT_TRUE(device.calls.empty());
}

// ---- grips ----------------------------------------------------------------

TEST(PolygonSetGrips, OneNumberingRunsThroughTheOutlines)
{
    auto set = MakeRegion();
    const std::vector<CGripRecord> grips = GripsOf(*set);
    ASSERT_EQ(static_cast<int>(grips.size()), set->GetGripCount());
    const int outerGrips = set->GetOutline(0)->GetGripCount();
    ASSERT_EQ(outerGrips, 5);  // four corners and the closing arc's middle
    std::set<int> indexes;
    for (const CGripRecord& g : grips)
        indexes.insert(g.index);
    EXPECT_EQ(indexes.size(), grips.size());
    EXPECT_EQ(*indexes.begin(), 0);
    EXPECT_EQ(*indexes.rbegin(), set->GetGripCount() - 1);

    // The first grip after the outer outline's is the hole's first corner.
    const CGripRecord* holeStart = nullptr;
    for (const CGripRecord& g : grips)
        if (g.index == outerGrips)
            holeStart = &g;
    ASSERT_NE(holeStart, nullptr);
    EXPECT_EQ(holeStart->point.x, 2);
    EXPECT_EQ(holeStart->point.y, 2);
    ASSERT_TRUE(set->MoveGrip(2.5, 1.5, 0, outerGrips));
    EXPECT_EQ(set->GetOutline(1)->GetHead()->x, 2.5);
    EXPECT_EQ(set->GetOutline(0)->GetHead()->x, 0);

    // The outer outline's last grip bends its closing arc, nothing else.
    const double bulge = set->GetOutline(0)->GetTail()->bulge;
    ASSERT_TRUE(set->MoveGrip(-4, 5, 0, outerGrips - 1));
    EXPECT_NE(set->GetOutline(0)->GetTail()->bulge, bulge);
    EXPECT_EQ(set->GetOutline(1)->GetHead()->x, 2.5);

    for (int bad : {-1, set->GetGripCount()})
        EXPECT_FALSE(set->MoveGrip(0, 0, 0, bad)) << bad;
}

TEST(PolygonSetGrips, MovingEachGripMovesTheCornerItNames)
{
    auto make = [] {
        auto set = std::make_unique<CPolyPolygon>();
        set->AddOutline(Square(0, 0, 10));
        set->AddOutline(Square(2, 2, 2));
        set->AddOutline(MakeOutline({{6, 6}, {8, 6}, {7, 8}}));
        return set;
    };
    auto reference = make();
    const std::vector<CGripRecord> grips = GripsOf(*reference);
    ASSERT_EQ(static_cast<int>(grips.size()), reference->GetGripCount());
    ASSERT_EQ(grips.size(), 11u);
    for (std::size_t i = 0; i < grips.size(); ++i)
        ASSERT_EQ(grips[i].index, static_cast<int>(i));
    for (const CGripRecord& grip : grips) {
        auto set = make();
        ASSERT_TRUE(set->MoveGrip(grip.point.x + 0.25, grip.point.y - 0.5, 0, grip.index));
        for (const CGripRecord& after : GripsOf(*set)) {
            const bool moved = after.index == grip.index;
            const CGripRecord& before = grips[static_cast<std::size_t>(after.index)];
            EXPECT_EQ(after.point.x, before.point.x + (moved ? 0.25 : 0)) << grip.index << " " << after.index;
            EXPECT_EQ(after.point.y, before.point.y - (moved ? 0.5 : 0)) << grip.index << " " << after.index;
        }
    }
}

// ---- copies ---------------------------------------------------------------

TEST(PolygonSetCopy, CopiesOwnTheirOutlinesAndKeepTheSeedPoint)
{
    auto set = MakeRegion();
    set->m_SeedPoint = {1, 1, 0};
    set->m_Color = 4;
    std::unique_ptr<CEntity> clone = set->Clone();
    auto* copy = dynamic_cast<CPolyPolygon*>(clone.get());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->m_Id, set->m_Id);
    EXPECT_EQ(copy->m_Color, 4);
    EXPECT_EQ(copy->m_SeedPoint.x, 1);
    ASSERT_EQ(copy->GetOutlineCount(), 2);
    EXPECT_NE(copy->GetOutline(0), set->GetOutline(0));
    EXPECT_EQ(SaveBytes(*copy), SaveBytes(*set));

    CPolyPolygon other;
    other.AddOutline(Square(50, 50, 1));
    other.CopyFrom(set.get());
    EXPECT_EQ(other.GetOutlineCount(), 2);
    EXPECT_EQ(other.m_SeedPoint.x, 1);
    EXPECT_EQ(SaveBytes(other), SaveBytes(*set));
}

// ---- project record -------------------------------------------------------

TEST(PolygonSetRecord, RoundTripsByteForByteAndEveryTruncationFails)
{
    std::vector<std::unique_ptr<CPolyPolygon>> cases;
    cases.push_back(std::make_unique<CPolyPolygon>());
    cases.push_back(MakeRegion());
    cases.back()->m_Color = 11;
    for (auto& set : cases) {
        const std::string bytes = SaveBytes(*set);
        FilePtr file = OpenBytes(bytes);
        std::unique_ptr<CEntity> loaded = CreateEntityFromProject(file.get());
        ASSERT_NE(dynamic_cast<CPolyPolygon*>(loaded.get()), nullptr);
        EXPECT_EQ(loaded->GetPointCount(), set->GetPointCount());
        EXPECT_EQ(SaveBytes(*loaded), bytes);
        for (std::size_t n = 0; n < bytes.size(); ++n) {
            file = OpenBytes(bytes.substr(0, n));
            EXPECT_EQ(CreateEntityFromProject(file.get()), nullptr) << "prefix " << n;
        }
    }
}

TEST(PolygonSetRecord, ImpossibleCountsAndForeignRecordsAreRefused)
{
    const std::string bytes = SaveBytes(*MakeRegion());
    std::string huge = bytes;
    const std::uint32_t many = 0xFFFFFFFFu;
    std::memcpy(huge.data() + 34, &many, 4);
    FilePtr file = OpenBytes(huge);
    EXPECT_EQ(CreateEntityFromProject(file.get()), nullptr);

    std::string foreign = bytes;
    foreign[34 + 4] = static_cast<char>(ENTITY_CIRCLE);
    file = OpenBytes(foreign);
    EXPECT_EQ(CreateEntityFromProject(file.get()), nullptr);
}

}  // namespace
