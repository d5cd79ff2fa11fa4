#pragma once
// CPolyPolygon: a filled region of one outer outline and any number of hole
// outlines, filled with the even-odd rule everywhere.
//
// The set owns its outlines, each a closed CPolyLine of at least two vertices
// (AddOutline refuses shorter ones and closes the rest); the first is the
// outer outline and is never removed on its own. Outlines belong to no layer
// chain: their m_Next/m_Prev stay null.
//
// Beside the outlines the set keeps the form in which the device fills a
// poly-polygon: the flattened points of all outlines, outline after outline,
// and the number of points of each. These point arrays are a cache. They are
// rebuilt on the next Draw after m_Modified was set (construction, every edit
// made through this class) or when the view's flattening step no longer suits
// a curved outline. Code that edits an outline directly must set m_Modified.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "model/entity.h"
#include "model/point.h"
#include "model/polyline.h"

class CPolyPolygon : public CEntity {
public:
    CPolyPolygon();
    ~CPolyPolygon() override;

    // ---- outlines ---------------------------------------------------------

    // Appends the outline, marked closed, when it has at least two vertices;
    // otherwise it is dropped. Returns whether it was kept.
    bool AddOutline(std::unique_ptr<CPolyLine> outline);
    // Deletes an outline of this set other than the first (which the set
    // always keeps). Anything else: nothing.
    void RemoveOutline(CPolyLine* outline);
    // Deletes every outline and empties the point arrays.
    void RemoveAllOutlines();

    [[nodiscard]] int GetOutlineCount() const { return static_cast<int>(m_Outlines.size()); }
    // Outline i (0 = outer), null outside the range.
    [[nodiscard]] CPolyLine* GetOutline(int i) const;

    // ---- the point arrays -------------------------------------------------

    // The point arrays are stale: modified, or a curved outline's flattened
    // ring does not suit the view's flattening step.
    [[nodiscard]] bool NeedsRebuild(const CFrDevice* view) const;
    // Refills the arrays from every outline's flattened ring for the view.
    // An outline that yields no ring is dropped (the outer one is kept, with
    // no points). Clears m_Modified.
    void RebuildPointArrays(const CFrDevice* view);
    // Appends one outline's points: the count, then every point of the ring
    // that begins at `head` (nothing for null).
    void AppendOutlinePoints(const CVertex* head);
    // Empties both arrays (used before refilling them by hand).
    void ClearPointArrays();
    // Room for n more outline counts.
    void ReserveOutlineCounts(int n);

    [[nodiscard]] const std::vector<frDoublePoint>& GetPoints() const { return m_Points; }
    [[nodiscard]] const std::vector<std::int32_t>& GetOutlineCounts() const { return m_OutlineCounts; }

    // A point inside the region: the inner point of a traced region or the
    // seed point of a DXF hatch. Written as the hatch's seed point.
    frDoublePoint m_SeedPoint;

    // ---- CEntity ----------------------------------------------------------

    // Every outline's current vertex back to the first.
    void OnSelect() override;
    // Sum of the outlines' vertex counts.
    [[nodiscard]] int GetPointCount() const override;
    // Rebuilds the point arrays when stale, then fills them (even-odd).
    void Draw(CFrDevice* device) override;
    // Some outline crosses or lies inside the box.
    [[nodiscard]] bool IntersectRect(const frDoublePoint& boxMin, const frDoublePoint& boxMax) override;
    void CollectSegments(const frDoublePoint& boxMin, const frDoublePoint& boxMax,
                         std::vector<CSnapSegment>& segments) override;
    // Grips are numbered through the outlines in order: outline k's grip j
    // has the index (grip counts of outlines 0..k-1) + j. GetGripCount,
    // AddGrips and MoveGrip all walk the same numbering.
    [[nodiscard]] int GetGripCount() const override;
    void AddGrips(CSelectNode* tag, CGripRecord** grips) override;
    bool MoveGrip(double x, double y, double z, int index) override;
    // Union of the outlines' extents; false without any.
    bool GetExtents(double* merge, double* box) override;
    // Copies another polygon set, its outlines and seed point.
    void CopyFrom(const CEntity* other) override;
    // Null when memory is short (never a copy with outlines missing).
    [[nodiscard]] std::unique_ptr<CEntity> Clone() const override;
    // The common record, u32 outline count, then each outline's own record
    // (type code 2 first).
    [[nodiscard]] bool Load(std::FILE* file) override;
    [[nodiscard]] bool Save(std::FILE* file) override;
    // Output records: one even-odd filled region, outer outline first. R10
    // has no hatch, so there each outline is a closed polyline.
    using CEntity::WriteDXF2000;
    using CEntity::WriteDXFR10;
    bool WriteDXF2000(std::FILE* file, bool widths, const CDxfNames& names) override;
    bool WriteDXFR10(std::FILE* file, bool widths, const CDxfNames& names) override;
    bool WriteSVG(std::FILE* file, double pageHeight, bool widths) override;
    bool WriteCGM(std::FILE* file) override;
    bool WriteHPGL(std::FILE* file) override;
    bool WriteEPS(std::FILE* file, bool widths) override;
    bool WritePDF(CPDFStream* stream, bool widths) override;
    // Metafile drawing (pixels, y turned over about pageHeight); *_metafile.cpp.
    void DrawToDC(CDC* dc, double pageHeight, bool widths) override;
    // DXF reading (polygon_set_dxf_read.cpp).
    // A HATCH record: accepted as a solid fill (pattern "SOLID", group 70 = 1)
    // with a layer and at least one usable boundary path.
    bool ReadDXF(std::FILE* file, std::string* layerName) override;
    // Whether the last HATCH read was refused for filling with a pattern
    // rather than solid, so the import can say what it left out.
    [[nodiscard]] bool WasPatternHatch() const { return m_PatternHatch; }
    // One boundary path, from its group 92 on: a polyline path, or an edge
    // path of lines and circular arcs (arcs become bulges). A path that
    // cannot be used (elliptic or spline edges, a vertex count that differs
    // from its group 93) is passed over with a warning and adds no outline.
    // False when the record ended first (end of text, group 0 or a
    // malformed code).
    bool ReadBoundaryPath(std::FILE* file);
    // Information lines and property rows (polygon_set_properties.cpp).
    void GetInfo(std::vector<std::string>* lines) override;
    void FillProperties(CPropertyList* list, const CSelectNode* owner = nullptr) override;
    int ApplyProperty(CGraph* drawing, int row, int value, const std::string& text, CPropertyRow* record,
                      const CSelectNode* owner = nullptr) override;
    // The number of grips of the outlines before outline i (0-based).
    [[nodiscard]] int GetGripOffset(int i) const;

private:
    // Adds a copy of each of the other's outlines; false when memory ran out.
    bool CopyOutlinesFrom(const CPolyPolygon& other);

    std::vector<std::unique_ptr<CPolyLine>> m_Outlines;
    bool m_PatternHatch = false;
    std::vector<frDoublePoint> m_Points;        // flattened points, outline after outline
    std::vector<std::int32_t> m_OutlineCounts;  // points of each outline in m_Points
};
