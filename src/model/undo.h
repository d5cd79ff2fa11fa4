#pragma once
// Undo records and undo lists.
//
// Every change the user can take back is a record derived from CUndoItem that
// reverts (Undo) and re-applies (Redo) it. A record is created done: its
// change is in effect. The view keeps two lists, raster and vector; the
// drawing holds pointers to both and its commands push records on them.
//
// Invariants of a CUndoList: it owns its records; the oldest is at the head,
// the newest at the tail; the done records form the front part and the undone
// ones the back part; it never holds more than its depth (at least 1).
//
// Undo and Redo are all-or-nothing: a record that fails leaves the drawing or
// the image as it found it, so the list and what it describes stay in step.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/list.h"
#include "model/point.h"
#include "platform/window_messages.h"

class CEntity;
class CGraph;
class CLayer;
class CRasterSrc;
class CUndoLookup;

// ---- status text of the main window ---------------------------------------

// Sent to the main window with wParam 0 and lParam a zero-terminated UTF-8
// text, which the main frame shows in its status bar. The text lives until
// SendMessage returns.
inline constexpr UINT WM_APP_STATUSTEXT = WM_APP + 0xFA;

// The receiver of WM_APP_STATUSTEXT; null (the default) routes status texts
// to ShowStatusText instead.
void SetMainStatusWindow(HWND window);
[[nodiscard]] HWND GetMainStatusWindow();
// Sends the text to the main window, or to the status-text hook when there
// is no main window or it has closed.
void SendStatusText(const std::string& text);

// ---- records and lists ----------------------------------------------------

class CUndoItem {
public:
    explicit CUndoItem(std::string name) : m_Name(std::move(name)) {}
    virtual ~CUndoItem() = default;
    CUndoItem(const CUndoItem&) = delete;
    CUndoItem& operator=(const CUndoItem&) = delete;

    // True on success. On failure the record has changed nothing.
    [[nodiscard]] virtual bool Undo() = 0;
    [[nodiscard]] virtual bool Redo() = 0;

    [[nodiscard]] const std::string& GetName() const { return m_Name; }
    [[nodiscard]] bool IsDone() const { return m_Done; }
    void SetDone(bool done) { m_Done = done; }

private:
    std::string m_Name;  // a UI text, shown when undone or redone
    bool m_Done = true;  // the change is in effect
};

// Undoes a done record: sends "Undo: " and its name as status text, runs its
// Undo and clears the done flag only when that succeeded. A failure is shown
// to the user and leaves the flag set. False for null, an undone record or a
// failed Undo.
bool UndoOneItem(CUndoItem* item);
// The same for an undone record, with "Redo: " and Redo.
bool RedoOneItem(CUndoItem* item);

class CUndoList {
public:
    static constexpr std::uint16_t kDefaultDepth = 5;

    explicit CUndoList(std::uint16_t depth = kDefaultDepth);
    ~CUndoList();
    CUndoList(const CUndoList&) = delete;
    CUndoList& operator=(const CUndoList&) = delete;

    [[nodiscard]] std::uint16_t GetDepth() const { return m_Depth; }
    // At least 1: a list of depth 0 could never make room. Trims the oldest
    // records beyond the new depth.
    void SetDepth(std::uint16_t depth);

    // Deletes every undone record (a new change ends what could be redone),
    // then the oldest records until fewer than depth remain, then appends the
    // item unless it is null. False, the item deleted, when it is null or
    // could not be appended. The cursor is left on the tail.
    bool PushItem(std::unique_ptr<CUndoItem> item);
    void DeleteAllItems();

    [[nodiscard]] UINT GetCount() const { return m_Items.GetCount(); }
    // The record at a zero-based index from the head (oldest), or null.
    [[nodiscard]] CUndoItem* GetAt(UINT index) const;
    // The newest done record (what Undo takes back next), or null.
    [[nodiscard]] CUndoItem* GetUndoItem() const;
    // The oldest undone record (what Redo applies next), or null.
    [[nodiscard]] CUndoItem* GetRedoItem() const;
    // The view's Undo and Redo commands: UndoOneItem on GetUndoItem,
    // RedoOneItem on GetRedoItem. False when there is nothing to do or the
    // step failed.
    bool UndoLast();
    bool RedoNext();

    // The saved mark: the place in the list that matches the drawing's file
    // (after a load or save). Undo and Redo move away from it and back; a
    // push that drops the undone records up to it, or trims the record just
    // before it, loses it, and so does DeleteAllItems.
    void MarkSaved() { m_Saved = static_cast<int>(CountDone()); }
    void ForgetSaved() { m_Saved = kNoSavedMark; }
    [[nodiscard]] bool IsAtSavedMark() const { return m_Saved == static_cast<int>(CountDone()); }

private:
    static constexpr int kNoSavedMark = -1;
    void DeleteHead();
    [[nodiscard]] UINT CountDone() const;

    OArray<CUndoItem*> m_Items;  // owned
    std::uint16_t m_Depth;
    // How many done records the list held at the saved mark.
    int m_Saved = kNoSavedMark;
};

// Puts a record on a list that may be missing: without a list the record is
// deleted. True when the list took it.
bool PushUndoItem(CUndoList* list, std::unique_ptr<CUndoItem> item);

// ---- depths of a view's lists ---------------------------------------------

// The depths a view gives its raster and vector lists, from the settings
// "RasterUndoSteps" (1 to 10, else 5) and "VectorUndoSteps" (1 to 100, else
// 32), DWORD values under the program's "Option" key.
inline constexpr std::uint16_t kDefaultRasterUndoSteps = 5;
inline constexpr std::uint16_t kMaxRasterUndoSteps = 10;
inline constexpr std::uint16_t kDefaultVectorUndoSteps = 32;
inline constexpr std::uint16_t kMaxVectorUndoSteps = 100;
[[nodiscard]] std::uint16_t ReadRasterUndoSteps();
[[nodiscard]] std::uint16_t ReadVectorUndoSteps();
// Gives both lists (either may be null) their depths from the settings; a
// view calls it when it creates its lists.
void ApplyUndoStepSettings(CUndoList* rasterList, CUndoList* vectorList);

// ---- raster records -------------------------------------------------------

// A full copy of the image, taken before an operation that changes all of it.
// Undo and Redo exchange the copy with the live image without copying pixels.
class CRasterSrcUndoItem : public CUndoItem {
public:
    // Sends the status text "Create Raster undo date."; the saved copy is
    // missing when memory is short (TakeSnapshot then fails).
    CRasterSrcUndoItem(std::string name, CRasterSrc* raster);
    ~CRasterSrcUndoItem() override;

    // Copies the live image into the saved copy. False without a saved copy,
    // without a live image or when the copy fails.
    [[nodiscard]] bool TakeSnapshot();
    bool Undo() override { return Swap(); }
    bool Redo() override { return Swap(); }

    [[nodiscard]] const CRasterSrc* GetSavedCopy() const { return m_Saved.get(); }

private:
    bool Swap();

    std::unique_ptr<CRasterSrc> m_Saved;
    CRasterSrc* m_Raster;  // not owned
};

// Snapshots the raster and pushes the record, before a whole-image operation.
// True when the operation may go ahead: the snapshot is on the list, or there
// is no list to keep one. False, nothing pushed, when the copy failed.
[[nodiscard]] bool PushRasterUndo(CUndoList* list, const std::string& name, CRasterSrc* raster);

// A saved piece of an image that trades places with the pixels it covers:
// after SwapWith the image shows what the block held and the block holds what
// the image showed, so a second SwapWith undoes the first. A block that does
// not fit the image answers false and changes nothing. The raster editing
// keeps the pixels a brush stroke or a fill overwrote in such blocks.
class CRasterUndoBlock {
public:
    virtual ~CRasterUndoBlock() = default;
    [[nodiscard]] virtual bool SwapWith(CRasterSrc& image) = 0;
};

// The saved blocks of one brush stroke. Undo swaps them back from the last to
// the first, Redo from the first to the last; both succeed without a raster.
class CLocalRasterUndoItem : public CUndoItem {
public:
    CLocalRasterUndoItem(std::string name, CRasterSrc* raster) : CUndoItem(std::move(name)), m_Raster(raster) {}

    // False, the block deleted, for null or when memory is short.
    bool AddBlock(std::unique_ptr<CRasterUndoBlock> block);
    [[nodiscard]] std::size_t GetBlockCount() const { return m_Blocks.size(); }
    [[nodiscard]] CRasterUndoBlock* GetBlock(std::size_t i) const { return m_Blocks[i].get(); }
    [[nodiscard]] CRasterSrc* GetRaster() const { return m_Raster; }

    bool Undo() override;
    bool Redo() override;

private:
    CRasterSrc* m_Raster;  // not owned
    std::vector<std::unique_ptr<CRasterUndoBlock>> m_Blocks;
};

// The saved scan-line runs of a fill; Undo and Redo both swap them in order.
class CRasterScanLineUndoItem : public CUndoItem {
public:
    CRasterScanLineUndoItem(std::string name, CRasterSrc* raster) : CUndoItem(std::move(name)), m_Raster(raster) {}

    bool AddBlock(std::unique_ptr<CRasterUndoBlock> block);
    [[nodiscard]] std::size_t GetBlockCount() const { return m_Blocks.size(); }
    [[nodiscard]] CRasterSrc* GetRaster() const { return m_Raster; }

    bool Undo() override { return Swap(); }
    bool Redo() override { return Swap(); }

private:
    bool Swap();

    CRasterSrc* m_Raster;  // not owned
    std::vector<std::unique_ptr<CRasterUndoBlock>> m_Blocks;
};

// ---- drawing records ------------------------------------------------------

// The drawing's settings (kind 0) or a whole copy of its layers (kind 1).
// Undo and Redo both exchange the saved state with the drawing's.
class CGraphUndoItem : public CUndoItem {
public:
    enum Kind : std::uint32_t { KIND_SETTINGS = 0, KIND_DRAWING = 1 };

    explicit CGraphUndoItem(std::string name);
    ~CGraphUndoItem() override;

    // Records the drawing's present state. False for a null drawing, a kind
    // other than 0 or 1, or when the copy cannot be made.
    [[nodiscard]] bool Init(CGraph* drawing, std::uint32_t kind);
    bool Undo() override { return Swap(); }
    bool Redo() override { return Swap(); }

    [[nodiscard]] std::uint32_t GetKind() const { return m_Kind; }

    // The settings kind 0 keeps.
    struct Settings {
        std::uint32_t currentLayerId = 0;  // 0 = none
        bool showRaster = true;
        bool showVectors = true;
        bool modified = false;
        std::uint32_t objectSnapMask = 0;
        bool objectSnapOn = false;
        bool gridShown = false;
        frDoublePoint snapBase;
        double snapAngle = 0;
        double gridSpacingX = 0;
        double gridSpacingY = 0;
        bool ortho = false;
        std::int32_t currentColor = 256;
        double currentWidth = 0;
        std::uint32_t unit = 0;
    };
    [[nodiscard]] const Settings& GetSavedSettings() const { return m_Settings; }

private:
    static Settings Note(const CGraph& drawing);
    static void Apply(CGraph& drawing, const Settings& settings);
    bool Swap();

    std::uint32_t m_Kind = KIND_SETTINGS;
    CGraph* m_Target = nullptr;       // not owned
    std::unique_ptr<CGraph> m_Saved;  // kind 1
    Settings m_Settings;              // kind 0
};

// What happened to one entity.
enum VectorUndoKind : std::uint32_t {
    UNDO_ENTITY_ADDED = 0,
    UNDO_ENTITY_DELETED = 1,
    UNDO_ENTITY_MOVED = 2,  // to another layer
    UNDO_ENTITY_CHANGED = 3,
};

// One entity's change inside a CVectorUndoItem. Entities and layers are found
// by id, so records stay valid across the copies that undo makes.
class CVectorUndoData {
public:
    CVectorUndoData() = default;
    virtual ~CVectorUndoData();
    CVectorUndoData(const CVectorUndoData&) = delete;
    CVectorUndoData& operator=(const CVectorUndoData&) = delete;

    // Keeps a clone of the entity (selected flag cleared), its id, its
    // layer's id and the kind. False when the entity is null or cannot be
    // cloned.
    [[nodiscard]] bool Set(const CEntity* entity, std::uint32_t kind);

    // Both are all-or-nothing; false when the entity or layer needed is not
    // found, an entity of the id to restore is already there, a clone fails
    // or the kind is unknown.
    [[nodiscard]] bool Undo(CGraph& drawing);
    [[nodiscard]] bool Redo(CGraph& drawing);
    // The same, finding entities and layers through a lookup that a walk
    // over many records shares (undo_records.cpp).
    [[nodiscard]] bool Undo(CUndoLookup& lookup);
    [[nodiscard]] bool Redo(CUndoLookup& lookup);

    [[nodiscard]] std::uint32_t GetEntityId() const { return m_EntityId; }
    [[nodiscard]] std::uint32_t GetLayerId() const { return m_LayerId; }
    [[nodiscard]] std::uint32_t GetKind() const { return m_Kind; }
    [[nodiscard]] const CEntity* GetSavedCopy() const { return m_Saved.get(); }

private:
    bool RemoveEntity(CUndoLookup& lookup);
    bool RestoreEntity(CUndoLookup& lookup);
    bool SwapLayer(CUndoLookup& lookup);
    bool SwapState(CUndoLookup& lookup);

    std::uint32_t m_EntityId = 0;
    std::unique_ptr<CEntity> m_Saved;
    std::uint32_t m_LayerId = 0;
    std::uint32_t m_Kind = UNDO_ENTITY_ADDED;
};

// The per-entity changes of one editing command. Undo takes them back from
// the newest to the oldest; Redo applies them again from the oldest to the
// newest, so several records of one entity come back in their own order. A
// record that fails makes the whole item roll back to where it started.
// A walk costs one pass over the drawing plus constant time per record, so
// undoing the deletion of everything stays linear in the drawing's size.
class CVectorUndoItem : public CUndoItem {
public:
    CVectorUndoItem(std::string name, CGraph* drawing) : CUndoItem(std::move(name)), m_Drawing(drawing) {}
    ~CVectorUndoItem() override;

    // A new record of the entity as it is now, as the newest of the item.
    // False when it cannot be made.
    bool AddRecord(const CEntity* entity, std::uint32_t kind);
    bool AddEntity(const CEntity* entity, std::uint32_t kind) { return AddRecord(entity, kind); }
    // AddRecord for each entity in order; at the first failure every record
    // of the item is freed and the result is false.
    bool AddSelection(const std::vector<CEntity*>& entities, std::uint32_t kind);
    // Puts an existing record in as the newest; false for null.
    bool AddData(std::unique_ptr<CVectorUndoData> data);
    void FreeRecords();

    [[nodiscard]] std::size_t GetRecordCount() const { return m_Records.size(); }
    // Records from the oldest (0) to the newest.
    [[nodiscard]] const CVectorUndoData* GetRecord(std::size_t i) const { return m_Records[i].get(); }

    // True also for an empty item; false without a drawing.
    bool Undo() override;
    bool Redo() override;

private:
    CGraph* m_Drawing;                                        // not owned
    std::vector<std::unique_ptr<CVectorUndoData>> m_Records;  // oldest first
};
