// A source manager with one source for the scanner client's tests. It keeps
// the protocol's states (2 loaded, 3 manager open, 4 source open, 5 enabled,
// 6 transfer ready, 7 transferring) and refuses any call made out of order
// with TWRC_FAILURE / TWCC_SEQERROR, so a client that skips a step fails
// here as it would with a real source.
//
// Script words (FakeTwainReset, or FAKE_TWAIN_SCRIPT at load), separated by
// spaces: pages=N (images served, default 1), checkstatus (CAP_XFERCOUNT -1
// is answered TWRC_CHECKSTATUS and the page count taken instead), cancelui
// (the user interface is cancelled: MSG_CLOSEDSREQ instead of
// MSG_XFERREADY), failinfo=K, cancelxfer=K, failxfer=K (image K, from 1),
// failscan=C (the scan fails with condition C: MSG_CLOSEDSREQ and that
// status instead of MSG_XFERREADY), faildisable, enumcontainer / texttype (MSG_GET of a capability answers an
// enumeration / a one-value text item), nosource, leavehandles (a failed
// capability MSG_GET or native transfer still hands over a block).
//
// FakeTwainLog lists the calls that changed something or failed ("!" after a
// failed one); polls that found no event are left out.
#include "raster/twain_types.h"

#include "platform/dib_types.h"

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

namespace {

constexpr TW_UINT32 kAppId = 1;
constexpr TW_UINT32 kSourceId = 2;
constexpr int kPageHeight = 8;
constexpr int kPageBaseWidth = 16;

struct Script {
    int pages = 1;
    bool checkStatus = false;
    bool cancelUI = false;
    int failInfo = 0;
    int cancelTransfer = 0;
    int failTransfer = 0;
    bool failDisable = false;
    TW_UINT16 failScan = TWCC_SUCCESS;
    bool enumContainer = false;
    bool textType = false;
    bool noSource = false;
    bool leaveHandles = false;
};

struct Fake {
    Script script;
    int state = 2;
    int page = 1;  // the image being transferred
    int pagesLeft = 0;
    TW_INT32 transferCount = -1;
    TW_UINT16 event = MSG_NULL;
    TW_UINT16 managerCondition = TWCC_SUCCESS;
    TW_UINT16 sourceCondition = TWCC_SUCCESS;
    std::string log;
};

Fake g_fake;

Script ParseScript(const char* text)
{
    Script script;
    std::istringstream words(text ? text : "");
    std::string word;
    while (words >> word) {
        std::size_t equals = word.find('=');
        std::string key = word.substr(0, equals);
        int value = equals == std::string::npos ? 1 : std::atoi(word.c_str() + equals + 1);
        if (key == "pages")
            script.pages = value;
        else if (key == "checkstatus")
            script.checkStatus = true;
        else if (key == "cancelui")
            script.cancelUI = true;
        else if (key == "failinfo")
            script.failInfo = value;
        else if (key == "cancelxfer")
            script.cancelTransfer = value;
        else if (key == "failxfer")
            script.failTransfer = value;
        else if (key == "failscan")
            script.failScan = static_cast<TW_UINT16>(value);
        else if (key == "faildisable")
            script.failDisable = true;
        else if (key == "enumcontainer")
            script.enumContainer = true;
        else if (key == "texttype")
            script.textType = true;
        else if (key == "nosource")
            script.noSource = true;
        else if (key == "leavehandles")
            script.leaveHandles = true;
    }
    return script;
}

void Log(const std::string& entry)
{
    if (!g_fake.log.empty())
        g_fake.log += ' ';
    g_fake.log += entry;
}

TW_UINT16 Fail(const char* name, TW_UINT16 condition, bool source)
{
    Log(std::string(name) + "!");
    (source ? g_fake.sourceCondition : g_fake.managerCondition) = condition;
    return TWRC_FAILURE;
}

TW_UINT16 Done(const char* name, TW_UINT16 rc = TWRC_SUCCESS)
{
    Log(name);
    return rc;
}

void FillSource(TW_IDENTITY& identity)
{
    identity = TW_IDENTITY{};
    identity.Id = kSourceId;
    identity.ProtocolMajor = 1;
    identity.ProtocolMinor = 9;
    identity.SupportedGroups = DG_CONTROL | DG_IMAGE;
    std::strcpy(identity.Manufacturer, "Test");
    std::strcpy(identity.ProductFamily, "Fake");
    std::strcpy(identity.ProductName, "Fake Source");
}

// Image K is (16 + K) x 8 pixels of 8-bit grey, every pixel K.
void* MakePage(int k)
{
    int width = kPageBaseWidth + k;
    std::size_t rowBytes = (static_cast<std::size_t>(width) + 3) & ~std::size_t{3};
    std::size_t size = sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD) + rowBytes * kPageHeight;
    auto* block = static_cast<BYTE*>(std::malloc(size));
    if (!block)
        return nullptr;
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = width;
    h.biHeight = kPageHeight;
    h.biPlanes = 1;
    h.biBitCount = 8;
    h.biCompression = BI_RGB;
    std::memcpy(block, &h, sizeof h);
    auto* palette = reinterpret_cast<RGBQUAD*>(block + sizeof h);
    for (int i = 0; i < 256; ++i)
        palette[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    std::memset(block + sizeof h + 256 * sizeof(RGBQUAD), k, rowBytes * kPageHeight);
    return block;
}

TW_UINT16 Manager(TW_IDENTITY* origin, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    Fake& f = g_fake;
    if (dat == DAT_STATUS && msg == MSG_GET) {
        static_cast<TW_STATUS*>(data)->ConditionCode = f.managerCondition;
        f.managerCondition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
    if (dat == DAT_PARENT && msg == MSG_OPENDSM) {
        if (f.state != 2)
            return Fail("OPENDSM", TWCC_SEQERROR, false);
        origin->Id = kAppId;
        f.state = 3;
        return Done("OPENDSM");
    }
    if (dat == DAT_PARENT && msg == MSG_CLOSEDSM) {
        if (f.state != 3)
            return Fail("CLOSEDSM", TWCC_SEQERROR, false);
        f.state = 2;
        return Done("CLOSEDSM");
    }
    if (dat != DAT_IDENTITY || f.state < 3)
        return Fail("MANAGER", TWCC_SEQERROR, false);
    auto* identity = static_cast<TW_IDENTITY*>(data);
    switch (msg) {
    case MSG_GETDEFAULT:
    case MSG_GETFIRST:
    case MSG_USERSELECT:
        if (f.script.noSource)
            return Fail(msg == MSG_USERSELECT ? "USERSELECT" : "GETDEFAULT", TWCC_NODS, false);
        FillSource(*identity);
        return Done(msg == MSG_USERSELECT ? "USERSELECT" : "GETDEFAULT");
    case MSG_GETNEXT: return TWRC_ENDOFLIST;
    case MSG_OPENDS:
        if (f.state != 3)
            return Fail("OPENDS", TWCC_SEQERROR, false);
        if (identity->Id != kSourceId)
            return Fail("OPENDS", TWCC_NODS, false);
        f.state = 4;
        return Done("OPENDS");
    case MSG_CLOSEDS:
        if (f.state != 4)
            return Fail("CLOSEDS", TWCC_SEQERROR, false);
        f.state = 3;
        return Done("CLOSEDS");
    default: return Fail("MANAGER", TWCC_BADPROTOCOL, false);
    }
}

TW_UINT16 GetCapability(TW_CAPABILITY* capability)
{
    Fake& f = g_fake;
    if (f.state < 4 || capability->Cap != CAP_XFERCOUNT) {
        if (f.script.leaveHandles)
            capability->hContainer = std::calloc(1, 64);
        return Fail("GETCAP", f.state < 4 ? TWCC_SEQERROR : TWCC_BADCAP, true);
    }
    void* block = std::calloc(1, 64);
    if (!block)
        return Fail("GETCAP", TWCC_LOWMEMORY, true);
    TW_ONEVALUE one{};
    one.ItemType = f.script.textType ? TW_UINT16{0x0009} : TWTY_INT16;
    one.Item = static_cast<TW_UINT32>(f.transferCount);
    std::memcpy(block, &one, sizeof one);
    capability->ConType = f.script.enumContainer ? TWON_ENUMERATION : TWON_ONEVALUE;
    capability->hContainer = block;
    return Done("GETCAP");
}

TW_UINT16 SetCapability(TW_CAPABILITY* capability)
{
    Fake& f = g_fake;
    if (f.state != 4)
        return Fail("SETCAP", TWCC_SEQERROR, true);
    if (capability->Cap != CAP_XFERCOUNT || capability->ConType != TWON_ONEVALUE || !capability->hContainer)
        return Fail("SETCAP", TWCC_BADVALUE, true);
    TW_ONEVALUE one;
    std::memcpy(&one, capability->hContainer, sizeof one);
    bool isSigned = one.ItemType == TWTY_INT16;
    if (!isSigned && one.ItemType != TWTY_UINT16)
        return Fail("SETCAP", TWCC_BADVALUE, true);
    TW_INT32 value = isSigned ? static_cast<TW_INT16>(one.Item) : static_cast<TW_INT32>(one.Item & 0xFFFF);
    std::string name = isSigned ? "SETCAP:INT16:" : "SETCAP:UINT16:";
    if (value == -1 && f.script.checkStatus) {
        f.transferCount = f.script.pages;
        return Done((name + std::to_string(value)).c_str(), TWRC_CHECKSTATUS);
    }
    f.transferCount = value;
    return Done((name + std::to_string(value)).c_str());
}

TW_UINT16 Source(TW_IDENTITY* destination, TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    Fake& f = g_fake;
    if (dat == DAT_STATUS && msg == MSG_GET) {
        static_cast<TW_STATUS*>(data)->ConditionCode = f.sourceCondition;
        f.sourceCondition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
    if (destination->Id != kSourceId || f.state < 4)
        return Fail("SOURCE", f.state < 4 ? TWCC_SEQERROR : TWCC_BADDEST, true);
    if (group == DG_CONTROL && dat == DAT_CAPABILITY && msg == MSG_GET)
        return GetCapability(static_cast<TW_CAPABILITY*>(data));
    if (group == DG_CONTROL && dat == DAT_CAPABILITY && msg == MSG_SET)
        return SetCapability(static_cast<TW_CAPABILITY*>(data));
    if (group == DG_CONTROL && dat == DAT_USERINTERFACE && msg == MSG_ENABLEDS) {
        if (f.state != 4)
            return Fail("ENABLEDS", TWCC_SEQERROR, true);
        f.state = 5;
        f.page = 1;
        f.pagesLeft = f.script.pages;
        f.event = f.script.cancelUI || f.script.failScan != TWCC_SUCCESS ? MSG_CLOSEDSREQ : MSG_XFERREADY;
        f.sourceCondition = f.script.failScan;
        static_cast<TW_USERINTERFACE*>(data)->ModalUI = 1;
        return Done("ENABLEDS");
    }
    if (group == DG_CONTROL && dat == DAT_USERINTERFACE && msg == MSG_DISABLEDS) {
        if (f.state != 5 || f.script.failDisable)
            return Fail("DISABLEDS", TWCC_SEQERROR, true);
        f.state = 4;
        return Done("DISABLEDS");
    }
    if (group == DG_CONTROL && dat == DAT_EVENT && msg == MSG_PROCESSEVENT) {
        auto* event = static_cast<TW_EVENT*>(data);
        if (f.state < 5)
            return Fail("EVENT", TWCC_SEQERROR, true);
        event->TWMessage = f.event;
        f.event = MSG_NULL;
        if (event->TWMessage == MSG_NULL)
            return TWRC_NOTDSEVENT;
        if (event->TWMessage == MSG_XFERREADY)
            f.state = 6;
        return Done(event->TWMessage == MSG_XFERREADY ? "XFERREADY" : "CLOSEDSREQ", TWRC_DSEVENT);
    }
    if (group == DG_IMAGE && dat == DAT_IMAGEINFO && msg == MSG_GET) {
        if (f.state != 6)
            return Fail("IMAGEINFO", TWCC_SEQERROR, true);
        if (f.page == f.script.failInfo)
            return Fail("IMAGEINFO", TWCC_BUMMER, true);
        auto* info = static_cast<TW_IMAGEINFO*>(data);
        *info = TW_IMAGEINFO{};
        info->XResolution.Whole = info->YResolution.Whole = 100;
        info->ImageWidth = kPageBaseWidth + f.page;
        info->ImageLength = kPageHeight;
        info->SamplesPerPixel = 1;
        info->BitsPerSample[0] = 8;
        info->BitsPerPixel = 8;
        info->PixelType = TWPT_GRAY;
        info->Compression = TWCP_NONE;
        return Done("IMAGEINFO");
    }
    if (group == DG_IMAGE && dat == DAT_IMAGENATIVEXFER && msg == MSG_GET) {
        if (f.state != 6)
            return Fail("NATIVEXFER", TWCC_SEQERROR, true);
        if (f.page == f.script.failTransfer) {
            if (f.script.leaveHandles)
                *static_cast<TW_HANDLE*>(data) = MakePage(f.page);
            return Fail("NATIVEXFER", TWCC_BUMMER, true);
        }
        f.state = 7;  // a cancelled transfer, too, waits for MSG_ENDXFER
        if (f.page == f.script.cancelTransfer)
            return Done("NATIVEXFER:CANCEL", TWRC_CANCEL);
        void* page = MakePage(f.page);
        if (!page) {
            f.state = 6;
            return Fail("NATIVEXFER", TWCC_LOWMEMORY, true);
        }
        *static_cast<TW_HANDLE*>(data) = page;
        return Done("NATIVEXFER", TWRC_XFERDONE);
    }
    if (group == DG_CONTROL && dat == DAT_PENDINGXFERS && msg == MSG_ENDXFER) {
        if (f.state != 6 && f.state != 7)
            return Fail("ENDXFER", TWCC_SEQERROR, true);
        --f.pagesLeft;
        ++f.page;
        static_cast<TW_PENDINGXFERS*>(data)->Count = static_cast<TW_UINT16>(f.pagesLeft);
        f.state = f.pagesLeft > 0 ? 6 : 5;
        return Done("ENDXFER");
    }
    if (group == DG_CONTROL && dat == DAT_PENDINGXFERS && msg == MSG_RESET) {
        if (f.state != 6)
            return Fail("RESET", TWCC_SEQERROR, true);
        f.pagesLeft = 0;
        static_cast<TW_PENDINGXFERS*>(data)->Count = 0;
        f.state = 5;
        return Done("RESET");
    }
    return Fail("SOURCE", TWCC_BADPROTOCOL, true);
}

struct LoadScript {
    LoadScript() { g_fake.script = ParseScript(std::getenv("FAKE_TWAIN_SCRIPT")); }
} const g_loadScript;

}  // namespace

extern "C" {

__attribute__((visibility("default"))) TW_UINT16
DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* destination, TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    if (!origin || !data)
        return TWRC_FAILURE;
    return destination ? Source(destination, group, dat, msg, data) : Manager(origin, dat, msg, data);
}

// Back to state 2 with a new script and an empty log.
__attribute__((visibility("default"))) void FakeTwainReset(const char* script)
{
    g_fake = Fake{};
    g_fake.script = ParseScript(script);
}

__attribute__((visibility("default"))) const char* FakeTwainLog() { return g_fake.log.c_str(); }

__attribute__((visibility("default"))) int FakeTwainState() { return g_fake.state; }

}  // extern "C"
