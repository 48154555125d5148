#include "toolpath/edgecorners.h"

#include "geometry/fasthypot.h"

#include <cmath>
#include <utility>
#include <vector>

namespace {

float segDist(const PolyPoint &v, const PolyPoint &a, const PolyPoint &b)
{
    const float dx = b.x - a.x, dy = b.y - a.y, l2 = dx * dx + dy * dy;
    // fmax(u, 0) then fmin(…, 1) without the calls: a NaN becomes 0 as
    // there; a zero's sign may differ, which no square sees.
    float t = 0.0f;
    if (l2 > 0) {
        const float u = ((v.x - a.x) * dx + (v.y - a.y) * dy) / l2;
        t = u > 0.0f ? (u < 1.0f ? u : 1.0f) : 0.0f;
    }
    return fastHypot(v.x - a.x - t * dx, v.y - a.y - t * dy);
}

} // namespace

namespace {

// Splits a closed outline into straight runs: returns the vertex index where
// each run starts, then n (which closes the loop). A run's inner points lie
// within `tolerance` of its chord; a run spans at most `maxRun` vertices.
std::vector<int> straightRuns(const QVector<PolyPoint> &p, float tolerance, int maxRun)
{
    const int n = p.size();
    std::vector<int> idx{0};
    for (int i = 0; i < n;) {
        int j = i + 1;
        while (j + 1 <= n && j + 1 - i <= maxRun) {
            const PolyPoint a = p[i], b = p[(j + 1) % n];
            bool ok = true;
            for (int m = i + 1; m <= j && ok; ++m)
                ok = segDist(p[m], a, b) <= tolerance;
            if (!ok)
                break;
            ++j;
        }
        idx.push_back(j);
        i = j;
    }
    return idx;
}

// A closed outline seen as its straight runs: run c (any integer, counted
// round the loop) starts at vertex(c), which keeps counting past n so that
// runs stay in order across the loop's start.
struct StraightRuns {
    const QVector<PolyPoint> &p;
    const std::vector<int> &idx;
    const int n, m; // vertices, runs

    StraightRuns(const QVector<PolyPoint> &pts, const std::vector<int> &split)
        : p(pts), idx(split), n(pts.size()), m(int(idx.size()) - 1)
    {
    }
    int vertex(int c) const { return idx[size_t(((c % m) + m) % m)] + (c >= m ? n : 0) * (c / m); }
    PolyPoint point(int k) const { return p[((k % n) + n) % n]; }
    PolyPoint start(int c) const { return point(vertex(c)); }
    float length(int c) const
    {
        const PolyPoint a = start(c), b = start(c + 1);
        return fastHypot(b.x - a.x, b.y - a.y);
    }
};

constexpr float kRunTolerance = 0.12f;  // crossings' scatter along a straight side (pixels)
constexpr int kMaxRun = 32;

// The outline's split into straight runs, made when a pass first asks for
// it and again only after a pass changed the points: the passes share it.
struct RunSplit {
    const PolyLine &pl;
    std::vector<int> idx;
    bool valid = false;

    explicit RunSplit(const PolyLine &outline) : pl(outline) {}
    const std::vector<int> &get()
    {
        if (!valid) {
            idx = straightRuns(pl.pts, kRunTolerance, kMaxRun);
            valid = true;
        }
        return idx;
    }
};

// One pass: runs of at least `minSide` pixels meeting in a notch turning
// minTurn to maxTurn radians; with `shortSide`, one of the two runs must be
// shorter than kCornerSide.
void sharpenPass(PolyLine &pl, RunSplit &split, float minSide, float minTurn, float maxTurn, bool shortSide)
{
    constexpr int kMaxShort = 5;
    constexpr float kMaxCut = 3.2f;  // the short segments' total length (pixels)
    constexpr float kReach = 2.1f;   // corner point to every vertex it replaces (pixels)
    const int n = pl.pts.size();
    if (!pl.closed || n < 5)
        return;
    const QVector<PolyPoint> &p = pl.pts;
    // The outline's straight runs, each run's points within the tolerance
    // of its chord.
    const StraightRuns runs(p, split.get());
    const int m = runs.m;
    if (m < 4)
        return;
    std::vector<char> drop(size_t(n), 0), corner(size_t(n), 0);
    QVector<PolyPoint> cornerAt(n);
    bool changed = false;
    for (int c = 0; c < m; ++c) {
        if (runs.length(c) < minSide)
            continue;
        int e = c + 1, cnt = 0;
        float cut = 0;
        while (cnt <= kMaxShort && e < c + m && runs.length(e) < minSide) {
            cut += runs.length(e);
            ++e;
            ++cnt;
        }
        if (cnt == 0 || cnt > kMaxShort || e >= c + m || cut > kMaxCut)
            continue;
        const PolyPoint a = runs.start(c), b = runs.start(c + 1), cc = runs.start(e), d = runs.start(e + 1);
        const float lu = runs.length(c), lv = runs.length(e);
        const float ux = (b.x - a.x) / lu, uy = (b.y - a.y) / lu;
        const float vx = (d.x - cc.x) / lv, vy = (d.y - cc.y) / lv;
        const float cross = ux * vy - uy * vx, dot = ux * vx + uy * vy;
        // Material lies left of the outline: a right turn is a notch.
        const float turn = std::fabs(std::atan2(cross, dot));
        if (cross >= 0 || turn < minTurn || turn > maxTurn)
            continue;
        if (shortSide && std::min(lu, lv) >= kCornerSide)
            continue;
        const float s = ((cc.x - a.x) * vy - (cc.y - a.y) * vx) / cross;
        const PolyPoint q(a.x + s * ux, a.y + s * uy);
        const float t = (q.x - cc.x) * vx + (q.y - cc.y) * vy;
        if (!(s > 0.5f * lu && t < 0.5f * lv))
            continue;
        // The runs' own ends stay; what lies between them gives way to q.
        const int k0 = runs.vertex(c + 1), k1 = runs.vertex(e);
        auto within = [&](int k, float r) {
            const PolyPoint v = runs.point(k);
            return fastHypot(v.x - q.x, v.y - q.y) <= r;
        };
        bool near = within(k0, kMaxCut) && within(k1, kMaxCut);
        for (int k = k0 + 1; k < k1 && near; ++k) {
            near = within(k, kReach);
        }
        if (!near)
            continue;
        for (int k = k0 + 1; k < k1; ++k)
            drop[size_t(k % n)] = 1;
        corner[size_t(k0 % n)] = 1;
        cornerAt[k0 % n] = q;
        changed = true;
    }
    if (!changed)
        return;
    QVector<PolyPoint> kept;
    kept.reserve(n);
    for (int k = 0; k < n; ++k) {
        if (!drop[size_t(k)])
            kept.append(p[k]);
        if (corner[size_t(k)])
            kept.append(cornerAt[k]);
    }
    pl.pts = kept;
    split.valid = false;
}

// The end of a slot narrower than kMaxSlot pixels: two long straight sides
// running back along each other, joined by crossings that all lie in corner
// pixels but the deepest. The end is squared off through the deepest one.
void squareSlotEnds(PolyLine &pl, RunSplit &split)
{
    constexpr float kMaxSlot = 3.0f;     // the slot's width (pixels)
    constexpr float kMaxCap = 5.0f;      // the crossings' path round its end (pixels)
    const int n = pl.pts.size();
    if (!pl.closed || n < 6)
        return;
    const QVector<PolyPoint> &p = pl.pts;
    const StraightRuns runs(p, split.get());
    const int m = runs.m;
    if (m < 4)
        return;
    std::vector<char> drop(size_t(n), 0);
    std::vector<std::pair<PolyPoint, PolyPoint>> capAt(static_cast<size_t>(n));
    std::vector<char> cap(size_t(n), 0);
    bool changed = false;
    for (int c = 0; c < m; ++c) {
        if (runs.length(c) < kCornerSide)
            continue;
        int e = c + 1;
        float around = 0;
        while (e < c + m && runs.length(e) < kCornerSide && around <= kMaxCap)
            around += runs.length(e++);
        if (e == c + 1 || e >= c + m || around > kMaxCap)
            continue;
        const PolyPoint a = runs.start(c), b = runs.start(c + 1), cc = runs.start(e), d = runs.start(e + 1);
        const float lu = runs.length(c), lv = runs.length(e);
        const PolyPoint u = (b - a) * (1 / lu), v = (d - cc) * (1 / lv);
        // Back along each other, the far side on the right (material on the
        // left: the gap between them is the slot), no wider than kMaxSlot.
        if (u.x * v.x + u.y * v.y > -0.99f)
            continue;
        const float width = (cc.x - b.x) * u.y - (cc.y - b.y) * u.x;
        if (!(width > 0.5f && width <= kMaxSlot))
            continue;
        const int k0 = runs.vertex(c + 1), k1 = runs.vertex(e);
        float depth = -1e30f;
        for (int k = k0; k <= k1; ++k)
            depth = std::max(depth, (runs.point(k).x - a.x) * u.x + (runs.point(k).y - a.y) * u.y);
        const PolyPoint q1 = a + u * depth;
        const float t = (depth - ((cc.x - a.x) * u.x + (cc.y - a.y) * u.y)) / (v.x * u.x + v.y * u.y);
        const PolyPoint q2 = cc + v * t;
        // Both corners beyond the sides' ends, no further than a pixel.
        const float s1 = depth - ((b.x - a.x) * u.x + (b.y - a.y) * u.y);
        if (!(s1 >= 0 && s1 <= 1.0f && t <= 0 && t >= -1.0f))
            continue;
        for (int k = k0 + 1; k < k1; ++k)
            drop[size_t(k % n)] = 1;
        cap[size_t(k0 % n)] = 1;
        capAt[size_t(k0 % n)] = {q1, q2};
        changed = true;
    }
    if (!changed)
        return;
    QVector<PolyPoint> kept;
    kept.reserve(n + 2);
    for (int k = 0; k < n; ++k) {
        if (!drop[size_t(k)])
            kept.append(p[k]);
        if (cap[size_t(k)]) {
            kept.append(capAt[size_t(k)].first);
            kept.append(capAt[size_t(k)].second);
        }
    }
    pl.pts = kept;
    split.valid = false;
}

} // namespace

void sharpenCorners(PolyLine &pl)
{
    RunSplit split(pl);
    sharpenPass(pl, split, kCornerSide, 1.75f, 2.6f, false);  // 100 to 150 degrees
    sharpenPass(pl, split, kSlotSide, 1.35f, 1.75f, true);    // 77 to 100 degrees
    squareSlotEnds(pl, split);
}
