// Convolution templates: the row kernels against the formula applied pixel
// by pixel, the checks on templates read from the store, and the stored
// list.
#include "raster_test_support.h"

#include "platform/number_text.h"
#include "raster/pixel_ops.h"
#include "raster/raster_template.h"
#include "raster/row_bands.h"

#include <cmath>
#include <limits>

namespace {

struct TestKernel {
    int w, h, cx, cy;
    double scale;
    std::vector<double> k;
};

// 16-bit sums (small integers), double sums (fractions, large integers),
// off-centre and one-row kernels.
std::vector<TestKernel> Kernels()
{
    std::vector<TestKernel> kernels = {
        {3, 3, 1, 1, 0.1111, {1, 1, 1, 1, 1, 1, 1, 1, 1}},
        {3, 3, 1, 1, 1.0, {-1, -1, -1, -1, 8, -1, -1, -1, -1}},
        {3, 2, 0, 1, 0.37, {0.25, -1.5, 3.125, 0.1, 0, -2.2}},
        {5, 1, 4, 0, 0.5, {1000, -999, 3, 0, 1}},
        {1, 4, 0, 2, 1.3333, {1, 2, 3, -4}},
    };
    TestKernel big{7, 5, 2, 3, 0.01, {}};
    for (int i = 0; i < 35; ++i)
        big.k.push_back((i * 37 % 11) - 5);
    kernels.push_back(big);
    return kernels;
}

BYTE ReferenceByte(double s, double scale)
{
    double v = std::fabs(s * scale);
    return v <= 255.0 ? static_cast<BYTE>(static_cast<int>(v + 0.5)) : BYTE{255};
}

// The formula pixel by pixel, reading a copy; channel c of the colour
// accessors, or the index byte at 8 bits.
void ReferenceTemplate(CRasterSrc& image, const TestKernel& t)
{
    CRasterSrc copy;
    ASSERT_TRUE(copy.Copy(image));
    const int w = image.GetWidth(), h = image.GetHeight();
    for (int y = t.cy; y <= h - t.h + t.cy; ++y)
        for (int x = t.cx; x <= w - t.w + t.cx; ++x) {
            double s[3] = {0, 0, 0};
            for (int j = 0; j < t.h; ++j)
                for (int i = 0; i < t.w; ++i) {
                    const int sx = x - t.cx + i, sy = y - t.cy + j;
                    const double k = t.k[static_cast<size_t>(j * t.w + i)];
                    if (image.GetBitCount() == 8) {
                        s[0] += copy.GetPixelIndex(sx, sy) * k;
                    } else {
                        BYTE r, g, b;
                        copy.GetPixelRGB(sx, sy, r, g, b);
                        s[0] += r * k;
                        s[1] += g * k;
                        s[2] += b * k;
                    }
                }
            if (image.GetBitCount() == 8)
                image.SetPixelIndex(x, y, ReferenceByte(s[0], t.scale));
            else
                image.SetPixelRGB(x, y, ReferenceByte(s[0], t.scale), ReferenceByte(s[1], t.scale),
                                  ReferenceByte(s[2], t.scale));
        }
}

std::vector<BYTE> StoredBytes(const CRasterSrc& image)
{
    std::vector<BYTE> out;
    const size_t used = static_cast<size_t>(PixelsToBytes(image.GetWidth(), image.GetBitCount()));
    for (int y = 0; y < image.GetHeight(); ++y)
        out.insert(out.end(), image.GetRow(y), image.GetRow(y) + used);
    return out;
}

std::vector<int> g_progress;
void RecordProgress(const std::string&, int percent) { g_progress.push_back(percent); }

// A template's values in a parsed settings tree, as a query.
TemplateValueQuery QueryOf(const std::map<std::string, SettingValue>& values)
{
    return [&values](const std::string& name, SettingValue& value) {
        auto it = values.find(name);
        if (it == values.end())
            return false;
        value = it->second;
        return true;
    };
}

SettingValue Text(const std::string& text)
{
    SettingValue v;
    v.type = SettingType::String;
    v.text = text;
    return v;
}

SettingValue Dword(DWORD d)
{
    SettingValue v;
    v.dword = d;
    return v;
}

std::map<std::string, SettingValue> BlurValues()
{
    std::map<std::string, SettingValue> values = {{"Name", Text("Blur")}, {"Width", Dword(3)},
                                                  {"Height", Dword(2)},   {"CenX", Dword(1)},
                                                  {"CenY", Dword(0)},     {"DBCoef", Text("0.1667")}};
    for (int i = 0; i < 6; ++i)
        values[FormatC("DB%d", i)] = Text(FormatC("%.4f", i - 2.5));
    return values;
}

TEST(RasterTemplateList, BuiltInTemplatesDoWhatTheirNamesSay)
{
    // A grey 5 x 5 page of 100 with one pixel of 190 in the middle: each
    // template's answer on the 3 x 3 pixels it reaches (the border stays).
    struct Expected {
        const char* name;
        int centre[9];
    };
    const Expected expected[] = {
        {"Blur 3x3", {110, 110, 110, 110, 110, 110, 110, 110, 110}},
        {"Sharpen 3x3", {100, 10, 100, 10, 255, 10, 100, 10, 100}},
        {"Edges 3x3", {90, 90, 90, 90, 255, 90, 90, 90, 90}},
        {"Horizontal lines", {90, 90, 90, 180, 180, 180, 90, 90, 90}},
        {"Vertical lines", {90, 180, 90, 90, 180, 90, 90, 180, 90}},
    };
    TempFolder folder;
    CSettingsStore store(folder / "settings.conf");
    CRasterTemplateList list;
    EXPECT_FALSE(list.Load(store));
    std::vector<std::string> names;
    for (const CRasterTemplate* t = list.Items().MoveToHead(); t; t = list.Items().MoveNext())
        names.push_back(t->GetName());
    EXPECT_EQ(names,
              (std::vector<std::string>{"Blur 3x3", "Sharpen 3x3", "Edges 3x3", "Horizontal lines", "Vertical lines"}));
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.name);
        const CRasterTemplate* kernel = list.Find(e.name);
        ASSERT_NE(kernel, nullptr);
        CRasterSrc image;
        ASSERT_TRUE(image.Create(5, 5, 8));
        image.SetGreyRamp();
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 5; ++x)
                image.SetPixelIndex(x, y, x == 2 && y == 2 ? 190 : 100);
        ASSERT_TRUE(CRasterProcess(image, nullptr).ApplyTemplate(*kernel));
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 5; ++x) {
                const bool inside = x >= 1 && x <= 3 && y >= 1 && y <= 3;
                const int want = inside ? e.centre[(y - 1) * 3 + (x - 1)] : 100;
                EXPECT_EQ(image.GetPixelIndex(x, y), want) << x << "," << y;
            }
    }
}

}  // namespace

TEST(ApplyTemplate, MatchesTheFormulaPixelByPixelAtEveryDepth)
{
    for (int bitCount : {8, 16, 24, 32}) {
        for (const TestKernel& t : Kernels()) {
            for (int width : {1, 5, 7, 33, 70}) {
                CRasterSrc image, expected;
                MakeRandomImage(image, width, 9, bitCount, static_cast<unsigned>(bitCount * 7 + width + t.w));
                if (bitCount == 8)
                    image.SetGreyRamp();
                ASSERT_TRUE(expected.Copy(image));
                ReferenceTemplate(expected, t);
                CRasterProcess process(image, nullptr);
                ASSERT_TRUE(process.ApplyTemplate(t.w, t.h, t.cx, t.cy, t.k.data(), t.scale));
                ASSERT_EQ(StoredBytes(image), StoredBytes(expected))
                    << bitCount << " bits, " << t.w << "x" << t.h << " kernel, width " << width;
            }
        }
    }
}

// Bands side by side borrow the rows of their neighbours before these are
// overwritten: any thread count gives the formula's result, off-centre and
// one-row kernels included.
TEST(ApplyTemplate, RowBandsGiveTheFormulasResultAtAnyThreadCount)
{
    for (int bitCount : {8, 16, 24}) {
        for (const TestKernel& t : Kernels()) {
            CRasterSrc original, expected;
            MakeRandomImage(original, 19, 300, bitCount, static_cast<unsigned>(bitCount * 5 + t.w + t.h));
            if (bitCount == 8)
                original.SetGreyRamp();
            ASSERT_TRUE(expected.Copy(original));
            ReferenceTemplate(expected, t);
            for (int threads : {1, 3, 8}) {
                SetRowBandThreads(threads);
                CRasterSrc image;
                ASSERT_TRUE(image.Copy(original));
                CRasterProcess process(image, nullptr);
                ASSERT_TRUE(process.ApplyTemplate(t.w, t.h, t.cx, t.cy, t.k.data(), t.scale));
                EXPECT_EQ(StoredBytes(image), StoredBytes(expected))
                    << bitCount << " bits, " << t.w << "x" << t.h << " kernel, " << threads << " threads";
            }
        }
    }
    SetRowBandThreads(0);
}

TEST(ApplyTemplate, BlurLeavesTheBorderAndEdgesGiveTheSizeOfNegativeSums)
{
    CRasterSrc image;
    ASSERT_TRUE(image.Create(5, 5, 8));
    image.SetGreyRamp();
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x)
            image.SetPixelIndex(x, y, x == 2 && y == 2 ? 0 : 90);
    CRasterSrc edges;
    ASSERT_TRUE(edges.Copy(image));
    const double ones[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
    g_progress.clear();
    ASSERT_TRUE(CRasterProcess(image, RecordProgress).ApplyTemplate(3, 3, 1, 1, ones, 0.1111));
    EXPECT_EQ(image.GetPixelIndex(2, 2), 80);  // 720 x 0.1111 = 79.99
    EXPECT_EQ(image.GetPixelIndex(1, 1), 80);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(image.GetPixelIndex(i, 0), 90);
        EXPECT_EQ(image.GetPixelIndex(0, i), 90);
        EXPECT_EQ(image.GetPixelIndex(4, i), 90);
    }
    EXPECT_EQ(g_progress.front(), 0);
    EXPECT_EQ(g_progress.back(), 100);
    EXPECT_TRUE(std::is_sorted(g_progress.begin(), g_progress.end()));

    const double edge[9] = {-1, -1, -1, -1, 8, -1, -1, -1, -1};
    ASSERT_TRUE(CRasterProcess(edges, nullptr).ApplyTemplate(3, 3, 1, 1, edge, 1.0));
    EXPECT_EQ(edges.GetPixelIndex(2, 2), 255);  // |-720| limited
    EXPECT_EQ(edges.GetPixelIndex(1, 1), 90);   // 8 x 90 less seven neighbours of 90 and one of 0
}

TEST(ApplyTemplate, RefusesBadKernelsAndOneBitImages)
{
    CRasterSrc image, before;
    MakeRandomImage(image, 9, 9, 24, 3);
    ASSERT_TRUE(before.Copy(image));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double k[4] = {1, 1, 1, 1}, bad[4] = {1, nan, 1, 1}, infinite[4] = {1, 1, inf, 1}, huge[4] = {1, 1e13, 1, 1};
    CRasterProcess process(image, nullptr);
    EXPECT_FALSE(process.ApplyTemplate(2, 2, -1, 0, k, 1));
    EXPECT_FALSE(process.ApplyTemplate(2, 2, 0, 2, k, 1));
    EXPECT_FALSE(process.ApplyTemplate(0, 2, 0, 0, k, 1));
    EXPECT_FALSE(process.ApplyTemplate(2, 2, 0, 0, nullptr, 1));
    EXPECT_FALSE(process.ApplyTemplate(2, 2, 0, 0, bad, 1));
    EXPECT_FALSE(process.ApplyTemplate(2, 2, 0, 0, infinite, 1));
    EXPECT_FALSE(process.ApplyTemplate(2, 2, 0, 0, huge, 1));
    EXPECT_FALSE(process.ApplyTemplate(2, 2, 0, 0, k, nan));
    EXPECT_FALSE(process.ApplyTemplate(kMaxTemplateSide + 1, 1, 0, 0, std::vector<double>(64, 1.0).data(), 1));
    EXPECT_EQ(StoredBytes(image), StoredBytes(before));
    // A kernel larger than the image has no pixel to write.
    CRasterSrc small;
    MakeRandomImage(small, 1, 1, 24, 1);
    std::vector<BYTE> smallBefore = StoredBytes(small);
    EXPECT_TRUE(CRasterProcess(small, nullptr).ApplyTemplate(2, 2, 0, 0, k, 1));
    EXPECT_EQ(StoredBytes(small), smallBefore);

    CRasterSrc bits;
    MakeRandomImage(bits, 9, 9, 1, 3);
    EXPECT_FALSE(CRasterProcess(bits, nullptr).ApplyTemplate(2, 2, 0, 0, k, 1));
}

TEST(ApplyTemplate, PaletteImagesBecomeGreyFirst)
{
    CRasterSrc image;
    MakeRandomImage(image, 12, 7, 4, 8);
    CRasterSrc expected;
    ASSERT_TRUE(expected.Copy(image));
    ASSERT_TRUE(expected.ConvertToGrey8());
    TestKernel t = Kernels()[2];
    ReferenceTemplate(expected, t);
    CRasterTemplate kernel;
    ASSERT_TRUE(kernel.Set("odd", t.w, t.h, t.cx, t.cy, t.k.data(), t.scale));
    ASSERT_TRUE(CRasterProcess(image, nullptr).ApplyTemplate(kernel));
    EXPECT_EQ(image.GetBitCount(), 8);
    EXPECT_EQ(StoredBytes(image), StoredBytes(expected));
}

// ----------------------------------------------------------------- store --

TEST(RasterTemplate, AllocatesOneSpareCoefficientAllOnes)
{
    CRasterTemplate t;
    const double k[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_TRUE(t.Set("six", 3, 2, 0, 0, k, 1));
    ASSERT_TRUE(t.AllocCoefficients());
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(t.GetCoefficients()[i], 1.0);
}

TEST(RasterTemplate, ReadsEveryValueBackAsWritten)
{
    CRasterTemplate t;
    ASSERT_TRUE(t.LoadFromValues(QueryOf(BlurValues())));
    EXPECT_EQ(t.GetName(), "Blur");
    EXPECT_EQ(t.GetWidth(), 3);
    EXPECT_EQ(t.GetHeight(), 2);
    EXPECT_EQ(t.GetCenX(), 1);
    EXPECT_EQ(t.GetCenY(), 0);
    EXPECT_DOUBLE_EQ(t.GetScale(), 0.1667);
    EXPECT_DOUBLE_EQ(t.GetCoefficients()[5], 2.5);

    CSettingsKey key;
    ASSERT_TRUE(key.Create("Software\\Korvane\\Lineweft\\TemplateTest"));
    ASSERT_TRUE(t.SaveToRegistry(key));
    std::string text;
    ASSERT_TRUE(key.QueryString("DB0", text));
    EXPECT_EQ(text, "-2.5000");
    CRasterTemplate back;
    ASSERT_TRUE(back.LoadFromRegistry(key));
    EXPECT_EQ(back.GetName(), "Blur");
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(back.GetCoefficients()[i], t.GetCoefficients()[i]);
}

// What a hand-edited settings file can hold must never reach the filter.
TEST(RasterTemplate, RefusesDamagedRecordsAndKeepsWhatItHad)
{
    using Change = std::pair<const char*, SettingValue>;
    const Change damage[] = {
        {"Name", Text("")},
        {"Name", Text(std::string(256, 'n'))},
        {"Name", Dword(3)},
        {"Width", Text("3")},
        {"Width", Dword(0)},
        {"Width", Dword(kMaxTemplateSide + 1)},
        {"Height", Dword(0xFFFFFFFF)},
        {"CenX", Dword(3)},
        {"CenX", Dword(0xFFFFFFFF)},  // -1 as a signed centre
        {"CenY", Dword(2)},
        {"DBCoef", Text("nan")},
        {"DBCoef", Text("1e400")},
        {"DBCoef", Text("0.5 and more")},
        {"DB3", Text("inf")},
        {"DB4", Text("123456789012345678901")},
        {"DB5", Text("1e13")},
    };
    for (const auto& [name, value] : damage) {
        std::map<std::string, SettingValue> values = BlurValues();
        values[name] = value;
        CRasterTemplate t;
        const double k[1] = {7};
        ASSERT_TRUE(t.Set("kept", 1, 1, 0, 0, k, 2));
        EXPECT_FALSE(t.LoadFromValues(QueryOf(values))) << name;
        EXPECT_EQ(t.GetName(), "kept");
        EXPECT_EQ(t.GetWidth(), 1);
        EXPECT_EQ(t.GetCoefficients()[0], 7);
    }
    for (const char* missing : {"Name", "Width", "Height", "CenX", "CenY", "DBCoef", "DB0", "DB5"}) {
        std::map<std::string, SettingValue> values = BlurValues();
        values.erase(missing);
        CRasterTemplate t;
        EXPECT_FALSE(t.LoadFromValues(QueryOf(values))) << missing;
    }
}

TEST(RasterTemplateList, KeepsItsTemplatesInTheStoreInOrder)
{
    TempFolder folder;
    CSettingsStore store(folder / "settings.conf");
    CRasterTemplateList list;
    EXPECT_FALSE(list.Load(store)) << "nothing stored yet";
    ASSERT_GE(list.GetCount(), 3u);
    ASSERT_NE(list.Find("blur 3X3"), nullptr);
    EXPECT_EQ(list.Find("nothing"), nullptr);

    CRasterTemplate extra;
    const double k[2] = {0.5, -0.25};
    ASSERT_TRUE(extra.Set("Pair", 2, 1, 1, 0, k, 3));
    ASSERT_TRUE(list.Add(extra));
    ASSERT_TRUE(list.Save(store));

    CSettingsStore reread(folder / "settings.conf");
    CRasterTemplateList back;
    ASSERT_TRUE(back.Load(reread));
    ASSERT_EQ(back.GetCount(), list.GetCount());
    const CRasterTemplate* pair = back.Find("Pair");
    ASSERT_NE(pair, nullptr);
    EXPECT_EQ(pair->GetCoefficients()[1], -0.25);
    EXPECT_EQ(back.Items().MoveToTail()->GetName(), "Pair");

    // A damaged entry is left out; the others still load.
    CSettingsKey key(reread);
    ASSERT_TRUE(key.Open(kRasterTemplatesKey + "\\Template0"));
    ASSERT_TRUE(key.SetDword("CenX", 77));
    ASSERT_TRUE(back.Load(reread));
    EXPECT_EQ(back.GetCount(), list.GetCount() - 1);

    // Saving a shorter list leaves nothing of the longer one.
    back.RemoveAll();
    ASSERT_TRUE(back.Add(extra));
    ASSERT_TRUE(back.Save(reread));
    CSettingsKey root(reread);
    ASSERT_TRUE(root.Open(kRasterTemplatesKey));
    EXPECT_EQ(root.EnumSubKeys().size(), 1u);
}
