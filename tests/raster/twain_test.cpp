#include "raster/twain.h"

#include "raster/raster_src.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#if defined(LW_SANE_DSM_PATH) && defined(__SANITIZE_ADDRESS__)
// SANE's test backend drops its read buffers in its lineart and three-pass
// modes (a plain C program against libsane shows the same): not ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libsane-test.so\n"; }
#endif

namespace {

class CWindow : public CMessageReceiver {
public:
    ~CWindow() override { Close(); }

protected:
    LRESULT WindowProc(UINT, WPARAM, LPARAM) override { return 0; }
};

// Records what reaches the frame's side of the client.
class CRecordingTwain : public CTwain {
public:
    struct Page {
        int width = 0;
        int height = 0;
        int bits = 0;
        int infoWidth = 0;
        int firstGrey = -1;  // top-left and bottom-right pixels
        int lastGrey = -1;
        long dotsPerMetre = 0;
    };
    std::vector<Page> pages;
    int answer = kTransferImage;

protected:
    int ShouldTransfer(const TW_IMAGEINFO&) override { return answer; }
    void CopyImage(TW_HANDLE dib, const TW_IMAGEINFO& info) override
    {
        CRasterSrc raster;
        Page page;
        page.infoWidth = info.ImageWidth;
        if (raster.AttachDIBHandle(dib, TwainNativeImageSize(dib))) {
            page.width = raster.GetWidth();
            page.height = raster.GetHeight();
            page.bits = raster.GetBitCount();
            BYTE bgr[3];
            if (raster.GetPixelColor(0, 0, bgr))
                page.firstGrey = bgr[1];
            if (raster.GetPixelColor(page.width - 1, page.height - 1, bgr))
                page.lastGrey = bgr[1];
            LONG dotsPerMetre = 0;
            if (raster.GetResolution(dotsPerMetre))
                page.dotsPerMetre = dotsPerMetre;
        }
        pages.push_back(page);
    }
};

#ifdef LW_FAKE_DSM_PATH

// Loads the fake manager beside the client (the same instance) to script it
// and read its log.
class TwainFakeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("LINEWEFT_TWAIN_DSM", LW_FAKE_DSM_PATH, 1);
        library = dlopen(LW_FAKE_DSM_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        reset = reinterpret_cast<void (*)(const char*)>(dlsym(library, "FakeTwainReset"));
        log = reinterpret_cast<const char* (*)()>(dlsym(library, "FakeTwainLog"));
        state = reinterpret_cast<int (*)()>(dlsym(library, "FakeTwainState"));
        ASSERT_TRUE(reset && log && state);
    }
    void TearDown() override
    {
        if (library)
            dlclose(library);
        unsetenv("LINEWEFT_TWAIN_DSM");
    }

    // Starts the client under the script and acquires, polling until the
    // source has gone back below the enabled state.
    void Acquire(CRecordingTwain& twain, const char* script)
    {
        reset(script);
        twain.StartTwain(&window, true);
        twain.WaitForStartup();
        ASSERT_TRUE(twain.IsReady());
        ASSERT_TRUE(twain.Acquire(-1));
        for (int i = 0; i < 10 && twain.IsSourceEnabled(); ++i)
            twain.PollEvents();
    }

    CWindow window;
    void* library = nullptr;
    void (*reset)(const char*) = nullptr;
    const char* (*log)() = nullptr;
    int (*state)() = nullptr;
};

TEST_F(TwainFakeTest, ThreePagesArriveInProtocolOrderAndTheSourceCloses)
{
    CRecordingTwain twain;
    Acquire(twain, "pages=3");
    EXPECT_EQ(std::string(log()),
              "OPENDSM GETDEFAULT OPENDS SETCAP:INT16:-1 ENABLEDS XFERREADY "
              "IMAGEINFO NATIVEXFER ENDXFER IMAGEINFO NATIVEXFER ENDXFER IMAGEINFO NATIVEXFER ENDXFER "
              "DISABLEDS CLOSEDS");
    ASSERT_EQ(twain.pages.size(), 3u);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(twain.pages[k].width, 17 + k);
        EXPECT_EQ(twain.pages[k].infoWidth, 17 + k);
        EXPECT_EQ(twain.pages[k].height, 8);
        EXPECT_EQ(twain.pages[k].bits, 8);
    }
    EXPECT_EQ(state(), 3);
    EXPECT_TRUE(twain.IsManagerOpen());
    EXPECT_FALSE(twain.IsSourceOpen());
    EXPECT_TRUE(twain.IsModalUI());
    EXPECT_EQ(twain.GetImageCount(), -1);

    twain.ReleaseTwain();
    EXPECT_EQ(state(), 2);
    EXPECT_FALSE(twain.IsLoaded());
}

// What a failing source hands over anyway is the client's to free; the
// sanitizer build sees a block left behind.
TEST_F(TwainFakeTest, BlocksAFailingSourceHandsOverAreFreed)
{
    CRecordingTwain twain;
    reset("pages=2 failxfer=1 leavehandles");
    twain.StartTwain(&window, false);
    ASSERT_TRUE(twain.OpenSource());
    TW_CAPABILITY capability{};
    capability.Cap = ICAP_PIXELTYPE;
    EXPECT_FALSE(twain.GetCapability(capability));
    const void* container = capability.hContainer;  // a packed field: no reference to it
    EXPECT_EQ(container, nullptr);
    TW_UINT32 value = 0;
    EXPECT_FALSE(twain.GetCapabilityValue(ICAP_XRESOLUTION, value));

    ASSERT_TRUE(twain.Acquire(-1));
    for (int i = 0; i < 10 && twain.IsSourceEnabled(); ++i)
        twain.PollEvents();
    EXPECT_NE(std::string(log()).find("NATIVEXFER! RESET"), std::string::npos) << log();
    EXPECT_TRUE(twain.pages.empty());
}

TEST_F(TwainFakeTest, CheckStatusOnTheCountSetsTheReportedValueUnsigned)
{
    CRecordingTwain twain;
    Acquire(twain, "pages=2 checkstatus");
    EXPECT_NE(std::string(log()).find("SETCAP:INT16:-1 GETCAP SETCAP:UINT16:2 ENABLEDS"), std::string::npos) << log();
    EXPECT_EQ(twain.GetImageCount(), 2);
    EXPECT_EQ(twain.pages.size(), 2u);
}

TEST_F(TwainFakeTest, CancelledUserInterfaceClosesTheSourceAndKeepsTheManager)
{
    CRecordingTwain twain;
    Acquire(twain, "cancelui");
    EXPECT_EQ(std::string(log()), "OPENDSM GETDEFAULT OPENDS SETCAP:INT16:-1 ENABLEDS CLOSEDSREQ DISABLEDS CLOSEDS");
    EXPECT_TRUE(twain.pages.empty());
    EXPECT_TRUE(twain.IsManagerOpen());
    EXPECT_FALSE(twain.IsSourceOpen());
    EXPECT_EQ(state(), 3);
}

TEST_F(TwainFakeTest, CancelledTransferIsEndedAndTheRestStillArrive)
{
    CRecordingTwain twain;
    Acquire(twain, "pages=3 cancelxfer=2");
    EXPECT_NE(std::string(log()).find("NATIVEXFER:CANCEL ENDXFER IMAGEINFO NATIVEXFER ENDXFER DISABLEDS CLOSEDS"),
              std::string::npos)
        << log();
    EXPECT_EQ(twain.pages.size(), 2u);
    EXPECT_EQ(state(), 3);
}

TEST_F(TwainFakeTest, LeavingTheTransferStateEarlyResetsBeforeClosing)
{
    struct Case {
        const char* script;
        int answer;
        const char* tail;
        std::size_t pages;
    } cases[] = {
        {"pages=3 failinfo=2", CTwain::kTransferImage, "ENDXFER IMAGEINFO! RESET DISABLEDS CLOSEDS", 1},
        {"pages=3 failxfer=1", CTwain::kTransferImage, "NATIVEXFER! RESET DISABLEDS CLOSEDS", 0},
        {"pages=2", CTwain::kSkipImage, "IMAGEINFO ENDXFER IMAGEINFO ENDXFER DISABLEDS CLOSEDS", 0},
        {"pages=2", CTwain::kCancelAll, "XFERREADY IMAGEINFO RESET DISABLEDS CLOSEDS", 0},
    };
    for (const Case& c : cases) {
        CRecordingTwain twain;
        twain.answer = c.answer;
        Acquire(twain, c.script);
        std::string text = log();
        EXPECT_EQ(text.substr(text.size() - std::min(text.size(), std::strlen(c.tail))), c.tail) << c.script;
        EXPECT_EQ(twain.pages.size(), c.pages) << c.script;
        EXPECT_EQ(state(), 3) << c.script;
        EXPECT_FALSE(twain.IsSourceOpen()) << c.script;
    }
}

TEST_F(TwainFakeTest, FailedCloseKeepsTheFlagsOfWhatIsStillOpen)
{
    CRecordingTwain twain;
    reset("faildisable");
    ASSERT_TRUE(twain.InitTwain(&window));
    ASSERT_TRUE(twain.Acquire(-1));
    EXPECT_FALSE(twain.CloseSource());
    EXPECT_TRUE(twain.IsSourceEnabled());
    EXPECT_TRUE(twain.IsSourceOpen());
    EXPECT_EQ(twain.GetLastReturnCode(), TWRC_FAILURE);
    EXPECT_EQ(twain.GetStatus().ConditionCode, TWCC_SEQERROR);
    EXPECT_FALSE(twain.CloseDSM());
    EXPECT_TRUE(twain.IsManagerOpen());
    EXPECT_EQ(state(), 5);
}

TEST_F(TwainFakeTest, CapabilityValueIsReadOnlyFromANumericOneValueContainer)
{
    for (const char* script : {"", "enumcontainer", "texttype"}) {
        CRecordingTwain twain;
        reset(script);
        ASSERT_TRUE(twain.InitTwain(&window));
        ASSERT_TRUE(twain.OpenSource());
        ASSERT_TRUE(twain.SetOneValue(CAP_XFERCOUNT, 7, false));
        TW_UINT32 value = 99;
        bool isPlain = *script == '\0';
        EXPECT_EQ(twain.GetCapabilityValue(CAP_XFERCOUNT, value), isPlain) << script;
        EXPECT_EQ(value, isPlain ? 7u : 99u) << script;
    }
}

TEST_F(TwainFakeTest, SourceSelectionAndOutOfOrderCalls)
{
    CRecordingTwain twain;
    reset("");
    EXPECT_FALSE(twain.InitTwain(nullptr));  // not a window
    ASSERT_TRUE(twain.InitTwain(&window));
    EXPECT_TRUE(twain.SelectSource());
    EXPECT_STREQ(twain.GetSourceIdentity().ProductName, "Fake Source");
    TW_IDENTITY app = twain.GetAppIdentity();  // packed: copied out, not bound
    TW_UINT32 appId = app.Id;
    TW_UINT32 groups = app.SupportedGroups;
    EXPECT_EQ(appId, 1u);
    EXPECT_EQ(groups, DG_CONTROL | DG_IMAGE);
    // Not enabled yet: nothing to transfer, and the source is not asked.
    TW_IMAGEINFO info{};
    EXPECT_FALSE(twain.GetImageInfo(info));
    ASSERT_TRUE(twain.OpenSource());
    EXPECT_FALSE(twain.ResetTransfers());
    EXPECT_EQ(twain.GetStatus().ConditionCode, TWCC_SEQERROR);
    EXPECT_TRUE(twain.OpenSource());  // already open: not opened twice
    EXPECT_EQ(std::string(log()), "OPENDSM GETDEFAULT USERSELECT OPENDS RESET!");

    CRecordingTwain noSource;
    twain.ReleaseTwain();
    reset("nosource");
    noSource.StartTwain(&window, false);
    EXPECT_TRUE(noSource.IsReady());
    EXPECT_FALSE(noSource.IsSourceKnown());
    EXPECT_FALSE(noSource.Acquire(-1));
    EXPECT_EQ(noSource.GetStatus().ConditionCode, TWCC_NODS);
}

#endif  // LW_FAKE_DSM_PATH

TEST(TwainTest, MissingManagerMeansNoScannerAndCommandsDoNothing)
{
    setenv("LINEWEFT_TWAIN_DSM", "/nonexistent/libnothing.so", 1);
    CWindow window;
    CRecordingTwain twain;
    twain.StartTwain(&window, true);
    twain.WaitForStartup();
    unsetenv("LINEWEFT_TWAIN_DSM");
    EXPECT_FALSE(twain.IsReady());
    EXPECT_FALSE(twain.IsLoaded());
    EXPECT_FALSE(twain.SelectSource());
    EXPECT_FALSE(twain.Acquire(-1));
    EXPECT_FALSE(twain.PollEvents());
    EXPECT_EQ(twain.GetLastReturnCode(), TWRC_FAILURE);
    EXPECT_TRUE(twain.pages.empty());
}

TEST(TwainTest, NativeImageSizeFollowsTheHeaderAndRefusesOddOnes)
{
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = 10;
    h.biHeight = -3;
    h.biPlanes = 1;
    h.biBitCount = 1;
    EXPECT_EQ(TwainNativeImageSize(&h), 40u + 2 * 4 + 4 * 3);
    h.biBitCount = 24;
    EXPECT_EQ(TwainNativeImageSize(&h), 40u + 32 * 3);
    h.biCompression = BI_RLE8;
    EXPECT_EQ(TwainNativeImageSize(&h), 0u);
    h.biCompression = BI_RGB;
    h.biWidth = 0x7FFFFFFF;
    h.biHeight = 0x7FFFFFFF;
    EXPECT_EQ(TwainNativeImageSize(&h), 0u);
    h.biSize = 0x002A4949;  // a TIFF, as other managers hand over
    EXPECT_EQ(TwainNativeImageSize(&h), 0u);
}

#ifdef LW_SANE_DSM_PATH

// SANE's test backend through our manager: each page keeps the backend's
// default geometry (80 x 100 mm at 50 dpi) in the mode asked for.
TEST(TwainSaneTest, AcquiredPageArrivesAsADibOfTheScannedSizeInEveryMode)
{
    const char* backend = "/usr/lib/x86_64-linux-gnu/sane/libsane-test.so.1";
    if (!std::filesystem::exists(backend))
        GTEST_SKIP() << "SANE test backend not installed";
    std::string folder = std::string(std::getenv("LINEWEFT_CONFIG_DIR")) + "-sane";
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/dll.conf") << "test\n";
    setenv("SANE_CONFIG_DIR", folder.c_str(), 1);
    setenv("LINEWEFT_TWAIN_DSM", LW_SANE_DSM_PATH, 1);
    // Kept loaded for the whole run: SANE and its test backend cache buffers
    // and paths in statics that would read as leaks once unloaded.
    static void* const keepManager = dlopen(LW_SANE_DSM_PATH, RTLD_NOW);
    static void* const keepBackend = dlopen(backend, RTLD_NOW);
    ASSERT_TRUE(keepManager && keepBackend) << dlerror();

    struct Case {
        const char* settings;
        int bits;
        int grey;  // of every pixel
    } cases[] = {
        {"mode Gray\ndepth 8\ntest-picture \"Solid black\"", 8, 0},
        {"mode Gray\ndepth 16\ntest-picture \"Solid white\"", 8, 255},
        {"mode Gray\ndepth 1\ntest-picture \"Solid black\"", 1, 0},
        {"mode Gray\ndepth 1\ntest-picture \"Solid white\"", 1, 255},
        {"mode Color\ndepth 8\ntest-picture \"Solid white\"", 24, 255},
        {"mode Color\ndepth 16\ntest-picture \"Solid black\"", 24, 0},
        {"mode Color\ndepth 8\nthree-pass true\ntest-picture \"Solid white\"", 24, 255},
    };
    CWindow window;
    for (const Case& c : cases) {
        std::ofstream(folder + "/test.conf") << "number_of_devices 1\nresolution 50.0\n" << c.settings << "\n";
        CRecordingTwain twain;
        twain.StartTwain(&window, true);
        twain.WaitForStartup();
        ASSERT_TRUE(twain.IsReady());
        ASSERT_TRUE(twain.IsSourceKnown());
        ASSERT_TRUE(twain.Acquire(-1));
        for (int i = 0; i < 2000 && twain.IsSourceEnabled(); ++i) {
            if (!twain.PollEvents())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_FALSE(twain.IsSourceOpen()) << c.settings;
        ASSERT_EQ(twain.pages.size(), 1u) << c.settings;
        const CRecordingTwain::Page& page = twain.pages[0];
        EXPECT_EQ(page.width, 157) << c.settings;
        EXPECT_EQ(page.height, 196) << c.settings;
        EXPECT_EQ(page.bits, c.bits) << c.settings;
        EXPECT_EQ(page.firstGrey, c.grey) << c.settings;
        EXPECT_EQ(page.lastGrey, c.grey) << c.settings;
        EXPECT_EQ(page.dotsPerMetre, 1969) << c.settings;  // 50 dpi
    }
    unsetenv("LINEWEFT_TWAIN_DSM");
    unsetenv("SANE_CONFIG_DIR");
}

#endif  // LW_SANE_DSM_PATH

}  // namespace
