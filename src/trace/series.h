#pragma once
// The two named value sets that steer the post-processing of centre lines.
//
// A width series lists the line widths that measured widths are rounded to.
// Invariant: the widths are finite, ascending, and no two lie within
// POINT_TOLERANCE of each other; AddWidth keeps it, so every load goes
// through AddWidth.
//
// An angle series lists main angles (radians), each with a capture range
// [minimum, maximum]; a segment whose angle falls in a range is turned to the
// main angle. Invariant: the items are ordered by main angle, every value is
// finite, and neighbouring ranges may touch but never overlap; AddItem keeps
// it.
//
// Both are stored by name in the settings store (option_store.cpp) and copy
// deeply: a copy never shares its list with the source.
#include <string>
#include <vector>

#include "model/list.h"
#include "platform/win_types.h"

// Units of a width series.
enum : UINT { WIDTH_UNIT_INCH = 0, WIDTH_UNIT_CM = 1, WIDTH_UNIT_MM = 2, WIDTH_UNIT_PIXEL = 3 };
// What happens to a width beyond the last value of a series.
enum : UINT { MORE_WIDTH_SHRINK = 0, MORE_WIDTH_KEEP = 1, MORE_WIDTH_CONTINUE = 2 };

// Stored counts above this are taken as damage, not as data.
inline constexpr UINT kMaxSeriesCount = 4096;

class CWidthSeries {
public:
    CWidthSeries() = default;
    CWidthSeries(const CWidthSeries& other) { Copy(other); }
    CWidthSeries& operator=(const CWidthSeries& other)
    {
        Copy(other);
        return *this;
    }

    std::string Name;
    UINT Unit = WIDTH_UNIT_MM;
    UINT MoreWidth = MORE_WIDTH_CONTINUE;
    OArray<double> Widths;  // keep the invariant: add through AddWidth

    void SetMoreWidth(int v);
    // False when w is not finite or a width within POINT_TOLERANCE exists;
    // else w is inserted before the first larger width.
    bool AddWidth(double w);
    void Clear();  // no widths, empty name
    void Copy(const CWidthSeries& other);
    // Sets a non-empty name that differs (case-sensitively).
    bool Rename(const std::string& name);
    // "Default": millimetres 0, 0.5, 1.0, 2.0, keeping measured widths beyond.
    void SetDefault();

    std::vector<double> GetWidths() const;
    // w and the result in pixels; resolution in dots per metre.
    [[nodiscard]] double RoundToSeries(double w, double resolution) const;

    // Settings store, key "WidthSeries\<name>".
    [[nodiscard]] bool LoadFromRegistry(const std::string& name);
    [[nodiscard]] bool SaveToRegistry() const;
    static std::vector<std::string> EnumRegistryNames();
    [[nodiscard]] static bool IsStored(const std::string& name);
    static bool DeleteFromRegistry(const std::string& name);
};

struct CAngleItem {
    double MainAngle = 0;
    double MaxAngle = 0;
    double MinAngle = 0;
};

class CAngleSeries {
public:
    CAngleSeries() = default;
    CAngleSeries(const CAngleSeries& other) { Copy(other); }
    CAngleSeries& operator=(const CAngleSeries& other)
    {
        Copy(other);
        return *this;
    }
    ~CAngleSeries();

    std::string Name;
    OArray<CAngleItem> Items;  // keep the invariant: change through the members below

    // False for a non-finite value or a main angle outside its range (within
    // POINT_TOLERANCE). An item with the same main angle is replaced when the
    // new range fits between that item's neighbours; a new item is inserted
    // in order when its range overlaps neither neighbour.
    bool AddItem(const CAngleItem& item);
    bool RemoveAt(UINT i);
    // Replaces item i when the new range overlaps neither neighbour; no
    // re-ordering and no check of the main angle against the range.
    bool ModifyAt(UINT i, const CAngleItem& item);
    void Clear();  // no items, empty name
    void Copy(const CAngleSeries& other);
    bool Rename(const std::string& name);

    // The first item whose range holds a and whose main angle is not a turns a
    // into its main angle; false when there is none.
    bool FindMainAngle(double& a) const;

    std::vector<CAngleItem> GetItems() const;
    UINT GetCount() const { return Items.GetCount(); }

    // The built-in series.
    void SetDefault();       // "Default"
    void SetOrtho();         // "Ortho series"
    void SetTinilyAdjust();  // "Tinily Adjust"
    // Sets the preset of that name (compared without regard to case); false
    // when it names none.
    bool SetPreset(const std::string& name);
    [[nodiscard]] static bool IsPresetName(const std::string& name);

    // Settings store, key "AngleSeries\<name>".
    [[nodiscard]] bool LoadFromRegistry(const std::string& name);
    [[nodiscard]] bool Reload() { return LoadFromRegistry(std::string(Name)); }
    [[nodiscard]] bool SaveToRegistry() const;
    static std::vector<std::string> EnumRegistryNames();
    [[nodiscard]] static bool IsStored(const std::string& name);
    static bool DeleteFromRegistry(const std::string& name);

private:
    bool SetItems(const std::vector<CAngleItem>& items);
};

// Names are compared as the settings store compares them.
[[nodiscard]] bool SeriesNamesEqual(const std::string& a, const std::string& b);
