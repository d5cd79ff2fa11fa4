// The base rows and information lines every entity shows (layer, colour,
// width), and the helpers the classes' own rows share.
//
// Rows: 0 the "Base Properties" heading, 1 layer, 2 colour and, for every
// class but lines and solids, 3 width. ApplyProperty answers a row past these
// with its class row number (row - 2 or row - 3), the class heading being 1.
#include <cmath>
#include <string>
#include <vector>

#include "model/color_index.h"
#include "model/entity.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/property_list.h"
#include "model/text_table.h"
#include "model/utilities.h"

// ---- shared helpers -------------------------------------------------------

double PixelsToDrawingUnit(const CGraph* drawing, double length)
{
    if (drawing)
        drawing->GetPixelsPerUnit(&length, nullptr, nullptr);
    return length;
}

bool ParseDrawingUnit(const CGraph* drawing, const std::string& text, double* pixels)
{
    double value = 0;
    if (!ParseDouble(text, value))
        return false;
    if (drawing)
        drawing->UnitsToPixels(&value, nullptr);
    if (!std::isfinite(value))
        return false;  // a huge number in inches
    *pixels = value;
    return true;
}

std::string UnitNameSuffix(const CGraph* drawing)
{
    std::string name;
    if (drawing)
        drawing->GetPixelsPerUnit(nullptr, nullptr, &name);
    return name.empty() ? name : " " + name;
}

std::string InfoNumber(double value, int decimals)
{
    return DoubleToString(value, static_cast<std::int16_t>(decimals));
}

namespace {
constexpr char kChoiceSeparator = '|';
constexpr char kChoiceEscape = '\\';
}  // namespace

std::string JoinChoices(const std::vector<std::string>& choices)
{
    std::string joined;
    for (const std::string& choice : choices) {
        if (&choice != &choices.front())
            joined += kChoiceSeparator;
        for (const char c : choice) {
            if (c == kChoiceSeparator || c == kChoiceEscape)
                joined += kChoiceEscape;
            joined += c;
        }
    }
    return joined;
}

std::vector<std::string> SplitChoices(const std::string& choices)
{
    std::vector<std::string> items;
    std::string item;
    bool open = false;  // a choice has begun and not yet been taken
    for (std::size_t i = 0; i < choices.size(); ++i) {
        const char c = choices[i];
        if (c == kChoiceSeparator) {
            items.push_back(std::move(item));
            item.clear();
            open = false;
            continue;
        }
        // A lone escape at the very end stands for itself.
        if (c == kChoiceEscape && i + 1 < choices.size())
            item += choices[++i];
        else
            item += c;
        open = true;
    }
    if (open)
        items.push_back(std::move(item));
    return items;
}

std::string LayerChoices(const CGraph* drawing, const CLayer* layer)
{
    std::vector<std::string> names;
    if (drawing == nullptr) {
        if (layer)
            names.push_back(layer->GetName());
    } else {
        for (const CLayer* l = drawing->GetFirstLayer(); l; l = l->GetNext())
            names.push_back(l->GetName());
    }
    return JoinChoices(names);
}

int NoteAppliedEdit(CGraph* drawing, int code)
{
    // Also drops the drawing's extents cache, which an edited entity outgrows.
    if (drawing)
        drawing->SetModified(true);
    return code;
}

// ---- CEntity --------------------------------------------------------------

namespace {

// Lines and solids show no width row; their class rows start one earlier.
bool HasWidthRow(EntityType type) { return type != ENTITY_LINE && type != ENTITY_SOLID; }

bool IsOwnColorIndex(int color) { return color >= 1 && color <= 255; }

std::string ColorName(int index)
{
    std::string name;
    (void)ColorIndexToRGB(index, &name, true);
    return name;
}

}  // namespace

void CEntity::GetInfo(std::vector<std::string>* lines)
{
    if (lines == nullptr || m_Layer == nullptr)
        return;
    lines->push_back("    " + GetLanString("EntityLayer", "Layer") + ": " + m_Layer->GetName());
    const std::string label = "    " + GetLanString("EntityColor", "Color") + ": ";
    if (IsOwnColorIndex(m_Color))
        lines->push_back(label + ColorName(m_Color));
    else
        lines->push_back(label + GetLanString("EntityColorByLayer", "ByLayer") + " (" + ColorName(m_Layer->GetColor()) +
                         ")");
}

void CEntity::FillProperties(CPropertyList* list, const CSelectNode* owner)
{
    (void)owner;
    if (list == nullptr || m_Layer == nullptr)
        return;
    const CGraph* drawing = GetGraph();
    list->AddCategory(GetLanString("PropBase", "Base Properties"));
    list->AddPropItem(GetLanString("PropLayerName", "Layer"), m_Layer->GetName(), PROP_CHOICE,
                      LayerChoices(drawing, m_Layer));
    // The swatch shows the colour drawn with; the text names the setting.
    list->AddColorIndexItem(GetLanString("PropColorName", "Color"), GetDrawColorIndex(), ColorName(m_Color));
    if (HasWidthRow(m_Type))
        list->AddPropItem(GetLanString("PropWidthName", "Width"),
                          DoubleToString(PixelsToDrawingUnit(drawing, GetWidth()), 6), PROP_TEXT, "");
}

int CEntity::ApplyProperty(CGraph* drawing, int row, int value, const std::string& text, CPropertyRow* record,
                           const CSelectNode* owner)
{
    (void)owner;
    if (row < 1)
        return PROP_REFUSED;
    if (row == 1) {
        // The caller moves the entity; the same layer is no change.
        if (m_Layer == nullptr || LayerNamesEqual(text, m_Layer->GetName()))
            return PROP_REFUSED;
        return PROP_LAYER_CHANGED;
    }
    if (row == 2) {
        const int color = value >= 1 && value <= 256 ? value : ENTITY_COLOR_BY_LAYER;
        if (color == m_Color)
            return PROP_REFUSED;
        m_Color = static_cast<std::int16_t>(color);
        if (record) {
            record->number = GetDrawColorIndex();
            record->value = ColorName(m_Color);
        }
        return NoteAppliedEdit(drawing, PROP_APPLIED);
    }
    if (!HasWidthRow(m_Type))
        return row - 2;
    if (row > 3)
        return row - 3;

    double width = 0;
    if (!ParseDrawingUnit(drawing, text, &width) || width < 0 || width == GetWidth())
        return PROP_REFUSED;
    SetWidth(width);
    m_Modified = true;
    // A polyline shows its vertex widths in its own rows, which now are stale.
    return NoteAppliedEdit(drawing, PROP_GEOMETRY_CHANGED);
}
