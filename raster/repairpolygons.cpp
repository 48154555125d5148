#include "raster/repairpolygons.h"
#include "raster/rasterperf.h"
#include "geometry/nearestpairs.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace {

struct Vertex {
    float x, y;
    int balance; // +1 per segment ending here, -1 per segment starting here
};

// Finds "the first vertex in creation order within the tolerance box" of a
// point without a linear search: vertices are bucketed in cells at least as
// large as the tolerance, so only the 3 x 3 neighbouring cells can match.
class VertexIndex {
public:
    explicit VertexIndex(float tol) : m_tol(tol), m_cell(std::max(double(tol) * 1.001, 1e-9)) {}

    int findOrAdd(std::vector<Vertex> &verts, float x, float y)
    {
        const int64_t cx = cell(x), cy = cell(y);
        int best = -1;
        for (int64_t dy = -1; dy <= 1; ++dy)
            for (int64_t dx = -1; dx <= 1; ++dx) {
                auto it = m_map.find(key(cx + dx, cy + dy));
                if (it == m_map.end())
                    continue;
                for (int v : it->second) { // ascending creation order
                    if (best >= 0 && v >= best)
                        break;
                    const Vertex &w = verts[v];
                    if (std::fabs(w.x - x) <= m_tol && std::fabs(w.y - y) <= m_tol) {
                        best = v;
                        break;
                    }
                }
            }
        if (best >= 0)
            return best;
        verts.push_back(Vertex{x, y, 0});
        m_map[key(cx, cy)].push_back(int(verts.size()) - 1);
        return int(verts.size()) - 1;
    }

private:
    int64_t cell(float v) const
    {
        const double c = std::floor(double(v) / m_cell);
        return int64_t(std::max(-1e15, std::min(1e15, c)));
    }
    static uint64_t key(int64_t x, int64_t y)
    {
        return uint64_t(x) * 0x9E3779B97F4A7C15ull ^ uint64_t(y);
    }
    float m_tol;
    double m_cell;
    std::unordered_map<uint64_t, std::vector<int>> m_map;
};

} // namespace

int repairPolygons(Segments &segs, float tolerance)
{
    RasterPerf perf("repairPolygons");
    const float tol = std::isfinite(tolerance) ? std::max(tolerance, 0.0f) : 0.0f;

    std::vector<Vertex> verts;
    VertexIndex index(tol);
    for (const Segment &s : segs) {
        if (!std::isfinite(s.x0) || !std::isfinite(s.y0) || !std::isfinite(s.x1) || !std::isfinite(s.y1))
            continue;
        verts[index.findOrAdd(verts, s.x0, s.y0)].balance -= 1;
        verts[index.findOrAdd(verts, s.x1, s.y1)].balance += 1;
    }

    std::vector<int> ends, starts; // vertex indices, in vertex order
    for (int i = 0; i < int(verts.size()); ++i) {
        if (verts[i].balance > 0) ends.push_back(i);
        else if (verts[i].balance < 0) starts.push_back(i);
    }
    if (ends.empty() || starts.empty())
        return 0;

    auto d2 = [&](int e, int s) {
        const double dx = double(verts[ends[e]].x) - verts[starts[s]].x;
        const double dy = double(verts[ends[e]].y) - verts[starts[s]].y;
        return dx * dx + dy * dy;
    };
    // A start is open while more segments leave it than arrive (it waits
    // for a closing segment to come in); an end while more arrive than leave.
    auto startOpen = [&](int s) { return verts[starts[s]].balance < 0; };
    auto nearest = [&](int e, NearestPair &c) {
        c = NearestPair{0, e, -1};
        for (int s = 0; s < int(starts.size()); ++s) {
            if (!startOpen(s))
                continue;
            const double d = d2(e, s);
            if (c.start < 0 || d < c.d2)
                c = NearestPair{d, e, s};
        }
        return c.start >= 0;
    };
    return joinNearestPairs(int(ends.size()), nearest, startOpen, [&](const NearestPair &c) {
        Vertex &ve = verts[ends[c.end]], &vs = verts[starts[c.start]];
        segs.append(Segment{ve.x, ve.y, vs.x, vs.y});
        ve.balance -= 1;
        vs.balance += 1;
        return ve.balance > 0;
    });
}
