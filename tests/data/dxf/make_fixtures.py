#!/usr/bin/python3
"""Writes the DXF fixtures of tests/model/dxf_import_test.cpp with ezdxf
(Debian's python3-ezdxf). Run once from this folder; the files are kept in
the repository so that the tests do not need ezdxf."""
import ezdxf


def r12_entities():
    doc = ezdxf.new("R12")
    doc.header["$CECOLOR"] = 5
    doc.header["$CLAYER"] = "walls"
    doc.header["$PLINEWID"] = 0.5
    doc.header["$ORTHOMODE"] = 1
    doc.header["$OSMODE"] = 3
    doc.layers.add("walls", color=3)
    doc.layers.add("Round", color=200)
    msp = doc.modelspace()
    msp.add_line((0, 0), (10, 5), dxfattribs={"layer": "walls", "color": 1})
    msp.add_circle((5, 5), 2.5, dxfattribs={"layer": "round"})
    msp.add_arc((0, 0), 3, 350, 10, dxfattribs={"layer": "Round", "color": 300})
    # SOLID corners in DXF order (1, 2, 4, 3): the rectangle (0,0) (4,0) (4,3) (0,3).
    msp.add_solid([(0, 0), (4, 0), (0, 3), (4, 3)], dxfattribs={"layer": "fill"})
    # A clockwise triangle, its last corner repeated by the writer.
    msp.add_solid([(10, 0), (12, 3), (14, 0)], dxfattribs={"layer": "fill"})
    msp.add_3dface([(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0)], dxfattribs={"layer": "fill"})
    # A closed 2-D polyline whose first segment is a half circle; its
    # VERTEX records carry flags 0.
    msp.add_polyline2d([(0, 0, 0, 0, 1.0), (10, 0, 0, 0, 0), (10, 10, 0, 0, 0)], format="xyseb",
                       close=True, dxfattribs={"layer": "walls"})
    p = msp.add_polyline2d([(0, 20), (5, 20), (5, 25)], dxfattribs={"layer": "walls"})
    p.dxf.flags = 128
    p = msp.add_polyline2d([(0, 30), (5, 30), (5, 35)], dxfattribs={"layer": "walls"})
    p.dxf.flags = 129
    doc.saveas("r12_entities.dxf")


def r2000_entities():
    doc = ezdxf.new("R2000")
    msp = doc.modelspace()
    msp.add_lwpolyline([(0, 0, 0, 0, 0.5), (10, 0, 0, 0, 0), (10, 10, 0, 0, 0)], format="xyseb",
                       close=True, dxfattribs={"layer": "shapes"})
    lw = msp.add_lwpolyline([(0, 20), (5, 20), (5, 25)], dxfattribs={"layer": "shapes", "const_width": 2.5})
    lw.dxf.flags = 128
    lw = msp.add_lwpolyline([(0, 30), (5, 30), (5, 35)], dxfattribs={"layer": "shapes"})
    lw.dxf.flags = 129
    # Two half circles: a circle of radius 1 about (1, 40).
    msp.add_lwpolyline([(0, 40, 0, 0, 1), (2, 40, 0, 0, 1)], format="xyseb", close=True,
                       dxfattribs={"layer": "shapes"})
    msp.add_circle((50, 50), 4, dxfattribs={"layer": "Curves", "color": 0})
    msp.add_arc((50, 50), 6, 90, 180, dxfattribs={"layer": "curves", "color": 4})
    msp.add_ellipse((0, 0), major_axis=(3, 0), ratio=0.5)
    msp.add_spline([(0, 0), (1, 2), (3, 1), (4, 4)])

    # A square with a square hole, as polyline paths.
    hatch = msp.add_hatch(color=2, dxfattribs={"layer": "hatches"})
    hatch.paths.add_polyline_path([(0, 0), (10, 0), (10, 10), (0, 10)], is_closed=True, flags=1)
    hatch.paths.add_polyline_path([(3, 3), (7, 3), (7, 7), (3, 7)], is_closed=True, flags=16)
    # Edge paths: a slot of lines and arcs, one arc clockwise and one line
    # running against the chain.
    hatch = msp.add_hatch(color=3, dxfattribs={"layer": "hatches"})
    path = hatch.paths.add_edge_path()
    path.add_line((20, 0), (30, 0))
    path.add_arc((30, 5), 5, -90, 90)
    path.add_line((20, 10), (30, 10))
    path.add_arc((20, 5), 5, 90, 270)
    hatch = msp.add_hatch(color=4, dxfattribs={"layer": "hatches"})
    path = hatch.paths.add_edge_path()
    path.add_line((40, 0), (50, 0))
    # From (50, 0) clockwise through (45, 5) to (50, 10): the left half of
    # the circle, given as its counter-clockwise arc 90..270.
    path.add_arc((50, 5), 5, 90, 270, ccw=False)
    path.add_line((50, 10), (40, 10))
    path.add_line((40, 10), (40, 0))
    # A spline edge path (passed over) beside a usable polyline path.
    hatch = msp.add_hatch(color=5, dxfattribs={"layer": "hatches"})
    path = hatch.paths.add_edge_path()
    path.add_spline(control_points=[(60, 0), (65, 5), (70, 0), (60, 0)], degree=3)
    hatch.paths.add_polyline_path([(60, 20), (70, 20), (65, 28)], is_closed=True)
    # A pattern fill is refused.
    hatch = msp.add_hatch(color=6, dxfattribs={"layer": "hatches"})
    hatch.set_pattern_fill("ANSI31")
    hatch.paths.add_polyline_path([(0, 0), (1, 0), (1, 1)], is_closed=True)
    doc.saveas("r2000_entities.dxf")


def crlf_comments_long():
    """The R12 file with CR LF ends, comment groups between pairs, lower-case
    section and entity names and a value padded beyond 256 characters."""
    with open("r12_entities.dxf", newline="") as f:
        lines = f.read().split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    out = ["999", "written for the import tests", "999", "x" * 400]
    pairs = list(zip(lines[0::2], lines[1::2]))
    seen_circle = seen_face = False
    for code, value in pairs:
        if code.strip() == "0" and value == "CIRCLE" and not seen_circle:
            value, seen_circle = "circle", True
        elif code.strip() == "0" and value == "3DFACE" and not seen_face:
            value, seen_face = "3dFace", True
        elif code.strip() == "2" and value == "ENTITIES":
            value = "entities"
        elif code.strip() == "0" and value == "LINE":
            out += ["999", "a comment between entities"]
        elif code.strip() == "11" and not any(l.strip() == "11" for l in out):
            value = " " * 300 + value
        out += [code, value]
    with open("crlf_comments_long.dxf", "w", newline="") as f:
        f.write("\r\n".join(out) + "\r\n")


def repeats_hidden_layer():
    """A vertex repeated with the bulge of the next segment, in a polyline
    and in a hatch path, on a layer that is turned off."""
    doc = ezdxf.new("R2000")
    doc.layers.add("Hidden", color=3).off()
    doc.layers.add("Shown", color=5)
    msp = doc.modelspace()
    ring = [(0, 0, 0), (10, 0, 0), (10, 0, 1), (10, 10, 0), (0, 10, 0)]
    msp.add_lwpolyline(ring, format="xyb", close=True, dxfattribs={"layer": "Hidden"})
    hatch = msp.add_hatch(color=2, dxfattribs={"layer": "Shown"})
    hatch.paths.add_polyline_path(ring, is_closed=True, flags=1)
    doc.saveas("repeats_hidden_layer.dxf")


r12_entities()
r2000_entities()
crlf_comments_long()
repeats_hidden_layer()
