#!/usr/bin/python3
# dxf_truth.py IN.dxf OUT.txt [WIDTH]: the centre lines of a CAD drawing as
# the curves bench reads them, in raster pixels (x right, y down, pixel
# centres on whole numbers) of a raster WIDTH pixels wide (default 2000).
# With WIDTH 0 the drawing is another tracer's output in pixel corners, y up,
# of a raster whose size comes from the environment (WIDTH, HEIGHT).
#
# Output: "size W H", then "text N" (text entities skipped), "circle cx cy r"
# per true circle, and "line x y x y ..." per flattened curve.
import math
import os
import sys

import ezdxf
from ezdxf import bbox, disassemble, path

MARGIN = 24          # pixels round the drawing
FLAT = 0.05          # pixels a flattened chord may stand off its curve
TEXTS = {"TEXT", "MTEXT", "ATTRIB", "ATTDEF", "DIMENSION", "LEADER", "MLEADER"}


def entities(doc):
    for e in disassemble.recursive_decompose(doc.modelspace()):
        yield e


def ring_circle(p):
    """A closed path whose points all lie on one circle (a polyline of arcs,
    a spline drawn as a circle)."""
    pts = list(p.flattening(1e-3))
    if len(pts) < 8 or pts[0].distance(pts[-1]) > 1e-6:
        return None
    pts = pts[:-1]
    cx = sum(v.x for v in pts) / len(pts)
    cy = sum(v.y for v in pts) / len(pts)
    d = [math.hypot(v.x - cx, v.y - cy) for v in pts]
    r = sum(d) / len(d)
    if r <= 0 or max(abs(x - r) for x in d) > 0.003 * r:
        return None
    return (cx, cy, r)


def arc_circles(arcs):
    """Arcs of one centre and radius that together go all round."""
    groups = {}
    for a in arcs:
        key = (round(a.dxf.center.x, 6), round(a.dxf.center.y, 6), round(a.dxf.radius, 6))
        sweep = (a.dxf.end_angle - a.dxf.start_angle) % 360 or 360
        groups[key] = groups.get(key, 0) + sweep
    return [k for k, sweep in groups.items() if sweep >= 359.9]


def main():
    src, out = sys.argv[1], sys.argv[2]
    width = int(sys.argv[3]) if len(sys.argv) > 3 else 2000
    doc = ezdxf.readfile(src)
    texts = 0
    shapes = []
    arcs = []
    for e in entities(doc):
        kind = e.dxftype()
        if kind in TEXTS:
            texts += 1
            continue
        try:
            p = path.make_path(e)
        except Exception:
            continue
        if kind == "CIRCLE":
            circle = (e.dxf.center.x, e.dxf.center.y, e.dxf.radius)
        elif kind == "ARC":
            arcs.append(e)
            circle = None
        else:
            circle = ring_circle(p)
        shapes.append((p, circle))
    for c in arc_circles(arcs):
        shapes.append((path.Path(), c))
    if width > 0:
        box = bbox.extents(doc.modelspace(), fast=False)
        ext = bbox.BoundingBox()
        for p, _ in shapes:
            ext.extend(p.control_vertices())
        if not ext.has_data:
            ext = box
        scale = (width - 2 * MARGIN) / max(ext.size.x, 1e-9)
        height = int(math.ceil(ext.size.y * scale)) + 2 * MARGIN
        x0, y1 = ext.extmin.x, ext.extmax.y
        tx = lambda x: (x - x0) * scale + MARGIN
        ty = lambda y: (y1 - y) * scale + MARGIN
    else:
        scale = 1.0
        width = int(os.environ.get("WIDTH", "0"))
        height = int(os.environ["HEIGHT"])
        tx = lambda x: x - 0.5
        ty = lambda y: height - y - 0.5
    with open(out, "w") as f:
        f.write(f"size {width} {height}\ntext {texts}\n")
        for p, circle in shapes:
            if circle:
                cx, cy, r = circle
                f.write(f"circle {tx(cx):.4f} {ty(cy):.4f} {r * scale:.4f}\n")
            for sub in p.sub_paths():
                pts = list(sub.flattening(FLAT / scale))
                if len(pts) < 2:
                    continue
                f.write("line " + " ".join(f"{tx(v.x):.4f} {ty(v.y):.4f}" for v in pts) + "\n")


main()
