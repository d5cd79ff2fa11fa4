#pragma once
// A property list for tests: keeps every row it is given, numbered in order.
//
//   CRecordingPropertyList list;
//   entity.FillProperties(&list);
//   EXPECT_EQ(list.Names(), (std::vector<std::string>{"Base Properties", "Layer", ...}));
#include <string>
#include <vector>

#include "model/property_list.h"

class CRecordingPropertyList : public CPropertyList {
public:
    std::vector<CPropertyRow> rows;

    int AddCategory(const std::string& heading) override { return Add(heading, "", PROP_CATEGORY); }
    int AddPropItem(const std::string& name, const std::string& value, int kind, const std::string& choices) override
    {
        return Add(name, value, kind, choices);
    }
    int AddColorIndexItem(const std::string& name, int colorIndex, const std::string& colorName) override
    {
        return Add(name, colorName, PROP_COLOR_INDEX, "", colorIndex);
    }
    int AddSpinItem(const std::string& name, int value, int minimum, int maximum) override
    {
        return Add(name, std::to_string(value), PROP_SPIN, "", value, minimum, maximum);
    }
    void RemoveAllRows() override { rows.clear(); }
    int GetRowCount() const override { return static_cast<int>(rows.size()); }
    CPropertyRow* GetRow(int n) override
    {
        return n >= 0 && n < GetRowCount() ? &rows[static_cast<std::size_t>(n)] : nullptr;
    }

    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const CPropertyRow& row : rows)
            names.push_back(row.name);
        return names;
    }
    std::vector<int> Kinds() const
    {
        std::vector<int> kinds;
        for (const CPropertyRow& row : rows)
            kinds.push_back(row.kind);
        return kinds;
    }
    // The number of the row with that name (the first one), or -1.
    int Find(const std::string& name) const
    {
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (rows[i].name == name)
                return static_cast<int>(i);
        return -1;
    }
    const std::string& Value(const std::string& name) const
    {
        return rows.at(static_cast<std::size_t>(Find(name))).value;
    }

private:
    int Add(const std::string& name, const std::string& value, int kind, const std::string& choices = "",
            int number = 0, int minimum = 0, int maximum = 0)
    {
        CPropertyRow row;
        row.name = name;
        row.value = value;
        row.kind = kind;
        row.choices = choices;
        row.number = number;
        row.minimum = minimum;
        row.maximum = maximum;
        rows.push_back(row);
        return GetRowCount() - 1;
    }
};
