#pragma once
// CGraph: the drawing. It owns the layers (a singly linked list through each
// layer's next field, newest first) and through them every entity, the
// raster entity it was traced from, the grips of the selection and the
// temporary polyline of the polyline command; it keeps the drawing-wide
// settings (current layer, colour and width, unit, object snap, grid, ortho).
//
// Coordinates are raster pixels; the unit only scales what is shown and
// written (UnitsToPixels, GetPixelsPerUnit). New layers and entities take
// their ids from the process-wide id counter (entity.h), so ids stay unique
// across every drawing of the process, copies included, and undo records find
// them again by id.
//
// The current layer is null only while the drawing has no layer.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "model/point.h"
#include "platform/win_types.h"

class CEntity;
class CFrDevice;
class CLayer;
class CLine;
class CPolyLine;
class CRaster;
class CUndoList;
struct CGripRecord;

// Drawing units.
enum DrawingUnit : std::uint32_t { UNIT_INCH = 0, UNIT_CM = 1, UNIT_MM = 2, UNIT_PIXEL = 3 };
constexpr std::uint32_t UNIT_LAST = UNIT_PIXEL;

// Size of the drawing header in the project file.
constexpr std::size_t GRAPH_HEADER_SIZE = 60;

// Progress of a long operation: (text, percent 0..100). May be null.
using GraphProgress = void (*)(const std::string& text, int percent);

class CGraph {
public:
    // One layer "Trace", current; the defaults below; not modified.
    CGraph();
    // Frees the grips, the layers with their entities, the temporary
    // polyline and the raster entity.
    ~CGraph();
    CGraph(const CGraph&) = delete;
    CGraph& operator=(const CGraph&) = delete;

    // ---- layers -----------------------------------------------------------

    [[nodiscard]] CLayer* GetFirstLayer() const { return m_FirstLayer; }
    [[nodiscard]] CLayer* GetCurrentLayer() const { return m_CurrentLayer; }
    // Takes ownership; the layer goes to the head of the list and becomes
    // current; marks modified. Null: nothing.
    void AddLayer(CLayer* layer);
    // With del set, unlinks and deletes a layer of this drawing (with its
    // entities); a current layer hands over to its predecessor, or to the new
    // head when it was the head. Marks modified. Nothing happens (true) when
    // the drawing has no layer, the layer is null or del is false; false for a
    // layer that is not in this drawing.
    bool RemoveLayer(CLayer* layer, bool del);
    // Deletes every layer; current layer null; marks modified; clears the
    // selection.
    void RemoveAllLayers();
    // Makes the layer of that name (ignoring case) current, adding it when
    // there is none. Empty name: nothing. Returns the current layer.
    CLayer* SelectOrAddLayer(const std::string& name);
    [[nodiscard]] CLayer* FindLayer(std::uint32_t id) const;
    [[nodiscard]] CLayer* FindLayerByName(const std::string& name) const;
    bool SetCurrentLayerById(std::uint32_t id);
    bool SetCurrentLayerByName(const std::string& name);
    // n counts from 0 at the head.
    bool SetCurrentLayerByIndex(int n);
    [[nodiscard]] int GetLayerCount() const;
    // Recounts every layer.
    int GetEntityCount();
    [[nodiscard]] CEntity* FindEntity(std::uint32_t id) const;
    // No layer holds an entity.
    [[nodiscard]] bool IsEmpty() const;

    // ---- state ------------------------------------------------------------

    [[nodiscard]] bool IsModified() const { return m_Modified; }
    // Resets every layer's stored count; true also drops the extents cache.
    void SetModified(bool modified);

    // The box {min x, max x, min y, max y} of every layer's entities, widened
    // by the raster's box when withRaster is set and grown about its centre
    // by 3 % when margin is set. False (box untouched) when nothing has
    // extents. The layers' box is cached until the drawing is next marked
    // modified; the flags are applied on every call.
    [[nodiscard]] bool GetExtents(double* box, bool margin, bool withRaster);

    // Converts two lengths from the drawing unit to raster pixels, with the
    // raster's resolution; unchanged for pixels or without a raster.
    void UnitsToPixels(double* a, double* b) const;
    // Converts two lengths from raster pixels to the drawing unit (either
    // pointer may be null) and gives the unit's display name (empty for
    // pixels or without a raster).
    void GetPixelsPerUnit(double* a, double* b, std::string* unitName) const;
    // The raster's resolution in pixels per metre (at least 200 dpi worth
    // when the image claims 1 dpi or less); 0 without a raster image.
    [[nodiscard]] double GetRasterResolution() const;

    // Replaces this drawing's layers and settings by a copy of the other's.
    // The layers come out in reverse order; the current layer is the copy of
    // the other's current one. The raster and the undo lists are not copied.
    // False when an entity could not be copied (the copy is then partial).
    bool CopyFrom(const CGraph& other);

    // Starts over with one empty layer "Trace" and the image of that file as
    // raster (world origin (0, 0)); false when the image does not load.
    [[nodiscard]] bool NewFromRaster(const std::string& fileName, GraphProgress progress);
    void ComputeRasterHistogram(GraphProgress progress);
    [[nodiscard]] const std::array<BYTE, 256>& GetHistogram() const { return m_Histogram; }

    // ---- drawing-wide settings --------------------------------------------

    [[nodiscard]] std::uint32_t GetUnit() const { return m_Unit; }
    // False, unit unchanged, outside inch..pixel.
    bool SetUnit(std::uint32_t unit);
    [[nodiscard]] double GetGridSpacingX() const { return m_GridSpacingX; }
    [[nodiscard]] double GetGridSpacingY() const { return m_GridSpacingY; }
    // False, spacing unchanged, unless both are finite and above 0.
    bool SetGridSpacing(double x, double y);
    [[nodiscard]] const frDoublePoint& GetSnapBase() const { return m_SnapBase; }
    // False, unchanged, for a non-finite coordinate.
    bool SetSnapBase(const frDoublePoint& base);
    [[nodiscard]] double GetSnapAngle() const { return m_SnapAngle; }
    // False, unchanged, for a non-finite angle.
    bool SetSnapAngle(double radians);
    [[nodiscard]] std::uint32_t GetObjectSnapMask() const { return m_ObjectSnapMask; }
    void SetObjectSnapMask(std::uint32_t mask) { m_ObjectSnapMask = mask; }
    [[nodiscard]] bool GetObjectSnapOn() const { return m_ObjectSnapOn != 0; }
    void SetObjectSnapOn(bool on) { m_ObjectSnapOn = on ? 1 : 0; }
    [[nodiscard]] bool GetGridShown() const { return m_GridShown != 0; }
    void SetGridShown(bool on) { m_GridShown = on ? 1 : 0; }
    [[nodiscard]] bool GetOrtho() const { return m_Ortho != 0; }
    void SetOrtho(bool on) { m_Ortho = on ? 1 : 0; }
    [[nodiscard]] std::int16_t GetCurrentColor() const { return m_CurrentColor; }
    // False, unchanged, outside 1..256 (256 = by layer).
    bool SetCurrentColor(int color);
    [[nodiscard]] double GetCurrentWidth() const { return m_CurrentWidth; }
    // False, unchanged, for a negative or non-finite width.
    bool SetCurrentWidth(double width);
    [[nodiscard]] bool GetShowRaster() const { return m_ShowRaster; }
    void SetShowRaster(bool on) { m_ShowRaster = on; }
    [[nodiscard]] bool GetShowVectors() const { return m_ShowVectors; }
    void SetShowVectors(bool on) { m_ShowVectors = on; }
    [[nodiscard]] bool GetGridDrawable() const { return m_GridDrawable; }
    void SetGridDrawable(bool on) { m_GridDrawable = on; }

    // ---- raster entity ----------------------------------------------------

    // The source image, drawn under the vectors; null only when the raster
    // entity class is not available.
    [[nodiscard]] CRaster* GetRaster() const;
    [[nodiscard]] CEntity* GetRasterEntity() const { return m_Raster.get(); }

    // ---- temporary polyline -----------------------------------------------

    // A new polyline with the current width, colour and layer (not added to
    // the layer); the previous one is freed. None without a current layer or
    // when memory is short.
    void BeginTempPolyline();
    // Appends a vertex, dropping one equal to the last. Widths below -1e-5
    // stand for the current width.
    void AddTempVertex(double x, double y, double startWidth, double endWidth, std::int32_t flags);
    // keep false frees it; keep true appends it to the current layer, marks
    // modified and records the addition on the vector undo list. Either way
    // the drawing holds no temporary polyline afterwards.
    void EndTempPolyline(bool keep);
    [[nodiscard]] CPolyLine* GetTempPolyline() const;
    [[nodiscard]] bool GetTempPolylineXor() const { return m_TempPolylineXor; }
    void SetTempPolylineXor(bool on) { m_TempPolylineXor = on; }

    // A new line from (x1, y1) to (x2, y2) with the current colour and width,
    // appended to the current layer; marks modified. Null without a current
    // layer or when memory is short.
    CLine* AddLine(double x1, double y1, double x2, double y2);

    // ---- selection and grips ----------------------------------------------

    // Clears every entity's selected flag.
    void ClearSelection();
    // Frees the grip list.
    void ClearGrips();
    [[nodiscard]] CGripRecord* GetGrips() const { return m_Grips; }
    CGripRecord** GetGripListHead() { return &m_Grips; }
    [[nodiscard]] std::uint32_t GetGripCount() const { return m_GripCount; }
    void SetGripCount(std::uint32_t count) { m_GripCount = count; }
    [[nodiscard]] CGripRecord* GetCurrentGrip() const { return m_CurrentGrip; }
    void SetCurrentGrip(CGripRecord* grip) { m_CurrentGrip = grip; }

    // ---- undo lists (owned by the view) -----------------------------------

    void SetUndoLists(CUndoList* rasterList, CUndoList* vectorList)
    {
        m_RasterUndo = rasterList;
        m_VectorUndo = vectorList;
    }
    [[nodiscard]] CUndoList* GetVectorUndoList() const { return m_VectorUndo; }
    [[nodiscard]] CUndoList* GetRasterUndoList() const { return m_RasterUndo; }

    // ---- display ----------------------------------------------------------

    // Draws every visible layer, head first.
    void DrawLayers(CFrDevice* device);

    // ---- project file -----------------------------------------------------

    // The 60-byte drawing header: unit, object snap mask and on, grid shown,
    // snap base, snap angle, grid spacing, ortho.
    [[nodiscard]] bool WriteHeader(std::FILE* file) const;
    // Reads the header. A unit, grid spacing or snap value that the setters
    // refuse leaves that setting as it was; only a short read fails.
    [[nodiscard]] bool ReadHeader(std::FILE* file);

private:
    void InvalidateExtents() { m_ExtentsValid = false; }
    void CreateRasterEntity();

    CLayer* m_FirstLayer = nullptr;
    CLayer* m_CurrentLayer = nullptr;
    std::unique_ptr<CEntity> m_Raster;          // a CRaster
    std::unique_ptr<CEntity> m_TempPolyline;    // a CPolyLine, in no layer's chain
    bool m_TempPolylineXor = false;
    CGripRecord* m_Grips = nullptr;             // owned list
    std::uint32_t m_GripCount = 0;
    bool m_ShowRaster = true;
    bool m_ShowVectors = true;
    bool m_Modified = false;
    double m_Extents[4] = {0, 0, 0, 0};         // layers only, no margin
    bool m_ExtentsValid = false;                // the cache holds a result
    bool m_ExtentsFound = false;                // ... and the layers had a box
    bool m_GridDrawable = true;
    std::array<BYTE, 256> m_Histogram{};
    std::uint32_t m_ObjectSnapMask = 5;         // end point and centre
    std::uint32_t m_ObjectSnapOn = 1;
    std::uint32_t m_GridShown = 0;
    frDoublePoint m_SnapBase;
    double m_SnapAngle = 0.0;
    double m_GridSpacingX = 25.0;
    double m_GridSpacingY = 25.0;
    std::uint32_t m_Ortho = 0;
    CGripRecord* m_CurrentGrip = nullptr;
    std::int16_t m_CurrentColor = 256;
    double m_CurrentWidth = 0.0;
    std::uint32_t m_Unit = UNIT_PIXEL;
    CUndoList* m_VectorUndo = nullptr;
    CUndoList* m_RasterUndo = nullptr;
};
