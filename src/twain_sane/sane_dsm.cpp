// A TWAIN source manager over SANE, so that the scanner client finds real
// scanners on Linux. Every SANE device is a source, each under a product name
// of its own; the default is the first device. There being no dialog here,
// MSG_USERSELECT takes the source the application names in the identity it
// passes (by product name, as TWAIN lets an application name the source to
// offer first, else by id): the application lists the sources with
// MSG_GETFIRST and MSG_GETNEXT and asks its user. Enabling a
// source starts the scan at once on a thread of its own, as a source with no
// user interface does; the client learns of the page by polling
// DAT_EVENT/MSG_PROCESSEVENT, which answers MSG_XFERREADY once the page is
// read and MSG_CLOSEDSREQ when there is nothing (more) to transfer. Further
// pages of a document feeder are scanned within MSG_ENDXFER.
//
// One application and one open source at a time; calls come from the
// application's thread, the scan thread only fills the page and flags it.
#include "raster/twain_types.h"
#include "twain_sane/sane_page.h"

#include <sane/sane.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr TW_UINT32 kAppId = 1;
constexpr TW_UINT32 kFirstSourceId = 2;
constexpr TW_UINT16 kPendingUnknown = 0xFFFF;
constexpr TW_UINT16 TWCC_CAPUNSUPPORTED = 13;
constexpr TW_UINT16 TWCC_MAXCONNECTIONS = 4;

enum State { kLoaded = 2, kManagerOpen = 3, kSourceOpen = 4, kEnabled = 5, kReady = 6, kTransferring = 7 };

template <std::size_t N>
void CopyTwainString(char (&target)[N], const char* text)
{
    std::size_t n = text ? std::min(std::strlen(text), N - 1) : 0;
    if (n)
        std::memcpy(target, text, n);
    target[n] = '\0';
}

class CSaneManager {
public:
    ~CSaneManager()
    {
        // The application may unload us without closing what it opened.
        StopScan();
        if (m_device)
            sane_close(m_device);
        if (m_state >= kManagerOpen)
            sane_exit();
    }

    TW_UINT16 Entry(TW_IDENTITY* origin, TW_IDENTITY* destination, TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg,
                    TW_MEMREF data);

private:
    TW_UINT16 Manager(TW_IDENTITY* origin, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
    TW_UINT16 Identity(TW_UINT16 msg, TW_IDENTITY& identity);
    TW_UINT16 Source(TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
    TW_UINT16 Capability(TW_UINT16 msg, TW_CAPABILITY& capability);
    TW_UINT16 ProcessEvent(TW_EVENT& event);
    TW_UINT16 EndTransfer(TW_PENDINGXFERS& pending);
    TW_UINT16 ImageInfo(TW_IMAGEINFO& info);

    TW_UINT16 Fail(TW_UINT16 condition, bool source)
    {
        (source ? m_sourceCondition : m_managerCondition) = condition;
        return TWRC_FAILURE;
    }
    void ListDevices();
    [[nodiscard]] bool ProductNameTaken(const char* name) const;
    // The listed source the identity names, or the first; null when none.
    const TW_IDENTITY* NamedSource(const TW_IDENTITY& identity) const;
    void StartScan();
    void StopScan();
    void EndScanning();

    int m_state = kLoaded;
    std::vector<TW_IDENTITY> m_sources;
    std::vector<std::string> m_deviceNames;
    std::size_t m_nextSource = 0;
    TW_UINT16 m_managerCondition = TWCC_SUCCESS;
    TW_UINT16 m_sourceCondition = TWCC_SUCCESS;

    SANE_Handle m_device = nullptr;
    TW_UINT32 m_sourceId = 0;
    TW_INT32 m_transferCount = -1;
    int m_pagesEnded = 0;
    bool m_feeder = false;
    TW_UINT16 m_event = MSG_NULL;
    ScannedPage m_page;

    // The first page's scan runs here; the outcome is read once it is done.
    std::thread m_scan;
    std::atomic<bool> m_scanDone{false};
    ScanOutcome m_scanOutcome = ScanOutcome::Failed;
    SANE_Status m_scanStatus = SANE_STATUS_GOOD;
};

// What a failed scan tells the client through the source's status; a
// cancelled one has nothing to report.
TW_UINT16 ScanCondition(ScanOutcome outcome, SANE_Status status)
{
    if (outcome == ScanOutcome::Cancelled)
        return TWCC_SUCCESS;
    if (outcome == ScanOutcome::NoDocuments)
        return TWCC_NOMEDIA;
    switch (status) {
    case SANE_STATUS_JAMMED: return TWCC_PAPERJAM;
    case SANE_STATUS_COVER_OPEN: return TWCC_INTERLOCK;
    case SANE_STATUS_IO_ERROR:
    case SANE_STATUS_DEVICE_BUSY: return TWCC_CHECKDEVICEONLINE;
    case SANE_STATUS_NO_MEM: return TWCC_LOWMEMORY;
    default: return TWCC_OPERATIONERROR;
    }
}

CSaneManager g_manager;

void CSaneManager::ListDevices()
{
    m_sources.clear();
    m_deviceNames.clear();
    const SANE_Device** list = nullptr;
    if (sane_get_devices(&list, SANE_FALSE) != SANE_STATUS_GOOD || !list)
        return;
    for (std::size_t i = 0; list[i]; ++i) {
        const SANE_Device* device = list[i];
        if (!device->name)
            continue;
        TW_IDENTITY identity{};
        identity.Id = kFirstSourceId + static_cast<TW_UINT32>(m_sources.size());
        identity.Version.MajorNum = 1;
        identity.ProtocolMajor = 1;
        identity.ProtocolMinor = 9;
        identity.SupportedGroups = DG_CONTROL | DG_IMAGE;
        CopyTwainString(identity.Manufacturer, device->vendor);
        CopyTwainString(identity.ProductFamily, device->type);
        std::string product =
            std::string(device->vendor ? device->vendor : "") + " " + (device->model ? device->model : device->name);
        CopyTwainString(identity.ProductName, product.c_str());
        // Two scanners of one model (or SANE's test devices) must still be
        // told apart by name: the later ones are numbered.
        for (int n = 2; ProductNameTaken(identity.ProductName); ++n) {
            const std::string number = " #" + std::to_string(n);
            CopyTwainString(identity.ProductName,
                            (product.substr(0, sizeof identity.ProductName - 1 - number.size()) + number).c_str());
        }
        CopyTwainString(identity.Version.Info, device->name);
        m_sources.push_back(identity);
        m_deviceNames.push_back(device->name);
    }
}

bool CSaneManager::ProductNameTaken(const char* name) const
{
    return std::any_of(m_sources.begin(), m_sources.end(),
                       [&](const TW_IDENTITY& s) { return std::strcmp(s.ProductName, name) == 0; });
}

const TW_IDENTITY* CSaneManager::NamedSource(const TW_IDENTITY& identity) const
{
    if (m_sources.empty())
        return nullptr;
    const std::size_t nameLength = strnlen(identity.ProductName, sizeof identity.ProductName);
    for (const TW_IDENTITY& source : m_sources)
        if (nameLength > 0 && nameLength < sizeof identity.ProductName &&
            std::strcmp(source.ProductName, identity.ProductName) == 0)
            return &source;
    for (const TW_IDENTITY& source : m_sources)
        if (identity.Id != 0 && source.Id == identity.Id)
            return &source;
    return &m_sources.front();
}

TW_UINT16 CSaneManager::Entry(TW_IDENTITY* origin, TW_IDENTITY* destination, TW_UINT32 group, TW_UINT16 dat,
                              TW_UINT16 msg, TW_MEMREF data)
{
    if (!origin || !data)
        return Fail(TWCC_BADVALUE, destination != nullptr);
    if (dat == DAT_STATUS && msg == MSG_GET) {
        TW_UINT16& condition = destination ? m_sourceCondition : m_managerCondition;
        *static_cast<TW_STATUS*>(data) = TW_STATUS{condition, 0};
        condition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
    if (!destination)
        return Manager(origin, dat, msg, data);
    if (m_state < kSourceOpen || destination->Id != m_sourceId)
        return Fail(m_state < kSourceOpen ? TWCC_SEQERROR : TWCC_BADDEST, true);
    return Source(group, dat, msg, data);
}

TW_UINT16 CSaneManager::Manager(TW_IDENTITY* origin, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    if (dat == DAT_PARENT && msg == MSG_OPENDSM) {
        if (m_state != kLoaded)
            return Fail(TWCC_SEQERROR, false);
        SANE_Int version = 0;
        if (sane_init(&version, nullptr) != SANE_STATUS_GOOD)
            return Fail(TWCC_BUMMER, false);
        origin->Id = kAppId;
        m_state = kManagerOpen;
        return TWRC_SUCCESS;
    }
    if (dat == DAT_PARENT && msg == MSG_CLOSEDSM) {
        if (m_state != kManagerOpen)
            return Fail(TWCC_SEQERROR, false);
        m_sources.clear();
        m_deviceNames.clear();
        sane_exit();
        m_state = kLoaded;
        return TWRC_SUCCESS;
    }
    if (dat != DAT_IDENTITY || m_state < kManagerOpen)
        return Fail(dat == DAT_IDENTITY ? TWCC_SEQERROR : TWCC_BADPROTOCOL, false);
    return Identity(msg, *static_cast<TW_IDENTITY*>(data));
}

TW_UINT16 CSaneManager::Identity(TW_UINT16 msg, TW_IDENTITY& identity)
{
    switch (msg) {
    case MSG_GETFIRST:
    case MSG_GETDEFAULT:
    case MSG_USERSELECT: {
        // Listing may probe the network: done when asked, not at start.
        if (m_state == kManagerOpen)
            ListDevices();
        const TW_IDENTITY* source = msg == MSG_USERSELECT ? NamedSource(identity)
                                    : m_sources.empty()   ? nullptr
                                                          : &m_sources.front();
        if (source == nullptr)
            return msg == MSG_GETFIRST ? TWRC_ENDOFLIST : Fail(TWCC_NODS, false);
        identity = *source;
        m_nextSource = 1;
        return TWRC_SUCCESS;
    }
    case MSG_GETNEXT:
        if (m_nextSource >= m_sources.size())
            return TWRC_ENDOFLIST;
        identity = m_sources[m_nextSource++];
        return TWRC_SUCCESS;
    case MSG_OPENDS: {
        if (m_state != kManagerOpen)
            return Fail(m_state > kManagerOpen ? TWCC_MAXCONNECTIONS : TWCC_SEQERROR, false);
        auto found =
            std::find_if(m_sources.begin(), m_sources.end(), [&](const TW_IDENTITY& s) { return s.Id == identity.Id; });
        if (found == m_sources.end())
            return Fail(TWCC_NODS, false);
        std::size_t index = static_cast<std::size_t>(found - m_sources.begin());
        if (sane_open(m_deviceNames[index].c_str(), &m_device) != SANE_STATUS_GOOD) {
            m_device = nullptr;
            return Fail(TWCC_OPERATIONERROR, false);
        }
        identity = *found;
        m_sourceId = found->Id;
        m_transferCount = -1;
        m_state = kSourceOpen;
        return TWRC_SUCCESS;
    }
    case MSG_CLOSEDS:
        if (m_state != kSourceOpen || identity.Id != m_sourceId)
            return Fail(m_state != kSourceOpen ? TWCC_SEQERROR : TWCC_NODS, false);
        sane_close(m_device);
        m_device = nullptr;
        m_sourceId = 0;
        m_state = kManagerOpen;
        return TWRC_SUCCESS;
    default: return Fail(TWCC_BADPROTOCOL, false);
    }
}

TW_UINT16 CSaneManager::Capability(TW_UINT16 msg, TW_CAPABILITY& capability)
{
    if (capability.Cap != CAP_XFERCOUNT)
        return Fail(TWCC_CAPUNSUPPORTED, true);
    if (msg == MSG_GET || msg == MSG_GETCURRENT || msg == MSG_GETDEFAULT) {
        void* block = std::calloc(1, sizeof(TW_ONEVALUE));
        if (!block)
            return Fail(TWCC_LOWMEMORY, true);
        TW_ONEVALUE one{};
        one.ItemType = TWTY_INT16;
        one.Item = static_cast<TW_UINT32>(msg == MSG_GETDEFAULT ? -1 : m_transferCount);
        std::memcpy(block, &one, sizeof one);
        capability.ConType = TWON_ONEVALUE;
        capability.hContainer = block;
        return TWRC_SUCCESS;
    }
    if (msg != MSG_SET && msg != MSG_RESET)
        return Fail(TWCC_BADPROTOCOL, true);
    if (m_state != kSourceOpen)
        return Fail(TWCC_SEQERROR, true);
    if (msg == MSG_RESET) {
        m_transferCount = -1;
        return TWRC_SUCCESS;
    }
    if (capability.ConType != TWON_ONEVALUE || !capability.hContainer)
        return Fail(TWCC_BADVALUE, true);
    TW_ONEVALUE one;
    std::memcpy(&one, capability.hContainer, sizeof one);
    TW_INT32 value = one.ItemType == TWTY_INT16    ? static_cast<TW_INT16>(one.Item)
                     : one.ItemType == TWTY_UINT16 ? static_cast<TW_INT32>(one.Item & 0xFFFF)
                                                   : 0;
    // 0xFFFF set unsigned means "as many as there are", as -1 does.
    if (value == 0xFFFF)
        value = -1;
    if (value == 0 || value < -1)
        return Fail(TWCC_BADVALUE, true);
    m_transferCount = value;
    return TWRC_SUCCESS;
}

void CSaneManager::StartScan()
{
    m_scanDone.store(false);
    m_scan = std::thread([this] {
        m_scanOutcome = ScanPage(m_device, m_page, &m_scanStatus);
        m_scanDone.store(true, std::memory_order_release);
    });
}

void CSaneManager::StopScan()
{
    if (m_scan.joinable()) {
        if (!m_scanDone.load(std::memory_order_acquire))
            sane_cancel(m_device);
        m_scan.join();
    }
    FreePage(m_page);
}

// Back to the enabled state with nothing left: the source asks to be closed.
void CSaneManager::EndScanning()
{
    FreePage(m_page);
    sane_cancel(m_device);
    m_state = kEnabled;
    m_event = MSG_CLOSEDSREQ;
}

TW_UINT16 CSaneManager::ProcessEvent(TW_EVENT& event)
{
    event.TWMessage = MSG_NULL;
    if (m_event == MSG_NULL && m_scan.joinable() && m_scanDone.load(std::memory_order_acquire)) {
        m_scan.join();
        if (m_scanOutcome == ScanOutcome::Page) {
            m_state = kReady;
            m_event = MSG_XFERREADY;
        } else {
            EndScanning();
            m_sourceCondition = ScanCondition(m_scanOutcome, m_scanStatus);
        }
    }
    if (m_event == MSG_NULL)
        return TWRC_NOTDSEVENT;
    event.TWMessage = m_event;
    m_event = MSG_NULL;
    return TWRC_DSEVENT;
}

TW_UINT16 CSaneManager::ImageInfo(TW_IMAGEINFO& info)
{
    if (m_state != kReady || !m_page.dib)
        return Fail(TWCC_SEQERROR, true);
    info = TW_IMAGEINFO{};
    info.XResolution.Whole = info.YResolution.Whole = static_cast<TW_INT16>(std::min(m_page.dotsPerInch, 32767));
    info.ImageWidth = m_page.width;
    info.ImageLength = m_page.height;
    info.SamplesPerPixel = m_page.bitCount == 24 ? 3 : 1;
    for (int i = 0; i < info.SamplesPerPixel; ++i)
        info.BitsPerSample[i] = static_cast<TW_INT16>(m_page.bitCount == 1 ? 1 : 8);
    info.BitsPerPixel = static_cast<TW_INT16>(m_page.bitCount);
    info.PixelType = m_page.bitCount == 1 ? TWPT_BW : m_page.bitCount == 8 ? TWPT_GRAY : TWPT_RGB;
    info.Compression = TWCP_NONE;
    return TWRC_SUCCESS;
}

TW_UINT16 CSaneManager::EndTransfer(TW_PENDINGXFERS& pending)
{
    if (m_state != kReady && m_state != kTransferring)
        return Fail(TWCC_SEQERROR, true);
    FreePage(m_page);
    ++m_pagesEnded;
    pending = TW_PENDINGXFERS{};
    bool more = m_feeder && (m_transferCount < 0 || m_pagesEnded < m_transferCount);
    if (more && ScanPage(m_device, m_page) == ScanOutcome::Page) {
        m_state = kReady;
        pending.Count = m_transferCount < 0 ? kPendingUnknown : static_cast<TW_UINT16>(m_transferCount - m_pagesEnded);
        return TWRC_SUCCESS;
    }
    EndScanning();
    return TWRC_SUCCESS;
}

TW_UINT16 CSaneManager::Source(TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    if (group == DG_CONTROL && dat == DAT_CAPABILITY)
        return Capability(msg, *static_cast<TW_CAPABILITY*>(data));
    if (group == DG_CONTROL && dat == DAT_USERINTERFACE && msg == MSG_ENABLEDS) {
        if (m_state != kSourceOpen)
            return Fail(TWCC_SEQERROR, true);
        static_cast<TW_USERINTERFACE*>(data)->ModalUI = 0;
        m_pagesEnded = 0;
        m_event = MSG_NULL;
        m_feeder = IsFeederSource(m_device);
        m_state = kEnabled;
        StartScan();
        return TWRC_SUCCESS;
    }
    if (group == DG_CONTROL && dat == DAT_USERINTERFACE && msg == MSG_DISABLEDS) {
        if (m_state != kEnabled)
            return Fail(TWCC_SEQERROR, true);
        StopScan();
        sane_cancel(m_device);
        m_event = MSG_NULL;
        m_state = kSourceOpen;
        return TWRC_SUCCESS;
    }
    if (group == DG_CONTROL && dat == DAT_EVENT && msg == MSG_PROCESSEVENT) {
        if (m_state < kEnabled)
            return Fail(TWCC_SEQERROR, true);
        return ProcessEvent(*static_cast<TW_EVENT*>(data));
    }
    if (group == DG_IMAGE && dat == DAT_IMAGEINFO && msg == MSG_GET)
        return ImageInfo(*static_cast<TW_IMAGEINFO*>(data));
    if (group == DG_IMAGE && dat == DAT_IMAGENATIVEXFER && msg == MSG_GET) {
        if (m_state != kReady || !m_page.dib)
            return Fail(TWCC_SEQERROR, true);
        // The block is the application's from here on.
        *static_cast<TW_HANDLE*>(data) = m_page.dib;
        m_page = ScannedPage{};
        m_state = kTransferring;
        return TWRC_XFERDONE;
    }
    if (group == DG_CONTROL && dat == DAT_PENDINGXFERS && msg == MSG_ENDXFER)
        return EndTransfer(*static_cast<TW_PENDINGXFERS*>(data));
    if (group == DG_CONTROL && dat == DAT_PENDINGXFERS && msg == MSG_RESET) {
        if (m_state != kReady)
            return Fail(TWCC_SEQERROR, true);
        *static_cast<TW_PENDINGXFERS*>(data) = TW_PENDINGXFERS{};
        EndScanning();
        return TWRC_SUCCESS;
    }
    return Fail(TWCC_BADPROTOCOL, true);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) TW_UINT16
DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* destination, TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    return g_manager.Entry(origin, destination, group, dat, msg, data);
}
