#include "toolpath/travelrouter.h"

#include <algorithm>
#include <cmath>
#include <queue>
#include <vector>

TravelRouter::TravelRouter(const Plane1 &mask) : m_mask(mask), m_areas(mask, false) {}

bool TravelRouter::freeAt(int x, int y) const
{
    return x >= 0 && y >= 0 && x < m_mask.width && y < m_mask.height && !m_mask.pixel(x, y);
}

bool TravelRouter::segmentFree(PolyPoint a, PolyPoint b) const
{
    const float dx = b.x - a.x, dy = b.y - a.y;
    const float len = std::sqrt(dx * dx + dy * dy);
    if (!std::isfinite(len))
        return false;
    const int n = std::max(1, int(std::ceil(len * 2.0f)));
    for (int i = 0; i <= n; ++i) {
        const float t = float(i) / float(n);
        if (!freeAt(int(std::floor(a.x + t * dx)), int(std::floor(a.y + t * dy))))
            return false;
    }
    return true;
}

bool TravelRouter::snap(PolyPoint p, int &x, int &y) const
{
    const int cx = int(std::floor(p.x)), cy = int(std::floor(p.y));
    int best = -1;
    for (int r = 0; r <= 3 && best < 0; ++r) {
        for (int dy = -r; dy <= r; ++dy) {
            for (int dx = -r; dx <= r; ++dx) {
                if (std::max(std::abs(dx), std::abs(dy)) != r || !freeAt(cx + dx, cy + dy))
                    continue;
                const int d = dx * dx + dy * dy;
                if (best < 0 || d < best) {
                    best = d;
                    x = cx + dx;
                    y = cy + dy;
                }
            }
        }
    }
    return best >= 0;
}

bool TravelRouter::search(int sx, int sy, int gx, int gy, int x0, int y0, int x1, int y1,
                          QVector<PolyPoint> &pixels) const
{
    const int w = x1 - x0, h = y1 - y0;
    const size_t n = size_t(w) * size_t(h);
    std::vector<float> g(n, 1e30f);
    std::vector<int> parent(n, -1);
    std::vector<unsigned char> closed(n, 0);
    auto index = [&](int x, int y) { return (y - y0) * w + (x - x0); };
    auto heuristic = [&](int x, int y) {
        const float dx = float(std::abs(x - gx)), dy = float(std::abs(y - gy));
        return std::max(dx, dy) + 0.41421356f * std::min(dx, dy);
    };
    struct Node {
        float f, h;
        int idx;
        bool operator<(const Node &o) const // priority_queue pops the largest
        {
            if (f != o.f)
                return f > o.f;
            if (h != o.h)
                return h > o.h;
            return idx > o.idx;
        }
    };
    std::priority_queue<Node> open;
    const int start = index(sx, sy), goal = index(gx, gy);
    g[start] = 0;
    open.push({heuristic(sx, sy), heuristic(sx, sy), start});
    static const int DX[8] = {1, -1, 0, 0, 1, 1, -1, -1};
    static const int DY[8] = {0, 0, 1, -1, 1, -1, 1, -1};
    while (!open.empty()) {
        const Node cur = open.top();
        open.pop();
        if (closed[cur.idx])
            continue;
        closed[cur.idx] = 1;
        if (cur.idx == goal)
            break;
        const int cx = x0 + cur.idx % w, cy = y0 + cur.idx / w;
        for (int k = 0; k < 8; ++k) {
            const int nx = cx + DX[k], ny = cy + DY[k];
            if (nx < x0 || ny < y0 || nx >= x1 || ny >= y1 || !freeAt(nx, ny))
                continue;
            // No corner cutting: a diagonal step needs both side pixels free.
            if (k >= 4 && (!freeAt(cx + DX[k], cy) || !freeAt(cx, cy + DY[k])))
                continue;
            const int ni = index(nx, ny);
            if (closed[ni])
                continue;
            const float ng = g[cur.idx] + (k >= 4 ? 1.41421356f : 1.0f);
            if (ng < g[ni]) {
                g[ni] = ng;
                parent[ni] = cur.idx;
                const float hh = heuristic(nx, ny);
                open.push({ng + hh, hh, ni});
            }
        }
    }
    if (!closed[goal])
        return false;
    pixels.clear();
    for (int i = goal; i >= 0; i = parent[i])
        pixels.append(PolyPoint(float(x0 + i % w) + 0.5f, float(y0 + i / w) + 0.5f));
    std::reverse(pixels.begin(), pixels.end());
    return true;
}

PolyLine TravelRouter::route(PolyPoint from, PolyPoint to) const
{
    PolyLine travel(Travel);
    if (!std::isfinite(from.x) || !std::isfinite(from.y) || !std::isfinite(to.x) ||
        !std::isfinite(to.y))
        return travel;
    if (segmentFree(from, to)) {
        travel.pts = {from, to};
        return travel;
    }
    int sx, sy, gx, gy;
    if (!snap(from, sx, sy) || !snap(to, gx, gy))
        return travel;
    const int area = m_areas.label(sx, sy);
    if (area < 0 || area != m_areas.label(gx, gy))
        return travel;

    // Most detours stay near the straight line: search a window around it
    // first, the whole plane only when the way round leaves the window.
    const int margin = std::max(32, (std::abs(gx - sx) + std::abs(gy - sy)) / 2);
    const int x0 = std::max(0, std::min(sx, gx) - margin);
    const int y0 = std::max(0, std::min(sy, gy) - margin);
    const int x1 = std::min(m_mask.width, std::max(sx, gx) + margin + 1);
    const int y1 = std::min(m_mask.height, std::max(sy, gy) + margin + 1);
    QVector<PolyPoint> pixels;
    if (!search(sx, sy, gx, gy, x0, y0, x1, y1, pixels) &&
        !search(sx, sy, gx, gy, 0, 0, m_mask.width, m_mask.height, pixels))
        return travel;

    pixels.first() = from;
    if (pixels.size() > 1)
        pixels.last() = to;
    else
        pixels.append(to);
    // Pull the pixel staircase straight: from each kept vertex go to the
    // furthest following vertex still in sight.
    travel.pts.append(from);
    int anchor = 0;
    while (anchor < pixels.size() - 1) {
        int next = anchor + 1;
        while (next + 1 < pixels.size() && segmentFree(pixels[anchor], pixels[next + 1]))
            ++next;
        travel.pts.append(pixels[next]);
        anchor = next;
    }
    return travel;
}
