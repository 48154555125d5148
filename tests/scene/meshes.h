#pragma once
// Small meshes built in code for the scene tests.
#include "scene/faces.h"

#include <QByteArray>
#include <QtEndian>
#include <initializer_list>

// Axis-aligned box from `a` to `b`, counter-clockwise seen from outside.
inline Faces boxMesh(const Vec3 &a, const Vec3 &b)
{
    auto c = [&](int k) { return Vec3(k & 1 ? b.x : a.x, k & 2 ? b.y : a.y, k & 4 ? b.z : a.z); };
    static const int quads[6][4] = {{0, 4, 6, 2}, {1, 3, 7, 5}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 2, 3, 1}, {4, 5, 7, 6}};
    Faces f;
    for (const auto &q : quads) {
        f.append(c(q[0]), c(q[1]), c(q[2]));
        f.append(c(q[0]), c(q[2]), c(q[3]));
    }
    return f;
}

// A closed box split into n x n squares per face (2 * 6 * n * n triangles).
inline Faces tessellatedBox(float size, int n)
{
    Faces f;
    const float s = size / n;
    // For each face: origin and two in-plane axes whose cross product points out.
    struct Face { Vec3 o, u, v; };
    const Face faces[6] = {
        {{0, 0, 0}, {0, 0, 1}, {0, 1, 0}}, {{size, 0, 0}, {0, 1, 0}, {0, 0, 1}},
        {{0, 0, 0}, {1, 0, 0}, {0, 0, 1}}, {{0, size, 0}, {0, 0, 1}, {1, 0, 0}},
        {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}}, {{0, 0, size}, {1, 0, 0}, {0, 1, 0}},
    };
    for (const Face &fc : faces)
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) {
                const Vec3 p0 = fc.o + fc.u * (i * s) + fc.v * (j * s);
                const Vec3 p1 = p0 + fc.u * s, p2 = p0 + fc.u * s + fc.v * s, p3 = p0 + fc.v * s;
                f.append(p0, p1, p2);
                f.append(p0, p2, p3);
            }
    return f;
}

// Binary STL bytes: `header` padded to 80 bytes, a count, records of file
// coordinates (nine floats each) with a zero normal.
inline QByteArray binaryStl(const QByteArray &header, qint32 count, std::initializer_list<float> coords)
{
    QByteArray out = header.leftJustified(80, ' ', true);
    uchar w[4];
    qToLittleEndian<qint32>(count, w);
    out.append(reinterpret_cast<const char *>(w), 4);
    int k = 0;
    for (float c : coords) {
        if (k % 9 == 0)
            out.append(12, '\0');
        qToLittleEndian<float>(c, w);
        out.append(reinterpret_cast<const char *>(w), 4);
        if (++k % 9 == 0)
            out.append(2, '\0');
    }
    return out;
}
