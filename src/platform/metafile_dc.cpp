// CMetafileDC over libEMF: the one source file that sees the library. It
// declares its own copies of the Windows types and constants, so its header
// is read inside a namespace of its own, after every other header, and its
// colliding macros are dropped.
#include "platform/metafile_dc.h"

#include <stdio.h>
#include <sys/types.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/atomic_file.h"

namespace emf {
#include <libEMF/emf.h>
}
#undef min
#undef max
#undef RGB
#undef GetRValue
#undef GetGValue
#undef GetBValue

namespace {

// Arc angles on the page, in radians.
constexpr double kFullTurn = 6.283185307179586;
constexpr double kQuarterTurn = kFullTurn / 4;

// libEMF keeps its objects in one process-wide table without a lock.
std::mutex& LibraryMutex()
{
    static std::mutex mutex;
    return mutex;
}
using Lock = std::lock_guard<std::mutex>;

// ---- the in-memory stream the library writes to ----------------------------

struct MemorySink {
    std::string bytes;
    std::size_t position = 0;
    bool failed = false;
};

ssize_t SinkWrite(void* cookie, const char* data, size_t size)
{
    auto* sink = static_cast<MemorySink*>(cookie);
    try {
        if (sink->position > sink->bytes.size())
            sink->bytes.resize(sink->position, '\0');
        sink->bytes.replace(sink->position, std::min(size, sink->bytes.size() - sink->position), data, size);
    } catch (const std::bad_alloc&) {
        sink->failed = true;
        return -1;
    }
    sink->position += size;
    return static_cast<ssize_t>(size);
}

int SinkSeek(void* cookie, off64_t* offset, int whence)
{
    auto* sink = static_cast<MemorySink*>(cookie);
    off64_t base = 0;
    if (whence == SEEK_CUR)
        base = static_cast<off64_t>(sink->position);
    if (whence == SEEK_END)
        base = static_cast<off64_t>(sink->bytes.size());
    if (base + *offset < 0)
        return -1;
    sink->position = static_cast<std::size_t>(base + *offset);
    *offset = static_cast<off64_t>(sink->position);
    return 0;
}

int SinkClose(void*) { return 0; }

// ---- geometry of GDI arcs ---------------------------------------------------

struct ArcBox {
    double cx, cy, rx, ry;
};

ArcBox BoxOf(int left, int top, int right, int bottom)
{
    const double l = left, t = top, r = right, b = bottom;
    return {(l + r) / 2, (t + b) / 2, std::fabs(r - l) / 2, std::fabs(b - t) / 2};
}

// Parameter of the ellipse point on the ray from the centre through (x, y).
double RayParameter(const ArcBox& box, int x, int y)
{
    return std::atan2((y - box.cy) * box.rx, (x - box.cx) * box.ry);
}

// The parameter swept from t0 to the ray through (x, y) in the direction:
// counter-clockwise on a y-down page is the falling parameter. Equal rays
// make the whole ellipse, as GDI draws them.
double ArcSweep(const ArcBox& box, double t0, int x, int y, int direction)
{
    double sweep = RayParameter(box, x, y) - t0;
    if (direction == AD_CLOCKWISE) {
        while (sweep <= 0)
            sweep += kFullTurn;
    } else {
        while (sweep >= 0)
            sweep -= kFullTurn;
    }
    return sweep;
}

// Control points of a huge ellipse may lie past the 32-bit range.
emf::POINT Rounded(double x, double y)
{
    constexpr double kLimit = 2147483647.0;
    emf::POINT p;
    p.x = static_cast<emf::LONG>(std::clamp(std::round(x), -kLimit, kLimit));
    p.y = static_cast<emf::LONG>(std::clamp(std::round(y), -kLimit, kLimit));
    return p;
}

// The arc from parameter t0 sweeping by `sweep` as a start point and Bézier
// pieces (three points each); at most a quarter turn per piece keeps them
// within a fraction of a pixel of the ellipse. Players draw these the same
// way, whereas arc records are read differently by some.
std::vector<emf::POINT> ArcBeziers(const ArcBox& box, double t0, double sweep)
{
    const int pieces = std::max(1, static_cast<int>(std::ceil(std::fabs(sweep) / (kQuarterTurn + 1e-9))));
    const double step = sweep / pieces, k = 4.0 / 3.0 * std::tan(step / 4);
    std::vector<emf::POINT> points;
    points.push_back(Rounded(box.cx + box.rx * std::cos(t0), box.cy + box.ry * std::sin(t0)));
    for (int i = 0; i < pieces; ++i) {
        const double a = t0 + i * step, b = a + step;
        const double ax = box.cx + box.rx * std::cos(a), ay = box.cy + box.ry * std::sin(a);
        const double bx = box.cx + box.rx * std::cos(b), by = box.cy + box.ry * std::sin(b);
        points.push_back(Rounded(ax - k * box.rx * std::sin(a), ay + k * box.ry * std::cos(a)));
        points.push_back(Rounded(bx + k * box.rx * std::sin(b), by - k * box.ry * std::cos(b)));
        points.push_back(Rounded(bx, by));
    }
    return points;
}

std::vector<emf::POINT> ToLibrary(const POINT* points, int count)
{
    std::vector<emf::POINT> out(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        out[i].x = points[i].x;
        out[i].y = points[i].y;
    }
    return out;
}

}  // namespace

// ---- state -------------------------------------------------------------------

struct CMetafileDC::Impl {
    emf::HDC dc = 0;
    std::FILE* stream = nullptr;  // the cookie stream the library writes to
    MemorySink sink;
    std::string path;             // Close writes here ...
    std::FILE* target = nullptr;  // ... or to this stream

    CPen* pen = nullptr;
    CBrush* brush = nullptr;
    emf::HGDIOBJ penHandle = 0, brushHandle = 0;  // selected in the recording
    emf::HGDIOBJ ownPen = 0, ownBrush = 0;        // created by us, deleted when replaced

    int rop2 = R2_COPYPEN;
    int fillMode = ALTERNATE;
    int bkMode = OPAQUE;
    COLORREF bkColor = RGB(255, 255, 255);
    int arcDirection = AD_COUNTERCLOCKWISE;
    int stretchMode = BLACKONWHITE;
    int mapMode = MM_TEXT;
    POINT windowOrg, viewportOrg;
    SIZE windowExt{1, 1}, viewportExt{1, 1};
    POINT position;

    bool Recording() const { return dc != 0; }
    // Opens the library's recording on a fresh state.
    bool Start(int widthPixels, int heightPixels, int left, int top);

    void ResetState()
    {
        pen = nullptr;
        brush = nullptr;
        penHandle = brushHandle = ownPen = ownBrush = 0;
        rop2 = R2_COPYPEN;
        fillMode = ALTERNATE;
        bkMode = OPAQUE;
        bkColor = RGB(255, 255, 255);
        arcDirection = AD_COUNTERCLOCKWISE;
        stretchMode = BLACKONWHITE;
        mapMode = MM_TEXT;
        windowOrg = viewportOrg = position = POINT{};
        windowExt = viewportExt = SIZE{1, 1};
    }

    // Ends the library's recording; the bytes stay in the sink.
    bool Finish()
    {
        Lock lock(LibraryMutex());
        bool ok = true;
        if (dc != 0) {
            emf::SelectObject(dc, emf::GetStockObject(BLACK_PEN));
            emf::SelectObject(dc, emf::GetStockObject(WHITE_BRUSH));
            if (ownPen)
                emf::DeleteObject(ownPen);
            if (ownBrush)
                emf::DeleteObject(ownBrush);
            emf::HENHMETAFILE file = emf::CloseEnhMetaFileWithFILE(dc);
            ok = file != 0;
            if (file)
                emf::DeleteEnhMetaFile(file);
            dc = 0;
        }
        if (stream) {
            ok = std::fflush(stream) == 0 && ok;
            ok = std::fclose(stream) == 0 && ok;
            stream = nullptr;
        }
        penHandle = brushHandle = ownPen = ownBrush = 0;
        return ok && !sink.failed;
    }
};

CMetafileDC::CMetafileDC() : m_Impl(std::make_unique<Impl>()) {}

CMetafileDC::~CMetafileDC() { (void)m_Impl->Finish(); }

namespace {

// Millimetres per device pixel of the library's reference device, asked of
// the library once.
void ReferenceMillimetres(double* perPixelX, double* perPixelY)
{
    static double mmX = 0, mmY = 0;
    if (mmX == 0) {
        MemorySink scratch;
        cookie_io_functions_t io{nullptr, SinkWrite, SinkSeek, SinkClose};
        std::FILE* stream = fopencookie(&scratch, "w", io);
        emf::HDC dc = stream ? emf::CreateEnhMetaFileWithFILEA(0, stream, nullptr, nullptr) : 0;
        if (dc != 0) {
            const int resX = emf::GetDeviceCaps(dc, HORZRES), resY = emf::GetDeviceCaps(dc, VERTRES);
            const int sizeX = emf::GetDeviceCaps(dc, HORZSIZE), sizeY = emf::GetDeviceCaps(dc, VERTSIZE);
            if (resX > 0 && resY > 0 && sizeX > 0 && sizeY > 0) {
                mmX = static_cast<double>(sizeX) / resX;
                mmY = static_cast<double>(sizeY) / resY;
            }
            if (emf::HENHMETAFILE file = emf::CloseEnhMetaFileWithFILE(dc))
                emf::DeleteEnhMetaFile(file);
        }
        if (stream)
            std::fclose(stream);
        if (mmX == 0)
            mmX = mmY = 25.4 / 96;  // a common screen, should the library not say
    }
    *perPixelX = mmX;
    *perPixelY = mmY;
}

}  // namespace

bool CMetafileDC::Create(const std::string& path, int widthPixels, int heightPixels, int left, int top)
{
    if (path.empty() || !m_Impl->Start(widthPixels, heightPixels, left, top))
        return false;
    m_Impl->path = path;
    return true;
}

bool CMetafileDC::Create(std::FILE* file, int widthPixels, int heightPixels, int left, int top)
{
    if (file == nullptr || !m_Impl->Start(widthPixels, heightPixels, left, top))
        return false;
    m_Impl->target = file;
    return true;
}

bool CMetafileDC::Impl::Start(int widthPixels, int heightPixels, int left, int top)
{
    if (Recording() || widthPixels < 1 || heightPixels < 1)
        return false;
    ResetState();
    sink = MemorySink{};
    path.clear();
    target = nullptr;
    Lock lock(LibraryMutex());
    double mmX, mmY;
    ReferenceMillimetres(&mmX, &mmY);
    cookie_io_functions_t io{nullptr, SinkWrite, SinkSeek, SinkClose};
    stream = fopencookie(&sink, "w", io);
    if (stream == nullptr)
        return false;
    // The frame counts hundredths of a millimetre; players map it onto the
    // picture, so its corner is where the picture starts.
    emf::RECT frame;
    frame.left = static_cast<emf::LONG>(std::lround(left * mmX * 100));
    frame.top = static_cast<emf::LONG>(std::lround(top * mmY * 100));
    frame.right = static_cast<emf::LONG>(std::lround((static_cast<double>(left) + widthPixels) * mmX * 100));
    frame.bottom = static_cast<emf::LONG>(std::lround((static_cast<double>(top) + heightPixels) * mmY * 100));
    dc = emf::CreateEnhMetaFileWithFILEA(0, stream, &frame, "Lineweft\0Drawing\0");
    if (dc == 0) {
        std::fclose(stream);
        stream = nullptr;
        return false;
    }
    // The defaults recorded outright: some players have other ones (a
    // winding fill would close the holes of polygon sets).
    penHandle = emf::GetStockObject(BLACK_PEN);
    brushHandle = emf::GetStockObject(WHITE_BRUSH);
    emf::SelectObject(dc, penHandle);
    emf::SelectObject(dc, brushHandle);
    emf::SetPolyFillMode(dc, ALTERNATE);
    return true;
}

bool CMetafileDC::Close()
{
    Impl& m = *m_Impl;
    if (!m.Recording())
        return false;
    bool ok = m.Finish();
    if (ok) {
        if (m.target)
            ok = std::fwrite(m.sink.bytes.data(), 1, m.sink.bytes.size(), m.target) == m.sink.bytes.size() &&
                 std::ferror(m.target) == 0;
        else
            ok = WriteFileAtomically(m.path, m.sink.bytes);
    }
    m.sink = MemorySink{};
    m.target = nullptr;
    m.path.clear();
    return ok;
}

bool CMetafileDC::IsRecording() const { return m_Impl->Recording(); }

// ---- objects -----------------------------------------------------------------

CPen* CMetafileDC::SelectObject(CPen* pen)
{
    Impl& m = *m_Impl;
    CPen* previous = m.pen;
    m.pen = pen;
    if (!m.Recording())
        return previous;
    Lock lock(LibraryMutex());
    emf::HGDIOBJ handle = 0;
    if (pen && pen->GetStyle() == PS_SOLID && pen->GetWidth() > 1) {
        // The geometric form says outright what a wide pen means (round
        // ends and joins); some players ignore the width of the plain one.
        emf::LOGBRUSH solid;
        solid.lbStyle = BS_SOLID;
        solid.lbColor = pen->GetColor();
        solid.lbHatch = 0;
        handle = emf::ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_ROUND | PS_JOIN_ROUND, pen->GetWidth(), &solid,
                                   0, nullptr);
    } else if (pen) {
        handle = emf::CreatePen(pen->GetStyle(), pen->GetWidth(), pen->GetColor());
    }
    const bool own = handle != 0;
    if (!own)
        handle = emf::GetStockObject(pen && pen->GetStyle() == PS_NULL ? NULL_PEN : BLACK_PEN);
    emf::SelectObject(m.dc, handle);
    if (m.ownPen)
        emf::DeleteObject(m.ownPen);
    m.ownPen = own ? handle : 0;
    m.penHandle = handle;
    return previous;
}

CBrush* CMetafileDC::SelectObject(CBrush* brush)
{
    Impl& m = *m_Impl;
    CBrush* previous = m.brush;
    m.brush = brush;
    if (!m.Recording())
        return previous;
    Lock lock(LibraryMutex());
    emf::HGDIOBJ handle = 0;
    if (brush && brush->GetStyle() == BS_SOLID) {
        handle = emf::CreateSolidBrush(brush->GetColor());
    } else if (brush && brush->GetStyle() == BS_HATCHED) {
        emf::LOGBRUSH style;
        style.lbStyle = BS_HATCHED;
        style.lbColor = brush->GetColor();
        style.lbHatch = static_cast<decltype(style.lbHatch)>(brush->GetHatch());
        handle = emf::CreateBrushIndirect(&style);
    }
    const bool own = handle != 0;
    if (!own)
        handle = emf::GetStockObject(brush && brush->GetStyle() == BS_NULL ? NULL_BRUSH : WHITE_BRUSH);
    emf::SelectObject(m.dc, handle);
    if (m.ownBrush)
        emf::DeleteObject(m.ownBrush);
    m.ownBrush = own ? handle : 0;
    m.brushHandle = handle;
    return previous;
}

// ---- state ---------------------------------------------------------------------

int CMetafileDC::SetROP2(int mode)
{
    const int previous = m_Impl->rop2;
    if (mode >= R2_BLACK && mode <= R2_WHITE)
        m_Impl->rop2 = mode;
    return previous;
}

int CMetafileDC::GetROP2() const { return m_Impl->rop2; }

int CMetafileDC::SetPolyFillMode(int mode)
{
    Impl& m = *m_Impl;
    const int previous = m.fillMode;
    if (mode != ALTERNATE && mode != WINDING)
        return previous;
    m.fillMode = mode;
    if (m.Recording()) {
        Lock lock(LibraryMutex());
        emf::SetPolyFillMode(m.dc, mode);
    }
    return previous;
}

int CMetafileDC::GetPolyFillMode() const { return m_Impl->fillMode; }

int CMetafileDC::SetBkMode(int mode)
{
    Impl& m = *m_Impl;
    const int previous = m.bkMode;
    if (mode != TRANSPARENT && mode != OPAQUE)
        return previous;
    m.bkMode = mode;
    if (m.Recording()) {
        Lock lock(LibraryMutex());
        emf::SetBkMode(m.dc, mode);
    }
    return previous;
}

COLORREF CMetafileDC::SetBkColor(COLORREF color)
{
    Impl& m = *m_Impl;
    const COLORREF previous = m.bkColor;
    m.bkColor = color;
    if (m.Recording()) {
        Lock lock(LibraryMutex());
        emf::SetBkColor(m.dc, color);
    }
    return previous;
}

int CMetafileDC::SetArcDirection(int direction)
{
    const int previous = m_Impl->arcDirection;
    if (direction == AD_COUNTERCLOCKWISE || direction == AD_CLOCKWISE)
        m_Impl->arcDirection = direction;
    return previous;
}

int CMetafileDC::GetArcDirection() const { return m_Impl->arcDirection; }

int CMetafileDC::SetStretchBltMode(int mode)
{
    const int previous = m_Impl->stretchMode;
    if (mode >= BLACKONWHITE && mode <= HALFTONE)
        m_Impl->stretchMode = mode;
    return previous;
}

// ---- mapping -------------------------------------------------------------------

int CMetafileDC::SetMapMode(int mode)
{
    Impl& m = *m_Impl;
    if (mode != MM_TEXT && mode != MM_ANISOTROPIC)
        return 0;
    const int previous = m.mapMode;
    m.mapMode = mode;
    if (mode == MM_TEXT)
        m.windowExt = m.viewportExt = SIZE{1, 1};
    if (m.Recording()) {
        Lock lock(LibraryMutex());
        emf::SetMapMode(m.dc, mode);
    }
    return previous;
}

int CMetafileDC::GetMapMode() const { return m_Impl->mapMode; }

POINT CMetafileDC::SetWindowOrg(int x, int y)
{
    Impl& m = *m_Impl;
    const POINT previous = m.windowOrg;
    m.windowOrg = POINT{x, y};
    if (m.Recording()) {
        Lock lock(LibraryMutex());
        emf::SetWindowOrgEx(m.dc, x, y, nullptr);
    }
    return previous;
}

POINT CMetafileDC::GetWindowOrg() const { return m_Impl->windowOrg; }

SIZE CMetafileDC::SetWindowExt(int cx, int cy)
{
    Impl& m = *m_Impl;
    const SIZE previous = m.windowExt;
    if (m.mapMode != MM_ANISOTROPIC || cx == 0 || cy == 0)
        return previous;
    m.windowExt = SIZE{cx, cy};
    if (m.Recording()) {
        Lock lock(LibraryMutex());
        emf::SetWindowExtEx(m.dc, cx, cy, nullptr);
    }
    return previous;
}

SIZE CMetafileDC::GetWindowExt() const { return m_Impl->windowExt; }

POINT CMetafileDC::SetViewportOrg(int x, int y)
{
    Impl& m = *m_Impl;
    const POINT previous = m.viewportOrg;
    m.viewportOrg = POINT{x, y};
    if (m.Recording()) {
        Lock lock(LibraryMutex());
        emf::SetViewportOrgEx(m.dc, x, y, nullptr);
    }
    return previous;
}

SIZE CMetafileDC::SetViewportExt(int cx, int cy)
{
    Impl& m = *m_Impl;
    const SIZE previous = m.viewportExt;
    if (m.mapMode != MM_ANISOTROPIC || cx == 0 || cy == 0)
        return previous;
    m.viewportExt = SIZE{cx, cy};
    if (m.Recording()) {
        Lock lock(LibraryMutex());
        emf::SetViewportExtEx(m.dc, cx, cy, nullptr);
    }
    return previous;
}

SIZE CMetafileDC::GetViewportExt() const { return m_Impl->viewportExt; }

// ---- lines and figures -----------------------------------------------------------

POINT CMetafileDC::MoveTo(int x, int y)
{
    Impl& m = *m_Impl;
    const POINT previous = m.position;
    m.position = POINT{x, y};
    if (m.Recording()) {
        Lock lock(LibraryMutex());
        emf::MoveToEx(m.dc, x, y, nullptr);
    }
    return previous;
}

bool CMetafileDC::LineTo(int x, int y)
{
    Impl& m = *m_Impl;
    if (!m.Recording())
        return false;
    m.position = POINT{x, y};
    Lock lock(LibraryMutex());
    return emf::LineTo(m.dc, x, y) != 0;
}

bool CMetafileDC::Polyline(const POINT* points, int count)
{
    Impl& m = *m_Impl;
    if (!m.Recording() || points == nullptr || count < 2)
        return false;
    const std::vector<emf::POINT> list = ToLibrary(points, count);
    Lock lock(LibraryMutex());
    return emf::Polyline(m.dc, list.data(), count) != 0;
}

bool CMetafileDC::Polygon(const POINT* points, int count)
{
    Impl& m = *m_Impl;
    if (!m.Recording() || points == nullptr || count < 2)
        return false;
    const std::vector<emf::POINT> list = ToLibrary(points, count);
    Lock lock(LibraryMutex());
    return emf::Polygon(m.dc, list.data(), count) != 0;
}

bool CMetafileDC::PolyPolygon(const POINT* points, const int* counts, int polygonCount)
{
    Impl& m = *m_Impl;
    if (!m.Recording() || points == nullptr || counts == nullptr || polygonCount < 1)
        return false;
    long long total = 0;
    std::vector<emf::INT> sizes(static_cast<std::size_t>(polygonCount));
    for (int i = 0; i < polygonCount; ++i) {
        if (counts[i] < 2)
            return false;
        sizes[i] = counts[i];
        total += counts[i];
    }
    if (total > INT32_MAX)
        return false;
    const std::vector<emf::POINT> list = ToLibrary(points, static_cast<int>(total));
    Lock lock(LibraryMutex());
    return emf::PolyPolygon(m.dc, list.data(), sizes.data(), static_cast<emf::UINT>(polygonCount)) != 0;
}

bool CMetafileDC::Rectangle(int left, int top, int right, int bottom)
{
    Impl& m = *m_Impl;
    if (!m.Recording())
        return false;
    Lock lock(LibraryMutex());
    return emf::Rectangle(m.dc, std::min(left, right), std::min(top, bottom), std::max(left, right),
                          std::max(top, bottom)) != 0;
}

bool CMetafileDC::Ellipse(int left, int top, int right, int bottom)
{
    Impl& m = *m_Impl;
    if (!m.Recording())
        return false;
    Lock lock(LibraryMutex());
    return emf::Ellipse(m.dc, std::min(left, right), std::min(top, bottom), std::max(left, right),
                        std::max(top, bottom)) != 0;
}

bool CMetafileDC::Arc(int left, int top, int right, int bottom, int x3, int y3, int x4, int y4)
{
    Impl& m = *m_Impl;
    if (!m.Recording())
        return false;
    const ArcBox box = BoxOf(left, top, right, bottom);
    const double t0 = RayParameter(box, x3, y3);
    const std::vector<emf::POINT> curve = ArcBeziers(box, t0, ArcSweep(box, t0, x4, y4, m.arcDirection));
    Lock lock(LibraryMutex());
    return emf::PolyBezier(m.dc, curve.data(), static_cast<emf::DWORD>(curve.size())) != 0;
}

bool CMetafileDC::ArcTo(int left, int top, int right, int bottom, int x3, int y3, int x4, int y4)
{
    Impl& m = *m_Impl;
    if (!m.Recording())
        return false;
    const ArcBox box = BoxOf(left, top, right, bottom);
    const double t0 = RayParameter(box, x3, y3);
    const std::vector<emf::POINT> curve = ArcBeziers(box, t0, ArcSweep(box, t0, x4, y4, m.arcDirection));
    m.position = POINT{curve.back().x, curve.back().y};
    Lock lock(LibraryMutex());
    const bool line = emf::LineTo(m.dc, curve.front().x, curve.front().y) != 0;
    return emf::PolyBezierTo(m.dc, curve.data() + 1, static_cast<emf::DWORD>(curve.size() - 1)) != 0 && line;
}

COLORREF CMetafileDC::SetPixel(int x, int y, COLORREF color)
{
    Impl& m = *m_Impl;
    if (!m.Recording())
        return 0xFFFFFFFF;
    Lock lock(LibraryMutex());
    emf::SetPixel(m.dc, x, y, color);
    return color;
}

void CMetafileDC::FillSolidRect(const RECT& rect, COLORREF color)
{
    Impl& m = *m_Impl;
    if (!m.Recording())
        return;
    // A polygon without an edge covers exactly the rectangle without its
    // right and bottom edges, on GDI and on vector players alike.
    Lock lock(LibraryMutex());
    emf::HGDIOBJ fill = emf::CreateSolidBrush(color);
    if (fill == 0)
        return;
    emf::SelectObject(m.dc, emf::GetStockObject(NULL_PEN));
    emf::SelectObject(m.dc, fill);
    emf::POINT corners[4];
    corners[0].x = corners[3].x = rect.left;
    corners[1].x = corners[2].x = rect.right;
    corners[0].y = corners[1].y = rect.top;
    corners[2].y = corners[3].y = rect.bottom;
    emf::Polygon(m.dc, corners, 4);
    emf::SelectObject(m.dc, m.penHandle);
    emf::SelectObject(m.dc, m.brushHandle);
    emf::DeleteObject(fill);
}

// ---- paths -----------------------------------------------------------------------

bool CMetafileDC::BeginPath()
{
    if (!m_Impl->Recording())
        return false;
    Lock lock(LibraryMutex());
    return emf::BeginPath(m_Impl->dc) != 0;
}

bool CMetafileDC::EndPath()
{
    if (!m_Impl->Recording())
        return false;
    Lock lock(LibraryMutex());
    return emf::EndPath(m_Impl->dc) != 0;
}

bool CMetafileDC::CloseFigure()
{
    if (!m_Impl->Recording())
        return false;
    Lock lock(LibraryMutex());
    return emf::CloseFigure(m_Impl->dc) != 0;
}

bool CMetafileDC::FillPath()
{
    if (!m_Impl->Recording())
        return false;
    Lock lock(LibraryMutex());
    return emf::FillPath(m_Impl->dc) != 0;
}

bool CMetafileDC::StrokePath()
{
    if (!m_Impl->Recording())
        return false;
    Lock lock(LibraryMutex());
    return emf::StrokePath(m_Impl->dc) != 0;
}

bool CMetafileDC::StrokeAndFillPath()
{
    if (!m_Impl->Recording())
        return false;
    Lock lock(LibraryMutex());
    return emf::StrokeAndFillPath(m_Impl->dc) != 0;
}

// ---- blits -----------------------------------------------------------------------

bool CMetafileDC::BitBlt(int x, int y, int width, int height, CDC* source, int sourceX, int sourceY, DWORD rop)
{
    return StretchBlt(x, y, width, height, source, sourceX, sourceY, width, height, rop);
}

bool CMetafileDC::StretchBlt(int x, int y, int width, int height, CDC* source, int sourceX, int sourceY,
                             int sourceWidth, int sourceHeight, DWORD rop)
{
    if (source == nullptr || !m_Impl->Recording())
        return false;
    int w = 0, h = 0;
    const std::uint32_t* pixels = source->GetPixels(&w, &h);
    if (pixels == nullptr || w <= 0 || h <= 0)
        return false;
    // The canvas words are the 32-bit DIB's blue, green, red, 0 bytes; the
    // DIB keeps its rows bottom-up.
    std::vector<std::uint32_t> rows;
    try {
        rows.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int row = 0; row < h; ++row)
        std::memcpy(&rows[static_cast<std::size_t>(h - 1 - row) * w], pixels + static_cast<std::size_t>(row) * w,
                    static_cast<std::size_t>(w) * 4);
    const BITMAPINFO info = Make32BitInfo(w, h);
    const int fromBottom = h - sourceY - sourceHeight;
    return StretchDIBits(x, y, width, height, sourceX, fromBottom, sourceWidth, sourceHeight, rows.data(), &info,
                         DIB_RGB_COLORS, rop) != 0;
}

int CMetafileDC::StretchDIBits(int x, int y, int width, int height, int sourceX, int sourceY, int sourceWidth,
                               int sourceHeight, const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop)
{
    Impl& m = *m_Impl;
    if (!m.Recording() || bits == nullptr || info == nullptr || usage != DIB_RGB_COLORS)
        return 0;
    const BITMAPINFOHEADER& head = info->bmiHeader;
    const int depth = head.biBitCount;
    if (head.biSize < sizeof(BITMAPINFOHEADER) || head.biWidth <= 0 || head.biHeight <= 0 ||
        head.biCompression != BI_RGB || (depth != 1 && depth != 4 && depth != 8 && depth != 24 && depth != 32))
        return 0;
    // Both headers are the same 40 bytes, colour table behind.
    static_assert(sizeof(BITMAPINFOHEADER) == sizeof(emf::BITMAPINFOHEADER));
    Lock lock(LibraryMutex());
    const int drawn = emf::StretchDIBits(m.dc, x, y, width, height, sourceX, sourceY, sourceWidth, sourceHeight, bits,
                                         reinterpret_cast<const emf::BITMAPINFO*>(info), usage, rop);
    return drawn > 0 ? std::abs(sourceHeight) : 0;
}
