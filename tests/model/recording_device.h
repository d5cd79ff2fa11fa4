#pragma once
// A drawing device for tests: every slot call is logged as one line of text
// with its arguments, and answers `result`. Rings are written as their
// points, head first, up to the null next pointer or back at the head.
//
//   CRecordingDevice device;
//   entity.Draw(&device);
//   EXPECT_EQ(device.calls[0], "DrawPolyline (0,0 w0) (10,0 w0) color=5 selected=0");
#include <cstdint>
#include <string>
#include <vector>

#include "model/device.h"
#include "platform/number_text.h"

class CRecordingDevice : public CFrDevice {
public:
    std::vector<std::string> calls;
    bool result = true;  // what every drawing slot answers

    // Rings longer than this are cut off (a broken ring must not hang a test).
    static constexpr std::size_t kMaxRingPoints = 100000;

    static std::string Num(double v) { return FormatC("%.10g", v); }
    static std::string Point(const frDoublePoint& p) { return "(" + Num(p.x) + "," + Num(p.y) + ")"; }
    static std::string Vertex(const CVertex& v)
    {
        return "(" + Num(v.x) + "," + Num(v.y) + " w" + Num(v.startWidth) + ")";
    }
    static std::string Ring(const CVertex* head)
    {
        if (head == nullptr)
            return "null";
        std::string text;
        std::size_t n = 0;
        const CVertex* v = head;
        do {
            if (!text.empty())
                text += ' ';
            text += Vertex(*v);
            v = v->next;
        } while (v && v != head && ++n < kMaxRingPoints);
        return text;
    }
    static std::string Color(COLORREF c) { return FormatC("rgb=%06X", static_cast<unsigned>(c)); }
    static std::string Entity(int colorIndex, bool selected)
    {
        return FormatC("color=%d selected=%d", colorIndex, selected ? 1 : 0);
    }

    // Calls whose text starts with the prefix.
    [[nodiscard]] std::vector<std::string> CallsStartingWith(const std::string& prefix) const
    {
        std::vector<std::string> found;
        for (const std::string& c : calls)
            if (c.compare(0, prefix.size(), prefix) == 0)
                found.push_back(c);
        return found;
    }

    void SetXorMode(bool on) override
    {
        calls.push_back(FormatC("SetXorMode %d", on ? 1 : 0));
        CFrDevice::SetXorMode(on);
    }
    bool DrawLine(const CVertex& a, const CVertex& b, COLORREF color) override
    {
        return Log("DrawLine " + Vertex(a) + " " + Vertex(b) + " " + Color(color));
    }
    bool DrawEntityLine(const CVertex& a, const CVertex& b, int colorIndex, bool selected) override
    {
        return Log("DrawEntityLine " + Vertex(a) + " " + Vertex(b) + " " + Entity(colorIndex, selected));
    }
    bool DrawShadowFrame(const CVertex& a, const CVertex& b, COLORREF color) override
    {
        return Log("DrawShadowFrame " + Vertex(a) + " " + Vertex(b) + " " + Color(color));
    }
    bool DrawRectOutline(const frDoublePoint& a, const frDoublePoint& b, COLORREF color) override
    {
        return Log("DrawRectOutline " + Point(a) + " " + Point(b) + " " + Color(color));
    }
    bool DrawRectangle(const frDoublePoint& lowerLeft, const frDoublePoint& upperRight, COLORREF color) override
    {
        return Log("DrawRectangle " + Point(lowerLeft) + " " + Point(upperRight) + " " + Color(color));
    }
    bool DrawHandleFrame(double x1, double y1, double x2, double y2) override
    {
        return Log("DrawHandleFrame " + Num(x1) + " " + Num(y1) + " " + Num(x2) + " " + Num(y2));
    }
    bool DrawPolyline(const CVertex* ring, int colorIndex, bool selected) override
    {
        return Log("DrawPolyline " + Ring(ring) + " " + Entity(colorIndex, selected));
    }
    bool DrawClosedPolyline(const CVertex* ring, int colorIndex, bool selected) override
    {
        return Log("DrawClosedPolyline " + Ring(ring) + " " + Entity(colorIndex, selected));
    }
    bool FillPolygonWinding(const CVertex* ring, int colorIndex, bool selected) override
    {
        return Log("FillPolygonWinding " + Ring(ring) + " " + Entity(colorIndex, selected));
    }
    bool FillPolygon(const CVertex* ring, int colorIndex, bool selected) override
    {
        return Log("FillPolygon " + Ring(ring) + " " + Entity(colorIndex, selected));
    }
    bool FillPolyPolygon(const frDoublePoint* points, const std::int32_t* counts, int outlineCount, int colorIndex,
                         bool selected) override
    {
        std::string text = "FillPolyPolygon";
        std::size_t at = 0;
        for (int i = 0; i < outlineCount; ++i) {
            text += " [";
            for (std::int32_t k = 0; k < counts[i]; ++k)
                text += (k ? " " : "") + Point(points[at++]);
            text += "]";
        }
        return Log(text + " " + Entity(colorIndex, selected));
    }
    bool DrawCrossMarker(double x, double y, COLORREF color) override
    {
        return Log("DrawCrossMarker " + Num(x) + " " + Num(y) + " " + Color(color));
    }
    bool DrawGripBox(double x, double y, bool hot, bool cross) override
    {
        return Log("DrawGripBox " + Num(x) + " " + Num(y) + FormatC(" hot=%d cross=%d", hot ? 1 : 0, cross ? 1 : 0));
    }
    bool DrawDib(double x, double y, const CDib* dib) override
    {
        return Log("DrawDib " + Num(x) + " " + Num(y) + (dib ? " dib" : " null"));
    }
    bool DrawRasterScaled(double x, double y, const CRasterSrc* image, double* cacheScale, std::int32_t* cacheRect,
                          CDib* cache) override
    {
        std::string text = "DrawRasterScaled " + Num(x) + " " + Num(y) + (image ? " image" : " null");
        text += " scale=" + (cacheScale ? Num(*cacheScale) : std::string("null"));
        if (cacheRect)
            text += FormatC(" rect=%d,%d,%d,%d", cacheRect[0], cacheRect[1], cacheRect[2], cacheRect[3]);
        text += cache ? " cache" : " nocache";
        return Log(text);
    }
    bool DrawRaster(double x, double y, const CRasterSrc* image) override
    {
        return Log("DrawRaster " + Num(x) + " " + Num(y) + (image ? " image" : " null"));
    }

private:
    bool Log(std::string text)
    {
        calls.push_back(std::move(text));
        return result;
    }
};
