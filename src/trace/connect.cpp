// The connect-lines run: files the layer's polyline ends in the grid, matches
// them into groups, joins each group and lets every polyline close itself.
//
// Ownership during a run: the polylines stay on the layer while their ends
// are filed and matched, so a stop or a shortage of memory up to then leaves
// the layer untouched. Then they leave it, and each is named by the live
// links of its unsettled ends. A join consumes its two inputs (their joined
// ends' links die, their outer links pass to the result); the inputs are
// deleted when their group's pass is released, so pairs may still test their
// joined flag until then. A polyline whose last link dies goes back to the
// layer, or is deleted when it was consumed or was a spur. Whatever ends the
// run early, every live link is released, so the layer keeps what was made.
#include "trace/connect.h"

#include "trace/ink_guard.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "model/constants.h"
#include "model/layer.h"
#include "model/line.h"
#include "model/polyline.h"
#include "model/text_table.h"
#include "trace/common_thread.h"
#include "trace/trace_option.h"

namespace {

// A two-vertex stub at a three-way junction is a spur when no longer than
// this many connect distances (or line widths).
constexpr double kSpurReach = 4.0;
// A spur that is not a bridge is removed only when clearly thinner and
// shorter than the lines it meets.
constexpr double kSpurWidthRatio = 1.2;
constexpr double kSpurLengthRatio = 2.5;
// Two links meet at more than this angle when their lines continue each other.
constexpr double kJunctionAngle = TWO_THIRD_PI;
// Pair cost when the inner points coincide.
constexpr double kNoLineCost = static_cast<double>(1e30f);
constexpr double kMinInnerDistance2 = 1e-30;
// Progress: matching 0-50, joining 50-90, closing 90-100.
constexpr double kMatchShare = 50.0;
constexpr double kJoinStart = 50.0;
constexpr double kJoinShare = 40.0;
constexpr double kCloseStart = 90.0;
constexpr double kCloseShare = 10.0;

CConnectEnd*& LinkField(CEntity* entity, int end) { return end == 0 ? entity->m_StartLink : entity->m_EndLink; }

// Every entity a link names is a polyline the run holds.
CPolyLine* PolylineOf(const CConnectEnd* link) { return static_cast<CPolyLine*>(link->entity); }

bool IsLive(const CConnectEnd* link) { return link->entity != nullptr && LinkField(link->entity, link->end) == link; }

CConnectEnd* OtherEnd(const CConnectEnd* link) { return LinkField(link->entity, 1 - link->end); }

// Counts no further than it must: joined polylines can be long.
bool HasAtMostVertices(const CPolyLine& polyline, int limit)
{
    const CVertex* head = polyline.GetHead();
    if (head == nullptr)
        return true;
    int count = 0;
    const CVertex* v = head;
    do {
        if (++count > limit)
            return false;
        v = v->next;
    } while (v != head);
    return true;
}

bool HasTwoVertices(const CPolyLine& polyline)
{
    return !HasAtMostVertices(polyline, 1) && HasAtMostVertices(polyline, 2);
}

double EndVertexWidth(const CPolyLine& polyline, int end)
{
    const CVertex* v = end == 0 ? polyline.GetHead() : polyline.GetTail();
    return v ? v->startWidth : 0.0;
}

double Cross(double ax, double ay, double bx, double by) { return ax * by - ay * bx; }

struct PairRecord {
    CConnectEnd* first;
    CConnectEnd* second;
    CPolyLine* p1;
    CPolyLine* p2;
    double cost;
    std::size_t made;  // place in the order the pairs were made
};

// How well two ends line up: the distances of both end points from the line
// through both inner points.
double PairCost(const frDoublePoint& e1, const frDoublePoint& i1, const frDoublePoint& e2, const frDoublePoint& i2)
{
    const double dx = i1.x - i2.x, dy = i1.y - i2.y;
    const double d2 = dx * dx + dy * dy;
    if (!(d2 >= kMinInnerDistance2))
        return kNoLineCost;
    const double cost = (std::fabs(Cross(i1.x - e1.x, i1.y - e1.y, i2.x - e1.x, i2.y - e1.y)) +
                         std::fabs(Cross(i1.x - e2.x, i1.y - e2.y, i2.x - e2.x, i2.y - e2.y))) /
                        std::sqrt(d2);
    return std::isnan(cost) ? kNoLineCost : cost;
}

// Pairs by cost, ties in the order made. Ordering by (cost, place made)
// gives what a stable sort gives without the buffer that std::stable_sort
// allocates on every call; costs are never NaN.
void SortPairsByCost(std::vector<PairRecord>& pairs)
{
    std::sort(pairs.begin(), pairs.end(), [](const PairRecord& x, const PairRecord& y) {
        return x.cost < y.cost || (x.cost == y.cost && x.made < y.made);
    });
}

enum class Outcome { Done, NoMemory };

class CConnectRun {
public:
    CConnectRun(CLayer& layer, CCommonThread* sink, const CTraceOption& options, const PolylineJoiner& join)
        : m_Layer(layer), m_Sink(sink), m_Options(options), m_Join(join)
    {}
    ~CConnectRun() { Abandon(); }

    [[nodiscard]] bool Run();

private:
    enum class Stage { Finished, Stopped, NoMemory };

    Stage FileAndMatch();
    Stage JoinGroups();
    void CloseAll();
    bool Fail(Stage stage);

    Outcome JoinGroup(CConnectGroup* group);

    // What a junction at one end of a bridging spur does with its two other
    // links: both go on across the spur, one does, or none (the spur is then
    // a line of its own).
    enum class Junction { kBothAcross, kOneAcross, kNoneAcross };
    struct CBridgeJunction {
        CConnectEnd* others[2] = {};
        double toSpur[2] = {};  // the angle each makes with the spur
        Junction kind = Junction::kNoneAcross;
    };
    [[nodiscard]] CBridgeJunction ReadJunction(CConnectEnd* spur, const std::vector<CConnectEnd*>& links) const;
    Outcome SettleBridge(CConnectEnd* spur, const std::vector<CConnectEnd*>& here, CConnectEnd* spurThere,
                         const std::vector<CConnectEnd*>& there);
    Outcome JoinBothAcross(const CBridgeJunction& a, const CBridgeJunction& b);
    Outcome JoinOneAcross(const CBridgeJunction& a, const CBridgeJunction& b);
    // 1: the spur was removed, 0: it stays, -1: out of memory.
    int RemoveSpur(CConnectEnd* spur, const std::vector<CConnectEnd*>& links);
    // Pairs the live links of the group (in group order) and lets go of what
    // stays unpaired; the links still held afterwards are left in `links`.
    Outcome PairPass(CConnectGroup* group, std::vector<CConnectEnd*>& links, bool last);

    void CollectLive(const CConnectGroup* group, std::vector<CConnectEnd*>& out) const;
    [[nodiscard]] CConnectEnd* FindSpur(const std::vector<CConnectEnd*>& links) const;
    [[nodiscard]] frDoublePoint InwardDirection(const CConnectEnd* link) const;
    // The angle between two links' inward directions.
    [[nodiscard]] double LinkAngle(const CConnectEnd* x, const CConnectEnd* y) const
    {
        return VectorAngle(InwardDirection(x), InwardDirection(y));
    }
    Outcome JoinEnds(CConnectEnd* a, CConnectEnd* b, bool forceMidpoint);

    void ToLayer(CPolyLine* polyline) { (void)m_Layer.AddEntity(polyline); }
    void ReleaseEnd(CConnectEnd* link);
    void ReturnWhole(CPolyLine* polyline);
    void DeleteHeld(CPolyLine* polyline);
    void DeleteShells();
    void ReleaseGroup(const CConnectGroup* group);
    void Abandon();

    bool SendShare(std::size_t done, std::size_t total, std::size_t& lastSent, double start, double share);

    CLayer& m_Layer;
    CCommonThread* m_Sink;
    const CTraceOption& m_Options;
    const PolylineJoiner& m_Join;
    CConnectGrid m_Grid;
    std::vector<CPolyLine*> m_Filed;   // in layer order
    std::vector<CPolyLine*> m_Shells;  // consumed by joins, deleted at release
    // Scratch of the group being joined, kept to spare an allocation per group.
    std::vector<CConnectEnd*> m_Here, m_There;
    struct Candidate {
        CPolyLine* polyline;
        frDoublePoint e, inner;
        bool eligible;
        std::size_t slot;  // index of the polyline among the distinct ones
    };
    std::vector<Candidate> m_Candidates;
    std::vector<CPolyLine*> m_Distinct;
    std::vector<double> m_Cheapest;
    std::vector<PairRecord> m_Pairs;
    bool m_OffLayer = false;  // the filed polylines have left the layer
    std::string m_Text;
};

// ---- the run ----------------------------------------------------------------

bool CConnectRun::Run()
{
    m_Text = GetLanString("ProcessConnectLine", "Connect line");
    if (m_Sink)
        m_Sink->SendProgressText(m_Text.c_str());

    Stage stage = FileAndMatch();
    if (stage != Stage::Finished)
        return Fail(stage);
    m_Grid.ReleaseCells();
    for (CPolyLine* polyline : m_Filed)
        m_Layer.RemoveEntity(polyline);
    m_OffLayer = true;

    stage = JoinGroups();
    if (stage != Stage::Finished)
        return Fail(stage);
    m_Grid.Clear();

    CloseAll();
    if (m_Sink)
        m_Sink->SendProgressEnd(m_Text.c_str());
    return true;
}

bool CConnectRun::Fail(Stage stage)
{
    Abandon();
    if (m_Sink)
        m_Sink->PostRunEnd(stage == Stage::Stopped ? RUN_STOPPED : RUN_NO_MEMORY);
    return false;
}

bool CConnectRun::SendShare(std::size_t done, std::size_t total, std::size_t& lastSent, double start, double share)
{
    if (m_Sink == nullptr)
        return false;
    if ((done - lastSent) * 10 > total) {
        lastSent = done;
        m_Sink->SendProgressPos(
            static_cast<DWORD>(start + static_cast<double>(done) * share / static_cast<double>(total)));
    }
    return m_Sink->IsStopRequested();
}

CConnectRun::Stage CConnectRun::FileAndMatch()
{
    try {
        for (CEntity* e = m_Layer.GetFirstEntity(); e; e = e->m_Next) {
            if (e->m_Type == ENTITY_POLYLINE) {
                auto* polyline = dynamic_cast<CPolyLine*>(e);
                if (polyline)
                    m_Filed.push_back(polyline);
            }
        }
    } catch (const std::bad_alloc&) {
        return Stage::NoMemory;
    }
    if (m_Sink && m_Sink->IsStopRequested())
        return Stage::Stopped;
    if (!m_Grid.FilePolylines(m_Filed, m_Options) || !m_Grid.Index())
        return Stage::NoMemory;

    std::size_t lastSent = 0;
    switch (m_Grid.Match(
        [&](std::size_t done, std::size_t rows) { return !SendShare(done, rows, lastSent, 0.0, kMatchShare); })) {
    case CConnectGrid::MatchResult::kDone: return Stage::Finished;
    case CConnectGrid::MatchResult::kStopped: return Stage::Stopped;
    case CConnectGrid::MatchResult::kNoMemory: break;
    }
    return Stage::NoMemory;
}

CConnectRun::Stage CConnectRun::JoinGroups()
{
    const std::size_t total = m_Grid.GetGroupCount();
    std::size_t done = 0, lastSent = 0;
    for (CConnectGroup* group = m_Grid.GetGroups(); group; group = group->next) {
        Outcome outcome;
        try {
            outcome = JoinGroup(group);
        } catch (const std::bad_alloc&) {
            outcome = Outcome::NoMemory;
        }
        if (outcome == Outcome::NoMemory)
            return Stage::NoMemory;
        if (SendShare(++done, total, lastSent, kJoinStart, kJoinShare))
            return Stage::Stopped;
    }
    return Stage::Finished;
}

void CConnectRun::CloseAll()
{
    const std::size_t total = static_cast<std::size_t>(m_Layer.CountEntities());
    std::size_t done = 0, lastSent = 0;
    for (CEntity* e = m_Layer.GetFirstEntity(); e; e = e->m_Next) {
        if (e->m_Type == ENTITY_POLYLINE)
            if (auto* polyline = dynamic_cast<CPolyLine*>(e))
                polyline->AutoClose(m_Options);
        (void)SendShare(++done, total, lastSent, kCloseStart, kCloseShare);
    }
}

// ---- holding and letting go -------------------------------------------------

void CConnectRun::ReleaseEnd(CConnectEnd* link)
{
    CPolyLine* polyline = PolylineOf(link);
    LinkField(polyline, link->end) = nullptr;
    link->entity = nullptr;
    if (LinkField(polyline, 1 - link->end) == nullptr)
        ToLayer(polyline);
}

void CConnectRun::ReturnWhole(CPolyLine* polyline)
{
    for (int end = 0; end < 2; ++end) {
        if (CConnectEnd* link = LinkField(polyline, end))
            link->entity = nullptr;
        LinkField(polyline, end) = nullptr;
    }
    ToLayer(polyline);
}

void CConnectRun::DeleteHeld(CPolyLine* polyline)
{
    for (int end = 0; end < 2; ++end) {
        if (CConnectEnd* link = LinkField(polyline, end))
            link->entity = nullptr;
        LinkField(polyline, end) = nullptr;
    }
    delete polyline;
}

void CConnectRun::DeleteShells()
{
    for (CPolyLine* shell : m_Shells)
        delete shell;  // no link names a shell
    m_Shells.clear();
}

void CConnectRun::ReleaseGroup(const CConnectGroup* group)
{
    for (CConnectEnd* link = group->head; link; link = link->next)
        if (IsLive(link))
            ReleaseEnd(link);
}

void CConnectRun::Abandon()
{
    DeleteShells();
    if (m_OffLayer)
        for (CConnectGroup* group = m_Grid.GetGroups(); group; group = group->next)
            ReleaseGroup(group);
    m_Grid.Clear();
}

// ---- joining one group ------------------------------------------------------

void CConnectRun::CollectLive(const CConnectGroup* group, std::vector<CConnectEnd*>& out) const
{
    out.clear();
    for (CConnectEnd* link = group->head; link; link = link->next)
        if (IsLive(link))
            out.push_back(link);
}

frDoublePoint CConnectRun::InwardDirection(const CConnectEnd* link) const
{
    CPolyLine* polyline = PolylineOf(link);
    polyline->m_ActiveEnd = static_cast<std::uint32_t>(link->end);
    frDoublePoint e, inner;
    polyline->GetEndSegment(&e, &inner, m_Options);
    return {inner.x - e.x, inner.y - e.y};
}

Outcome CConnectRun::JoinEnds(CConnectEnd* a, CConnectEnd* b, bool forceMidpoint)
{
    CPolyLine* pa = PolylineOf(a);
    CPolyLine* pb = PolylineOf(b);
    // What the join would refuse is no shortage of memory: the ends stay.
    if (pa->IsDegenerate() || pb->IsDegenerate() || (pa == pb && HasAtMostVertices(*pa, 2)))
        return Outcome::Done;
    m_Shells.reserve(m_Shells.size() + 2);  // before the join, which cannot be undone
    pa->m_ActiveEnd = static_cast<std::uint32_t>(a->end);
    pb->m_ActiveEnd = static_cast<std::uint32_t>(b->end);
    bool refused = false;
    std::unique_ptr<CPolyLine> joined = m_Join(*pa, *pb, forceMidpoint, refused);
    if (!joined)
        return refused ? Outcome::Done : Outcome::NoMemory;
    a->entity = nullptr;  // the joined ends are used up
    b->entity = nullptr;
    m_Shells.push_back(pa);
    if (pb != pa)
        m_Shells.push_back(pb);
    CPolyLine* result = joined.release();
    if (result->m_StartLink == nullptr && result->m_EndLink == nullptr)
        ToLayer(result);
    return Outcome::Done;
}

CConnectEnd* CConnectRun::FindSpur(const std::vector<CConnectEnd*>& links) const
{
    if (links.size() != 3)
        return nullptr;
    double widest = 0;
    for (const CConnectEnd* link : links) {
        if (PolylineOf(link)->IsDegenerate())
            return nullptr;
        widest = std::max(widest, EndVertexWidth(*PolylineOf(link), link->end));
    }
    CConnectEnd* spur = nullptr;
    double shortest = 0;
    for (CConnectEnd* link : links) {
        CPolyLine* polyline = PolylineOf(link);
        if (!HasTwoVertices(*polyline))
            continue;
        const double length = polyline->GetLength();
        if (spur == nullptr || length < shortest) {
            spur = link;
            shortest = length;
        }
    }
    const double distance = static_cast<double>(static_cast<unsigned>(m_Options.ChartType.i_ConDis));
    if (spur == nullptr || shortest > kSpurReach * std::max(distance, widest))
        return nullptr;
    return spur;
}

Outcome CConnectRun::JoinGroup(CConnectGroup* group)
{
    std::vector<CConnectEnd*>& links = m_Here;
    CollectLive(group, links);
    if (links.empty())
        return Outcome::Done;  // settled with a bridge before
    if (links.size() == 1) {
        ReleaseEnd(links[0]);  // no partner
        return Outcome::Done;
    }
    if (CConnectEnd* spur = FindSpur(links)) {
        CConnectEnd* far = OtherEnd(spur);
        if (far && far->group != group) {
            std::vector<CConnectEnd*>& there = m_There;
            CollectLive(far->group, there);
            if (FindSpur(there) == far)
                return SettleBridge(spur, links, far, there);
        }
        const int removed = RemoveSpur(spur, links);
        if (removed < 0)
            return Outcome::NoMemory;
        if (removed > 0) {
            ReleaseGroup(group);
            return Outcome::Done;
        }
    }
    // Nothing above changed a link: the first pass starts from these, the
    // second from what the first leaves.
    if (PairPass(group, links, false) == Outcome::NoMemory)
        return Outcome::NoMemory;
    return PairPass(group, links, true);
}

int CConnectRun::RemoveSpur(CConnectEnd* spur, const std::vector<CConnectEnd*>& links)
{
    CConnectEnd* others[2];
    int n = 0;
    for (CConnectEnd* link : links)
        if (link != spur)
            others[n++] = link;
    CPolyLine* s = PolylineOf(spur);
    const double spurWidth = kSpurWidthRatio * s->GetHead()->startWidth;
    const double spurLength = kSpurLengthRatio * s->GetLength();
    for (CConnectEnd* link : others)
        if (!(spurWidth < EndVertexWidth(*PolylineOf(link), link->end)) ||
            !(spurLength < PolylineOf(link)->GetLength()))
            return 0;
    if (JoinEnds(others[0], others[1], true) == Outcome::NoMemory)
        return -1;
    CPolyLine* spurPolyline = PolylineOf(spur);
    LinkField(spurPolyline, spur->end) = nullptr;
    spur->entity = nullptr;
    if (LinkField(spurPolyline, 1 - spur->end) == nullptr)
        delete spurPolyline;
    DeleteShells();
    return 1;
}

CConnectRun::CBridgeJunction CConnectRun::ReadJunction(CConnectEnd* spur, const std::vector<CConnectEnd*>& links) const
{
    CBridgeJunction junction;
    int n = 0;
    for (CConnectEnd* link : links)
        if (link != spur)
            junction.others[n++] = link;
    CConnectEnd* const* others = junction.others;
    double* toSpur = junction.toSpur;
    toSpur[0] = LinkAngle(others[0], spur);
    toSpur[1] = LinkAngle(others[1], spur);
    if (toSpur[0] > kJunctionAngle && toSpur[1] > kJunctionAngle)
        junction.kind = Junction::kBothAcross;
    else if (toSpur[0] < kJunctionAngle && toSpur[1] < kJunctionAngle)
        junction.kind = Junction::kNoneAcross;
    else if (LinkAngle(others[0], others[1]) <= std::max(toSpur[0], toSpur[1]))
        junction.kind = Junction::kOneAcross;
    else
        junction.kind = Junction::kNoneAcross;
    return junction;
}

Outcome CConnectRun::SettleBridge(CConnectEnd* spur, const std::vector<CConnectEnd*>& here, CConnectEnd* spurThere,
                                  const std::vector<CConnectEnd*>& there)
{
    const CBridgeJunction a = ReadJunction(spur, here);
    const CBridgeJunction b = ReadJunction(spurThere, there);
    Outcome outcome = Outcome::Done;
    if (a.kind == Junction::kNoneAcross || b.kind == Junction::kNoneAcross) {
        // The spur is a line of its own; each junction joins its other two.
        ReturnWhole(PolylineOf(spur));
        outcome = JoinEnds(a.others[0], a.others[1], true);
        if (outcome == Outcome::Done)
            outcome = JoinEnds(b.others[0], b.others[1], true);
    } else {
        // The spur only links lines that go on across it.
        DeleteHeld(PolylineOf(spur));
        outcome = a.kind == Junction::kBothAcross && b.kind == Junction::kBothAcross ? JoinBothAcross(a, b)
                                                                                     : JoinOneAcross(a, b);
    }
    if (outcome == Outcome::NoMemory)
        return outcome;
    DeleteShells();
    ReleaseGroup(spur->group);
    ReleaseGroup(spurThere->group);
    return Outcome::Done;
}

Outcome CConnectRun::JoinBothAcross(const CBridgeJunction& a, const CBridgeJunction& b)
{
    // Side by side (a0 with b0, a1 with b1) unless a crossed pair lines up
    // better than both side-by-side ones.
    const CConnectEnd* const* x = a.others;
    const CConnectEnd* const* y = b.others;
    double best = LinkAngle(x[0], y[0]);
    bool crossed = false;
    for (const double across : {LinkAngle(x[0], y[1]), LinkAngle(x[1], y[0])}) {
        if (across > best) {
            best = across;
            crossed = true;
        }
    }
    const bool swap = crossed && !(LinkAngle(x[1], y[1]) > best);
    CConnectEnd* const pairs[2][2] = {{a.others[swap ? 1 : 0], b.others[0]}, {a.others[swap ? 0 : 1], b.others[1]}};
    Outcome outcome = Outcome::Done;
    for (const auto& pair : pairs)
        if (outcome == Outcome::Done && IsLive(pair[0]) && IsLive(pair[1]))
            outcome = JoinEnds(pair[0], pair[1], true);
    return outcome;
}

Outcome CConnectRun::JoinOneAcross(const CBridgeJunction& a, const CBridgeJunction& b)
{
    // One line goes on across the bridge: at a one-across junction the link
    // most opposite the spur, at a both-across junction the one most
    // opposite the other side's kept link (both are never both-across here).
    int keepA = a.toSpur[1] >= a.toSpur[0] ? 1 : 0;
    int keepB = b.toSpur[1] >= b.toSpur[0] ? 1 : 0;
    if (a.kind == Junction::kBothAcross)
        keepA = LinkAngle(a.others[0], b.others[keepB]) >= LinkAngle(a.others[1], b.others[keepB]) ? 0 : 1;
    if (b.kind == Junction::kBothAcross)
        keepB = LinkAngle(b.others[0], a.others[keepA]) >= LinkAngle(b.others[1], a.others[keepA]) ? 0 : 1;
    if (IsLive(a.others[1 - keepA]))
        ReleaseEnd(a.others[1 - keepA]);
    if (IsLive(b.others[1 - keepB]))
        ReleaseEnd(b.others[1 - keepB]);
    if (IsLive(a.others[keepA]) && IsLive(b.others[keepB]))
        return JoinEnds(a.others[keepA], b.others[keepB], true);
    return Outcome::Done;
}

Outcome CConnectRun::PairPass(CConnectGroup* group, std::vector<CConnectEnd*>& links, bool last)
{
    const std::size_t n = links.size();

    // What each link brings: its polyline, its end segment, whether it may pair.
    std::vector<Candidate>& candidates = m_Candidates;
    std::vector<CPolyLine*>& distinct = m_Distinct;
    candidates.resize(n);
    distinct.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        CConnectEnd* link = links[i];
        CPolyLine* p = PolylineOf(link);
        Candidate& c = candidates[i];
        c.polyline = distinct[i] = p;
        const CConnectEnd* other = OtherEnd(link);
        const bool bothHere = other != nullptr && other->group == group;
        c.eligible = !p->IsDegenerate() && !(bothHere && HasAtMostVertices(*p, 2));
        if (c.eligible) {
            p->m_ActiveEnd = static_cast<std::uint32_t>(link->end);
            p->GetEndSegment(&c.e, &c.inner, m_Options);
        }
    }
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    for (Candidate& c : candidates)
        c.slot =
            static_cast<std::size_t>(std::lower_bound(distinct.begin(), distinct.end(), c.polyline) - distinct.begin());

    // The pair chain sorted by cost, ties in the order made; a pair is
    // refused when a pair of no greater cost already uses either polyline.
    std::vector<double>& cheapest = m_Cheapest;
    cheapest.assign(distinct.size(), HUGE_VAL);
    std::vector<PairRecord>& pairs = m_Pairs;
    pairs.clear();
    for (std::size_t i = 0; i < n; ++i) {
        const Candidate& c1 = candidates[i];
        if (!c1.eligible)
            continue;
        for (std::size_t j = i + 1; j < n; ++j) {
            const Candidate& c2 = candidates[j];
            if (!c2.eligible)
                continue;
            const double cost = PairCost(c1.e, c1.inner, c2.e, c2.inner);
            if (cheapest[c1.slot] <= cost || cheapest[c2.slot] <= cost)
                continue;
            cheapest[c1.slot] = std::min(cheapest[c1.slot], cost);
            cheapest[c2.slot] = std::min(cheapest[c2.slot], cost);
            pairs.push_back({links[i], links[j], c1.polyline, c2.polyline, cost, pairs.size()});
        }
    }
    SortPairsByCost(pairs);

    for (const PairRecord& pair : pairs) {
        if (pair.p1->m_Joined || pair.p2->m_Joined)
            continue;
        if (JoinEnds(pair.first, pair.second, false) == Outcome::NoMemory)
            return Outcome::NoMemory;
    }

    // Release: consumed polylines go; one with both ends here goes back to
    // the layer; after the last pass every other end lets go too. A link
    // dies or moves to a join's result but never comes back, so the links
    // the pass began with hold every live one, in group order.
    DeleteShells();
    std::size_t kept = 0;
    for (CConnectEnd* link : links) {
        if (!IsLive(link))
            continue;
        const CConnectEnd* other = OtherEnd(link);
        if (other != nullptr && other->group == group)
            ReturnWhole(PolylineOf(link));
        else if (last)
            ReleaseEnd(link);
        else
            links[kept++] = link;
    }
    links.resize(kept);
    return Outcome::Done;
}

}  // namespace

bool ConnectLines(CLayer& layer, CCommonThread* sink, const CTraceOption& options, const PolylineJoiner& join)
{
    CConnectRun run(layer, sink, options, join);
    return run.Run();
}

bool JointKeepsToInk(const CPolyLine::CJoint& joint, const void* guard)
{
    const auto& ink = *static_cast<const CInkGuard*>(guard);
    // A bridge joins two lines, so it keeps within the reach of both.
    if (joint.kind == CPolyLine::JoinKind::kBridge)
        return ink.IsChordNearInk(joint.aEnd, joint.bEnd, joint.toWidth) &&
               ink.IsChordNearInk(joint.aEnd, joint.bEnd, joint.fromWidth);
    if (!ink.IsOnStroke(joint.at, std::min(joint.fromWidth, joint.toWidth)))
        return false;
    CVertex from(joint.from.x, joint.from.y, joint.fromWidth, joint.fromWidth, 0);
    CVertex at(joint.at.x, joint.at.y, joint.toWidth, joint.toWidth, 0);
    CVertex to(joint.to.x, joint.to.y, joint.toWidth, joint.toWidth, 0);
    from.bulge = joint.fromBulge;
    at.bulge = joint.toBulge;
    from.next = &at;
    at.next = &to;
    // A corner carries each line on along its own direction, so its segments
    // may stand off as far as any guarded move; of a straight one only the
    // stretch between its old end and the corner is new.
    if (joint.kind == CPolyLine::JoinKind::kCorner) {
        const bool fromHolds = IsArcBulge(joint.fromBulge) ? ink.IsSegmentNearInk(from)
                                                           : ink.IsChordNearInk(joint.aEnd, joint.at, joint.fromWidth);
        return fromHolds && (IsArcBulge(joint.toBulge) ? ink.IsSegmentNearInk(at)
                                                       : ink.IsChordNearInk(joint.at, joint.bEnd, joint.toWidth));
    }
    // Ends met half way are pulled sideways, so their segments keep to the
    // strokes, unless the ends of a ring closing on itself move no farther
    // than its stroke's half width.
    if (joint.closing && joint.moved <= std::max(kOnStrokeReach, 0.5 * std::min(joint.fromWidth, joint.toWidth)))
        return true;
    return ink.IsSegmentOnStroke(from) && ink.IsSegmentOnStroke(at);
}

bool ConnectLines(CLayer& layer, CCommonThread* sink, const CTraceOption& options, const CInkGuard* ink)
{
    const bool guarded = ink != nullptr && ink->IsActive();
    const PolylineJoiner join = [&options, ink, guarded](CPolyLine& a, CPolyLine& b, bool forceMidpoint,
                                                         bool& refused) -> std::unique_ptr<CPolyLine> {
        if (!guarded)
            return a.JoinPolyline(&b, forceMidpoint, options);
        const CPolyLine::CJoint plan = a.PlanJoin(b, forceMidpoint, options, JointKeepsToInk, ink);
        refused = plan.kind == CPolyLine::JoinKind::kRefused;
        return refused ? nullptr : a.JoinAsPlanned(b, plan);
    };
    return ConnectLines(layer, sink, options, join);
}
