#include "toolpath/distancestep.h"

#include "common/perfdata.h"
#include "geometry/fasthypot.h"
#include "toolpath/edgecorners.h"
#include "raster/contourdetect3.h"

#include <algorithm>
#include <emmintrin.h>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

namespace {

// How far on the outer side of a segment a pixel centre may lie and still be
// stamped (pixels): the traced outline passes within a tenth of a pixel of
// the inside pixel centres.
constexpr float kSideMargin = 1.0f;

inline bool partial(int v) { return v > 0 && v < 255; }

// Where the edge crossing the line between pixels i and i + 1 runs on average
// over the line's band, from the covered area of the partly covered pixels
// around it: beyond a full pixel the edge lies as far on as their areas add
// up. False when the partial run does not lie between a full and an empty
// pixel (a sliver, two edges close together): the interpolated crossing stays.
template <typename At>
bool areaEdge(const At &v, int n, int i, float &pos)
{
    constexpr int kReach = 8;
    int l = i + 1, r = i;
    if (partial(v(i))) {
        l = i;
        while (l > 0 && l > i - kReach && partial(v(l - 1)))
            --l;
    }
    if (partial(v(i + 1))) {
        r = i + 1;
        while (r + 1 < n && r < i + 1 + kReach && partial(v(r + 1)))
            ++r;
    }
    const int a = l - 1 >= 0 ? v(l - 1) : 0;
    const int b = r + 1 < n ? v(r + 1) : 0;
    float sum = 0;
    for (int k = l; k <= r; ++k)
        sum += float(v(k)) / 255;
    if (a == 255 && b == 0) {
        pos = float(l) + sum;
        return true;
    }
    if (a == 0 && b == 255) {
        pos = float(r + 1) - sum;
        return true;
    }
    return false;
}

// Squared distance from p to the segment a-b.
inline float dist2(float px, float py, const PolyPoint &a, const PolyPoint &b)
{
    const float dx = b.x - a.x, dy = b.y - a.y;
    const float l2 = dx * dx + dy * dy;
    float t = l2 > 0 ? ((px - a.x) * dx + (py - a.y) * dy) / l2 : 0;
    t = std::clamp(t, 0.0f, 1.0f);
    const float ex = px - a.x - t * dx, ey = py - a.y - t * dy;
    return ex * ex + ey * ey;
}

// The centre of the circle through a, b and c; false when they (nearly)
// lie on a line.
bool circleCentre(PolyPoint a, PolyPoint b, PolyPoint c, PolyPoint &centre)
{
    const float bx = b.x - a.x, by = b.y - a.y, cx = c.x - a.x, cy = c.y - a.y;
    const float d = 2 * (bx * cy - by * cx);
    if (std::fabs(d) < 1e-6f)
        return false;
    const float b2 = bx * bx + by * by, c2 = cx * cx + cy * cy;
    centre = PolyPoint(a.x + (cy * b2 - by * c2) / d, a.y + (bx * c2 - cx * b2) / d);
    return true;
}

// A point placed by a row's area is where the edge runs on average over the
// row's height; on a curved edge that average lies towards the inside of the
// bend by x'' / 24 (x as a function of y). Measured on a pin of 1 mm: 0.05
// pixels. The bend comes from the points either side.
void unbendBandMeans(PolyLine &pl, const QVector<char> &how)
{
    const int n = pl.pts.size();
    if (n < 3 || !pl.closed)
        return;
    const QVector<PolyPoint> p = pl.pts;
    for (int i = 0; i < n; ++i) {
        if (!how[i])
            continue;
        const PolyPoint a = p[(i + n - 1) % n], b = p[i], c = p[(i + 1) % n];
        PolyPoint o;
        if (!circleCentre(a, b, c, o))
            continue;
        const float r = fastHypot(o.x - b.x, o.y - b.y);
        if (r < 1.5f)
            continue;  // a corner, not a bend
        const PolyPoint t = (c - a) * (1 / std::max(1e-6f, fastHypot(c.x - a.x, c.y - a.y)));
        const PolyPoint nrm = (o - b) * (1 / r);  // towards the centre of the bend
        const float kappa = 1 / r;
        if (how[i] == 1 && std::fabs(t.y) > 0.3f) {
            const float xpp = kappa * (nrm.x * t.y - nrm.y * t.x) / (t.y * t.y * t.y);
            pl.pts[i].x -= std::clamp(xpp / 24, -0.1f, 0.1f);
        } else if (how[i] == 2 && std::fabs(t.x) > 0.3f) {
            const float ypp = kappa * (nrm.y * t.x - nrm.x * t.y) / (t.x * t.x * t.x);
            pl.pts[i].y -= std::clamp(ypp / 24, -0.1f, 0.1f);
        }
    }
}

} // namespace

bool pointsNearChordScalar(const PolyPoint *pts, int count, PolyPoint a, PolyPoint b, float tol2)
{
    for (int j = 0; j < count; ++j)
        if (!(dist2(pts[j].x, pts[j].y, a, b) <= tol2))
            return false;
    return true;
}

namespace {

// pointsNearChord's body, inlined into mergeStraightRuns' loop.
inline __attribute__((always_inline)) bool nearChord(const PolyPoint *pts, int count, PolyPoint a, PolyPoint b,
                                                     float tol2)
{
    // dist2's arithmetic four lanes at a time, in its order: the same
    // rounding, so the same answer (a NaN fails as it does there).
    const float dx = b.x - a.x, dy = b.y - a.y;
    const float l2 = dx * dx + dy * dy;
    const __m128 vax = _mm_set1_ps(a.x), vay = _mm_set1_ps(a.y), vdx = _mm_set1_ps(dx), vdy = _mm_set1_ps(dy);
    const __m128 vl2 = _mm_set1_ps(l2), zero = _mm_setzero_ps(), one = _mm_set1_ps(1), vtol = _mm_set1_ps(tol2);
    auto near4 = [&](__m128 px, __m128 py) {
        const __m128 rx = _mm_sub_ps(px, vax), ry = _mm_sub_ps(py, vay);
        __m128 t = zero;
        if (l2 > 0) {
            t = _mm_div_ps(_mm_add_ps(_mm_mul_ps(rx, vdx), _mm_mul_ps(ry, vdy)), vl2);
            // std::clamp's order: a NaN stays NaN.
            t = _mm_min_ps(one, _mm_max_ps(zero, t));
        }
        const __m128 ex = _mm_sub_ps(rx, _mm_mul_ps(t, vdx)), ey = _mm_sub_ps(ry, _mm_mul_ps(t, vdy));
        const __m128 e2 = _mm_add_ps(_mm_mul_ps(ex, ex), _mm_mul_ps(ey, ey));
        return _mm_movemask_ps(_mm_cmple_ps(e2, vtol)) == 0xF;
    };
    auto load4 = [&](const PolyPoint *q) {
        const __m128 lo = _mm_loadu_ps(&q[0].x), hi = _mm_loadu_ps(&q[2].x);
        return near4(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0)), _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1)));
    };
    if (count <= 0)
        return true;
    if (count < 4) {
        // Short runs (most of them on a slanted edge) repeat their last
        // point in the spare lanes: testing a point twice answers the same.
        const PolyPoint p0 = pts[0], p1 = pts[count > 1 ? 1 : 0], p2 = pts[count - 1];
        return near4(_mm_set_ps(p2.x, p2.x, p1.x, p0.x), _mm_set_ps(p2.y, p2.y, p1.y, p0.y));
    }
    int j = 0;
    for (; j + 4 <= count; j += 4)
        if (!load4(pts + j))
            return false;
    // The last four again, overlapping points already found near.
    return j == count || load4(pts + count - 4);
}

} // namespace

bool pointsNearChord(const PolyPoint *pts, int count, PolyPoint a, PolyPoint b, float tol2)
{
    return nearChord(pts, count, a, b, tol2);
}

void mergeStraightRunsScalar(PolyLine &pl, float tolerance, int maxRun)
{
    const int n = pl.pts.size();
    if (n < 3)
        return;
    const QVector<PolyPoint> &p = pl.pts;
    QVector<PolyPoint> out;
    out.reserve(n);
    out.append(p[0]);
    const float tol2 = tolerance * tolerance;
    int kept = 0;
    for (int i = 1; i < n - 1; ++i) {
        if (i - kept < maxRun && pointsNearChordScalar(p.constData() + kept + 1, i - kept, p[kept], p[i + 1], tol2))
            continue;
        out.append(p[i]);
        kept = i;
    }
    out.append(p[n - 1]);
    pl.pts = out;
}

void mergeStraightRuns(PolyLine &pl, float tolerance, int maxRun)
{
    const int n = pl.pts.size();
    if (n < 3)
        return;
    // A plain pointer: through the vector every read would load its data
    // pointer again after each store to `out`.
    const PolyPoint *const p = pl.pts.constData();
    QVector<PolyPoint> out;
    out.reserve(n);
    out.append(p[0]);
    const float tol2 = tolerance * tolerance;
    // A run along a pixel axis (every point on the chord's own line, between
    // its ends) passes without the arithmetic: the rounding of dist2 there is
    // at most 4.1 units in the last place of the chord's length, under 0.002
    // pixels for chords up to 4096 pixels long. Kept per axis: whether all
    // points since the last kept one share its coordinate, and the span of
    // the other coordinate.
    const bool axisShortcut = tol2 >= 1e-5f;
    constexpr float kAxisChord = 4096;
    auto alongAxis = [&](bool same, float lo, float hi, float a, float b, float ao, float bo) {
        return same && bo == ao && std::fabs(b - a) <= kAxisChord && lo >= std::min(a, b) && hi <= std::max(a, b);
    };
    bool sameX = true, sameY = true;
    float loX = 0, hiX = 0, loY = 0, hiY = 0;
    int kept = 0;
    for (int i = 1; i < n - 1; ++i) {
        const PolyPoint a = p[kept], b = p[i + 1], q = p[i];
        if (i == kept + 1) {
            sameX = q.x == a.x;
            sameY = q.y == a.y;
            loX = hiX = q.x;
            loY = hiY = q.y;
        } else if (sameX || sameY) {
            // A span is read only while its axis still holds (alongAxis
            // looks at `same` first): off both axes, nothing to keep.
            if (sameX) {
                sameX = q.x == a.x;
                loY = std::min(loY, q.y);
                hiY = std::max(hiY, q.y);
            }
            if (sameY) {
                sameY = q.y == a.y;
                loX = std::min(loX, q.x);
                hiX = std::max(hiX, q.x);
            }
        }
        const bool onAxis = axisShortcut && (sameX || sameY)
                            && (alongAxis(sameX, loY, hiY, a.y, b.y, a.x, b.x) || alongAxis(sameY, loX, hiX, a.x, b.x, a.y, b.y));
        if (i - kept < maxRun && (onAxis || nearChord(p + kept + 1, i - kept, a, b, tol2))) {
            if (onAxis && sameX != sameY) {
                // Along the axis run the loop above only widens one span and
                // asks alongAxis again: the next points pass here while
                // they stay on the run's line and the chord to the point
                // after each still covers the span. The first that does not
                // goes round the loop above, its state not yet changed.
                const bool vertical = sameX;
                const float line = vertical ? a.x : a.y, a0 = vertical ? a.y : a.x;
                float lo = vertical ? loY : loX, hi = vertical ? hiY : hiX;
                while (i + 2 < n && i + 1 - kept < maxRun) {
                    const PolyPoint q2 = p[i + 1], b2 = p[i + 2];
                    const float qo = vertical ? q2.x : q2.y, qa = vertical ? q2.y : q2.x;
                    const float bo = vertical ? b2.x : b2.y, ba = vertical ? b2.y : b2.x;
                    if (!(qo == line))
                        break;
                    const float lo2 = std::min(lo, qa), hi2 = std::max(hi, qa);
                    if (!alongAxis(true, lo2, hi2, a0, ba, line, bo))
                        break;
                    lo = lo2;
                    hi = hi2;
                    ++i;
                }
                (vertical ? loY : loX) = lo;
                (vertical ? hiY : hiX) = hi;
            }
            continue;
        }
        out.append(p[i]);
        kept = i;
    }
    out.append(p[n - 1]);
    pl.pts = out;
}

PathParams keepEveryCrossing()
{
    PathParams keep;
    keep.smoothingArea = 0;
    keep.maxDeviation = 0;
    return keep;
}

PathList areaOutline(const Plane8 &cov, const Plane8 &summary, Plane1 &visited)
{
    PathList lines = contourDetect3(cov, summary, visited, keepEveryCrossing());
    const int W = cov.width, H = cov.height;
    for (PolyLine &pl : lines) {
        // 1 where the row's area placed the point, 2 the column's.
        QVector<char> how(pl.pts.size(), 0);
        int idx = -1;
        for (PolyPoint &p : pl.pts) {
            ++idx;
            // Crossings lie on the lines between pixel centres (k + 0.5).
            const float fy = p.y - 0.5f, fx = p.x - 0.5f;
            if (fy == std::floor(fy)) {
                const int y = int(fy), i = int(std::floor(fx));
                if (y < 0 || y >= H || i < 0 || i + 1 >= W)
                    continue;
                const uchar *row = cov.row(y);
                float pos;
                if (areaEdge([row](int k) { return int(row[k]); }, W, i, pos)) {
                    p.x = std::clamp(pos, float(i) + 0.5f, float(i) + 1.5f);
                    how[idx] = 1;
                }
            } else if (fx == std::floor(fx)) {
                const int x = int(fx), i = int(std::floor(fy));
                if (x < 0 || x >= W || i < 0 || i + 1 >= H)
                    continue;
                float pos;
                if (areaEdge([&cov, x](int k) { return int(cov.data[k * cov.width + x]); }, H, i, pos)) {
                    p.y = std::clamp(pos, float(i) + 0.5f, float(i) + 1.5f);
                    how[idx] = 2;
                }
            }
        }
        unbendBandMeans(pl, how);
    }
    return lines;
}

std::vector<uchar> bandBlocksScalar(const Plane8 &summary, bool borderIsEdge)
{
    const int bw = summary.width, bh = summary.height;
    // out = the OR of the 3 x 3 blocks around each block (within the plane).
    auto dilate = [bw, bh](const std::vector<uchar> &in, std::vector<uchar> &out) {
        std::vector<uchar> row(in.size());
        for (int by = 0; by < bh; ++by) {
            const uchar *s = in.data() + size_t(by) * bw;
            uchar *d = row.data() + size_t(by) * bw;
            for (int bx = 0; bx < bw; ++bx)
                d[bx] = uchar(s[bx] | (bx > 0 ? s[bx - 1] : 0) | (bx + 1 < bw ? s[bx + 1] : 0));
        }
        out.resize(in.size());
        for (int by = 0; by < bh; ++by) {
            const uchar *up = by > 0 ? row.data() + size_t(by - 1) * bw : nullptr;
            const uchar *mid = row.data() + size_t(by) * bw;
            const uchar *down = by + 1 < bh ? row.data() + size_t(by + 1) * bw : nullptr;
            uchar *d = out.data() + size_t(by) * bw;
            for (int bx = 0; bx < bw; ++bx)
                d[bx] = uchar(mid[bx] | (up ? up[bx] : 0) | (down ? down[bx] : 0));
        }
    };
    // Edge blocks: mixed, or uniform beside the other uniform value (bit 0:
    // a block of 0, bit 1: of 255, over the 3 x 3 blocks around, as two
    // passes of three).
    const size_t nb = size_t(bw) * bh;
    std::vector<uchar> kind(nb), around(nb);
    const uchar *sm = summary.data;
    for (size_t i = 0; i < nb; ++i)
        kind[i] = sm[i] == 0 ? 1 : sm[i] == 255 ? 2 : 0;
    dilate(kind, around);
    std::vector<uchar> edge(nb);
    for (int by = 0; by < bh; ++by)
        for (int bx = 0; bx < bw; ++bx) {
            const size_t i = size_t(by) * bw + bx;
            const uchar v = sm[i];
            const bool border = bx == 0 || by == 0 || bx == bw - 1 || by == bh - 1;
            edge[i] = v == 0 ? (around[i] & 2) != 0
                    : v == 255 ? (around[i] & 1) != 0 || (borderIsEdge && border)
                               : 1;
        }
    // Grown by one block.
    dilate(edge, around);
    return around;
}

namespace {

// out = the OR of the 3 x 3 blocks around each block (within the plane),
// through rows padded with a block of 0 on every side: plain loops the
// compiler turns into vector code.
void dilateBlocks(const uchar *in, uchar *out, int bw, int bh, std::vector<uchar> &pad, std::vector<uchar> &across)
{
    const size_t pw = size_t(bw) + 2;
    pad.assign(pw * size_t(bh + 2), 0);
    for (int by = 0; by < bh; ++by)
        std::copy(in + size_t(by) * bw, in + size_t(by + 1) * bw, pad.begin() + std::ptrdiff_t((by + 1) * pw + 1));
    across.resize(size_t(bw) * size_t(bh + 2));
    for (int y = 0; y < bh + 2; ++y) {
        const uchar *p = pad.data() + size_t(y) * pw;
        uchar *d = across.data() + size_t(y) * bw;
        for (int x = 0; x < bw; ++x)
            d[x] = uchar(p[x] | p[x + 1] | p[x + 2]);
    }
    for (int by = 0; by < bh; ++by) {
        const uchar *u = across.data() + size_t(by) * bw;
        const uchar *m = u + bw, *dn = m + bw;
        uchar *d = out + size_t(by) * bw;
        for (int x = 0; x < bw; ++x)
            d[x] = uchar(u[x] | m[x] | dn[x]);
    }
}

} // namespace

std::vector<uchar> bandBlocks(const Plane8 &summary, bool borderIsEdge)
{
    const int bw = summary.width, bh = summary.height;
    const size_t nb = size_t(bw) * bh;
    std::vector<uchar> kind(nb), around(nb), edge(nb), pad, across;
    if (nb == 0)
        return around;
    const uchar *sm = summary.data;
    for (size_t i = 0; i < nb; ++i)
        kind[i] = uchar((sm[i] == 0) | ((sm[i] == 255) << 1));
    dilateBlocks(kind.data(), around.data(), bw, bh, pad, across);
    for (size_t i = 0; i < nb; ++i) {
        const uchar v = sm[i], a = around[i];
        const uchar mixed = v != 0 && v != 255;
        edge[i] = uchar(mixed | ((v == 0) & (a >> 1)) | ((v == 255) & a & 1));
    }
    if (borderIsEdge) {
        // Beyond the border counts as outside: uniform inside blocks there
        // are edge blocks too.
        auto border = [&](size_t i) {
            if (sm[i] == 255)
                edge[i] = 1;
        };
        for (int bx = 0; bx < bw; ++bx) {
            border(size_t(bx));
            border(size_t(bh - 1) * bw + bx);
        }
        for (int by = 0; by < bh; ++by) {
            border(size_t(by) * bw);
            border(size_t(by) * bw + bw - 1);
        }
    }
    dilateBlocks(edge.data(), around.data(), bw, bh, pad, across);
    return around;
}

namespace {

// Floats a vector leaves as they come (its allocator constructs nothing),
// for arrays filled right after by hand.
template <typename T>
struct NoInit : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = NoInit<U>;
    };
    NoInit() = default;
    template <typename U>
    NoInit(const NoInit<U> &) noexcept
    {
    }
    template <typename U>
    void construct(U *p) noexcept
    {
        ::new (static_cast<void *>(p)) U;
    }
    template <typename U, typename... A>
    void construct(U *p, A &&...a)
    {
        ::new (static_cast<void *>(p)) U(std::forward<A>(a)...);
    }
};
using Floats = std::vector<float, NoInit<float>>;

// The pixels within reach of a region's edges: blocks an edge runs through
// (mixed, or uniform beside the other uniform value) and their neighbours.
struct Band {
    int W = 0, H = 0, bw = 0, bh = 0, tiles = 0;
    std::vector<int> tile; // per block: its tile or -1
    std::vector<int> blockOfTile;  // per tile after trim(): its block
    // Per tile, bit 4 y + g: the stamps reached group g (pixels 4 g … 4 g + 3)
    // of row y. A group no stamp reached holds `far` inside and `outside`
    // outside; when `far` is deep and saturates the encoding, such groups
    // start no thin part and encode to 255 and 0.
    std::vector<std::uint64_t> touched;
    float far = 0;
    bool farIsPlain = false;
    // The kernels' first forms, kept as the twin the tests compare with.
    bool firstForms = false;
    struct Walk;

    // borderIsEdge: the region reaches the plane's border, beyond which
    // counts as outside.
    Band(const Plane8 &summary, int width, int height, bool borderIsEdge, bool firstForms)
        : W(width), H(height), bw(summary.width), bh(summary.height), tile(size_t(bw) * bh, -1),
          firstForms(firstForms)
    {
        const std::vector<uchar> inBand = bandBlocks(summary, borderIsEdge);
        for (size_t i = 0; i < inBand.size(); ++i)
            if (inBand[i])
                tile[i] = tiles++;
    }

    // Leaves out the band blocks whose result is their own bytes: a block
    // all 0 (outside pixels encode to 0 and start no thin part), and a
    // block all 255 that no segment's stamp can reach (its pixels keep the
    // cap, deeper than any thin part, and encode to 255). A walk that meets
    // such a block finds it deep or outside from its bytes, as it found it
    // from its distances. Blocks are renumbered in order.
    void trim(const Plane8 &cov, const Plane8 &summary, const PathList &outline, float reach)
    {
        // Blocks within a stamp's reach: each segment's box grown by reach,
        // and by the rows' rounding and the groups of four.
        std::vector<char> near(tile.size(), 0);
        const float grow = reach + 5;
        for (const PolyLine &pl : outline) {
            const int n = pl.pts.size();
            const int segs = pl.closed ? n : n - 1;
            for (int k = 0; k < segs; ++k) {
                const PolyPoint a = pl.pts[k], b = pl.pts[(k + 1) % n];
                const float x0 = std::min(a.x, b.x) - grow, x1 = std::max(a.x, b.x) + grow;
                const float y0 = std::min(a.y, b.y) - grow, y1 = std::max(a.y, b.y) + grow;
                if (!(x1 >= 0 && y1 >= 0 && x0 < W && y0 < H))
                    continue;  // also NaN
                const int bx0 = std::max(0, int(std::max(0.0f, x0)) >> 4), bx1 = std::min(bw - 1, int(std::min(x1, float(W - 1))) >> 4);
                const int by0 = std::max(0, int(std::max(0.0f, y0)) >> 4), by1 = std::min(bh - 1, int(std::min(y1, float(H - 1))) >> 4);
                for (int by = by0; by <= by1; ++by)
                    std::fill(near.begin() + size_t(by) * bw + bx0, near.begin() + size_t(by) * bw + bx1 + 1, 1);
            }
        }
        tiles = 0;
        const __m128i zero = _mm_setzero_si128(), ones = _mm_set1_epi8(char(0xFF));
        for (int by = 0; by < bh; ++by)
            for (int bx = 0; bx < bw; ++bx) {
                int &t = tile[size_t(by) * bw + bx];
                if (t < 0)
                    continue;
                bool all0, all255;
                if (!firstForms) {
                    // The summary is exact (Plane8::blockSummary's).
                    const uchar state = summary.data[size_t(by) * bw + bx];
                    all0 = state == 0;
                    all255 = state == 255;
                } else {
                    __m128i any = zero, all = ones;
                    for (int y = 0; y < 16; ++y) {
                        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(cov.row(by * 16 + y) + bx * 16));
                        any = _mm_or_si128(any, v);
                        all = _mm_and_si128(all, v);
                    }
                    all0 = _mm_movemask_epi8(_mm_cmpeq_epi8(any, zero)) == 0xFFFF;
                    all255 = _mm_movemask_epi8(_mm_cmpeq_epi8(all, ones)) == 0xFFFF;
                }
                t = all0 || (all255 && !near[size_t(by) * bw + bx]) ? -1 : tiles++;
                if (t >= 0)
                    blockOfTile.push_back(by * bw + bx);
            }
    }

    // Whether every pixel of block (bx, by) is 255.
    static bool allFull(const Plane8 &cov, int bx, int by)
    {
        __m128i all = _mm_set1_epi8(char(0xFF));
        for (int y = 0; y < 16; ++y)
            all = _mm_and_si128(all, _mm_loadu_si128(reinterpret_cast<const __m128i *>(cov.row(by * 16 + y) + bx * 16)));
        return _mm_movemask_epi8(_mm_cmpeq_epi8(all, _mm_set1_epi8(char(0xFF)))) == 0xFFFF;
    }

    // Distance of every band pixel inside the section (cov >= 128) to the
    // outline, capped at `reach`, less `offset`; pixels outside get -reach
    // less `offset` (only their side matters: the level lies inside).
    // `depth` is dropThinParts' depth. Past the first forms this also
    // encodes the band (see finish()).
    Floats insideDistance(Plane8 &cov, Plane8 &summary, const PathList &outline, float reach,
                                      float offset, float depth)
    {
        const float cap = reach * reach;
        // 16-byte aligned (malloc), filled sixteen at a time (a tile is
        // 256).
        Floats d(size_t(tiles) * 256);
        const __m128 capV = _mm_set1_ps(cap);
        for (float *q = d.data(), *e = q + d.size(); q < e; q += 16) {
            _mm_store_ps(q, capV);
            _mm_store_ps(q + 4, capV);
            _mm_store_ps(q + 8, capV);
            _mm_store_ps(q + 12, capV);
        }
        touched.assign(size_t(tiles), 0);
        for (const PolyLine &pl : outline) {
            const int n = pl.pts.size();
            const int segs = pl.closed ? n : n - 1;
            for (int k = 0; k < segs; ++k)
                stampSegment(d, pl.pts[k], pl.pts[(k + 1) % n], reach, pl.closed);
        }
        // Only the inside's distances count; which side a pixel is on is
        // the coverage's say.
        const __m128 off = _mm_set1_ps(offset), outside = _mm_set1_ps(-reach - offset);
        const __m128 farV = _mm_sub_ps(_mm_sqrt_ps(_mm_set1_ps(cap)), off);  // an unstamped pixel's value
        far = _mm_cvtss_f32(farV);
        // Deep and at least a level past 255 (see encode); outside below
        // the walk's reach.
        farIsPlain = far >= depth && far >= 1.0f && -reach - offset < -1.0f;
        if (!firstForms) {
            finish(cov, summary, d, offset, -reach - offset, depth);
            return d;
        }
        // Lane k all ones where bit k of the index is set.
        __m128 laneMask[16];
        for (int m = 0; m < 16; ++m)
            laneMask[m] = _mm_castsi128_ps(_mm_set_epi32(m & 8 ? -1 : 0, m & 4 ? -1 : 0, m & 2 ? -1 : 0, m & 1 ? -1 : 0));
        for (int by = 0; by < bh; ++by)
            for (int bx = 0; bx < bw; ++bx) {
                const int t = tile[size_t(by) * bw + bx];
                if (t < 0)
                    continue;
                const std::uint64_t hit = touched[size_t(t)];
                for (int y = 0; y < 16; ++y) {
                    // Bit x set where the pixel is at or above 128.
                    const int in = _mm_movemask_epi8(
                        _mm_loadu_si128(reinterpret_cast<const __m128i *>(cov.row(by * 16 + y) + bx * 16)));
                    float *dr = d.data() + size_t(t) * 256 + y * 16;
                    for (int g = 0; g < 4; ++g) {
                        const __m128 mask = laneMask[(in >> (4 * g)) & 15];
                        const __m128 v = (hit >> (4 * y + g)) & 1 ? _mm_sub_ps(_mm_sqrt_ps(_mm_loadu_ps(dr + 4 * g)), off)
                                                                  : farV;
                        _mm_storeu_ps(dr + 4 * g, _mm_or_ps(_mm_and_ps(mask, v), _mm_andnot_ps(mask, outside)));
                    }
                }
            }
        return d;
    }

    // Per tile row, as 16-bit masks for the thin-part walks: D deep
    // (s >= depth), J shallow enough to join (kJoin <= s < depth), S a
    // start (0 <= s < depth); then D's first and last columns (bit y: row
    // y). Made by finish(), past the first forms.
    static constexpr int kD = 0, kJ = 16, kS = 32, kFirst = 48, kLast = 49, kStride = 50;
    std::vector<std::uint16_t> bits;
    std::vector<char> open;  // per tile: some pixel starts a walk

    // The levels of sixteen distances s as encode() finds them, as bytes:
    // each rounded to a whole level in 32-bit lanes ([0, 256]), then kept
    // on its side of 128 in 16-bit lanes, and packed (saturating: 256
    // becomes 255 as encode's last clamp makes it).
    static __m128i levelBytes(__m128 s0, __m128 s1, __m128 s2, __m128 s3)
    {
        const __m128 vk = _mm_set1_ps(255.0f / kDistanceRamp), v128 = _mm_set1_ps(128), lo = _mm_set1_ps(-1),
                     hi = _mm_set1_ps(256), half = _mm_set1_ps(0.5f), zero = _mm_setzero_ps();
        auto rounded = [&](__m128 sv) {
            const __m128 c = _mm_min_ps(_mm_max_ps(_mm_add_ps(v128, _mm_mul_ps(sv, vk)), lo), hi);
            return _mm_cvttps_epi32(_mm_add_ps(c, half));
        };
        auto inside = [&](__m128 a, __m128 b) {
            return _mm_packs_epi32(_mm_castps_si128(_mm_cmpge_ps(a, zero)), _mm_castps_si128(_mm_cmpge_ps(b, zero)));
        };
        const __m128i l128 = _mm_set1_epi16(128), l127 = _mm_set1_epi16(127);
        auto side = [&](__m128i r, __m128i in) {
            return _mm_or_si128(_mm_and_si128(in, _mm_max_epi16(r, l128)), _mm_andnot_si128(in, _mm_min_epi16(r, l127)));
        };
        const __m128i q01 = side(_mm_packs_epi32(rounded(s0), rounded(s1)), inside(s0, s1));
        const __m128i q23 = side(_mm_packs_epi32(rounded(s2), rounded(s3)), inside(s2, s3));
        return _mm_packus_epi16(q01, q23);
    }

    // The rest of insideDistance, encode and the walks' masks in one pass
    // over the band: each row's distances become s, its levels and its
    // masks while they are at hand. The thin-part walks then lower s of the
    // parts they drop and mend those pixels' levels (mendDropped()). Blocks
    // all 255 that no stamp reached leave the band (their summary says so),
    // as those trim() left out: their pixels keep the cap and their bytes.
    void finish(Plane8 &cov, Plane8 &summary, Floats &d, float offset, float outsideValue, float depth)
    {
        const __m128 off = _mm_set1_ps(offset), outside = _mm_set1_ps(outsideValue), farV = _mm_set1_ps(far);
        const __m128 deepV = _mm_set1_ps(depth);
        const __m128i zeroI = _mm_setzero_si128();
        bits.assign(size_t(tiles) * kStride, 0);
        open.assign(size_t(tiles), 0);
        for (int t = 0; t < tiles; ++t) {
            const int bx = blockOfTile[size_t(t)] % bw, by = blockOfTile[size_t(t)] / bw;
            const std::uint64_t hit = touched[size_t(t)];
            if (!hit && farIsPlain && allFull(cov, bx, by)) {
                tile[size_t(by) * bw + bx] = -1;
                summary.data[size_t(by) * bw + bx] = 255;
                continue;
            }
            std::uint16_t *m = bits.data() + size_t(t) * kStride;
            // Without farIsPlain every row goes the float road.
            const std::uint64_t floatRows = farIsPlain ? hit : ~std::uint64_t(0);
            __m128i any = _mm_setzero_si128(), all = _mm_set1_epi8(char(0xFF));
            int anyStart = 0;
            for (int y = 0; y < 16; ++y) {
                uchar *out = cov.row(by * 16 + y) + bx * 16;
                const __m128i bytesIn = _mm_loadu_si128(reinterpret_cast<const __m128i *>(out));
                // 0xFF where the pixel is at or above 128 (inside),
                // and that widened to the four groups' lanes.
                const __m128i plain = _mm_cmplt_epi8(bytesIn, zeroI);
                const __m128i in16lo = _mm_unpacklo_epi8(plain, plain), in16hi = _mm_unpackhi_epi8(plain, plain);
                const __m128 mask[4] = {_mm_castsi128_ps(_mm_unpacklo_epi16(in16lo, in16lo)),
                                        _mm_castsi128_ps(_mm_unpackhi_epi16(in16lo, in16lo)),
                                        _mm_castsi128_ps(_mm_unpacklo_epi16(in16hi, in16hi)),
                                        _mm_castsi128_ps(_mm_unpackhi_epi16(in16hi, in16hi))};
                float *dr = d.data() + size_t(t) * 256 + y * 16;
                if (!((floatRows >> (4 * y)) & 15)) {
                    // No stamp here: far inside (deep, 255), outside
                    // below the walk's reach (0).
                    for (int g = 0; g < 4; ++g)
                        _mm_storeu_ps(dr + 4 * g, _mm_or_ps(_mm_and_ps(mask[g], farV), _mm_andnot_ps(mask[g], outside)));
                    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), plain);
                    any = _mm_or_si128(any, plain);
                    all = _mm_and_si128(all, plain);
                    m[kD + y] = std::uint16_t(_mm_movemask_epi8(plain));
                    continue;
                }
                // A group no stamp reached still holds the cap, whose
                // root less the offset is `far` exactly.
                __m128 v[4];
                for (int g = 0; g < 4; ++g) {
                    const __m128 dist = _mm_sub_ps(_mm_sqrt_ps(_mm_loadu_ps(dr + 4 * g)), off);
                    v[g] = _mm_or_ps(_mm_and_ps(mask[g], dist), _mm_andnot_ps(mask[g], outside));
                    _mm_storeu_ps(dr + 4 * g, v[g]);
                }
                const __m128i bytes = levelBytes(v[0], v[1], v[2], v[3]);
                _mm_storeu_si128(reinterpret_cast<__m128i *>(out), bytes);
                any = _mm_or_si128(any, bytes);
                all = _mm_and_si128(all, bytes);
                // D by comparison; the level tells the rest: it is at
                // least 128 exactly where s >= 0 and, with the ramp of
                // 2, at least 1 exactly where s >= -1 (kJoin).
                static_assert(Walk::kJoin == -1.0f && kDistanceRamp == 2.0f, "levels tell J");
                const __m128i lo = _mm_packs_epi32(_mm_castps_si128(_mm_cmpge_ps(v[0], deepV)),
                                                   _mm_castps_si128(_mm_cmpge_ps(v[1], deepV)));
                const __m128i hi = _mm_packs_epi32(_mm_castps_si128(_mm_cmpge_ps(v[2], deepV)),
                                                   _mm_castps_si128(_mm_cmpge_ps(v[3], deepV)));
                const int dm = _mm_movemask_epi8(_mm_packs_epi16(lo, hi));
                const int sm = _mm_movemask_epi8(bytes) & ~dm;
                m[kD + y] = std::uint16_t(dm);
                m[kJ + y] = std::uint16_t(~_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, zeroI)) & ~dm & 0xFFFF);
                m[kS + y] = std::uint16_t(sm);
                anyStart |= sm;
            }
            const bool all0 = _mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) == 0xFFFF;
            const bool all255 = _mm_movemask_epi8(_mm_cmpeq_epi8(all, _mm_set1_epi8(char(0xFF)))) == 0xFFFF;
            summary.data[by * bw + bx] = all0 ? 0 : all255 ? 255 : 128;
            // D's first and last columns: bit 0 and bit 15 of every row
            // (sign bits of 16-bit lanes, kept by the saturating pack).
            const __m128i d0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(m + kD)),
                          d1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(m + kD + 8));
            m[kFirst] = std::uint16_t(_mm_movemask_epi8(_mm_packs_epi16(_mm_slli_epi16(d0, 15), _mm_slli_epi16(d1, 15))));
            m[kLast] = std::uint16_t(_mm_movemask_epi8(_mm_packs_epi16(d0, d1)));
            open[size_t(t)] = anyStart != 0;
        }
    }

    // After the walks: the levels of the pixels whose s they lowered, and
    // the summaries of those pixels' blocks.
    void mendDropped(Plane8 &cov, Plane8 &summary, const Floats &s, const Walk &walk) const
    {
        std::vector<int> blocks;
        for (int i : walk.dropped) {
            const int b = walk.blockOf[size_t(i >> 8)];
            const int x = b % bw * 16 + (i & 15), y = b / bw * 16 + (i >> 4 & 15);
            const __m128 v = _mm_set1_ps(s[size_t(i)]);
            cov.row(y)[x] = uchar(_mm_cvtsi128_si32(levelBytes(v, v, v, v)));
            if (blocks.empty() || blocks.back() != b)
                blocks.push_back(b);
        }
        std::sort(blocks.begin(), blocks.end());
        blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());
        for (int b : blocks) {
            const int bx = b % bw, by = b / bw;
            __m128i any = _mm_setzero_si128(), all = _mm_set1_epi8(char(0xFF));
            for (int y = 0; y < 16; ++y) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(cov.row(by * 16 + y) + bx * 16));
                any = _mm_or_si128(any, v);
                all = _mm_and_si128(all, v);
            }
            const bool all0 = _mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) == 0xFFFF;
            const bool all255 = _mm_movemask_epi8(_mm_cmpeq_epi8(all, _mm_set1_epi8(char(0xFF)))) == 0xFFFF;
            summary.data[size_t(b)] = all0 ? 0 : all255 ? 255 : 128;
        }
    }

    // Lowers d (squared distances) of the band pixels within `reach` of the
    // segment a-b to their squared distance to it. Each row is stamped only
    // across the part of the segment that comes within reach of it, four
    // pixels at a time; the arithmetic is the scalar formula's, in its order.
    // On a closed outline (material on the left of every segment) only the
    // material's side is stamped, with a pixel to spare: an inside pixel
    // whose nearest point lies on this segment is on that side (or on the
    // outline, a pixel centre the crossings were clamped to), and outside
    // pixels get no distance anyway.
    void stampSegment(Floats &d, PolyPoint a, PolyPoint b, float reach, bool closed)
    {
        // floor() for the small values here (above -2^31), without a call.
        auto ifloor = [](float v) {
            const int i = int(v);
            return v < float(i) ? i - 1 : i;
        };
        const int y0 = std::max(0, ifloor(std::min(a.y, b.y) - reach - 0.5f));
        const int y1 = std::min(H - 1, -ifloor(-(std::max(a.y, b.y) + reach - 0.5f)));
        const float dx = b.x - a.x, dy = b.y - a.y;
        const float l2 = dx * dx + dy * dy;
        const float inv = l2 > 0 ? 1 / l2 : 0;
        const float invDy = dy != 0 ? 1 / dy : 0;
        const __m128 vdx = _mm_set1_ps(dx), vdy = _mm_set1_ps(dy), vinv = _mm_set1_ps(inv);
        const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f), half = _mm_set1_ps(0.5f);
        const __m128 step = _mm_set_ps(3, 2, 1, 0), ax = _mm_set1_ps(a.x), four = _mm_set1_ps(4.0f);
        const float *const base = d.data();
        // Row-invariant terms, computed as the rows would compute them.
        const float yMin = std::min(a.y, b.y) - a.y, yMax = std::max(a.y, b.y) - a.y;
        const float r2 = reach * reach;
        const float acrossFull = std::sqrt(std::max(0.0f, r2 - 0.0f * 0.0f));
        const float sideMargin = kSideMargin * std::sqrt(l2);
        // One row's groups from xs to xe (whole groups within the plane):
        // tile by tile, the groups a row crosses in one tile are a run of
        // its touched bits, and the pixel centres step by exactly 4 along
        // the row (small whole numbers and halves), as the scalar formula
        // rounds them.
        std::uint64_t *const touchedBits = touched.data();
        const int *const tileOfBlock = tile.data();
        const int stride = bw;
        const __m128 eight = _mm_set1_ps(8.0f), twelve = _mm_set1_ps(12.0f);
        auto stampRow = [=](int y, float py, int xs, int xe) {
            const __m128 vpy = _mm_set1_ps(py);
            const __m128 pyTerm = _mm_mul_ps(vpy, vdy);
            const int *tileRow = tileOfBlock + size_t(y >> 4) * stride;
            float *const rowBase = const_cast<float *>(base) + size_t(y & 15) * 16;
            const int rowBit = (y & 15) * 4;
            // One group: its pixel centres cx (whole numbers and halves,
            // exact however they are summed).
            auto group = [&](float *p, __m128 cx) {
                const __m128 px = _mm_sub_ps(cx, ax);
                __m128 u = _mm_mul_ps(_mm_add_ps(_mm_mul_ps(px, vdx), pyTerm), vinv);
                u = _mm_min_ps(_mm_max_ps(u, zero), one);
                const __m128 ex = _mm_sub_ps(px, _mm_mul_ps(u, vdx)), ey = _mm_sub_ps(vpy, _mm_mul_ps(u, vdy));
                const __m128 e2 = _mm_add_ps(_mm_mul_ps(ex, ex), _mm_mul_ps(ey, ey));
                _mm_store_ps(p, _mm_min_ps(e2, _mm_load_ps(p)));
            };
            for (int x = xs; x <= xe;) {
                const int end = std::min(xe, x | 15);
                const int t = tileRow[x >> 4];
                if (t >= 0) {
                    const int n = ((end - x) >> 2) + 1;  // groups in this tile
                    touchedBits[t] |= ((std::uint64_t(1) << n) - 1) << (rowBit + ((x & 15) >> 2));
                    float *p = rowBase + size_t(t) * 256 + (x & 15);
                    const __m128 cx = _mm_add_ps(_mm_add_ps(_mm_set1_ps(float(x)), step), half);
                    group(p, cx);
                    if (n > 1) {
                        group(p + 4, _mm_add_ps(cx, four));
                        if (n > 2) {
                            group(p + 8, _mm_add_ps(cx, eight));
                            if (n > 3)
                                group(p + 12, _mm_add_ps(cx, twelve));
                        }
                    }
                }
                x = end + 1;
            }
        };
        if (!firstForms) {
            // The rows' spans below, four rows at a time: the same
            // operations in the same order, each choice of the scalar
            // formula a select (so NaN and signed zeros go the same way).
            auto sel = [](__m128 m, __m128 a, __m128 b) { return _mm_or_ps(_mm_and_ps(m, a), _mm_andnot_ps(m, b)); };
            const __m128 vreach = _mm_set1_ps(reach), vinvDy = _mm_set1_ps(invDy), vay = _mm_set1_ps(a.y);
            const __m128 lo0 = _mm_set1_ps(std::min(a.x, b.x)), hi0 = _mm_set1_ps(std::max(a.x, b.x));
            const __m128 hundredth = _mm_set1_ps(0.01f), vyMin = _mm_set1_ps(yMin), vyMax = _mm_set1_ps(yMax);
            const __m128 vr2 = _mm_set1_ps(r2), vacross = _mm_set1_ps(acrossFull), vmargin = _mm_set1_ps(sideMargin);
            const __m128i rowStep = _mm_set_epi32(3, 2, 1, 0);
            // Spans of up to kChunk rows first, then their stamps (the two
            // loops do not share registers).
            constexpr int kChunk = 32;
            alignas(16) float pys[kChunk];
            alignas(16) int xsI[kChunk], xeI[kChunk], skip[kChunk];
            for (int chunk = y0; chunk <= y1; chunk += kChunk) {
                const int chunkEnd = std::min(y1, chunk + kChunk - 1);
                for (int y = chunk; y <= chunkEnd; y += 4) {
                    const int r = y - chunk;
                    const __m128 py = _mm_sub_ps(_mm_add_ps(_mm_cvtepi32_ps(_mm_add_epi32(_mm_set1_epi32(y), rowStep)), half), vay);
                    __m128 out = _mm_setzero_ps();  // rows to skip
                    __m128 lo = lo0, hi = hi0;
                    if (dy != 0) {
                        __m128 t0 = _mm_mul_ps(_mm_sub_ps(py, vreach), vinvDy), t1 = _mm_mul_ps(_mm_add_ps(py, vreach), vinvDy);
                        const __m128 swap = _mm_cmpgt_ps(t0, t1);
                        const __m128 s0 = sel(swap, t1, t0), s1 = sel(swap, t0, t1);
                        t0 = sel(_mm_cmplt_ps(s0, zero), zero, s0);
                        t1 = sel(_mm_cmplt_ps(one, s1), one, s1);
                        out = _mm_cmpgt_ps(t0, _mm_add_ps(t1, hundredth));
                        const __m128 u0 = _mm_add_ps(ax, _mm_mul_ps(t0, vdx)), u1 = _mm_add_ps(ax, _mm_mul_ps(t1, vdx));
                        lo = sel(_mm_cmplt_ps(u1, u0), u1, u0);
                        hi = sel(_mm_cmplt_ps(u0, u1), u1, u0);
                    }
                    const __m128 gap = sel(_mm_cmplt_ps(py, vyMin), _mm_sub_ps(vyMin, py),
                                           sel(_mm_cmpgt_ps(py, vyMax), _mm_sub_ps(py, vyMax), zero));
                    const __m128 left = _mm_sub_ps(vr2, _mm_mul_ps(gap, gap));
                    const __m128 across = sel(_mm_cmpeq_ps(gap, zero), vacross,
                                              _mm_sqrt_ps(sel(_mm_cmplt_ps(zero, left), left, zero)));
                    __m128 from = _mm_sub_ps(_mm_sub_ps(_mm_sub_ps(lo, across), ax), hundredth);
                    __m128 to = _mm_add_ps(_mm_sub_ps(_mm_add_ps(hi, across), ax), hundredth);
                    if (closed) {
                        const __m128 slack = _mm_add_ps(_mm_mul_ps(vdx, py), vmargin);
                        const __m128 c = _mm_mul_ps(slack, vinvDy);
                        if (dy > 0)
                            to = sel(_mm_cmplt_ps(c, to), c, to);
                        else if (dy < 0)
                            from = sel(_mm_cmplt_ps(from, c), c, from);
                        else
                            out = _mm_or_ps(out, _mm_cmplt_ps(slack, zero));
                        out = _mm_or_ps(out, _mm_cmpgt_ps(from, to));
                    }
                    // ifloor four at a time: truncated, less one where that
                    // went up.
                    auto floor4 = [](__m128 v) {
                        const __m128i i = _mm_cvttps_epi32(v);
                        return _mm_add_epi32(i, _mm_castps_si128(_mm_cmplt_ps(v, _mm_cvtepi32_ps(i))));
                    };
                    _mm_store_ps(pys + r, py);
                    _mm_store_si128(reinterpret_cast<__m128i *>(xsI + r), floor4(_mm_sub_ps(_mm_add_ps(from, ax), half)));
                    _mm_store_si128(reinterpret_cast<__m128i *>(xeI + r), floor4(_mm_sub_ps(_mm_add_ps(to, ax), half)));
                    _mm_store_si128(reinterpret_cast<__m128i *>(skip + r), _mm_castps_si128(out));
                }
                for (int y = chunk; y <= chunkEnd; ++y) {
                    const int r = y - chunk;
                    if (skip[r])
                        continue;
                    const int xs = std::max(0, xsI[r]) & ~3;
                    const int xe = std::min(W - 1, xeI[r] + 1) | 3;
                    if (xs <= xe)
                        stampRow(y, pys[r], xs, xe);
                }
            }
            return;
        }
        for (int y = y0; y <= y1; ++y) {
            const float py = y + 0.5f - a.y;
            // The stretch of the segment within reach of the row's centre
            // line, grown by reach (and a pixel for rounding): no pixel
            // outside it is within reach. Pixels beyond reach that get
            // stamped keep their cap, so the span may be generous.
            float lo = std::min(a.x, b.x), hi = std::max(a.x, b.x);
            if (dy != 0) {
                float t0 = (py - reach) * invDy, t1 = (py + reach) * invDy;
                if (t0 > t1)
                    std::swap(t0, t1);
                t0 = std::max(t0, 0.0f);
                t1 = std::min(t1, 1.0f);
                if (t0 > t1 + 0.01f)
                    continue;
                lo = std::min(a.x + t0 * dx, a.x + t1 * dx);
                hi = std::max(a.x + t0 * dx, a.x + t1 * dx);
            }
            // The row's nearest approach to the segment bounds how far
            // across a pixel within reach can be.
            const float gap = py < yMin ? yMin - py : py > yMax ? py - yMax : 0.0f;
            const float across = gap == 0.0f ? acrossFull : std::sqrt(std::max(0.0f, r2 - gap * gap));
            // Pixel centres (x + 0.5) in [from, to] relative to a.x.
            float from = lo - across - a.x - 0.01f, to = hi + across - a.x + 0.01f;
            if (closed) {
                // Left of a -> b within the margin: dx py - dy px >= -margin len.
                const float slack = dx * py + sideMargin;
                if (dy > 0)
                    to = std::min(to, slack * invDy);
                else if (dy < 0)
                    from = std::max(from, slack * invDy);
                else if (slack < 0)
                    continue;
                if (from > to)
                    continue;
            }
            // Whole groups of four within the plane (its width is a
            // multiple of 16).
            const int xs = std::max(0, ifloor(from + a.x - 0.5f)) & ~3;
            const int xe = std::min(W - 1, ifloor(to + a.x - 0.5f) + 1) | 3;
            if (xs > xe)
                continue;
            const __m128 vpy = _mm_set1_ps(py);
            const __m128 pyTerm = _mm_mul_ps(vpy, vdy);
            const int *tileRow = tile.data() + size_t(y >> 4) * bw;
            const size_t rowOff = size_t(y & 15) * 16;
            const int rowBit = (y & 15) * 4;
            int lastT = -1;
            std::uint64_t bits = 0;
            for (int x = xs; x <= xe; x += 4) {
                const int t = tileRow[x >> 4];
                if (t < 0) {
                    x |= 12;  // on to the next tile
                    continue;
                }
                if (t != lastT) {
                    if (lastT >= 0)
                        touched[size_t(lastT)] |= bits;
                    lastT = t;
                    bits = 0;
                }
                bits |= std::uint64_t(1) << (rowBit + ((x & 15) >> 2));
                // px = x + 0.5 - a.x, rounded as the scalar formula rounds it.
                const __m128 px = _mm_sub_ps(_mm_add_ps(_mm_add_ps(_mm_set1_ps(float(x)), step), half), ax);
                __m128 u = _mm_mul_ps(_mm_add_ps(_mm_mul_ps(px, vdx), pyTerm), vinv);
                u = _mm_min_ps(_mm_max_ps(u, zero), one);
                const __m128 ex = _mm_sub_ps(px, _mm_mul_ps(u, vdx)), ey = _mm_sub_ps(vpy, _mm_mul_ps(u, vdy));
                const __m128 e2 = _mm_add_ps(_mm_mul_ps(ex, ex), _mm_mul_ps(ey, ey));
                float *p = const_cast<float *>(base) + size_t(t) * 256 + rowOff + (x & 15);
                _mm_store_ps(p, _mm_min_ps(e2, _mm_load_ps(p)));
            }
            if (lastT >= 0)
                touched[size_t(lastT)] |= bits;
        }
    }

    // Strips of the region s >= 0 that nowhere get further than `depth`
    // inside are taken out of it. Parts are told apart a pixel further out
    // (s >= -1, 8-neighbourhood): a thin strip whose ridge the pixel
    // centres only touch here and there is one part there, not a row of
    // dots. A part that reaches a uniform inside block beyond the band is
    // deep enough; a part about as long as it is wide (the inset of a pin)
    // stays, since its loop fills it better than a hair across it.
    // Past the first forms the levels are written already: the walks mend
    // those of the pixels they drop.
    void dropThinParts(Plane8 &cov, Plane8 &summary, Floats &s, float depth) const
    {
        // 0 not reached yet, 1 reached, 2 in a deep part: a walk stops at
        // the first sign of depth, and a later walk that meets its pixels
        // is in that same part. The marks are this thread's, kept from
        // call to call all 0: the walks take back their own marks after
        // them, so only the pixels walked are written, not the band's
        // worth. (A walk that threw leaves them marked: cleared whole then.)
        struct Marks {
            std::vector<char> seen;
            bool clean = true;
        };
        static thread_local Marks marks;
        if (!marks.clean)
            std::fill(marks.seen.begin(), marks.seen.end(), 0);
        if (marks.seen.size() < s.size())
            marks.seen.resize(s.size(), 0);
        marks.clean = false;
        Walk walk{*this, cov, s, depth, marks.seen, {}, {}, {}, {}, {}};
        // Pixels are walked by their index into the tile arrays
        // (tile * 256 + y * 16 + x); a step across a tile's side looks the
        // neighbouring block up.
        walk.blockOf = blockOfTile;
        if (firstForms) {
            walkEveryStart(walk);
        } else {
            walkUndecidedStarts(walk);
            mendDropped(cov, summary, s, walk);
        }
        for (int i : walk.marked)
            marks.seen[size_t(i)] = 0;
        marks.clean = true;
    }

    // One walk over a part: the shallow pixels (kJoin <= s < depth, a strip
    // a few pixels wide along the level) joined to a start, stopping at the
    // first deep one beside them. Parts are disjoint, so the order they are
    // found in does not matter.
    struct Walk {
        static constexpr float kJoin = -1.0f;
        const Band &band;
        const Plane8 &cov;
        Floats &s;
        const float depth;
        std::vector<char> &seen;
        std::vector<int> part, stack;
        std::vector<int> blockOf;
        std::vector<int> dropped;  // pixels whose s a walk lowered
        std::vector<int> marked;   // pixels seen marks

        void from(int i0)
        {
            const int bw = band.bw, bh = band.bh;
            part.clear();
            stack.assign(1, i0);
            seen[size_t(i0)] = 1;
            bool deep = false;
            float top = 0;
            while (!stack.empty() && !deep) {
                const int i = stack.back();
                stack.pop_back();
                part.push_back(i);
                top = std::max(top, s[size_t(i)]);
                const int lx = i & 15, ly = (i >> 4) & 15;
                const bool interior = lx > 0 && lx < 15 && ly > 0 && ly < 15;
                const int b = interior ? 0 : blockOf[size_t(i >> 8)];
                for (int dy = -1; dy <= 1 && !deep; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        if (!dx && !dy)
                            continue;
                        int j;
                        if (interior) {
                            j = i + dy * 16 + dx;
                        } else {
                            const int nx = lx + dx, ny = ly + dy;
                            const int bx = b % bw + (nx < 0 ? -1 : nx > 15 ? 1 : 0);
                            const int by = b / bw + (ny < 0 ? -1 : ny > 15 ? 1 : 0);
                            if (bx < 0 || by < 0 || bx >= bw || by >= bh)
                                continue;  // beyond the plane
                            const int nt = band.tile[size_t(by) * bw + bx];
                            if (nt < 0) {
                                if (cov.row(by * 16 + (ny & 15))[bx * 16 + (nx & 15)] >= 128) {
                                    deep = true;
                                    break;
                                }
                                continue;
                            }
                            j = nt * 256 + (ny & 15) * 16 + (nx & 15);
                        }
                        if (s[size_t(j)] >= depth || seen[size_t(j)] == 2) {
                            deep = true;
                            break;
                        }
                        if (!seen[size_t(j)] && s[size_t(j)] >= kJoin) {
                            seen[size_t(j)] = 1;
                            stack.push_back(j);
                        }
                    }
            }
            // Every pixel marked is in the part or still on the stack.
            marked.insert(marked.end(), part.begin(), part.end());
            marked.insert(marked.end(), stack.begin(), stack.end());
            if (deep) {
                for (int i : part)
                    seen[size_t(i)] = 2;
                for (int i : stack)
                    seen[size_t(i)] = 2;
                return;
            }
            // A disc of radius top grown by the joining pixel (and the
            // ridge the grid may miss) has about pi (top + 1.7)^2 pixels.
            const float round = 2 * 3.1416f * (top + 1.7f) * (top + 1.7f);
            if (float(part.size()) > round) {
                for (int i : part)
                    s[size_t(i)] = std::min(s[size_t(i)], -1.0f / 255);
                dropped.insert(dropped.end(), part.begin(), part.end());
            }
        }
    };

    // A walk from every pixel that can start a part (0 <= s < depth), in
    // index order.
    void walkEveryStart(Walk &walk) const
    {
        const Floats &s = walk.s;
        const float depth = walk.depth;
        const size_t count = s.size();
        const __m128 zero = _mm_setzero_ps(), deepV = _mm_set1_ps(depth);
        // The first pixel of the first group at or after pixel i (a group's
        // first) that a stamp reached; count when there is none.
        auto nextTouched = [&](size_t i) {
            size_t t = i >> 8;
            std::uint64_t bits = touched[t] >> ((i & 255) >> 2);
            if (bits)
                return i + 4 * size_t(__builtin_ctzll(bits));
            while (++t < size_t(tiles))
                if (touched[t])
                    return t * 256 + 4 * size_t(__builtin_ctzll(touched[t]));
            return count;
        };
        for (size_t i0 = 0; i0 < count; ++i0) {
            if ((i0 & 3) == 0) {
                // Four at a time past pixels that start no part; with
                // farIsPlain, straight to the next group a stamp reached.
                if (farIsPlain && (i0 = nextTouched(i0)) >= count)
                    break;
                const __m128 v = _mm_loadu_ps(s.data() + i0);
                if (!_mm_movemask_ps(_mm_and_ps(_mm_cmpge_ps(v, zero), _mm_cmplt_ps(v, deepV)))) {
                    i0 += 3;
                    continue;
                }
            }
            if (walk.seen[i0] || s[i0] < 0 || s[i0] >= depth)
                continue;
            walk.from(int(i0));
        }
    }

    // The same walks, but only from the starts a tile's own bits (see
    // finish()) leave open. Shallow pixels joined within the tile to a deep one (its own, or one
    // in the rows and columns of the blocks around it; a block beyond the
    // band by its coverage) are in a deep part and start no walk. The other
    // starts walk as before, so the parts and what is dropped stay the same.
    void walkUndecidedStarts(Walk &walk) const
    {
        const Plane8 &cov = walk.cov;
        auto coverageRow = [&cov](int bx, int by, int y) {
            return _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(cov.row(by * 16 + y) + bx * 16)));
        };
        // D of block (bx, by): row y (kD + y), or a column (kFirst, kLast);
        // a block beyond the band by its coverage, beyond the plane none.
        auto deepBits = [&](int bx, int by, int which) -> std::uint32_t {
            if (bx < 0 || by < 0 || bx >= bw || by >= bh)
                return 0;
            const int t = tile[size_t(by) * bw + bx];
            if (t >= 0)
                return bits[size_t(t) * kStride + which];
            if (which < kFirst)
                return std::uint32_t(coverageRow(bx, by, which - kD));
            std::uint32_t col = 0;
            for (int y = 0; y < 16; ++y)
                col |= std::uint32_t(cov.row(by * 16 + y)[bx * 16 + (which == kFirst ? 0 : 15)] >= 128) << y;
            return col;
        };
        for (int t = 0; t < tiles; ++t) {
            if (!open[size_t(t)])
                continue;  // no start, or left the band
            const std::uint16_t *m = bits.data() + size_t(t) * kStride;
            {
                // Most tiles settle on their own bits: every start is
                // beside a deep pixel of the tile, or beside a shallow one
                // that is (two steps, no blocks around). Rows 0-7 and 8-15
                // of a mask are eight 16-bit lanes each.
                struct Rows {
                    __m128i lo, hi;
                };
                auto load = [m](int at) {
                    return Rows{_mm_loadu_si128(reinterpret_cast<const __m128i *>(m + at)),
                                _mm_loadu_si128(reinterpret_cast<const __m128i *>(m + at + 8))};
                };
                // Each row or-ed with the rows either side and then with
                // its pixels' neighbours along it (none beyond the tile).
                auto grown = [](Rows r) {
                    const __m128i upLo = _mm_slli_si128(r.lo, 2), upHi = _mm_or_si128(_mm_slli_si128(r.hi, 2), _mm_srli_si128(r.lo, 14));
                    const __m128i dnLo = _mm_or_si128(_mm_srli_si128(r.lo, 2), _mm_slli_si128(r.hi, 14)), dnHi = _mm_srli_si128(r.hi, 2);
                    const __m128i lo = _mm_or_si128(r.lo, _mm_or_si128(upLo, dnLo)), hi = _mm_or_si128(r.hi, _mm_or_si128(upHi, dnHi));
                    return Rows{_mm_or_si128(lo, _mm_or_si128(_mm_slli_epi16(lo, 1), _mm_srli_epi16(lo, 1))),
                                _mm_or_si128(hi, _mm_or_si128(_mm_slli_epi16(hi, 1), _mm_srli_epi16(hi, 1)))};
                };
                const Rows deep = load(kD), join = load(kJ), start = load(kS);
                const Rows g1 = grown(deep);
                const Rows step1{_mm_and_si128(g1.lo, join.lo), _mm_and_si128(g1.hi, join.hi)};
                const Rows g2 = grown(step1);
                const __m128i openLo = _mm_andnot_si128(_mm_or_si128(step1.lo, _mm_and_si128(g2.lo, join.lo)), start.lo);
                const __m128i openHi = _mm_andnot_si128(_mm_or_si128(step1.hi, _mm_and_si128(g2.hi, join.hi)), start.hi);
                if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(openLo, openHi), _mm_setzero_si128())) == 0xFFFF)
                    continue;
            }
            const int bx = blockOfTile[size_t(t)] % bw, by = blockOfTile[size_t(t)] / bw;
            // Rows of 18 bits: bit x + 1 is pixel x, bits 0 and 17 the
            // columns either side. Rows 0-15 four to a vector.
            const std::uint32_t left = deepBits(bx - 1, by, kLast), right = deepBits(bx + 1, by, kFirst);
            auto rowAround = [&](int dy, int y) {
                return deepBits(bx, by + dy, kD + y) << 1 | (deepBits(bx - 1, by + dy, kLast) >> y & 1) |
                       (deepBits(bx + 1, by + dy, kFirst) >> y & 1) << 17;
            };
            const std::uint32_t above = rowAround(-1, 15), below = rowAround(1, 0);
            auto spread = [](__m128i v) { return _mm_or_si128(v, _mm_or_si128(_mm_slli_epi32(v, 1), _mm_srli_epi32(v, 1))); };
            const __m128i aboveV = _mm_cvtsi32_si128(int(above | above << 1 | above >> 1));
            const __m128i belowV = _mm_slli_si128(_mm_cvtsi32_si128(int(below | below << 1 | below >> 1)), 12);
            __m128i deepV4[4], joinV4[4], joined[4];
            {
                const __m128i z = _mm_setzero_si128(), one = _mm_set1_epi32(1), lane = _mm_set_epi32(8, 4, 2, 1);
                const __m128i d0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(m + kD)),
                              d1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(m + kD + 8));
                const __m128i j0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(m + kJ)),
                              j1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(m + kJ + 8));
                const __m128i d[4] = {_mm_unpacklo_epi16(d0, z), _mm_unpackhi_epi16(d0, z), _mm_unpacklo_epi16(d1, z),
                                      _mm_unpackhi_epi16(d1, z)};
                const __m128i j[4] = {_mm_unpacklo_epi16(j0, z), _mm_unpackhi_epi16(j0, z), _mm_unpacklo_epi16(j1, z),
                                      _mm_unpackhi_epi16(j1, z)};
                for (int k = 0; k < 4; ++k) {
                    // Lane y of rows 4 k … 4 k + 3: bit 4 k + y of a column.
                    const __m128i l = _mm_and_si128(_mm_cmpeq_epi32(_mm_and_si128(_mm_set1_epi32(int(left >> (4 * k))), lane), lane), one);
                    const __m128i r = _mm_and_si128(_mm_cmpeq_epi32(_mm_and_si128(_mm_set1_epi32(int(right >> (4 * k))), lane), lane), one);
                    deepV4[k] = _mm_or_si128(_mm_or_si128(_mm_slli_epi32(d[k], 1), l), _mm_slli_epi32(r, 17));
                    joinV4[k] = _mm_slli_epi32(j[k], 1);
                    joined[k] = z;
                }
            }
            // Joined to depth: shallow pixels beside a deep or joined one,
            // grown until nothing changes.
            for (bool grew = true; grew;) {
                __m128i a[4];
                for (int k = 0; k < 4; ++k)
                    a[k] = spread(_mm_or_si128(deepV4[k], joined[k]));
                int same = 0xFFFF;
                for (int k = 0; k < 4; ++k) {
                    const __m128i fromAbove = _mm_or_si128(_mm_slli_si128(a[k], 4), k ? _mm_srli_si128(a[k - 1], 12) : aboveV);
                    const __m128i fromBelow = _mm_or_si128(_mm_srli_si128(a[k], 4), k < 3 ? _mm_slli_si128(a[k + 1], 12) : belowV);
                    const __m128i next = _mm_and_si128(_mm_or_si128(a[k], _mm_or_si128(fromAbove, fromBelow)), joinV4[k]);
                    same &= _mm_movemask_epi8(_mm_cmpeq_epi32(next, joined[k]));
                    joined[k] = next;
                }
                grew = same != 0xFFFF;
            }
            alignas(16) std::uint32_t joinedRows[16];
            for (int k = 0; k < 4; ++k)
                _mm_store_si128(reinterpret_cast<__m128i *>(joinedRows + 4 * k), joined[k]);
            for (int y = 0; y < 16; ++y)
                for (std::uint32_t r = m[kS + y] & ~(joinedRows[y] >> 1); r; r &= r - 1) {
                    const size_t i = size_t(t) * 256 + y * 16 + size_t(__builtin_ctz(r));
                    if (!walk.seen[i])
                        walk.from(int(i));
                }
        }
    }

    // f(x, y, index into a tile array) for every band pixel, block by block.
    template <typename F>
    void forEach(const F &f) const
    {
        for (int by = 0; by < bh; ++by)
            for (int bx = 0; bx < bw; ++bx) {
                const int t = tile[size_t(by) * bw + bx];
                if (t < 0)
                    continue;
                for (int y = 0; y < 16; ++y)
                    for (int x = 0; x < 16; ++x)
                        f(bx * 16 + x, by * 16 + y, size_t(t) * 256 + y * 16 + x);
            }
    }

    // Writes the level 128 + s * 255 / kDistanceRamp of every band pixel
    // (s > 0 inside; exactly 0 counts as inside) and summarises its blocks.
    void encode(Plane8 &cov, Plane8 &summary, const Floats &s) const
    {
        // Without farIsPlain every group goes the float road.
        const float k = 255.0f / kDistanceRamp;
        // Per pixel: v = 128 + s k, clamped to [-1, 256], rounded to the
        // nearest level, kept on its side of 128 (rounding must not put a
        // pixel a hair outside on the inside) and clamped to a byte. Four at
        // a time; truncating c + 0.5 instead of flooring it differs only
        // below 0, which ends at 0 either way.
        const __m128 vk = _mm_set1_ps(k), v128 = _mm_set1_ps(128), lo = _mm_set1_ps(-1), hi = _mm_set1_ps(256);
        const __m128 half = _mm_set1_ps(0.5f), zero = _mm_setzero_ps(), v127 = _mm_set1_ps(127),
                     v255 = _mm_set1_ps(255);
        for (int by = 0; by < bh; ++by)
            for (int bx = 0; bx < bw; ++bx) {
                const int t = tile[size_t(by) * bw + bx];
                if (t < 0)
                    continue;
                __m128i any = _mm_setzero_si128(), all = _mm_set1_epi8(char(0xFF));
                const std::uint64_t hit = farIsPlain ? touched[size_t(t)] : ~std::uint64_t(0);
                for (int y = 0; y < 16; ++y) {
                    uchar *out = cov.row(by * 16 + y) + bx * 16;
                    const int rowHit = int(hit >> (4 * y)) & 15;
                    // Unstamped groups: 255 inside, 0 outside (cov's side).
                    const __m128i plain = _mm_cmplt_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(out)),
                                                         _mm_setzero_si128());
                    if (!rowHit) {
                        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), plain);
                        any = _mm_or_si128(any, plain);
                        all = _mm_and_si128(all, plain);
                        continue;
                    }
                    const float *sr = s.data() + size_t(t) * 256 + y * 16;
                    __m128i q4[4];
                    for (int g = 0; g < 4; ++g) {
                        if (!((rowHit >> g) & 1)) {
                            q4[g] = _mm_setzero_si128();  // taken from plain below
                            continue;
                        }
                        const __m128 sv = _mm_loadu_ps(sr + 4 * g);
                        const __m128 c = _mm_min_ps(_mm_max_ps(_mm_add_ps(v128, _mm_mul_ps(sv, vk)), lo), hi);
                        const __m128 r = _mm_cvtepi32_ps(_mm_cvttps_epi32(_mm_add_ps(c, half)));
                        const __m128 in = _mm_cmpge_ps(sv, zero);
                        const __m128 q = _mm_or_ps(_mm_and_ps(in, _mm_max_ps(r, v128)),
                                                   _mm_andnot_ps(in, _mm_min_ps(r, v127)));
                        q4[g] = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(q, zero), v255));
                    }
                    __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(q4[0], q4[1]), _mm_packs_epi32(q4[2], q4[3]));
                    if (rowHit != 15) {
                        const __m128i pick = _mm_set_epi32(rowHit & 8 ? -1 : 0, rowHit & 4 ? -1 : 0, rowHit & 2 ? -1 : 0,
                                                           rowHit & 1 ? -1 : 0);
                        bytes = _mm_or_si128(_mm_and_si128(pick, bytes), _mm_andnot_si128(pick, plain));
                    }
                    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), bytes);
                    any = _mm_or_si128(any, bytes);
                    all = _mm_and_si128(all, bytes);
                }
                const bool all0 = _mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) == 0xFFFF;
                const bool all255 = _mm_movemask_epi8(_mm_cmpeq_epi8(all, _mm_set1_epi8(char(0xFF)))) == 0xFFFF;
                summary.data[by * bw + bx] = all0 ? 0 : all255 ? 255 : 128;
            }
    }
};

} // namespace

namespace {

void offsetByDistance(Plane8 &cov, Plane8 &summary, float distance, Plane1 &visited, PathList *edgeOut,
                      bool areaCoverage, const PathList *traced, bool firstForms)
{
    if (edgeOut)
        edgeOut->clear();
    PerfScope perf("distanceOffset");
    const int W = cov.width, H = cov.height;
    if (W <= 0 || H <= 0 || summary.width * 16 != W || summary.height * 16 != H)
        return;
    // A region that reaches the plane's border has no traced edge along it
    // (contours end there): the border itself is its edge, as it is for the
    // blur, or a region filling the plane would never shrink.
    bool atBorder = false;
    // The top and bottom rows sixteen pixels at a time (the width is a
    // multiple of 16): a sign bit is a pixel at or above 128.
    for (int x = 0; x < W && !atBorder; x += 16)
        atBorder = _mm_movemask_epi8(_mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(cov.row(0) + x)),
                                                  _mm_loadu_si128(reinterpret_cast<const __m128i *>(cov.row(H - 1) + x)))) != 0;
    // Down the sides only through blocks that are not all 0 (a column is a
    // cache line per pixel).
    const int sbw = summary.width;
    for (int y = 0; y < H && !atBorder; ++y) {
        const uchar *sr = summary.data + size_t(y >> 4) * sbw;
        atBorder = (sr[0] != 0 && cov.row(y)[0] >= 128) || (sr[sbw - 1] != 0 && cov.row(y)[W - 1] >= 128);
    }
    Band band(summary, W, H, atBorder, firstForms);
    if (band.tiles == 0)
        return;
    // Distance to the section's edge: the offset region is where it exceeds
    // `distance`.
    PathList edge;
    if (areaCoverage) {
        edge = areaOutline(cov, summary, visited);
    } else {
        edge = traced ? *traced : contourDetect3(cov, summary, visited, keepEveryCrossing());
    }
    // Straight runs of crossings become one segment each: the distance pass
    // costs a box around every segment.
    for (PolyLine &pl : edge) {
        mergeStraightRuns(pl, 0.005f, 64);
        if (areaCoverage)
            sharpenCorners(pl);
    }
    if (atBorder) {
        PolyLine frame;  // counter-clockwise: the plane on its left
        frame.closed = true;
        frame.pts = {PolyPoint(0, 0), PolyPoint(float(W), 0), PolyPoint(float(W), float(H)), PolyPoint(0, float(H))};
        edge.append(frame);
    }
    // Far enough for the ramp and for telling thin parts (kThinInset / 2
    // beyond `distance`); anything further counts as that far: deep, and
    // 255. The margin only keeps the cap's root clear of that depth (the
    // first forms stamped half a pixel further, to the same bytes).
    const float reach = std::fabs(distance) + std::max(kThinInset, kDistanceRamp) / 2 + (firstForms ? 0.5f : 0.01f);
    band.trim(cov, summary, edge, reach);
    Floats s = band.insideDistance(cov, summary, edge, reach, distance, kThinInset / 2);
    band.dropThinParts(cov, summary, s, kThinInset / 2);
    if (edgeOut)
        *edgeOut = edge;
    if (firstForms)
        band.encode(cov, summary, s);
}

} // namespace

void distanceOffset(Plane8 &cov, Plane8 &summary, float distance, Plane1 &visited, PathList *edgeOut,
                    bool areaCoverage, const PathList *traced)
{
    offsetByDistance(cov, summary, distance, visited, edgeOut, areaCoverage, traced, false);
}

void distanceOffsetReference(Plane8 &cov, Plane8 &summary, float distance, Plane1 &visited, PathList *edgeOut,
                             bool areaCoverage, const PathList *traced)
{
    offsetByDistance(cov, summary, distance, visited, edgeOut, areaCoverage, traced, true);
}


void snapToDistance(PathList &outlines, const PathList &edge, float distance)
{
    // The edge's segments by 16-pixel cell of their bounding boxes.
    constexpr int kCell = 16;
    struct Seg {
        PolyPoint a, b;
    };
    std::vector<Seg> segs;
    float minX = 1e30f, minY = 1e30f, maxX = -1e30f, maxY = -1e30f;
    for (const PolyLine &pl : edge) {
        const int n = pl.pts.size();
        for (int k = 0; k < (pl.closed ? n : n - 1); ++k) {
            const Seg g{pl.pts[k], pl.pts[(k + 1) % n]};
            segs.push_back(g);
            minX = std::min({minX, g.a.x, g.b.x});
            minY = std::min({minY, g.a.y, g.b.y});
            maxX = std::max({maxX, g.a.x, g.b.x});
            maxY = std::max({maxY, g.a.y, g.b.y});
        }
    }
    if (segs.empty() || !std::isfinite(distance))
        return;
    const int cw = int((maxX - minX) / kCell) + 1, ch = int((maxY - minY) / kCell) + 1;
    auto cellX = [&](float x) { return std::clamp(int((x - minX) / kCell), 0, cw - 1); };
    auto cellY = [&](float y) { return std::clamp(int((y - minY) / kCell), 0, ch - 1); };
    // Cell c's segments are cellSegs[cellStart[c] … cellStart[c + 1]), in
    // index order (the order ties are settled in): counted, then placed.
    std::vector<int> cellStart(size_t(cw) * ch + 1, 0), cellSegs;
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1) {
            for (size_t c = 1; c < cellStart.size(); ++c)
                cellStart[c] += cellStart[c - 1];
            cellSegs.resize(size_t(cellStart.back()));
        }
        for (int i = 0; i < int(segs.size()); ++i) {
            const Seg &g = segs[size_t(i)];
            for (int cy = cellY(std::min(g.a.y, g.b.y)); cy <= cellY(std::max(g.a.y, g.b.y)); ++cy)
                for (int cx = cellX(std::min(g.a.x, g.b.x)); cx <= cellX(std::max(g.a.x, g.b.x)); ++cx) {
                    const size_t c = size_t(cy) * cw + cx;
                    if (pass == 0)
                        ++cellStart[c + 1];
                    else
                        cellSegs[size_t(cellStart[c]++)] = i;
                }
        }
    }
    // Placing moved every start to the next cell's: shift them back.
    for (size_t c = cellStart.size() - 1; c > 0; --c)
        cellStart[c] = cellStart[c - 1];
    cellStart[0] = 0;
    const float reach = std::fabs(distance) + 1;
    for (PolyLine &pl : outlines)
        for (PolyPoint &v : pl.pts) {
            float best = reach * reach;
            PolyPoint foot;
            bool found = false;
            for (int cy = cellY(v.y - reach); cy <= cellY(v.y + reach); ++cy)
                for (int cx = cellX(v.x - reach); cx <= cellX(v.x + reach); ++cx)
                    for (int k = cellStart[size_t(cy) * cw + cx], e = cellStart[size_t(cy) * cw + cx + 1]; k < e; ++k) {
                        const Seg &g = segs[size_t(cellSegs[size_t(k)])];
                        const float dx = g.b.x - g.a.x, dy = g.b.y - g.a.y;
                        const float l2 = dx * dx + dy * dy;
                        const float t = l2 > 0 ? std::clamp(((v.x - g.a.x) * dx + (v.y - g.a.y) * dy) / l2, 0.0f, 1.0f) : 0.0f;
                        const PolyPoint f(g.a.x + t * dx, g.a.y + t * dy);
                        const float d2 = (v.x - f.x) * (v.x - f.x) + (v.y - f.y) * (v.y - f.y);
                        if (d2 < best) {
                            best = d2;
                            foot = f;
                            found = true;
                        }
                    }
            const float r = std::sqrt(best);
            if (found && r > 0 && std::fabs(r - std::fabs(distance)) < 1)
                v = foot + (v - foot) * (std::fabs(distance) / r);
        }
}
