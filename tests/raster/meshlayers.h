#pragma once
// Cross-sections of a binary STL from tests/data as the slicer's segments
// (the inside has winding +1), on the raster frame the slicer would use:
// real layers for comparing the fills with their twins.
#include "raster/layergrid.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <vector>

struct MeshLayers {
    LayerGrid grid;
    std::vector<Segments> layers;
};

// Cuts at every step mm from step / 2 up; empty on a file it cannot read.
inline MeshLayers meshLayers(const QString &stlPath, float step)
{
    MeshLayers out;
    QFile f(stlPath);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    const QByteArray data = f.readAll();
    if (data.size() < 84)
        return out;
    const quint32 n = qFromLittleEndian<quint32>(reinterpret_cast<const uchar *>(data.constData()) + 80);
    if (quint64(data.size()) < 84 + quint64(n) * 50)
        return out;
    std::vector<float> v(size_t(n) * 9);
    for (quint32 t = 0; t < n; ++t)
        std::memcpy(&v[size_t(t) * 9], data.constData() + 84 + 50 * t + 12, 36);
    Extents box{1e30f, 1e30f, -1e30f, -1e30f};
    float zMax = -1e30f;
    for (size_t i = 0; i < v.size(); i += 3) {
        box.minX = std::min(box.minX, v[i]);
        box.maxX = std::max(box.maxX, v[i]);
        box.minY = std::min(box.minY, v[i + 1]);
        box.maxY = std::max(box.maxY, v[i + 1]);
        zMax = std::max(zMax, v[i + 2]);
    }
    out.grid = layerGrid(box, 0.4f);
    for (float z = step / 2; z < zMax; z += step) {
        Segments segs;
        for (quint32 t = 0; t < n; ++t) {
            const float *a = &v[size_t(t) * 9], *b = a + 3, *c = a + 6;
            const float *p[3] = {a, b, c};
            float pts[2][2];
            int k = 0;
            for (int e = 0; e < 3 && k < 2; ++e) {
                const float *s = p[e], *d = p[(e + 1) % 3];
                if ((s[2] < z) != (d[2] < z)) {
                    const float u = (z - s[2]) / (d[2] - s[2]);
                    pts[k][0] = s[0] + u * (d[0] - s[0]);
                    pts[k][1] = s[1] + u * (d[1] - s[1]);
                    ++k;
                }
            }
            if (k < 2)
                continue;
            // The face's normal in x and y; the wall runs with the outside
            // on its left, as the slicer's do.
            const float ux = b[0] - a[0], uy = b[1] - a[1], uz = b[2] - a[2];
            const float wx = c[0] - a[0], wy = c[1] - a[1], wz = c[2] - a[2];
            const float nx = uy * wz - uz * wy, ny = uz * wx - ux * wz;
            const float dx = pts[1][0] - pts[0][0], dy = pts[1][1] - pts[0][1];
            if (dx * ny - dy * nx >= 0)
                segs.append(Segment{pts[0][0], pts[0][1], pts[1][0], pts[1][1]});
            else
                segs.append(Segment{pts[1][0], pts[1][1], pts[0][0], pts[0][1]});
        }
        out.layers.push_back(segs);
    }
    return out;
}
