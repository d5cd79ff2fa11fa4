// Raster editing: the brush stroke, the window and polygon fill, their undo
// blocks, and the raster entity's world-coordinate front ends.
#include "raster/raster_edit.h"

#include "raster/packed_bits.h"
#include "raster/pixel_format.h"
#include "raster/pixel_math.h"
#include "raster/raster_entity.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

namespace {

BYTE* RowBytesAt(CRasterSrc& image, int y, int x) { return image.GetRow(y) + PixelByteOffset(x, image.GetBitCount()); }

bool IsEditedDepth(int bitCount) { return PixelsToBytes(8, bitCount) != 0; }

// A new record goes on the list before its edit takes effect, so that no
// edit stands without its undo. Without a list the edit is simply made.
template <class Apply>
bool CommitEdit(CUndoList* undoList, std::unique_ptr<CUndoItem> item, Apply apply)
{
    if (undoList && !undoList->PushItem(std::move(item))) {
        ShowNoMemoryMessage();
        return false;
    }
    apply();
    return true;
}

constexpr std::int64_t kIntMin = std::numeric_limits<int>::min();
constexpr std::int64_t kIntMax = std::numeric_limits<int>::max();

int ClampBrush(int halfSize) { return std::clamp(halfSize, 1, kMaxBrushHalfSize); }

}  // namespace

std::size_t PixelByteOffset(int x, int bitCount)
{
    return static_cast<std::size_t>(static_cast<std::int64_t>(x) * bitCount / 8);
}

std::size_t PixelSpanBytes(int x, int n, int bitCount)
{
    const std::int64_t end = (static_cast<std::int64_t>(x) + n) * bitCount;
    return static_cast<std::size_t>((end + 7) / 8) - PixelByteOffset(x, bitCount);
}

// ---- fill pattern ---------------------------------------------------------

CFillPattern CFillPattern::FromSettings(int bitCount, const BYTE* colour)
{
    CFillPattern pattern;
    pattern.m_bitCount = bitCount;
    const BYTE blue = colour[0], green = colour[1], red = colour[2], index = colour[3];
    switch (bitCount) {
    case 1: pattern.m_bytes[0] = index ? 0xFF : 0x00; break;
    case 4: pattern.m_bytes[0] = static_cast<BYTE>(index & 0x0F); break;
    case 8: pattern.m_bytes[0] = index; break;
    case 16: {
        Store555(pattern.m_bytes, 0, Pack555(red, green, blue));
        break;
    }
    default:
        pattern.m_bytes[0] = blue;
        pattern.m_bytes[1] = green;
        pattern.m_bytes[2] = red;
        pattern.m_bytes[3] = 0;
        break;
    }
    return pattern;
}

CFillPattern CFillPattern::FromValue(int bitCount, DWORD colour)
{
    BYTE bytes[4] = {};
    if (bitCount <= 8) {
        bytes[3] = bitCount == 1 ? (colour != 0 ? 1 : 0) : static_cast<BYTE>(colour);
    } else {
        bytes[0] = static_cast<BYTE>(colour >> 16);
        bytes[1] = static_cast<BYTE>(colour >> 8);
        bytes[2] = static_cast<BYTE>(colour);
    }
    return FromSettings(bitCount, bytes);
}

void CFillPattern::Paint(BYTE* bytes, int x, int n) const
{
    if (n <= 0)
        return;
    switch (m_bitCount) {
    case 1: FillPixels(bytes, x & 7, (x & 7) + n, m_bytes[0] != 0); return;
    case 4: {
        const BYTE v = m_bytes[0];
        int q = x & 1;  // nibble of bytes[0] that pixel x is in
        const int end = q + n;
        if (q == 1) {
            bytes[0] = static_cast<BYTE>((bytes[0] & 0xF0) | v);
            ++q;
        }
        const int whole = (end - q) / 2;
        std::memset(bytes + q / 2, v * 0x11, static_cast<std::size_t>(whole));
        q += 2 * whole;
        if (q < end)
            bytes[q / 2] = static_cast<BYTE>((bytes[q / 2] & 0x0F) | (v << 4));
        return;
    }
    case 8: std::memset(bytes, m_bytes[0], static_cast<std::size_t>(n)); return;
    default: {
        const std::size_t step = static_cast<std::size_t>(m_bitCount / 8);
        for (int i = 0; i < n; ++i, bytes += step)
            std::memcpy(bytes, m_bytes, step);
        return;
    }
    }
}

// ---- brush buffers --------------------------------------------------------

bool CRasterBuffer::Create(int x, int y, int width, int height, int bitCount)
{
    m_bytes.reset();
    if (x < 0 || y < 0 || width <= 0 || height <= 0 || !IsEditedDepth(bitCount))
        return false;
    m_x = x;
    m_y = y;
    m_width = width;
    m_height = height;
    m_bitCount = bitCount;
    m_bytes.reset(new (std::nothrow) BYTE[GetRowBytes() * static_cast<std::size_t>(height)]);
    return m_bytes != nullptr;
}

bool CRasterBuffer::Fits(const CRasterSrc& image) const
{
    return m_bytes && !image.IsEmpty() && image.GetBitCount() == m_bitCount &&
           static_cast<std::int64_t>(m_x) + m_width <= image.GetWidth() &&
           static_cast<std::int64_t>(m_y) + m_height <= image.GetHeight();
}

void CRasterBuffer::Apply(CRasterSrc& image, const CFillPattern& pattern)
{
    if (!Fits(image))
        return;
    const std::size_t rowBytes = GetRowBytes();
    for (int r = 0; r < m_height; ++r) {
        BYTE* row = RowBytesAt(image, m_y + r, m_x);
        std::memcpy(m_bytes.get() + static_cast<std::size_t>(r) * rowBytes, row, rowBytes);
        pattern.Paint(row, m_x, m_width);
    }
}

bool CRasterBuffer::SwapWith(CRasterSrc& image)
{
    if (!Fits(image))
        return false;
    const std::size_t rowBytes = GetRowBytes();
    for (int r = 0; r < m_height; ++r) {
        BYTE* row = RowBytesAt(image, m_y + r, m_x);
        std::swap_ranges(row, row + rowBytes, m_bytes.get() + static_cast<std::size_t>(r) * rowBytes);
    }
    return true;
}

// ---- fill runs ------------------------------------------------------------

bool CRasterScanBuffer::Prepare(const std::vector<CScanLine>& spans, int bitCount)
{
    m_runs.clear();
    m_applied = false;
    m_bitCount = bitCount;
    if (!IsEditedDepth(bitCount))
        return false;
    try {
        m_runs.resize(spans.size());
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (std::size_t i = 0; i < spans.size(); ++i) {
        const CScanLine& span = spans[i];
        CRasterScanRun& run = m_runs[i];
        run.x = span.x1;
        run.y = span.y;
        run.length = span.x2 - span.x1;
        run.bytes.reset(new (std::nothrow) BYTE[PixelSpanBytes(run.x, run.length, bitCount)]);
        if (run.length <= 0 || !run.bytes) {
            m_runs.clear();
            return false;
        }
    }
    return true;
}

bool CRasterScanBuffer::Fits(const CRasterSrc& image) const
{
    if (image.IsEmpty() || image.GetBitCount() != m_bitCount)
        return false;
    return std::all_of(m_runs.begin(), m_runs.end(), [&](const CRasterScanRun& run) {
        return run.x >= 0 && run.y >= 0 && run.y < image.GetHeight() &&
               static_cast<std::int64_t>(run.x) + run.length <= image.GetWidth();
    });
}

void CRasterScanBuffer::Apply(CRasterSrc& image, const CFillPattern& pattern)
{
    if (!Fits(image))
        return;
    for (CRasterScanRun& run : m_runs) {
        BYTE* row = RowBytesAt(image, run.y, run.x);
        std::memcpy(run.bytes.get(), row, PixelSpanBytes(run.x, run.length, m_bitCount));
        pattern.Paint(row, run.x, run.length);
    }
    m_applied = true;
}

bool CRasterScanBuffer::SwapWith(CRasterSrc& image)
{
    if (!Fits(image))
        return false;
    auto swapRun = [&](CRasterScanRun& run) {
        BYTE* row = RowBytesAt(image, run.y, run.x);
        std::swap_ranges(row, row + PixelSpanBytes(run.x, run.length, m_bitCount), run.bytes.get());
    };
    // Each run kept the byte as the runs before it had left it.
    if (m_applied)
        std::for_each(m_runs.rbegin(), m_runs.rend(), swapRun);
    else
        std::for_each(m_runs.begin(), m_runs.end(), swapRun);
    m_applied = !m_applied;
    return true;
}

// ---- brush path -----------------------------------------------------------

std::vector<CPoint> CollectBrushPoints(CPoint from, CPoint to, int halfWidth, int halfHeight, int width, int height)
{
    std::vector<CPoint> points;
    const CLineSteps line(from, to);
    const std::int64_t n = line.GetCount();
    if (n == 0 || halfWidth <= 0 || halfHeight <= 0)
        return points;
    // The brush at c meets the image when c lies in (-half, size + half);
    // x and y each move one way, so the steps that qualify form one range.
    std::int64_t first = 1;
    std::int64_t end = n + 1;
    auto narrow = [&](auto coordinate, std::int64_t delta, std::int64_t half, std::int64_t size) {
        const std::int64_t lo = -half;
        const std::int64_t hi = size + half;
        if (delta >= 0) {
            first = CLineSteps::FirstWhere(first, end, [&](std::int64_t i) { return coordinate(i) > lo; });
            end = CLineSteps::FirstWhere(first, end, [&](std::int64_t i) { return coordinate(i) >= hi; });
        } else {
            first = CLineSteps::FirstWhere(first, end, [&](std::int64_t i) { return coordinate(i) < hi; });
            end = CLineSteps::FirstWhere(first, end, [&](std::int64_t i) { return coordinate(i) <= lo; });
        }
    };
    narrow([&](std::int64_t i) { return line.X(i); }, line.GetDx(), halfWidth, width);
    narrow([&](std::int64_t i) { return line.Y(i); }, line.GetDy(), halfHeight, height);
    if (first < end)
        points.reserve(static_cast<std::size_t>(end - first));
    for (std::int64_t i = first; i < end; ++i)
        points.push_back(CPoint{static_cast<int>(line.X(i)), static_cast<int>(line.Y(i))});
    return points;
}

// ---- the image's edits ----------------------------------------------------

void CRasterSrc::SetEraseMode(const char* undoName, const CBrushSize* brush)
{
    m_editSettings.mode = CRasterEditSettings::kModeErase;
    std::memcpy(m_editSettings.colour, m_background, sizeof m_editSettings.colour);
    if (undoName)
        m_editSettings.undoName = undoName;
    if (brush) {
        m_editSettings.brushHalfWidth = ClampBrush(brush->halfWidth);
        m_editSettings.brushHalfHeight = ClampBrush(brush->halfHeight);
    }
}

void CRasterSrc::SetFillMode(const char* undoName, const BYTE* colour, const CBrushSize* brush)
{
    m_editSettings.mode = CRasterEditSettings::kModeFill;
    if (colour)
        std::memcpy(m_editSettings.colour, colour, sizeof m_editSettings.colour);
    if (undoName)
        m_editSettings.undoName = undoName;
    if (brush) {
        m_editSettings.brushHalfWidth = ClampBrush(brush->halfWidth);
        m_editSettings.brushHalfHeight = ClampBrush(brush->halfHeight);
    }
}

bool CRasterSrc::BeginErase(int x, int y)
{
    // A stroke that never ended is taken back with its record, so that no
    // pixels stay changed without an undo.
    if (m_localUndo)
        (void)m_localUndo->Undo();
    m_localUndo.reset();
    if (!m_bitmap)
        return false;
    m_localUndo.reset(new (std::nothrow) CLocalRasterUndoItem(m_editSettings.undoName, this));
    if (!m_localUndo) {
        ShowNoMemoryMessage();
        return false;
    }
    m_lastBrushX = x;
    m_lastBrushY = y;
    return EraseTo(x, y);
}

bool CRasterSrc::EraseTo(int x, int y)
{
    CLocalRasterUndoItem* item = m_localUndo.get();
    if (!item || !m_bitmap)
        return false;
    const std::int64_t halfWidth = m_editSettings.brushHalfWidth;
    const std::int64_t halfHeight = m_editSettings.brushHalfHeight;
    try {
        std::vector<CPoint> centres;
        if (x == m_lastBrushX && y == m_lastBrushY) {
            // A click paints its point once; staying put paints nothing more.
            if (item->GetBlockCount() != 0)
                return true;
            centres.push_back(CPoint{x, y});
        } else {
            centres =
                CollectBrushPoints(CPoint{m_lastBrushX, m_lastBrushY}, CPoint{x, y}, m_editSettings.brushHalfWidth,
                                   m_editSettings.brushHalfHeight, m_width, m_height);
        }
        // Every block of this step is allocated before any pixel changes.
        std::vector<std::unique_ptr<CRasterBuffer>> buffers;
        buffers.reserve(centres.size());
        for (const CPoint& p : centres) {
            const std::int64_t left = std::max<std::int64_t>(p.x - halfWidth, 0);
            const std::int64_t right = std::min<std::int64_t>(p.x + halfWidth, m_width);
            const std::int64_t top = std::max<std::int64_t>(p.y - halfHeight, 0);
            const std::int64_t bottom = std::min<std::int64_t>(p.y + halfHeight, m_height);
            if (left >= right || top >= bottom)
                continue;
            std::unique_ptr<CRasterBuffer> buffer(new (std::nothrow) CRasterBuffer);
            if (!buffer ||
                !buffer->Create(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                                static_cast<int>(bottom - top), m_bitCount)) {
                ShowNoMemoryMessage();
                return false;
            }
            buffers.push_back(std::move(buffer));
        }
        const CFillPattern pattern = CFillPattern::FromSettings(m_bitCount, m_editSettings.colour);
        for (std::unique_ptr<CRasterBuffer>& buffer : buffers) {
            CRasterBuffer* block = buffer.get();
            if (!item->AddBlock(std::move(buffer))) {
                ShowNoMemoryMessage();
                return false;
            }
            block->Apply(*this, pattern);
        }
    } catch (const std::bad_alloc&) {
        ShowNoMemoryMessage();
        return false;
    }
    m_lastBrushX = x;
    m_lastBrushY = y;
    return true;
}

bool CRasterSrc::EndErase(CUndoList* undoList)
{
    std::unique_ptr<CLocalRasterUndoItem> item = std::move(m_localUndo);
    if (!item || item->GetBlockCount() == 0)
        return false;
    if (!undoList)
        return true;
    // The stroke is already on the image; it is taken back while its record
    // goes on the list, so that a list that cannot take it leaves no edit
    // without its undo.
    CLocalRasterUndoItem* record = item.get();
    if (!record->Undo())
        return false;
    if (!undoList->PushItem(std::move(item))) {
        ShowNoMemoryMessage();
        return false;
    }
    return record->Redo();
}

bool CRasterSrc::FillPolygon(CUndoList* undoList, std::span<const CPoint> points, DWORD colour, const CPoint* offset)
{
    if (!m_bitmap || points.size() < 3)
        return false;
    try {
        std::vector<CPoint> polygon(points.begin(), points.end());
        if (offset) {
            for (CPoint& p : polygon) {
                p.x = static_cast<int>(
                    std::clamp<std::int64_t>(static_cast<std::int64_t>(p.x) + offset->x, kIntMin, kIntMax));
                p.y = static_cast<int>(
                    std::clamp<std::int64_t>(static_cast<std::int64_t>(p.y) + offset->y, kIntMin, kIntMax));
            }
        }
        const int orientation = PolygonTurnAtTop(polygon);
        int ymin = 0;
        int ymax = 0;
        if (orientation == 0 || !PolygonBounds(polygon, ymin, ymax))
            return false;
        CScanLineTable table;
        if (!table.Init(ymin, ymax, m_width, m_height))
            return false;
        table.AddPolygon(polygon, orientation);
        table.BuildScanLines();
        if (table.GetScanLines().empty())
            return false;

        std::unique_ptr<CRasterScanBuffer> runs(new (std::nothrow) CRasterScanBuffer);
        std::unique_ptr<CRasterScanLineUndoItem> item(new (std::nothrow)
                                                          CRasterScanLineUndoItem(m_editSettings.undoName, this));
        if (!runs || !item || !runs->Prepare(table.GetScanLines(), m_bitCount)) {
            ShowNoMemoryMessage();
            return false;
        }
        CRasterScanBuffer* block = runs.get();
        if (!item->AddBlock(std::move(runs))) {
            ShowNoMemoryMessage();
            return false;
        }
        const CFillPattern pattern = CFillPattern::FromValue(m_bitCount, colour);
        return CommitEdit(undoList, std::move(item), [&] { block->Apply(*this, pattern); });
    } catch (const std::bad_alloc&) {
        ShowNoMemoryMessage();
        return false;
    }
}

// ---- world front ends -----------------------------------------------------

bool CRaster::BeginErase(double x, double y)
{
    InvalidateDisplayCache();
    return m_Image.BeginErase(WorldToColumn(x), WorldToRow(y));
}

bool CRaster::EraseTo(double x, double y)
{
    InvalidateDisplayCache();
    return m_Image.EraseTo(WorldToColumn(x), WorldToRow(y));
}

bool CRaster::EndErase(CUndoList* undoList)
{
    InvalidateDisplayCache();
    return m_Image.EndErase(undoList);
}

bool CRaster::FillPolygon(CUndoList* undoList, std::span<const frDoublePoint> points, DWORD colour)
{
    InvalidateDisplayCache();
    try {
        std::vector<CPoint> pixels;
        pixels.reserve(points.size());
        for (const frDoublePoint& p : points)
            pixels.push_back(CPoint{WorldToColumn(p.x), WorldToRow(p.y)});
        return m_Image.FillPolygon(undoList, pixels, colour);
    } catch (const std::bad_alloc&) {
        ShowNoMemoryMessage();
        return false;
    }
}
