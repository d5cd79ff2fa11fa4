#pragma once
// CSolid: a filled triangle or quadrilateral.
//
// The solid holds at most SOLID_MAX_VERTICES vertices in its own storage,
// linked into a circular ring in the order they were added (the device and
// the output records walk it through next). Only x, y (and z for grips) are
// used. A solid made by NewSolid runs counter-clockwise; a triangle is filled
// with the winding rule, a quadrilateral with the even-odd rule.
#include <cstdio>
#include <memory>
#include <vector>

#include "model/entity.h"
#include "model/point.h"

constexpr int SOLID_MAX_VERTICES = 4;

class CSolid : public CEntity {
public:
    CSolid();
    ~CSolid() override;

    // ---- the vertex ring --------------------------------------------------

    // Appends a copy of v (its links are not taken over). False, nothing
    // added, when the ring is full.
    bool AppendVertex(const CVertex& v);
    // Appends a vertex at (x, y) with every other field 0; false when full.
    bool AddPoint(double x, double y);
    void RemoveAllVertices();
    // With at least three vertices the last two change places
    // ([a, b, c, d] -> [a, b, d, c]).
    void SwapLastTwo();

    // The ring's head, null when empty.
    [[nodiscard]] const CVertex* GetHead() const { return m_Count ? &m_Vertices[0] : nullptr; }
    // Vertex i in ring order, null outside 0..count-1.
    [[nodiscard]] const CVertex* GetVertex(int i) const;

    // ---- CEntity ----------------------------------------------------------

    [[nodiscard]] int GetPointCount() const override { return m_Count; }
    // Nothing below three vertices.
    void Draw(CFrDevice* device) override;
    [[nodiscard]] bool IntersectRect(const frDoublePoint& boxMin, const frDoublePoint& boxMax) override;
    // Inside the box: the first edge alone; else every edge crossing the box.
    void CollectSegments(const frDoublePoint& boxMin, const frDoublePoint& boxMax,
                         std::vector<CSnapSegment>& segments) override;
    [[nodiscard]] int GetGripCount() const override { return m_Count; }
    bool GetExtents(double* merge, double* box) override;
    // Copies another solid (anything else is ignored).
    void CopyFrom(const CEntity* other) override;
    [[nodiscard]] std::unique_ptr<CEntity> Clone() const override;
    // One grip per vertex, index = ring position.
    void AddGrips(CSelectNode* tag, CGripRecord** grips) override;
    // Moves vertex `index` to (x, y, z); false for an index not in the ring.
    bool MoveGrip(double x, double y, double z, int index) override;
    // The common record, u32 vertex count (at most four), x and y of each.
    [[nodiscard]] bool Load(std::FILE* file) override;
    [[nodiscard]] bool Save(std::FILE* file) override;
    // Output records; a solid of fewer than three corners writes nothing and
    // succeeds, so one bad solid does not end an export.
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
    // A SOLID or 3DFACE record: corners 10..13 / 20..23 in the record's
    // order; the first three and the layer are required. A fourth corner
    // repeating the third makes a triangle, which is stored counter-clockwise
    // (solid_dxf_read.cpp). SOLID corners run 1, 2, 4, 3: the caller
    // exchanges the last two of a four-corner SOLID.
    bool ReadDXF(std::FILE* file, std::string* layerName) override;

    // Information lines and property rows (solid_properties.cpp).
    void GetInfo(std::vector<std::string>* lines) override;
    void FillProperties(CPropertyList* list, const CSelectNode* owner = nullptr) override;
    int ApplyProperty(CGraph* drawing, int row, int value, const std::string& text, CPropertyRow* record,
                      const CSelectNode* owner = nullptr) override;

private:
    // Links the used vertices into a ring.
    void Relink();
    // Each edge (vertex to its successor, the last to the first) in turn.
    template <typename Visit>
    void ForEachEdge(Visit visit) const;

    CVertex m_Vertices[SOLID_MAX_VERTICES];
    int m_Count = 0;
};

// A triangle through the points in counter-clockwise order; null for
// collinear points or when memory is short.
[[nodiscard]] std::unique_ptr<CSolid> NewSolid(frDoublePoint p1, frDoublePoint p2, frDoublePoint p3);
