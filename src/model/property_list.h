#pragma once
// The property list: the grid of rows in which the selected entity (or the
// drawing) shows its properties and takes edits back.
//
// Rows are numbered in the order they are added, from 0; the first row an
// entity adds is its "Base Properties" heading. When the user edits a row the
// list hands that number, the row's integer value (choice index, spin value or
// colour index) and its text to the entity's ApplyProperty together with the
// row record, and reads the answer:
//   -1 refused (bad text, out of range, unchanged, not editable): the list
//      shows the row's old value again;
//   -2 the layer row named another layer: the caller moves the entity;
//   -3 the geometry changed: the caller redraws and fills the rows again;
//    0 applied;
//   >0 a row past the rows of the class that answered, numbered for a
//      derived class. A finished entity never answers it; callers treat it
//      like -1.
//
// The model only adds rows; the desktop widget shows them, the tests record
// them. Nothing here knows a widget.
#include <string>
#include <vector>

// Kinds of rows, as the grid shows them.
enum PropItemKind : int {
    PROP_CATEGORY = -1,    // heading, no value
    PROP_CHOICE = 0,       // one of the texts of the choices (JoinChoices)
    PROP_TEXT = 1,         // editable text
    PROP_READ_ONLY = 3,    // value shown without an editor
    PROP_SPIN = 4,         // integer within [minimum, maximum]
    PROP_COLOR_INDEX = 8,  // colour index with its swatch
    PROP_BUTTON = 9,       // a button; the value is empty
};

// Answers of ApplyProperty.
constexpr int PROP_REFUSED = -1;
constexpr int PROP_LAYER_CHANGED = -2;
constexpr int PROP_GEOMETRY_CHANGED = -3;
constexpr int PROP_APPLIED = 0;

// One row of the list. ApplyProperty may update the record of the row it
// applied (the colour row takes the effective colour and its name).
struct CPropertyRow {
    std::string name;
    std::string value;  // the shown text; a colour row's colour name
    int kind = PROP_READ_ONLY;
    std::string choices;  // PROP_CHOICE only, as JoinChoices writes them
    int number = 0;       // spin value or colour index
    int minimum = 0;      // PROP_SPIN range
    int maximum = 0;
};

class CPropertyList {
public:
    virtual ~CPropertyList() = default;

    // Each appends one row and returns its number.
    virtual int AddCategory(const std::string& heading) = 0;
    virtual int AddPropItem(const std::string& name, const std::string& value, int kind,
                            const std::string& choices) = 0;
    // The swatch shows colourIndex; colourName is the row's text.
    virtual int AddColorIndexItem(const std::string& name, int colorIndex, const std::string& colorName) = 0;
    virtual int AddSpinItem(const std::string& name, int value, int minimum, int maximum) = 0;

    // Empties the list before it is filled again.
    virtual void RemoveAllRows() = 0;
    [[nodiscard]] virtual int GetRowCount() const = 0;
    // Row n, or null outside 0..count-1.
    [[nodiscard]] virtual CPropertyRow* GetRow(int n) = 0;
};

// ---- helpers the entities' rows share (entity_properties.cpp) -------------

class CGraph;
class CLayer;

// A length or coordinate in raster pixels shown in the drawing's unit
// (unchanged without a drawing).
[[nodiscard]] double PixelsToDrawingUnit(const CGraph* drawing, double length);
// A number the user typed (user's decimal separator) in the drawing's unit,
// in raster pixels. False, pixels untouched, for text that is not a number
// or a number too large to convert.
[[nodiscard]] bool ParseDrawingUnit(const CGraph* drawing, const std::string& text, double* pixels);
// " " and the unit's display name, or empty for pixels and without a raster.
[[nodiscard]] std::string UnitNameSuffix(const CGraph* drawing);
// A number of an information line: fixed with the decimals, in the user's
// decimal separator. Labels are joined to it, never used as formats.
[[nodiscard]] std::string InfoNumber(double value, int decimals = 3);
// The choices of a choice row as one text: separated by "|", each choice's
// own "|" and "\" written "\|" and "\\", so that any text comes back whole
// (a DXF layer name may hold either: "Site|Walls" names a layer of an
// attached drawing). Splitting reads a trailing "|" as no empty choice.
[[nodiscard]] std::string JoinChoices(const std::vector<std::string>& choices);
[[nodiscard]] std::vector<std::string> SplitChoices(const std::string& choices);
// The names of the drawing's layers in list order as choices ("a|b"); the
// layer's own name without a drawing.
[[nodiscard]] std::string LayerChoices(const CGraph* drawing, const CLayer* layer);
// Marks the drawing (may be null) modified and returns code: the last step
// of every edit that was applied.
int NoteAppliedEdit(CGraph* drawing, int code);
