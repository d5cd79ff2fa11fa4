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
#include <unordered_map>
#include <vector>

#include "model/point.h"
#include "model/select_set.h"
#include "platform/win_types.h"

class CEntity;
class CFrDevice;
class CLayer;
class CLine;
class CPolyLine;
class CPropertyList;
struct CPropertyRow;
class CSolid;
class CCircle;
class CArc;
class CWidthSeries;
class CRaster;
class CSelectNode;
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
    // Makes a layer of this drawing current; false (no change) for any other.
    bool SetCurrentLayer(CLayer* layer);
    // A layer of this drawing tells it its new name, so that lookups by name
    // find it there (CLayer::SetName calls this).
    void OnLayerRenamed(CLayer* layer, const std::string& oldName);
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
    // Changes with every SetModified: a layer's stored count from an earlier
    // mark reads as reset, without a walk over every layer per change.
    [[nodiscard]] std::uint64_t GetModificationMark() const { return m_ModificationMark; }

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

    // Frees the grips, empties the selection set and clears the selected
    // flag of each entity in it; costs the selection's size, not the
    // drawing's.
    void ClearSelection();
    // Frees the grip list.
    void ClearGrips();
    [[nodiscard]] CGripRecord* GetGrips() const { return m_Grips; }
    CGripRecord** GetGripListHead() { return &m_Grips; }
    [[nodiscard]] std::uint32_t GetGripCount() const { return m_GripCount; }
    void SetGripCount(std::uint32_t count) { m_GripCount = count; }
    [[nodiscard]] CGripRecord* GetCurrentGrip() const { return m_CurrentGrip; }
    void SetCurrentGrip(CGripRecord* grip) { m_CurrentGrip = grip; }

    // ---- selection and editing commands (edit_commands*.cpp) --------------

    [[nodiscard]] CSelectSet& GetSelectSet() { return m_Selection; }
    [[nodiscard]] const CSelectSet& GetSelectSet() const { return m_Selection; }
    // Selects, on every visible layer, the entities not yet selected that
    // cross (lie inside) the box of the two corners, given in any order; a
    // point pick is a crossing box about the point. When anything was added
    // the grips are rebuilt. True when anything was added.
    bool SelectCrossing(const frDoublePoint& corner1, const frDoublePoint& corner2);
    bool SelectWindow(const frDoublePoint& corner1, const frDoublePoint& corner2);
    // Starts the selection over: every entity of the visible layers when
    // select is set, none otherwise.
    void SelectAll(bool select);
    void DrawSelection(CFrDevice* device);
    // Appends the information lines of the selected entities, or the line
    // saying that nothing is selected. With a limit the lines stop before the
    // first entity whose lines would take them past maxLines
    // (CLayer::GetSelectedInfo); answers how many selected entities that left
    // out.
    std::size_t GetSelectionInfo(std::vector<std::string>* lines, std::size_t maxLines = SIZE_MAX);
    // Deletes the selected entities with undo; nothing happens (false) when
    // nothing is selected or the undo record cannot be made.
    bool DeleteSelected();
    // Explodes the selected polylines (all of them when all is set or
    // nothing is selected) with undo; returns how many were exploded.
    int ExplodePolylines(bool all);
    // The drawing commands: a new entity with the current colour and width
    // on the current layer, recorded for undo. Null, nothing recorded,
    // without a current layer, for degenerate input (coincident or collinear
    // points, a radius below POINT_TOLERANCE) or when memory is short.
    CSolid* DrawSolid(const frDoublePoint& p1, const frDoublePoint& p2, const frDoublePoint& p3);
    CCircle* DrawCircle(const frDoublePoint& centre, double radius);
    CCircle* DrawCircle3P(const frDoublePoint& p1, const frDoublePoint& p2, const frDoublePoint& p3);
    // Counter-clockwise from the start point's direction to the end point's.
    CArc* DrawArcCentre(const frDoublePoint& centre, const frDoublePoint& start, const frDoublePoint& end);
    // The arc from start through middle to end (its ends exchanged when it
    // runs clockwise).
    CArc* DrawArc3P(const frDoublePoint& start, const frDoublePoint& middle, const frDoublePoint& end);
    // Moves every hot grip to the point with undo, then rebuilds the grips of
    // the changed entities. True when something moved.
    bool MoveGripPoint(const frDoublePoint& point);
    // Makes or selects one layer per width of the series, named by the width
    // with four decimals and "_" for the point. True when the drawing then
    // has a layer.
    bool CreateBasisLayers(const CWidthSeries& series);
    // Moves every entity to the layer of its width (or to "other") and
    // drops the layers left empty. The caller records the whole drawing for
    // undo beforehand. False (nothing changed) without layers or widths.
    bool SeparateToLayers(const CWidthSeries& series);
    // Releases the current grip, then adds the selection's rows, or without
    // a selection the drawing's own: the heading, the current layer (the
    // layer names as choices), colour and width and, only with a raster
    // image, the unit (choices inch, cm, mm, pixel). The rows are numbered
    // as ApplyProperty takes them.
    void FillProperties(CPropertyList* list);
    // Applies an edited property row to the selection, or without one to the
    // drawing's own rows (1 current layer, 2 colour, 3 width, 4 unit), with
    // undo; returns the property code (-1 refused or unchanged, -3 redraw).
    int ApplyProperty(int row, int value, const std::string& text, CPropertyRow* record);
    // (grips.cpp) The old current grip loses its current flag; in the run of
    // the owner's records, the one with that index becomes current and is
    // returned. None found: no current grip, null.
    CGripRecord* SetCurrentGrip(const CSelectNode* owner, std::int32_t index);
    // Every grip as a grip box with its hot and current flags.
    void DrawGrips(CFrDevice* device) const;
    // Redraws the grip highlighted last time normally, then highlights the
    // first grip that is not hot within pickPixels (device pixels, each way)
    // of the pointer. True when one was found.
    bool TrackHoverGrip(CFrDevice* device, const frDoublePoint& pointer, double pickPixels);
    // Rubber-bands the entities of the hot grips: each clone is drawn (in
    // the view's XOR mode this erases it), refreshed from its entity, has its
    // hot grips moved to the point and is drawn again. Device may be null.
    void DragHotGrips(CFrDevice* device, const frDoublePoint& point);
    // Draws (device may be null) and then refreshes the clone of every
    // entity that has a hot grip.
    void DrawHotGripClones(CFrDevice* device);

    // ---- snapping (snap_grid.cpp, snap_object.cpp) ------------------------

    // Drawing <-> snap frame (rotated by the snap angle about the snap base).
    void ToSnapFrame(frDoublePoint& p) const;
    void FromSnapFrame(frDoublePoint& p) const;
    // Rounds the point to the nearest grid node (halves up, in the snap
    // frame) and returns SNAP_GRID; 0, point unchanged, while the grid is
    // hidden or too dense to draw, or for a non-finite point.
    std::int32_t SnapToGrid(frDoublePoint& p) const;
    // Draws the visible grid nodes as cross markers when they lie at least
    // 2 pixels apart, and keeps the grid-drawable flag. False only when the
    // grid has just become too dense to draw.
    bool DrawGrid(CFrDevice* device);
    // The best object-snap point of the visible entities (and the temporary
    // polyline) touching the box, for the drawing's snap mask, measured from
    // the box centre; base (or null) is where the rubber band starts. The
    // SnapMode bit of the point found, with the point in out; 0 for none.
    std::int32_t FindSnapPoint(const frDoublePoint* base, const frDoublePoint& corner1, const frDoublePoint& corner2,
                               frDoublePoint* out);

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
    // (drawing_display.cpp) The whole drawing: the raster, the layers and the
    // temporary polyline, the grid, the grips. 1 when the grid has just
    // become too dense to show (the view tells the user), else 0.
    int Draw(CFrDevice* device);

    // ---- project file -----------------------------------------------------

    // The 60-byte drawing header: unit, object snap mask and on, grid shown,
    // snap base, snap angle, grid spacing, ortho.
    [[nodiscard]] bool WriteHeader(std::FILE* file) const;

    // The whole drawing as a project file (project_file.cpp): version,
    // header, the layers from the first with their entities, the raster.
    // The file is built in memory and replaces `path` only when complete.
    // False, nothing written, for a drawing without entities, a layer name
    // too long to load again or a failed write; `error`, when given, then
    // gets the reason. Reports progress 0 and 100 with the "SaveProject"
    // caption; clears the modified flag on success.
    [[nodiscard]] bool SaveProject(const std::string& path, GraphProgress progress, std::string* error = nullptr);
    // The bytes of SaveProject, written to an open stream; same failures.
    [[nodiscard]] bool WriteProject(std::FILE* file, std::string* error = nullptr);
    // Replaces the layers (in the file's order, the first current), their
    // entities, the header settings and the raster (emptied when the file
    // holds none) by a project file's. The file is read into a fresh drawing
    // that is swapped in only on success, so a failed load leaves this
    // drawing as it was; `error`, when given, then gets the reason. Reports
    // progress 0 and 100 with the "LoadProject" caption; clears the modified
    // flag on success.
    [[nodiscard]] bool LoadProject(const std::string& path, GraphProgress progress, std::string* error = nullptr);
    // The reading of LoadProject from an open stream, from its position.
    [[nodiscard]] bool ReadProject(std::FILE* file, std::string* error = nullptr);

    // ---- DXF import (dxf_import.cpp) --------------------------------------

    // Replaces the layers, entities and DXF-held settings (current colour,
    // layer and width, ortho, object snap, grid snap) by those of a DXF text
    // file. The file is read into a fresh drawing that is swapped in only on
    // success, so a failed import leaves this drawing as it was. The reason
    // of a failure goes to *error when given, else to a message box. What the
    // import passed over (unsupported hatch paths and polylines) goes to
    // *warnings when given. Clears the modified flag on success.
    [[nodiscard]] bool ReadDXF(const std::string& path, GraphProgress progress, std::string* error = nullptr,
                               std::vector<std::string>* warnings = nullptr);
    // The same from an open stream, read from its position (which must be
    // seekable: the readers look one group ahead). Failures go to *error only.
    [[nodiscard]] bool ReadDXFStream(std::FILE* file, GraphProgress progress, std::string* error = nullptr,
                                     std::vector<std::string>* warnings = nullptr);

private:
    void InvalidateExtents() { m_ExtentsValid = false; }
    void CreateRasterEntity();
    // Takes the whole layer list out (the caller owns it now) and puts a list
    // in, keeping the name index in step.
    CLayer* DetachLayers();
    void AttachLayers(CLayer* first, CLayer* current);
    [[nodiscard]] bool HoldsLayer(const CLayer* layer) const;
    void IndexLayerAtFront(CLayer* layer);
    void UnindexLayer(CLayer* layer, const std::string& name);
    void RebuildLayerIndex();

    CLayer* m_FirstLayer = nullptr;
    CLayer* m_CurrentLayer = nullptr;
    // The layers by name, folded as names compare, beside the ordered list:
    // an import of many layers would otherwise search the list per record.
    // Each entry holds the layers of that name in list order (as a rule one).
    std::unordered_map<std::string, std::vector<CLayer*>> m_LayersByName;
    std::unique_ptr<CEntity> m_Raster;        // a CRaster
    std::unique_ptr<CEntity> m_TempPolyline;  // a CPolyLine, in no layer's chain
    bool m_TempPolylineXor = false;
    CGripRecord* m_Grips = nullptr;  // owned list
    std::uint32_t m_GripCount = 0;
    bool m_ShowRaster = true;
    bool m_ShowVectors = true;
    bool m_Modified = false;
    std::uint64_t m_ModificationMark = 0;
    double m_Extents[4] = {0, 0, 0, 0};  // layers only, no margin
    bool m_ExtentsValid = false;         // the cache holds a result
    bool m_ExtentsFound = false;         // ... and the layers had a box
    bool m_GridDrawable = true;
    std::array<BYTE, 256> m_Histogram{};
    std::uint32_t m_ObjectSnapMask = 5;  // end point and centre
    std::uint32_t m_ObjectSnapOn = 1;
    std::uint32_t m_GridShown = 0;
    frDoublePoint m_SnapBase;
    double m_SnapAngle = 0.0;
    double m_GridSpacingX = 25.0;
    double m_GridSpacingY = 25.0;
    std::uint32_t m_Ortho = 0;
    CGripRecord* m_CurrentGrip = nullptr;
    CSelectSet m_Selection{this};        // its nodes own no entity; the grips point at them
    CGripRecord* m_HoverGrip = nullptr;  // highlighted by TrackHoverGrip
    std::int16_t m_CurrentColor = 256;
    double m_CurrentWidth = 0.0;
    std::uint32_t m_Unit = UNIT_PIXEL;
    CUndoList* m_VectorUndo = nullptr;
    CUndoList* m_RasterUndo = nullptr;
};
