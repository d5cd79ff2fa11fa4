#pragma once
// CPolyLine: an open or closed chain of vertices whose segments are straight
// or circular arcs; the main carrier of traced vector data.
//
// The vertex ring is circular and doubly linked (CVertex next/prev): the head
// is the first vertex, head->prev the tail, a single vertex links to itself.
// Vertex v begins the segment v -> v->next; its bulge makes that segment an
// arc (|bulge| >= POINT_TOLERANCE, positive turns counter-clockwise) and its
// start and end widths are the segment's widths at both ends. An open
// polyline has no segment from the tail back to the head.
//
// The flattened ring is a cache of the same shape in straight pieces, built
// by Flatten; each flat point's source links the vertex it stems from. It is
// dropped whenever a vertex it might point at goes away. While no vertex
// carries an arc (the all-straight flag), the vertex ring itself stands in
// for it and no flattened ring is built.
//
// The polyline owns both rings. Editing (joins, closing, grips, widths) and
// the output records live elsewhere; they work through the accessors below.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "model/entity.h"
#include "model/geometry.h"
#include "model/point.h"

class CTraceOption;
class CVectorUndoItem;
struct CConnectGroup;

// One polyline end filed by line connection. The polyline points at the
// record of each of its ends (CEntity::m_StartLink, m_EndLink); a join hands
// the records of the outer ends to the new polyline and re-points them.
struct CConnectEnd {
    CEntity* entity = nullptr;    // the polyline; null once detached
    std::int32_t end = 0;         // 0 head, 1 tail
    CConnectEnd* next = nullptr;  // next link of its group
    CConnectGroup* group = nullptr;
};

// Flatten steps the callers use: a negative step -n asks for n pieces per arc.
constexpr double FLATTEN_STEP_HIT_TEST = -25.0;   // hit tests, snap segments, recognition, DXF
constexpr double FLATTEN_STEP_NO_DEVICE = -20.0;  // GetFlatList without a device

// Size of one vertex in the project record: x, y, start width, end width, bulge.
constexpr std::size_t POLYLINE_VERTEX_RECORD_SIZE = 5 * 8;

class CPolyLine : public CEntity {
public:
    CPolyLine();
    explicit CPolyLine(DeferredId);
    ~CPolyLine() override;

    // ---- the vertex ring --------------------------------------------------

    // Appends v as the new tail and takes ownership of it. A v at exactly the
    // tail's x and y is not added: it is deleted when deleteDuplicate is set,
    // else it stays the caller's. Null: nothing. Returns whether v was added.
    bool AddVertex(CVertex* v, bool deleteDuplicate);
    // A new vertex with z, widths, flags and bulge 0 (the start width given);
    // a repeat of the tail is dropped. False when nothing was added.
    bool AddPoint(double x, double y);
    bool AddPointWidth(double x, double y, double startWidth);
    // Unlinks and deletes v (which must belong to this polyline). The
    // flattened ring is dropped because its points may link v.
    void RemoveVertex(CVertex* v);
    // Deletes every vertex and the flattened ring; sets the all-straight flag.
    void RemoveAllVertices();

    [[nodiscard]] CVertex* GetHead() const { return m_Head; }
    [[nodiscard]] CVertex* GetTail() const { return m_Head ? m_Head->prev : nullptr; }
    [[nodiscard]] bool IsAllStraight() const { return m_AllStraight; }

    // ---- the flattened ring -----------------------------------------------

    // Appends a flat point (both widths = width) to the flattened ring; the
    // caller sets its source link. Null when memory is short.
    CVertex* AddFlatPoint(double x, double y, double width);
    void ClearFlatList();
    // Rebuilds the flattened ring with the step (a chord length, or -n for n
    // pieces per arc) and stores the step.
    void Flatten(double step);
    // Appends the flat points of the arc that ends at v (from v->prev with
    // v->prev's bulge), with the stored step: inner points strictly inside
    // the sweep, at most MAX_ARC_PIECES of them, then the end point.
    void FlattenArc(CVertex* v);
    // The ring to draw or test: null below two vertices, the vertex ring while
    // all straight, else the flattened ring, rebuilt for the device's step
    // (FLATTEN_STEP_NO_DEVICE without one) unless the cached ring may be
    // reused: not forced, not modified, and built with a chord step s where
    // 0.2 t <= s <= t.
    CVertex* GetFlatList(const CFrDevice* device, bool force);
    [[nodiscard]] CVertex* GetFlatHead() const { return m_FlatHead; }
    [[nodiscard]] double GetFlatStep() const { return m_FlatStep; }

    // ---- queries with an option record ------------------------------------

    // GetEndSegment with the connect distance of the given options, for a run
    // that works on a snapshot of them.
    void GetEndSegment(frDoublePoint* end, frDoublePoint* direction, const CTraceOption& options) const;

    // ---- editing (polyline_edit.cpp) --------------------------------------

    // A new polyline joining this and other at their active ends, or this
    // closed on itself when other is this. Both inputs give up their vertices
    // and end links and carry the joined flag. Null when nothing was joined:
    // other null or not a polyline (both then marked joined), either one
    // degenerate, a self-join of fewer than three vertices, jointFits refused
    // every way of meeting (both left as they were), or no memory.
    // The ends meet at the crossing of their end lines, or half way, only
    // where jointFits (when given) accepts the joint and the two segments
    // that would reach it; else they are bridged by a segment, where
    // jointFits accepts that segment.
    enum class JoinKind { kCorner, kMiddle, kBridge, kRefused };
    // A way of meeting: A's end (aEnd) and B's end (bEnd) go to the joint
    // (at) of a corner or of a meeting half way, reached from A's vertex
    // before it (from) and left for B's vertex after it (to); a bridge keeps
    // both ends (at is A's end) and joins them by a segment. A corner lies
    // on both end lines, so its segments are the old ones carried on to it.
    // A polyline closed on itself is A and B at once (aEnd its tail, bEnd
    // its head); its bridge is the closing segment.
    struct CJoint {
        JoinKind kind;
        frDoublePoint at;
        frDoublePoint aEnd;
        frDoublePoint bEnd;
        frDoublePoint from;
        double fromWidth;
        double fromBulge;
        frDoublePoint to;
        double toWidth;
        double toBulge;
        double moved;  // how far the farther of the two ends moves
        bool closing;  // a polyline closed on itself
    };
    using JointCheck = bool (*)(const CJoint& joint, const void* context);
    // How JoinPolyline would meet the ends, and where (the joint, or A's end
    // for a bridge); nothing changes. kRefused also when nothing would be
    // joined for another reason.
    [[nodiscard]] CJoint PlanJoin(const CPolyLine& other, bool forceMidpoint, const CTraceOption& options,
                                  JointCheck jointFits = nullptr, const void* context = nullptr) const;
    [[nodiscard]] std::unique_ptr<CPolyLine> JoinPolyline(CEntity* other, bool forceMidpoint,
                                                          const CTraceOption& options, JointCheck jointFits = nullptr,
                                                          const void* context = nullptr);
    // The join PlanJoin planned for this and other as they are now; null
    // for a refused plan or for want of memory.
    [[nodiscard]] std::unique_ptr<CPolyLine> JoinAsPlanned(CPolyLine& other, const CJoint& plan);
    // Closes an open polyline of three or more vertices whose ends lie within
    // the connect distance; ends at exactly one place lose the tail.
    void AutoClose(const CTraceOption& options);
    // 0 removes the head, 1 the tail; anything else does nothing.
    void RemoveEnd(int end);
    // Moves the other's whole ring behind this tail; the other is left empty
    // and this one open.
    void SpliceRing(CPolyLine& other);
    // Reverses the ring; each segment keeps its widths and its arc (the
    // bulge changes sign), and the active end flips.
    void Reverse();
    // Splits a polyline of three or more vertices in a layer into one-segment
    // polylines and arcs, put at the front of the layer (and recorded as
    // added in the undo item, when given); the polyline is left empty. False,
    // with nothing changed, when it is in no layer, too short or memory ran out.
    [[nodiscard]] bool Explode(CVectorUndoItem* undo);
    void RoundWidth(double resolution, const CTraceOption& options);
    // Adds the grips numbered from firstIndex; returns how many there are.
    int AddGripsFrom(CSelectNode* tag, CGripRecord** grips, int firstIndex);
    // Makes the grip of the current vertex (grips numbered from firstIndex)
    // the drawing's current grip.
    void SelectCurrentVertexGrip(CGraph* drawing, const CSelectNode* owner, int firstIndex) const;
    // Splits the segment that v (a vertex of this ring) begins in the middle;
    // false, with nothing changed, for the tail of an open polyline, an arc
    // that cannot be computed or no memory.
    bool InsertMidVertex(CVertex* v);
    // Appends the snap record of the segment that v begins.
    void AddSnapSegment(const CVertex* v, std::vector<CSnapSegment>& segments) const;

    // ---- CEntity ----------------------------------------------------------

    // Editing with the current options.
    [[nodiscard]] std::unique_ptr<CEntity> JoinPolyline(CEntity* other, bool forceMidpoint) override;
    void AutoClose() override;
    void RoundWidth(double resolution) override;
    // Grips: each vertex, then the midpoint of the arc it begins when that is
    // a real segment, numbered from 0 along the ring.
    [[nodiscard]] int GetGripCount() const override;
    void AddGrips(CSelectNode* tag, CGripRecord** grips) override;
    // A midpoint grip bends its arc through the point; a vertex grip moves
    // the vertex, each arc beside it keeping its old midpoint. False for an
    // index past the last grip.
    bool MoveGrip(double x, double y, double z, int index) override;
    // One record per segment crossing the box (one for the head's segment
    // when the whole polyline lies inside it).
    void CollectSegments(const frDoublePoint& boxMin, const frDoublePoint& boxMax,
                         std::vector<CSnapSegment>& segments) override;

    [[nodiscard]] frDoublePoint GetStartPoint() const override;
    [[nodiscard]] frDoublePoint GetEndPoint() const override;
    // Stores the result as the cached length.
    double GetLength() override;
    [[nodiscard]] int GetPointCount() const override;
    // GetPointCount() >= n, walking no more than n vertices.
    [[nodiscard]] bool HasPointsAtLeast(int n) const;
    [[nodiscard]] bool IsSingleSegment() const override;
    // The active end and the point that gives its direction; a very short
    // last segment is looked past (see polyline.cpp).
    void GetEndSegment(frDoublePoint* end, frDoublePoint* direction) override;
    void SetWidth(double width) override;
    void Draw(CFrDevice* device) override;
    [[nodiscard]] double GetWidth() const override;
    [[nodiscard]] bool IsDegenerate() const override;
    [[nodiscard]] bool IntersectRect(const frDoublePoint& boxMin, const frDoublePoint& boxMax) override;
    // The exact box of every vertex and arc (independent of the cache).
    bool GetExtents(double* merge, double* box) override;
    // Copies another polyline (anything else is ignored). Consecutive repeats
    // are dropped; a dropped vertex hands its bulge and widths to the one kept.
    void CopyFrom(const CEntity* other) override;
    [[nodiscard]] std::unique_ptr<CEntity> Clone() const override;
    [[nodiscard]] bool Load(std::FILE* file) override;
    [[nodiscard]] bool Save(std::FILE* file) override;

    // Output records (polyline_output.cpp): points are converted from raster
    // pixels to the drawing unit, except in CGM. Fewer than two vertices write
    // nothing. The text writers stop at the first failed write.
    using CEntity::WriteDXF2000;
    using CEntity::WriteDXFR10;
    bool WriteDXF2000(std::FILE* file, bool widths, const CDxfNames& names) override;
    bool WriteDXFR10(std::FILE* file, bool widths, const CDxfNames& names) override;
    // pageHeight is in raster pixels; points are written as (x, pageHeight - y).
    bool WriteSVG(std::FILE* file, double pageHeight, bool widths) override;
    bool WriteCGM(std::FILE* file) override;
    bool WriteHPGL(std::FILE* file) override;
    bool WriteEPS(std::FILE* file, bool widths) override;
    bool WritePDF(CPDFStream* stream, bool widths) override;
    // Metafile drawing (pixels, y turned over about pageHeight); *_metafile.cpp.
    void DrawToDC(CDC* dc, double pageHeight, bool widths) override;
    // DXF reading (polyline_dxf_read.cpp). Both fill the vertex ring, colour,
    // closed flag (bit 1 of the header's group 70) and widths, give the layer
    // name, flatten arcs and return whether at least two vertices and a layer
    // were read; on false the ring is empty.
    // An LWPOLYLINE record.
    bool ReadDXF(std::FILE* file, std::string* layerName) override;
    // A POLYLINE record with its VERTEX records, through the SEQEND pair
    // (consumed). Polygon meshes and polyface meshes are refused; spline
    // frame control points are passed over.
    bool ReadDXFR10(std::FILE* file, std::string* layerName);

    // ---- information and property rows (polyline_properties.cpp) ---------

    void GetInfo(std::vector<std::string>* lines) override;
    void FillProperties(CPropertyList* list, const CSelectNode* owner = nullptr) override;
    int ApplyProperty(CGraph* drawing, int row, int value, const std::string& text, CPropertyRow* record,
                      const CSelectNode* owner = nullptr) override;
    // The vertex lines and rows, shared with the polygon set's outlines:
    // `polyline` is false for an outline, which has no close row and shows
    // no vertex widths in its lines and its width row read-only. Numbers are
    // in the unit of `drawing` (pixels without one). Rows are numbered as
    // ApplyVertexRow takes them: 1 heading, 2 close, 3 length, 4 heading,
    // 5 current point, 6 add point, 7 delete point (only with three or more
    // vertices; the rows after it then move up one), 8..11 x, y, width and
    // bulge of the current vertex, 12..16 its arc (only for an arc).
    // gripOffset is the index of this outline's first grip in its entity.
    void AddVertexInfo(const CGraph* drawing, std::vector<std::string>* lines, bool polyline);
    void AddVertexRows(CPropertyList* list, CGraph* drawing, bool polyline, const CSelectNode* owner, int gripOffset);
    int ApplyVertexRow(CGraph* drawing, int row, int value, const std::string& text, bool polyline,
                       const CSelectNode* owner, int gripOffset);
    // The flattened ring no longer suits the device's flattening length t
    // (FLATTEN_STEP_NO_DEVICE without a device): modified, missing, or built
    // with a step above t, below 0.2 t or below the tolerance (a piece-count
    // step). Never for an all-straight polyline, which is its own ring.
    [[nodiscard]] bool NeedsReflatten(const CFrDevice* device) const;

    // Appends a vertex read or copied from elsewhere: a repeat of the tail is
    // deleted after moving the segment it begins (bulge, widths) onto the
    // tail, so no arc is lost with it.
    void AppendMerging(CVertex* v);

private:
    // The vertices of another polyline; false when memory ran out.
    bool CopyVerticesFrom(const CPolyLine& other);
    // Drops the flattened ring after an edit of the vertex ring.
    void MarkGeometryChanged();

    double m_Reserved = 0.0;        // carried through the project record only
    CVertex* m_Head = nullptr;      // vertex ring
    CVertex* m_FlatHead = nullptr;  // flattened ring (cache)
    double m_FlatStep = 0.0;        // step the flattened ring was built with
    bool m_AllStraight = true;      // no vertex has an arc bulge
};

// Length of the arc of a bulge segment (the chord when it is straight).
[[nodiscard]] double BulgeSegmentLength(const CVertex& s, const CVertex& e, double bulge);

// The circle or arc that a two-vertex polyline with an arc bulge describes
// (a closed one needs two arcs of one circle turning the same way and equal
// widths), with its width and colour; null for anything else.
[[nodiscard]] std::unique_ptr<CEntity> PolylineToCircleOrArc(const CPolyLine& polyline);

// One CGM POLYLINE element per run of at most CGM_MAX_POLYLINE_POINTS points
// (coordinates rounded to 16 bits); a longer run continues in a further
// element from the last point written. Write failures are not reported.
constexpr int CGM_MAX_POLYLINE_POINTS = 8191;
void WriteCgmPolyline(const frDoublePoint* points, int count, std::FILE* file);
