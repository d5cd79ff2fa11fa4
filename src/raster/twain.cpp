// The scanner client: every protocol call goes through CallDSM, so the last
// return code and status are always those of the call that failed.
#include "raster/twain.h"

#include "platform/dib_types.h"
#include "platform/system.h"

#include <dlfcn.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

constexpr const char* kManagerVariable = "LINEWEFT_TWAIN_DSM";
constexpr const char* kOwnManager = "liblineweft-twain-sane.so";
#ifndef LW_INSTALLED_MODULE_DIR
#define LW_INSTALLED_MODULE_DIR "../lib/lineweft/"
#endif
// Where an installed program's own manager lies, from the program's folder.
constexpr const char* kInstalledManagerDir = LW_INSTALLED_MODULE_DIR;
constexpr const char* kSystemManagers[] = {"libtwaindsm.so.2", "libtwaindsm.so"};
constexpr const char* kManufacturer = "Korvane";
constexpr const char* kProductFamily = "Generic";
constexpr const char* kVersionInfo = "3.87";

std::mutex g_productNameMutex;
std::string g_productName = "Lineweft";

// Copies text into a fixed TWAIN string, always terminated.
template <std::size_t N>
void CopyTwainString(char (&target)[N], const std::string& text)
{
    std::size_t n = std::min(text.size(), N - 1);
    std::memcpy(target, text.data(), n);
    target[n] = '\0';
}

std::string ProgramFolder()
{
    std::string path = GetProgramPath();
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void* OpenLibrary(const std::string& name)
{
    return name.empty() ? nullptr : dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
}

}  // namespace

std::size_t TwainNativeImageSize(const void* dib)
{
    if (!dib)
        return 0;
    BITMAPINFOHEADER h;
    std::memcpy(&h, dib, sizeof h);
    if (h.biSize != 40 && h.biSize != 108 && h.biSize != 124)
        return 0;
    int bits = h.biBitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return 0;
    if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT_MIN)
        return 0;
    std::uint64_t size = h.biSize;
    if (h.biCompression == BI_BITFIELDS && (bits == 16 || bits == 32)) {
        if (h.biSize == 40)
            size += 3 * sizeof(DWORD);
    } else if (h.biCompression != BI_RGB) {
        return 0;
    }
    std::uint64_t table = bits <= 8 ? (std::uint64_t{1} << bits) : 0;
    std::uint64_t colours = h.biClrUsed ? h.biClrUsed : table;
    if (colours > table && bits <= 8)
        return 0;
    if (bits > 8)
        colours = h.biClrUsed;  // an optional table some writers add
    if (colours > 256)
        return 0;
    size += colours * sizeof(RGBQUAD);
    std::uint64_t rowBytes = (static_cast<std::uint64_t>(h.biWidth) * bits + 31) / 32 * 4;
    std::uint64_t rows = h.biHeight < 0 ? -static_cast<std::int64_t>(h.biHeight) : h.biHeight;
    size += rowBytes * rows;
    return size > kMaxTwainImageBytes ? 0 : static_cast<std::size_t>(size);
}

CTwain::CTwain() = default;

CTwain::~CTwain()
{
    WaitForStartup();
    ReleaseTwain();
}

void CTwain::SetProductName(const std::string& name)
{
    std::lock_guard lock(g_productNameMutex);
    g_productName = name;
}

// ---- start-up -------------------------------------------------------------

void CTwain::StartTwain(HWND parent, bool ownThread)
{
    WaitForStartup();
    if (ownThread)
        m_startThread = std::thread([this, parent] { TwainStartThreadProc(parent); });
    else
        TwainStartThreadProc(parent);
}

void CTwain::TwainStartThreadProc(HWND parent)
{
    m_ready.store(false, std::memory_order_release);
    if (InitTwain(parent))
        GetDefaultSource();
    // Published last: the user-interface thread reads the handles only after
    // it has seen this.
    m_ready.store(true, std::memory_order_release);
}

void CTwain::WaitForStartup()
{
    if (m_startThread.joinable())
        m_startThread.join();
}

bool CTwain::IsReady() const { return m_ready.load(std::memory_order_acquire) && IsLoaded(); }

// ---- calls ------------------------------------------------------------------

void CTwain::ReadStatus(TW_IDENTITY* destination)
{
    m_status = TW_STATUS{};
    if (m_entry)
        m_entry(&m_app, destination, DG_CONTROL, DAT_STATUS, MSG_GET, &m_status);
}

TW_UINT16 CTwain::CallDSMRaw(TW_IDENTITY* destination, TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    if (!m_entry) {
        m_lastReturnCode = TWRC_FAILURE;
        return m_lastReturnCode;
    }
    m_lastReturnCode = m_entry(&m_app, destination, group, dat, msg, data);
    if (m_lastReturnCode != TWRC_SUCCESS && dat != DAT_EVENT)
        ReadStatus(destination);
    return m_lastReturnCode;
}

bool CTwain::CallDSM(TW_IDENTITY* destination, TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    if (!m_entry) {
        m_lastReturnCode = TWRC_FAILURE;
        return false;
    }
    m_lastReturnCode = m_entry(&m_app, destination, group, dat, msg, data);
    if (m_lastReturnCode == TWRC_SUCCESS)
        return true;
    ReadStatus(destination);
    return false;
}

// ---- manager and sources ----------------------------------------------------

bool CTwain::LoadManager()
{
    if (const char* path = std::getenv(kManagerVariable); path && *path) {
        m_library = OpenLibrary(path);
    } else {
        m_library = OpenLibrary(ProgramFolder() + kOwnManager);
        if (!m_library)
            m_library = OpenLibrary(ProgramFolder() + kInstalledManagerDir + kOwnManager);
        for (const char* name : kSystemManagers)
            if (!m_library)
                m_library = OpenLibrary(name);
    }
    if (!m_library)
        return false;
    m_entry = reinterpret_cast<DSMENTRYPROC>(dlsym(m_library, kDsmEntryName));
    if (!m_entry) {
        UnloadManager();
        return false;
    }
    return true;
}

void CTwain::UnloadManager()
{
    m_entry = nullptr;
    if (m_library)
        dlclose(m_library);
    m_library = nullptr;
}

bool CTwain::InitTwain(HWND window)
{
    if (IsLoaded())
        return true;
    if (!IsWindow(window) || !LoadManager())
        return false;
    m_parent = window;
    GetIdentity();
    m_managerOpen = CallDSM(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &m_parent);
    return m_managerOpen;
}

void CTwain::ReleaseTwain()
{
    if (m_released)
        return;
    if (IsLoaded()) {
        CloseDSM();
        UnloadManager();
    }
    m_source = TW_IDENTITY{};
    m_parent = nullptr;
    m_sourceKnown = m_managerOpen = m_sourceOpen = m_sourceEnabled = false;
    m_transfersPending = false;
    m_modalUI = 1;
    m_imageCount = -1;
    m_released = true;
}

void CTwain::GetIdentity()
{
    m_app = TW_IDENTITY{};
    m_app.Id = 0;
    m_app.Version.MajorNum = 3;
    m_app.Version.MinorNum = 8;
    m_app.Version.Language = TWLG_USA;
    m_app.Version.Country = TWCY_USA;
    CopyTwainString(m_app.Version.Info, kVersionInfo);
    m_app.ProtocolMajor = 1;
    m_app.ProtocolMinor = 8;
    m_app.SupportedGroups = DG_CONTROL | DG_IMAGE;
    CopyTwainString(m_app.Manufacturer, kManufacturer);
    CopyTwainString(m_app.ProductFamily, kProductFamily);
    std::lock_guard lock(g_productNameMutex);
    CopyTwainString(m_app.ProductName, g_productName);
}

bool CTwain::GetDefaultSource()
{
    m_sourceKnown = CallDSM(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &m_source);
    return m_sourceKnown;
}

bool CTwain::SelectSource()
{
    // The identity is the destination of every call to an open source.
    if (m_sourceOpen || !m_managerOpen)
        return m_sourceKnown;
    m_source = TW_IDENTITY{};
    if (!m_sourceKnown)
        GetDefaultSource();
    if (CallDSM(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &m_source))
        m_sourceKnown = true;
    return m_sourceKnown;
}

std::vector<TW_IDENTITY> CTwain::GetSources()
{
    std::vector<TW_IDENTITY> sources;
    if (!m_managerOpen)
        return sources;
    // A manager whose list never ends is not waited for.
    constexpr std::size_t kMaxSources = 256;
    TW_IDENTITY source{};
    for (TW_UINT16 msg = MSG_GETFIRST;
         sources.size() < kMaxSources && CallDSM(nullptr, DG_CONTROL, DAT_IDENTITY, msg, &source); msg = MSG_GETNEXT) {
        sources.push_back(source);
        source = TW_IDENTITY{};
    }
    return sources;
}

bool CTwain::SelectSource(const TW_IDENTITY& picked)
{
    if (m_sourceOpen || !m_managerOpen)
        return m_sourceKnown;
    const TW_IDENTITY before = m_source;
    m_source = picked;
    if (CallDSM(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &m_source))
        m_sourceKnown = true;
    else
        m_source = before;
    return m_sourceKnown;
}

bool CTwain::OpenSource(const TW_IDENTITY* source)
{
    if (m_sourceOpen)
        return true;
    if (source) {
        m_source = *source;
        m_sourceKnown = true;
    }
    if (m_managerOpen && !m_sourceKnown && !GetDefaultSource())
        return false;
    m_sourceOpen = CallDSM(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &m_source);
    return m_sourceOpen;
}

bool CTwain::EnableSource(bool showUI)
{
    if (!m_sourceOpen || m_sourceEnabled)
        return m_sourceEnabled;
    TW_USERINTERFACE ui{};
    ui.ShowUI = showUI ? 1 : 0;
    ui.ModalUI = 0;
    ui.hParent = m_parent;
    if (CallDSM(&m_source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui)) {
        m_sourceEnabled = true;
        m_modalUI = ui.ModalUI != 0;
        return true;
    }
    m_sourceEnabled = false;
    m_modalUI = 1;
    return false;
}

bool CTwain::DisableSource()
{
    if (m_sourceEnabled) {
        TW_USERINTERFACE ui{};
        ui.hParent = m_parent;
        if (CallDSM(&m_source, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui))
            m_sourceEnabled = false;
    }
    return !m_sourceEnabled;
}

bool CTwain::CloseSource()
{
    if (!m_sourceOpen)
        return true;
    if (!DisableSource())
        return false;
    if (CallDSM(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &m_source))
        m_sourceOpen = false;
    return !m_sourceOpen;
}

bool CTwain::CloseDSM()
{
    if (!m_managerOpen)
        return true;
    if (!CloseSource())
        return false;
    if (CallDSM(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &m_parent))
        m_managerOpen = false;
    return !m_managerOpen;
}

// ---- capabilities -----------------------------------------------------------

bool CTwain::GetCapability(TW_CAPABILITY& capability, TW_UINT16 containerType)
{
    if (!m_sourceOpen)
        return false;
    capability.ConType = containerType;
    capability.hContainer = nullptr;
    if (CallDSM(&m_source, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &capability))
        return true;
    // A source that fails may still have handed over a container: ours to free.
    std::free(capability.hContainer);
    capability.hContainer = nullptr;
    return false;
}

bool CTwain::GetCapabilityValue(TW_UINT16 capability, TW_UINT32& value)
{
    TW_CAPABILITY record{};
    record.Cap = capability;
    if (!GetCapability(record))
        return false;
    TW_HANDLE container = record.hContainer;
    bool ok = false;
    if (record.ConType == TWON_ONEVALUE && container) {
        TW_ONEVALUE one;
        std::memcpy(&one, container, sizeof one);
        std::size_t size = TwainItemSize(one.ItemType);
        if (size != 0) {
            TW_UINT32 item = one.Item;
            if (size == 1)
                item = one.ItemType == TWTY_INT8 ? static_cast<TW_UINT32>(static_cast<TW_INT8>(item)) : item & 0xFF;
            else if (size == 2)
                item = one.ItemType == TWTY_INT16 ? static_cast<TW_UINT32>(static_cast<TW_INT16>(item)) : item & 0xFFFF;
            value = item;
            ok = true;
        }
    }
    std::free(container);
    return ok;
}

bool CTwain::SetCapability(TW_CAPABILITY& capability)
{
    if (!m_sourceOpen)
        return false;
    return CallDSM(&m_source, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability);
}

bool CTwain::SetOneValue(TW_UINT16 capability, TW_UINT32 value, bool isSigned)
{
    void* container = std::calloc(1, sizeof(TW_ONEVALUE));
    if (!container)
        return false;
    TW_ONEVALUE one{};
    one.ItemType = isSigned ? TWTY_INT16 : TWTY_UINT16;
    one.Item = value;
    std::memcpy(container, &one, sizeof one);
    TW_CAPABILITY record{};
    record.Cap = capability;
    record.ConType = TWON_ONEVALUE;
    record.hContainer = container;
    bool ok = SetCapability(record);
    std::free(container);
    return ok;
}

bool CTwain::SetImageCount(int count)
{
    if (SetOneValue(CAP_XFERCOUNT, static_cast<TW_UINT32>(count), true)) {
        m_imageCount = count;
        return true;
    }
    if (m_lastReturnCode != TWRC_CHECKSTATUS)
        return false;
    // The source took a value of its own: set that one as it reports it.
    TW_UINT32 value = 0;
    if (!GetCapabilityValue(CAP_XFERCOUNT, value) || !SetOneValue(CAP_XFERCOUNT, value, false))
        return false;
    m_imageCount = static_cast<int>(value);
    return true;
}

// ---- transfers --------------------------------------------------------------

bool CTwain::GetImageInfo(TW_IMAGEINFO& info)
{
    if (!m_sourceEnabled)
        return false;
    return CallDSM(&m_source, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info);
}

bool CTwain::TransferNativeImage(const TW_IMAGEINFO& info)
{
    TW_HANDLE dib = nullptr;
    TW_UINT16 rc = CallDSMRaw(&m_source, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib);
    if (rc == TWRC_XFERDONE && dib)
        CopyImage(dib, info);
    // Whatever block the source handed over is ours, whatever it answered.
    std::free(dib);
    if (rc == TWRC_XFERDONE)
        return EndTransfer();
    // A cancelled transfer still has to be ended, or the source stays in the
    // transfer state and refuses to be closed.
    if (rc == TWRC_CANCEL)
        return EndTransfer();
    ResetTransfers();
    return false;
}

bool CTwain::EndTransfer()
{
    TW_PENDINGXFERS pending{};
    if (!CallDSM(&m_source, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending))
        return false;
    m_transfersPending = pending.Count != 0;
    return m_transfersPending;
}

bool CTwain::ResetTransfers()
{
    TW_PENDINGXFERS pending{};
    if (!CallDSM(&m_source, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending))
        return false;
    m_transfersPending = false;
    return true;
}

bool CTwain::ProcessMessage(void* event)
{
    if (!m_sourceEnabled)
        return false;
    TW_EVENT record{};
    record.pEvent = event;
    record.TWMessage = MSG_NULL;
    TW_UINT16 rc = CallDSMRaw(&m_source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &record);
    ProcessTwainMessage(record.TWMessage);
    return rc == TWRC_DSEVENT;
}

void CTwain::ProcessTwainMessage(TW_UINT16 message)
{
    switch (message) {
    case MSG_XFERREADY: TransferImages(); break;
    case MSG_CLOSEDSREQ:
        // A source that gives up (a jam, no paper, a failed scan) says why
        // in its status; closing would reset it.
        ReadStatus(&m_source);
        [[fallthrough]];
    case MSG_CLOSEDSOK:
        if (CanClose())
            CloseSource();
        break;
    default: break;
    }
}

bool CTwain::PollEvents()
{
    if (m_transferring || !m_sourceEnabled)
        return false;
    return ProcessMessage(nullptr);
}

void CTwain::TransferImages()
{
    m_transferring = true;
    m_transfersPending = true;
    while (m_transfersPending) {
        TW_IMAGEINFO info{};
        if (!GetImageInfo(info))
            break;
        int answer = ShouldTransfer(info);
        bool stillPending = true;
        if (answer == kTransferImage)
            stillPending = TransferNativeImage(info);
        else if (answer == kSkipImage)
            stillPending = EndTransfer();
        else
            ResetTransfers();
        if (!stillPending || answer == kCancelAll)
            break;
    }
    // Leaving with images still pending would keep the source in the
    // transfer state, where it can be neither disabled nor closed.
    if (m_transfersPending)
        ResetTransfers();
    m_transferring = false;
    if (CanClose())
        CloseSource();
}

bool CTwain::Acquire(int imageCount)
{
    if (!IsLoaded())
        return false;
    if (!m_sourceOpen && !OpenSource(nullptr))
        return false;
    SetImageCount(imageCount);
    if (EnableSource(true))
        return true;
    CloseSource();
    return false;
}

// ---- overridables -----------------------------------------------------------

int CTwain::ShouldTransfer(const TW_IMAGEINFO&) { return kTransferImage; }

void CTwain::CopyImage(TW_HANDLE, const TW_IMAGEINFO&) {}

bool CTwain::CanClose() { return true; }
