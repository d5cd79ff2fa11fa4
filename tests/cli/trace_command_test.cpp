// `lineweft trace` end to end: small synthetic scans in, files that the
// usual readers accept out.
#include <gtest/gtest.h>

#include "cli_runner.h"
#include "support/file_contents.h"

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
            for (int y = 20; y < 60; ++y)  // a block from x 20 to 59, y 20 to 59
                for (int x = 20; x < 60; ++x)
                    image.SetPixelIndex(x, y, 20);
            for (int y = 79; y < 82; ++y)  // a line three pixels wide, x 80 to 179
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
    WriteFile(job, "[Job]\nAutoGray=1\nGray=128\nMethod=FillPattern\nType=0\nSpace=10\n");
    run = Lineweft("trace " + page.string() + " -o " + out.string() + " --job " + job.string());
    EXPECT_EQ(run.status, 0) << run.out;
    // Rows 0, 10, ... 90: four through the block, one through the line.
    EXPECT_NE(run.out.find(": 5 entities"), std::string::npos) << run.out;
}

// A job file with a bad value stops the run before anything is traced.
TEST_F(TraceCommand, ABadJobValueIsAUsageErrorAndWritesNothing)
{
    const fs::path page = Page("page.bmp", true);
    const fs::path out = dir / "out.dxf";
    const fs::path job = dir / "bad.lwj";
    WriteFile(job, "[Job]\nAutoGray=1\nMethod=Banana\n");
    const CliRun run = Lineweft("trace " + page.string() + " -o " + out.string() + " --job " + job.string());
    EXPECT_EQ(run.status, 2) << run.out;
    EXPECT_NE(run.out.find(job.string() + ":3: Method=Banana"), std::string::npos) << run.out;
    EXPECT_FALSE(fs::exists(out));
}

// Single job keys go over the job file's; a bad one is a usage error.
TEST_F(TraceCommand, SetKeysGoOverTheJobFile)
{
    const fs::path page = Page("page.bmp", true);
    const fs::path out = dir / "out.dxf";
    const fs::path job = dir / "fill.lwj";
    WriteFile(job, "[Job]\nAutoGray=1\nGray=128\nMethod=FillPattern\nType=0\nSpace=10\n");
    // Rows 0, 20, ... 80 instead of every tenth: two through the block, one through the line.
    CliRun run =
        Lineweft("trace " + page.string() + " -o " + out.string() + " --job " + job.string() + " --set space=20");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find(": 3 entities"), std::string::npos) << run.out;
    run = Lineweft("trace " + page.string() + " -o " + out.string() + " --job " + job.string() + " --set Space=0");
    EXPECT_EQ(run.status, 2) << run.out;
    EXPECT_NE(run.out.find("--set Space=0: Space takes"), std::string::npos) << run.out;
    EXPECT_NE(Lineweft("trace --help").out.find("Center: Chart Straighten Circle"), std::string::npos);
}

// --method chooses the method the --set keys are read and checked for,
// wherever it stands among them.
TEST_F(TraceCommand, SetKeysAreTheChosenMethodsWhateverTheOrder)
{
    const fs::path page = Page("page.bmp", true);
    const fs::path out = dir / "out.dxf";
    const std::string trace = "trace " + page.string() + " -o " + out.string();
    // Rows 0, 20, ... 80: two through the block, one through the line.
    for (const char* order : {" --method fill --set Type=0 --set Space=20", " --set Space=20 --method fill"}) {
        const CliRun run = Lineweft(trace + order);
        EXPECT_EQ(run.status, 0) << order << run.out;
        EXPECT_NE(run.out.find(": 3 entities"), std::string::npos) << order << run.out;
    }
    const std::string plate = std::string(LW_TEST_DATA_DIR) + "/../../samples/plate.tif";
    ASSERT_EQ(Lineweft("trace " + plate + " -o " + out.string() + " --method outline").status, 0);
    ASSERT_NE(ReadFile(out).find("\nCIRCLE\n"), std::string::npos);
    for (const char* order : {" --method outline --set Circle=0", " --set Circle=0 --method outline"}) {
        const CliRun run = Lineweft("trace " + plate + " -o " + out.string() + order);
        EXPECT_EQ(run.status, 0) << order << run.out;
        EXPECT_EQ(ReadFile(out).find("\nCIRCLE\n"), std::string::npos) << order;
    }
    fs::remove(out);

    struct Refused {
        const char* options;
        const char* said;
    };
    const Refused refused[] = {
        {" --method fill --set Type=7", "--set Type=7: Type takes 0 (horizontal), 1 (vertical) or 2 (cross)"},
        {" --set Fill=1", "--set Fill=1: Fill is read by the Outline method only, not by Center"},
        {" --method outline --set Force=0", "Force is read by the Center method only, not by Outline"},
        {" --method fill --set Method=Outline", "give the method once"},
    };
    for (const Refused& r : refused) {
        const CliRun run = Lineweft(trace + r.options);
        EXPECT_EQ(run.status, 2) << r.options << run.out;
        EXPECT_NE(run.out.find(r.said), std::string::npos) << r.options << run.out;
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST_F(TraceCommand, TheScanComesFromStandardInput)
{
    const fs::path page = Page("page.bmp", true);
    const fs::path out = dir / "out.svg";
    const fs::path temporary = dir / "tmp";
    fs::create_directories(temporary);
    CliRun run = Shell("TMPDIR=" + temporary.string() + " " + LW_CLI_PATH + " trace - -o " + out.string() +
                       " --method outline < " + page.string());
    EXPECT_EQ(run.status, 0) << run.out;
    std::FILE* svg = std::fopen(out.c_str(), "rb");
    ASSERT_NE(svg, nullptr);
    char head[6] = {};
    EXPECT_EQ(std::fread(head, 1, 5, svg), 5u);
    std::fclose(svg);
    EXPECT_STREQ(head, "<?xml");
    // The same scan by name makes the same file.
    const fs::path named = dir / "named.svg";
    ASSERT_EQ(Lineweft("trace " + page.string() + " -o " + named.string() + " --method outline").status, 0);
    EXPECT_EQ(Shell("cmp " + out.string() + " " + named.string()).status, 0);

    run = Shell(std::string(LW_CLI_PATH) + " trace - -o " + out.string() + " < /dev/null");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("standard input is empty"), std::string::npos) << run.out;
    run = Shell("echo hello | " + std::string(LW_CLI_PATH) + " trace - -o " + out.string());
    EXPECT_EQ(run.status, 1) << run.out;
    // The copy of standard input does not outlive the run.
    EXPECT_TRUE(fs::is_empty(temporary));
}

// --format wins over the extension, with a warning when they disagree.
TEST_F(TraceCommand, AFormatThatDisagreesWithTheExtensionIsWrittenWithAWarning)
{
    const fs::path page = Page("page.bmp", true);
    const auto head = [](const fs::path& path) {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        std::string bytes(5, '\0');
        if (file == nullptr)
            return std::string();
        bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
        std::fclose(file);
        return bytes;
    };
    const fs::path pdf = dir / "x.dxf";
    CliRun run = Lineweft("trace " + page.string() + " --format pdf -o " + pdf.string());
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("warning: '" + pdf.string() + "' is written as PDF"), std::string::npos) << run.out;
    EXPECT_EQ(head(pdf), "%PDF-");
    const fs::path project = dir / "x.svg";
    run = Lineweft("trace " + page.string() + " --format lwt -o " + project.string());
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("is written as a project"), std::string::npos) << run.out;
    EXPECT_EQ(head(project).substr(0, 4), std::string("\x00\x00\x80\x3F", 4));
    // Agreeing pairs, and names without a known extension, say nothing.
    for (const char* pair : {" --format dxf-r10 -o r10.dxf", " --format hpgl -o x.plt", " --format svg -o picture",
                             " --format eps -o x.out"}) {
        run = Shell("cd " + dir.string() + " && " + LW_CLI_PATH + " trace " + page.string() + pair);
        EXPECT_EQ(run.status, 0) << pair << run.out;
        EXPECT_EQ(run.out.find("warning"), std::string::npos) << pair << run.out;
    }
}

}  // namespace

// A logo on a transparent background: the background's pixels hold black
// but show white, so only the logo's shapes are traced, not the page frame.
TEST_F(TraceCommand, ATransparentBackgroundTracesAsTheWhiteItShows)
{
    if (!HasEzdxf())
        GTEST_SKIP() << "ezdxf is not installed";
    const int width = 200, height = 100;
    std::string tga = {0, 0,  2,   0, 0, 0, 0, 0, 0, 0, 0, 0, static_cast<char>(width), 0, static_cast<char>(height),
                       0, 32, 0x28};  // 8 alpha bits, rows from the top
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool block = x >= 20 && x < 60 && y >= 20 && y < 60;
            const bool line = x >= 80 && x < 180 && y >= 79 && y < 82;
            const char ink = block || line ? '\x14' : '\0';
            tga += {ink, ink, ink, block || line ? '\xFF' : '\0'};
        }
    }
    const fs::path logo = dir / "logo.tga";
    FILE* out = std::fopen(logo.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fwrite(tga.data(), 1, tga.size(), out);
    std::fclose(out);

    const fs::path dxf = dir / "logo.dxf";
    CliRun run = Lineweft("trace " + logo.string() + " -o " + dxf.string() + " --method outline");
    ASSERT_EQ(run.status, 0) << run.out;
    // The same two borders as the grey page's block and line.
    EXPECT_EQ(AuditDxf(dxf).out.substr(0, 16), "0 2 20 18 180 80");
}

// A JPEG whose lower half is missing is not traced as grey.
TEST_F(TraceCommand, ATruncatedFileFailsAndWritesNothing)
{
    const fs::path page = Page("page.bmp", true);
    const fs::path jpeg = dir / "page.jpg";
    if (Shell("convert " + page.string() + " " + jpeg.string()).status != 0)
        GTEST_SKIP() << "ImageMagick is not installed";
    fs::resize_file(jpeg, fs::file_size(jpeg) / 2);
    const fs::path dxf = dir / "page.dxf";
    CliRun run = Lineweft("trace " + jpeg.string() + " -o " + dxf.string());
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.out.find("truncated"), std::string::npos) << run.out;
    EXPECT_FALSE(fs::exists(dxf));
}

// A colour BMP is thresholded as it is read; its drawing must be the one its
// grey twin (read and thresholded the ordinary way) gives.
TEST_F(TraceCommand, AColourBmpTracesLikeItsGreyTwin)
{
    const fs::path grey = RandomPage("grey.bmp", 420, 1300, 3);
    CRasterSrc image;
    ASSERT_TRUE(image.Load(grey.string()));
    // Even paper, whose histogram has the valley the automatic threshold
    // finds, and a mid-grey stroke that only that threshold (not the stored
    // 128) makes black.
    for (int y = 0; y < image.GetHeight(); ++y)
        for (int x = 0; x < image.GetWidth(); ++x)
            if (image.GetPixelIndex(x, y) > 200)
                image.SetPixelIndex(x, y, 250);
    for (int y = 650; y < 653; ++y)
        for (int x = 50; x < 370; ++x)
            image.SetPixelIndex(x, y, 170);
    ASSERT_TRUE(image.SaveBMP(grey.string()));
    const CliRun info = Lineweft("info " + grey.string());
    ASSERT_NE(info.out.find("Automatic threshold: 2"), std::string::npos) << info.out;
    for (int bits : {24, 32}) {
        CRasterSrc colour;
        ASSERT_TRUE(colour.Create(image.GetWidth(), image.GetHeight(), bits));
        for (int y = 0; y < image.GetHeight(); ++y)
            for (int x = 0; x < image.GetWidth(); ++x) {
                BYTE bgr[3];
                ASSERT_TRUE(image.GetPixelColor(x, y, bgr));
                colour.SetPixelRGB(x, y, bgr[2], bgr[1], bgr[0]);
            }
        ASSERT_TRUE(colour.SetResolution(11811));
        const fs::path twin = dir / ("colour" + std::to_string(bits) + ".bmp");
        ASSERT_TRUE(colour.SaveBMP(twin.string()));
        for (const char* options : {"--method outline", "--method centerline --threads 3", "--threshold 120"}) {
            const std::string what = std::to_string(bits) + " bits, " + options;
            CliRun run = Lineweft("trace " + grey.string() + " -o " + (dir / "grey.dxf").string() + " " + options);
            ASSERT_EQ(run.status, 0) << what << run.out;
            run = Lineweft("trace " + twin.string() + " -o " + (dir / "twin.dxf").string() + " " + options);
            ASSERT_EQ(run.status, 0) << what << run.out;
            const std::string wanted = ReadFile(dir / "grey.dxf");
            ASSERT_GT(wanted.size(), 1000u) << what;
            EXPECT_TRUE(ReadFile(dir / "twin.dxf") == wanted) << what;
        }
    }
}

TEST_F(TraceCommand, ThreadCountDoesNotChangeTheOutputBytes)
{
    std::vector<fs::path> pages = {RandomPage("random1.bmp", 300, 900, 1), RandomPage("random2.bmp", 517, 700, 2)};
    const fs::path sample = fs::path(LW_TEST_DATA_DIR) / ".." / ".." / "samples" / "plate.tif";
    if (fs::exists(sample))
        pages.push_back(sample);
    for (const fs::path& page : pages)
        for (const char* method : {"centerline", "outline"}) {
            const std::string what = page.filename().string() + " " + method;
            const std::string common = "trace " + page.string() + " --method " + method + " -o ";
            CliRun run = Lineweft(common + (dir / "one.dxf").string() + " --threads 1");
            ASSERT_EQ(run.status, 0) << what << run.out;
            const std::string single = ReadFile(dir / "one.dxf");
            ASSERT_GT(single.size(), 1000u) << what;
            run = Lineweft(common + (dir / "three.dxf").string() + " --threads 3");
            ASSERT_EQ(run.status, 0) << what << run.out;
            EXPECT_EQ(ReadFile(dir / "three.dxf"), single) << what << ", 3 threads";
            run = Shell("LW_THREADS=8 " + std::string(LW_CLI_PATH) + " " + common + (dir / "eight.dxf").string());
            ASSERT_EQ(run.status, 0) << what << run.out;
            EXPECT_EQ(ReadFile(dir / "eight.dxf"), single) << what << ", 8 threads";
        }
    EXPECT_NE(Lineweft("trace " + pages[0].string() + " -o " + (dir / "x.dxf").string() + " --threads 0").status, 0);
}
