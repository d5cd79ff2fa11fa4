#include "trace/chart_type.h"

#include "model/text_table.h"

std::string UnnamedChartName() { return GetLanString("ChartTypeNunamed", "Unnamed"); }

void CChartType::Copy(const CChartType& other)
{
    if (&other == this)
        return;
    Name = other.Name;
    b_CalcWidth = other.b_CalcWidth;
    WidthSeries.Copy(other.WidthSeries);
    b_DelLine = other.b_DelLine;
    i_DelLine_Length = other.i_DelLine_Length;
    b_RecogniseCirArc = other.b_RecogniseCirArc;
    d_MaxDis = other.d_MaxDis;
    b_ForceOrtho = other.b_ForceOrtho;
    AngleSeries.Copy(other.AngleSeries);
    b_Connect = other.b_Connect;
    i_ConDis = other.i_ConDis;
}

void CChartType::SetDefaultPreset()
{
    Name = "pre_Default";
    d_MaxDis = 2.0;
    b_CalcWidth = true;
    b_DelLine = true;
    i_DelLine_Length = 10;
    b_ForceOrtho = true;
    AngleSeries.SetDefault();
    b_Connect = true;
    i_ConDis = 5;
    b_RecogniseCirArc = true;
}

void CChartType::SetEngineeringPreset()
{
    Name = "pre_Engineering";
    d_MaxDis = 2.0;
    b_CalcWidth = false;
    b_DelLine = true;
    i_DelLine_Length = 5;
    b_ForceOrtho = true;
    AngleSeries.SetDefault();
    b_Connect = true;
    i_ConDis = 9;
    b_RecogniseCirArc = true;
}

// Maps keep fine detail: no deleting, no angle snapping, no circles; the
// length and the angle series stay for when the user turns them back on.
void CChartType::SetTopographyPreset()
{
    Name = "pre_Topography";
    d_MaxDis = 1.0;
    b_CalcWidth = false;
    b_DelLine = false;
    b_ForceOrtho = false;
    b_Connect = true;
    i_ConDis = 5;
    b_RecogniseCirArc = false;
}

bool CChartType::IsPresetName(const std::string& name)
{
    return SeriesNamesEqual(name, "pre_Default") || SeriesNamesEqual(name, "pre_Engineering") ||
           SeriesNamesEqual(name, "pre_Topography");
}

bool CChartType::SetPreset(const std::string& name)
{
    if (SeriesNamesEqual(name, "pre_Default"))
        SetDefaultPreset();
    else if (SeriesNamesEqual(name, "pre_Engineering"))
        SetEngineeringPreset();
    else if (SeriesNamesEqual(name, "pre_Topography"))
        SetTopographyPreset();
    else
        return false;
    return true;
}
