#pragma once
// CTwain: the scanner client. It loads a TWAIN source manager at run time,
// identifies the application, lets the user pick a source, enables it and
// pulls its images by native transfer; each image reaches CopyImage as a
// packed DIB (see raster/twain_types.h for the handle convention).
//
// Which manager: the library named by LINEWEFT_TWAIN_DSM when that is set;
// otherwise liblineweft-twain-sane.so beside the running program (our
// manager over SANE), then the system's libtwaindsm.so.2 and libtwaindsm.so.
// A missing manager means "no scanner": the object is never ready and every
// call does nothing and answers false.
//
// Events: Linux has no window message the source could hook, so the source
// signals MSG_XFERREADY and MSG_CLOSEDSREQ through DAT_EVENT/MSG_PROCESSEVENT
// polled with no event attached. The desktop calls PollEvents() from a timer
// on the user-interface thread while IsSourceEnabled(); transfers then run
// inside that call.
//
// States follow the protocol: loaded -> manager open -> source known ->
// source open -> source enabled -> transfers -> back down. Each close step
// performs the ones below it first, and a flag is cleared only when its
// close call succeeded. Failures are answered false with the return code and
// status kept; nothing is shown here.
//
// Threads: StartTwain may run the start-up on a thread of its own; it only
// writes the handles and flags and publishes "ready" last. Everything else
// runs on the user-interface thread, after IsReady().
#include "platform/window_messages.h"
#include "raster/twain_types.h"

#include <atomic>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

// The bytes of the packed DIB a native transfer handed over, from its header
// (the block carries no length of its own); 0 when the header is not one of
// an uncompressed DIB or claims more than kMaxTwainImageBytes.
std::size_t TwainNativeImageSize(const void* dib);

class CTwain {
public:
    // ShouldTransfer answers.
    static constexpr int kTransferImage = 0;
    static constexpr int kSkipImage = 1;
    static constexpr int kCancelAll = 2;

    CTwain();
    // Waits for the start-up thread, then releases the manager.
    virtual ~CTwain();
    CTwain(const CTwain&) = delete;
    CTwain& operator=(const CTwain&) = delete;

    // The product name of the application identity (the program's display
    // name); set once at start-up, before any CTwain starts.
    static void SetProductName(const std::string& name);

    // --- start-up ---
    // Runs TwainStartThreadProc on a thread of its own, or directly.
    void StartTwain(HWND parent, bool ownThread = true);
    // ready := 0; InitTwain; when loaded, GetDefaultSource; ready := 1.
    void TwainStartThreadProc(HWND parent);
    // Joins the start-up thread if one runs.
    void WaitForStartup();
    // Start-up finished and a manager is loaded: gates the commands.
    [[nodiscard]] bool IsReady() const;

    // --- manager and sources ---
    // Loads the manager and opens it for the window; true at once when
    // loaded already. False for a non-window or a missing library or entry.
    [[nodiscard]] bool InitTwain(HWND window);
    // Once: closes everything, unloads the manager, resets handles and flags.
    void ReleaseTwain();
    bool GetDefaultSource();
    // Lets the user pick a source; answers whether a source is known.
    virtual bool SelectSource();
    // Every source the manager offers, in its order (MSG_GETFIRST, then
    // MSG_GETNEXT to the end of the list); empty without an open manager.
    [[nodiscard]] std::vector<TW_IDENTITY> GetSources();
    // SelectSource for a source the user picked from GetSources: the
    // identity handed to MSG_USERSELECT names it, as TWAIN lets a client
    // name the source to offer (a manager without a dialog takes it). On
    // failure the source known before stays.
    bool SelectSource(const TW_IDENTITY& picked);
    // Opens the given source, or the known (else the default) one for null.
    virtual bool OpenSource(const TW_IDENTITY* source = nullptr);
    bool EnableSource(bool showUI);
    // Answers true when the source is no longer enabled.
    virtual bool DisableSource();
    // Disables, then closes the source; answers true when it is closed.
    bool CloseSource();
    // Closes the source, then the manager; true when the manager is closed.
    bool CloseDSM();

    // --- capabilities (source open) ---
    // The source allocates the container; the caller frees it (free) when
    // the call succeeded, and finds none when it failed.
    bool GetCapability(TW_CAPABILITY& capability, TW_UINT16 containerType = TWON_DONTCARE16);
    // The value of a one-value container of an integer type, widened (signed
    // types sign-extended). False for any other container.
    bool GetCapabilityValue(TW_UINT16 capability, TW_UINT32& value);
    bool SetCapability(TW_CAPABILITY& capability);
    // An INT16 (signed) or UINT16 one-value container.
    bool SetOneValue(TW_UINT16 capability, TW_UINT32 value, bool isSigned);
    // CAP_XFERCOUNT as signed; on TWRC_CHECKSTATUS the value the source
    // reports is set again unsigned. -1 asks for as many as the user scans.
    bool SetImageCount(int count);

    // --- transfers (source enabled) ---
    bool GetImageInfo(TW_IMAGEINFO& info);
    // Takes one image into CopyImage, frees its block and ends the transfer;
    // answers whether more images are pending. A failed transfer resets them.
    bool TransferNativeImage(const TW_IMAGEINFO& info);
    // Answers true while images are pending.
    bool EndTransfer();
    bool ResetTransfers();
    // Offers a window event to the source (null: just polls it) and acts on
    // the message it returns; true when the source consumed the event.
    bool ProcessMessage(void* event);
    void ProcessTwainMessage(TW_UINT16 message);
    // ProcessMessage(nullptr) while the source is enabled and no transfer
    // runs; true when the source had something to say.
    bool PollEvents();
    // Takes the pending images, then closes the source when CanClose agrees.
    void TransferImages();
    // Opens the source if needed, sets the image count and enables the source
    // with its own user interface; on failure the source is closed again.
    bool Acquire(int imageCount = -1);

    // --- state ---
    [[nodiscard]] bool IsLoaded() const { return m_entry != nullptr; }
    [[nodiscard]] bool IsManagerOpen() const { return m_managerOpen; }
    [[nodiscard]] bool IsSourceKnown() const { return m_sourceKnown; }
    [[nodiscard]] bool IsSourceOpen() const { return m_sourceOpen; }
    [[nodiscard]] bool IsSourceEnabled() const { return m_sourceEnabled; }
    [[nodiscard]] bool IsModalUI() const { return m_modalUI != 0; }
    [[nodiscard]] int GetImageCount() const { return m_imageCount; }
    [[nodiscard]] TW_UINT16 GetLastReturnCode() const { return m_lastReturnCode; }
    // The status read after the last failed call, or when the source asked
    // to be closed (TWCC_SUCCESS when it had nothing to report).
    [[nodiscard]] const TW_STATUS& GetStatus() const { return m_status; }
    [[nodiscard]] const TW_IDENTITY& GetSourceIdentity() const { return m_source; }
    [[nodiscard]] const TW_IDENTITY& GetAppIdentity() const { return m_app; }

protected:
    // Fills the application identity.
    virtual void GetIdentity();
    // kTransferImage, kSkipImage or kCancelAll for the image described.
    virtual int ShouldTransfer(const TW_IMAGEINFO& info);
    // The block stays the caller's: copy what is needed before returning.
    virtual void CopyImage(TW_HANDLE dib, const TW_IMAGEINFO& info);
    virtual bool CanClose();

    // True for TWRC_SUCCESS; any other code is kept and the status read.
    bool CallDSM(TW_IDENTITY* destination, TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
    // The return code itself; no status is read for DAT_EVENT.
    TW_UINT16 CallDSMRaw(TW_IDENTITY* destination, TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);

    TW_IDENTITY m_app{};

private:
    bool LoadManager();
    void UnloadManager();
    void ReadStatus(TW_IDENTITY* destination);

    std::atomic<bool> m_ready{false};
    bool m_released = false;
    void* m_library = nullptr;
    DSMENTRYPROC m_entry = nullptr;
    TW_IDENTITY m_source{};
    TW_STATUS m_status{};
    TW_UINT16 m_lastReturnCode = TWRC_FAILURE;
    HWND m_parent = nullptr;
    bool m_sourceKnown = false;
    bool m_managerOpen = false;
    bool m_sourceOpen = false;
    bool m_sourceEnabled = false;
    int m_modalUI = 1;
    int m_imageCount = -1;
    // Between MSG_XFERREADY and the end of the last transfer (state 6 or 7).
    bool m_transfersPending = false;
    // TransferImages runs: a nested PollEvents must not start another.
    bool m_transferring = false;
    std::thread m_startThread;
};
