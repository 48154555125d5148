#include "geometry/polyline.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <emmintrin.h>
#include <functional>
#include <memory>
#include <queue>
#include <vector>

const char *const SegTypeNames[SegTypeSchemeCount * SegTypeCount] = {
    // scheme 0: our own
    "Unknown", "Perimeter", "Loop", "HShell", "Infill", "Support", "SoftSupport",
    "Skirt", "Raft", "OuterHair", "InnerHair", "Travel",
    // scheme 1
    "", "WALL-OUTER", "WALL-INNER", "FILL", "FILL", "SUPPORT", "", "SKIRT", "", "", "", "",
    // scheme 2
    "", "Outline", "Inset", "Infill", "", "Support", "", "", "", "", "", "",
    // scheme 3
    "", "Perimeter'", "Loop'", "Solid'", "Sparse Infill'", "Support Interface'", "",
    "Skirt'", "Raft'", "Crown'", "", "",
    // scheme 4
    "", "edge>", "loop>", "infill>", "", "supportLayer>", "", "", "raftPerimeter>", "", "", "",
};

const char *segTypeName(int type, int scheme)
{
    if (type < 0 || type >= SegTypeCount || scheme < 0 || scheme >= SegTypeSchemeCount)
        return "";
    return SegTypeNames[scheme * SegTypeCount + type];
}

int segTypeFromName(const QString &name, int scheme)
{
    if (name.isEmpty() || scheme < 0 || scheme >= SegTypeSchemeCount)
        return -1;
    for (int t = 0; t < SegTypeCount; ++t)
        if (name == QLatin1String(SegTypeNames[scheme * SegTypeCount + t]))
            return t;
    return -1;
}

QString feedFactorKey(int type)
{
    return segTypeHasFactors(type) ? QStringLiteral("FFactor_") + segTypeName(type) : QString();
}

QString extrusionFactorKey(int type)
{
    return segTypeHasFactors(type) ? QStringLiteral("EFactor_") + segTypeName(type) : QString();
}

namespace {

float dist(const PolyPoint &a, const PolyPoint &b)
{
    const float dx = a.x - b.x, dy = a.y - b.y;
    return std::sqrt(dx * dx + dy * dy);
}

// Distance from p to the segment a-b.
inline __attribute__((always_inline)) float segDist(const PolyPoint &p, const PolyPoint &a, const PolyPoint &b)
{
    const float dx = b.x - a.x, dy = b.y - a.y;
    const float len2 = dx * dx + dy * dy;
    float t = 0;
    if (len2 > 0)
        t = std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / len2, 0.0f, 1.0f);
    return dist(p, PolyPoint(a.x + t * dx, a.y + t * dy));
}

// Square of segDist, computed the same way: sqrt is monotonic and exactly
// rounded, so the largest of these gives the largest segDist exactly.
float segDist2(const PolyPoint &p, const PolyPoint &a, const PolyPoint &b)
{
    const float dx = b.x - a.x, dy = b.y - a.y;
    const float len2 = dx * dx + dy * dy;
    float t = 0;
    if (len2 > 0)
        t = std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / len2, 0.0f, 1.0f);
    const PolyPoint q(a.x + t * dx, a.y + t * dy);
    const float ex = p.x - q.x, ey = p.y - q.y;
    return ex * ex + ey * ey;
}

// The largest segDist2(p[j], a, b) over j in [from, to), four points at a
// time with segDist2's arithmetic in its order (std::clamp's NaN stays NaN,
// and a NaN distance is passed over as `d2 > e2` passes it). Stops early once
// its root exceeds `limit`: the caller only asks whether it does.
float maxSegDist2(const PolyPoint *p, int from, int to, PolyPoint a, PolyPoint b, float limit)
{
    const float dx = b.x - a.x, dy = b.y - a.y;
    const float len2 = dx * dx + dy * dy;
    const __m128 vax = _mm_set1_ps(a.x), vay = _mm_set1_ps(a.y), vdx = _mm_set1_ps(dx), vdy = _mm_set1_ps(dy);
    const __m128 vl2 = _mm_set1_ps(len2), zero = _mm_setzero_ps(), one = _mm_set1_ps(1);
    __m128 best = zero;
    auto four = [&](__m128 px, __m128 py) {
        __m128 t = zero;
        if (len2 > 0) {
            t = _mm_div_ps(_mm_add_ps(_mm_mul_ps(_mm_sub_ps(px, vax), vdx), _mm_mul_ps(_mm_sub_ps(py, vay), vdy)), vl2);
            t = _mm_min_ps(one, _mm_max_ps(zero, t));
        }
        const __m128 ex = _mm_sub_ps(px, _mm_add_ps(vax, _mm_mul_ps(t, vdx)));
        const __m128 ey = _mm_sub_ps(py, _mm_add_ps(vay, _mm_mul_ps(t, vdy)));
        // max(d2, best) keeps best where d2 is NaN.
        best = _mm_max_ps(_mm_add_ps(_mm_mul_ps(ex, ex), _mm_mul_ps(ey, ey)), best);
    };
    auto largest = [&]() {
        const __m128 m = _mm_max_ps(best, _mm_shuffle_ps(best, best, _MM_SHUFFLE(1, 0, 3, 2)));
        return _mm_cvtss_f32(_mm_max_ps(m, _mm_shuffle_ps(m, m, _MM_SHUFFLE(2, 3, 0, 1))));
    };
    int j = from;
    for (; j + 4 <= to; j += 4) {
        const __m128 lo = _mm_loadu_ps(&p[j].x), hi = _mm_loadu_ps(&p[j + 2].x);
        four(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0)), _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1)));
        if (((j - from) & 31) == 28 && std::sqrt(largest()) > limit)
            return largest();
    }
    if (j < to) {
        // The rest, its last point repeated in the spare lanes.
        const PolyPoint p0 = p[j], p1 = p[std::min(j + 1, to - 1)], p2 = p[to - 1];
        four(_mm_set_ps(p2.x, p2.x, p1.x, p0.x), _mm_set_ps(p2.y, p2.y, p1.y, p0.y));
    }
    return largest();
}

// Copy of the metadata only (no vertices, widths or hairs).
PolyLine emptyLike(const PolyLine &src)
{
    PolyLine r(src.type);
    r.closed = src.closed;
    r.farTravelAfter = src.farTravelAfter;
    r.hairKey = src.hairKey;
    return r;
}

// Parent vertices [from, to] as a path of their own, with the parent's flags.
PolyLine slicePath(const PolyLine &src, int from, int to)
{
    PolyLine r = emptyLike(src);
    r.pts = src.pts.mid(from, to - from + 1);
    if (src.hasWidths())
        r.w = src.w.mid(from, to - from + 1);
    return r;
}

} // namespace

PolyLine PolyLine::smoothed(int kernel) const
{
    if (closed)
        throw QString("PolyLine::smoothed() closed polygon smotthing not implemented.");
    if (kernel != 1 && kernel != 3 && kernel != 5)
        throw QString("PolyLine::smoothed() invalid parameter");
    PolyLine r = *this;
    const int n = pts.size();
    if (kernel == 1 || n < 3)
        return r;
    const bool hasW = w.size() == n;
    PolyPoint *o = r.pts.data();
    float *ow = hasW ? r.w.data() : nullptr;
    const PolyPoint *p = pts.constData();
    const float *pw = w.constData();
    for (int i = 1; i <= n - 2; ++i) {
        if (kernel == 5 && i >= 2 && i <= n - 3) {
            o[i] = (p[i - 2] + p[i - 1] * 4 + p[i] * 6 + p[i + 1] * 4 + p[i + 2]) * (1.0f / 16);
            if (ow)
                ow[i] = (pw[i - 2] + 4 * pw[i - 1] + 6 * pw[i] + 4 * pw[i + 1] + pw[i + 2]) / 16;
        } else {
            o[i] = (p[i - 1] + p[i] * 2 + p[i + 1]) * 0.25f;
            if (ow)
                ow[i] = (pw[i - 1] + 2 * pw[i] + pw[i + 1]) / 4;
        }
    }
    return r;
}

PolyLine PolyLine::splitLongSegs(float maxLen) const
{
    if (!w.isEmpty())
        throw QString("PolyLine::splitLongSegs handling w[] is not implemented.");
    if (!hairs.isEmpty())
        throw QString("PolyLine::splitLongSegs handling hairs[] is not implemented.");
    if (closed)
        throw QString("PolyLine::splitLongSegs closed oikys not supported.");
    PolyLine r = emptyLike(*this);
    // A non-positive or non-finite length would ask for endless pieces.
    if (!(maxLen > 0) || !std::isfinite(maxLen) || pts.size() < 2) {
        r.pts = pts;
        return r;
    }
    // Bounds the points one segment may add, whatever maxLen is asked for.
    constexpr double kMaxPieces = 1 << 16;
    r.pts.reserve(pts.size());
    r.pts.append(pts[0]);
    for (int i = 0; i + 1 < pts.size(); ++i) {
        const PolyPoint a = pts[i], b = pts[i + 1];
        const double l1 = std::fabs(b.x - a.x) + std::fabs(b.y - a.y);
        if (l1 > 1.5 * maxLen) {
            const int k = int(std::min(std::floor(l1 / maxLen + 0.5), kMaxPieces));
            for (int j = 1; j < k; ++j)
                r.pts.append(a + (b - a) * (float(j) / float(k)));
        }
        r.pts.append(b);
    }
    return r;
}

bool PolyLine::truncate(float length, float *walked)
{
    if (closed)
        throw QString("PolyLine::truncate() invalid operation: closed polygon");
    if (!(length > 0))
        length = 0;
    const int n = pts.size();
    float done = 0;
    for (int i = 1; i < n; ++i) {
        const float seg = dist(pts[i - 1], pts[i]);
        if (done + seg >= length) {
            const float t = std::clamp((length - done) / std::max(seg, 0.001f), 0.0f, 1.0f);
            const bool hasW = w.size() == n;
            if (t > 0) {
                pts.resize(i + 1);
                pts[i] = pts[i - 1] + (pts[i] - pts[i - 1]) * t;
                if (hasW) {
                    w.resize(i + 1);
                    w[i] = w[i - 1] + (w[i] - w[i - 1]) * t;
                }
            } else {
                pts.resize(i);
                if (hasW)
                    w.resize(i);
            }
            if (walked)
                *walked = done;
            return true;
        }
        done += seg;
    }
    if (walked)
        *walked = done;
    return false;
}

bool PolyLine::truncateChain(QList<PolyLine> &list, float length, int firstIndex, float *total)
{
    if (firstIndex < 0)
        firstIndex = 0;
    float sum = 0;
    float remaining = length;
    bool reached = false;
    for (int i = firstIndex; i < list.size(); ++i) {
        float walked = 0;
        if (list[i].truncate(remaining, &walked)) {
            sum += walked;
            while (list.size() > i + 1)
                list.removeLast();
            reached = true;
            break;
        }
        remaining -= walked;
        sum += walked;
    }
    if (total)
        *total = sum;
    return reached;
}

void PolyLine::translate(float dx, float dy)
{
    for (PolyPoint &p : pts) {
        p.x += dx;
        p.y += dy;
    }
}

void PolyLine::openLoop()
{
    if (pts.isEmpty() || !closed)
        return;
    closed = false;
    pts.append(PolyPoint(pts.first()));
    if (!w.isEmpty())
        w.append(float(w.first()));
}

PolyLine PolyLine::rotatedFrom(int start, bool reverse) const
{
    PolyLine r = emptyLike(*this);
    const int n = pts.size();
    if (n == 0)
        return r;
    start = ((start % n) + n) % n;
    const bool hasW = w.size() == n;
    r.pts.resize(n);
    if (hasW)
        r.w.resize(n);
    for (int k = 0; k < n; ++k) {
        const int src = reverse ? (start - k + n) % n : (start + k) % n;
        r.pts[k] = pts[src];
        if (hasW)
            r.w[k] = w[src];
    }
    r.hairs = hairs;
    for (PolyLine &h : r.hairs) {
        const int i = h.hairKey >> 1;
        const int ni = reverse ? (((n - i + start) % n) + n) % n : (((n + i - start) % n) + n) % n;
        h.hairKey = ni * 2 + (h.hairKey & 1);
    }
    return r;
}

void PolyLine::appendFrom(const PolyLine &other, int skip)
{
    skip = std::max(skip, 0);
    const int on = other.pts.size();
    if (skip >= on)
        return;
    const bool otherW = other.w.size() == on;
    // Keep w either empty or as long as pts: when only one side has widths,
    // the other side takes the width at the joint.
    if (otherW && w.isEmpty() && !pts.isEmpty())
        w.fill(other.w[skip], pts.size());
    const bool mineW = !w.isEmpty();
    const float jointW = mineW ? w.last() : 0;
    pts.append(other.pts.mid(skip));
    if (otherW)
        w.append(other.w.mid(skip));
    else if (mineW)
        w.append(QVector<float>(on - skip, jointW));
}

void PolyLine::spliceInto(QList<PolyLine> &list, bool join) const
{
    if (hairs.isEmpty()) {
        if (join && !list.isEmpty())
            list.last().append(*this);
        else
            list.append(*this);
        return;
    }
    QVector<PolyLine> sorted = hairs;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const PolyLine &a, const PolyLine &b) { return a.hairKey < b.hairKey; });
    PolyLine parent = *this;
    parent.hairs.clear();
    const int n = parent.pts.size();
    int s = 0;
    for (const PolyLine &h : sorted) {
        // A key past the parent's ends attaches at the nearest end.
        const int a = std::clamp(h.hairKey >> 1, 0, std::max(n - 1, 0));
        if (s < a)
            list.append(slicePath(parent, s, a));
        list.append((h.hairKey & 1) ? h.reversed() : h);
        s = std::max(s, a);
    }
    // A single left-over vertex is no path.
    if (s < n - 1)
        list.append(slicePath(parent, s, n - 1));
}

void PolyLine::addPoint(const PolyPoint &p, const PathParams &)
{
    if (!std::isfinite(p.x) || !std::isfinite(p.y))
        return;
    if (!pts.isEmpty() && pts.last() == p)
        return;
    pts.append(p);
    if (!w.isEmpty())
        w.append(float(w.last()));
}

void PolyLine::simplify(const PathParams &params)
{
    simplifyWith(params, true);
}

void PolyLine::simplifyOneHeap(const PathParams &params)
{
    simplifyWith(params, false);
}

void PolyLine::simplifyWith(const PathParams &params, bool zeroQueue)
{
    int n = pts.size();
    const bool hasW = w.size() == n;
    // Repeated points first: they carry no shape and confuse the area test.
    // (A point equal to the one before it is exactly one the copy below
    // drops; most lines have none and are not copied.)
    bool repeats = closed && n > 1 && pts.last() == pts.first();
    for (int i = 1; i < n && !repeats; ++i)
        repeats = pts[i] == pts[i - 1];
    if (repeats) {
        QVector<PolyPoint> np;
        QVector<float> nw;
        np.reserve(n);
        for (int i = 0; i < n; ++i) {
            if (!np.isEmpty() && np.last() == pts[i])
                continue;
            np.append(pts[i]);
            if (hasW)
                nw.append(w[i]);
        }
        while (closed && np.size() > 1 && np.last() == np.first()) {
            np.removeLast();
            if (hasW)
                nw.removeLast();
        }
        if (np.size() != n) {
            pts = np;
            if (hasW)
                w = nw;
            n = pts.size();
        }
    }
    const int minCount = closed ? 3 : 2;
    if (n <= minCount || !(params.smoothingArea > 0))
        return;

    // Links and candidate bounds are written before they are read: no
    // clearing (new[] leaves them as they come).
    const std::unique_ptr<int[]> prev(new int[size_t(n)]), next(new int[size_t(n)]);
    std::vector<float> err(n, 0.0f);  // bound of how far segment i->next strays from the trace
    std::vector<int> alive(n, 1);
    // The vectors through plain pointers (here and below): a lambda
    // reaches a vector through its captured reference and would load the
    // data pointer again at every use. (alive is not char: a char store may
    // alias any pointer.)
    int *const prv = prev.get(), *const nxt = next.get(), *const live = alive.data();
    float *const er = err.data();
    for (int i = 0; i < n; ++i) {
        prv[i] = i - 1;
        nxt[i] = i + 1;
    }
    if (closed) {
        prv[0] = n - 1;
        nxt[n - 1] = 0;
    }
    const PolyPoint *p = pts.constData();
    constexpr int kMaxExactSpan = 256;
    // The twin measures the traced points one by one.
    const bool vectorScan = zeroQueue;
    const bool isClosed = closed;
    const float maxArea = params.smoothingArea;
    auto removable = [&, prv, nxt, er, p, n, isClosed, maxArea](int i, float *areaOut, float *errOut)
                         __attribute__((always_inline)) {
        if (!isClosed && (i == 0 || i == n - 1))
            return false;
        const int a = prv[i], b = nxt[i];
        const float cross = (p[i].x - p[a].x) * (p[b].y - p[a].y) - (p[i].y - p[a].y) * (p[b].x - p[a].x);
        const float area = std::fabs(cross) * 0.5f;
        if (!(area < maxArea))
            return false;
        float e = std::max(er[a], er[i]) + segDist(p[i], p[a], p[b]);
        if (e > params.maxDeviation) {
            // The running bound is loose; measure the traced points the new
            // segment would stand for, up to a span that keeps this cheap.
            const int span = (b - a + n) % n;
            if (span > kMaxExactSpan)
                return false;
            if (vectorScan) {
                // The root of the largest square: the same as the loop below
                // takes (roots grow with squares), and over the limit as soon
                // as any one is. The traced points run a + 1 … b - 1, round
                // the end of the array on a closed line.
                const int from = (a + 1) % n;
                float m;
                if (from <= b) {
                    m = maxSegDist2(p, from, b, p[a], p[b], params.maxDeviation);
                } else {
                    m = maxSegDist2(p, from, n, p[a], p[b], params.maxDeviation);
                    if (!(std::sqrt(m) > params.maxDeviation))
                        m = std::max(maxSegDist2(p, 0, b, p[a], p[b], params.maxDeviation), m);
                }
                e = std::sqrt(m);
            } else {
                // Track the largest square and take its root only when it grows.
                e = 0;
                float e2 = 0;
                for (int j = (a + 1) % n; j != b && e <= params.maxDeviation; j = (j + 1) % n) {
                    const float d2 = segDist2(p[j], p[a], p[b]);
                    if (d2 > e2) {
                        e2 = d2;
                        e = std::sqrt(d2);
                    }
                }
            }
            if (e > params.maxDeviation)
                return false;
        }
        *areaOut = area;
        *errOut = e;
        return true;
    };
    // Smallest area first; ties by index so the result never depends on more
    // than the input. The area is never negative or NaN here, so its bits
    // order like its value and area and index pack into one integer key.
    // curKey is a vertex's current key (kNoKey: not removable now). Any
    // queue that always yields the smallest current key gives the same
    // removals: taking a vertex changes only its neighbours' keys.
    using Key = std::uint64_t;
    constexpr Key kNoKey = ~Key(0);
    auto makeKey = [](float area, int i) {
        std::uint32_t bits;
        std::memcpy(&bits, &area, sizeof bits);
        return (Key(bits) << 32) | std::uint32_t(i);
    };
    std::vector<Key> curKey(n, kNoKey);
    const std::unique_ptr<float[]> candErr(new float[size_t(n)]);
    Key *const ck = curKey.data();
    float *const ce = candErr.get();
    int count = n;
    // Takes vertex idx (its key current: neither neighbour nor the bounds of
    // the two segments changed since the test, so it still holds) and
    // tests its neighbours again; update(j) files j's new key.
    auto take = [&, prv, nxt, er, live, ck, ce](int idx, auto &&update) {
        float a, e = ce[idx];
        const int pa = prv[idx], nb = nxt[idx];
        live[idx] = 0;
        --count;
        nxt[pa] = nb;
        prv[nb] = pa;
        er[pa] = e;
        for (int j : {pa, nb}) {
            const Key old = ck[j];
            if (!removable(j, &a, &e)) {
                ck[j] = kNoKey;
            } else {
                ck[j] = makeKey(a, j);
                ce[j] = e;
            }
            update(j, old);
        }
    };
    if (zeroQueue) {
        // Every removable vertex waits exactly once, at its current key:
        // keys of area 0 (a vertex on a straight run between its
        // neighbours: most of a traced straight edge), which come before
        // all others in index order, in a bit set taken lowest first; the
        // others in a four-ary heap (half the depth of a binary one) that
        // knows where each vertex sits, so a changed key moves in place
        // instead of leaving a stale entry to be popped and pushed again.
        std::vector<std::uint64_t> zeroBits(size_t(n + 63) / 64, 0);
        std::uint64_t *const zb = zeroBits.data();
        int zeroCount = 0, zeroLow = 0;  // words below zeroLow hold no bit
        auto zeroSet = [&, zb](int i) {
            zb[size_t(i >> 6)] |= std::uint64_t(1) << (i & 63);
            ++zeroCount;
            zeroLow = std::min(zeroLow, i >> 6);
        };
        auto zeroClear = [&, zb](int i) {
            zb[size_t(i >> 6)] &= ~(std::uint64_t(1) << (i & 63));
            --zeroCount;
        };
        // Each vertex is in the heap at most once: n entries never move.
        const std::unique_ptr<Key[]> heapStore(new Key[size_t(n)]);
        Key *const heap = heapStore.get();
        size_t heapSize = 0;
        std::vector<int> pos(size_t(n), -1);
        int *const slot = pos.data();
        auto place = [&, slot, heap](size_t i, Key k) {
            heap[i] = k;
            slot[size_t(k & 0xffffffffu)] = int(i);
        };
        auto siftUp = [&, heap](size_t i, Key k) {
            while (i > 0) {
                const size_t parent = (i - 1) / 4;
                if (!(k < heap[parent]))
                    break;
                place(i, heap[parent]);
                i = parent;
            }
            place(i, k);
        };
        auto siftDown = [&, heap](size_t i, Key k) {
            const size_t size = heapSize;
            for (;;) {
                const size_t c = 4 * i + 1;
                if (c >= size)
                    break;
                // The least child (keys are distinct: any order of
                // comparing finds the same one), without branches when
                // all four are there.
                size_t m = c;
                if (c + 4 <= size) {
                    const size_t m01 = heap[c + 1] < heap[c] ? c + 1 : c;
                    const size_t m23 = heap[c + 3] < heap[c + 2] ? c + 3 : c + 2;
                    m = heap[m23] < heap[m01] ? m23 : m01;
                } else {
                    for (size_t j = c + 1; j < size; ++j)
                        if (heap[j] < heap[m])
                            m = j;
                }
                if (!(heap[m] < k))
                    break;
                place(i, heap[m]);
                i = m;
            }
            place(i, k);
        };
        // Puts k at slot i (a hole, or a key being changed) where it belongs.
        auto settle = [&, heap](size_t i, Key k) {
            if (i > 0 && k < heap[(i - 1) / 4])
                siftUp(i, k);
            else
                siftDown(i, k);
        };
        auto removeAt = [&, heap, slot](size_t i) {
            slot[size_t(heap[i] & 0xffffffffu)] = -1;
            const Key last = heap[--heapSize];
            if (i < heapSize)
                settle(i, last);
        };
        auto file = [&, ck, ce](int i, float a, float e) {
            ck[i] = makeKey(a, i);
            ce[i] = e;
            if ((ck[i] >> 32) == 0) {
                zeroSet(i);
            } else {
                slot[size_t(i)] = int(heapSize);
                heap[heapSize++] = ck[i];
            }
        };
        auto fileIfRemovable = [&](int i) {
            float a, e;
            if (removable(i, &a, &e))
                file(i, a, e);
        };
        // The first tests of the inner vertices four at a time: removable()'s
        // arithmetic in its order, its neighbours i - 1 and i + 1 and every
        // bound still 0 (0 + d is d). Its exact measure, over the one traced
        // point i, would find d again, so d over the limit is the answer.
        fileIfRemovable(0);
        int i = 1;
        {
            const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1), half = _mm_set1_ps(0.5f);
            const __m128 sign = _mm_set1_ps(-0.0f), vsa = _mm_set1_ps(params.smoothingArea);
            const __m128 vdev = _mm_set1_ps(params.maxDeviation);
            auto xs = [&](int k) {
                const __m128 lo = _mm_loadu_ps(&p[k].x), hi = _mm_loadu_ps(&p[k + 2].x);
                return _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0));
            };
            auto ys = [&](int k) {
                const __m128 lo = _mm_loadu_ps(&p[k].x), hi = _mm_loadu_ps(&p[k + 2].x);
                return _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1));
            };
            for (; i + 3 <= n - 2; i += 4) {
                const __m128 ax = xs(i - 1), ay = ys(i - 1), px = xs(i), py = ys(i), bx = xs(i + 1), by = ys(i + 1);
                const __m128 cross = _mm_sub_ps(_mm_mul_ps(_mm_sub_ps(px, ax), _mm_sub_ps(by, ay)),
                                                _mm_mul_ps(_mm_sub_ps(py, ay), _mm_sub_ps(bx, ax)));
                const __m128 area = _mm_mul_ps(_mm_andnot_ps(sign, cross), half);
                const __m128 dx = _mm_sub_ps(bx, ax), dy = _mm_sub_ps(by, ay);
                const __m128 len2 = _mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy));
                __m128 t = _mm_div_ps(_mm_add_ps(_mm_mul_ps(_mm_sub_ps(px, ax), dx), _mm_mul_ps(_mm_sub_ps(py, ay), dy)), len2);
                t = _mm_and_ps(_mm_cmpgt_ps(len2, zero), _mm_min_ps(one, _mm_max_ps(zero, t)));
                const __m128 ex = _mm_sub_ps(px, _mm_add_ps(ax, _mm_mul_ps(t, dx)));
                const __m128 ey = _mm_sub_ps(py, _mm_add_ps(ay, _mm_mul_ps(t, dy)));
                const __m128 e = _mm_add_ps(zero, _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(ex, ex), _mm_mul_ps(ey, ey))));
                int ok = _mm_movemask_ps(_mm_and_ps(_mm_cmplt_ps(area, vsa), _mm_cmpngt_ps(e, vdev)));
                if (!ok)
                    continue;
                alignas(16) float av[4], ev[4];
                _mm_store_ps(av, area);
                _mm_store_ps(ev, e);
                for (; ok; ok &= ok - 1) {
                    const int k = __builtin_ctz(unsigned(ok));
                    file(i + k, av[k], ev[k]);
                }
            }
        }
        for (; i < n; ++i)
            fileIfRemovable(i);
        if (heapSize > 1)
            for (size_t i = (heapSize - 2) / 4 + 1; i-- > 0;)
                siftDown(i, heap[i]);
        auto update = [&, ck, slot](int j, Key old) {
            const Key k = ck[j];
            if (k == old)
                return;
            const bool wasZero = old != kNoKey && (old >> 32) == 0;
            const bool isZero = k != kNoKey && (k >> 32) == 0;
            if (wasZero)
                zeroClear(j);
            if (isZero)
                zeroSet(j);
            const int at = slot[size_t(j)];
            if (at >= 0) {  // old was in the heap
                if (k == kNoKey || isZero)
                    removeAt(size_t(at));
                else
                    settle(size_t(at), k);
            } else if (k != kNoKey && !isZero) {
                slot[size_t(j)] = int(heapSize);
                heap[heapSize++] = k;
                siftUp(heapSize - 1, k);
            }
        };
        while ((zeroCount > 0 || heapSize > 0) && count > minCount) {
            int idx;
            if (zeroCount > 0) {
                while (zb[size_t(zeroLow)] == 0)
                    ++zeroLow;
                const std::uint64_t word = zb[size_t(zeroLow)];
                idx = zeroLow * 64 + __builtin_ctzll(word);
                zeroClear(idx);
            } else {
                idx = int(heap[0] & 0xffffffffu);
                removeAt(0);
            }
            ck[idx] = kNoKey;
            take(idx, update);
        }
    } else {
        // The twin: a binary heap holding for every removable vertex an
        // entry heapKey no larger than its current key; a vertex whose key
        // only grew keeps its old entry and is pushed again when that comes
        // up. So the vertex taken is always the one of smallest current key.
        std::vector<Key> heapKey(n, kNoKey);
        std::vector<Key> heap;
        heap.reserve(size_t(n) + 16);
        const auto later = std::greater<Key>();
        auto push = [&](Key k) {
            heap.push_back(k);
            std::push_heap(heap.begin(), heap.end(), later);
        };
        for (int i = 0; i < n; ++i) {
            float a, e;
            if (removable(i, &a, &e)) {
                ck[i] = heapKey[i] = makeKey(a, i);
                ce[i] = e;
                heap.push_back(ck[i]);
            }
        }
        std::make_heap(heap.begin(), heap.end(), later);
        auto update = [&](int j, Key) {
            if (ck[j] < heapKey[j]) {
                heapKey[j] = ck[j];
                push(ck[j]);
            }
        };
        while (!heap.empty() && count > minCount) {
            const Key k = heap.front();
            std::pop_heap(heap.begin(), heap.end(), later);
            heap.pop_back();
            const int idx = int(k & 0xffffffffu);
            if (!live[idx] || heapKey[idx] != k)
                continue;
            heapKey[idx] = kNoKey;
            if (ck[idx] == kNoKey)
                continue;
            if (ck[idx] != k) {
                heapKey[idx] = ck[idx];
                push(ck[idx]);
                continue;
            }
            take(idx, update);
        }
    }
    if (count == n)
        return;
    QVector<PolyPoint> np;
    QVector<float> nw;
    np.reserve(count);
    for (int i = 0; i < n; ++i) {
        if (!live[i])
            continue;
        np.append(p[i]);
        if (hasW)
            nw.append(w[i]);
    }
    pts = np;
    if (hasW)
        w = nw;
}

void PolyLine::simplifyPass(float tolerance, float widthTolerance)
{
    const int n = pts.size();
    if (n < 3)
        return;
    const bool hasW = w.size() == n;
    const PolyPoint *p = pts.constData();
    const float *wp = w.constData();
    QVector<PolyPoint> np;
    QVector<float> nw;
    np.reserve(n);
    np.append(p[0]);
    if (hasW)
        nw.append(wp[0]);
    const __m128 vtol = _mm_set1_ps(tolerance), vwtol = _mm_set1_ps(widthTolerance);
    const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1), sign = _mm_set1_ps(-0.0f);
    int kept = 0;
    for (int i = 1; i < n - 1; ++i) {
        // simplifyPassScalar's tests of vertices kept + 1 … i, four at a
        // time in their arithmetic and order (segDist, then the width
        // interpolated along the chord); a group past i repeats i.
        const PolyPoint a = p[kept], b = p[i + 1];
        const float dx = b.x - a.x, dy = b.y - a.y;
        const float len2 = dx * dx + dy * dy;
        const __m128 vax = _mm_set1_ps(a.x), vay = _mm_set1_ps(a.y), vdx = _mm_set1_ps(dx), vdy = _mm_set1_ps(dy);
        const __m128 vl2 = _mm_set1_ps(len2);
        const float wk = hasW ? wp[kept] : 0, wdiff = hasW ? wp[i + 1] - wp[kept] : 0;
        const __m128 vwk = _mm_set1_ps(wk), vwd = _mm_set1_ps(wdiff), vspan = _mm_set1_ps(float(i + 1 - kept));
        bool ok = true;
        for (int j = kept + 1; j <= i && ok; j += 4) {
            const int j1 = std::min(j + 1, i), j2 = std::min(j + 2, i), j3 = std::min(j + 3, i);
            const __m128 px = _mm_set_ps(p[j3].x, p[j2].x, p[j1].x, p[j].x);
            const __m128 py = _mm_set_ps(p[j3].y, p[j2].y, p[j1].y, p[j].y);
            __m128 t = zero;
            if (len2 > 0) {
                t = _mm_div_ps(_mm_add_ps(_mm_mul_ps(_mm_sub_ps(px, vax), vdx), _mm_mul_ps(_mm_sub_ps(py, vay), vdy)), vl2);
                t = _mm_min_ps(one, _mm_max_ps(zero, t));  // std::clamp's order: a NaN stays NaN
            }
            const __m128 ex = _mm_sub_ps(px, _mm_add_ps(vax, _mm_mul_ps(t, vdx)));
            const __m128 ey = _mm_sub_ps(py, _mm_add_ps(vay, _mm_mul_ps(t, vdy)));
            __m128 pass = _mm_cmple_ps(_mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(ex, ex), _mm_mul_ps(ey, ey))), vtol);
            if (hasW) {
                const __m128 wj = _mm_set_ps(wp[j3], wp[j2], wp[j1], wp[j]);
                const __m128 along = _mm_div_ps(_mm_set_ps(float(j3 - kept), float(j2 - kept), float(j1 - kept), float(j - kept)), vspan);
                const __m128 off = _mm_sub_ps(wj, _mm_add_ps(vwk, _mm_mul_ps(along, vwd)));
                pass = _mm_and_ps(pass, _mm_cmple_ps(_mm_andnot_ps(sign, off), vwtol));
            }
            ok = _mm_movemask_ps(pass) == 0xF;
        }
        if (ok)
            continue;
        np.append(p[i]);
        if (hasW)
            nw.append(wp[i]);
        kept = i;
    }
    np.append(p[n - 1]);
    if (hasW)
        nw.append(wp[n - 1]);
    pts = np;
    if (hasW)
        w = nw;
}

void PolyLine::simplifyPassScalar(float tolerance, float widthTolerance)
{
    const int n = pts.size();
    if (n < 3)
        return;
    const bool hasW = w.size() == n;
    QVector<PolyPoint> np;
    QVector<float> nw;
    np.reserve(n);
    np.append(pts[0]);
    if (hasW)
        nw.append(w[0]);
    int kept = 0;
    for (int i = 1; i < n - 1; ++i) {
        // Drop vertex i when it and every vertex dropped since the last kept
        // one stay within the tolerance of the chord to vertex i + 1, and
        // their widths within widthTolerance of the width interpolated along
        // it: a straight hair that narrows at its ends keeps its middle width.
        bool ok = true;
        for (int j = kept + 1; j <= i && ok; ++j) {
            ok = segDist(pts[j], pts[kept], pts[i + 1]) <= tolerance;
            if (ok && hasW) {
                const float t = float(j - kept) / float(i + 1 - kept);
                ok = std::fabs(w[j] - (w[kept] + t * (w[i + 1] - w[kept]))) <= widthTolerance;
            }
        }
        if (ok)
            continue;
        np.append(pts[i]);
        if (hasW)
            nw.append(w[i]);
        kept = i;
    }
    np.append(pts[n - 1]);
    if (hasW)
        nw.append(w[n - 1]);
    pts = np;
    if (hasW)
        w = nw;
}

void PolyLine::simplifyRepeated(float tolerance, float widthTolerance)
{
    for (;;) {
        const int before = pts.size();
        if (before <= 3)
            return;
        simplifyPass(tolerance, widthTolerance);
        if (pts.size() > before * 0.95)
            return;
    }
}

float PolyLine::length() const
{
    float s = 0;
    for (int i = 1; i < pts.size(); ++i)
        s += dist(pts[i - 1], pts[i]);
    if (closed && pts.size() > 2)
        s += dist(pts.last(), pts.first());
    return s;
}

float PolyLine::area() const
{
    double s = 0;
    const int n = pts.size();
    for (int i = 0; i < n; ++i) {
        const PolyPoint &a = pts[i], &b = pts[(i + 1) % n];
        s += double(a.x) * b.y - double(b.x) * a.y;
    }
    return float(s * 0.5);
}
