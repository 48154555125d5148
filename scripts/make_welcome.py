#!/usr/bin/env python3
"""Writes res/welcome.tvprj: a few simple solids built here, laid out on the bed.

Project stream: little-endian, single floats; per object name (UTF-16),
column-major transform, selected, hidden, mesh reference 0 + inline mesh
(triangle count, nine floats each), reserved 0; then the support bar count.
Meshes stand on y = 0 centred on their local origin, triangles counter-
clockwise seen from outside.
"""
import math, struct, sys

def box(w, h, d):
    x, z = w / 2, d / 2
    v = [(-x, 0, -z), (x, 0, -z), (x, 0, z), (-x, 0, z), (-x, h, -z), (x, h, -z), (x, h, z), (-x, h, z)]
    quads = [(0, 1, 2, 3), (4, 7, 6, 5), (0, 4, 5, 1), (1, 5, 6, 2), (2, 6, 7, 3), (3, 7, 4, 0)]
    tris = []
    for a, b, c, e in quads:
        tris += [(v[a], v[b], v[c]), (v[a], v[c], v[e])]
    return tris

def revolve(profile, seg):
    """Solid of revolution about Y; profile is (radius, y) from bottom to top."""
    tris = []
    ring = lambda r, y, i: (r * math.cos(2 * math.pi * i / seg), y, -r * math.sin(2 * math.pi * i / seg))
    for i in range(seg):
        for (r0, y0), (r1, y1) in zip(profile, profile[1:]):
            a, b = ring(r0, y0, i), ring(r0, y0, i + 1)
            c, d = ring(r1, y1, i + 1), ring(r1, y1, i)
            if r0 > 0:
                tris.append((a, b, c))
            if r1 > 0:
                tris.append((a, c, d))
    return tris

def cylinder(r, h, seg=48):
    return revolve([(0, 0), (r, 0), (r, h), (0, h)], seg)

def cone(r, h, seg=48):
    return revolve([(0, 0), (r, 0), (0, h)], seg)

def sphere(r, seg=40, rings=20):
    prof = [(r * math.sin(math.pi * k / rings), r - r * math.cos(math.pi * k / rings)) for k in range(rings + 1)]
    prof[0] = (0, 0); prof[-1] = (0, 2 * r)
    return revolve(prof, seg)

def torus(R, r, seg=48, rings=24):
    # tube cross-section walked counter-clockwise from its lowest point
    prof = [(R + r * math.sin(2 * math.pi * k / rings), r - r * math.cos(2 * math.pi * k / rings)) for k in range(rings + 1)]
    return revolve(prof, seg)

def qstring(s):
    b = s.encode('utf-16-le')
    return struct.pack('<I', len(b)) + b

def obj(name, tris, x, z, rot_y=0.0):
    c, s = math.cos(math.radians(rot_y)), math.sin(math.radians(rot_y))
    m = [c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, x, 0, z, 1]
    out = qstring(name) + struct.pack('<16f', *m) + struct.pack('<BB', 0, 0) + struct.pack('<I', 0)
    out += struct.pack('<i', len(tris))
    for t in tris:
        out += struct.pack('<9f', *(t[0] + t[1] + t[2]))
    return out + struct.pack('<I', 0)

objects = [
    obj('cube', box(30, 30, 30), -60, -20, 20),
    obj('cylinder', cylinder(15, 40), 0, -40),
    obj('cone', cone(18, 45), 60, -20),
    obj('sphere', sphere(16), -30, 35),
    obj('ring', torus(18, 6), 35, 35),
]
data = struct.pack('<Ii', 0xEEDAED98, len(objects)) + b''.join(objects) + struct.pack('<i', 0)
open(sys.argv[1] if len(sys.argv) > 1 else 'res/welcome.tvprj', 'wb').write(data)
