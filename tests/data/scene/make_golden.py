# Writes sample.tvprj and sample_snapshot.tvprj straight from the stream layout
# (independently of the C++ writer): python3 make_golden.py sample.tvprj sample_snapshot.tvprj
import struct, zlib, math, sys
def f32(x): return struct.pack('<f', x)
def qstr(s):
    b = s.encode('utf-16-le'); return struct.pack('<I', len(b)) + b
def box(a, b):
    c = lambda k: (b[0] if k & 1 else a[0], b[1] if k & 2 else a[1], b[2] if k & 4 else a[2])
    quads = [(0,4,6,2),(1,3,7,5),(0,1,5,4),(2,6,7,3),(0,2,3,1),(4,5,7,6)]
    t = []
    for q in quads:
        t.append((c(q[0]), c(q[1]), c(q[2]))); t.append((c(q[0]), c(q[2]), c(q[3])))
    return t
def anchor(tris):
    pts = [p for t in tris for p in t]
    mn = [min(p[i] for p in pts) for i in range(3)]; mx = [max(p[i] for p in pts) for i in range(3)]
    d = ((mn[0]+mx[0])/2, mn[1], (mn[2]+mx[2])/2)
    return [tuple(tuple(p[i]-d[i] for i in range(3)) for p in t) for t in tris]
def block(tris):
    return struct.pack('<i', len(tris)) + b''.join(f32(v) for t in tris for p in t for v in p)
def mat(m): return b''.join(f32(v) for v in m)
ident = [1,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,0,1]
cube = anchor(box((0,0,0),(10,10,10)))
tetra = anchor([((0,0,0),(0,0,5),(5,0,0)), ((0,0,0),(0,5,0),(0,0,5)), ((0,0,0),(5,0,0),(0,5,0)), ((5,0,0),(0,0,5),(0,5,0))])
cubehash = zlib.crc32(block(cube)[4:])
c = math.cos(math.pi/2); s = math.sin(math.pi/2)
rot = [c,0,-s,0, 0,1,0,0, s,0,c,0, 0,0,0,1]
out = struct.pack('<I', 0xEEDAED98) + struct.pack('<i', 3)
out += qstr('cube') + mat(ident) + b'\x01\x00' + struct.pack('<I', 0) + block(cube) + struct.pack('<I', 0)
out += qstr('cube') + mat([1,0,0,0, 0,1,0,0, 0,0,1,0, 20,0,0,1]) + b'\x00\x01' + struct.pack('<I', cubehash) + struct.pack('<I', 0)
out += qstr('tétra') + mat(rot) + b'\x00\x00' + struct.pack('<I', 0) + block(tetra) + struct.pack('<I', 0)
out += struct.pack('<i', 1) + b''.join(f32(v) for v in (1,2,3,1,0,3,1.5))
open(sys.argv[1], 'wb').write(out)
tetrahash = zlib.crc32(block(tetra)[4:])
snap = struct.pack('<I', 0xEEDAED98) + struct.pack('<i', 3)
snap += qstr('cube') + mat(ident) + b'\x01\x00' + struct.pack('<I', cubehash) + struct.pack('<I', 0)
snap += qstr('cube') + mat([1,0,0,0, 0,1,0,0, 0,0,1,0, 20,0,0,1]) + b'\x00\x01' + struct.pack('<I', cubehash) + struct.pack('<I', 0)
snap += qstr('tétra') + mat(rot) + b'\x00\x00' + struct.pack('<I', tetrahash) + struct.pack('<I', 0)
snap += struct.pack('<i', 1) + b''.join(f32(v) for v in (1,2,3,1,0,3,1.5))
open(sys.argv[2], 'wb').write(snap)
print(len(out), hex(cubehash))
