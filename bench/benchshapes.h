#pragma once
// Cross-section outlines the raster benchmarks share.
#include "geometry/segment.h"

#include <cmath>
#include <utility>

// Closed wavy loop of n segments around (cx, cy), radius r with `lobes`
// waves of amplitude `wave`. Counter-clockwise (y up) loops have winding -1
// under the fills' convention, so the outer wall runs clockwise and a hole
// (hole = true) the other way.
inline void addLoop(Segments &segs, float cx, float cy, float r, float wave, int lobes, int n, bool hole)
{
    auto pt = [&](int i) {
        const double a = 2 * M_PI * i / n;
        const double rr = r + wave * std::sin(lobes * a);
        return std::make_pair(float(cx + rr * std::cos(a)), float(cy + rr * std::sin(a)));
    };
    for (int i = 0; i < n; i++) {
        auto p = pt(hole ? n - i : i), q = pt(hole ? n - i - 1 : i + 1);
        segs.append({q.first, q.second, p.first, p.second});
    }
}
