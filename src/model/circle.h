#pragma once
// CCircle and CArc: the curved entities of the drawing.
//
// A circle is a centre and a radius (raster pixels). An arc adds a start and
// an end angle (radians) and runs counter-clockwise from start to end; after
// normalisation 0 <= start <= TWO_PI and start <= end < start + TWO_PI. Its
// start and end points are derived from centre, radius and angles and kept
// up to date by every operation here (UpdateEndPoints).
//
// For drawing and hit tests the curve is flattened into a linear chain of
// CVertex records (first prev and last next null), owned by the entity and
// rebuilt when the device's chord changes much or the modified flag is set.
// It is never saved.
#include <cstdio>
#include <memory>
#include <vector>

#include "model/entity.h"
#include "model/point.h"

class CTraceOption;

// Object-snap modes a circle offers (centre, quadrant, intersection,
// perpendicular, tangent, nearest).
constexpr std::int32_t CIRCLE_SNAP_MODES = 0x3B4;

// Piece count of the flat list that a hit test builds when no drawing has
// built one yet.
constexpr double CIRCLE_HIT_TEST_PIECES = 64;

class CCircle : public CEntity {
public:
    CCircle();
    ~CCircle() override;

    // ---- data -------------------------------------------------------------

    frDoublePoint m_Centre;
    double m_Radius = 1.0;

    // ---- the flat list ----------------------------------------------------

    // Appends a point with the entity's width as start width.
    CVertex* AddFlatPoint(double x, double y);
    void FreeFlatList();
    [[nodiscard]] const CVertex* GetFlatHead() const { return m_FlatHead; }

    // Width rounding with the width series of the given options, for a run
    // that works on a snapshot of them; the one-argument form reads the
    // current options.
    using CEntity::RoundWidth;
    void RoundWidth(double resolution, const CTraceOption& options);

    // ---- CEntity ----------------------------------------------------------

    void Draw(CFrDevice* device) override;
    [[nodiscard]] bool IntersectRect(const frDoublePoint& boxMin, const frDoublePoint& boxMax) override;
    void CollectSegments(const frDoublePoint& boxMin, const frDoublePoint& boxMax,
                         std::vector<CSnapSegment>& segments) override;
    [[nodiscard]] int GetGripCount() const override { return 5; }
    bool GetExtents(double* merge, double* box) override;
    // Copies a circle (an arc copies as its circle); anything else is ignored.
    void CopyFrom(const CEntity* other) override;
    [[nodiscard]] std::unique_ptr<CEntity> Clone() const override;
    // Centre (index 0) and the quadrant points (1..4).
    void AddGrips(CSelectNode* tag, CGripRecord** grips) override;
    // Index 0 moves the centre, any other sets the radius to the distance of
    // the point. False, with the circle unchanged, for a radius of 0.
    bool MoveGrip(double x, double y, double z, int index) override;
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
    // A CIRCLE record: layer, centre and a radius above 0 are required
    // (circle_dxf_read.cpp).
    bool ReadDXF(std::FILE* file, std::string* layerName) override;
    // Information lines and property rows (circle_properties.cpp).
    void GetInfo(std::vector<std::string>* lines) override;
    void FillProperties(CPropertyList* list, const CSelectNode* owner = nullptr) override;
    int ApplyProperty(CGraph* drawing, int row, int value, const std::string& text, CPropertyRow* record,
                      const CSelectNode* owner = nullptr) override;

protected:
    // The list for the device's chord; rebuilt when stale.
    void UpdateFlatList(double chord);
    // Fills the freed list with points at most `chord` apart along the curve.
    virtual void BuildFlatList(double chord);
    // Makes a list for a hit test when drawing has not made one, or the
    // shape changed since.
    void EnsureFlatListForHitTest();
    // The flat list's segments cross or touch the box.
    bool FlatListCrossesRect(const frDoublePoint& boxMin, const frDoublePoint& boxMax, bool closed) const;
    // The crossing test; only a circle's list has a closing segment.
    bool CrossesRect(const frDoublePoint& boxMin, const frDoublePoint& boxMax, bool closed);
    // Adds the point of the curve at the angle.
    void AddFlatPointAt(double angle);

private:
    CVertex* m_FlatHead = nullptr;
    CVertex* m_FlatTail = nullptr;
    double m_FlatChord = 0.0;  // device chord the list was built with
};

class CArc : public CCircle {
public:
    CArc();

    double m_StartAngle = 0.0;
    double m_EndAngle = 0.0;
    frDoublePoint m_StartPoint;  // derived: centre + radius (cos start, sin start)
    frDoublePoint m_EndPoint;

    // Set one angle, normalise both and update the end points. A non-finite
    // angle is ignored (it could never be brought into range).
    void SetStartAngle(double angle);
    void SetEndAngle(double angle);
    void UpdateEndPoints();
    void GetMidPoint(frDoublePoint* out) const;

    // Whether this arc and the other join at their ends (within the connect
    // distance t of the options) into one arc or a full circle lying within
    // t/2 of one radius; the merged curve goes to the outputs (start = end =
    // 0 for a circle).
    [[nodiscard]] bool MatchForMerge(const CArc& other, frDoublePoint* centre, double* radius, double* start,
                                     double* end) const;
    [[nodiscard]] bool MatchForMerge(const CArc& other, frDoublePoint* centre, double* radius, double* start,
                                     double* end, const CTraceOption& options) const;

    // ---- CEntity ----------------------------------------------------------

    void Draw(CFrDevice* device) override;
    [[nodiscard]] bool IntersectRect(const frDoublePoint& boxMin, const frDoublePoint& boxMax) override;
    void CollectSegments(const frDoublePoint& boxMin, const frDoublePoint& boxMax,
                         std::vector<CSnapSegment>& segments) override;
    [[nodiscard]] int GetGripCount() const override { return 3; }
    bool GetExtents(double* merge, double* box) override;
    // Copies an arc; a plain circle copies only its centre and radius.
    void CopyFrom(const CEntity* other) override;
    [[nodiscard]] std::unique_ptr<CEntity> Clone() const override;
    // Start (1), middle (2) and end point (3).
    void AddGrips(CSelectNode* tag, CGripRecord** grips) override;
    // Refits the arc through the three grips with one of them moved; false,
    // with the arc unchanged, when they admit no circle.
    bool MoveGrip(double x, double y, double z, int index) override;
    [[nodiscard]] bool Load(std::FILE* file) override;
    [[nodiscard]] bool Save(std::FILE* file) override;
    // Output records; the DXF ones write the circle's groups through the
    // circle, the others their own.
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
    // An ARC record: a circle's groups and both angles (degrees).
    bool ReadDXF(std::FILE* file, std::string* layerName) override;
    // Information lines and property rows (circle_properties.cpp).
    void GetInfo(std::vector<std::string>* lines) override;
    void FillProperties(CPropertyList* list, const CSelectNode* owner = nullptr) override;
    int ApplyProperty(CGraph* drawing, int row, int value, const std::string& text, CPropertyRow* record,
                      const CSelectNode* owner = nullptr) override;

protected:
    void BuildFlatList(double chord) override;

private:
    void NormalizeAngles();
};

// A new circle about the centre with the absolute radius; null when memory
// is short.
[[nodiscard]] std::unique_ptr<CCircle> NewCircle(const frDoublePoint& centre, double radius);
// A new arc; the start angle is set before the end angle.
[[nodiscard]] std::unique_ptr<CArc> NewArc(const frDoublePoint& centre, double radius, double startAngle,
                                           double endAngle);
