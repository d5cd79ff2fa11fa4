#pragma once
// CLine: a straight segment between two embedded vertices.
//
// The ends are private so that every change goes through the setters below:
// they keep the cached length field (CEntity::m_Length) equal to the distance
// between the ends, which the remove-short-lines step reads. Grip moves,
// property edits, project loading and DXF reading all use them.
//
// The start vertex's widths are the ones the device draws with; SetWidth
// keeps them equal to the entity's width. The vertices are in no ring: their
// links stay null.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "model/entity.h"
#include "model/point.h"

class CLine : public CEntity {
public:
    // Both ends at the origin, length 0.
    CLine();
    ~CLine() override;

    [[nodiscard]] const CVertex& GetStart() const { return m_Start; }
    [[nodiscard]] const CVertex& GetEnd() const { return m_End; }
    // x and y of one end (z kept); the length follows.
    void SetStart(double x, double y);
    void SetEnd(double x, double y);
    // x, y and z of both ends; the length follows.
    void SetEnds(const frDoublePoint& start, const frDoublePoint& end);

    // ---- CEntity ----------------------------------------------------------

    [[nodiscard]] frDoublePoint GetStartPoint() const override;
    [[nodiscard]] frDoublePoint GetEndPoint() const override;
    [[nodiscard]] int GetPointCount() const override { return 2; }
    // Also the widths of both vertices, so the drawing shows it.
    void SetWidth(double width) override;
    void Draw(CFrDevice* device) override;
    // False when not drawn at the last paint; else inside the box, or the
    // segment crosses it.
    [[nodiscard]] bool IntersectRect(const frDoublePoint& boxMin, const frDoublePoint& boxMax) override;
    // One line segment offering every snap mode when the line crosses the box.
    void CollectSegments(const frDoublePoint& boxMin, const frDoublePoint& boxMax,
                         std::vector<CSnapSegment>& segments) override;
    [[nodiscard]] int GetGripCount() const override { return 3; }
    bool GetExtents(double* merge, double* box) override;
    // Copies another line (anything else is ignored).
    void CopyFrom(const CEntity* other) override;
    [[nodiscard]] std::unique_ptr<CEntity> Clone() const override;
    // Start (0), midpoint (1, z 0) and end (2).
    void AddGrips(CSelectNode* tag, CGripRecord** grips) override;
    // 0 and 2 move one end to (x, y, z); 1 moves the whole line so that its
    // midpoint lands on (x, y). False for any other index.
    bool MoveGrip(double x, double y, double z, int index) override;
    // The common record, then start x, start y, end x, end y (f64 each).
    [[nodiscard]] bool Load(std::FILE* file) override;
    [[nodiscard]] bool Save(std::FILE* file) override;
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
    // A LINE record: both ends (10/20, 11/21) and the layer are required
    // (line_dxf_read.cpp).
    bool ReadDXF(std::FILE* file, std::string* layerName) override;

    // Information lines and property rows (line_properties.cpp).
    void GetInfo(std::vector<std::string>* lines) override;
    void FillProperties(CPropertyList* list, const CSelectNode* owner = nullptr) override;
    int ApplyProperty(CGraph* drawing, int row, int value, const std::string& text, CPropertyRow* record,
                      const CSelectNode* owner = nullptr) override;

private:
    void UpdateLength();

    CVertex m_Start;
    CVertex m_End;
};

// Copies every field but the ring links (x, y, z, bulge, widths, flags,
// source, mark). Used when joining polylines.
void CopyVertex(CVertex* to, const CVertex* from);
// Angle in radians (0..PI) between the directions of a and b; a zero vector
// is taken as it is.
[[nodiscard]] double VectorAngle(frDoublePoint a, frDoublePoint b);
