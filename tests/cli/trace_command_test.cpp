// `lineweft trace` end to end: small synthetic scans in, files that the
// usual readers accept out.
#include <gtest/gtest.h>

#include "cli_runner.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "raster/raster_src.h"

namespace {

namespace fs = std::filesystem;

bool HasEzdxf() { return Shell("/usr/bin/python3 -c 'import ezdxf'").status == 0; }

// Audits the DXF and prints "errors LWPOLYLINE-count min-x min-y max-x max-y"
// over every polyline vertex.
CliRun AuditDxf(const fs::path& file)
{
    const std::string script = "import ezdxf,sys\n"
                               "d=ezdxf.readfile(sys.argv[1]);a=d.audit()\n"
                               "p=[v for e in d.modelspace().query('LWPOLYLINE') for v in e.get_points('xy')]\n"
                               "n=len(d.modelspace().query('LWPOLYLINE'))\n"
                               "xs=[v[0] for v in p] or [0];ys=[v[1] for v in p] or [0]\n"
                               "print(len(a.errors),n,round(min(xs)),round(min(ys)),round(max(xs)),round(max(ys)))\n"
                               "print([l.dxf.name for l in d.layers])\n";
    const fs::path scriptFile = file.parent_path() / "audit.py";
    FILE* out = std::fopen(scriptFile.c_str(), "w");
    if (out == nullptr)
        return {-1, "cannot write the audit script"};
    std::fputs(script.c_str(), out);
    std::fclose(out);
    return Shell("/usr/bin/python3 " + scriptFile.string() + " " + file.string());
}

class TraceCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("lw-trace-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // A grey page 200 x 100 at 300 dpi: paper 230, ink 20.
    fs::path Page(const std::string& name, bool ink)
    {
        CRasterSrc image;
        EXPECT_TRUE(image.Create(200, 100, 8));
        image.SetGreyRamp();
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 200; ++x)
                image.SetPixelIndex(x, y, 230 - (x * 7 + y * 3) % 5);
        if (ink) {
            for (int y = 20; y < 60; ++y) // a block from x 20 to 59, y 20 to 59
                for (int x = 20; x < 60; ++x)
                    image.SetPixelIndex(x, y, 20);
            for (int y = 79; y < 82; ++y) // a line three pixels wide, x 80 to 179
                for (int x = 80; x < 180; ++x)
                    image.SetPixelIndex(x, y, 20);
        }
        EXPECT_TRUE(image.SetResolution(11811));
        const fs::path path = dir / name;
        EXPECT_TRUE(image.SaveBMP(path.string()));
        return path;
    }

    // A grey page tall enough for many bands of rows: strokes of several
    // widths and filled blobs at random, over paper with dark specks.
    fs::path RandomPage(const std::string& name, int width, int height, unsigned seed)
    {
        CRasterSrc image;
        EXPECT_TRUE(image.Create(width, height, 8));
        image.SetGreyRamp();
        std::srand(seed);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                image.SetPixelIndex(x, y, std::rand() % 40 == 0 ? 30 : 225 + std::rand() % 10);
        for (int shape = 0; shape < 60; ++shape) {
            const int cx = std::rand() % width, cy = std::rand() % height;
            const int r = 1 + std::rand() % 12;
            const int dx = std::rand() % 120 - 60, dy = std::rand() % 200 - 100;
            for (int i = 0; i <= 100; ++i)
                for (int y = -r; y <= r; ++y)
                    for (int x = -r; x <= r; ++x) {
                        const int px = cx + dx * i / 100 + x, py = cy + dy * i / 100 + y;
                        if (px >= 0 && py >= 0 && px < width && py < height && x * x + y * y <= r * r)
                            image.SetPixelIndex(px, py, 15);
                    }
        }
        EXPECT_TRUE(image.SetResolution(11811));
        const fs::path path = dir / name;
        EXPECT_TRUE(image.SaveBMP(path.string()));
        return path;
    }

    fs::path dir;
};

TEST_F(TraceCommand, OutlineAndCentreLineDxfPassTheAuditWithTheTracedGeometry)
{
    if (!HasEzdxf())
        GTEST_SKIP() << "ezdxf is not installed";
    const fs::path page = Page("page.bmp", true);

    const fs::path outline = dir / "outline.dxf";
    CliRun run = Lineweft("trace " + page.string() + " -o " + outline.string() + " --method outline");
    ASSERT_EQ(run.status, 0) << run.out;
    CliRun audit = AuditDxf(outline);
    // Two closed borders; the block's corners at (19.5, 39.5) to (59.5, 79.5)
    // in drawing coordinates (y up), the line's reach x 179.5.
    EXPECT_EQ(audit.out.substr(0, audit.out.find('\n')), "0 2 20 18 180 80") << audit.out;
    EXPECT_NE(audit.out.find("'Trace'"), std::string::npos) << audit.out;

    const fs::path centre = dir / "centre.dxf";
    run = Lineweft("trace " + page.string() + " -o " + centre.string() + " --method centerline");
    ASSERT_EQ(run.status, 0) << run.out;
    audit = AuditDxf(centre);
    EXPECT_EQ(audit.out.rfind("0 ", 0), 0u) << audit.out;
}

TEST_F(TraceCommand, SvgRendersAndAnEmptyPageGivesAnEmptyTraceLayer)
{
    const fs::path page = Page("page.bmp", true);
    const fs::path svg = dir / "page.svg";
    CliRun run = Lineweft("trace " + page.string() + " -o " + svg.string() + " --method outline");
    ASSERT_EQ(run.status, 0) << run.out;
    if (Shell("command -v rsvg-convert").status == 0) {
        const CliRun render = Shell("rsvg-convert " + svg.string() + " -o " + (dir / "page.png").string());
        EXPECT_EQ(render.status, 0) << render.out;
    }

    const fs::path blank = Page("blank.bmp", false);
    const fs::path dxf = dir / "blank.dxf";
    for (const char* method : {"outline", "centerline", "fill"}) {
        run = Lineweft("trace " + blank.string() + " -o " + dxf.string() + " --method " + method);
        EXPECT_EQ(run.status, 0) << method << run.out;
        EXPECT_NE(run.out.find("0 entities"), std::string::npos) << method << run.out;
    }
    if (HasEzdxf()) {
        const CliRun audit = AuditDxf(dxf);
        EXPECT_EQ(audit.out.rfind("0 0 ", 0), 0u) << audit.out;
        EXPECT_NE(audit.out.find("'Trace'"), std::string::npos) << audit.out;
    }
}

TEST_F(TraceCommand, BadArgumentsAndInputsFailWithoutWritingAFile)
{
    const fs::path page = Page("page.bmp", true);
    const fs::path out = dir / "out.dxf";
    const std::string in = page.string();
    EXPECT_EQ(Lineweft("trace").status, 2);
    EXPECT_EQ(Lineweft("trace " + in).status, 2);
    EXPECT_EQ(Lineweft("trace " + in + " -o " + out.string() + " --method sideways").status, 2);
    EXPECT_EQ(Lineweft("trace " + in + " -o " + out.string() + " --threshold 300").status, 2);
    EXPECT_EQ(Lineweft("trace " + in + " -o " + (dir / "out.xyz").string()).status, 2);
    EXPECT_EQ(Lineweft("trace " + in + " -o " + out.string() + " --page 2").status, 1);
    EXPECT_EQ(Lineweft("trace " + (dir / "missing.bmp").string() + " -o " + out.string()).status, 1);
    EXPECT_EQ(Lineweft("trace " + in + " -o " + out.string() + " --job " + (dir / "none.lwj").string()).status, 1);
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(TraceCommand, ThresholdAndJobFileChooseWhatIsTraced)
{
    const fs::path page = Page("page.bmp", true);
    const fs::path out = dir / "out.dxf";
    // At grey 10 nothing on the page is ink.
    CliRun run = Lineweft("trace " + page.string() + " -o " + out.string() + " --method outline --threshold 10");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("0 entities"), std::string::npos) << run.out;

    const fs::path job = dir / "fill.lwj";
    FILE* file = std::fopen(job.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("[Job]\nAutoGray=1\nGray=128\nMethod=FillPattern\nType=0\nSpace=10\n", file);
    std::fclose(file);
    run = Lineweft("trace " + page.string() + " -o " + out.string() + " --job " + job.string());
    EXPECT_EQ(run.status, 0) << run.out;
    // Rows 0, 10, ... 90: four through the block, one through the line.
    EXPECT_NE(run.out.find(": 5 entities"), std::string::npos) << run.out;
}

} // namespace

TEST_F(TraceCommand, ThreadCountDoesNotChangeTheOutputBytes)
{
    std::vector<fs::path> pages = {RandomPage("random1.bmp", 300, 900, 1), RandomPage("random2.bmp", 517, 700, 2)};
    const fs::path sample = fs::path(LW_TEST_DATA_DIR) / ".." / ".." / "samples" / "plate.tif";
    if (fs::exists(sample))
        pages.push_back(sample);
    auto read = [](const fs::path& file) {
        std::string bytes;
        if (FILE* in = std::fopen(file.c_str(), "rb")) {
            char buffer[65536];
            std::size_t n;
            while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
                bytes.append(buffer, n);
            std::fclose(in);
        }
        return bytes;
    };
    for (const fs::path& page : pages)
        for (const char* method : {"centerline", "outline"}) {
            const std::string what = page.filename().string() + " " + method;
            const std::string common = "trace " + page.string() + " --method " + method + " -o ";
            CliRun run = Lineweft(common + (dir / "one.dxf").string() + " --threads 1");
            ASSERT_EQ(run.status, 0) << what << run.out;
            const std::string single = read(dir / "one.dxf");
            ASSERT_GT(single.size(), 1000u) << what;
            run = Lineweft(common + (dir / "three.dxf").string() + " --threads 3");
            ASSERT_EQ(run.status, 0) << what << run.out;
            EXPECT_EQ(read(dir / "three.dxf"), single) << what << ", 3 threads";
            run = Shell("LW_THREADS=8 " + std::string(LW_CLI_PATH) + " " + common + (dir / "eight.dxf").string());
            ASSERT_EQ(run.status, 0) << what << run.out;
            EXPECT_EQ(read(dir / "eight.dxf"), single) << what << ", 8 threads";
        }
    EXPECT_NE(Lineweft("trace " + pages[0].string() + " -o " + (dir / "x.dxf").string() + " --threads 0").status, 0);
}
