#pragma once
// Convolution templates: user-defined kernels that CRasterProcess applies,
// and the list of them kept in the settings store.
//
// A template is width x height coefficients, row-major, with the element
// (cenX, cenY) lying on the output pixel, and a scale applied to every sum.
// A template is usable (IsValid) when its sides are 1..kMaxTemplateSide, its
// centre lies inside it and its scale and coefficients are finite and at
// most kMaxTemplateValue in size, so that each is stored in 20 characters
// as "%.4f" and no sum can overflow. Templates read from the store are
// checked the same way before they replace anything.
//
// Store layout of one template (values under one key):
//   "Name" string (1..255 bytes), "Width", "Height", "CenX", "CenY" DWORD,
//   "DBCoef" string "%.4f" (the scale), "DB0", "DB1", ... string "%.4f"
//   (coefficient row x width + column). Strings are read in the C locale;
//   longer than 20 characters they are refused.
// The list lives under kRasterTemplatesKey: DWORD "Count" and the templates
// in subkeys "Template0", "Template1", ... in order.
#include "model/list.h"
#include "platform/settings_store.h"

#include <functional>
#include <memory>
#include <string>

constexpr int kMaxTemplateSide = 63;
constexpr double kMaxTemplateValue = 1e12;
constexpr std::size_t kMaxTemplateNameBytes = 255;
constexpr std::size_t kMaxTemplateNumberChars = 20;
constexpr int kMaxStoredTemplates = 256;
inline const std::string kRasterTemplatesKey = "Software\\Korvane\\Lineweft\\RasterTemplates";

// The checks every kernel passes before it is applied.
bool CheckTemplate(int width, int height, int cenX, int cenY, const double* coefficients, double scale);

// Reads one value by name; false when it is missing.
using TemplateValueQuery = std::function<bool(const std::string& name, SettingValue& value)>;

class CRasterTemplate {
public:
    CRasterTemplate() = default;
    CRasterTemplate(CRasterTemplate&&) noexcept = default;
    CRasterTemplate& operator=(CRasterTemplate&&) noexcept = default;
    CRasterTemplate(const CRasterTemplate&) = delete;
    CRasterTemplate& operator=(const CRasterTemplate&) = delete;
    virtual ~CRasterTemplate() = default;

    // Replaces the whole template; false, nothing changed, when the values
    // fail CheckTemplate, the name is empty or too long, or memory is short.
    [[nodiscard]] bool Set(const std::string& name, int width, int height, int cenX, int cenY,
                           const double* coefficients, double scale);
    [[nodiscard]] bool CopyFrom(const CRasterTemplate& other);

    // Frees the coefficients and allocates width x height + 1 of them, each
    // 1.0. False when out of memory (the array is then null) or when the
    // sides are outside 0..kMaxTemplateSide.
    [[nodiscard]] bool AllocCoefficients();

    // Writes the values of the store layout; false when the template is not
    // valid or a value could not be set.
    [[nodiscard]] bool SaveToRegistry(CSettingsKey& key) const;
    // Reads a whole template; false, the template unchanged, when a value is
    // missing, of another type, unreadable or the result is not valid.
    [[nodiscard]] bool LoadFromRegistry(const CSettingsKey& key);
    [[nodiscard]] bool LoadFromValues(const TemplateValueQuery& query);

    bool IsValid() const;

    const std::string& GetName() const { return m_name; }
    int GetWidth() const { return m_width; }
    int GetHeight() const { return m_height; }
    int GetCenX() const { return m_cenX; }
    int GetCenY() const { return m_cenY; }
    double GetScale() const { return m_scale; }
    // Row-major, width x height (plus one spare); null before allocation.
    const double* GetCoefficients() const { return m_coefficients.get(); }

private:
    std::string m_name;
    int m_width = 0;
    int m_height = 0;
    int m_cenX = 0;
    int m_cenY = 0;
    std::unique_ptr<double[]> m_coefficients;  // width x height + 1
    double m_scale = 1.0;                      // "DBCoef"
};

// The templates a user picks from, in the order shown.
class CRasterTemplateList {
public:
    // The stored list, or the built-in one when none is stored. Templates
    // that cannot be read are left out. False when the store has no list.
    bool Load(CSettingsStore& store = CSettingsStore::Instance());
    // Replaces the stored list with this one and saves the store; false when
    // a template is not valid or the store could not be written.
    [[nodiscard]] bool Save(CSettingsStore& store = CSettingsStore::Instance()) const;

    // The built-in templates: blur, sharpen, edges, horizontal and vertical
    // lines.
    void SetDefaults();
    // Appends a copy; false when it is not valid or memory is short.
    [[nodiscard]] bool Add(const CRasterTemplate& item);
    void RemoveAll() { m_items.RemoveAll(); }

    // By name, ignoring ASCII case; null when there is none.
    const CRasterTemplate* Find(const std::string& name) const;
    UINT GetCount() const { return m_items.GetCount(); }
    OArray<CRasterTemplate>& Items() { return m_items; }

private:
    OArray<CRasterTemplate> m_items;
};
