// The property rows of the selection, or the drawing's own rows when nothing
// is selected, and an edited row applied to them with undo.
#include <array>
#include <cmath>
#include <memory>
#include <new>
#include <string>

#include "model/color_index.h"
#include "model/edit_commands.h"
#include "model/entity.h"
#include "model/geometry.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/property_list.h"
#include "model/text_table.h"
#include "model/undo.h"
#include "model/utilities.h"
#include "raster/raster_entity.h"

namespace {
// Rows of the drawing's own property list.
enum DrawingRow : int { ROW_CURRENT_LAYER = 1, ROW_CURRENT_COLOR = 2, ROW_CURRENT_WIDTH = 3, ROW_UNIT = 4 };
// The first row of an entity that changes its shape (and so its grips).
constexpr int kFirstGeometryRow = 4;

// The unit names in unit order: inch, cm, mm, pixel.
std::array<std::string, UNIT_LAST + 1> UnitNames()
{
    return {GetLanString("UnitNameInch", "Inch"), GetLanString("UnitNamecm", "cm"), GetLanString("UnitNamemm", "mm"),
            GetLanString("UnitNamePixel", "Pixel")};
}

std::uint32_t UnitFromName(const std::string& text)
{
    const auto names = UnitNames();
    for (std::uint32_t unit = UNIT_INCH; unit < UNIT_PIXEL; ++unit)
        if (LayerNamesEqual(text, names[unit]))
            return unit;
    return UNIT_PIXEL;
}

bool HasRasterImage(const CGraph& drawing)
{
    const CRaster* raster = drawing.GetRaster();
    return raster != nullptr && !raster->GetImage().IsEmpty();
}
}  // namespace

std::unique_ptr<CGraphUndoItem> NewSettingsUndo(CGraph* drawing, const char* key, const char* english)
{
    std::unique_ptr<CGraphUndoItem> item(new (std::nothrow) CGraphUndoItem(GetLanString(key, english)));
    if (item && !item->Init(drawing, CGraphUndoItem::KIND_SETTINGS))
        item.reset();
    return item;
}

void CGraph::FillProperties(CPropertyList* list)
{
    // A grip left current would take the next edit of the grid.
    if (m_CurrentGrip)
        m_CurrentGrip->current = 0;
    m_CurrentGrip = nullptr;
    if (list == nullptr)
        return;
    if (!m_Selection.IsEmpty()) {
        m_Selection.FillProperties(list);
        return;
    }
    // Added in the order of the rows ApplyProperty takes: heading 0, layer 1,
    // colour 2, width 3, unit 4.
    list->AddCategory(GetLanString("PropDrawing", "Drawing Properties"));
    list->AddPropItem(GetLanString("PropCurLayerName", "Current Layer"),
                      m_CurrentLayer ? m_CurrentLayer->GetName() : std::string(), PROP_CHOICE,
                      LayerChoices(this, m_CurrentLayer));
    std::string colorName;
    (void)ColorIndexToRGB(m_CurrentColor, &colorName, false);
    const int swatch = m_CurrentColor == kColorByLayer && m_CurrentLayer ? m_CurrentLayer->GetColor() : m_CurrentColor;
    list->AddColorIndexItem(GetLanString("PropCurColorName", "Current Color"), swatch, colorName);
    list->AddPropItem(GetLanString("PropCurWidthName", "Current Width"),
                      DoubleToString(PixelsToDrawingUnit(this, m_CurrentWidth), 6), PROP_TEXT, "");
    if (!HasRasterImage(*this))
        return;
    const auto names = UnitNames();
    list->AddPropItem(GetLanString("PropCurUnitName", "Current Unit"), names[m_Unit <= UNIT_LAST ? m_Unit : UNIT_PIXEL],
                      PROP_CHOICE, JoinChoices({names.begin(), names.end()}));
}

int CGraph::ApplyProperty(int row, int value, const std::string& text, CPropertyRow* record)
{
    if (row < 1)
        return PROP_REFUSED;

    if (!m_Selection.IsEmpty()) {
        std::unique_ptr<CVectorUndoItem> item(
            new (std::nothrow) CVectorUndoItem(GetLanString("UndoModifyVector", "Modify Vectors"), this));
        const std::uint32_t kind = row == ROW_CURRENT_LAYER ? UNDO_ENTITY_MOVED : UNDO_ENTITY_CHANGED;
        const bool recorded = item && item->AddSelection(m_Selection.GetEntities(), kind);
        if (!recorded && m_VectorUndo)
            return PROP_REFUSED;
        bool changed = false;
        const int result = m_Selection.ApplyProperty(this, row, value, text, record, &changed);
        // A refused edit pushes nothing: that would throw away the redo steps.
        if (!changed)
            return result;
        SetModified(true);
        if (recorded)
            (void)PushUndoItem(m_VectorUndo, std::move(item));
        if (m_Selection.IsSingle() && row >= kFirstGeometryRow)
            RebuildSelectionGrips(*this, {m_Selection.GetHead()});
        return result;
    }

    switch (row) {
    case ROW_CURRENT_LAYER: {
        auto item = NewSettingsUndo(this, "UndoCurLayer", "Change Current Layer");
        if (!item && m_VectorUndo)
            return PROP_REFUSED;
        if (!SetCurrentLayerByName(text))
            return PROP_REFUSED;
        (void)PushUndoItem(m_VectorUndo, std::move(item));
        return PROP_GEOMETRY_CHANGED;
    }
    case ROW_CURRENT_COLOR: {
        const int color = value < 1 || value > kColorByLayer ? kColorByLayer : value;
        if (color != m_CurrentColor) {
            auto item = NewSettingsUndo(this, "UndoCurColor", "Change Current Color");
            if (!item && m_VectorUndo)
                return PROP_REFUSED;
            (void)SetCurrentColor(color);
            (void)PushUndoItem(m_VectorUndo, std::move(item));
        }
        if (record) {
            std::string name;
            (void)ColorIndexToRGB(color, &name, false);
            record->value = name;
            record->number = color == kColorByLayer && m_CurrentLayer ? m_CurrentLayer->GetColor() : color;
        }
        return PROP_APPLIED;
    }
    case ROW_CURRENT_WIDTH: {
        double width = 0;
        if (!ParseDouble(text, width) || width < 0)
            return PROP_REFUSED;
        UnitsToPixels(&width, nullptr);
        if (!std::isfinite(width))
            return PROP_REFUSED;
        if (width != m_CurrentWidth) {
            auto item = NewSettingsUndo(this, "UndoCurWidth", "Change Current Width");
            if (!item && m_VectorUndo)
                return PROP_REFUSED;
            (void)SetCurrentWidth(width);
            (void)PushUndoItem(m_VectorUndo, std::move(item));
        }
        return PROP_APPLIED;
    }
    case ROW_UNIT: {
        const std::uint32_t unit = UnitFromName(text);
        if (unit == m_Unit)
            return PROP_REFUSED;
        auto item = NewSettingsUndo(this, "UndoCurUnit", "Change Current Unit");
        if (!item && m_VectorUndo)
            return PROP_REFUSED;
        (void)SetUnit(unit);
        (void)PushUndoItem(m_VectorUndo, std::move(item));
        return PROP_GEOMETRY_CHANGED;
    }
    default: return PROP_REFUSED;
    }
}
