#include "raster/contourdetect3.h"
#include "raster/rasterperf.h"
#include "raster/paralell.h"
#include "raster/plane1.h"
#include "raster/plane8.h"

#include <emmintrin.h>
#include <omp.h>
#include <QString>
#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

// The block-by-block rule, kept as the reference for the row version below.
Plane8 contourBlocksToExamineScalar(const Plane8 &sum)
{
    Plane8 w = sum;
    const int bw = sum.width, bh = sum.height;
    for (int y = 0; y < bh; ++y)
        for (int x = 0; x < bw; ++x) {
            const uchar v = sum.pixel(x, y);
            if (v != 0 && v != 255) {
                w.setPixel(x, y, 128);
                continue;
            }
            bool edge = false;
            for (int dy = -1; dy <= 1 && !edge; ++dy)
                for (int dx = -1; dx <= 1 && !edge; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    if (nx < 0 || ny < 0 || nx >= bw || ny >= bh)
                        continue;
                    const uchar n = sum.pixel(nx, ny);
                    if ((n == 0 || n == 255) && n != v)
                        edge = true;
                }
            if (edge)
                w.setPixel(x, y, 128);
        }
    return w;
}

Plane8 contourBlocksToExamine(const Plane8 &sum)
{
    // Per block two flags, 1 all below and 2 all above, spread over the 3 x 3
    // neighbourhood: across each row, then an OR of three rows; sixteen
    // blocks at a time. Rows are read through a copy padded with 128 (no
    // flag), so no load leaves the summary.
    const int bw = sum.width, bh = sum.height;
    Plane8 w = sum;
    if (bw <= 0 || bh <= 0)
        return w;
    const int padW = (bw + 15) & ~15;
    std::vector<uchar> padded(size_t(padW), 128), flags(size_t(padW) + 32, 0), spread(size_t(padW) * 3);
    const __m128i zero = _mm_setzero_si128(), ones = _mm_set1_epi8(char(0xFF));
    const __m128i one = _mm_set1_epi8(1), two = _mm_set1_epi8(2), mid = _mm_set1_epi8(char(128));
    auto load = [](const uchar *q) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(q)); };
    auto rowBytes = [&](int y) {
        std::memcpy(padded.data(), sum.data + size_t(y) * bw, size_t(bw));
        return padded.data();
    };
    auto rowSpread = [&](int y, uchar *out) {
        const uchar *r = rowBytes(y);
        uchar *f = flags.data() + 16;  // f[-1] and f[bw …] stay 0
        for (int x = 0; x < padW; x += 16) {
            const __m128i v = load(r + x);
            const __m128i flag = _mm_or_si128(_mm_and_si128(_mm_cmpeq_epi8(v, zero), one),
                                              _mm_and_si128(_mm_cmpeq_epi8(v, ones), two));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(f + x), flag);
        }
        for (int x = 0; x < padW; x += 16)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x),
                             _mm_or_si128(_mm_or_si128(load(f + x - 1), load(f + x)), load(f + x + 1)));
    };
    // Rows y - 1, y and y + 1 live in slots (y + 2) % 3, y % 3 and (y + 1) % 3.
    uchar *slot[3] = {spread.data(), spread.data() + padW, spread.data() + 2 * padW};
    rowSpread(0, slot[0]);
    std::fill(slot[2], slot[2] + padW, uchar(0));
    alignas(16) uchar outRow[16];
    for (int y = 0; y < bh; ++y) {
        uchar *below = slot[(y + 1) % 3];
        if (y + 1 < bh)
            rowSpread(y + 1, below);
        else
            std::fill(below, below + padW, uchar(0));
        const uchar *above = slot[(y + 2) % 3], *here = slot[y % 3];
        const uchar *r = rowBytes(y);
        uchar *o = w.data + size_t(y) * bw;
        for (int x = 0; x < bw; x += 16) {
            const __m128i near = _mm_or_si128(_mm_or_si128(load(above + x), load(here + x)), load(below + x));
            const __m128i v = load(r + x);
            const __m128i is0 = _mm_cmpeq_epi8(v, zero), is255 = _mm_cmpeq_epi8(v, ones);
            const __m128i has1 = _mm_cmpeq_epi8(_mm_and_si128(near, one), one);
            const __m128i has2 = _mm_cmpeq_epi8(_mm_and_si128(near, two), two);
            // A 0 block beside a 255 one, a 255 block beside a 0 one, and
            // every block neither.
            const __m128i edge = _mm_or_si128(_mm_or_si128(_mm_and_si128(is0, has2), _mm_and_si128(is255, has1)),
                                              _mm_andnot_si128(_mm_or_si128(is0, is255), ones));
            const __m128i res = _mm_or_si128(_mm_and_si128(edge, mid), _mm_andnot_si128(edge, v));
            if (x + 16 <= bw) {
                _mm_storeu_si128(reinterpret_cast<__m128i *>(o + x), res);
            } else {
                _mm_store_si128(reinterpret_cast<__m128i *>(outRow), res);
                std::memcpy(o + x, outRow, size_t(bw - x));
            }
        }
    }
    return w;
}

namespace {

const int kLabels = 127;
// A block examined, once grouped (no other block is 1 then).
const uchar kGrouped = 1;

// 8-connected flood fill of the 128 blocks into up to 127 lists; labels
// wrap, so later groups share lists. Entries are by * 65536 + bx. Leaves
// examined blocks kGrouped.
//
// Clears, on the way, the marks a trace can set: those of each row's run of
// examined blocks (a span below) and of the column before it, where a
// crossing from a block not examined into one examined is marked. A contour
// crosses only between pixels on different sides of the level, so, the
// summary's uniform blocks being uniform, never anywhere else; the rest of
// the plane is not read, and clearing all of it cost more than the tracing
// on large plates.
std::vector<std::vector<int>> groupBlocks(Plane8 &work, Plane1 &visited)
{
    std::vector<std::vector<int>> groups(kLabels + 1);
    const int bw = work.width, bh = work.height;
    int label = 1;
    std::vector<int> stack;
    for (int y = 0; y < bh; ++y) {
        const uchar *scan = work.row(y);
        for (int x = 0; x < bw; ++x) {
            const void *found = std::memchr(scan + x, 128, size_t(bw - x));
            if (!found)
                break;
            x = int(static_cast<const uchar *>(found) - scan);
            std::vector<int> &list = groups[label];
            stack.assign(1, y * 65536 + x);
            while (!stack.empty()) {
                const int sy = stack.back() >> 16, sx = stack.back() & 0xFFFF;
                stack.pop_back();
                uchar *row = work.row(sy);
                if (row[sx] != 128)
                    continue;
                int l = sx, r = sx;
                while (l > 0 && row[l - 1] == 128) --l;
                while (r + 1 < bw && row[r + 1] == 128) ++r;
                for (int i = l; i <= r; ++i) {
                    row[i] = kGrouped;
                    list.push_back(sy * 65536 + i);
                }
                // The run's marks: two bytes a block, and the byte before.
                const int b0 = std::max(2 * l - 1, 0), b1 = 2 * r + 2;
                for (int py = sy * 16; py < sy * 16 + 16; ++py)
                    std::memset(visited.row(py) + b0, 0, size_t(b1 - b0));
                for (int ny = sy - 1; ny <= sy + 1; ny += 2) {
                    if (ny < 0 || ny >= bh)
                        continue;
                    const uchar *nrow = work.row(ny);
                    for (int i = std::max(l - 1, 0); i <= std::min(r + 1, bw - 1); ++i)
                        if (nrow[i] == 128 && (i == std::max(l - 1, 0) || nrow[i - 1] != 128))
                            stack.push_back(ny * 65536 + i);
                }
            }
            label = label == kLabels ? 1 : label + 1;
        }
    }
    return groups;
}

class Tracer {
public:
    Tracer(const Plane8 &src, Plane1 &visited, const PathParams &pp, std::vector<PolyPoint> &pts, bool plain)
        : m_src(src), m_w(src.width), m_h(src.height), m_visited(visited), m_visStride(visited.stride()), m_pp(pp),
          m_pts(pts), m_plain(plain) {}

    bool inside(int x, int y) const { return m_src.data[y * m_w + x] >= 128; }

    // Marks the horizontal edge between pixels (x, y) and (x + 1, y);
    // false when it was marked already.
    bool mark(int x, int y)
    {
        uchar &b = m_visited.row(y)[x >> 3];
        const uchar bit = uchar(1u << (x & 7));
        if (b & bit)
            return false;
        b |= bit;
        return true;
    }
    bool marked(int x, int y) const { return (m_visited.row(y)[x >> 3] >> (x & 7)) & 1; }

    // Traces the contour through the horizontal edge (x, y)-(x + 1, y),
    // whose pixels lie on different sides of the level.
    void trace(int x, int y, PathList &out)
    {
        // Walk state: pixel A on the left of the walking direction F, pixel
        // B on its right; forward, A is the inside one.
        State s;
        if (inside(x, y)) s = State{x, y, x + 1, y, 0, 1};
        else s = State{x + 1, y, x, y, 0, -1};

        // The crossings gather in the thread's buffer (reused from line to
        // line and from call to call; m_count of it in use) and become the
        // line's points once it is done.
        m_count = 0;
        const PolyPoint start = crossing(s);
        if (walk(s, true, false)) {
            // Back at the start edge: the loop is closed. Repeating the start
            // point lets the closing rule below drop the repeat instead of a
            // real crossing.
            add(start);
        } else {
            // Ended at the plane's border: walk the other way from the start
            // edge, then turn the whole run so the inside is on the left.
            std::reverse(m_pts.begin(), m_pts.begin() + std::ptrdiff_t(m_count));
            walk(State{s.bx, s.by, s.ax, s.ay, -s.fx, -s.fy}, false, true);
            std::reverse(m_pts.begin(), m_pts.begin() + std::ptrdiff_t(m_count));
        }
        PolyLine pl;
        pl.pts.resize(int(m_count));
        std::copy(m_pts.begin(), m_pts.begin() + std::ptrdiff_t(m_count), pl.pts.begin());
        finish(pl, out);
    }

private:
    struct State {
        int ax, ay, bx, by, fx, fy;
    };

    // PolyLine::addPoint for a crossing, which is always finite (the level
    // lies strictly between the two pixels' values): repeats are dropped.
    void add(PolyPoint p)
    {
        if (m_count > 0 && m_pts[m_count - 1] == p)
            return;
        if (m_count == m_pts.size())
            grow();
        m_pts[m_count++] = p;
    }
    // The buffer only grows: its size is its capacity.
    void grow() { m_pts.resize(std::max<size_t>(1024, 2 * m_pts.size())); }

    // Follows the iso-line edge by edge (marching squares on the squares of
    // four pixel centres). aInside tells which side A stands for. Returns
    // true when it reached an edge marked before, false at the border.
    bool walk(State s, bool aInside, bool skipFirst)
    {
        if (m_plain)
            return walkPlain(s, aInside, skipFirst);
        return aInside ? walkByDirection<true>(s, skipFirst) : walkByDirection<false>(s, skipFirst);
    }

    // A walk's state between steps, kept in registers: pixel A as a
    // pointer and as coordinates, the values of A and B, the row of the
    // visited bits at A's row, the steps left, and the crossings' write
    // position with the last one written (NaN for none: no crossing equals
    // it).
    struct Walk {
        const uchar *a;
        uchar *visRow;
        int ax, ay, va, vb;
        long long left;
        PolyPoint *cur, *end;
        float lastX, lastY;
    };
    // Outcomes of a step besides the next direction (0-3).
    static constexpr int kClosed = 4, kBorder = 5;

    // Steps of the walk heading in direction D (0 +x, 1 +y, 2 -x, 3 -y),
    // walkPlain's steps with F, the left L = (-F.y, F.x) and B = A - L as
    // constants, while it goes straight on; returns the direction it turns
    // to, or how it ended. `record`: mark and record the first edge (the walk
    // back from the start edge passes it).
    template <int D, bool AIn>
    __attribute__((always_inline)) int run(Walk &k, bool record)
    {
        constexpr int fx = D == 0 ? 1 : D == 2 ? -1 : 0, fy = D == 1 ? 1 : D == 3 ? -1 : 0;
        constexpr int lx = -fy, ly = fx;
        const int W = m_w;
        const std::ptrdiff_t fo = std::ptrdiff_t(fy) * W + fx, lo = std::ptrdiff_t(ly) * W + lx;
        for (;;) {
            if (k.left-- == 0)
                return kBorder;
            if (record) {
                if constexpr (fx == 0) {
                    // A and B share a row: B is A's right neighbour heading +y.
                    const int mx = D == 1 ? k.ax : k.ax - 1;
                    uchar &bits = k.visRow[mx >> 3];
                    const uchar bit = uchar(1u << (mx & 7));
                    if (bits & bit)
                        return kClosed;
                    bits |= bit;
                }
                // walkPlain's crossing with t * 0 (t is finite and not
                // negative: that adds +0), t * 1 and t * -1 written out.
                const float va = float(k.va), vb = float(k.vb);
                const float t = (va - 128.0f) / (va - vb);
                float px = k.ax + 0.5f, py = k.ay + 0.5f;
                if constexpr (lx == 1)
                    px -= t;
                else if constexpr (lx == -1)
                    px += t;
                if constexpr (ly == 1)
                    py -= t;
                else if constexpr (ly == -1)
                    py += t;
                if (!(px == k.lastX && py == k.lastY)) {
                    if (k.cur == k.end) {
                        const size_t count = size_t(k.cur - m_pts.data());
                        grow();
                        k.cur = m_pts.data() + count;
                        k.end = m_pts.data() + m_pts.size();
                    }
                    *k.cur++ = PolyPoint(px, py);
                    k.lastX = px;
                    k.lastY = py;
                }
            }
            record = true;
            if constexpr (fy == 0) {
                if (unsigned(k.ax + fx) >= unsigned(W))
                    return kBorder;
            } else {
                if (unsigned(k.ay + fy) >= unsigned(m_h))
                    return kBorder;
            }
            const uchar *c = k.a + fo, *d = k.a - lo + fo;
            const int vc = *c, vd = *d;
            const bool cIn = (vc >= 128) == AIn, dIn = (vd >= 128) == AIn;
            if (cIn && !dIn) {
                k.a = c;
                k.ax += fx;
                k.ay += fy;
                if constexpr (fy != 0)
                    k.visRow += fy * m_visStride;
                k.va = vc;
                k.vb = vd;
                continue;
            }
            bool turnLeft;
            if (!cIn && !dIn)
                turnLeft = true;
            else if (cIn && dIn)
                turnLeft = false;
            else
                turnLeft = (k.va + k.vb + vc + vd >= 4 * 128) != AIn;
            if (turnLeft) {  // B moves to C, F turns to L
                k.vb = vc;
                return (D + 1) & 3;
            }
            // A moves to D, F turns to -L
            k.a = d;
            k.ax += fx - lx;
            k.ay += fy - ly;
            if constexpr (fy - ly != 0)
                k.visRow += (fy - ly) * m_visStride;
            k.va = vd;
            return (D + 3) & 3;
        }
    }

    template <bool AIn>
    bool walkByDirection(const State &s, bool skipFirst)
    {
        // Every edge is crossed at most once; the bound only guards the loop.
        const float none = std::numeric_limits<float>::quiet_NaN();
        Walk k;
        k.a = m_src.data + std::ptrdiff_t(s.ay) * m_w + s.ax;
        k.visRow = m_visited.data + std::ptrdiff_t(s.ay) * m_visStride;
        k.ax = s.ax;
        k.ay = s.ay;
        k.va = *k.a;
        k.vb = m_src.data[std::ptrdiff_t(s.by) * m_w + s.bx];
        k.left = 2LL * m_w * m_h + 4;
        k.cur = m_pts.data() + m_count;
        k.end = m_pts.data() + m_pts.size();
        k.lastX = m_count > 0 ? m_pts[m_count - 1].x : none;
        k.lastY = m_count > 0 ? m_pts[m_count - 1].y : none;
        int dir = s.fx == 1 ? 0 : s.fy == 1 ? 1 : s.fx == -1 ? 2 : 3;
        bool record = !skipFirst;
        for (;;) {
            switch (dir) {
            case 0: dir = run<0, AIn>(k, record); break;
            case 1: dir = run<1, AIn>(k, record); break;
            case 2: dir = run<2, AIn>(k, record); break;
            default: dir = run<3, AIn>(k, record); break;
            }
            if (dir >= kClosed)
                break;
            record = true;
        }
        m_count = size_t(k.cur - m_pts.data());
        return dir == kClosed;
    }

    // The walk as first written, one state for every direction: the twin
    // the direction cases are checked against.
    bool walkPlain(State s, bool aInside, bool skipFirst)
    {
        // Every edge is crossed at most once; the bound only guards the loop.
        const long long maxSteps = 2LL * m_w * m_h + 4;
        const uchar *src = m_src.data;
        // The pixels by offset (A and B always lie in the plane).
        int oa = s.ay * m_w + s.ax, ob = s.by * m_w + s.bx;
        for (long long step = 0; step < maxSteps; ++step) {
            if (!skipFirst) {
                if (s.ay == s.by && !mark(std::min(s.ax, s.bx), s.ay))
                    return true;
                add(crossing(s, src[oa], src[ob]));
            }
            skipFirst = false;
            // The square ahead: C ahead of A, D ahead of B. F runs along
            // one axis and A-B across it, so C and D leave the plane
            // together, along F's axis.
            const int cx = s.ax + s.fx, cy = s.ay + s.fy, dx = s.bx + s.fx, dy = s.by + s.fy;
            if (s.fy == 0 ? unsigned(cx) >= unsigned(m_w) : unsigned(cy) >= unsigned(m_h))
                return false;
            const int fo = s.fy * m_w + s.fx, oc = oa + fo, od = ob + fo;
            const bool c = (src[oc] >= 128) == aInside, d = (src[od] >= 128) == aInside;
            const int lx = s.ax - s.bx, ly = s.ay - s.by; // the left
            bool left; // leave through A-C (turn left) or through B-D (turn right)
            if (c && !d) {
                s.ax = cx; s.ay = cy; s.bx = dx; s.by = dy;
                oa = oc;
                ob = od;
                continue;
            } else if (!c && !d) {
                left = true;
            } else if (c && d) {
                left = false;
            } else {
                // Saddle, A and D on one side: they are joined when the
                // square's centre (mean of its corners) is on their side too.
                const int sum = src[oa] + src[ob] + src[oc] + src[od];
                left = (sum >= 4 * 128) != aInside;
            }
            if (left) {
                s.bx = cx; s.by = cy;
                ob = oc;
                s.fx = lx; s.fy = ly;
            } else {
                s.ax = dx; s.ay = dy;
                oa = od;
                s.fx = -lx; s.fy = -ly;
            }
        }
        return false;
    }

    int val(int x, int y) const { return m_src.data[y * m_w + x]; }

    // The 128 level between the centres of A and B, linearly interpolated.
    PolyPoint crossing(const State &s) const { return crossing(s, val(s.ax, s.ay), val(s.bx, s.by)); }
    PolyPoint crossing(const State &s, int va, int vb) const
    {
        const float a = float(va), b = float(vb);
        const float t = (a - 128.0f) / (a - b);
        return PolyPoint(s.ax + 0.5f + t * float(s.bx - s.ax), s.ay + 0.5f + t * float(s.by - s.ay));
    }

    void finish(PolyLine &pl, PathList &out) const
    {
        const int n = pl.pts.size();
        if (n > 2) {
            const PolyPoint d = pl.pts[n - 1] - pl.pts[0];
            if (d.x * d.x + d.y * d.y < 2.0f) {
                pl.closed = true;
                pl.pts.removeLast();
            }
        }
        if (pl.pts.size() <= 3)
            return;
        if (m_pp.smoothingArea > 0) {
            pl.simplify(m_pp);
        } else {
            // What simplify does without smoothing: drop repeated points.
            // add() let no point repeat the one before it, so only the
            // closing segment can join two equal points.
            while (pl.closed && pl.pts.size() > 1 && pl.pts.last() == pl.pts.first())
                pl.pts.removeLast();
        }
        out.append(pl);
    }

    const Plane8 &m_src;
    const int m_w, m_h;
    Plane1 &m_visited;
    const int m_visStride;
    const PathParams &m_pp;
    std::vector<PolyPoint> &m_pts;
    size_t m_count = 0;
    const bool m_plain;
};

// Start edges of one block: every horizontal pair of pixels on different
// sides of the level whose left pixel lies in the block, plus the pair
// across the block's left border when the left neighbour block is not
// examined itself.
void traceBlock(Tracer &tr, const Plane8 &src, const Plane8 &work, int bx, int by, PathList &out)
{
    const int w = src.width;
    const int x0 = bx * 16;
    const bool lastInRow = x0 + 16 >= w;
    const bool leftToo = bx > 0 && work.pixel(bx - 1, by) != kGrouped;
    for (int y = by * 16; y < by * 16 + 16; ++y) {
        const uchar *row = src.data + y * w;
        // Top bit set means inside, so one movemask gives 16 states.
        const unsigned in = unsigned(_mm_movemask_epi8(
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + x0))));
        const unsigned next = (in >> 1) | (!lastInRow && row[x0 + 16] >= 128 ? 0x8000u : 0u);
        // The last pixel of a row has no right neighbour inside the plane.
        unsigned cross = (in ^ next) & (lastInRow ? 0x7FFFu : 0xFFFFu);
        if (leftToo && (row[x0 - 1] >= 128) != bool(in & 1) && !tr.marked(x0 - 1, y))
            tr.trace(x0 - 1, y, out);
        while (cross) {
            const int i = __builtin_ctz(cross);
            cross &= cross - 1;
            if (!tr.marked(x0 + i, y))
                tr.trace(x0 + i, y, out);
        }
    }
}

} // namespace

namespace {

PathList detect(const Plane8 &source, const Plane8 &blockSummary, Plane1 &visited, const PathParams &pathParams,
                bool plainWalk)
{
    RasterPerf perf("contourDetect3");
    if (source.width % 16 || source.height % 16 || blockSummary.width != source.width / 16
        || blockSummary.height != source.height / 16)
        throw QString("contourDetect3() block summary does not match the source plane");
    visited.setSize(source.size());
    if (source.width == 0 || source.height == 0)
        return {};

    Plane8 work = contourBlocksToExamine(blockSummary);
    const std::vector<std::vector<int>> groups = groupBlocks(work, visited);

    std::vector<PathList> results;
    QString error;
#pragma omp parallel
    {
        const int nt = omp_get_num_threads();
        const int t = omp_get_thread_num();
#pragma omp single
        results.resize(nt);
        try {
            // The split is a pure function of the group sizes and the thread
            // count, so every thread computes the same one.
            const QVector<WorkRange> parts = paralell(nt, kLabels, [&](int i) {
                return std::max(1, int(groups[i + 1].size()));
            });
            static thread_local std::vector<PolyPoint> pts;
            Tracer tr(source, visited, pathParams, pts, plainWalk);
            PathList &out = results[t];
            for (int g = parts[t].first; g < parts[t].end; ++g)
                for (int e : groups[g + 1])
                    traceBlock(tr, source, work, e & 0xFFFF, e >> 16, out);
        } catch (const QString &e) {
#pragma omp critical
            error = e;
        } catch (...) {
#pragma omp critical
            error = "contourDetect3() failed";
        }
    }
    if (!error.isEmpty())
        throw error;
    PathList all;
    for (PathList &r : results)
        all += r;
    return all;
}

} // namespace

PathList contourDetect3(const Plane8 &source, const Plane8 &blockSummary, Plane1 &visited,
                        const PathParams &pathParams)
{
    return detect(source, blockSummary, visited, pathParams, false);
}

PathList contourDetect3Plain(const Plane8 &source, const Plane8 &blockSummary, Plane1 &visited,
                             const PathParams &pathParams)
{
    return detect(source, blockSummary, visited, pathParams, true);
}
