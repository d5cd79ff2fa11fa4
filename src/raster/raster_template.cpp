// Convolution templates and their list in the settings store. What is read
// from the store is checked as a whole before it replaces anything: the
// store is a file a user can edit, and a template's sizes and centre decide
// where the filter reads.
#include "raster/raster_template.h"

#include "platform/number_text.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

namespace {

const char* const kNameValue = "Name";
const char* const kWidthValue = "Width";
const char* const kHeightValue = "Height";
const char* const kCenXValue = "CenX";
const char* const kCenYValue = "CenY";
const char* const kScaleValue = "DBCoef";
const char* const kCountValue = "Count";

std::string CoefficientName(int i) { return FormatC("DB%d", i); }

std::string TemplateKeyName(int i) { return FormatC("Template%d", i); }

std::string FormatNumber(double v) { return FormatC("%.4f", v); }

bool FiniteAndModest(double v) { return std::isfinite(v) && std::fabs(v) <= kMaxTemplateValue; }

bool QueryText(const TemplateValueQuery& query, const std::string& name, std::size_t maxBytes, std::string& text)
{
    SettingValue value;
    if (!query(name, value) || value.type != SettingType::String || value.text.size() > maxBytes)
        return false;
    text = value.text;
    return true;
}

bool QueryNumber(const TemplateValueQuery& query, const std::string& name, double& number)
{
    std::string text;
    return QueryText(query, name, kMaxTemplateNumberChars, text) && ParseDoubleC(text, number);
}

// A DWORD that is a side or a centre: anything above kMaxTemplateSide is
// refused before it becomes an int.
bool QuerySmall(const TemplateValueQuery& query, const std::string& name, int& number)
{
    SettingValue value;
    if (!query(name, value) || value.type != SettingType::Dword || value.dword > DWORD(kMaxTemplateSide))
        return false;
    number = static_cast<int>(value.dword);
    return true;
}

bool EqualIgnoringCase(const std::string& a, const std::string& b) { return FoldSettingName(a) == FoldSettingName(b); }

struct BuiltInTemplate {
    const char* name;
    int width, height, cenX, cenY;
    double scale;
    double coefficients[9];
};

// Small kernels a user can start from.
constexpr BuiltInTemplate kBuiltIn[] = {
    {"Blur 3x3", 3, 3, 1, 1, 0.1111, {1, 1, 1, 1, 1, 1, 1, 1, 1}},
    {"Sharpen 3x3", 3, 3, 1, 1, 1.0, {0, -1, 0, -1, 5, -1, 0, -1, 0}},
    {"Edges 3x3", 3, 3, 1, 1, 1.0, {-1, -1, -1, -1, 8, -1, -1, -1, -1}},
    {"Horizontal lines", 3, 3, 1, 1, 1.0, {-1, -1, -1, 2, 2, 2, -1, -1, -1}},
    {"Vertical lines", 3, 3, 1, 1, 1.0, {-1, 2, -1, -1, 2, -1, -1, 2, -1}},
};

}  // namespace

bool CheckTemplate(int width, int height, int cenX, int cenY, const double* coefficients, double scale)
{
    if (width < 1 || height < 1 || width > kMaxTemplateSide || height > kMaxTemplateSide)
        return false;
    if (cenX < 0 || cenY < 0 || cenX >= width || cenY >= height || !coefficients || !FiniteAndModest(scale))
        return false;
    return std::all_of(coefficients, coefficients + width * height, FiniteAndModest);
}

// ---------------------------------------------------------------- template --

bool CRasterTemplate::AllocCoefficients()
{
    m_coefficients.reset();
    if (m_width < 0 || m_height < 0 || m_width > kMaxTemplateSide || m_height > kMaxTemplateSide)
        return false;
    const std::size_t count = static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_height) + 1;
    m_coefficients.reset(new (std::nothrow) double[count]);
    if (!m_coefficients)
        return false;
    std::fill(m_coefficients.get(), m_coefficients.get() + count, 1.0);
    return true;
}

bool CRasterTemplate::Set(const std::string& name, int width, int height, int cenX, int cenY,
                          const double* coefficients, double scale)
{
    if (name.empty() || name.size() > kMaxTemplateNameBytes ||
        !CheckTemplate(width, height, cenX, cenY, coefficients, scale))
        return false;
    CRasterTemplate made;
    made.m_width = width;
    made.m_height = height;
    if (!made.AllocCoefficients())
        return false;
    std::copy(coefficients, coefficients + width * height, made.m_coefficients.get());
    made.m_name = name;
    made.m_cenX = cenX;
    made.m_cenY = cenY;
    made.m_scale = scale;
    *this = std::move(made);
    return true;
}

bool CRasterTemplate::CopyFrom(const CRasterTemplate& other)
{
    if (&other == this)
        return true;
    return Set(other.m_name, other.m_width, other.m_height, other.m_cenX, other.m_cenY, other.GetCoefficients(),
               other.m_scale);
}

bool CRasterTemplate::IsValid() const
{
    return !m_name.empty() && m_name.size() <= kMaxTemplateNameBytes &&
           CheckTemplate(m_width, m_height, m_cenX, m_cenY, m_coefficients.get(), m_scale);
}

bool CRasterTemplate::SaveToRegistry(CSettingsKey& key) const
{
    if (!IsValid())
        return false;
    bool ok = key.SetString(kNameValue, m_name) && key.SetDword(kWidthValue, static_cast<DWORD>(m_width)) &&
              key.SetDword(kHeightValue, static_cast<DWORD>(m_height)) &&
              key.SetDword(kCenXValue, static_cast<DWORD>(m_cenX)) &&
              key.SetDword(kCenYValue, static_cast<DWORD>(m_cenY)) && key.SetString(kScaleValue, FormatNumber(m_scale));
    for (int i = 0; ok && i < m_width * m_height; ++i)
        ok = key.SetString(CoefficientName(i), FormatNumber(m_coefficients[static_cast<std::size_t>(i)]));
    return ok;
}

bool CRasterTemplate::LoadFromRegistry(const CSettingsKey& key)
{
    return LoadFromValues([&key](const std::string& name, SettingValue& value) { return key.QueryValue(name, value); });
}

bool CRasterTemplate::LoadFromValues(const TemplateValueQuery& query)
{
    std::string name;
    int width = 0, height = 0, cenX = 0, cenY = 0;
    double scale = 0;
    if (!QueryText(query, kNameValue, kMaxTemplateNameBytes, name) || name.empty() ||
        !QuerySmall(query, kWidthValue, width) || !QuerySmall(query, kHeightValue, height) ||
        !QuerySmall(query, kCenXValue, cenX) || !QuerySmall(query, kCenYValue, cenY) ||
        !QueryNumber(query, kScaleValue, scale))
        return false;
    // Sides are at most kMaxTemplateSide here, so the count is small.
    std::vector<double> coefficients(static_cast<std::size_t>(width * height));
    for (int i = 0; i < width * height; ++i) {
        if (!QueryNumber(query, CoefficientName(i), coefficients[static_cast<std::size_t>(i)]))
            return false;
    }
    return Set(name, width, height, cenX, cenY, coefficients.data(), scale);
}

// -------------------------------------------------------------------- list --

bool CRasterTemplateList::Load(CSettingsStore& store)
{
    RemoveAll();
    CSettingsKey key(store);
    DWORD count = 0;
    if (!key.Open(kRasterTemplatesKey) || !key.QueryDword(kCountValue, count)) {
        SetDefaults();
        return false;
    }
    count = std::min<DWORD>(count, kMaxStoredTemplates);
    for (DWORD i = 0; i < count; ++i) {
        CSettingsKey item(store);
        CRasterTemplate loaded;
        if (item.Open(kRasterTemplatesKey + "\\" + TemplateKeyName(static_cast<int>(i))) &&
            loaded.LoadFromRegistry(item))
            (void)m_items.AddTail(std::move(loaded));
    }
    return true;
}

bool CRasterTemplateList::Save(CSettingsStore& store) const
{
    if (m_items.GetCount() > static_cast<UINT>(kMaxStoredTemplates))
        return false;
    for (auto* node = m_items.GetHead(); node; node = node->next) {
        if (!node->value.IsValid())
            return false;
    }
    CSettingsKey root(store);
    if (!root.Create(kRasterTemplatesKey))
        return false;
    // The old list goes whole: a shorter list leaves no stale entries.
    for (const std::string& name : root.EnumSubKeys())
        root.DeleteSubKey(name);
    bool ok = root.SetDword(kCountValue, m_items.GetCount());
    int i = 0;
    for (auto* node = m_items.GetHead(); ok && node; node = node->next, ++i) {
        CSettingsKey item(store);
        ok = item.Create(kRasterTemplatesKey + "\\" + TemplateKeyName(i)) && node->value.SaveToRegistry(item);
    }
    return root.Flush() && ok;
}

void CRasterTemplateList::SetDefaults()
{
    RemoveAll();
    for (const BuiltInTemplate& t : kBuiltIn) {
        CRasterTemplate item;
        if (item.Set(t.name, t.width, t.height, t.cenX, t.cenY, t.coefficients, t.scale))
            (void)m_items.AddTail(std::move(item));
    }
}

bool CRasterTemplateList::Add(const CRasterTemplate& item)
{
    CRasterTemplate copy;
    return copy.CopyFrom(item) && m_items.AddTail(std::move(copy));
}

const CRasterTemplate* CRasterTemplateList::Find(const std::string& name) const
{
    for (auto* node = m_items.GetHead(); node; node = node->next) {
        if (node->value.GetName() == name)
            return &node->value;
    }
    for (auto* node = m_items.GetHead(); node; node = node->next) {
        if (EqualIgnoringCase(node->value.GetName(), name))
            return &node->value;
    }
    return nullptr;
}
