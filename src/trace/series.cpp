#include "trace/series.h"

#include <algorithm>
#include <cmath>

#include "model/constants.h"
#include "platform/settings_store.h"

namespace {

// Inches, centimetres and millimetres per metre: resolutions are in dots per
// metre.
constexpr double kMetresPerInch = 0.0254;
constexpr double kCentimetresPerMetre = 100;
constexpr double kMillimetresPerMetre = 1000;
// Below this many dots per metre a raster carries no usable resolution.
constexpr double kMinResolution = 0.9;

// Lists cannot insert in the middle, so a changed series is rebuilt whole;
// on allocation failure the old list stays.
template <typename T>
bool ReplaceList(OArray<T>& list, const std::vector<T>& values)
{
    OArray<T> rebuilt;
    for (const T& value : values)
        if (!rebuilt.AddTail(value))
            return false;
    list = std::move(rebuilt);
    return true;
}

template <typename T>
std::vector<T> ListValues(const OArray<T>& list)
{
    std::vector<T> values;
    values.reserve(list.GetCount());
    for (const auto* node = list.GetHead(); node; node = node->next)
        values.push_back(node->value);
    return values;
}

bool IsFinite(const CAngleItem& item)
{
    return std::isfinite(item.MainAngle) && std::isfinite(item.MaxAngle) && std::isfinite(item.MinAngle);
}

// An item fits between its neighbours when the ranges at most touch. An
// index past the end means no neighbour there (i - 1 wraps for the first).
bool FitsBetween(const std::vector<CAngleItem>& items, size_t prev, size_t next, const CAngleItem& item)
{
    if (prev < items.size() && items[prev].MaxAngle > item.MinAngle)
        return false;
    if (next < items.size() && items[next].MinAngle < item.MaxAngle)
        return false;
    return true;
}

CAngleItem DegreeItem(double main, double min, double max) { return {main * DEGREE, max * DEGREE, min * DEGREE}; }

// Inner main angles captured within +-half of them, between the two ends.
std::vector<CAngleItem> PresetItems(double endWidth, std::initializer_list<double> inner, double half,
                                    double nearRightHalf = -1)
{
    std::vector<CAngleItem> items;
    items.push_back(DegreeItem(0, 0, endWidth));
    for (double main : inner) {
        const double h = main == 90 && nearRightHalf > 0 ? nearRightHalf : half;
        items.push_back(DegreeItem(main, main - h, main + h));
    }
    items.push_back(DegreeItem(180, 180 - endWidth, 180));
    return items;
}

}  // namespace

bool SeriesNamesEqual(const std::string& a, const std::string& b) { return FoldSettingName(a) == FoldSettingName(b); }

// ---- CWidthSeries ----

void CWidthSeries::SetMoreWidth(int v) { MoreWidth = static_cast<UINT>(std::clamp(v, 0, 2)); }

bool CWidthSeries::AddWidth(double w)
{
    if (!std::isfinite(w))
        return false;
    std::vector<double> widths = GetWidths();
    for (double existing : widths)
        if (std::fabs(existing - w) < POINT_TOLERANCE)
            return false;
    widths.insert(std::upper_bound(widths.begin(), widths.end(), w), w);
    return ReplaceList(Widths, widths);
}

void CWidthSeries::Clear()
{
    Widths.RemoveAll();
    Name.clear();
}

void CWidthSeries::Copy(const CWidthSeries& other)
{
    if (&other == this)
        return;
    Name = other.Name;
    Unit = other.Unit;
    MoreWidth = other.MoreWidth;
    if (!ReplaceList(Widths, other.GetWidths()))
        Widths.RemoveAll();
}

bool CWidthSeries::Rename(const std::string& name)
{
    if (name.empty() || name == Name)
        return false;
    Name = name;
    return true;
}

void CWidthSeries::SetDefault()
{
    Clear();
    Name = "Default";
    Unit = WIDTH_UNIT_MM;
    MoreWidth = MORE_WIDTH_KEEP;
    for (double w : {0.0, 0.5, 1.0, 2.0})
        AddWidth(w);
}

std::vector<double> CWidthSeries::GetWidths() const { return ListValues(Widths); }

double CWidthSeries::RoundToSeries(double w, double resolution) const
{
    if (Widths.IsEmpty())
        return w;
    double scale = 1;
    switch (Unit) {
    case WIDTH_UNIT_INCH: scale = resolution * kMetresPerInch; break;
    case WIDTH_UNIT_CM: scale = resolution / kCentimetresPerMetre; break;
    case WIDTH_UNIT_MM: scale = resolution / kMillimetresPerMetre; break;
    case WIDTH_UNIT_PIXEL: break;
    default: return w;  // a unit nobody can read
    }
    if (Unit != WIDTH_UNIT_PIXEL && !(resolution >= kMinResolution))
        return w;

    std::vector<double> s = GetWidths();
    for (double& v : s)
        v *= scale;
    const size_t last = s.size() - 1;
    for (size_t i = 0; i < last; ++i)
        if (w <= s[i] + (s[i + 1] - s[i]) / 2)
            return s[i];
    // One-value series: the value itself is the gap.
    const double gap = last > 0 ? s[last] - s[last - 1] : s[0];
    if (w <= s[last] + gap / 2)
        return s[last];

    switch (MoreWidth) {
    case MORE_WIDTH_SHRINK: return s[last];
    case MORE_WIDTH_KEEP: return w;
    default: {
        // A series ending in a zero step has nothing to continue with.
        if (!(gap > 0))
            return w;
        const double v = s[last] + std::trunc((w - s[last]) / gap) * gap;
        return w <= v + gap / 2 ? v : v + gap;
    }
    }
}

// ---- CAngleSeries ----

CAngleSeries::~CAngleSeries()
{
    Items.RemoveAll();
    Name.clear();
}

bool CAngleSeries::AddItem(const CAngleItem& item)
{
    if (!IsFinite(item))
        return false;
    if (item.MainAngle < item.MinAngle - POINT_TOLERANCE || item.MainAngle > item.MaxAngle + POINT_TOLERANCE)
        return false;
    std::vector<CAngleItem> items = GetItems();
    for (size_t i = 0; i < items.size(); ++i) {
        if (std::fabs(items[i].MainAngle - item.MainAngle) >= POINT_TOLERANCE)
            continue;
        if (!FitsBetween(items, i - 1, i + 1, item))
            return false;
        items[i] = item;
        return SetItems(items);
    }
    size_t next = 0;
    while (next < items.size() && items[next].MainAngle < item.MainAngle)
        ++next;
    if (!FitsBetween(items, next - 1, next, item))
        return false;
    items.insert(items.begin() + static_cast<std::ptrdiff_t>(next), item);
    return SetItems(items);
}

bool CAngleSeries::RemoveAt(UINT i)
{
    if (i >= Items.GetCount())
        return false;
    Items.MoveToIndex(static_cast<int>(i));
    Items.RemoveCurrent();
    return true;
}

bool CAngleSeries::ModifyAt(UINT i, const CAngleItem& item)
{
    std::vector<CAngleItem> items = GetItems();
    if (i >= items.size() || !IsFinite(item) || !FitsBetween(items, i - 1, i + 1, item))
        return false;
    items[i] = item;
    return SetItems(items);
}

void CAngleSeries::Clear()
{
    Items.RemoveAll();
    Name.clear();
}

void CAngleSeries::Copy(const CAngleSeries& other)
{
    if (&other == this)
        return;
    Name = other.Name;
    if (!SetItems(other.GetItems()))
        Items.RemoveAll();
}

bool CAngleSeries::Rename(const std::string& name)
{
    if (name.empty() || name == Name)
        return false;
    Name = name;
    return true;
}

bool CAngleSeries::FindMainAngle(double& a) const
{
    for (const auto* node = Items.GetHead(); node; node = node->next) {
        const CAngleItem& item = node->value;
        if (item.MinAngle <= a && a <= item.MaxAngle && item.MainAngle != a) {
            a = item.MainAngle;
            return true;
        }
    }
    return false;
}

std::vector<CAngleItem> CAngleSeries::GetItems() const { return ListValues(Items); }

bool CAngleSeries::SetItems(const std::vector<CAngleItem>& items) { return ReplaceList(Items, items); }

void CAngleSeries::SetDefault()
{
    Name = "Default";
    if (!SetItems(PresetItems(5, {30, 45, 60, 90, 120, 135, 150}, 2.5)))
        Items.RemoveAll();
}

void CAngleSeries::SetOrtho()
{
    Name = "Ortho series";
    if (!SetItems(PresetItems(10, {90}, 5)))
        Items.RemoveAll();
}

void CAngleSeries::SetTinilyAdjust()
{
    Name = "Tinily Adjust";
    // The right angle gets a wider range than the others.
    if (!SetItems(PresetItems(1.5, {30, 45, 60, 90, 120, 135, 150}, 1, 1.5)))
        Items.RemoveAll();
}

bool CAngleSeries::IsPresetName(const std::string& name)
{
    return SeriesNamesEqual(name, "Default") || SeriesNamesEqual(name, "Ortho series") ||
           SeriesNamesEqual(name, "Tinily Adjust");
}

bool CAngleSeries::SetPreset(const std::string& name)
{
    if (SeriesNamesEqual(name, "Default"))
        SetDefault();
    else if (SeriesNamesEqual(name, "Ortho series"))
        SetOrtho();
    else if (SeriesNamesEqual(name, "Tinily Adjust"))
        SetTinilyAdjust();
    else
        return false;
    return true;
}
