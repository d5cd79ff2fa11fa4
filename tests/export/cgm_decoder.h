#pragma once
// A small reader of the binary CGM the export writes, written from the
// encoding rules rather than from the writer: every element's header, its
// short or long form and partitions, and the drawing elements turned into
// shapes in VDC. No CGM reader comes with the system, so the tests read
// the files with this one.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace export_test {

struct CgmElement {
    int cls = 0, id = 0;
    bool longForm = false;
    int partitions = 1;
    std::string params;  // all partitions joined, without the pad byte
};

// Walks the elements; false (with the reason) on a length that runs past
// the end, or on a long element whose partitions do not end.
inline bool WalkCgm(const std::string& bytes, std::vector<CgmElement>* elements, std::string* why = nullptr)
{
    auto word = [&](std::size_t at) {
        return static_cast<unsigned>(static_cast<unsigned char>(bytes[at])) << 8 |
               static_cast<unsigned char>(bytes[at + 1]);
    };
    auto fail = [&](const std::string& text) {
        if (why)
            *why = text;
        return false;
    };
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (at + 2 > bytes.size())
            return fail("half a header word at the end");
        const unsigned head = word(at);
        at += 2;
        CgmElement e;
        e.cls = static_cast<int>(head >> 12);
        e.id = static_cast<int>(head >> 5 & 0x7F);
        unsigned length = head & 0x1F;
        if (length != 31) {
            if (at + length > bytes.size())
                return fail("a short element runs past the end");
            e.params = bytes.substr(at, length);
            at += length + length % 2;
        } else {
            e.longForm = true;
            e.partitions = 0;
            for (bool more = true; more;) {
                if (at + 2 > bytes.size())
                    return fail("a long element lacks its length word");
                const unsigned lw = word(at);
                at += 2;
                more = (lw & 0x8000) != 0;
                length = lw & 0x7FFF;
                if (at + length > bytes.size())
                    return fail("a partition runs past the end");
                e.params += bytes.substr(at, length);
                at += length + length % 2;
                ++e.partitions;
            }
        }
        elements->push_back(std::move(e));
    }
    return true;
}

inline int CgmInt16(const std::string& params, std::size_t index)
{
    const auto hi = static_cast<unsigned char>(params[2 * index]),
               lo = static_cast<unsigned char>(params[2 * index + 1]);
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(hi << 8 | lo));
}

struct CgmPoint {
    double x = 0, y = 0;
};

// One shape of the picture in VDC: a polyline or polygon (points), a
// polygon set (points, each outline ending before an index of `ends`), a
// circle (centre, radius) or a counter-clockwise arc (centre, radius, start
// and end angle in radians).
struct CgmShape {
    enum Kind { kPolyline, kPolygon, kPolygonSet, kCircle, kArc } kind = kPolyline;
    std::vector<CgmPoint> points;
    std::vector<std::size_t> ends;
    CgmPoint centre;
    double radius = 0, start = 0, end = 0;
    bool filled = false;
};

struct CgmPicture {
    int extent[4] = {0, 0, 0, 0};  // x0, y0, x1, y1
    std::vector<CgmShape> shapes;
};

inline bool DecodeCgm(const std::string& bytes, CgmPicture* picture, std::string* why = nullptr)
{
    std::vector<CgmElement> elements;
    if (!WalkCgm(bytes, &elements, why))
        return false;
    bool solid = false;
    for (const CgmElement& e : elements) {
        const std::size_t words = e.params.size() / 2;
        auto point = [&](std::size_t i) {
            return CgmPoint{static_cast<double>(CgmInt16(e.params, i)), static_cast<double>(CgmInt16(e.params, i + 1))};
        };
        if (e.cls == 2 && e.id == 6 && words == 4) {
            for (int k = 0; k < 4; ++k)
                picture->extent[k] = CgmInt16(e.params, static_cast<std::size_t>(k));
        } else if (e.cls == 5 && e.id == 22 && words == 1) {
            solid = CgmInt16(e.params, 0) == 1;
        } else if (e.cls == 4 && (e.id == 1 || e.id == 7)) {
            CgmShape s;
            s.kind = e.id == 1 ? CgmShape::kPolyline : CgmShape::kPolygon;
            s.filled = e.id == 7 && solid;
            for (std::size_t i = 0; i + 1 < words; i += 2)
                s.points.push_back(point(i));
            picture->shapes.push_back(std::move(s));
        } else if (e.cls == 4 && e.id == 8) {
            // Points of (x, y, edge flag); flags 2 and 3 close an outline.
            CgmShape s;
            s.kind = CgmShape::kPolygonSet;
            s.filled = solid;
            for (std::size_t i = 0; i + 2 < words; i += 3) {
                s.points.push_back(point(i));
                if ((CgmInt16(e.params, i + 2) & 2) != 0)
                    s.ends.push_back(s.points.size());
            }
            picture->shapes.push_back(std::move(s));
        } else if (e.cls == 4 && e.id == 12 && words == 3) {
            CgmShape s;
            s.kind = CgmShape::kCircle;
            s.centre = point(0);
            s.radius = CgmInt16(e.params, 2);
            picture->shapes.push_back(s);
        } else if (e.cls == 4 && e.id == 15 && words == 7) {
            CgmShape s;
            s.kind = CgmShape::kArc;
            s.centre = point(0);
            const CgmPoint a = point(2), b = point(4);
            s.start = std::atan2(a.y, a.x);
            s.end = std::atan2(b.y, b.x);
            s.radius = CgmInt16(e.params, 6);
            picture->shapes.push_back(s);
        } else if (e.cls == 4 && e.id == 13 && words == 6) {
            // Three points on the arc: its circle through them, counter-
            // clockwise from the first to the last unless the middle one
            // says the other way; three points in a row are a polyline.
            const CgmPoint p = point(0), q = point(2), r = point(4);
            const double d = 2 * (p.x * (q.y - r.y) + q.x * (r.y - p.y) + r.x * (p.y - q.y));
            CgmShape s;
            if (d == 0) {
                s.points = {p, q, r};
                picture->shapes.push_back(std::move(s));
                continue;
            }
            const double pp = p.x * p.x + p.y * p.y, qq = q.x * q.x + q.y * q.y, rr = r.x * r.x + r.y * r.y;
            s.kind = CgmShape::kArc;
            s.centre = {(pp * (q.y - r.y) + qq * (r.y - p.y) + rr * (p.y - q.y)) / d,
                        (pp * (r.x - q.x) + qq * (p.x - r.x) + rr * (q.x - p.x)) / d};
            s.radius = std::hypot(p.x - s.centre.x, p.y - s.centre.y);
            s.start = std::atan2(p.y - s.centre.y, p.x - s.centre.x);
            s.end = std::atan2(r.y - s.centre.y, r.x - s.centre.x);
            if (d < 0)
                std::swap(s.start, s.end);  // p, q, r turn clockwise
            picture->shapes.push_back(s);
        }
    }
    return true;
}

// The picture as SVG, y turned over, strokes `stroke` VDC wide (0: one
// thousandth of the extent): what a CGM viewer would show, for an SVG
// renderer to draw.
inline std::string CgmPictureToSvg(const CgmPicture& p, double stroke = 0)
{
    const double x0 = p.extent[0], y1 = p.extent[3];
    const double w = p.extent[2] - p.extent[0], h = p.extent[3] - p.extent[1];
    if (stroke <= 0)
        stroke = std::max(w, h) / 1000.0;
    auto pt = [&](double x, double y) { return std::to_string(x - x0) + "," + std::to_string(y1 - y); };
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(w) + "\" height=\"" +
                      std::to_string(h) + "\">\n";
    const std::string look = " stroke=\"black\" stroke-width=\"" + std::to_string(stroke) + "\"";
    for (const CgmShape& s : p.shapes) {
        switch (s.kind) {
        case CgmShape::kPolyline:
        case CgmShape::kPolygon: {
            std::string d;
            for (const CgmPoint& q : s.points)
                d += (d.empty() ? "M " : " L ") + pt(q.x, q.y);
            if (s.kind == CgmShape::kPolygon)
                d += " Z";
            svg += "<path d=\"" + d + "\" fill=\"" + (s.filled ? "black" : "none") + "\"" + look + "/>\n";
            break;
        }
        case CgmShape::kPolygonSet: {
            std::string d;
            std::size_t from = 0;
            for (const std::size_t end : s.ends) {
                for (std::size_t i = from; i < end; ++i)
                    d += (i == from ? " M " : " L ") + pt(s.points[i].x, s.points[i].y);
                d += " Z";
                from = end;
            }
            svg += "<path d=\"" + d + "\" fill-rule=\"evenodd\" fill=\"" + (s.filled ? "black" : "none") + "\"" + look +
                   "/>\n";
            break;
        }
        case CgmShape::kCircle:
            svg += "<circle cx=\"" + std::to_string(s.centre.x - x0) + "\" cy=\"" + std::to_string(y1 - s.centre.y) +
                   "\" r=\"" + std::to_string(s.radius) + "\" fill=\"none\"" + look + "/>\n";
            break;
        case CgmShape::kArc: {
            double sweep = s.end - s.start;
            while (sweep <= 0)
                sweep += 2 * 3.14159265358979323846;
            const double r = s.radius;
            svg += "<path d=\"M " + pt(s.centre.x + r * std::cos(s.start), s.centre.y + r * std::sin(s.start)) + " A " +
                   std::to_string(r) + "," + std::to_string(r) + " 0 " + (sweep > 3.14159265358979323846 ? "1" : "0") +
                   ",0 " + pt(s.centre.x + r * std::cos(s.end), s.centre.y + r * std::sin(s.end)) + "\" fill=\"none\"" +
                   look + "/>\n";
            break;
        }
        }
    }
    return svg + "</svg>\n";
}

}  // namespace export_test
