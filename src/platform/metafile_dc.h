#pragma once
// CMetafileDC: the CDC back end that records an Enhanced Metafile.
//
// Between Create and Close every CDC call becomes a metafile record in
// logical coordinates; a player applies the mapping. The frame is given in
// device pixels of the recording's reference device. Pens and brushes are
// turned into metafile objects when selected, and the object a selection
// replaces is deleted, so a recording holds at most one pen and one brush
// of its own at a time.
//
// The recording stays in memory until Close, which writes it whole: a
// failed save leaves no half-written file behind.
//
// Not recorded (the record library has no such record): raster operations
// of pens and stretch modes, which only change the state the getters
// report. Arcs are recorded as Bézier curves in the current arc direction,
// so players that keep no arc direction, or misread large arcs, agree.
#include "platform/dc.h"

#include <cstdio>
#include <memory>
#include <string>

class CMetafileDC : public CDC {
public:
    CMetafileDC();
    ~CMetafileDC() override;

    // Starts a recording whose picture frame is widthPixels x heightPixels
    // device pixels (at least 1 each) with its top left corner at the pixel
    // (left, top); Close writes it to path, through a temporary file beside
    // it. False when a recording is already open or a size is not positive.
    [[nodiscard]] bool Create(const std::string& path, int widthPixels, int heightPixels, int left = 0, int top = 0);
    // The same, with Close writing the bytes to an open stream instead.
    [[nodiscard]] bool Create(std::FILE* file, int widthPixels, int heightPixels, int left = 0, int top = 0);
    // Ends the recording and writes it. False when none was open or the
    // write failed. The DC can record again after it.
    [[nodiscard]] bool Close();
    [[nodiscard]] bool IsRecording() const;

    // CDC. Drawing calls return false while no recording is open.
    CPen* SelectObject(CPen* pen) override;
    CBrush* SelectObject(CBrush* brush) override;

    int SetROP2(int mode) override;
    int GetROP2() const override;
    int SetPolyFillMode(int mode) override;
    int GetPolyFillMode() const override;
    int SetBkMode(int mode) override;
    COLORREF SetBkColor(COLORREF color) override;
    int SetArcDirection(int direction) override;
    int GetArcDirection() const override;
    int SetStretchBltMode(int mode) override;

    int SetMapMode(int mode) override;
    int GetMapMode() const override;
    POINT SetWindowOrg(int x, int y) override;
    POINT GetWindowOrg() const override;
    SIZE SetWindowExt(int cx, int cy) override;
    SIZE GetWindowExt() const override;
    POINT SetViewportOrg(int x, int y) override;
    SIZE SetViewportExt(int cx, int cy) override;
    SIZE GetViewportExt() const override;

    POINT MoveTo(int x, int y) override;
    bool LineTo(int x, int y) override;
    bool Polyline(const POINT* points, int count) override;
    bool Polygon(const POINT* points, int count) override;
    bool PolyPolygon(const POINT* points, const int* counts, int polygonCount) override;
    bool Rectangle(int left, int top, int right, int bottom) override;
    bool Ellipse(int left, int top, int right, int bottom) override;
    bool Arc(int left, int top, int right, int bottom, int x3, int y3, int x4, int y4) override;
    bool ArcTo(int left, int top, int right, int bottom, int x3, int y3, int x4, int y4) override;
    COLORREF SetPixel(int x, int y, COLORREF color) override;
    void FillSolidRect(const RECT& rect, COLORREF color) override;

    bool BeginPath() override;
    bool EndPath() override;
    bool CloseFigure() override;
    bool FillPath() override;
    bool StrokePath() override;
    bool StrokeAndFillPath() override;

    // The source's pixels go in as a 32-bit DIB; a source without pixels is
    // refused.
    bool BitBlt(int x, int y, int width, int height, CDC* source, int sourceX, int sourceY, DWORD rop) override;
    bool StretchBlt(int x, int y, int width, int height, CDC* source, int sourceX, int sourceY, int sourceWidth,
                    int sourceHeight, DWORD rop) override;
    int StretchDIBits(int x, int y, int width, int height, int sourceX, int sourceY, int sourceWidth, int sourceHeight,
                      const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop) override;

private:
    struct Impl;
    std::unique_ptr<Impl> m_Impl;
};
