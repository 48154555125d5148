#include "toolpath/fill.h"

#include "params/slicerparams.h"
#include "raster/plane8.h"
#include "toolpath/hairdetect.h"
#include "toolpath/shellsteps.h"

#include <algorithm>
#include <cmath>
#include <climits>
#include <unordered_map>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr double kDegToRad = 0.017453292;
constexpr float kMinSpacing = 0.25f;
constexpr int kMaxThickness = 64;

// Clips the segment a + t (b - a), t in [0, 1], to [0, w] x [0, h].
bool clipToRect(double ax, double ay, double bx, double by, double w, double h, double &t0, double &t1)
{
    t0 = 0;
    t1 = 1;
    const double dx = bx - ax, dy = by - ay;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {ax, w - ax, ay, h - ay};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0)
                return false;
            continue;
        }
        const double r = q[i] / p[i];
        if (p[i] < 0)
            t0 = std::max(t0, r);
        else
            t1 = std::min(t1, r);
    }
    return t0 < t1;
}

} // namespace

namespace {

inline std::uint64_t bitsOf(double v)
{
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

inline double fromBits(std::uint64_t b)
{
    double v;
    std::memcpy(&v, &b, sizeof v);
    return v;
}

} // namespace

double repeatedSum(double s, double c, long long k)
{
    // Within one binade [2^(e-1), 2^e) doubles are the multiples of
    // u = 2^(e-53), s is one of them, and s + c rounds to s + R u with R the
    // multiple of u nearest c, as long as s + c stays below 2^e: the steps
    // up to the binade's end are one multiplication. A tie (c exactly
    // between two multiples) rounds by the parity of s: those go one by one,
    // as does anything not finite, not positive or near the subnormals.
    while (k > 0) {
        const std::uint64_t sb = bitsOf(s);
        const int be = int(sb >> 52); // biased exponent of s (sign bit 0 when s > 0)
        long long steps = 0, R = 0, S = 0;
        if (s > 0 && c > 0 && c < s && be > 64 && be < 2047) {
            // u = 2^(be - 1075); c / u and S = s / u, both exact.
            const double invU = fromBits(std::uint64_t(2098 - be) << 52);
            const double q = c * invU;
            const double fl = std::floor(q), frac = q - fl;
            if (frac != 0.5) {
                R = (long long)fl + (frac > 0.5 ? 1 : 0);
                if (R == 0)
                    return s; // c is under half a unit: s never moves
                S = (long long)((sb & ((std::uint64_t(1) << 52) - 1)) | (std::uint64_t(1) << 52));
                const long long A = (1LL << 53) - S - (long long)fl;
                steps = A <= 0 ? 0 : std::min(k, (A - 1) / R + 1);
            }
        }
        if (steps == 0) {
            s += c;
            --k;
            continue;
        }
        s = double(S + steps * R) * fromBits(std::uint64_t(be - 52) << 52);
        k -= steps;
    }
    return s;
}

double repeatedSumScalar(double s, double c, long long k)
{
    for (long long i = 0; i < k; ++i)
        s += c;
    return s;
}

// Walks the pixels the segment a -> b crosses (exact grid traversal) and
// collects the runs of region pixels, each from where the line enters its
// first region pixel to where it leaves its last one. With the region's
// 16 x 16 block summary, stretches through uniform blocks of the run's own
// state are stepped without reading pixels: the traversal and its
// crossing times stay exactly those of the pixel-by-pixel walk.
Plane8 blockReach(const Plane8 &summary)
{
    const int bw = summary.width, bh = summary.height;
    Plane8 out(bw, bh);
    if (bw <= 0 || bh <= 0)
        return out;
    // A frame of one cell around the map, of a state no block has and at
    // distance 0, makes the map's edge one away without bounds tests. Two
    // chamfer passes with unit steps give the Chebyshev distance; a
    // neighbour of another state is one away.
    const int pw = bw + 2;
    std::vector<short> st(size_t(pw) * (bh + 2), -1), d(size_t(pw) * (bh + 2), 0);
    for (int y = 0; y < bh; ++y)
        for (int x = 0; x < bw; ++x) {
            st[size_t(y + 1) * pw + x + 1] = summary.data[size_t(y) * bw + x];
            d[size_t(y + 1) * pw + x + 1] = 255;
        }
    auto relax = [&](size_t c, size_t n) {
        const int v = st[n] != st[c] ? 1 : d[n] + 1;
        if (v < d[c])
            d[c] = short(v);
    };
    for (int y = 1; y <= bh; ++y)
        for (int x = 1; x <= bw; ++x) {
            const size_t c = size_t(y) * pw + x;
            relax(c, c - 1);
            relax(c, c - pw - 1);
            relax(c, c - pw);
            relax(c, c - pw + 1);
        }
    for (int y = bh; y >= 1; --y)
        for (int x = bw; x >= 1; --x) {
            const size_t c = size_t(y) * pw + x;
            relax(c, c + 1);
            relax(c, c + pw + 1);
            relax(c, c + pw);
            relax(c, c + pw - 1);
            out.data[size_t(y - 1) * bw + x - 1] = uchar(d[c]);
        }
    return out;
}

void scanLineRuns(const Plane1 &region, const Plane8 *summary, double ax, double ay, double bx, double by,
                  float minRun, std::vector<ScanRun> &runs, const Plane8 *reach)
{
    const int W = region.width, H = region.height;
    double t0, t1;
    if (W <= 0 || H <= 0 || !clipToRect(ax, ay, bx, by, W, H, t0, t1))
        return;
    const double dx = bx - ax, dy = by - ay;
    const double len = std::hypot(dx, dy);
    if (!(len > 0))
        return;
    if (summary && (summary->width != W / 16 || summary->height != H / 16))
        summary = nullptr;
    if (reach && (!summary || reach->size() != summary->size()))
        reach = nullptr;
    // Pixels beyond the summary's whole blocks are always read.
    const int sumW = summary ? summary->width * 16 : 0, sumH = summary ? summary->height * 16 : 0;
    // Start inside the first pixel the clipped line touches.
    const double tm = t0 + std::min(1e-9, (t1 - t0) * 0.5);
    int x = std::clamp(int(std::floor(ax + tm * dx)), 0, W - 1);
    int y = std::clamp(int(std::floor(ay + tm * dy)), 0, H - 1);
    const int sx = dx > 0 ? 1 : dx < 0 ? -1 : 0;
    const int sy = dy > 0 ? 1 : dy < 0 ? -1 : 0;
    const double inf = std::numeric_limits<double>::infinity();
    const double tdx = sx ? 1.0 / std::fabs(dx) : inf;
    const double tdy = sy ? 1.0 / std::fabs(dy) : inf;
    double tnx = sx > 0 ? (x + 1 - ax) / dx : sx < 0 ? (x - ax) / dx : inf;
    double tny = sy > 0 ? (y + 1 - ay) / dy : sy < 0 ? (y - ay) / dy : inf;
    double tEnter = t0;
    bool inRun = false;
    double runStart = 0;
    auto emit = [&](double ts, double te) {
        if ((te - ts) * len > minRun)
            runs.push_back({PolyPoint(float(ax + ts * dx), float(ay + ts * dy)),
                            PolyPoint(float(ax + te * dx), float(ay + te * dy))});
    };
    double tExit = t0;
    for (;;) {
        if (x < sumW && y < sumH) {
            const uchar state = summary->data[(y >> 4) * summary->width + (x >> 4)];
            if (state == (inRun ? 255 : 0)) {
                // Nothing changes until the walk leaves the square of blocks
                // around this one that share its state (reach). The x and y
                // crossing times are running sums of their own; the walk
                // takes them in merged order (x first on ties), so the first
                // crossing out of the square and the sums up to it follow
                // without stepping pixel by pixel.
                const int r = reach ? reach->data[(y >> 4) * reach->width + (x >> 4)] - 1 : 0;
                const int xlo = (x & ~15) - 16 * r, ylo = (y & ~15) - 16 * r;
                const int xhi = (x & ~15) + 16 * (r + 1), yhi = (y & ~15) + 16 * (r + 1);
                const int mx = sx > 0 ? xhi - x : sx < 0 ? x - xlo + 1 : 0;
                const int my = sy > 0 ? yhi - y : sy < 0 ? y - ylo + 1 : 0;
                double T;
                if (r == 0) {
                    // One block: its at most 16 crossings per axis, added up.
                    double tx[16] = {}, ty[16] = {};
                    double nx = tnx, ny = tny;
                    for (int k = 0; k < mx; ++k) {
                        tx[k] = nx;
                        nx += tdx;
                    }
                    for (int k = 0; k < my; ++k) {
                        ty[k] = ny;
                        ny += tdy;
                    }
                    const double lastX = mx ? tx[mx - 1] : inf, lastY = my ? ty[my - 1] : inf;
                    const bool viaX = lastX <= lastY;
                    T = viaX ? lastX : lastY;
                    if (T >= t1) {
                        tExit = t1; // the segment ends inside the block
                        break;
                    }
                    if (viaX) {
                        int c = 0;
                        while (c < my && ty[c] < T)
                            ++c;
                        x += mx * sx;
                        tnx = nx;
                        y += c * sy;
                        tny = c < my ? ty[c] : ny;
                    } else {
                        int c = 0;
                        while (c < mx && tx[c] <= T)
                            ++c;
                        y += my * sy;
                        tny = ny;
                        x += c * sx;
                        tnx = c < mx ? tx[c] : nx;
                    }
                } else {
                    // Crossing i of an axis (i = 0 the next one) is its
                    // running sum after i steps, taken in closed form.
                    auto tx = [&](long long i) { return repeatedSum(tnx, tdx, i); };
                    auto ty = [&](long long i) { return repeatedSum(tny, tdy, i); };
                    const double lastX = mx ? tx(mx - 1) : inf, lastY = my ? ty(my - 1) : inf;
                    const bool viaX = lastX <= lastY;
                    T = viaX ? lastX : lastY;
                    if (T >= t1) {
                        tExit = t1; // the segment ends inside the square
                        break;
                    }
                    // How many of the first n crossings come before T: a
                    // guess from the step, moved until it is exact (the sums
                    // never decrease).
                    auto before = [T](const auto &t, double t0, double step, int n, auto &&taken) {
                        const double g = std::ceil((T - t0) / step);
                        int c = g > 0 ? int(std::min(g, double(n))) : 0;
                        while (c > 0 && !taken(t(c - 1)))
                            --c;
                        while (c < n && taken(t(c)))
                            ++c;
                        return c;
                    };
                    if (viaX) {
                        const int c = before(ty, tny, tdy, my, [T](double v) { return v < T; });
                        x += mx * sx;
                        tnx = tx(mx);
                        y += c * sy;
                        tny = ty(c);
                    } else {
                        const int c = before(tx, tnx, tdx, mx, [T](double v) { return v <= T; });
                        y += my * sy;
                        tny = ty(my);
                        x += c * sx;
                        tnx = tx(c);
                    }
                }
                tExit = T;
                if (x < 0 || x >= W || y < 0 || y >= H)
                    break;
                tEnter = T;
                continue;
            }
        }
        tExit = std::min({tnx, tny, t1});
        const bool in = region.pixel(x, y);
        if (in && !inRun) {
            inRun = true;
            runStart = tEnter;
        } else if (!in && inRun) {
            inRun = false;
            emit(runStart, tEnter);
        }
        if (tExit >= t1)
            break;
        if (tnx <= tny) {
            x += sx;
            tnx += tdx;
        } else {
            y += sy;
            tny += tdy;
        }
        if (x < 0 || x >= W || y < 0 || y >= H)
            break;
        tEnter = tExit;
    }
    if (inRun)
        emit(runStart, tExit);
}

namespace {

// Line k of one family: O + k spacing v + offset v, from -R u to +R u.
struct Family {
    double ox, oy, ux, uy, vx, vy, R;
    int n;
};

Family makeFamily(const Plane1 &region, double theta, float spacing)
{
    Family f;
    const std::int64_t w = region.width, h = region.height;
    f.R = std::sqrt(double(w * w + h * h)) / 2;
    f.n = int(std::ceil(f.R / spacing));
    f.ox = (w - 2) / 2.0;
    f.oy = (h - 2) / 2.0;
    f.ux = std::cos(theta);
    f.uy = std::sin(theta);
    f.vx = -f.uy;
    f.vy = f.ux;
    return f;
}

void scanFamilyLine(const Plane1 &region, const Plane8 &summary, const Plane8 &reach, const Family &f, double off,
                    float minRun, std::vector<ScanRun> &runs)
{
    const double cx = f.ox + off * f.vx, cy = f.oy + off * f.vy;
    scanLineRuns(region, &summary, cx - f.R * f.ux, cy - f.R * f.uy, cx + f.R * f.ux, cy + f.R * f.uy, minRun, runs,
                 &reach);
}

// The pixel rectangle of the blocks the summary does not call empty (the
// whole plane without a usable summary); false when no block has pixels.
struct OccupiedBlocks {
    bool any = true;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

OccupiedBlocks occupiedBlocks(const Plane1 &region, const Plane8 &summary)
{
    OccupiedBlocks o;
    o.x1 = region.width;
    o.y1 = region.height;
    if (region.width % 16 == 0 && region.height % 16 == 0 && summary.width == region.width / 16
        && summary.height == region.height / 16) {
        int bx0 = INT_MAX, by0 = INT_MAX, bx1 = -1, by1 = -1;
        for (int by = 0; by < summary.height; ++by) {
            const uchar *r = summary.data + by * summary.width;
            int first = 0, last = summary.width - 1;
            while (first <= last && !r[first])
                ++first;
            if (first > last)
                continue;
            while (!r[last])
                --last;
            bx0 = std::min(bx0, first);
            bx1 = std::max(bx1, last);
            by0 = std::min(by0, by);
            by1 = by;
        }
        if (bx1 < 0) {
            o.any = false;
            return o;
        }
        o.x0 = bx0 * 16;
        o.y0 = by0 * 16;
        o.x1 = (bx1 + 1) * 16;
        o.y1 = (by1 + 1) * 16;
    }
    return o;
}

// The offsets of the family's lines that can cross a set pixel: those of the
// corners of the occupied blocks, widened by two pixels (a line's walk
// visits only pixels the line passes through). Lines outside find no runs
// and need no walk: on a layer without shell the dense shell lines crossed
// the whole plane for nothing. False when no pixel is set.
bool lineOffsetRange(const OccupiedBlocks &occ, const Family &f, double &lo, double &hi)
{
    if (!occ.any)
        return false;
    lo = std::numeric_limits<double>::infinity();
    hi = -lo;
    for (const int x : {occ.x0, occ.x1})
        for (const int y : {occ.y0, occ.y1}) {
            const double o = (x - f.ox) * f.vx + (y - f.oy) * f.vy;
            lo = std::min(lo, o);
            hi = std::max(hi, o);
        }
    lo -= 2;
    hi += 2;
    return true;
}

// blockReach of a summary, remembered per thread for the next call: the
// layers of a prism share their regions, and the reach map is the costly
// part of a large region's fill that does not follow its outline.
const Plane8 &cachedBlockReach(const Plane8 &summary)
{
    thread_local Plane8 lastSummary, lastReach;
    thread_local bool valid = false;
    if (!valid || !(lastSummary == summary)) {
        valid = false;
        lastReach = blockReach(summary);
        lastSummary = summary;
        valid = true;
    }
    return lastReach;
}

} // namespace

int infillDirections(int infillType)
{
    return infillType >= 1 && infillType <= 3 ? infillType : 0;
}

int layerAngle(float base, float inc, int layerIndex)
{
    const double a = double(inc) * layerIndex + double(base);
    if (!std::isfinite(a))
        return 0;
    return int(std::trunc(std::clamp(a, -1e9, 1e9)));
}

namespace {

// The caller's summary of region when it fits, else one made here (in own).
const Plane8 &regionBlocks(const Plane1 &region, const Plane8 *given, Plane8 &own)
{
    if (given && given->size() == QSize(region.width / 16, region.height / 16))
        return *given;
    own = region.blockSummary();
    return own;
}

} // namespace

void patternFill(PathList &pool, const Plane1 &region, int type, float spacing, float angleDeg,
                 int directions, int thickness, float subSpacing, float minRun, const Plane8 *regionSummary)
{
    if (directions <= 0 || !(spacing > 0) || !std::isfinite(spacing) || !std::isfinite(angleDeg)
        || region.width <= 0 || region.height <= 0)
        return;
    spacing = std::max(spacing, kMinSpacing);
    directions = std::min(directions, 8);
    const int T = std::clamp(thickness, 1, kMaxThickness);
    if (!std::isfinite(subSpacing))
        subSpacing = 0;
    const double step = 3.14159265358979323846 / directions;
    Plane8 ownSummary;
    const Plane8 &summary = regionBlocks(region, regionSummary, ownSummary);
    const OccupiedBlocks occ = occupiedBlocks(region, summary);
    if (!occ.any)
        return;
    // Only for a region with pixels: most layers have no shell.
    const Plane8 &reach = cachedBlockReach(summary);
    std::vector<ScanRun> runs;
    for (int j = 0; j < directions; ++j) {
        const Family f = makeFamily(region, angleDeg * kDegToRad + j * step, spacing);
        double lo, hi;
        lineOffsetRange(occ, f, lo, hi);
        for (int k = -f.n; k <= f.n; ++k) {
            for (int m = 0; m < T; ++m) {
                const double off = k * double(spacing) + (T >= 2 ? (m - (T - 1) / 2.0) * subSpacing : 0.0);
                if (!(off >= lo && off <= hi))
                    continue;
                runs.clear();
                scanFamilyLine(region, summary, reach, f, off, minRun, runs);
                for (const ScanRun &r : runs) {
                    PolyLine pl(type);
                    pl.pts = {r.a, r.b};
                    pool.append(pl);
                }
            }
        }
    }
}

namespace {

// Cells of the path-end lookup: row-major keys with room for +-1 steps.
constexpr qint64 kCellRow = qint64(1) << 32;
constexpr qint64 kNoCell = std::numeric_limits<qint64>::min();

qint64 endCell(PolyPoint q, float size)
{
    const double cx = std::floor(double(q.x) / size), cy = std::floor(double(q.y) / size);
    if (!(std::fabs(cx) < 1e9) || !(std::fabs(cy) < 1e9))
        return kNoCell; // never within a finite distance of anything
    return qint64(cy) * kCellRow + qint64(cx);
}

} // namespace

void shellLineFill(PathList &pool, const Plane1 &region, int type, float spacing, float angleDeg,
                   float minLen, float twoP, const Plane8 *regionSummary)
{
    if (!(spacing > 0) || !std::isfinite(spacing) || !std::isfinite(angleDeg) || region.width <= 0
        || region.height <= 0)
        return;
    spacing = std::max(spacing, kMinSpacing);
    const Family f = makeFamily(region, angleDeg * kDegToRad, spacing);
    Plane8 ownSummary;
    const Plane8 &summary = regionBlocks(region, regionSummary, ownSummary);
    double lo, hi;
    if (!lineOffsetRange(occupiedBlocks(region, summary), f, lo, hi))
        return;
    const Plane8 &reach = cachedBlockReach(summary);
    PathList built;
    // Paths that took a run of the previous line: the only ones a run may
    // join, so a run never bridges to a line further back or to its own line.
    std::vector<int> prevLine, thisLine;
    std::vector<char> joined; // by path: took a run of this line already
    std::unordered_map<qint64, std::vector<int>> ends;
    std::vector<ScanRun> runs;
    for (int k = -f.n; k <= f.n; ++k) {
        const double off = k * double(spacing);
        if (!(off >= lo && off <= hi)) {
            prevLine.clear(); // a line without runs: the next one joins nothing
            continue;
        }
        runs.clear();
        scanFamilyLine(region, summary, reach, f, off, minLen, runs);
        if (k & 1) {
            std::reverse(runs.begin(), runs.end());
            for (ScanRun &r : runs)
                std::swap(r.a, r.b);
        }
        // The previous line's path ends by cell of twoP: a run can only join
        // an end within twoP (Manhattan), so only the 3 x 3 cells around it
        // are asked; testing every end for every run was quadratic in the
        // islands a line crosses. Among ends at the same distance the first
        // in prevLine order wins, as a scan in that order would choose.
        ends.clear();
        if (twoP > 0)
            for (int pos = 0; pos < int(prevLine.size()); ++pos) {
                const PolyPoint e = built[prevLine[size_t(pos)]].pts.last();
                const qint64 key = endCell(e, twoP);
                if (key != kNoCell)
                    ends[key].push_back(pos);
            }
        thisLine.clear();
        for (const ScanRun &r : runs) {
            int best = -1, bestPos = INT_MAX;
            float bestD = twoP;
            const qint64 at = twoP > 0 ? endCell(r.a, twoP) : kNoCell;
            for (int dy = -1; at != kNoCell && dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const auto it = ends.find(at + dy * kCellRow + dx);
                    if (it == ends.end())
                        continue;
                    for (int pos : it->second) {
                        const int idx = prevLine[size_t(pos)];
                        const PolyPoint e = built[idx].pts.last();
                        const float d = std::fabs(e.x - r.a.x) + std::fabs(e.y - r.a.y);
                        if ((d < bestD || (d == bestD && best >= 0 && pos < bestPos)) && !joined[size_t(idx)]) {
                            bestD = d;
                            best = idx;
                            bestPos = pos;
                        }
                    }
                }
            if (best < 0) {
                PolyLine pl(type);
                built.append(pl);
                best = built.size() - 1;
                joined.push_back(false);
            }
            built[best].pts.append(r.a);
            built[best].pts.append(r.b);
            thisLine.push_back(best);
            joined[size_t(best)] = true;
        }
        for (int idx : thisLine)
            joined[size_t(idx)] = false;
        prevLine.swap(thisLine);
    }
    pool.append(built);
}

void concentricShells(const LayerGrid &grid, const Plane1 &shellRegion, const SlicerParams &sp, PathList &pool,
                      OffsetScratch &s)
{
    if (shellRegion.width <= 0 || shellRegion.height <= 0)
        return;
    const float p = grid.widthInPixels;
    const PathParams pp = PathParams::fromSmoothing(p, sp.PathSmoothing);
    Plane8 cov, summary;
    cov.fromPlane1(shellRegion);
    blockSummary8(cov, summary);
    HairDetector det;
    det.p = p;
    for (int k = 0; k < 10000; ++k) {
        const bool half = k == 0;
        Plane8::copyChangedBlocks(cov, summary, s.before, s.beforeSummary);
        offsetCoverage(cov, summary, half ? 0.5f * p : p, half ? 1.0f : 0.5f, s);
        det.consts = half ? HairConstsA : HairConstsB;
        det.coveredWidth = half ? 0.0f : p;
        const float maxRun = (det.consts.maxWidth - p) * 1.4143f;
        HairMarkers markers;
        thinRunMarkers(s.before, cov, true, maxRun, markers, &s.beforeSummary);
        hairDetect0(det, cov.width, cov.height, markers);
        PathList hairs;
        thinRunMarkers(s.before, cov, false, maxRun, markers, &s.beforeSummary);
        hairDetect1(det, markers, hairs, HShell);
        if (!hairs.isEmpty()) {
            hairMasking(cov, hairs, 3.0f);
            blockSummary8(cov, summary);
            pool.append(hairs);
        }
        if (!anyInside(cov, summary))
            break;
        // The region after each step ends on the centre line of the next ring.
        pool.append(traceOutlines(cov, summary, pp, HShell, minOutlineArea(p), s));
    }
}

void fillLayer(const LayerGrid &grid, int layerIndex, const SlicerParams &sp, const Plane1 &infillRegion,
               const Plane1 &shellRegion, const PathList &outlines, PathList &pool, const Plane8 *infillSummary,
               const Plane8 *shellSummary)
{
    const float p = grid.widthInPixels;
    const int d = infillDirections(sp.InfillType);
    if (d > 0 && sp.InfillDensity > 0)
        patternFill(pool, infillRegion, Infill, p / sp.InfillDensity,
                    float(layerAngle(sp.InfillAngle, sp.InfillAngleInc, layerIndex)), d,
                    sp.InfillThickness, p * sp.eFactor(Infill), 2 * p, infillSummary);
    if (sp.HShellType == 0 && sp.HShellDensity > 0)
        shellLineFill(pool, shellRegion, HShell, p / sp.HShellDensity,
                      float(layerAngle(sp.HShellAngle, sp.HShellAngleInc, layerIndex)),
                      sp.HShellMinLineLen * p, 2 * p, shellSummary);
    pool.append(outlines);
}
