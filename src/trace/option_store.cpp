// The tracing options in the settings store, below "Software\Korvane\Lineweft\":
//   Option                 the view colours, method and threshold
//   Option\Center          the current chart type (its name is "ModalName")
//   Option\Outline         the outline method
//   Option\FillPattern     the fill-pattern method
//   OptionList\<name>      the user's chart types
//   WidthSeries\<name>     width series: counts as DWORD, widths as 8-byte doubles
//   AngleSeries\<name>     angle series: items as 8-byte doubles, radians
// Values named b_, i_, c_ and the counts are DWORD, s_ and "ModalName" strings.
//
// Everything read here may have been edited by hand or damaged: counts are
// bounded before use, doubles must be finite 8-byte values, series are
// rebuilt through AddWidth and AddItem, and every value is clamped to what
// the kernels can work with.
#include <algorithm>
#include <climits>
#include <cmath>

#include "model/registry_values.h"
#include "model/text_table.h"
#include "platform/message_box.h"
#include "platform/number_text.h"
#include "platform/settings_store.h"
#include "trace/trace_option.h"

namespace {

const std::string kBase = "Software\\Korvane\\Lineweft\\";
const std::string kOptionKey = kBase + "Option";
const std::string kCenterKey = kBase + "Option\\Center";
const std::string kOutlineKey = kBase + "Option\\Outline";
const std::string kFillPatternKey = kBase + "Option\\FillPattern";
const std::string kChartListKey = kBase + "OptionList";
const std::string kWidthSeriesKey = kBase + "WidthSeries";
const std::string kAngleSeriesKey = kBase + "AngleSeries";

// Defaults of a chart-type value the store lacks.
constexpr int kDefaultDelLineLength = 10;
constexpr int kDefaultConDis = 5;
constexpr double kDefaultChartMaxDis = 2.0;
// Chart doubles are compared within this to tell a changed value.
constexpr double kChartDoubleTolerance = 1e-5;

void ReportWriteFailure()
{
    ShowMessageBox(GetLanString("WriteRegistryFailMsg", "Write to registry failed!"), "Lineweft", MB_OK | MB_ICONERROR);
}

// A name becomes one key below its list: no path separators, no controls.
bool IsStorableName(const std::string& name)
{
    if (name.empty() || name.size() > SETTINGS_MAX_KEY_NAME)
        return false;
    return std::none_of(name.begin(), name.end(),
                        [](char c) { return c == '\\' || (static_cast<unsigned char>(c) < 0x20) || c == 0x7F; });
}

bool ReadBool(const CSettingsKey& key, const std::string& name, bool& value)
{
    DWORD v = 0;
    if (!key.QueryDword(name, v))
        return false;
    value = v != 0;
    return true;
}

// DWORD values the program writes from signed fields.
bool ReadInt(const CSettingsKey& key, const std::string& name, long long& value)
{
    DWORD v = 0;
    if (!key.QueryDword(name, v))
        return false;
    value = static_cast<std::int32_t>(v);
    return true;
}

bool ReadFiniteDouble(const CSettingsKey& key, const std::string& name, double& value)
{
    double v = 0;
    if (!RegQueryDouble(key, name, v) || !std::isfinite(v))
        return false;
    value = v;
    return true;
}

DWORD ReadDword(const CSettingsKey& key, const std::string& name, DWORD fallback)
{
    DWORD v = fallback;
    return key.QueryDword(name, v) ? v : fallback;
}

// Colour indexes name a palette entry, 1..255.
UINT ReadColorIndex(const CSettingsKey& key, const std::string& name, UINT fallback)
{
    DWORD v = ReadDword(key, name, fallback);
    return v >= 1 && v <= 255 ? v : fallback;
}

UINT ReadCount(const CSettingsKey& key, const std::string& name)
{
    return std::min<DWORD>(ReadDword(key, name, 0), kMaxSeriesCount);
}

// Removes every value of an open key so a shorter list leaves nothing stale.
void ClearValues(CSettingsKey& key)
{
    for (const std::string& name : key.EnumValueNames())
        key.DeleteValue(name);
}

bool WriteChartValues(CSettingsKey& key, const CChartType& chart)
{
    return key.SetDword("b_CalcWidth", chart.b_CalcWidth) && key.SetString("s_WidthSeries", chart.WidthSeries.Name) &&
           key.SetDword("b_DelLine", chart.b_DelLine) &&
           key.SetDword("i_DelLine_Length", static_cast<DWORD>(chart.i_DelLine_Length)) &&
           RegSetDouble(key, "d_MaxDis", chart.d_MaxDis) && key.SetDword("b_ForceOrtho", chart.b_ForceOrtho) &&
           key.SetString("s_AngleSeries", chart.AngleSeries.Name) && key.SetDword("b_Connect", chart.b_Connect) &&
           key.SetDword("i_ConDis", static_cast<DWORD>(chart.i_ConDis)) &&
           key.SetDword("b_RecogniseCirArc", chart.b_RecogniseCirArc);
}

double ClampMaxDis(double v) { return v < 0 ? 0.0 : v; }

// A width series the chart names: loaded when stored, else emptied, name
// and all, so that the options name no series they do not use.
void LoadNamedWidthSeries(CWidthSeries& series, const std::string& name)
{
    if (CWidthSeries::IsStored(name) && series.LoadFromRegistry(name))
        return;
    series.Clear();
}

// An angle series the chart names; "Default" when it cannot be had. False
// when the fallback was taken.
bool LoadNamedAngleSeries(CAngleSeries& series, const std::string& name)
{
    if (!name.empty() && series.LoadFromRegistry(name))
        return true;
    series.SetDefault();
    return false;
}

}  // namespace

// ---- width series ----

bool CWidthSeries::LoadFromRegistry(const std::string& name)
{
    CSettingsKey key;
    if (!IsStorableName(name) || !key.Open(kWidthSeriesKey + "\\" + name)) {
        if (!SeriesNamesEqual(name, "Default"))
            return false;
        SetDefault();
        return true;
    }
    CWidthSeries loaded;
    loaded.Name = name;
    loaded.SetMoreWidth(static_cast<std::int32_t>(ReadDword(key, "MoreWidth", MORE_WIDTH_CONTINUE)));
    const DWORD unit = ReadDword(key, "Unit", WIDTH_UNIT_MM);
    loaded.Unit = unit <= WIDTH_UNIT_PIXEL ? unit : WIDTH_UNIT_MM;
    const UINT count = ReadCount(key, "WidthCount");
    for (UINT i = 0; i < count; ++i) {
        double w = 0;
        // Damaged, unsorted or repeated widths are dropped or put in order.
        if (ReadFiniteDouble(key, FormatC("w%u", i), w))
            loaded.AddWidth(w);
    }
    Copy(loaded);
    return true;
}

bool CWidthSeries::SaveToRegistry() const
{
    if (Name.empty())
        return false;
    CSettingsKey key;
    bool ok = IsStorableName(Name) && key.Create(kWidthSeriesKey + "\\" + Name);
    if (ok) {
        ClearValues(key);
        const std::vector<double> widths = GetWidths();
        ok = key.SetDword("WidthCount", static_cast<DWORD>(widths.size())) && key.SetDword("MoreWidth", MoreWidth) &&
             key.SetDword("Unit", Unit);
        for (size_t i = 0; ok && i < widths.size(); ++i)
            ok = RegSetDouble(key, FormatC("w%zu", i), widths[i]);
        ok = key.Flush() && ok;
    }
    if (!ok)
        ReportWriteFailure();
    return ok;
}

std::vector<std::string> CWidthSeries::EnumRegistryNames()
{
    std::vector<std::string> names;
    CSettingsKey key;
    if (key.Open(kWidthSeriesKey))
        names = key.EnumSubKeys();
    if (std::none_of(names.begin(), names.end(), [](const std::string& n) { return SeriesNamesEqual(n, "Default"); }))
        names.insert(names.begin(), "Default");
    return names;
}

bool CWidthSeries::IsStored(const std::string& name)
{
    if (SeriesNamesEqual(name, "Default"))
        return true;
    CSettingsKey key;
    return IsStorableName(name) && key.Open(kWidthSeriesKey + "\\" + name);
}

bool CWidthSeries::DeleteFromRegistry(const std::string& name)
{
    CSettingsKey key;
    const bool ok = IsStorableName(name) && key.Open(kWidthSeriesKey) && key.DeleteSubKey(name) && key.Flush();
    if (!ok)
        ReportWriteFailure();
    return ok;
}

// ---- angle series ----

bool CAngleSeries::LoadFromRegistry(const std::string& name)
{
    CSettingsKey key;
    if (!IsStorableName(name) || !key.Open(kAngleSeriesKey + "\\" + name))
        return SetPreset(name);
    CAngleSeries loaded;
    loaded.Name = name;
    const UINT count = ReadCount(key, "AngleCount");
    for (UINT i = 0; i < count; ++i) {
        CAngleItem item;
        const bool read = ReadFiniteDouble(key, FormatC("%u_MainAngle", i), item.MainAngle) &&
                          ReadFiniteDouble(key, FormatC("%u_MaxAngle", i), item.MaxAngle) &&
                          ReadFiniteDouble(key, FormatC("%u_MinAngle", i), item.MinAngle);
        if (!read || !loaded.AddItem(item)) {
            SetDefault();
            return true;
        }
    }
    Copy(loaded);
    return true;
}

bool CAngleSeries::SaveToRegistry() const
{
    if (Name.empty())
        return false;
    CSettingsKey key;
    bool ok = IsStorableName(Name) && key.Create(kAngleSeriesKey + "\\" + Name);
    if (ok) {
        ClearValues(key);
        const std::vector<CAngleItem> items = GetItems();
        ok = key.SetDword("AngleCount", static_cast<DWORD>(items.size()));
        for (size_t i = 0; ok && i < items.size(); ++i)
            ok = RegSetDouble(key, FormatC("%zu_MainAngle", i), items[i].MainAngle) &&
                 RegSetDouble(key, FormatC("%zu_MaxAngle", i), items[i].MaxAngle) &&
                 RegSetDouble(key, FormatC("%zu_MinAngle", i), items[i].MinAngle);
        ok = key.Flush() && ok;
    }
    if (!ok)
        ReportWriteFailure();
    return ok;
}

std::vector<std::string> CAngleSeries::EnumRegistryNames()
{
    std::vector<std::string> names;
    CSettingsKey key;
    if (key.Open(kAngleSeriesKey))
        names = key.EnumSubKeys();
    size_t at = 0;
    for (const char* preset : {"Default", "Ortho series", "Tinily Adjust"}) {
        if (std::none_of(names.begin(), names.end(), [&](const std::string& n) { return SeriesNamesEqual(n, preset); }))
            names.insert(names.begin() + static_cast<std::ptrdiff_t>(at++), preset);
    }
    return names;
}

bool CAngleSeries::IsStored(const std::string& name)
{
    if (IsPresetName(name))
        return true;
    CSettingsKey key;
    return IsStorableName(name) && key.Open(kAngleSeriesKey + "\\" + name);
}

bool CAngleSeries::DeleteFromRegistry(const std::string& name)
{
    CSettingsKey key;
    const bool ok = IsStorableName(name) && key.Open(kAngleSeriesKey) && key.DeleteSubKey(name) && key.Flush();
    if (!ok)
        ReportWriteFailure();
    return ok;
}

// ---- chart types ----

bool CChartType::LoadFromRegistry(const std::string& name)
{
    if (SetPreset(name))
        return true;
    CSettingsKey key;
    if (!IsStorableName(name) || !key.Open(kChartListKey + "\\" + name))
        return false;
    CChartType loaded;
    loaded.Name = name;
    bool b = true;
    long long n = 0;
    double d = kDefaultChartMaxDis;
    loaded.b_CalcWidth = ReadBool(key, "b_CalcWidth", b) ? b : true;
    std::string widthName;
    (void)key.QueryString("s_WidthSeries", widthName);
    LoadNamedWidthSeries(loaded.WidthSeries, widthName);
    loaded.b_DelLine = ReadBool(key, "b_DelLine", b) && b;
    loaded.i_DelLine_Length = ReadInt(key, "i_DelLine_Length", n) ? ClampDistance(n) : kDefaultDelLineLength;
    loaded.d_MaxDis = ClampMaxDis(ReadFiniteDouble(key, "d_MaxDis", d) ? d : kDefaultChartMaxDis);
    loaded.b_ForceOrtho = ReadBool(key, "b_ForceOrtho", b) ? b : true;
    std::string angleName;
    (void)key.QueryString("s_AngleSeries", angleName);
    (void)LoadNamedAngleSeries(loaded.AngleSeries, angleName);
    loaded.b_Connect = ReadBool(key, "b_Connect", b) ? b : true;
    loaded.i_ConDis = ReadInt(key, "i_ConDis", n) ? ClampDistance(n) : kDefaultConDis;
    loaded.b_RecogniseCirArc = ReadBool(key, "b_RecogniseCirArc", b) ? b : true;
    Copy(loaded);
    return true;
}

bool CChartType::SaveToRegistry() const
{
    CSettingsKey key;
    bool ok = IsStorableName(Name) && key.Create(kChartListKey + "\\" + Name);
    ok = ok && WriteChartValues(key, *this);
    ok = ok && key.Flush();
    if (!ok)
        ReportWriteFailure();
    return ok;
}

std::vector<std::string> CChartType::EnumRegistryNames()
{
    CSettingsKey key;
    return key.Open(kChartListKey) ? key.EnumSubKeys() : std::vector<std::string>();
}

bool CChartType::DeleteFromRegistry(const std::string& name)
{
    CSettingsKey key;
    const bool ok = IsStorableName(name) && key.Open(kChartListKey) && key.DeleteSubKey(name) && key.Flush();
    if (!ok)
        ReportWriteFailure();
    return ok;
}

// ---- the option record ----

void CTraceOption::LoadFromRegistry()
{
    {
        CSettingsKey key;
        if (key.Open(kOptionKey)) {
            i_AutoTraceWhat = std::clamp<DWORD>(ReadDword(key, "i_AutoTraceWhat", TRACE_CENTER_LINE), TRACE_CENTER_LINE,
                                                TRACE_FILL_PATTERN);
            long long gray = 128;
            i_Gray = ClampGray(ReadInt(key, "i_Gray", gray) ? gray : 128);
            // A value missing from a stored key is off; only a store without
            // the key keeps the record's own default (automatic).
            bool autoGray = false;
            b_AutoGray = ReadBool(key, "b_AutoGray", autoGray) && autoGray;
            c_NormalColorIndex = ReadColorIndex(key, "c_NormalColorIndex", 5);
            c_SelectColorIndex = ReadColorIndex(key, "c_SelectColorIndex", 1);
            c_BackGroundColorIndex = ReadColorIndex(key, "c_BackGroundColorIndex", 7);
            c_OsnapBoxColorIndex = ReadColorIndex(key, "c_OsnapBoxColorIndex", 6);
            GridPointType = std::min<DWORD>(ReadDword(key, "GridPointType", 0), 2);
            c_GripBoxColorIndex = static_cast<WORD>(ReadColorIndex(key, "c_GripBoxColorIndex", 214));
            c_SelGripBoxColorIndex = static_cast<WORD>(ReadColorIndex(key, "c_SelGripBoxColorIndex", 3));
            i_GripBoxHalfWidth = static_cast<WORD>(std::min<DWORD>(ReadDword(key, "i_GripBoxHalfWidth", 4), 0xFFFF));
            i_VectorFileFormat = std::clamp<DWORD>(ReadDword(key, "i_VectorFileFormat", 1), 1, 9);
        }
    }
    LoadCenterFromRegistry();
    {
        CSettingsKey key;
        if (key.Open(kOutlineKey)) {
            double d = 1.5;
            Outline.d_MaxDis = ClampMaxDis(ReadFiniteDouble(key, "d_MaxDis", d) ? d : 1.5);
            bool b = true;
            Outline.b_RecogniseCirArc = ReadBool(key, "b_RecogniseCirArc", b) ? b : true;
            Outline.b_Fill = ReadBool(key, "b_Fill", b) && b;
            Outline.i_FillType = std::min<DWORD>(ReadDword(key, "i_FillType", FILL_SOLID), FILL_SOLID);
            d = 1.0;
            Outline.d_FillSpace = ClampFillSpace(ReadFiniteDouble(key, "d_FillSpace", d) ? d : 1.0, 1.0);
        }
    }
    {
        CSettingsKey key;
        if (key.Open(kFillPatternKey)) {
            FillPattern.i_FillType = std::min<DWORD>(ReadDword(key, "i_FillType", FILL_HORIZONTAL), FILL_CROSS);
            double d = 1.0;
            FillPattern.d_FillSpace = ClampFillSpace(ReadFiniteDouble(key, "d_FillSpace", d) ? d : 1.0, 1.0);
        }
    }
    UpdateColors();
}

// The current chart type: the named set, then every value that differs from
// it, which makes it "Unnamed".
void CTraceOption::LoadCenterFromRegistry()
{
    CSettingsKey key;
    if (!key.Open(kCenterKey))
        return;
    CChartType& chart = ChartType;
    const std::string unnamed = UnnamedChartName();
    std::string modalName;
    if (!key.QueryString("ModalName", modalName) || modalName.empty() || !chart.LoadFromRegistry(modalName)) {
        chart.SetDefaultPreset();
        chart.Name = unnamed;
    }

    bool renamed = false;
    auto loadBool = [&](const char* name, bool& field, bool fallback) {
        bool v = fallback;
        if (!ReadBool(key, name, v)) {
            field = fallback;
            renamed = true;
        } else if (v != field) {
            field = v;
            renamed = true;
        }
    };
    // A missing distance is only defaulted when its step is on.
    auto loadDistance = [&](const char* name, int& field, bool stepOn, int fallback) {
        long long v = 0;
        if (!ReadInt(key, name, v)) {
            if (stepOn) {
                field = fallback;
                renamed = true;
            }
        } else if (ClampDistance(v) != field) {
            field = ClampDistance(v);
            renamed = true;
        }
    };
    auto loadName = [&](const char* name, std::string& field) {
        std::string v;
        if (!key.QueryString(name, v))
            return false;
        if (!SeriesNamesEqual(v, field)) {
            field = v;
            renamed = true;
        }
        return true;
    };

    loadBool("b_CalcWidth", chart.b_CalcWidth, true);
    loadName("s_WidthSeries", chart.WidthSeries.Name);
    loadBool("b_DelLine", chart.b_DelLine, true);
    loadDistance("i_DelLine_Length", chart.i_DelLine_Length, chart.b_DelLine, kDefaultDelLineLength);
    double d = 0;
    if (!ReadFiniteDouble(key, "d_MaxDis", d)) {
        chart.d_MaxDis = kDefaultChartMaxDis;
        renamed = true;
    } else if (std::fabs(d - chart.d_MaxDis) > kChartDoubleTolerance) {
        chart.d_MaxDis = d;
        renamed = true;
    }
    if (chart.d_MaxDis < 0) {
        chart.d_MaxDis = 0.0;
        renamed = true;
    }
    loadBool("b_ForceOrtho", chart.b_ForceOrtho, true);
    const bool hasAngleName = loadName("s_AngleSeries", chart.AngleSeries.Name);
    loadBool("b_Connect", chart.b_Connect, true);
    loadDistance("i_ConDis", chart.i_ConDis, chart.b_Connect, kDefaultConDis);
    loadBool("b_RecogniseCirArc", chart.b_RecogniseCirArc, true);

    LoadNamedWidthSeries(chart.WidthSeries, std::string(chart.WidthSeries.Name));
    if (!LoadNamedAngleSeries(chart.AngleSeries, hasAngleName ? std::string(chart.AngleSeries.Name) : ""))
        renamed = true;
    if (renamed)
        chart.Name = unnamed;
}

bool CTraceOption::SaveToRegistry() const
{
    bool all = true;
    auto finish = [&](CSettingsKey& key, bool ok) {
        ok = key.Flush() && ok;
        if (!ok)
            ReportWriteFailure();
        all = all && ok;
    };
    {
        CSettingsKey key;
        bool ok = key.Create(kOptionKey) && key.SetDword("i_AutoTraceWhat", i_AutoTraceWhat) &&
                  key.SetDword("i_Gray", i_Gray) && key.SetDword("b_AutoGray", b_AutoGray) &&
                  key.SetDword("c_NormalColorIndex", c_NormalColorIndex) &&
                  key.SetDword("c_SelectColorIndex", c_SelectColorIndex) &&
                  key.SetDword("c_BackGroundColorIndex", c_BackGroundColorIndex) &&
                  key.SetDword("c_OsnapBoxColorIndex", c_OsnapBoxColorIndex) &&
                  key.SetDword("GridPointType", GridPointType) &&
                  key.SetDword("c_GripBoxColorIndex", c_GripBoxColorIndex) &&
                  key.SetDword("c_SelGripBoxColorIndex", c_SelGripBoxColorIndex) &&
                  key.SetDword("i_GripBoxHalfWidth", i_GripBoxHalfWidth) &&
                  key.SetDword("i_VectorFileFormat", i_VectorFileFormat);
        finish(key, ok);
    }
    {
        CSettingsKey key;
        bool ok =
            key.Create(kCenterKey) && key.SetString("ModalName", ChartType.Name) && WriteChartValues(key, ChartType);
        finish(key, ok);
    }
    {
        CSettingsKey key;
        bool ok = key.Create(kOutlineKey) && RegSetDouble(key, "d_MaxDis", Outline.d_MaxDis) &&
                  key.SetDword("b_RecogniseCirArc", Outline.b_RecogniseCirArc) &&
                  key.SetDword("b_Fill", Outline.b_Fill) && key.SetDword("i_FillType", Outline.i_FillType) &&
                  RegSetDouble(key, "d_FillSpace", Outline.d_FillSpace);
        finish(key, ok);
    }
    {
        CSettingsKey key;
        bool ok = key.Create(kFillPatternKey) && key.SetDword("i_FillType", FillPattern.i_FillType) &&
                  RegSetDouble(key, "d_FillSpace", FillPattern.d_FillSpace);
        finish(key, ok);
    }
    return all;
}
