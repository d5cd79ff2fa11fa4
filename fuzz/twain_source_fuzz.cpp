// A scanner source is outside code: its return codes, events, capability
// containers, image information and native transfer blocks all reach the
// client. Here a fake source answers every call from the fuzzer's bytes, and
// the same bytes pick what the client does next.
//
// What the protocol leaves to the source's word is kept: a container is at
// least as large as its type, and a native block at least as large as its
// header claims (neither carries a length the client could check).
#include "platform/dib_types.h"
#include "platform/message_box.h"
#include "platform/window_messages.h"
#include "raster/raster_library.h"
#include "raster/raster_src.h"
#include "raster/twain.h"
#include "fuzz_script.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" void SetRelayTarget(DSMENTRYPROC target);

namespace {

// Native blocks above this are refused by the fake, for speed.
constexpr std::size_t kMaxFakeBlock = 4u << 20;
constexpr int kMaxActions = 48;

// The fuzzer's bytes, read front to back by the source and the driver alike.
// Once they run out, the source fails every call and reports nothing pending.
Script g_script;

TW_UINT16 ReturnCode()
{
    if (g_script.Empty())
        return TWRC_FAILURE;
    std::uint8_t b = g_script.Byte();
    // Mostly success, so that the client gets through its states.
    return b < 0xA0 ? TWRC_SUCCESS : static_cast<TW_UINT16>(b & 7);
}

TW_UINT16 Capability(TW_CAPABILITY& capability)
{
    TW_UINT16 rc = ReturnCode();
    std::uint8_t shape = g_script.Byte();
    if (shape & 1) {
        capability.ConType = shape & 2 ? TWON_ONEVALUE : g_script.Word();
        std::size_t size = std::max<std::size_t>(sizeof(TW_ONEVALUE), g_script.Byte());
        void* block = std::calloc(1, size);
        if (block)
            g_script.Fill(block, size);
        capability.hContainer = block;
    }
    return rc;
}

TW_UINT16 NativeTransfer(TW_HANDLE& handle)
{
    if (g_script.Empty())
        return TWRC_FAILURE;
    std::uint8_t b = g_script.Byte();
    if (b >= 0xC0) {
        // A failing source that still hands over a block.
        if (b & 8)
            handle = std::calloc(1, sizeof(BITMAPINFOHEADER));
        return static_cast<TW_UINT16>(b & 7);
    }
    if (b & 1)
        return TWRC_XFERDONE;  // done, but no block
    std::size_t given = g_script.Word();
    std::uint8_t head[sizeof(BITMAPINFOHEADER)] = {};
    std::size_t before = g_script.at;
    g_script.Fill(head, std::min(given, sizeof head));
    g_script.at = before;
    std::size_t claimed = TwainNativeImageSize(head);
    if (claimed > kMaxFakeBlock)
        return TWRC_FAILURE;
    std::size_t size = std::max({given, claimed, sizeof head});
    void* block = std::calloc(1, size);
    if (!block)
        return TWRC_FAILURE;
    g_script.Fill(block, std::min(given, size));
    handle = block;
    return TWRC_XFERDONE;
}

TW_UINT16 FakeEntry(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    if (!data)
        return TWRC_FAILURE;
    if (dat == DAT_STATUS) {
        static_cast<TW_STATUS*>(data)->ConditionCode = g_script.Word();
        return TWRC_SUCCESS;
    }
    if (group == DG_IMAGE && dat == DAT_IMAGENATIVEXFER)
        return NativeTransfer(*static_cast<TW_HANDLE*>(data));
    if (dat == DAT_CAPABILITY && msg == MSG_GET)
        return Capability(*static_cast<TW_CAPABILITY*>(data));
    TW_UINT16 rc = ReturnCode();
    switch (dat) {
    case DAT_IDENTITY:
        if (msg != MSG_OPENDS && msg != MSG_CLOSEDS)
            g_script.Fill(data, sizeof(TW_IDENTITY));
        break;
    case DAT_USERINTERFACE: static_cast<TW_USERINTERFACE*>(data)->ModalUI = g_script.Word(); break;
    case DAT_EVENT: {
        auto* event = static_cast<TW_EVENT*>(data);
        std::uint8_t b = g_script.Byte();
        event->TWMessage = b < 0x40 ? MSG_XFERREADY : b < 0x60 ? MSG_CLOSEDSREQ : b < 0x70 ? MSG_CLOSEDSOK : b;
        return g_script.Empty() ? TWRC_NOTDSEVENT : b & 1 ? TWRC_DSEVENT : TWRC_NOTDSEVENT;
    }
    case DAT_IMAGEINFO: g_script.Fill(data, sizeof(TW_IMAGEINFO)); break;
    case DAT_PENDINGXFERS: static_cast<TW_PENDINGXFERS*>(data)->Count = g_script.Empty() ? 0 : g_script.Word(); break;
    default: break;
    }
    return rc;
}

class CWindow : public CMessageReceiver {
public:
    ~CWindow() override { Close(); }

protected:
    LRESULT WindowProc(UINT, WPARAM, LPARAM) override { return 0; }
};

// Takes images as the desktop does: the size from the header, then a copy.
class CFuzzTwain : public CTwain {
protected:
    int ShouldTransfer(const TW_IMAGEINFO&) override { return g_script.Byte() % 3; }
    void CopyImage(TW_HANDLE dib, const TW_IMAGEINFO&) override
    {
        const std::size_t size = TwainNativeImageSize(dib);
        CRasterSrc image;
        if (size == 0 || !image.AttachDIBHandle(dib, size))
            return;
        if (image.GetWidth() <= 0 || image.GetHeight() <= 0)
            std::abort();
        (void)image.ConvertTo1Bit(image.GetAutoThreshold());
    }
    bool CanClose() override { return g_script.Byte() & 1; }
};

void Act(CFuzzTwain& twain, std::uint8_t action)
{
    TW_UINT32 value = 0;
    switch (action % 12) {
    case 0: (void)twain.SelectSource(); break;
    case 1: (void)twain.OpenSource(); break;
    case 2: (void)twain.Acquire(static_cast<std::int8_t>(g_script.Byte())); break;
    case 3: (void)twain.GetCapabilityValue(g_script.Word(), value); break;
    case 4: (void)twain.SetImageCount(static_cast<std::int8_t>(g_script.Byte())); break;
    case 5: (void)twain.PollEvents(); break;
    case 6: (void)twain.EnableSource(g_script.Byte() & 1); break;
    case 7: (void)twain.DisableSource(); break;
    case 8: (void)twain.CloseSource(); break;
    case 9: (void)twain.CloseDSM(); break;
    case 10: twain.TransferImages(); break;
    default: (void)twain.GetDefaultSource(); break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    InitRasterLibrary();
    SetMessageBoxHook([](const std::string&, const std::string&, unsigned) { return IDOK; });
    setenv("LINEWEFT_TWAIN_DSM", LW_FUZZ_DSM_PATH, 1);
    SetRelayTarget(FakeEntry);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    g_script = Script{data, size, 0};
    CWindow window;
    {
        CFuzzTwain twain;
        twain.StartTwain(&window, false);
        for (int i = 0; i < kMaxActions && !g_script.Empty() && twain.IsReady(); ++i)
            Act(twain, g_script.Byte());
    }
    return 0;
}
