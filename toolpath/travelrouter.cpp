#include "toolpath/travelrouter.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <queue>
#include <vector>

namespace {

// shrinkManhattan's rows: Fixed > 0 is n known when compiling (the window's
// ANDs unrolled per word), 0 any n.
template <int Fixed>
void shrinkRows(const Plane1 &src, int n, Plane1 &out)
{
    if (Fixed > 0)
        n = Fixed;
    const int w = src.width, h = src.height;
    const int words = (w + 63) / 64, stride = src.stride();
    const int window = 2 * n + 1, levels = n + 1;
    // Per row of the window (row y in slot y % window), its shrinks by
    // r = 0 .. n pixels along the row: pixel x set when x - r .. x + r are.
    // Each is words + 2 long, a clear word on either side (the plane's
    // edges), so the loops below carry no state from word to word.
    const int span = words + 2;
    std::vector<quint64> ring(size_t(window) * levels * span, 0);
    auto level = [&](int slot, int r) { return ring.data() + (size_t(slot) * levels + r) * span + 1; };
    auto load = [&](int y, int slot) {
        quint64 *e = level(slot, 0);
        e[words - 1] = 0; // a width of 32 more than whole words: the rest is clear
        std::memcpy(e, src.row(y), size_t(stride));
        if (Fixed > 0) {
            // All shrinks of a word at once from it and its neighbours;
            // words clear, or set with both neighbours, stay so.
            quint64 *lv[Fixed + 1];
            for (int r = 0; r <= Fixed; ++r)
                lv[r] = level(slot, r);
            for (int i = 0; i < words; ++i) {
                const quint64 a = e[i - 1], b = e[i], c = e[i + 1];
                if (b == 0 || (a & b & c) == ~quint64(0)) {
                    for (int r = 1; r <= Fixed; ++r)
                        lv[r][i] = b;
                    continue;
                }
                quint64 v = b;
                for (int r = 1; r <= Fixed; ++r) {
                    v &= (b << r | a >> (64 - r)) & (b >> r | c << (64 - r));
                    lv[r][i] = v;
                }
            }
            return;
        }
        for (int r = 1; r <= n; ++r) {
            const quint64 *a = level(slot, r - 1);
            quint64 *b = level(slot, r);
            for (int i = 0; i < words; ++i)
                b[i] = a[i] & (a[i] << 1 | a[i - 1] >> 63) & (a[i] >> 1 | a[i + 1] << 63);
        }
    };
    std::vector<quint64> accBuf(static_cast<size_t>(words));
    quint64 *const acc = accBuf.data();
    // The window's rows at their shrinks, n - |d| for row y + d; rows
    // outside the plane are the all-set row (they take no part).
    std::vector<quint64> allSet(static_cast<size_t>(words), ~quint64(0));
    std::vector<const quint64 *> partBuf(static_cast<size_t>(window));
    const quint64 **const part = partBuf.data();
    int loaded = 0, loadSlot = 0, slot = 1 % window; // slot of row y
    for (int y = 1; y < h - 1; ++y) {
        while (loaded <= std::min(h - 1, y + n)) {
            load(loaded++, loadSlot);
            loadSlot = loadSlot + 1 == window ? 0 : loadSlot + 1;
        }
        for (int d = -n; d <= n; ++d) {
            int sl = slot + d;
            sl = sl < 0 ? sl + window : sl >= window ? sl - window : sl;
            part[d + n] = y + d >= 0 && y + d < h ? level(sl, n - std::abs(d)) : allSet.data();
        }
        if (Fixed > 0) {
            for (int i = 0; i < words; ++i) {
                quint64 v = part[Fixed][i]; // the row itself: clear words stay clear
                if (v)
                    for (int k = 0; k < 2 * Fixed + 1; ++k)
                        v &= part[k][i];
                acc[i] = v;
            }
        } else {
            std::memcpy(acc, part[0], size_t(words) * 8);
            for (int k = 1; k < window; ++k) {
                const quint64 *e = part[k];
                for (int i = 0; i < words; ++i)
                    acc[i] &= e[i];
            }
        }
        std::memcpy(out.row(y), acc, size_t(stride));
        slot = slot + 1 == window ? 0 : slot + 1;
    }
}

} // namespace

Plane1 shrinkManhattan(const Plane1 &src, int n)
{
    const int w = src.width, h = src.height;
    if (n <= 0 || n > 64 || w % 32 != 0 || h < 3 || w <= 0)
        return src.offsetN(n, 'a', 'a');
    Plane1 out(w, h);
    const int stride = src.stride();
    std::memcpy(out.row(0), src.row(0), size_t(stride));
    std::memcpy(out.row(h - 1), src.row(h - 1), size_t(stride));
    switch (n) { // the travel area's shrink is 4 pixels at the usual scale
    case 3: shrinkRows<3>(src, n, out); break;
    case 4: shrinkRows<4>(src, n, out); break;
    case 5: shrinkRows<5>(src, n, out); break;
    default: shrinkRows<0>(src, n, out); break;
    }
    return out;
}

void shrinkManhattanRuns(const Plane1 &mask, const RunLabels &maskAreas, int n, Plane1 &out, RunLabels &outAreas)
{
    const int w = mask.width, h = mask.height;
    if (n <= 0 || n > 64 || w % 32 != 0 || h < 3 || w <= 0 || maskAreas.width() != w || maskAreas.height() != h) {
        out = shrinkManhattan(mask, n);
        outAreas = RunLabels(out, false);
        return;
    }
    out.setSize(QSize(w, h));
    const int stride = mask.stride(), words = (w + 63) / 64;
    std::vector<RunLabels::Run> runs;
    runs.reserve(size_t(maskAreas.rowBegin(h)) + 2 * size_t(h)); // the mask's and the border strips
    std::vector<int> rowStart(size_t(h) + 1);
    std::vector<quint64> row(static_cast<size_t>(words));
    std::vector<RunLabels::Run> spans;
    quint64 *const bits = row.data();
    auto clearSpan = [bits](int a, int b) {
        if (a >= b)
            return;
        const int wa = a >> 6, wb = (b - 1) >> 6;
        const quint64 ma = ~quint64(0) << (a & 63), mb = ~quint64(0) >> (63 - ((b - 1) & 63));
        if (wa == wb) {
            bits[wa] &= ~(ma & mb);
            return;
        }
        bits[wa] &= ~ma;
        for (int i = wa + 1; i < wb; ++i)
            bits[i] = 0;
        bits[wb] &= ~mb;
    };
    // changed[y]: how many of the mask's rows 1 .. y differ from the row
    // above. A row whose window holds one row over again (outside the part,
    // along a straight edge) is the row above it over again too.
    std::vector<int> changed(static_cast<size_t>(h), 0);
    for (int y = 1; y < h; ++y) {
        const int b0 = maskAreas.rowBegin(y - 1), b1 = maskAreas.rowBegin(y), b2 = maskAreas.rowBegin(y + 1);
        bool same = b2 - b1 == b1 - b0;
        for (int i = 0; same && i < b1 - b0; ++i)
            same = maskAreas.run(b0 + i).x0 == maskAreas.run(b1 + i).x0
                && maskAreas.run(b0 + i).x1 == maskAreas.run(b1 + i).x1;
        changed[size_t(y)] = changed[size_t(y - 1)] + (same ? 0 : 1);
    }
    // countSteps[y]: how many of rows 1 .. y have another number of clear
    // runs than the row above.
    std::vector<int> countSteps(static_cast<size_t>(h), 0);
    // The mask's runs (stored one after another) and row starts as plain
    // arrays for the windows below.
    const RunLabels::Run *const maskRuns = maskAreas.rowBegin(h) > 0 ? &maskAreas.run(0) : nullptr;
    std::vector<int> maskRow(size_t(h) + 1);
    for (int y = 0; y <= h; ++y)
        maskRow[size_t(y)] = maskAreas.rowBegin(y);
    for (int y = 1; y < h; ++y) {
        const int c0 = maskAreas.rowBegin(y) - maskAreas.rowBegin(y - 1);
        const int c1 = maskAreas.rowBegin(y + 1) - maskAreas.rowBegin(y);
        countSteps[size_t(y)] = countSteps[size_t(y - 1)] + (c0 != c1 ? 1 : 0);
    }
    for (int y = 0; y < h; ++y) {
        rowStart[size_t(y)] = int(runs.size());
        if (y >= 2 && y < h - 1
            && changed[size_t(std::min(h - 1, y + n))] == changed[size_t(std::max(0, y - n - 1))]) {
            std::memcpy(out.row(y), out.row(y - 1), size_t(stride));
            for (int i = rowStart[size_t(y - 1)]; i < rowStart[size_t(y)]; ++i)
                runs.push_back(runs[size_t(i)]);
            continue;
        }
        if (y == 0 || y == h - 1) { // kept as they are
            std::memcpy(out.row(y), mask.row(y), size_t(stride));
            for (int i = maskAreas.rowBegin(y); i < maskAreas.rowBegin(y + 1); ++i)
                runs.push_back({maskAreas.run(i).x0, maskAreas.run(i).x1, 0});
            continue;
        }
        // The row's clear spans, kept sorted and merged as each widened run
        // of the window comes in: the window's rows mostly repeat each
        // other, so the list stays short.
        spans.clear();
        auto add = [&spans](int a, int b) {
            if (a >= b)
                return;
            size_t k = 0;
            while (k < spans.size() && spans[k].x1 < a)
                ++k;
            if (k == spans.size() || spans[k].x0 > b) {
                spans.insert(spans.begin() + std::ptrdiff_t(k), RunLabels::Run{a, b, 0});
                return;
            }
            RunLabels::Run &m = spans[k];
            m.x0 = std::min(m.x0, a);
            m.x1 = std::max(m.x1, b);
            size_t j = k + 1;
            while (j < spans.size() && spans[j].x0 <= m.x1)
                m.x1 = std::max(m.x1, spans[j++].x1);
            spans.erase(spans.begin() + std::ptrdiff_t(k + 1), spans.begin() + std::ptrdiff_t(j));
        };
        add(0, std::min(n, w));
        // The row's spans from intervals sorted by start (the border
        // strips placed among them), touching ones merged.
        auto sweep = [&spans, n, w](RunLabels::Run *c, int count) {
            c[count++] = {std::max(0, w - n), w, 0};
            for (int i = count - 1; i > 0 && c[i - 1].x0 > c[i].x0; --i)
                std::swap(c[i - 1], c[i]);
            spans.clear();
            RunLabels::Run cur = c[0];
            for (int i = 1; i < count; ++i) {
                if (c[i].x0 <= cur.x1) {
                    cur.x1 = std::max(cur.x1, c[i].x1);
                } else {
                    spans.push_back(cur);
                    cur = c[i];
                }
            }
            spans.push_back(cur);
        };
        // A window whose rows have as many clear runs, the i-th runs of all
        // of them, widened, sharing a pixel edge or more (an outline moves
        // little from row to row): the union of the i-th runs is the one
        // span from their least start to their greatest end.
        constexpr int kAligned = 8;
        const int ya = std::max(0, y - n), yb = std::min(h - 1, y + n);
        const int k = maskRow[size_t(y) + 1] - maskRow[size_t(y)];
        const bool sameCounts = countSteps[size_t(yb)] == countSteps[size_t(ya)];
        bool done = false;
        if (k == 1 && sameCounts) {
            // The usual case on its own, in registers.
            int lo = INT_MAX, hi = INT_MIN, common0 = INT_MIN, common1 = INT_MAX;
            for (int yy = ya; yy <= yb; ++yy) {
                const int r = n - std::abs(yy - y);
                const RunLabels::Run &m = maskRuns[maskRow[size_t(yy)]];
                const int a = std::max(0, m.x0 - r), b = std::min(w, m.x1 + r);
                lo = std::min(lo, a);
                hi = std::max(hi, b);
                common0 = std::max(common0, a);
                common1 = std::min(common1, b);
            }
            if (common0 <= common1) {
                RunLabels::Run c[3] = {{0, std::min(n, w), 0}, {lo, hi, 0}};
                sweep(c, 2);
                done = true;
            }
        } else if (k >= 2 && k <= kAligned && sameCounts) {
            int lo[kAligned], hi[kAligned], common0[kAligned], common1[kAligned];
            for (int i = 0; i < k; ++i) {
                lo[i] = common1[i] = INT_MAX;
                hi[i] = common0[i] = INT_MIN;
            }
            for (int yy = ya; yy <= yb; ++yy) {
                const int r = n - std::abs(yy - y);
                const RunLabels::Run *row = maskRuns + maskRow[size_t(yy)];
                for (int i = 0; i < k; ++i) {
                    const RunLabels::Run &m = row[i];
                    const int a = std::max(0, m.x0 - r), b = std::min(w, m.x1 + r);
                    lo[i] = std::min(lo[i], a);
                    hi[i] = std::max(hi[i], b);
                    common0[i] = std::max(common0[i], a);
                    common1[i] = std::min(common1[i], b);
                }
            }
            bool aligned = true;
            for (int i = 0; i < k && aligned; ++i)
                aligned = common0[i] <= common1[i];
            if (aligned) {
                // The i-th unions start in order: so do the i-th runs of every row.
                RunLabels::Run c[kAligned + 2];
                c[0] = {0, std::min(n, w), 0};
                for (int i = 0; i < k; ++i)
                    c[i + 1] = {lo[i], hi[i], 0};
                sweep(c, k + 1);
                done = true;
            }
        }
        if (done) {
            std::fill(row.begin(), row.end(), ~quint64(0));
            for (const RunLabels::Run &m : spans) {
                clearSpan(m.x0, m.x1);
                runs.push_back(m);
            }
            std::memcpy(out.row(y), bits, size_t(stride));
            continue;
        }
        for (int d = -n; d <= n; ++d) {
            const int yy = y + d;
            if (yy < 0 || yy >= h)
                continue;
            const int r = n - std::abs(d);
            for (int i = maskAreas.rowBegin(yy); i < maskAreas.rowBegin(yy + 1); ++i)
                add(std::max(0, maskAreas.run(i).x0 - r), std::min(w, maskAreas.run(i).x1 + r));
        }
        add(std::max(0, w - n), w);
        std::fill(row.begin(), row.end(), ~quint64(0));
        for (const RunLabels::Run &m : spans) {
            clearSpan(m.x0, m.x1);
            runs.push_back(m);
        }
        std::memcpy(out.row(y), bits, size_t(stride));
    }
    rowStart[size_t(h)] = int(runs.size());
    outAreas = RunLabels(w, h, std::move(runs), rowStart);
}

namespace {

constexpr int kBlock = 4;

// A* over a w x h grid of cells, 8-connected without corner cutting, octile
// heuristic; ties broken by (f, h, index) so the result never varies. Cells
// are passed to `free` in grid coordinates. Fills `cells` with the path
// (start first) as cell indices.
template <class Free>
bool astar(int w, int h, Free free, int sx, int sy, int gx, int gy, std::vector<int> &cells)
{
    const size_t n = size_t(w) * size_t(h);
    std::vector<float> g(n, 1e30f);
    std::vector<int> parent(n, -1);
    std::vector<unsigned char> closed(n, 0);
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
    const int start = sy * w + sx, goal = gy * w + gx;
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
        const int cx = cur.idx % w, cy = cur.idx / w;
        for (int k = 0; k < 8; ++k) {
            const int nx = cx + DX[k], ny = cy + DY[k];
            if (nx < 0 || ny < 0 || nx >= w || ny >= h || !free(nx, ny))
                continue;
            if (k >= 4 && (!free(nx, cy) || !free(cx, ny)))
                continue;
            const int ni = ny * w + nx;
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
    cells.clear();
    for (int i = goal; i >= 0; i = parent[i])
        cells.push_back(i);
    std::reverse(cells.begin(), cells.end());
    return true;
}

} // namespace

QVector<unsigned char> freeBlocks4Scalar(const Plane1 &mask)
{
    const int bw = mask.width / kBlock, bh = mask.height / kBlock;
    QVector<unsigned char> blocks(bw * bh);
    for (int by = 0; by < bh; ++by) {
        for (int bx = 0; bx < bw; ++bx) {
            bool all = true;
            for (int y = by * kBlock; y < (by + 1) * kBlock && all; ++y)
                for (int x = bx * kBlock; x < (bx + 1) * kBlock && all; ++x)
                    all = !mask.pixel(x, y);
            blocks[by * bw + bx] = all;
        }
    }
    return blocks;
}

QVector<unsigned char> freeBlocks4(const Plane1 &mask)
{
    static_assert(kBlock == 4, "a block is half a byte of a row");
    const int bw = mask.width / kBlock, bh = mask.height / kBlock;
    QVector<unsigned char> blocks(bw * bh);
    unsigned char *out = blocks.data();
    for (int by = 0; by < bh; ++by) {
        const uchar *r0 = mask.row(4 * by), *r1 = mask.row(4 * by + 1), *r2 = mask.row(4 * by + 2),
                    *r3 = mask.row(4 * by + 3);
        // Pixel x is bit x & 7 of byte x >> 3: block bx is the low or high
        // half of byte bx >> 1, in all four rows. Sixteen blocks at a time
        // from eight bytes of each row, then the rest byte by byte.
        int bx = 0;
        for (; bx + 16 <= bw; bx += 16) {
            const int j = bx >> 1;
            quint64 a, b, c, d;
            std::memcpy(&a, r0 + j, 8);
            std::memcpy(&b, r1 + j, 8);
            std::memcpy(&c, r2 + j, 8);
            std::memcpy(&d, r3 + j, 8);
            const quint64 v = a | b | c | d;
            const quint64 any = (v | v >> 1 | v >> 2 | v >> 3) & 0x1111111111111111ULL; // per half byte
            // Bit 4k to byte k, eight half bytes at a time: the upper four
            // move up 16 bits, then the upper two of each four 8, then every
            // second one 4.
            for (int half = 0; half < 2; ++half) {
                quint64 t = (any >> (32 * half)) & 0xFFFFFFFFULL;
                t = (t & 0x0000FFFFULL) | ((t & 0xFFFF0000ULL) << 16);
                t = (t & 0x000000FF000000FFULL) | ((t & 0x0000FF000000FF00ULL) << 8);
                t = (t & 0x000F000F000F000FULL) | ((t & 0x00F000F000F000F0ULL) << 4);
                t ^= 0x0101010101010101ULL;
                std::memcpy(out + bx + 8 * half, &t, 8);
            }
        }
        for (; bx < bw; ++bx) {
            const int j = bx >> 1, shift = (bx & 1) * 4;
            const unsigned v = unsigned(r0[j] | r1[j] | r2[j] | r3[j]) >> shift;
            out[bx] = (v & 0xF) == 0;
        }
        out += bw;
    }
    return blocks;
}

namespace {

// Whether pixels x0 .. x1 of a row are all clear.
bool rowClear(const uchar *row, int x0, int x1)
{
    const int b0 = x0 >> 3, b1 = x1 >> 3;
    const uchar first = uchar(0xFF << (x0 & 7)), last = uchar(0xFF >> (7 - (x1 & 7)));
    if (b0 == b1)
        return !(row[b0] & first & last);
    if (row[b0] & first || row[b1] & last)
        return false;
    int b = b0 + 1;
    for (; b + 8 <= b1; b += 8) {
        quint64 w;
        std::memcpy(&w, row + b, 8);
        if (w)
            return false;
    }
    for (; b < b1; ++b)
        if (row[b])
            return false;
    return true;
}

// Whether every pixel within a hair of the segment a -> b is clear, row by
// row over the columns the segment spans in each: then every half-pixel
// sample of it is, whatever its float rounding. False also where the
// segment comes near the plane's border (the samples decide there).
bool nearPixelsClear(const Plane1 &mask, PolyPoint a, PolyPoint b)
{
    const double ax = a.x, ay = a.y, bx = b.x, by = b.y;
    const double far = std::max({std::fabs(ax), std::fabs(ay), std::fabs(bx), std::fabs(by)});
    // A sample a + t (b - a) in floats strays a few float units of the
    // coordinates from the segment.
    const double hair = 1e-3 + 2e-6 * far;
    const double x0 = std::min(ax, bx) - hair, x1 = std::max(ax, bx) + hair;
    const double y0 = std::min(ay, by) - hair, y1 = std::max(ay, by) + hair;
    if (!(x0 >= 0 && y0 >= 0 && x1 < mask.width && y1 < mask.height))
        return false;
    const double dx = bx - ax, dy = by - ay;
    const bool flat = !(std::fabs(dy) > 1e-9);
    for (int y = int(y0); y <= int(y1); ++y) {
        double xa = x0, xb = x1;
        if (!flat) {
            // Where the segment is within the row widened by the hair.
            const double ta = std::clamp((y - hair - ay) / dy, 0.0, 1.0);
            const double tb = std::clamp((y + 1 + hair - ay) / dy, 0.0, 1.0);
            const double pa = ax + ta * dx, pb = ax + tb * dx;
            xa = std::max(x0, std::min(pa, pb) - hair);
            xb = std::min(x1, std::max(pa, pb) + hair);
        }
        if (!rowClear(mask.row(y), int(xa), int(xb)))
            return false;
    }
    return true;
}

} // namespace

TravelRouter::TravelRouter(const Plane1 &mask) : m_mask(mask), m_areas(mask, false) {}

TravelRouter::TravelRouter(const Plane1 &mask, const RunLabels &areas) : m_mask(mask), m_areas(areas) {}

bool TravelRouter::segmentFree(PolyPoint a, PolyPoint b) const
{
    const float dx = b.x - a.x, dy = b.y - a.y;
    const float len = std::sqrt(dx * dx + dy * dy);
    if (!std::isfinite(len))
        return false;
    if (nearPixelsClear(m_mask, a, b))
        return true;
    const int n = std::max(1, int(std::ceil(len * 2.0f)));
    // Within int range (any real point is) a sample is floored by
    // truncating it, which without SSE4.1 is cheaper than floor().
    const float far = std::max({std::fabs(a.x), std::fabs(a.y), std::fabs(b.x), std::fabs(b.y)});
    if (!(far < 1e9f)) {
        for (int i = 0; i <= n; ++i) {
            const float t = float(i) / float(n);
            if (!freeAt(int(std::floor(a.x + t * dx)), int(std::floor(a.y + t * dy))))
                return false;
        }
        return true;
    }
    auto ifloor = [](float v) {
        const int i = int(v);
        return v < float(i) ? i - 1 : i;
    };
    for (int i = 0; i <= n; ++i) {
        const float t = float(i) / float(n);
        if (!freeAt(ifloor(a.x + t * dx), ifloor(a.y + t * dy)))
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

bool TravelRouter::blockFree(int bx, int by) const
{
    return m_blocks.constData()[by * m_bw + bx] != 0;
}

bool TravelRouter::blockRoute(PolyPoint from, PolyPoint to, QVector<PolyPoint> &way) const
{
    if (!m_blocksMade.load(std::memory_order_acquire)) {
#pragma omp critical(travelRouterBlocks)
        if (!m_blocksMade.load(std::memory_order_relaxed)) {
            m_bw = m_mask.width / kBlock;
            m_bh = m_mask.height / kBlock;
            m_blocks = freeBlocks4(m_mask);
            m_blocksMade.store(true, std::memory_order_release);
        }
    }
    if (m_bw == 0 || m_bh == 0)
        return false;
    auto centre = [](int bx, int by) {
        return PolyPoint(float(bx * kBlock) + kBlock * 0.5f, float(by * kBlock) + kBlock * 0.5f);
    };
    // The free block nearest to p whose centre p sees in a straight line.
    auto entry = [&](PolyPoint p, int &ex, int &ey) {
        const int cx = int(std::floor(p.x)) / kBlock, cy = int(std::floor(p.y)) / kBlock;
        float best = 1e30f;
        for (int by = cy - 2; by <= cy + 2; ++by) {
            for (int bx = cx - 2; bx <= cx + 2; ++bx) {
                if (bx < 0 || by < 0 || bx >= m_bw || by >= m_bh || !blockFree(bx, by))
                    continue;
                const PolyPoint c = centre(bx, by);
                const float d = (c.x - p.x) * (c.x - p.x) + (c.y - p.y) * (c.y - p.y);
                if (d < best && segmentFree(p, c)) {
                    best = d;
                    ex = bx;
                    ey = by;
                }
            }
        }
        return best < 1e30f;
    };
    int sx = 0, sy = 0, gx = 0, gy = 0;
    if (!entry(from, sx, sy) || !entry(to, gx, gy))
        return false;
    std::vector<int> cells;
    if (!astar(m_bw, m_bh, [this](int x, int y) { return blockFree(x, y); }, sx, sy, gx, gy, cells))
        return false;
    way.clear();
    way.append(from);
    for (int c : cells)
        way.append(centre(c % m_bw, c / m_bw));
    way.append(to);
    return true;
}

bool TravelRouter::pixelRoute(PolyPoint from, PolyPoint to, int sx, int sy, int gx, int gy,
                              QVector<PolyPoint> &way) const
{
    // Most detours stay near the straight line: search a window around it
    // first, the whole plane only when the way round leaves the window.
    const int margin = std::max(32, (std::abs(gx - sx) + std::abs(gy - sy)) / 2);
    const int x0 = std::max(0, std::min(sx, gx) - margin);
    const int y0 = std::max(0, std::min(sy, gy) - margin);
    const int x1 = std::min(m_mask.width, std::max(sx, gx) + margin + 1);
    const int y1 = std::min(m_mask.height, std::max(sy, gy) + margin + 1);
    std::vector<int> cells;
    int ox = x0, oy = y0, w = x1 - x0;
    auto inWindow = [&](int x, int y) { return freeAt(x + ox, y + oy); };
    if (!astar(w, y1 - y0, inWindow, sx - ox, sy - oy, gx - ox, gy - oy, cells)) {
        ox = oy = 0;
        w = m_mask.width;
        if (!astar(w, m_mask.height, inWindow, sx, sy, gx, gy, cells))
            return false;
    }
    way.clear();
    for (int c : cells)
        way.append(PolyPoint(float(ox + c % w) + 0.5f, float(oy + c / w) + 0.5f));
    way.first() = from;
    if (way.size() > 1)
        way.last() = to;
    else
        way.append(to);
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
    int sx = 0, sy = 0, gx = 0, gy = 0;
    if (!snap(from, sx, sy) || !snap(to, gx, gy))
        return travel;
    const int area = m_areas.label(sx, sy);
    if (area < 0 || area != m_areas.label(gx, gy))
        return travel;

    QVector<PolyPoint> way;
    if (!blockRoute(from, to, way) && !pixelRoute(from, to, sx, sy, gx, gy, way))
        return travel;
    // Pull the way straight: from each kept vertex go to the furthest
    // following vertex still in sight.
    travel.pts.append(from);
    int anchor = 0;
    while (anchor < way.size() - 1) {
        int next = anchor + 1;
        while (next + 1 < way.size() && segmentFree(way[anchor], way[next + 1]))
            ++next;
        travel.pts.append(way[next]);
        anchor = next;
    }
    return travel;
}
