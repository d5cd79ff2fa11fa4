#include "model/command_hints.h"

#include <algorithm>
#include <array>

#include "model/text_table.h"

namespace {

// Ids 103-112 are the recent raster and vector files, 113-132 the entries of
// the undo and redo history menus; the rest are menu commands and controls of
// the settings dialog and the input bar. Kept sorted by idFirst for the
// binary search below.
constexpr std::array kHints = {
    CommandHintEntry{103, 107, "FileMenuReopenRasterHint", "Open this raster file again"},
    CommandHintEntry{108, 112, "FileMenuReopenVectorHint", "Open this vector file again"},
    CommandHintEntry{113, 117, "EditMenuUndoHint", "Undo until this step"},
    CommandHintEntry{118, 122, "EditMenuRedoHint", "Redo until this step"},
    CommandHintEntry{123, 127, "EditMenuUndoHint", "Undo until this step"},
    CommandHintEntry{128, 132, "EditMenuRedoHint", "Redo until this step"},
    CommandHintEntry{1001, 1001, "SetDlgRunBtnHint", "Start the conversion"},
    CommandHintEntry{1002, 1002, "SetDlgPreviewHint", "Preview the result with these settings"},
    CommandHintEntry{1003, 1003, "SetDlgScale1Hint", "Shrink the image before conversion"},
    CommandHintEntry{1004, 1004, "SetDlgScale2Hint", "Enlarge the image before conversion"},
    CommandHintEntry{1006, 1006, "SetDlgThresholdHint", "Threshold between black and white"},
    CommandHintEntry{1007, 1007, "SetDlgThresholdEditHint", "Type the threshold value"},
    CommandHintEntry{1008, 1008, "SetDlgThresholdAutoHint", "Choose the threshold automatically"},
    CommandHintEntry{1009, 1009, "SetDlgOutlineHint", "Trace the outlines of the shapes"},
    CommandHintEntry{1010, 1010, "SetDlgCenterLineHint", "Trace the centre lines of the strokes"},
    CommandHintEntry{1011, 1011, "SetDlgFillPatternCap", "Fill Pattern."},
    CommandHintEntry{1012, 1012, "SetDlgChartTypeHint", "Kind of drawing being converted"},
    CommandHintEntry{1013, 1013, "SetDlgSaveTypeHint", "Which entities to keep"},
    CommandHintEntry{1014, 1014, "SetDlgDelTypeHint", "Which entities to remove"},
    CommandHintEntry{1015, 1015, "SetDlgResetCenterParam", "Reset the centre-line settings"},
    CommandHintEntry{1016, 1016, "SetDlgStraightenHint", "Straighten nearly straight lines"},
    CommandHintEntry{1017, 1017, "SetDlgRecCircleHint", "Recognise circles and arcs"},
    CommandHintEntry{1018, 1018, "SetDlgConnectLineHint", "Connect broken lines"},
    CommandHintEntry{1019, 1019, "SetDlgConnectDistanceHint", "Largest gap to connect"},
    CommandHintEntry{1020, 1020, "SetDlgAdjustAngleHint", "Snap line angles to a series"},
    CommandHintEntry{1021, 1021, "SetDlgAngleSeriesHint", "Angles lines are snapped to"},
    CommandHintEntry{1022, 1022, "SetDlgDelMixupLineHint", "Remove short stray lines"},
    CommandHintEntry{1023, 1023, "SetDlgMixupLengthHint", "Longest stray line to remove"},
    CommandHintEntry{1024, 1024, "SetDlgWidthHint", "Snap line widths to a series"},
    CommandHintEntry{1025, 1025, "SetDlgWidthSeriesHint", "Widths lines are snapped to"},
    CommandHintEntry{1026, 1026, "SetDlgWidthSeriesSetHint", "Edit the width series"},
    CommandHintEntry{1027, 1027, "SetDlgImageDisplayHint", "Image shown in the preview"},
    CommandHintEntry{1028, 1028, "SetDlgThresholdDiagramHint", "Grey-level histogram of the image"},
    CommandHintEntry{1040, 1040, "SetDlgSelImageHint", "Choose the image to convert"},
    CommandHintEntry{1041, 1041, "SetDlgPreviewHint", "Preview the result with these settings"},
    CommandHintEntry{1044, 1044, "SetDlgFillPatternOnHint", "Recognise fill patterns"},
    CommandHintEntry{1046, 1046, "SetDlgFillTypeHint", "Kind of fill pattern"},
    CommandHintEntry{1048, 1048, "SetDlgFillSpaceHint", "Spacing of the fill pattern"},
    CommandHintEntry{1051, 1051, "SetDlgFillTypeHint", "Kind of fill pattern"},
    CommandHintEntry{1053, 1053, "SetDlgFillSpaceHint", "Spacing of the fill pattern"},
    CommandHintEntry{1170, 1170, "InputDlgBarRelativeCoordsHint", "Enter coordinates relative to the last point"},
    CommandHintEntry{2016, 2016, "InputDlgBarPolarCoordsHint", "Enter coordinates as distance and angle"},
    CommandHintEntry{32771, 32771, "MainActOpenFileHint", "Open raster file"},
    CommandHintEntry{32772, 32772, "MainActBatchHint", "Batch raste files process"},
    CommandHintEntry{32773, 32773, "MainActSelScanHint", "Select the scanner"},
    CommandHintEntry{32774, 32774, "MainActScanHint", "Scan an image"},
    CommandHintEntry{32775, 32775, "MainActHelpHint", "Show help"},
    CommandHintEntry{32782, 32782, "MainActSaveRasterHint", "Save raster file"},
    CommandHintEntry{32783, 32783, "MainActSaveFileHint", "Save vector file"},
    CommandHintEntry{32784, 32784, "MainActOpenVectorFileHint", "Open vector file"},
    CommandHintEntry{32785, 32785, "MainActZoomOutHint", "Zoom out"},
    CommandHintEntry{32786, 32786, "MainActZoomInHint", "Zoom in"},
    CommandHintEntry{32787, 32787, "MainActZoomWinHint", "Zoom to a window"},
    CommandHintEntry{32788, 32788, "MainActPanHint", "Pan the view"},
    CommandHintEntry{32789, 32789, "VectorMenuSelectHint", "Select entities"},
    CommandHintEntry{32790, 32790, "MainActZoomPrvHint", "Zoom to the previous view"},
    CommandHintEntry{32791, 32791, "MainActZoomFitHint", "Zoom to fit the drawing"},
    CommandHintEntry{32793, 32793, "MainActShowRasterHint", "Show or hide the raster"},
    CommandHintEntry{32794, 32794, "MainActShowWidthHint", "Show or hide line widths"},
    CommandHintEntry{32795, 32795, "MainActShowVectorHint", "Show or hide the vectors"},
    CommandHintEntry{32796, 32796, "MainActDistanceHint", "Measure a distance"},
    CommandHintEntry{32797, 32797, "MainActListHint", "List the selected entities"},
    CommandHintEntry{32798, 32798, "MainActThresholdHint", "Convert the raster to black and white"},
    CommandHintEntry{32799, 32799, "MainActInvertRasterHint", "Invert the raster"},
    CommandHintEntry{32800, 32800, "MainActRotateRasterHint", "Rotate the raster"},
    CommandHintEntry{32801, 32801, "MainActMirrorRasterHint", "Mirror the raster left to right"},
    CommandHintEntry{32802, 32802, "MainActFlipRasterHint", "Flip the raster upside down"},
    CommandHintEntry{32803, 32803, "MainActCropRasterHint", "Crop the raster"},
    CommandHintEntry{32804, 32804, "MainActFillHolesHint", "Fill small holes in the raster"},
    CommandHintEntry{32805, 32805, "MainActFilterFastHint", "Remove specks from the raster"},
    CommandHintEntry{32807, 32807, "MainActTraceHint", "Convert raster into vector"},
    CommandHintEntry{32808, 32808, "MainActParameterHint", "Set the conversion parameters"},
    CommandHintEntry{32809, 32809, "MainActSelAllHint", "Select all entities"},
    CommandHintEntry{32810, 32810, "MainActUnSelAllHint", "Deselect all entities"},
    CommandHintEntry{32811, 32811, "VectorMenuDeleteHint", "Delete the selected entities"},
    CommandHintEntry{32812, 32812, "MainActRemoveAllHint", "Remove all vectors"},
    CommandHintEntry{32813, 32813, "MainActExplodeHint", "Explode polyline into 1-seg polyline and arc"},
    CommandHintEntry{32814, 32814, "MainActSepLayersHint", "Separate vector into multi Layers according to width."},
    CommandHintEntry{32815, 32815, "MainActLayersHint", "Manage the layers"},
    CommandHintEntry{32816, 32816, "RasterMenuRotateToHorHint", "Rotate the raster to make a line horizontal"},
    CommandHintEntry{32817, 32817, "RasterMenuErasePointHint", "Erase raster points"},
    CommandHintEntry{32818, 32818, "RasterMenuEraseRectHint", "Erase a rectangle of the raster"},
    CommandHintEntry{32819, 32819, "RasterMenuErasePolygonHint", "Erase a polygon of the raster"},
    CommandHintEntry{32820, 32820, "VectorMenuDrawLineHint", "Draw a line"},
    CommandHintEntry{32821, 32821, "VectorMenuDrawPolylineHint", "Draw a polyline"},
    CommandHintEntry{32822, 32822, "VectorMenuDraw3pArcHint", "Draw an arc through three points"},
    CommandHintEntry{32823, 32823, "VectorMenuDrawCenterCircleHint", "Draw a circle by centre and radius"},
    CommandHintEntry{32824, 32824, "VectorMenuPropertiesHint", "Edit the properties of the selection"},
    CommandHintEntry{32825, 32825, "VectorMenuDrawCenterArcHint", "Draw an arc by centre and end points"},
    CommandHintEntry{32826, 32826, "VectorMenuDraw3pCircleHint", "Draw a circle through three points"},
    CommandHintEntry{32827, 32827, "MainActOsnapHint", "Set the object snap modes"},
    CommandHintEntry{32828, 32828, "ToolsMenuSnapHint", "Toggle snap to grid point"},
    CommandHintEntry{32829, 32829, "MainActPreferencesHint", "Set preferences"},
    CommandHintEntry{32830, 32830, "MainActActualSizeHint", "Show the image at actual size"},
    CommandHintEntry{32831, 32831, "MainActInfoHint", "Show information about the drawing"},
    CommandHintEntry{32832, 32832, "FileMenuCloseAllHint", "Close all drawings"},
    CommandHintEntry{32833, 32833, "FileMenuCloseHint", "Close the drawing"},
    CommandHintEntry{32834, 32834, "VectorMenuDrawSolidTriangleHint", "Draw a solid triangle"},
    CommandHintEntry{32835, 32835, "ViewMenuRedrawHint", "Redraw the view"},
    CommandHintEntry{32836, 32836, "FileMenuNewHint", "Create a new drawing"},
    CommandHintEntry{32837, 32837, "ToolsMenuOrthoHint", "Toggle orthogonal mode"},
    CommandHintEntry{32838, 32838, "RasterMenuFillRectHint", "Fill a rectangle of the raster"},
    CommandHintEntry{32839, 32839, "RasterMenuFillPolygonHint", "Fill a polygon of the raster"},
    CommandHintEntry{32840, 32840, "RasterMenuFillColorHint", "Choose the fill colour"},
    CommandHintEntry{32843, 32843, "RasterMenuBrightHint", "Adjust brightness and contrast"},
    CommandHintEntry{32845, 32845, "RasterMenuReplaceColorHint", "Replace a colour of the raster"},
    CommandHintEntry{32846, 32846, "ToolsMenuOptionHint", "Set the options"},
    CommandHintEntry{32847, 32847, "OsnapMenuEndPointHint", "Snap to end points"},
    CommandHintEntry{32848, 32848, "OsnapMenuMidPointHint", "Snap to midpoints"},
    CommandHintEntry{32849, 32849, "OsnapMenuIntPointHint", "Snap to intersections"},
    CommandHintEntry{32850, 32850, "OsnapMenuPerPointHint", "Snap to perpendicular points"},
    CommandHintEntry{32851, 32851, "OsnapMenuNeaPointHint", "Snap to the nearest point"},
    CommandHintEntry{32852, 32852, "OsnapMenuCenPointHint", "Snap to centres"},
    CommandHintEntry{32853, 32853, "OsnapMenuTanPointHint", "Snap to tangent points"},
    CommandHintEntry{32854, 32854, "OsnapMenuQarPointHint", "Snap to quadrant points"},
    CommandHintEntry{32856, 32856, "RasterMenuFilterHint", "Filter the raster"},
    CommandHintEntry{32857, 32857, "VectorMenuUndoHint", "Undo last vector opration"},
    CommandHintEntry{32858, 32858, "VectorMenuRedoHint", "Redo last vector operation"},
    CommandHintEntry{32859, 32859, "RasterMenuUndoHint", "Undo last raster opration"},
    CommandHintEntry{32860, 32860, "RasterMenuRedoHint", "Redo last raster operation"},
    CommandHintEntry{32927, 32927, "MainActResampleHint", "Change the raster resolution"},
    CommandHintEntry{57643, 57643, "MainActUndoHint", "Undoes the last action"},
    CommandHintEntry{57644, 57644, "EditMenuRedoHint", "Redoes the previously undone action"},
    CommandHintEntry{57649, 57649, "WindowMenuArrangeHint", "Arrange the icons of minimized windows"},
    CommandHintEntry{57650, 57650, "WindowMenuCascadeHint", "Cascade the windows"},
    CommandHintEntry{57651, 57651, "WindowMenuTileHint", "Tile the windows"},
    CommandHintEntry{57664, 57664, "MainActAboutHint", "Show the program version"},
    CommandHintEntry{57665, 57665, "MainActExitHint", "Exit Orvo Lineweft"},
};

// Ranges must be ascending and disjoint for the binary search.
static_assert(std::adjacent_find(kHints.begin(), kHints.end(),
                                 [](const CommandHintEntry& a, const CommandHintEntry& b) {
                                     return a.idFirst > a.idLast || a.idLast >= b.idFirst;
                                 }) == kHints.end());

}  // namespace

std::span<const CommandHintEntry> GetCommandHintTable() { return kHints; }

std::string GetCommandHint(unsigned id)
{
    // First entry whose range does not end before id.
    const auto it = std::lower_bound(kHints.begin(), kHints.end(), id,
                                     [](const CommandHintEntry& e, unsigned v) { return e.idLast < v; });
    if (it == kHints.end() || id < it->idFirst)
        return {};
    return GetLanString(it->key, it->englishDefault);
}
