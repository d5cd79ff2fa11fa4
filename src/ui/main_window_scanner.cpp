// The main frame's part of the scanner client: starting it, choosing a
// source among those the manager offers, acquiring, polling the enabled
// source, and a window for each image it delivers.
#include <QInputDialog>
#include <QStringList>
#include <QTimer>
#include <cstring>
#include <memory>
#include <vector>

#include "model/text_table.h"
#include "raster/raster_display.h"
#include "raster/raster_src.h"
#include "ui/drawing_view.h"
#include "ui/main_window.h"

namespace {

QString Lan(const char* key, const char* english) { return QString::fromUtf8(GetLanString(key, english)); }

}  // namespace

void CMainFrame::StartScanner()
{
    // The old platform family started the client on the user-interface thread.
    const int platform = GetShellPlatformCode();
    StartTwain(GetStatusWindow(), platform != kPlatformOld && platform != kPlatformNew);
}

bool CMainFrame::SelectScannerSource()
{
    if (!IsReady()) {
        ShowStatus(Lan("NoScannerMsg", "No scanner is available."));
        return false;
    }
    const std::vector<TW_IDENTITY> sources = GetSources();
    // One source leaves nothing to choose; a manager may still ask itself.
    if (sources.size() < 2)
        return SelectSource();
    auto nameOf = [](const TW_IDENTITY& source) {
        return QString::fromUtf8(source.ProductName, strnlen(source.ProductName, sizeof source.ProductName));
    };
    QStringList names;
    int current = 0;
    for (const TW_IDENTITY& source : sources) {
        QString name = nameOf(source);
        // The user must be able to tell every entry apart.
        if (names.contains(name))
            name += QString(" (%1)").arg(names.size() + 1);
        if (IsSourceKnown() && nameOf(source) == nameOf(GetSourceIdentity()))
            current = static_cast<int>(names.size());
        names << name;
    }
    bool chosen = false;
    const QString picked = QInputDialog::getItem(this, Lan("SelectSourceTitle", "Select Source"),
                                                 Lan("SelectSourceLabel", "Scanner:"), names, current, false, &chosen);
    const qsizetype index = names.indexOf(picked);
    if (!chosen || index < 0)
        return false;
    return SelectSource(sources[static_cast<std::size_t>(index)]);
}

bool CMainFrame::AcquireFromScanner()
{
    if (!IsReady()) {
        ShowStatus(Lan("NoScannerMsg", "No scanner is available."));
        return false;
    }
    if (!Acquire(-1)) {
        ShowMessageBox(GetLanString("AcquireFailMsg", "The scanner could not be started."), GetProgramDisplayName(),
                       MB_OK | MB_ICONWARNING);
        return false;
    }
    m_scannedImages = 0;
    m_scannerTimer->start();
    UpdateActions();
    return true;
}

std::string ScannerFailureText(TW_UINT16 condition)
{
    switch (condition) {
    case TWCC_SUCCESS: return {};
    case TWCC_PAPERJAM: return GetLanString("ScanPaperJamMsg", "The paper is jammed in the scanner.");
    case TWCC_PAPERDOUBLEFEED: return GetLanString("ScanDoubleFeedMsg", "The scanner took in more than one sheet.");
    case TWCC_NOMEDIA: return GetLanString("ScanNoDocumentMsg", "There is no document in the scanner.");
    case TWCC_INTERLOCK: return GetLanString("ScanCoverOpenMsg", "The scanner's cover is open.");
    case TWCC_CHECKDEVICEONLINE: return GetLanString("ScanOfflineMsg", "The scanner is not connected or not ready.");
    case TWCC_LOWMEMORY: return GetLanString("NoMemoryMsg", "Not enough memory to perform operation !");
    case TWCC_OPERATIONERROR: return GetLanString("ScanErrorMsg", "The scanner could not scan the page.");
    default: return GetLanString("ScanFailedMsg", "The scanner reported an error: ") + std::to_string(condition);
    }
}

bool CMainFrame::IsPollingScanner() const { return m_scannerTimer->isActive(); }

void CMainFrame::OnSelectSource() { SelectScannerSource(); }

void CMainFrame::OnAcquire() { AcquireFromScanner(); }

void CMainFrame::OnScannerTimer()
{
    if (IsSourceEnabled())
        PollEvents();
    if (!IsSourceEnabled()) {
        m_scannerTimer->stop();
        UpdateActions();
        // A scan that brought nothing says why, when the source told.
        const std::string reason = ScannerFailureText(GetStatus().ConditionCode);
        if (m_scannedImages == 0 && !reason.empty())
            ShowMessageBox(reason, GetProgramDisplayName(), MB_OK | MB_ICONWARNING);
    }
}

int CMainFrame::ShouldTransfer(const TW_IMAGEINFO&) { return kTransferImage; }

void CMainFrame::CopyImage(TW_HANDLE dib, const TW_IMAGEINFO&)
{
    const std::size_t size = TwainNativeImageSize(dib);
    CRasterSrc image;
    if (size == 0 || !image.AttachDIBHandle(dib, size))
        return;
    auto view = std::make_unique<CDrawingView>();
    if (!view->TakeRasterImage(image))
        return;
    // A scan exists nowhere else until it is saved.
    view->GetGraph().SetModified(true);
    ++m_scannedImages;
    AddChild(std::move(view), Lan("ScannedRaster", "Scanned Raster Image"));
}

bool CMainFrame::CanClose() { return true; }
