#pragma once
// CPropertyListWidget: the property list (model/property_list.h) as a grid
// of rows: a name and an editor per row, headings across both columns. An
// edit hands the row's number, its integer value and its text to the apply
// handler (the selection's or the drawing's ApplyProperty) and then shows
// the row as the answer leaves it: a refused edit shows the old value again.
//
//   list.SetApplyHandler([&](int row, int value, const std::string& text, CPropertyRow* record) {
//       return entity->ApplyProperty(drawing, row, value, text, record);
//   });
//   entity->FillProperties(&list);
//
// The handler may empty and refill the list (after PROP_GEOMETRY_CHANGED);
// editors of removed rows are deleted once control is back in the event
// loop, so a handler called from an editor's signal is safe. RowApplied
// tells the answer afterwards, for callers that would rather refill then.
#include <QScrollArea>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/property_list.h"

class QGridLayout;
class QLabel;

class CPropertyListWidget : public QScrollArea, public CPropertyList {
    Q_OBJECT
public:
    // (row number, integer value, text, the row's record) -> the answer of
    // ApplyProperty (model/property_list.h).
    using ApplyHandler = std::function<int(int row, int value, const std::string& text, CPropertyRow* record)>;

    explicit CPropertyListWidget(QWidget* parent = nullptr);
    ~CPropertyListWidget() override;

    void SetApplyHandler(ApplyHandler handler) { m_apply = std::move(handler); }

    // CPropertyList
    int AddCategory(const std::string& heading) override;
    int AddPropItem(const std::string& name, const std::string& value, int kind, const std::string& choices) override;
    int AddColorIndexItem(const std::string& name, int colorIndex, const std::string& colorName) override;
    int AddSpinItem(const std::string& name, int value, int minimum, int maximum) override;
    void RemoveAllRows() override;
    [[nodiscard]] int GetRowCount() const override { return static_cast<int>(m_rows.size()); }
    [[nodiscard]] CPropertyRow* GetRow(int n) override;

    // An edit of row n, as its editor makes it: answers the handler's code,
    // PROP_REFUSED for a row without an editor or without a handler.
    int ApplyRow(int n, int value, const std::string& text);

    // The widgets of row n (null outside): the value's editor (a QComboBox
    // for choices, a QLineEdit for text, a QLabel for read-only values and
    // headings, a QSpinBox, a colour picker holding a swatch QLabel and a
    // QComboBox, a QPushButton) and the name's label (null for headings and
    // buttons, which span the row).
    [[nodiscard]] QWidget* GetEditor(int n) const;
    [[nodiscard]] QLabel* GetNameLabel(int n) const;

signals:
    void RowApplied(int row, int code);

private:
    struct CRowEntry;

    int AddRow(CPropertyRow record);
    void MakeWidgets(int n, CRowEntry& entry);
    QWidget* MakeChoiceEditor(int n, const CPropertyRow& record);
    QWidget* MakeTextEditor(int n, const CPropertyRow& record);
    QWidget* MakeSpinEditor(int n, const CPropertyRow& record);
    QWidget* MakeColorEditor(int n, const CPropertyRow& record);
    QWidget* MakeButton(int n, const CPropertyRow& record);
    void ShowRecord(CRowEntry& entry);
    void NewContent();

    ApplyHandler m_apply;
    std::vector<std::unique_ptr<CRowEntry>> m_rows;
    QWidget* m_content = nullptr;
    QGridLayout* m_grid = nullptr;
    // Counts the fills, so that an edit can tell whether its handler
    // refilled the list.
    std::uint64_t m_generation = 0;
};
