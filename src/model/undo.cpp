// Undo lists, the undo and redo steps of the view, and the status text they
// show. The record classes are in undo_records.cpp.
#include "model/undo.h"

#include <atomic>

#include "model/text_table.h"
#include "platform/message_box.h"
#include "platform/settings_store.h"

// ---- status text ----------------------------------------------------------

namespace {
std::atomic<HWND> g_MainStatusWindow{nullptr};
}  // namespace

void SetMainStatusWindow(HWND window) { g_MainStatusWindow.store(window); }

HWND GetMainStatusWindow() { return g_MainStatusWindow.load(); }

void SendStatusText(const std::string& text)
{
    HWND window = GetMainStatusWindow();
    // SendMessage waits until the text has been shown, so it may point into
    // this string.
    if (window && IsWindow(window)) {
        SendMessage(window, WM_APP_STATUSTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        return;
    }
    ShowStatusText(text);
}

// ---- one step -------------------------------------------------------------

namespace {
void ReportFailedStep(const char* key, const char* english, const CUndoItem& item)
{
    ShowMessageBox(GetLanString(key, english) + item.GetName(), "Lineweft", MB_OK | MB_ICONWARNING);
}
}  // namespace

bool UndoOneItem(CUndoItem* item)
{
    if (item == nullptr || !item->IsDone())
        return false;
    SendStatusText("Undo: " + item->GetName());
    // The flag follows the drawing: a record that could not be taken back is
    // still in effect.
    if (!item->Undo()) {
        ReportFailedStep("UndoFailedMsg", "Could not undo: ", *item);
        return false;
    }
    item->SetDone(false);
    return true;
}

bool RedoOneItem(CUndoItem* item)
{
    if (item == nullptr || item->IsDone())
        return false;
    SendStatusText("Redo: " + item->GetName());
    if (!item->Redo()) {
        ReportFailedStep("RedoFailedMsg", "Could not redo: ", *item);
        return false;
    }
    item->SetDone(true);
    return true;
}

// ---- the list -------------------------------------------------------------

CUndoList::CUndoList(std::uint16_t depth) : m_Depth(depth < 1 ? 1 : depth) {}

CUndoList::~CUndoList() { DeleteAllItems(); }

void CUndoList::SetDepth(std::uint16_t depth)
{
    m_Depth = depth < 1 ? 1 : depth;
    while (m_Items.GetCount() > m_Depth)
        DeleteHead();
}

void CUndoList::DeleteHead()
{
    if (auto* node = m_Items.GetHead()) {
        delete node->value;
        m_Items.RemoveHead();
        // The saved place moves with the records; the one before the head
        // can no longer be reached.
        m_Saved = m_Saved > 0 ? m_Saved - 1 : kNoSavedMark;
    }
}

void CUndoList::DeleteAllItems()
{
    for (auto* node = m_Items.GetHead(); node; node = node->next)
        delete node->value;
    m_Items.RemoveAll();
    m_Saved = kNoSavedMark;
}

UINT CUndoList::CountDone() const
{
    UINT done = 0;
    for (auto* node = m_Items.GetHead(); node && node->value->IsDone(); node = node->next)
        ++done;
    return done;
}

bool CUndoList::PushItem(std::unique_ptr<CUndoItem> item)
{
    // Undone records sit at the back; a new change ends what could be redone,
    // the saved place among them too.
    if (m_Saved > static_cast<int>(CountDone()))
        m_Saved = kNoSavedMark;
    m_Items.MoveToHead();
    while (CUndoItem** current = m_Items.GetCurrent()) {
        if ((*current)->IsDone()) {
            m_Items.MoveNext();
        } else {
            delete *current;
            m_Items.RemoveCurrent();
        }
    }
    // The depth is at least 1, so this makes room for the new record.
    while (m_Items.GetCount() >= m_Depth)
        DeleteHead();
    bool pushed = false;
    if (item && m_Items.AddTail(item.get())) {
        item.release();
        pushed = true;
    }
    m_Items.MoveToTail();
    return pushed;
}

CUndoItem* CUndoList::GetAt(UINT index) const
{
    UINT i = 0;
    for (auto* node = m_Items.GetHead(); node; node = node->next, ++i)
        if (i == index)
            return node->value;
    return nullptr;
}

CUndoItem* CUndoList::GetUndoItem() const
{
    for (auto* node = m_Items.GetTail(); node; node = node->prev)
        if (node->value->IsDone())
            return node->value;
    return nullptr;
}

CUndoItem* CUndoList::GetRedoItem() const
{
    for (auto* node = m_Items.GetHead(); node; node = node->next)
        if (!node->value->IsDone())
            return node->value;
    return nullptr;
}

bool CUndoList::UndoLast() { return UndoOneItem(GetUndoItem()); }

bool CUndoList::RedoNext() { return RedoOneItem(GetRedoItem()); }

bool PushUndoItem(CUndoList* list, std::unique_ptr<CUndoItem> item)
{
    // Without a list the unique_ptr deletes the record here.
    return list != nullptr && list->PushItem(std::move(item));
}

// ---- depths of a view's lists ---------------------------------------------

namespace {
const char* const kUndoStepsKey = "Software\\Korvane\\Lineweft\\Option";

// The stored value when it lies in 1..maximum, else the default.
std::uint16_t ReadUndoSteps(const char* name, std::uint16_t fallback, std::uint16_t maximum)
{
    CSettingsKey key;
    DWORD steps = 0;
    if (!key.Open(kUndoStepsKey) || !key.QueryDword(name, steps) || steps < 1 || steps > maximum)
        return fallback;
    return static_cast<std::uint16_t>(steps);
}
}  // namespace

std::uint16_t ReadRasterUndoSteps()
{
    return ReadUndoSteps("RasterUndoSteps", kDefaultRasterUndoSteps, kMaxRasterUndoSteps);
}

std::uint16_t ReadVectorUndoSteps()
{
    return ReadUndoSteps("VectorUndoSteps", kDefaultVectorUndoSteps, kMaxVectorUndoSteps);
}

void ApplyUndoStepSettings(CUndoList* rasterList, CUndoList* vectorList)
{
    if (rasterList)
        rasterList->SetDepth(ReadRasterUndoSteps());
    if (vectorList)
        vectorList->SetDepth(ReadVectorUndoSteps());
}
