#include "trace/option_text.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

#include "model/text_table.h"
#include "platform/number_text.h"
#include "platform/settings_store.h"

namespace {

// Job files carry three decimals: a chart value within half the last one is
// the value the file was written from, not a change.
constexpr double kJobDoubleTolerance = 0.0005;

// Names come from the settings store, which may hold anything: a line break
// in one must not start a key of its own.
std::string OneLine(std::string text)
{
    for (char& c : text)
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    return text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// A name as a job value. Readers trim values and drop one pair of quotes, so
// a name that would lose blanks or quotes that way is quoted once more.
std::string JobName(const std::string& name)
{
    std::string value = OneLine(name);
    if (value.empty())
        return value;
    const bool quoted =
        value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front();
    if (quoted || IsBlank(value.front()) || IsBlank(value.back()))
        return '"' + value + '"';
    return value;
}

// Distances of zero and below are all "off"; -0.0 would print as "-0.000".
double NotNegative(double v) { return v > 0 ? v : 0.0; }

std::string Flag(const char* key, bool on) { return std::string(key) + (on ? "=1\n" : "=0\n"); }

std::string Decimal(double v) { return FormatC("%-.3f", v); }

std::string FillTypeLine(UINT type)
{
    switch (type) {
    case FILL_HORIZONTAL: return GetLanString("OptionFilltypeHorLine", "Fill type : Horizontal line") + "\n";
    case FILL_VERTICAL: return GetLanString("OptionFilltypeVerLine", "Fill type : Vertical line") + "\n";
    case FILL_CROSS: return GetLanString("OptionFilltypeCrossLine", "Fill type : Cross line") + "\n";
    default: return GetLanString("OptionFilltypeSolid", "Fill type : Solid") + "\n";
    }
}

std::string CircleLine(bool on)
{
    return (on ? GetLanString("OptionRecCircle", "Recognise circle and arc.")
               : GetLanString("OptionNotRecCircle", "Not recognise circle and arc.")) +
           "\n";
}

std::string FillSpaceLine(double space)
{
    return GetLanString("OptionFillSpace", "Fill space") + " = " + Decimal(space) + "\n";
}

std::string StraightenLine(double d)
{
    return GetLanString("OptionStraighten", "Straighten intension") + "= " + Decimal(d) + "\n";
}

// Reads the centre-line keys onto the chart type.
class CCenterSectionReader {
public:
    CCenterSectionReader(const CProfileFile& profile, const std::string& section, CChartType& chart)
        : m_profile(profile), m_section(section), m_chart(chart)
    {}

    void Read()
    {
        const std::string unnamed = UnnamedChartName();
        m_chart.Name = unnamed;
        // A chart type that cannot be loaded leaves the values as they were.
        (void)m_chart.LoadFromRegistry(m_profile.GetProfileString(m_section, "Chart", unnamed));

        double straighten = 0;
        if (ParseDoubleC(m_profile.GetProfileString(m_section, "Straighten", ""), straighten)) {
            straighten = NotNegative(straighten);
            if (std::fabs(straighten - m_chart.d_MaxDis) > kJobDoubleTolerance)
                Change(m_chart.d_MaxDis, straighten);
        }
        ReadFlag("Width", m_chart.b_CalcWidth);
        ReadWidthSeries();
        ReadFlag("Circle", m_chart.b_RecogniseCirArc);
        if (ReadFlag("Connect", m_chart.b_Connect))
            ReadDistance("distance", m_chart.i_ConDis);
        if (ReadFlag("Force", m_chart.b_ForceOrtho))
            ReadAngleSeries();
        if (ReadFlag("Delete", m_chart.b_DelLine))
            ReadDistance("Length", m_chart.i_DelLine_Length);
        if (m_renamed)
            m_chart.Name = unnamed;
    }

private:
    template <typename T>
    void Change(T& field, const T& value)
    {
        field = value;
        m_renamed = true;
    }

    bool ReadFlag(const char* key, bool& field)
    {
        const bool v = m_profile.GetProfileInt(m_section, key, field) != 0;
        if (v != field)
            Change(field, v);
        return field;
    }

    void ReadDistance(const char* key, int& field)
    {
        const int v = ClampDistance(m_profile.GetProfileInt(m_section, key, field));
        if (v != field)
            Change(field, v);
    }

    void ReadWidthSeries()
    {
        CWidthSeries& series = m_chart.WidthSeries;
        const std::string name = m_profile.GetProfileString(m_section, "WidthSeries", series.Name);
        if (!SeriesNamesEqual(name, series.Name))
            m_renamed = true;
        if (!name.empty() && series.LoadFromRegistry(name))
            return;
        // No widths and no name: the options then say what they do.
        series.Clear();
    }

    void ReadAngleSeries()
    {
        CAngleSeries& series = m_chart.AngleSeries;
        const std::string name = m_profile.GetProfileString(m_section, "AngleSeries", series.Name);
        if (!SeriesNamesEqual(name, series.Name))
            m_renamed = true;
        if (!name.empty() && series.LoadFromRegistry(name))
            return;
        series.SetDefault();
        m_renamed = true;
    }

    const CProfileFile& m_profile;
    const std::string& m_section;
    CChartType& m_chart;
    bool m_renamed = false;
};

}  // namespace

std::string CTraceOption::GetJobText() const
{
    std::string text = Flag("AutoGray", b_AutoGray) + FormatC("Gray=%d\n", i_Gray);
    switch (i_AutoTraceWhat) {
    case TRACE_OUTLINE:
        text += "Method=Outline\nStraighten=" + Decimal(Outline.d_MaxDis) + "\n";
        text += Flag("Circle", Outline.b_RecogniseCirArc);
        text += Flag("Fill", Outline.b_Fill);
        if (Outline.b_Fill)
            text += FormatC("Type=%u\nSpace=%-.3f\n", Outline.i_FillType, Outline.d_FillSpace);
        break;
    case TRACE_FILL_PATTERN:
        text += FormatC("Method=FillPattern\nType=%u\nSpace=%-.3f\n", FillPattern.i_FillType, FillPattern.d_FillSpace);
        break;
    default: {
        const CChartType& chart = ChartType;
        text += "Method=Center\nChart=" + JobName(chart.Name) + "\n";
        text += "Straighten=" + Decimal(chart.d_MaxDis) + "\n";
        text += Flag("Circle", chart.b_RecogniseCirArc);
        text += Flag("Width", chart.b_CalcWidth);
        if (chart.b_CalcWidth)
            text += "WidthSeries=" + JobName(chart.WidthSeries.Name) + "\n";
        text += Flag("Connect", chart.b_Connect);
        if (chart.b_Connect)
            text += FormatC("distance=%d\n", chart.i_ConDis);
        text += Flag("Force", chart.b_ForceOrtho);
        if (chart.b_ForceOrtho)
            text += "AngleSeries=" + JobName(chart.AngleSeries.Name) + "\n";
        text += Flag("Delete", chart.b_DelLine);
        if (chart.b_DelLine)
            text += FormatC("Length=%d\n", chart.i_DelLine_Length);
        break;
    }
    }
    return text;
}

bool CTraceOption::WriteJobText(FILE* file) const
{
    const std::string text = GetJobText();
    return file && std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

void CTraceOption::ReadJobSection(const CProfileFile& profile, const std::string& section)
{
    b_AutoGray = profile.GetProfileInt(section, "AutoGray", 0) != 0;
    i_Gray = ClampGray(profile.GetProfileInt(section, "Gray", 128));
    const std::string method = FoldSettingName(profile.GetProfileString(section, "Method", "Center"));
    if (method == "outline")
        i_AutoTraceWhat = TRACE_OUTLINE;
    else if (method == "fillpattern")
        i_AutoTraceWhat = TRACE_FILL_PATTERN;
    else
        i_AutoTraceWhat = TRACE_CENTER_LINE;

    double v = 0;
    switch (i_AutoTraceWhat) {
    case TRACE_CENTER_LINE: CCenterSectionReader(profile, section, ChartType).Read(); break;
    case TRACE_FILL_PATTERN: {
        const int type = profile.GetProfileInt(section, "Type", static_cast<int>(FillPattern.i_FillType));
        FillPattern.i_FillType = static_cast<UINT>(std::clamp(type, 0, static_cast<int>(FILL_CROSS)));
        if (ParseDoubleC(profile.GetProfileString(section, "Space", "1.0"), v))
            FillPattern.d_FillSpace = ClampFillSpace(v, FillPattern.d_FillSpace);
        break;
    }
    default:
        Outline.d_MaxDis =
            ParseDoubleC(profile.GetProfileString(section, "Straighten", "1.0"), v) ? NotNegative(v) : 1.0;
        Outline.b_RecogniseCirArc = profile.GetProfileInt(section, "Circle", 1) != 0;
        Outline.b_Fill = profile.GetProfileInt(section, "Fill", 0) != 0;
        if (Outline.b_Fill) {
            const int type = profile.GetProfileInt(section, "Type", FILL_SOLID);
            Outline.i_FillType = static_cast<UINT>(std::clamp(type, 0, static_cast<int>(FILL_SOLID)));
            v = 1.0;
            (void)ParseDoubleC(profile.GetProfileString(section, "Space", "1.0"), v);
            Outline.d_FillSpace = ClampFillSpace(v, 1.0);
        }
        break;
    }
}

bool CTraceOption::ReadJobSection(const std::string& section, const std::string& path)
{
    CProfileFile profile;
    if (!profile.Load(path))
        return false;
    ReadJobSection(profile, section);
    return true;
}

std::string CTraceOption::GetDescriptionText() const
{
    std::string text;
    switch (i_AutoTraceWhat) {
    case TRACE_FILL_PATTERN:
        text += GetLanString("OptionMethodFill", "Method=Fill Pattern") + "\n";
        text += FillTypeLine(FillPattern.i_FillType);
        text += FillSpaceLine(FillPattern.d_FillSpace);
        break;
    case TRACE_OUTLINE:
        text += GetLanString("OptionMethodOutline", "Method=Outline") + "\n";
        text += CircleLine(Outline.b_RecogniseCirArc);
        text += StraightenLine(Outline.d_MaxDis);
        if (Outline.b_Fill)
            text += FillTypeLine(Outline.i_FillType) + FillSpaceLine(Outline.d_FillSpace);
        break;
    default: {
        const CChartType& chart = ChartType;
        text += GetLanString("OptionMethodCenter", "Method=Center") + "\n";
        text += GetLanString("OptionChartType", "Chart type") + "= " + OneLine(chart.Name) + "\n";
        text += StraightenLine(chart.d_MaxDis);
        text += CircleLine(chart.b_RecogniseCirArc);
        if (chart.b_CalcWidth)
            text += GetLanString("OptionCalcWidth", "Calculate width.") + "\n" +
                    GetLanString("OptionWidthSeries", "Width series name") + " = " + OneLine(chart.WidthSeries.Name) +
                    "\n";
        else
            text += GetLanString("OptionNotCalcWidth", "Not calculate width.") + "\n";
        if (chart.b_Connect)
            text += GetLanString("OptionConnectLine", "Connect adjacent line.") + "\n" +
                    GetLanString("OptionConnectDistance", "Connect distance") + FormatC(" = %d\n", chart.i_ConDis);
        else
            text += GetLanString("OptionNotConnectLine", "Not connect adjacent line.") + "\n";
        if (chart.b_ForceOrtho)
            text += GetLanString("OptionAdjustAngle", "Adjust angle.") + "\n" +
                    GetLanString("OptionAdjustAngleSeries", "Angle series") + ": " + OneLine(chart.AngleSeries.Name) +
                    "\n";
        else
            text += GetLanString("OptionNotAdjustAngle", "Not adjust angle.") + "\n";
        if (chart.b_DelLine)
            text += GetLanString("OptionDeleteMixupLine", "Delete mix-up line.") + "\n" +
                    GetLanString("OptionDelLength", "Length") + FormatC(" = %d\n", chart.i_DelLine_Length);
        else
            text += GetLanString("OptionNotDelMixupLine", "Not delete mix-up line.") + "\n";
        break;
    }
    }
    return text;
}

bool CTraceOption::GetDescription(FILE* file) const
{
    const std::string text = GetDescriptionText();
    return file && std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

std::string FindJobOptionSection(const CProfileFile& profile)
{
    for (const std::string& section : profile.GetSectionNames())
        if (profile.HasKey(section, "Method"))
            return section;
    return "";
}

namespace {

// Checks the values of one section against the ranges the reader clamps to.
class CJobSectionChecker {
public:
    CJobSectionChecker(const CProfileFile& profile, const std::string& section) : m_profile(profile), m_section(section)
    {}

    std::vector<CJobValueProblem> Check()
    {
        Flag("AutoGray");
        Integer("Gray", 0, 255, "a grey level from 0 to 255");
        const std::string method = FoldSettingName(Value("Method"));
        if (m_profile.HasKey(m_section, "Method") && method != "center" && method != "outline" &&
            method != "fillpattern")
            Report("Method", "Center, Outline or FillPattern");
        if (method == "outline") {
            Distance("Straighten");
            Flag("Circle");
            Flag("Fill");
            Integer("Type", 0, static_cast<int>(FILL_SOLID), "0 (horizontal), 1 (vertical), 2 (cross) or 3 (solid)");
            Spacing("Space");
        } else if (method == "fillpattern") {
            Integer("Type", 0, static_cast<int>(FILL_CROSS), "0 (horizontal), 1 (vertical) or 2 (cross)");
            Spacing("Space");
        } else if (method == "center" || !m_profile.HasKey(m_section, "Method")) {
            Distance("Straighten");
            for (const char* key : {"Circle", "Width", "Connect", "Force", "Delete"})
                Flag(key);
            Integer("distance", 0, INT_MAX, "a whole number of pixels from 0");
            Integer("Length", 0, INT_MAX, "a whole number of pixels from 0");
            // Blank names stand for no chart type, no widths and the default
            // angle series; any other name must be one that loads.
            std::vector<std::string> charts = {"pre_Default", "pre_Engineering", "pre_Topography"};
            for (const std::string& name : CChartType::EnumRegistryNames())
                charts.push_back(name);
            charts.push_back(UnnamedChartName());
            Named("Chart", charts, "a chart type");
            Named("WidthSeries", CWidthSeries::EnumRegistryNames(), "a width series");
            Named("AngleSeries", CAngleSeries::EnumRegistryNames(), "an angle series");
        }
        std::stable_sort(m_problems.begin(), m_problems.end(),
                         [](const CJobValueProblem& a, const CJobValueProblem& b) { return a.line < b.line; });
        return std::move(m_problems);
    }

private:
    std::string Value(const char* key) const { return m_profile.GetProfileString(m_section, key, ""); }

    void Report(const char* key, const std::string& expected)
    {
        m_problems.push_back(
            {key, Value(key), m_profile.GetKeyLine(m_section, key), std::string(key) + " takes " + expected});
    }

    void Integer(const char* key, int lo, int hi, const char* expected)
    {
        std::int32_t v = 0;
        if (m_profile.HasKey(m_section, key) && (!ParseIntC(Value(key), v) || v < lo || v > hi))
            Report(key, expected);
    }

    void Flag(const char* key) { Integer(key, 0, 1, "0 or 1"); }

    void Number(const char* key, double lowest, const std::string& expected)
    {
        double v = 0;
        if (m_profile.HasKey(m_section, key) && (!ParseDoubleC(Value(key), v) || !std::isfinite(v) || v < lowest))
            Report(key, expected);
    }

    void Named(const char* key, const std::vector<std::string>& names, const char* what)
    {
        const std::string value = Value(key);
        if (value.empty() || std::any_of(names.begin(), names.end(),
                                         [&](const std::string& name) { return SeriesNamesEqual(name, value); }))
            return;
        std::string list;
        for (const std::string& name : names)
            list += (list.empty() ? "\"" : ", \"") + OneLine(name) + "\"";
        Report(key, std::string(what) + ": " + list);
    }

    void Distance(const char* key) { Number(key, 0.0, "a distance in pixels from 0"); }
    void Spacing(const char* key) { Number(key, kMinFillSpace, FormatC("a spacing in pixels from %g", kMinFillSpace)); }

    const CProfileFile& m_profile;
    const std::string& m_section;
    std::vector<CJobValueProblem> m_problems;
};

}  // namespace

std::vector<CJobValueProblem> CheckJobSection(const CProfileFile& profile, const std::string& section)
{
    return CJobSectionChecker(profile, section).Check();
}

bool LoadJobFileOptions(const std::string& path, const std::string& section, CTraceOption& option, std::string* error,
                        std::vector<CJobValueProblem>* problems)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    CProfileFile profile;
    std::string why;
    if (!profile.Load(path, &why))
        return fail("cannot read " + path + ": " + why);
    std::string name = section;
    if (name.empty()) {
        name = FindJobOptionSection(profile);
        if (name.empty())
            return fail(path + " has no section with tracing options (no \"Method\" key)");
    } else if (!profile.HasSection(name)) {
        return fail(path + " has no section [" + name + "]");
    }
    if (problems) {
        *problems = CheckJobSection(profile, name);
        if (!problems->empty()) {
            std::string message;
            for (const CJobValueProblem& p : *problems)
                message += FormatC("%s%s:%d: %s=%s: %s", message.empty() ? "" : "\n", path.c_str(), p.line,
                                   p.key.c_str(), p.value.c_str(), p.expected.c_str());
            return fail(message);
        }
    }
    option.ReadJobSection(profile, name);
    return true;
}

const std::vector<CJobKey>& GetJobKeys()
{
    static const std::vector<CJobKey> keys = {
        {"AutoGray", ""},
        {"Gray", ""},
        {"Method", ""},
        {"Chart", "Center"},
        {"Straighten", "Center Outline"},
        {"Circle", "Center Outline"},
        {"Width", "Center"},
        {"WidthSeries", "Center"},
        {"Connect", "Center"},
        {"distance", "Center"},
        {"Force", "Center"},
        {"AngleSeries", "Center"},
        {"Delete", "Center"},
        {"Length", "Center"},
        {"Fill", "Outline"},
        {"Type", "Outline FillPattern"},
        {"Space", "Outline FillPattern"},
    };
    return keys;
}

namespace {

// The key of GetJobKeys spelt as given, whatever its case; null when none.
const char* FindJobKey(std::string_view name)
{
    const std::string folded = FoldSettingName(name);
    for (const CJobKey& key : GetJobKeys())
        if (FoldSettingName(key.name) == folded)
            return key.name;
    return nullptr;
}

// The value of "Method" for a tracing method.
const char* JobMethodName(UINT method)
{
    switch (method) {
    case TRACE_OUTLINE: return "Outline";
    case TRACE_FILL_PATTERN: return "FillPattern";
    default: return "Center";
    }
}

// The methods of a key of GetJobKeys ("" for every method).
std::string_view JobKeyMethods(const std::string& key)
{
    for (const CJobKey& entry : GetJobKeys())
        if (key == entry.name)
            return entry.methods;
    return {};
}

bool MethodListHas(std::string_view methods, std::string_view method)
{
    for (std::size_t begin = 0; begin < methods.size();) {
        std::size_t end = methods.find(' ', begin);
        if (end == std::string_view::npos)
            end = methods.size();
        if (methods.substr(begin, end - begin) == method)
            return true;
        begin = end + 1;
    }
    return false;
}

// "Outline FillPattern" as "Outline or FillPattern".
std::string MethodListText(std::string_view methods)
{
    std::string text(methods);
    if (const std::size_t space = text.find(' '); space != std::string::npos)
        text.replace(space, 1, " or ");
    return text;
}

// The centre-line keys a chart type sets.
bool IsChartValueKey(const std::string& key)
{
    for (const char* name : {"Straighten", "Circle", "Width", "WidthSeries", "Connect", "distance", "Force",
                             "AngleSeries", "Delete", "Length"})
        if (key == name)
            return true;
    return false;
}

}  // namespace

bool ApplyJobSettings(const std::vector<std::string>& settings, CTraceOption& option, std::string* error,
                      std::vector<CJobValueProblem>* problems)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    if (problems)
        problems->clear();
    // Key as listed -> value, the last setting of a key counting.
    std::vector<std::pair<std::string, std::string>> set;
    for (const std::string& setting : settings) {
        const std::size_t equals = setting.find('=');
        if (equals == std::string::npos)
            return fail("--set takes KEY=VALUE, not '" + setting + "'");
        std::string name = setting.substr(0, equals);
        while (!name.empty() && IsBlank(name.back()))
            name.pop_back();
        while (!name.empty() && IsBlank(name.front()))
            name.erase(name.begin());
        const char* key = FindJobKey(name);
        if (key == nullptr)
            return fail("--set: '" + name + "' is no job-file key");
        const std::string value = setting.substr(equals + 1);
        if (value.find_first_of("\r\n") != std::string::npos)
            return fail(std::string("--set: the value of ") + key + " must be one line");
        std::erase_if(set, [&](const auto& entry) { return entry.first == key; });
        set.emplace_back(key, value);
    }
    if (set.empty())
        return true;

    // The options' own section, written for the method the settings choose.
    CTraceOption base(option);
    bool chart = false;
    for (const auto& [key, value] : set) {
        chart = chart || key == "Chart";
        if (key != "Method")
            continue;
        const std::string method = FoldSettingName(value);
        if (method == "outline")
            base.i_AutoTraceWhat = TRACE_OUTLINE;
        else if (method == "fillpattern")
            base.i_AutoTraceWhat = TRACE_FILL_PATTERN;
        else if (method == "center")
            base.i_AutoTraceWhat = TRACE_CENTER_LINE;
    }
    std::string text = "[Set]\n";
    for (const auto& [key, value] : set)
        text += key + "=" + value + "\n";
    const std::string own = base.GetJobText();
    for (std::size_t begin = 0; begin < own.size();) {
        std::size_t end = own.find('\n', begin);
        if (end == std::string::npos)
            end = own.size();
        const std::string line = own.substr(begin, end - begin);
        begin = end + 1;
        const std::string key = line.substr(0, line.find('='));
        const bool given = std::any_of(set.begin(), set.end(), [&](const auto& entry) { return entry.first == key; });
        if (!given && !(chart && base.i_AutoTraceWhat == TRACE_CENTER_LINE && IsChartValueKey(key)))
            text += line + "\n";
    }
    CProfileFile profile;
    profile.Parse(text);
    // The options' own lines may name a series since deleted: only what was
    // set is the caller's to mend.
    std::vector<CJobValueProblem> found = CheckJobSection(profile, "Set");
    std::erase_if(found, [&](const CJobValueProblem& p) {
        return std::none_of(set.begin(), set.end(), [&](const auto& entry) { return entry.first == p.key; });
    });
    // A key the method in use does not read would be dropped without a word.
    const char* method = JobMethodName(base.i_AutoTraceWhat);
    const bool methodKnown =
        std::none_of(found.begin(), found.end(), [](const CJobValueProblem& p) { return p.key == "Method"; });
    for (const auto& [key, value] : set) {
        const std::string_view methods = JobKeyMethods(key);
        if (methodKnown && !methods.empty() && !MethodListHas(methods, method))
            found.push_back(
                {key, value, 0, key + " is read by the " + MethodListText(methods) + " method only, not by " + method});
    }
    if (!found.empty()) {
        std::string message;
        for (const CJobValueProblem& p : found)
            message += FormatC("%s--set %s=%s: %s", message.empty() ? "" : "\n", p.key.c_str(), p.value.c_str(),
                               p.expected.c_str());
        if (problems)
            *problems = std::move(found);
        return fail(message);
    }
    option.ReadJobSection(profile, "Set");
    return true;
}
