#pragma once
// Synthetic layer rasters for the toolpath tests: coverage planes (0 outside,
// 255 inside, anti-aliased edges) and region masks (set = inside).
#include "slicer/plane1.h"
#include "slicer/plane8.h"
#include "toolpath/polyline.h"

#include <cmath>
#include <functional>

inline Plane8 emptyCoverage(int w, int h)
{
    Plane8 p(w, h);
    p.fill(0);
    return p;
}

// Coverage of inside(x, y): the covered area of each pixel, as the layer
// fill gives it (edge pixels sampled 32 x 32, the rest 4 x 4).
inline void paint(Plane8 &p, const std::function<bool(float, float)> &inside)
{
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            int n = 0;
            for (int sy = 0; sy < 4; ++sy)
                for (int sx = 0; sx < 4; ++sx)
                    n += inside(x + (sx + 0.5f) / 4, y + (sy + 0.5f) / 4);
            if (n == 0)
                continue;
            int v = 255;
            if (n < 16) {
                int fine = 0;
                for (int sy = 0; sy < 32; ++sy)
                    for (int sx = 0; sx < 32; ++sx)
                        fine += inside(x + (sx + 0.5f) / 32, y + (sy + 0.5f) / 32);
                v = (fine * 255 + 512) / 1024;
            }
            p.data[y * p.width + x] = uchar(std::max<int>(p.data[y * p.width + x], v));
        }
}

inline void paintRect(Plane8 &p, float x0, float y0, float x1, float y1)
{
    paint(p, [=](float x, float y) { return x >= x0 && x < x1 && y >= y0 && y < y1; });
}

// The triangle (vx[i], vy[i]), corners counter-clockwise (y up).
inline void paintTriangle(Plane8 &p, const float vx[3], const float vy[3])
{
    paint(p, [=](float x, float y) {
        for (int i = 0; i < 3; ++i) {
            const int j = (i + 1) % 3;
            if ((vx[j] - vx[i]) * (y - vy[i]) - (vy[j] - vy[i]) * (x - vx[i]) < 0)
                return false;
        }
        return true;
    });
}

inline void paintCircle(Plane8 &p, float cx, float cy, float r)
{
    paint(p, [=](float x, float y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) < r * r; });
}

inline Plane1 emptyMask(int w, int h)
{
    Plane1 m(w, h);
    m.fill(0);
    return m;
}

inline void maskRect(Plane1 &m, int x0, int y0, int x1, int y1)
{
    for (int y = std::max(y0, 0); y < std::min(y1, m.height); ++y)
        for (int x = std::max(x0, 0); x < std::min(x1, m.width); ++x)
            m.setPixel(x, y, true);
}

inline int countSet(const Plane1 &m)
{
    int n = 0;
    for (int y = 0; y < m.height; ++y)
        for (int x = 0; x < m.width; ++x)
            n += m.pixel(x, y);
    return n;
}

// x values where a closed or open path crosses the horizontal line y.
inline QVector<float> crossingsAtY(const PolyLine &pl, float y)
{
    QVector<float> xs;
    const int n = pl.pts.size();
    const int segs = pl.closed ? n : n - 1;
    for (int i = 0; i < segs; ++i) {
        const PolyPoint a = pl.pts[i], b = pl.pts[(i + 1) % n];
        if ((a.y <= y) != (b.y <= y))
            xs.append(a.x + (y - a.y) / (b.y - a.y) * (b.x - a.x));
    }
    std::sort(xs.begin(), xs.end());
    return xs;
}
