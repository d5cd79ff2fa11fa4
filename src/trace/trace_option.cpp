#include "trace/trace_option.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "model/color_index.h"

CTraceOption::CTraceOption() { SetDefaults(); }

CTraceOption::CTraceOption(GlobalTag) : m_IsGlobal(true) { SetDefaults(); }

void CTraceOption::SetDefaults()
{
    ChartType.SetDefaultPreset();
    Outline = COutlineOption();
    FillPattern = CFillPatternOption();
    i_AutoTraceWhat = TRACE_CENTER_LINE;
    i_Gray = 128;
    b_AutoGray = true;
    i_SearchStepCap = 128;
    c_NormalColorIndex = 5;
    c_SelectColorIndex = 1;
    c_BackGroundColorIndex = 7;
    c_OsnapBoxColorIndex = 6;
    c_GripBoxColorIndex = 214;
    c_SelGripBoxColorIndex = 3;
    i_GripBoxHalfWidth = 4;
    GridPointType = 0;
    i_VectorFileFormat = 7;
    b_Batch = false;
    UpdateColors();
}

void CTraceOption::Copy(const CTraceOption& other)
{
    if (&other == this)
        return;
    ChartType.Copy(other.ChartType);
    Outline = other.Outline;
    FillPattern = other.FillPattern;
    i_AutoTraceWhat = other.i_AutoTraceWhat;
    i_Gray = other.i_Gray;
    b_AutoGray = other.b_AutoGray;
    i_SearchStepCap = other.i_SearchStepCap;
    c_NormalColor = other.c_NormalColor;
    c_NormalColorIndex = other.c_NormalColorIndex;
    c_SelectColor = other.c_SelectColor;
    c_SelectColorIndex = other.c_SelectColorIndex;
    c_BackGroundColor = other.c_BackGroundColor;
    c_BackGroundColorIndex = other.c_BackGroundColorIndex;
    c_OsnapBoxColor = other.c_OsnapBoxColor;
    c_OsnapBoxColorIndex = other.c_OsnapBoxColorIndex;
    c_GripBoxColorIndex = other.c_GripBoxColorIndex;
    c_SelGripBoxColorIndex = other.c_SelGripBoxColorIndex;
    i_GripBoxHalfWidth = other.i_GripBoxHalfWidth;
    GridPointType = other.GridPointType;
    i_VectorFileFormat = other.i_VectorFileFormat;
    b_Batch = other.b_Batch;
    PublishBackground();
    c_GripBoxColor = ColorIndexToRGB(c_GripBoxColorIndex, nullptr, false);
    c_SelGripBoxColor = ColorIndexToRGB(c_SelGripBoxColorIndex, nullptr, false);
}

double CTraceOption::GetMaxDis() const
{
    switch (i_AutoTraceWhat) {
    case TRACE_CENTER_LINE: return ChartType.d_MaxDis;
    case TRACE_OUTLINE: return Outline.d_MaxDis;
    default: return 1.0;
    }
}

void CTraceOption::UpdateColors()
{
    c_BackGroundColor = ColorIndexToRGB(static_cast<int>(c_BackGroundColorIndex), nullptr, true);
    PublishBackground();
    c_NormalColor = ColorIndexToRGB(static_cast<int>(c_NormalColorIndex), nullptr, false);
    c_SelectColor = ColorIndexToRGB(static_cast<int>(c_SelectColorIndex), nullptr, false);
    c_OsnapBoxColor = ColorIndexToRGB(static_cast<int>(c_OsnapBoxColorIndex), nullptr, false);
    c_GripBoxColor = ColorIndexToRGB(c_GripBoxColorIndex, nullptr, false);
    c_SelGripBoxColor = ColorIndexToRGB(c_SelGripBoxColorIndex, nullptr, false);
}

void CTraceOption::PublishBackground() const
{
    if (m_IsGlobal)
        SetViewBackgroundColor(c_BackGroundColor);
}

CTraceOption& GetTraceOption()
{
    static CTraceOption global{CTraceOption::GlobalTag{}};
    return global;
}

CTraceOption SnapshotTraceOption() { return GetTraceOption(); }

BYTE ClampGray(long long v) { return static_cast<BYTE>(std::clamp<long long>(v, 0, 255)); }

int ClampDistance(long long v) { return static_cast<int>(std::clamp<long long>(v, 0, INT_MAX)); }

double ClampFillSpace(double v, double fallback)
{
    if (!std::isfinite(v) || v <= 0)
        return fallback;
    return std::max(v, kMinFillSpace);
}
