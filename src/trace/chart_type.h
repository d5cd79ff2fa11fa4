#pragma once
// A chart type: a named set of the centre-line method's parameters, that is
// which post-processing steps run and with which distances, widths and
// angles. Three presets are built in ("pre_Default", "pre_Engineering",
// "pre_Topography"); users keep their own under "OptionList" in the settings
// store. The current one is the first member of the option record; a change
// of a single value away from the named set renames it "Unnamed".
//
// The series are held by value and copied deeply.
#include <string>
#include <vector>

#include "trace/series.h"

class CChartType {
public:
    std::string Name;
    bool b_CalcWidth = false;  // measure line widths and round them to WidthSeries
    CWidthSeries WidthSeries;
    bool b_DelLine = false;    // remove short lines
    int i_DelLine_Length = 0;  // below this length; never negative
    bool b_RecogniseCirArc = false;
    double d_MaxDis = 0;        // straighten distance; 0 switches straightening off
    bool b_ForceOrtho = false;  // adjust angles to AngleSeries
    CAngleSeries AngleSeries;
    bool b_Connect = false;  // connect line ends
    int i_ConDis = 0;        // within this distance; never negative

    void Copy(const CChartType& other);

    // Presets set their name and the fields they hold; the rest stays.
    void SetDefaultPreset();
    void SetEngineeringPreset();
    void SetTopographyPreset();
    // Sets the preset of that name; false when it names none.
    bool SetPreset(const std::string& name);
    [[nodiscard]] static bool IsPresetName(const std::string& name);

    // The presets by name, else the settings key "OptionList\<name>"; false
    // and nothing changed when neither exists.
    [[nodiscard]] bool LoadFromRegistry(const std::string& name);
    [[nodiscard]] bool SaveToRegistry() const;
    static std::vector<std::string> EnumRegistryNames();
    static bool DeleteFromRegistry(const std::string& name);
};

// The name a chart type gets when one of its values leaves the named set.
[[nodiscard]] std::string UnnamedChartName();
