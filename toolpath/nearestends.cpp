#include "toolpath/nearestends.h"

#include <algorithm>
#include <climits>
#include <cmath>

NearestEnds::NearestEnds(const PathList &pool, float a, bool allowReverse)
{
    m_r = 1.5f * a;
    m_r2 = m_r * m_r;
    m_alive.assign(size_t(pool.size()), 1);
    m_pathFirst.assign(size_t(pool.size()) + 1, 0);
    for (int i = 0; i < pool.size(); ++i) {
        m_pathFirst[size_t(i)] = int(m_ends.size());
        const PolyLine &path = pool[i];
        const int n = path.pts.size();
        if (n == 0)
            continue;
        if (path.closed) {
            for (int v = 0; v < n; ++v)
                m_ends.push_back({path.pts[v].x, path.pts[v].y, i, v});
        } else {
            m_ends.push_back({path.pts[0].x, path.pts[0].y, i, 0});
            if (allowReverse && n > 1)
                m_ends.push_back({path.pts[n - 1].x, path.pts[n - 1].y, i, n - 1});
        }
    }
    m_pathFirst[size_t(pool.size())] = int(m_ends.size());
    if (m_ends.empty() || !std::isfinite(m_r2))
        return;
    float x0 = m_ends[0].x, x1 = x0, y0 = m_ends[0].y, y1 = y0;
    for (const End &e : m_ends) {
        if (!std::isfinite(e.x) || !std::isfinite(e.y) || std::fabs(e.x) > 1e7f || std::fabs(e.y) > 1e7f)
            return;
        x0 = std::min(x0, e.x);
        x1 = std::max(x1, e.x);
        y0 = std::min(y0, e.y);
        y1 = std::max(y1, e.y);
    }
    // About two ends a cell, never below the search radius.
    const double w = double(x1) - x0, h = double(y1) - y0;
    double cell = std::sqrt(std::max(w * h, 1.0) * 2.0 / double(m_ends.size()));
    cell = std::max({cell, double(m_r), std::max(w, h) / 1024.0, 1e-3});
    m_cell = float(cell);
    m_x0 = x0;
    m_y0 = y0;
    m_cw = int(w / cell) + 1;
    m_ch = int(h / cell) + 1;
    m_start.assign(size_t(m_cw) * m_ch + 1, 0);
    m_cellOf.resize(m_ends.size());
    for (size_t i = 0; i < m_ends.size(); ++i) {
        const int c = cellOf(m_ends[i].y, m_y0, m_ch) * m_cw + cellOf(m_ends[i].x, m_x0, m_cw);
        m_cellOf[i] = c;
        ++m_start[size_t(c) + 1];
    }
    m_count.resize(m_start.size() - 1);
    for (size_t c = 0; c + 1 < m_start.size(); ++c)
        m_count[c] = m_start[c + 1];
    for (size_t c = 1; c < m_start.size(); ++c)
        m_start[c] += m_start[c - 1];
    m_items.resize(m_ends.size());
    std::vector<int> fill(m_start.begin(), m_start.end() - 1);
    for (size_t i = 0; i < m_ends.size(); ++i)
        m_items[size_t(fill[size_t(m_cellOf[i])]++)] = int(i);
    m_valid = true;
}

void NearestEnds::remove(int path)
{
    m_alive[size_t(path)] = 0;
    if (!m_valid)
        return;
    for (int e = m_pathFirst[size_t(path)]; e < m_pathFirst[size_t(path) + 1]; ++e) {
        // Out of its cell, the others keeping their order.
        const int c = m_cellOf[size_t(e)];
        int *const first = m_items.data() + m_start[size_t(c)], *const last = first + m_count[size_t(c)];
        int *const at = std::find(first, last, e);
        if (at != last) {
            std::copy(at + 1, last, at);
            --m_count[size_t(c)];
        }
    }
}

int NearestEnds::cellOf(float v, float origin, int count) const
{
    const double c = std::floor((double(v) - origin) / m_cell);
    return int(std::clamp(c, 0.0, double(count - 1)));
}

int NearestEnds::find(PolyPoint head, int *vertex) const
{
    auto dist2 = [&](const End &e) {
        const float dx = e.x - head.x, dy = e.y - head.y;
        return dx * dx + dy * dy;
    };
    int found = -1; // index into m_ends
    if (m_valid && std::isfinite(head.x) && std::isfinite(head.y)) {
        // 1. The first end in order within the radius: every end before it
        // is farther, so findNearest stops there. The cells within the
        // radius and a margin far above the float rounding of the distance
        // and of the coordinates.
        const double reach = double(m_r) * 1.001 + 1e-3 + 1e-5 * (std::fabs(double(head.x)) + std::fabs(double(head.y)));
        const int cx0 = cellOf(float(head.x - reach), m_x0, m_cw), cx1 = cellOf(float(head.x + reach), m_x0, m_cw);
        const int cy0 = cellOf(float(head.y - reach), m_y0, m_ch), cy1 = cellOf(float(head.y + reach), m_y0, m_ch);
        for (int cy = cy0; cy <= cy1; ++cy)
            for (int cx = cx0; cx <= cx1; ++cx) {
                const int c = cy * m_cw + cx;
                for (int k = m_start[size_t(c)], kEnd = k + m_count[size_t(c)]; k < kEnd; ++k) {
                    const int i = m_items[size_t(k)];
                    if (found >= 0 && i >= found)
                        break; // a cell's ends are in order
                    const End &e = m_ends[size_t(i)];
                    const float d = dist2(e);
                    if (m_alive[size_t(e.path)] && d <= m_r2 && d < 1e30f)
                        found = i;
                }
            }
        if (found < 0) {
            // 2. The nearest end, the first of equals: rings of cells around
            // the head's cell until no unseen cell can hold one as near.
            const double hx = std::floor((double(head.x) - m_x0) / m_cell);
            const double hy = std::floor((double(head.y) - m_y0) / m_cell);
            const double far = std::max({std::fabs(hx), std::fabs(hx - (m_cw - 1)), std::fabs(hy),
                                         std::fabs(hy - (m_ch - 1))});
            if (far < 1e8) {
                const int ix = int(hx), iy = int(hy), maxRing = int(far);
                // Rings that do not reach the grid hold nothing.
                const int firstRing = std::max({0, -ix, ix - (m_cw - 1), -iy, iy - (m_ch - 1)});
                float best = 1e30f;
                auto visit = [&](int c) {
                    for (int k = m_start[size_t(c)], kEnd = k + m_count[size_t(c)]; k < kEnd; ++k) {
                        const int i = m_items[size_t(k)];
                        const End &e = m_ends[size_t(i)];
                        if (!m_alive[size_t(e.path)])
                            continue;
                        const float d = dist2(e);
                        if (d < best || (d == best && found >= 0 && i < found)) {
                            best = d;
                            found = i;
                        }
                    }
                };
                for (int ring = firstRing; ring <= maxRing; ++ring) {
                    // An end in ring `ring` is at least (ring - 1) cells away.
                    if (found >= 0 && ring >= 2) {
                        const double gap = double(ring - 1) * m_cell;
                        if (gap * gap > double(best) * 1.0001 + 1e-6)
                            break;
                    }
                    const int y0 = std::max(iy - ring, 0), y1 = std::min(iy + ring, m_ch - 1);
                    const int xa = std::max(ix - ring, 0), xb = std::min(ix + ring, m_cw - 1);
                    for (int cy = y0; cy <= y1; ++cy) {
                        // The ring's top and bottom rows whole, its sides' two cells otherwise.
                        if (cy == iy - ring || cy == iy + ring) {
                            for (int cx = xa; cx <= xb; ++cx)
                                visit(cy * m_cw + cx);
                            continue;
                        }
                        if (ix - ring >= 0 && ix - ring < m_cw)
                            visit(cy * m_cw + ix - ring);
                        if (ix + ring >= 0 && ix + ring < m_cw)
                            visit(cy * m_cw + ix + ring);
                    }
                }
            }
        }
    }
    if (found < 0)
        return -1;
    if (vertex)
        *vertex = m_ends[size_t(found)].vertex;
    return m_ends[size_t(found)].path;
}
