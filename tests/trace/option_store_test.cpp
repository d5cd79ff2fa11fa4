#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "model/constants.h"
#include "model/registry_values.h"
#include "platform/message_box.h"
#include "platform/settings_store.h"
#include "trace/trace_option.h"

using ::testing::ElementsAre;

namespace {

const std::string kBase = "Software\\Korvane\\Lineweft\\";

// Every test starts from a store without the program's keys and records the
// messages it causes.
class OptionStore : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearStore();
        previous_ = SetMessageBoxHook([this](const std::string& text, const std::string&, unsigned) {
            messages_.push_back(text);
            return IDOK;
        });
    }
    void TearDown() override
    {
        SetMessageBoxHook(previous_);
        ClearStore();
    }

    static void ClearStore()
    {
        CSettingsKey key;
        if (key.Open("Software\\Korvane"))
            key.DeleteSubKey("Lineweft");
        ASSERT_TRUE(key.Flush());
    }

    // Writes raw values the way a damaged or hand-edited store holds them.
    struct Raw {
        explicit Raw(const std::string& path) { EXPECT_TRUE(key.Create(kBase + path)); }
        ~Raw() { EXPECT_TRUE(key.Flush()); }
        Raw& Dword(const std::string& n, DWORD v)
        {
            EXPECT_TRUE(key.SetDword(n, v));
            return *this;
        }
        Raw& String(const std::string& n, const std::string& v)
        {
            EXPECT_TRUE(key.SetString(n, v));
            return *this;
        }
        Raw& Double(const std::string& n, double v)
        {
            EXPECT_TRUE(RegSetDouble(key, n, v));
            return *this;
        }
        Raw& Bytes(const std::string& n, size_t count)
        {
            const BYTE bytes[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
            EXPECT_TRUE(key.SetBinary(n, bytes, count));
            return *this;
        }
        CSettingsKey key;
    };

    static CTraceOption Loaded()
    {
        CTraceOption o;
        o.LoadFromRegistry();
        return o;
    }

    std::vector<std::string> messages_;
    MessageBoxHook previous_;
};

std::uint64_t Bits(double d) { return std::bit_cast<std::uint64_t>(d); }

}  // namespace

// ---- the option record ----

TEST_F(OptionStore, EveryValueRoundTripsAndDoublesKeepEveryBit)
{
    // With nothing stored the record keeps its own defaults; a value missing
    // from a stored key takes the store's, which is not always the record's.
    EXPECT_TRUE(Loaded().b_AutoGray);
    EXPECT_EQ(Loaded().i_VectorFileFormat, 7u);
    Raw("Option").Dword("i_Gray", 5);
    EXPECT_EQ(Loaded().i_VectorFileFormat, 1u);
    EXPECT_FALSE(Loaded().b_AutoGray);
    CTraceOption o;
    o.i_AutoTraceWhat = TRACE_OUTLINE;
    o.i_Gray = 37;
    o.b_AutoGray = false;
    o.c_BackGroundColorIndex = 250;
    o.c_GripBoxColorIndex = 100;
    o.i_VectorFileFormat = 4;
    o.Outline = {5e-324, false, true, FILL_CROSS, 0.1 + 0.2};
    o.FillPattern = {FILL_VERTICAL, 1.0 / 3};
    o.ChartType.d_MaxDis = 2.718281828459045;
    o.ChartType.b_DelLine = false;
    o.ChartType.b_RecogniseCirArc = false;
    ASSERT_TRUE(o.SaveToRegistry());

    const CTraceOption l = Loaded();
    EXPECT_EQ(l.i_AutoTraceWhat, TRACE_OUTLINE);
    EXPECT_EQ(l.i_Gray, 37);
    EXPECT_FALSE(l.b_AutoGray);
    EXPECT_EQ(l.c_BackGroundColor, RGB(84, 84, 84));
    EXPECT_EQ(l.c_GripBoxColorIndex, 100);
    EXPECT_EQ(l.i_VectorFileFormat, 4u);
    EXPECT_EQ(Bits(l.Outline.d_MaxDis), Bits(5e-324));
    EXPECT_FALSE(l.Outline.b_RecogniseCirArc);
    EXPECT_TRUE(l.Outline.b_Fill);
    EXPECT_FALSE(l.ChartType.b_RecogniseCirArc);
    EXPECT_EQ(l.Outline.i_FillType, FILL_CROSS);
    EXPECT_EQ(Bits(l.Outline.d_FillSpace), Bits(0.1 + 0.2));
    EXPECT_EQ(l.FillPattern.i_FillType, FILL_VERTICAL);
    EXPECT_EQ(Bits(l.FillPattern.d_FillSpace), Bits(1.0 / 3));
    EXPECT_EQ(Bits(l.ChartType.d_MaxDis), Bits(2.718281828459045));
    EXPECT_FALSE(l.ChartType.b_DelLine);
    EXPECT_EQ(l.ChartType.Name, "Unnamed");
    EXPECT_TRUE(messages_.empty());
}

TEST_F(OptionStore, OptionValuesAreClamped)
{
    Raw("Option")
        .Dword("i_AutoTraceWhat", 0)
        .Dword("i_VectorFileFormat", 0)
        .Dword("GridPointType", 5)
        .Dword("i_Gray", 0xFFFFFFFF)
        .Dword("c_NormalColorIndex", 0);
    CTraceOption o = Loaded();
    EXPECT_EQ(o.i_AutoTraceWhat, 1u);
    EXPECT_EQ(o.i_VectorFileFormat, 1u);
    EXPECT_EQ(o.GridPointType, 2u);
    EXPECT_EQ(o.i_Gray, 0);
    EXPECT_EQ(o.c_NormalColorIndex, 5u);

    Raw("Option").Dword("i_AutoTraceWhat", 7).Dword("i_VectorFileFormat", 12).Dword("i_Gray", 1000);
    o = Loaded();
    EXPECT_EQ(o.i_AutoTraceWhat, 3u);
    EXPECT_EQ(o.i_VectorFileFormat, 9u);
    EXPECT_EQ(o.i_Gray, 255);
}

TEST_F(OptionStore, OutlineAndFillPatternValuesAreClamped)
{
    Raw("Option\\Outline").Double("d_MaxDis", -1).Dword("i_FillType", 9).Double("d_FillSpace", 0);
    Raw("Option\\FillPattern").Dword("i_FillType", 0xFFFFFFFF).Double("d_FillSpace", 1e-300);
    CTraceOption o = Loaded();
    EXPECT_EQ(o.Outline.d_MaxDis, 0.0);
    EXPECT_EQ(o.Outline.i_FillType, 3u);
    EXPECT_EQ(o.Outline.d_FillSpace, 1.0);
    EXPECT_EQ(o.FillPattern.i_FillType, 2u);
    EXPECT_EQ(o.FillPattern.d_FillSpace, kMinFillSpace);

    // Doubles that are not finite or not 8 bytes are no values at all.
    Raw("Option\\Outline").Double("d_MaxDis", std::numeric_limits<double>::quiet_NaN()).Bytes("d_FillSpace", 4);
    Raw("Option\\FillPattern").Double("d_FillSpace", -std::numeric_limits<double>::infinity());
    o = Loaded();
    EXPECT_EQ(o.Outline.d_MaxDis, 1.5);
    EXPECT_EQ(o.Outline.d_FillSpace, 1.0);
    EXPECT_EQ(o.FillPattern.d_FillSpace, 1.0);
}

// ---- the current chart type and the rename rule ----

TEST_F(OptionStore, APresetStaysNamedWhileItsValuesMatch)
{
    CTraceOption o;
    o.ChartType.SetEngineeringPreset();
    ASSERT_TRUE(o.SaveToRegistry());
    EXPECT_EQ(Loaded().ChartType.Name, "pre_Engineering");
    Raw("Option\\Center").Double("d_MaxDis", 2.000001);  // within 1e-5: no change
    EXPECT_EQ(Loaded().ChartType.Name, "pre_Engineering");

    Raw("Option\\Center").Dword("i_ConDis", 7);
    const CTraceOption l = Loaded();
    EXPECT_EQ(l.ChartType.Name, "Unnamed");
    EXPECT_EQ(l.ChartType.i_ConDis, 7);
    EXPECT_EQ(l.ChartType.i_DelLine_Length, 5);
}

TEST_F(OptionStore, CenterSeriesAreLoadedByName)
{
    CWidthSeries widths;
    widths.Name = "Pens";
    widths.Unit = WIDTH_UNIT_PIXEL;
    ASSERT_TRUE(widths.AddWidth(3));
    ASSERT_TRUE(widths.SaveToRegistry());
    CTraceOption o;
    o.ChartType.WidthSeries = widths;
    o.ChartType.AngleSeries.SetOrtho();
    ASSERT_TRUE(o.SaveToRegistry());
    CTraceOption l = Loaded();
    EXPECT_EQ(l.ChartType.Name, "Unnamed");  // the preset has other series
    EXPECT_THAT(l.ChartType.WidthSeries.GetWidths(), ElementsAre(3));
    EXPECT_EQ(l.ChartType.AngleSeries.GetCount(), 3u);

    // A width series no longer stored is emptied, name and all, so the
    // options name nothing they do not use; an angle series falls back.
    ASSERT_TRUE(CWidthSeries::DeleteFromRegistry("Pens"));
    Raw("Option\\Center").String("s_AngleSeries", "Gone");
    l = Loaded();
    EXPECT_EQ(l.ChartType.WidthSeries.Name, "");
    EXPECT_TRUE(l.ChartType.WidthSeries.GetWidths().empty());
    EXPECT_EQ(l.ChartType.AngleSeries.Name, "Default");
}

// ---- chart types ----

TEST_F(OptionStore, ChartTypesRoundTripThroughTheList)
{
    CChartType c;
    c.SetTopographyPreset();
    c.Name = "Maps";
    c.d_MaxDis = 0.1 + 0.7;
    c.b_DelLine = true;
    c.AngleSeries.SetTinilyAdjust();
    ASSERT_TRUE(c.SaveToRegistry());
    CChartType l;
    ASSERT_TRUE(l.LoadFromRegistry("maps"));
    EXPECT_EQ(l.Name, "maps");
    EXPECT_EQ(Bits(l.d_MaxDis), Bits(0.1 + 0.7));
    EXPECT_TRUE(l.b_DelLine);
    EXPECT_EQ(l.AngleSeries.Name, "Tinily Adjust");
    EXPECT_THAT(CChartType::EnumRegistryNames(), ElementsAre("Maps"));
    EXPECT_TRUE(CChartType::DeleteFromRegistry("Maps"));
    EXPECT_TRUE(messages_.empty());
}

TEST_F(OptionStore, ChartTypeLoadsFallBackToPresetsAndDefaults)
{
    CChartType c;
    c.SetEngineeringPreset();
    EXPECT_FALSE(c.LoadFromRegistry("Unknown"));
    EXPECT_EQ(c.Name, "pre_Engineering");

    Raw("OptionList\\Bare").Dword("i_ConDis", 0xFFFFFFFF);
    ASSERT_TRUE(c.LoadFromRegistry("Bare"));
    EXPECT_EQ(c.d_MaxDis, 2.0);
    EXPECT_EQ(c.AngleSeries.Name, "Default");
    EXPECT_EQ(c.i_ConDis, 0);
}

TEST_F(OptionStore, NamesThatAreNoSingleKeyAreRefused)
{
    Raw("OptionList\\A\\B").Dword("i_ConDis", 1);
    CChartType c;
    EXPECT_FALSE(c.LoadFromRegistry("A\\B"));
    c.Name = "A\\B";
    EXPECT_FALSE(c.SaveToRegistry());
    EXPECT_EQ(messages_.size(), 1u);
    EXPECT_FALSE(CChartType::DeleteFromRegistry("A\\B"));
    EXPECT_FALSE(CChartType::DeleteFromRegistry("Absent"));
    EXPECT_EQ(messages_.size(), 3u);
    EXPECT_THAT(CChartType::EnumRegistryNames(), ElementsAre("A"));
}

// ---- width series ----

TEST_F(OptionStore, WidthSeriesRoundTrip)
{
    CWidthSeries s;
    s.Name = "Pens";
    s.Unit = WIDTH_UNIT_INCH;
    for (double w : {0.1 + 0.2, 0.7, 1e-3})
        ASSERT_TRUE(s.AddWidth(w));
    ASSERT_TRUE(s.SaveToRegistry());
    CWidthSeries l;
    ASSERT_TRUE(l.LoadFromRegistry("Pens"));
    EXPECT_EQ(l.Unit, WIDTH_UNIT_INCH);
    ASSERT_EQ(l.GetWidths().size(), 3u);
    EXPECT_EQ(Bits(l.GetWidths()[1]), Bits(0.1 + 0.2));
    // A shorter list leaves nothing behind.
    CWidthSeries shorter;
    shorter.Name = "Pens";
    ASSERT_TRUE(shorter.AddWidth(5));
    ASSERT_TRUE(shorter.SaveToRegistry());
    ASSERT_TRUE(l.LoadFromRegistry("Pens"));
    EXPECT_THAT(l.GetWidths(), ElementsAre(5));
    CSettingsKey key;
    ASSERT_TRUE(key.Open(kBase + "WidthSeries\\Pens"));
    EXPECT_EQ(key.EnumValueNames().size(), 4u);
}

TEST_F(OptionStore, StoredWidthsAreSortedDedupedAndBounded)
{
    Raw("WidthSeries\\Bad")
        .Dword("WidthCount", 0xFFFFFFFF)
        .Dword("MoreWidth", 0xFFFFFFFF)
        .Dword("Unit", 42)
        .Double("w0", 2.0)
        .Double("w1", 0.5)
        .Double("w2", 2.000001)
        .Double("w3", std::numeric_limits<double>::infinity())
        .Bytes("w4", 7)
        .Bytes("w5", 9)
        .Double("w6", 1.0);
    CWidthSeries l;
    ASSERT_TRUE(l.LoadFromRegistry("Bad"));
    EXPECT_THAT(l.GetWidths(), ElementsAre(0.5, 1.0, 2.0));
    EXPECT_EQ(l.MoreWidth, 0u);
    EXPECT_EQ(l.Unit, WIDTH_UNIT_MM);
}

TEST_F(OptionStore, DefaultWidthSeriesIsBuiltInUnlessStored)
{
    EXPECT_TRUE(CWidthSeries::IsStored("Default"));
    CWidthSeries l;
    ASSERT_TRUE(l.LoadFromRegistry("Default"));
    EXPECT_EQ(l.Widths.GetCount(), 4u);

    Raw("WidthSeries\\Default").Dword("WidthCount", 1).Dword("Unit", 3).Double("w0", 6);
    ASSERT_TRUE(l.LoadFromRegistry("Default"));
    EXPECT_THAT(l.GetWidths(), ElementsAre(6));
    EXPECT_THAT(CWidthSeries::EnumRegistryNames(), ElementsAre("Default"));

    EXPECT_FALSE(CWidthSeries().SaveToRegistry());  // no name, no key
}

// ---- angle series ----

TEST_F(OptionStore, AngleSeriesRoundTrip)
{
    CAngleSeries s;
    s.Name = "Steep";
    ASSERT_TRUE(s.AddItem({PI / 7, PI / 7 + 0.01, PI / 7 - 0.01}));
    ASSERT_TRUE(s.AddItem({1.0, 1.1, 0.9}));
    ASSERT_TRUE(s.SaveToRegistry());
    CAngleSeries l;
    ASSERT_TRUE(l.LoadFromRegistry("steep"));
    const std::vector<CAngleItem> items = l.GetItems();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(Bits(items[0].MainAngle), Bits(PI / 7));
    EXPECT_EQ(Bits(items[0].MinAngle), Bits(PI / 7 - 0.01));
    EXPECT_THAT(CAngleSeries::EnumRegistryNames(), ElementsAre("Default", "Ortho series", "Tinily Adjust", "Steep"));
    EXPECT_TRUE(CAngleSeries::DeleteFromRegistry("Steep"));
    EXPECT_FALSE(l.Reload());
}

TEST_F(OptionStore, RejectedOrDamagedAngleItemsResetToDefault)
{
    Raw("AngleSeries\\Overlap")
        .Dword("AngleCount", 2)
        .Double("0_MainAngle", 0.5)
        .Double("0_MaxAngle", 0.6)
        .Double("0_MinAngle", 0.4)
        .Double("1_MainAngle", 0.55)
        .Double("1_MaxAngle", 0.7)
        .Double("1_MinAngle", 0.45);
    Raw("AngleSeries\\Huge").Dword("AngleCount", 0xFFFFFFFF);
    Raw("AngleSeries\\Short")
        .Dword("AngleCount", 1)
        .Double("0_MainAngle", 0.5)
        .Bytes("0_MaxAngle", 4)
        .Double("0_MinAngle", 0.4);
    for (const char* name : {"Overlap", "Huge", "Short"}) {
        CAngleSeries l;
        ASSERT_TRUE(l.LoadFromRegistry(name)) << name;
        EXPECT_EQ(l.Name, "Default") << name;
        EXPECT_EQ(l.GetCount(), 9u) << name;
    }
}

// ---- failures ----

TEST_F(OptionStore, AStoreThatCannotBeWrittenIsReportedPerKey)
{
    CSettingsStore& store = CSettingsStore::Instance();
    const std::string path = store.FilePath();
    store.UseFile("/proc/lineweft-cannot-exist/settings.conf");
    const bool saved = CTraceOption().SaveToRegistry();
    store.UseFile(path);
    EXPECT_FALSE(saved);
    EXPECT_THAT(messages_, ElementsAre("Write to registry failed!", "Write to registry failed!",
                                       "Write to registry failed!", "Write to registry failed!"));
}
