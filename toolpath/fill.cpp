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
            // 0 < q < S < 2^53: truncation is the floor, and exact.
            const double fl = double((long long)q), frac = q - fl;
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

RunningSum::RunningSum(double start, double step)
    : c(step), endV(start)
{
}

// repeatedSum's loop from the end of the last piece until it covers i (or the
// pieces run out): each binade the sums cross becomes a piece, and a step
// repeatedSum adds alone (at a binade's end, or on a tie) a piece of one
// sum. Anything not finite or positive stops it; sums past the pieces are
// added from where they end.
void RunningSum::extend(long long upTo)
{
    while (endI < upTo && count < kPieces && !stopped) {
        const double v = endV;
        const std::uint64_t sb = bitsOf(v);
        const int be = int(sb >> 52);
        if (!(v > 0 && c > 0 && be > 64 && be < 2047 && std::isfinite(c))) {
            stopped = true;
            return;
        }
        Piece &p = pieces[count++];
        p.i0 = endI;
        p.S = (long long)((sb & ((std::uint64_t(1) << 52) - 1)) | (std::uint64_t(1) << 52));
        p.unit = fromBits(std::uint64_t(be - 52) << 52);
        if (!(c < v)) { // a first crossing closer than a step: added alone
            p.R = 0;
            p.last = endI;
            endV = v + c;
            ++endI;
            continue;
        }
        const double invU = fromBits(std::uint64_t(2098 - be) << 52);
        const double q = c * invU;
        const double fl = double((long long)q), frac = q - fl;
        p.R = (long long)fl + (frac > 0.5 ? 1 : 0);
        if (frac != 0.5 && p.R == 0) {
            p.last = std::numeric_limits<long long>::max(); // v never moves
            stopped = true;
            return;
        }
        const long long A = (1LL << 53) - p.S - (long long)fl;
        if (frac == 0.5 || A <= 0) {
            p.R = 0;
            p.last = endI; // this sum alone
            endV = v + c;
            ++endI;
            continue;
        }
        // The whole binade at once, however far upTo is: the next call
        // asks for more.
        const long long steps = (A - 1) / p.R + 1;
        const long long end = p.S + steps * p.R;
        p.last = endI + steps;
        endV = double(end) * p.unit;
        endI += steps;
        if (end < (1LL << 53) && count < kPieces) {
            // Still in the binade, one step from its end (A <= 0 from
            // here): that step is added alone, as the loop's next turn
            // would find.
            Piece &q1 = pieces[count++];
            q1.i0 = endI;
            q1.last = endI;
            q1.S = end;
            q1.R = 0;
            q1.unit = p.unit;
            endV += c;
            ++endI;
        }
    }
}

double RunningSum::atSlow(long long i)
{
    if (i >= endI)
        extend(i);
    if (count == 0 || i > pieces[count - 1].last)
        return repeatedSum(endV, c, i - endI);
    // From the last piece used: the walk asks near where it asked before.
    int k = std::min(cur, count - 1);
    while (k > 0 && i < pieces[k].i0)
        --k;
    while (i > pieces[k].last)
        ++k;
    cur = k;
    return double(pieces[k].S + (i - pieces[k].i0) * pieces[k].R) * pieces[k].unit;
}

double repeatedSumScalar(double s, double c, long long k)
{
    for (long long i = 0; i < k; ++i)
        s += c;
    return s;
}

namespace {

// The arrays of `which` that r does not have yet.
void addBlockRuns(const Plane8 &summary, BlockRuns &r, unsigned which)
{
    const int bw = r.width, bh = r.height;
    const size_t n = size_t(bw) * bh;
    const uchar *s = summary.data;
    if ((which & kRunsLeft) && r.left.size() != n) {
        r.left.assign(n, 1);
        for (int y = 0; y < bh; ++y) {
            const size_t row = size_t(y) * bw;
            for (int x = 1; x < bw; ++x)
                if (s[row + x] == s[row + x - 1])
                    r.left[row + x] = r.left[row + x - 1] + 1;
        }
    }
    if ((which & kRunsRight) && r.right.size() != n) {
        r.right.assign(n, 1);
        for (int y = 0; y < bh; ++y) {
            const size_t row = size_t(y) * bw;
            for (int x = bw - 2; x >= 0; --x)
                if (s[row + x] == s[row + x + 1])
                    r.right[row + x] = r.right[row + x + 1] + 1;
        }
    }
    if ((which & kRunsUp) && r.up.size() != n) {
        r.up.assign(n, 1);
        for (int y = 1; y < bh; ++y)
            for (int x = 0; x < bw; ++x) {
                const size_t i = size_t(y) * bw + x;
                if (s[i] == s[i - bw])
                    r.up[i] = r.up[i - bw] + 1;
            }
    }
    if ((which & kRunsDown) && r.down.size() != n) {
        r.down.assign(n, 1);
        for (int y = bh - 2; y >= 0; --y)
            for (int x = 0; x < bw; ++x) {
                const size_t i = size_t(y) * bw + x;
                if (s[i] == s[i + bw])
                    r.down[i] = r.down[i + bw] + 1;
            }
    }
}

} // namespace

BlockRuns blockRuns(const Plane8 &summary, unsigned which)
{
    BlockRuns r;
    r.width = std::max(summary.width, 0);
    r.height = std::max(summary.height, 0);
    addBlockRuns(summary, r, which);
    return r;
}

namespace {

// How many pixels of state v follow (x, y) along its row towards step (+-1),
// itself included, at most cap, up to the first block of the summary (if
// any) that is all v: whole bytes of that state at a time. The walk crosses
// such blocks by the summary.
int rowRun(const Plane1 &region, const Plane8 *summary, int x, int y, int step, bool v, int cap)
{
    const uchar *row = region.row(y);
    const uchar full = v ? 0xFF : 0x00;
    const uchar *blockRow = summary && y < summary->height * 16 ? summary->data + (y >> 4) * summary->width : nullptr;
    const int sumW = blockRow ? summary->width * 16 : 0;
    int n = 0;
    while (n < cap && x >= 0 && x < region.width) {
        if (n > 0 && (x & 15) == (step > 0 ? 0 : 15) && x < sumW && blockRow[x >> 4] == full)
            break;
        const bool byteStart = step > 0 ? (x & 7) == 0 && x + 8 <= region.width : (x & 7) == 7;
        if (byteStart && n + 8 <= cap && row[x >> 3] == full) {
            n += 8;
            x += 8 * step;
            continue;
        }
        if (bool((row[x >> 3] >> (x & 7)) & 1) != v)
            break;
        ++n;
        x += step;
    }
    return n;
}

// The same along the column of (x, y).
int columnRun(const Plane1 &region, const Plane8 *summary, int x, int y, int step, bool v, int cap)
{
    const uchar full = v ? 0xFF : 0x00;
    const bool inBlocks = summary && x < summary->width * 16;
    const int sumH = inBlocks ? summary->height * 16 : 0;
    int n = 0;
    while (n < cap && y >= 0 && y < region.height) {
        if (n > 0 && (y & 15) == (step > 0 ? 0 : 15) && y < sumH
            && summary->data[(y >> 4) * summary->width + (x >> 4)] == full)
            break;
        if (region.pixel(x, y) != v)
            break;
        ++n;
        y += step;
    }
    return n;
}

} // namespace

// Walks the pixels the segment a -> b crosses (exact grid traversal) and
// collects the runs of region pixels, each from where the line enters its
// first region pixel to where it leaves its last one. With the region's
// 16 x 16 block summary, stretches through uniform blocks of the run's own
// state are stepped without reading pixels: the traversal and its
// crossing times stay exactly those of the pixel-by-pixel walk.
void scanLineRuns(const Plane1 &region, const Plane8 *summary, double ax, double ay, double bx, double by,
                  float minRun, std::vector<ScanRun> &runs, const BlockRuns *blocks)
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
    if (blocks && (!summary || blocks->width != summary->width || blocks->height != summary->height))
        blocks = nullptr;
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
    // Crossing k of an axis is the running sum after k steps from the first
    // one: its binades are worked out once per line, for every long stretch
    // the walk crosses at once.
    const int xStart = x, yStart = y;
    RunningSum sumX(tnx, tdx), sumY(tny, tdy);
    auto emit = [&](double ts, double te) {
        if ((te - ts) * len > minRun)
            runs.push_back({PolyPoint(float(ax + ts * dx), float(ay + ts * dy)),
                            PolyPoint(float(ax + te * dx), float(ay + te * dy))});
    };
    double tExit = t0;
    // Steps the walk out of the pixel rectangle [xlo, xhi) x [ylo, yhi)
    // around (x, y), whose pixels all have the run's state: nothing changes
    // until the walk leaves it. The x and y crossing times are running sums
    // of their own; the walk takes them in merged order (x first on ties),
    // so the first crossing out of the rectangle and the sums up to it follow
    // without stepping pixel by pixel. False when the segment ends inside it
    // or the walk leaves the plane.
    auto crossRect = [&](int xlo, int xhi, int ylo, int yhi) __attribute__((always_inline)) -> bool {
        const int mx = sx > 0 ? xhi - x : sx < 0 ? x - xlo + 1 : 0;
        const int my = sy > 0 ? yhi - y : sy < 0 ? y - ylo + 1 : 0;
        double T;
        if (mx <= 16 && my <= 16) {
            // At most 16 crossings per axis, added up.
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
                tExit = t1; // the segment ends inside the rectangle
                return false;
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
            const long long jx = (x - xStart) * sx, jy = (y - yStart) * sy;
            auto tx = [&sumX, jx](long long i) { return sumX.at(jx + i); };
            auto ty = [&sumY, jy](long long i) { return sumY.at(jy + i); };
            // The last crossing of an axis whose first one comes after the
            // other axis's last is not needed (a nearly axis-parallel line
            // adds its huge steps one by one).
            double lastX = inf, lastY = inf;
            if (my && tnx >= tny) {
                lastY = ty(my - 1);
                if (mx && !(tnx > lastY))
                    lastX = tx(mx - 1);
            } else {
                lastX = mx ? tx(mx - 1) : inf;
                if (my && !(tny >= lastX))
                    lastY = ty(my - 1);
            }
            const bool viaX = lastX <= lastY;
            T = viaX ? lastX : lastY;
            if (T >= t1) {
                tExit = t1; // the segment ends inside the rectangle
                return false;
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
                tnx = lastX + tdx;
                y += c * sy;
                tny = ty(c);
            } else {
                const int c = before(tx, tnx, tdx, mx, [T](double v) { return v <= T; });
                y += my * sy;
                tny = lastY + tdy;
                x += c * sx;
                tnx = tx(c);
            }
        }
        tExit = T;
        if (x < 0 || x >= W || y < 0 || y >= H)
            return false;
        tEnter = T;
        return true;
    };
    // Along a nearly axis-parallel line through blocks of mixed pixels (a
    // line along an edge of the region) the pixels ahead on its row (column)
    // of the run's state are crossed at once too, up to a uniform block of
    // that state. Steeper lines leave the row within a few pixels and step
    // one by one.
    const bool rowsMain = std::fabs(dx) >= std::fabs(dy);
    if (blocks) {
        const std::vector<int> &ahead = rowsMain ? (sx > 0 ? blocks->right : blocks->left)
                                                 : (sy > 0 ? blocks->down : blocks->up);
        if (ahead.size() != size_t(blocks->width) * size_t(blocks->height))
            blocks = nullptr; // not made: the walk takes one block at a time
    }
    const double across = rowsMain ? std::fabs(dy) / std::fabs(dx) : std::fabs(dx) / std::fabs(dy);
    const int mainSize = rowsMain ? W : H;
    const int pixelCap = across * mainSize < 1 ? mainSize : int(1 / across) + 2;
    constexpr int kMinPixelRun = 4;
    for (;;) {
        // The state of the block under (x, y), -1 beyond the summary.
        const int state = x < sumW && y < sumH ? summary->data[(y >> 4) * summary->width + (x >> 4)] : -1;
        if (state == (inRun ? 255 : 0)) {
            // Nothing changes until the walk leaves a rectangle of
            // blocks of this state around this one.
            const int bxi = x >> 4, byi = y >> 4, bw = summary->width;
            int x0 = bxi, x1 = bxi + 1, y0 = byi, y1 = byi + 1; // blocks [x0, x1) x [y0, y1)
            if (blocks) {
                // Ahead along the line's main axis as far as the run of
                // this state goes, and across it over the rows (columns)
                // the line meets on that stretch whose runs go as far:
                // inside a large uniform area one step crosses it.
                const bool rows = rowsMain;
                const std::vector<int> &ahead = rows ? (sx > 0 ? blocks->right : blocks->left)
                                                     : (sy > 0 ? blocks->down : blocks->up);
                const int n = ahead[size_t(byi) * bw + bxi];
                const int side = rows ? sy : sx;
                const int need = side ? int(std::ceil(n * across)) + 1 : 0;
                // As many of them as the summary has on that side.
                const int room = side > 0 ? (rows ? summary->height - 1 - byi : bw - 1 - bxi)
                                          : side < 0 ? (rows ? byi : bxi) : 0;
                const int lastM = std::min(need, room);
                const std::ptrdiff_t stepIdx = rows ? std::ptrdiff_t(side) * bw : side;
                std::ptrdiff_t idx = std::ptrdiff_t(byi) * bw + bxi;
                int m = 1; // rows (columns) of the rectangle
                for (; m <= lastM; ++m) {
                    idx += stepIdx;
                    if (summary->data[idx] != state || ahead[size_t(idx)] < n)
                        break;
                }
                const int along = rows ? sx : sy;
                int &lo = rows ? x0 : y0, &hi = rows ? x1 : y1;
                int &clo = rows ? y0 : x0, &chi = rows ? y1 : x1;
                if (along > 0)
                    hi = lo + n;
                else
                    lo = hi - n;
                if (side > 0)
                    chi = clo + m;
                else if (side < 0)
                    clo = chi - m;
            }
            if (!crossRect(16 * x0, 16 * x1, 16 * y0, 16 * y1))
                break;
            continue;
        }
        if (state != 0 && state != 255 && !(blocks && pixelCap >= kMinPixelRun)) {
            // A mixed block, or pixels beyond the summary: nothing but the
            // pixels changes until the walk leaves it, so it steps pixel by
            // pixel in a loop of its own, counting the steps left to the
            // block's sides instead of testing the block at every pixel.
            int xlo = 0, xhi = W, ylo = 0, yhi = H;
            if (state >= 0) {
                xlo = x & ~15;
                xhi = xlo + 16;
                ylo = y & ~15;
                yhi = ylo + 16;
            } else if (x < sumW) {
                ylo = sumH; // below the summary's rows
            } else {
                xlo = sumW; // right of the summary's columns
            }
            int kx = sx > 0 ? xhi - x : sx < 0 ? x - xlo + 1 : INT_MAX;
            int ky = sy > 0 ? yhi - y : sy < 0 ? y - ylo + 1 : INT_MAX;
            const std::ptrdiff_t rowStep = std::ptrdiff_t(sy) * region.stride();
            const uchar *rowp = region.row(y);
            int cx = x, cy = y;
            double nx = tnx, ny = tny, te = tEnter, rs = runStart;
            bool cur = inRun, ended = false;
            for (;;) {
                const bool in = (rowp[cx >> 3] >> (cx & 7)) & 1;
                if (in != cur) {
                    cur = in;
                    if (in)
                        rs = te;
                    else
                        emit(rs, te);
                }
                if (nx <= ny) {
                    if (nx >= t1) {
                        ended = true;
                        break;
                    }
                    te = nx;
                    cx += sx;
                    nx += tdx;
                    if (--kx == 0)
                        break;
                } else {
                    if (ny >= t1) {
                        ended = true;
                        break;
                    }
                    te = ny;
                    cy += sy;
                    ny += tdy;
                    if (--ky == 0)
                        break;
                    rowp += rowStep;
                }
            }
            inRun = cur;
            runStart = rs;
            if (ended) {
                tExit = t1;
                break;
            }
            x = cx;
            y = cy;
            tnx = nx;
            tny = ny;
            tExit = te;
            if (x < 0 || x >= W || y < 0 || y >= H)
                break;
            tEnter = te;
            continue;
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
        if (blocks && pixelCap >= kMinPixelRun && state != 0 && state != 255) {
            const int k = rowsMain ? rowRun(region, summary, x, y, sx, inRun, pixelCap)
                                   : columnRun(region, summary, x, y, sy, inRun, pixelCap);
            if (k >= kMinPixelRun) {
                const bool ok = rowsMain ? crossRect(sx > 0 ? x : x - k + 1, sx > 0 ? x + k : x + 1, y, y + 1)
                                         : crossRect(x, x + 1, sy > 0 ? y : y - k + 1, sy > 0 ? y + k : y + 1);
                if (!ok)
                    break;
                continue;
            }
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

void scanLineRunsScalar(const Plane1 &region, double ax, double ay, double bx, double by, float minRun,
                        std::vector<ScanRun> &runs)
{
    const int W = region.width, H = region.height;
    double t0, t1;
    if (W <= 0 || H <= 0 || !clipToRect(ax, ay, bx, by, W, H, t0, t1))
        return;
    const double dx = bx - ax, dy = by - ay;
    const double len = std::hypot(dx, dy);
    if (!(len > 0))
        return;
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
    double tEnter = t0, tExit = t0, runStart = 0;
    bool inRun = false;
    auto emit = [&](double ts, double te) {
        if ((te - ts) * len > minRun)
            runs.push_back({PolyPoint(float(ax + ts * dx), float(ay + ts * dy)),
                            PolyPoint(float(ax + te * dx), float(ay + te * dy))});
    };
    for (;;) {
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

// Where a run of a line crosses a boundary edge closer than this (pixels)
// to the edge's corner or to the line's own ends, the walk decides: its
// running crossing times stray from the exact line by far less (about
// 1e-10 pixels over a few thousand steps), so every crossing further away
// is the walk's own.
constexpr double kEdgeHair = 1e-6;

} // namespace

LineFamilyRuns::LineFamilyRuns(const Plane1 &region, const Plane8 *summary, const BlockRuns *blocks, double ox,
                               double oy, double ux, double uy, double R, std::vector<double> offsets, float minRun)
    : m_region(region), m_summary(summary), m_blocks(blocks), m_minRun(minRun)
{
    const int W = region.width, H = region.height;
    const double vx = -uy, vy = ux;
    const int L = int(offsets.size());
    m_lines.resize(size_t(L));
    for (int i = 0; i < L; ++i) {
        // As scanFamilyLine and scanLineRuns make them, bit for bit.
        Line &l = m_lines[size_t(i)];
        const double cx = ox + offsets[size_t(i)] * vx, cy = oy + offsets[size_t(i)] * vy;
        l.ax = cx - R * ux;
        l.ay = cy - R * uy;
        l.bx = cx + R * ux;
        l.by = cy + R * uy;
        l.dx = l.bx - l.ax;
        l.dy = l.by - l.ay;
        l.len = std::hypot(l.dx, l.dy);
        l.clipped = W > 0 && H > 0 && clipToRect(l.ax, l.ay, l.bx, l.by, W, H, l.t0, l.t1) && l.len > 0;
    }
    // Near an axis a line crosses grid lines of one direction at a glancing
    // angle: those families are walked (the walk crosses them fast).
    const bool byEdges = L > 0 && std::fabs(ux) >= 0.01 && std::fabs(uy) >= 0.01 && std::isfinite(ox)
        && std::isfinite(oy) && std::isfinite(R) && std::is_sorted(offsets.begin(), offsets.end())
        && std::isfinite(offsets.front()) && std::isfinite(offsets.back());
    if (!byEdges) {
        for (Line &l : m_lines)
            l.walk = true;
        return;
    }
    // Rows that can hold an edge: those of the summary's occupied blocks and
    // the row below them.
    int yLo = 0, yHi = H;
    const bool haveSummary =
        summary && W % 16 == 0 && H % 16 == 0 && summary->width == W / 16 && summary->height == H / 16;
    if (haveSummary) {
        int b0 = summary->height, b1 = -1;
        for (int by = 0; by < summary->height; ++by) {
            const uchar *r = summary->data + size_t(by) * size_t(summary->width);
            if (std::any_of(r, r + summary->width, [](uchar v) { return v != 0; })) {
                b0 = std::min(b0, by);
                b1 = by;
            }
        }
        if (b1 < 0)
            return; // no pixel set: no line has runs
        yLo = 16 * b0;
        yHi = std::min(H, 16 * (b1 + 1) + 1);
    }
    std::vector<Event> found;
    std::vector<int> lineOf;
    // Whether line j crosses a run of n boundary edges in a row: vertical,
    // x = X and rows y .. y + n - 1; horizontal, y = Y and columns
    // x .. x + n - 1; the pixels on each side of the run all alike, so only
    // the run's two ends are corners where the walk's way matters (it
    // crosses one of two edges of the run at the same step otherwise).
    // Checked in pixels: the offsets only pick the lines near the run.
    auto check = [&](int j, int x, int y, bool vertical, int n) {
        Line &l = m_lines[size_t(j)];
        if (l.walk || !l.clipped)
            return; // a line that misses the plane crosses no edge in it
        double t, c;
        int c0;
        if (vertical) {
            t = (x - l.ax) / l.dx;
            c = l.ay + t * l.dy;
            c0 = y;
        } else {
            t = (y - l.ay) / l.dy;
            c = l.ax + t * l.dx;
            c0 = x;
        }
        if (!(c > c0 - kEdgeHair && c < c0 + n + kEdgeHair))
            return;
        // The walk starts 1e-9 of the segment past t0: microns on a long
        // line.
        const double d0 = (t - l.t0) * l.len, d1 = (l.t1 - t) * l.len;
        const double endHair = std::max(kEdgeHair, 4e-9 * l.len);
        if (!(d0 > -endHair && d1 > -endHair))
            return;
        if (c < c0 + kEdgeHair || c > c0 + n - kEdgeHair || d0 < endHair || d1 < endHair) {
            l.walk = true;
            return;
        }
        const int k = std::min(int(c - c0), n - 1);
        found.push_back({t, vertical ? x : x + k, vertical ? y + k : y, vertical});
        lineOf.push_back(j);
    };
    // Offsets evenly spaced (a fill's lines): the lines near a run follow
    // from its offsets in units of the spacing; others are searched.
    const double first = offsets.front(), span = offsets.back() - first;
    const double perOffset = L > 1 && span > 0 ? (L - 1) / span : 0;
    double stray = 0;
    for (int j = 0; j < L; ++j)
        stray = std::max(stray, std::fabs(offsets[size_t(j)] - (first + j * (L > 1 ? span / (L - 1) : 0.0))));
    const bool even = L == 1 || (perOffset > 0 && stray < 1e-6);
    const double qx = vx * perOffset, qy = vy * perOffset, qMargin = (1e-3 + stray) * perOffset + 1e-9;
    const double q0 = -(ox * qx + oy * qy + first * perOffset);
    auto checkEven = [&](int j, double qlo, int x, int y, bool vertical, int n) __attribute__((noinline)) {
        for (; j >= 0 && j >= qlo; --j)
            check(j, x, y, vertical, n);
    };
    auto checkUneven = [&](int x, int y, bool vertical, int n) __attribute__((noinline)) {
        const double oa = (x - ox) * vx + (y - oy) * vy, ob = oa + n * (vertical ? vy : vx);
        const double lo = std::min(oa, ob) - 1e-3, hi = std::max(oa, ob) + 1e-3;
        for (int j = int(std::lower_bound(offsets.begin(), offsets.end(), lo) - offsets.begin());
             j < L && offsets[size_t(j)] <= hi; ++j)
            check(j, x, y, vertical, n);
    };
    // Most runs lie between two lines: that much is settled where they are
    // found.
    auto edges = [&](int x, int y, bool vertical, int n) __attribute__((always_inline)) {
        if (!even) {
            checkUneven(x, y, vertical, n);
            return;
        }
        // Line index units: line j lies at q = j.
        const double qa = x * qx + y * qy + q0, qb = qa + n * (vertical ? qy : qx);
        const double qhi = std::max(qa, qb) + qMargin;
        if (!(qhi >= 0))
            return;
        const double qlo = std::min(qa, qb) - qMargin;
        const int j = qhi < L ? int(qhi) : L - 1;
        if (j >= qlo)
            checkEven(j, qlo, x, y, vertical, n);
    };
    // One pass over the rows, 64 pixels a word: vertical boundary edges (a
    // pixel against its left neighbour) and horizontal ones (against the
    // pixel above), each kind split by the state of the pixel right of or
    // below it. Horizontal runs close within their row; a vertical run is
    // handed over in the row where it stops.
    const int words = (W + 63) / 64, stride = region.stride();
    const quint64 lastMask = W % 64 ? ~quint64(0) >> (64 - W % 64) : ~quint64(0);
    std::vector<quint64> rowsBuf(2 * static_cast<size_t>(words), 0);
    quint64 *cur = rowsBuf.data(), *above = cur + words;
    std::vector<quint64> runSet(static_cast<size_t>(words), 0), runClear(static_cast<size_t>(words), 0);
    std::vector<int> runFrom(static_cast<size_t>(W), 0); // first row of a column's open vertical run
    auto load = [&](int y, quint64 *w) {
        w[words - 1] = 0;
        std::memcpy(w, region.row(y), size_t(stride));
        w[words - 1] &= lastMask;
    };
    auto rowRuns = [&](quint64 m, int i, int y, int &open) {
        if (open >= 0) {
            if (m == ~quint64(0))
                return;
            const int e = __builtin_ctzll(~m);
            edges(open, y, false, 64 * i + e - open);
            open = -1;
            m &= ~quint64(0) << e;
        }
        while (m) {
            const int b = __builtin_ctzll(m);
            const quint64 gap = ~m & (~quint64(0) << b);
            if (!gap) {
                open = 64 * i + b;
                return;
            }
            const int e = __builtin_ctzll(gap);
            edges(64 * i + b, y, false, e - b);
            m &= ~quint64(0) << e;
        }
    };
    auto columnRuns = [&](quint64 ended, quint64 started, int i, int y) {
        for (; ended; ended &= ended - 1) {
            const int x = 64 * i + __builtin_ctzll(ended);
            edges(x, runFrom[size_t(x)], true, y - runFrom[size_t(x)]);
        }
        for (; started; started &= started - 1)
            runFrom[size_t(64 * i + __builtin_ctzll(started))] = y;
    };
    // Words whose pixels and left neighbour lie in blocks the summary calls
    // uniform and alike hold no edge but where a block row meets the one
    // above: per block row, the words to read (all without a summary).
    const bool blockWords = haveSummary && words * 4 >= summary->width;
    std::vector<char> busy, busyTop;
    if (blockWords) {
        const int bw = summary->width, bh = summary->height;
        busy.assign(size_t(bh) * size_t(words), 0);
        busyTop.assign(busy.size(), 0);
        // Only the block rows the rows below visit, and the one above them.
        const int byLo = std::max(0, (yLo >> 4) - 1), byHi = std::min(bh, ((yHi - 1) >> 4) + 1);
        std::vector<uchar> flags(static_cast<size_t>(bw) + 3, 0);
        for (int by = byLo; by < byHi; ++by) {
            const uchar *b = summary->data + size_t(by) * size_t(bw);
            // Per block: mixed, or unlike the block on its left.
            for (int k = 0; k < bw; ++k)
                flags[size_t(k)] = (b[k] != 0 && b[k] != 255) || (k > 0 && b[k] != b[k - 1]);
            for (int i = 0; i < words; ++i) {
                bool mixed = i > 0 && b[4 * i - 1] != 0 && b[4 * i - 1] != 255;
                for (int k = 4 * i; k < std::min(4 * i + 4, bw) && !mixed; ++k)
                    mixed = flags[size_t(k)];
                busy[size_t(by) * size_t(words) + size_t(i)] = mixed;
            }
        }
        for (int by = std::max(byLo, yLo >> 4); by < byHi; ++by)
            for (int i = 0; i < words; ++i) {
                const size_t at = size_t(by) * size_t(words) + size_t(i);
                bool top = busy[at] || (by > 0 && busy[at - size_t(words)]);
                const uchar *b = summary->data + size_t(by) * size_t(bw);
                for (int k = 4 * i; k < std::min(4 * i + 4, bw) && !top && by > 0; ++k)
                    top = b[k] != b[k - bw];
                busyTop[at] = top;
            }
    }
    if (yLo > 0)
        load(yLo - 1, above);
    for (int y = yLo; y < yHi; ++y) {
        load(y, cur);
        quint64 carry = 0;
        int openSet = -1, openClear = -1;
        const char *rowBusy = nullptr;
        if (blockWords && y < 16 * summary->height)
            rowBusy = ((y & 15) ? busy.data() : busyTop.data()) + size_t(y >> 4) * size_t(words);
        for (int i = 0; i < words; ++i) {
            const quint64 w = cur[i];
            if (rowBusy && !rowBusy[i]) {
                // Nothing here: runs along the row end where it starts.
                if (openSet >= 0)
                    edges(openSet, y, false, 64 * i - openSet);
                if (openClear >= 0)
                    edges(openClear, y, false, 64 * i - openClear);
                openSet = openClear = -1;
                carry = w >> 63;
                continue;
            }
            quint64 v = w ^ (w << 1 | carry);
            carry = w >> 63;
            if (i == 0)
                v &= ~quint64(1); // pixel 0 has no left neighbour
            if (i == words - 1)
                v &= lastMask;
            const quint64 h = y > 0 ? w ^ above[i] : 0;
            const quint64 vs = v & w, vc = v & ~w, ps = runSet[size_t(i)], pc = runClear[size_t(i)];
            if (!(v | h | ps | pc) && openSet < 0 && openClear < 0)
                continue;
            // Runs that stop before those that start: a column's edge may
            // change sides from one row to the next.
            if ((ps & ~vs) | (pc & ~vc))
                columnRuns((ps & ~vs) | (pc & ~vc), 0, i, y);
            if ((vs & ~ps) | (vc & ~pc))
                columnRuns(0, (vs & ~ps) | (vc & ~pc), i, y);
            runSet[size_t(i)] = vs;
            runClear[size_t(i)] = vc;
            if (h || openSet >= 0)
                rowRuns(h & w, i, y, openSet);
            if (h || openClear >= 0)
                rowRuns(h & ~w, i, y, openClear);
        }
        if (openSet >= 0)
            edges(openSet, y, false, W - openSet);
        if (openClear >= 0)
            edges(openClear, y, false, W - openClear);
        std::swap(cur, above);
    }
    for (int i = 0; i < words; ++i)
        columnRuns(runSet[size_t(i)] | runClear[size_t(i)], 0, i, yHi);
    // By line, each line's in the order it meets them.
    std::vector<int> start(size_t(L) + 1, 0);
    for (const int j : lineOf)
        ++start[size_t(j) + 1];
    for (int j = 0; j < L; ++j)
        start[size_t(j) + 1] += start[size_t(j)];
    m_events.resize(found.size());
    std::vector<int> fillAt(start.begin(), start.end() - 1);
    for (size_t e = 0; e < found.size(); ++e)
        m_events[size_t(fillAt[size_t(lineOf[e])]++)] = found[e];
    for (int j = 0; j < L; ++j) {
        Line &l = m_lines[size_t(j)];
        l.first = start[size_t(j)];
        l.count = start[size_t(j) + 1] - l.first;
        std::sort(m_events.begin() + l.first, m_events.begin() + l.first + l.count,
                  [](const Event &a, const Event &b) { return a.t < b.t; });
    }
}

int LineFamilyRuns::walkedLines() const
{
    return int(std::count_if(m_lines.begin(), m_lines.end(), [](const Line &l) { return l.walk; }));
}

void LineFamilyRuns::walkLine(const Line &l, std::vector<ScanRun> &runs) const
{
    scanLineRuns(m_region, m_summary, l.ax, l.ay, l.bx, l.by, m_minRun, runs, m_blocks);
}

void LineFamilyRuns::lineRuns(int i, std::vector<ScanRun> &runs) const
{
    const Line &l = m_lines[size_t(i)];
    if (l.walk) {
        walkLine(l, runs);
        return;
    }
    if (!l.clipped)
        return;
    // The walk's start and running crossing times, as scanLineRuns has them.
    const int W = m_region.width, H = m_region.height;
    const double ax = l.ax, ay = l.ay, dx = l.dx, dy = l.dy, len = l.len, t0 = l.t0, t1 = l.t1;
    const double tm = t0 + std::min(1e-9, (t1 - t0) * 0.5);
    const int x = std::clamp(int(std::floor(ax + tm * dx)), 0, W - 1);
    const int y = std::clamp(int(std::floor(ay + tm * dy)), 0, H - 1);
    bool in = m_region.pixel(x, y);
    if (!in && l.count == 0)
        return;
    const int sx = dx > 0 ? 1 : -1, sy = dy > 0 ? 1 : -1; // neither is 0 here
    const double tdx = 1.0 / std::fabs(dx), tdy = 1.0 / std::fabs(dy);
    const double tnx = sx > 0 ? (x + 1 - ax) / dx : (x - ax) / dx;
    const double tny = sy > 0 ? (y + 1 - ay) / dy : (y - ay) / dy;
    // The running sums after a step, each taken on from the one before on
    // its axis (the steps only grow along the line).
    long long atX = 0, atY = 0;
    double sumX = tnx, sumY = tny;
    auto crossX = [&](long long step) {
        sumX = repeatedSum(sumX, tdx, step - atX);
        atX = step;
        return sumX;
    };
    auto crossY = [&](long long step) {
        sumY = repeatedSum(sumY, tdy, step - atY);
        atY = step;
        return sumY;
    };
    const size_t before = runs.size();
    auto emit = [&](double ts, double te) {
        if ((te - ts) * len > m_minRun)
            runs.push_back({PolyPoint(float(ax + ts * dx), float(ay + ts * dy)),
                            PolyPoint(float(ax + te * dx), float(ay + te * dy))});
    };
    double runStart = t0;
    for (int k = 0; k < l.count; ++k) {
        const Event &e = m_events[size_t(l.first + k)];
        // The step that crosses the edge, and the pixel it enters.
        long long step;
        bool to;
        if (e.vertical) {
            step = sx > 0 ? e.x - x - 1 : x - e.x;
            to = m_region.pixel(sx > 0 ? e.x : e.x - 1, e.y);
        } else {
            step = sy > 0 ? e.y - y - 1 : y - e.y;
            to = m_region.pixel(e.x, sy > 0 ? e.y : e.y - 1);
        }
        if (step < 0 || to == in || step < (e.vertical ? atX : atY)) { // not the walk's way: let it decide
            runs.resize(before);
            walkLine(l, runs);
            return;
        }
        const double T = e.vertical ? crossX(step) : crossY(step);
        if (to)
            runStart = T;
        else
            emit(runStart, T);
        in = to;
    }
    if (in) // the walk ends at t1 or where it leaves the plane
        emit(runStart, std::min({t1, crossX(sx > 0 ? W - 1 - x : x), crossY(sy > 0 ? H - 1 - y : y)}));
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

void scanFamilyLine(const Plane1 &region, const Plane8 &summary, const BlockRuns &blocks, const Family &f, double off,
                    float minRun, std::vector<ScanRun> &runs)
{
    const double cx = f.ox + off * f.vx, cy = f.oy + off * f.vy;
    scanLineRuns(region, &summary, cx - f.R * f.ux, cy - f.R * f.uy, cx + f.R * f.ux, cy + f.R * f.uy, minRun, runs,
                 &blocks);
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

// blockRuns of a summary, remembered per thread and kind of region
// (infill, shell) for the next call: the layers of a prism share their
// regions. Arrays are added as the line directions ask for them.
const BlockRuns &cachedBlockRuns(const Plane8 &summary, int kind, unsigned which)
{
    struct Slot {
        Plane8 summary;
        BlockRuns runs;
        bool valid = false;
    };
    thread_local Slot slots[2];
    Slot &c = slots[kind];
    if (!c.valid || !(c.summary == summary)) {
        c.valid = false;
        c.runs = blockRuns(summary, which);
        c.summary = summary;
        c.valid = true;
    } else {
        addBlockRuns(summary, c.runs, which);
    }
    return c.runs;
}

// The run arrays the walk of a family's lines reads: along the main axis
// in the lines' direction; both axes' when the direction is so near a
// diagonal that a line's own rounding may choose either.
unsigned familyRuns(const Family &f)
{
    const double ax = std::fabs(f.ux), ay = std::fabs(f.uy);
    unsigned which = 0;
    if (ax >= ay * (1 - 1e-6) && f.ux != 0)
        which |= f.ux > 0 ? kRunsRight : kRunsLeft;
    if (ay >= ax * (1 - 1e-6) && f.uy != 0)
        which |= f.uy > 0 ? kRunsDown : kRunsUp;
    return which;
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
    std::vector<ScanRun> runs;
    for (int j = 0; j < directions; ++j) {
        const Family f = makeFamily(region, angleDeg * kDegToRad + j * step, spacing);
        // Only for a region with pixels: most layers have no shell.
        const BlockRuns &blocks = cachedBlockRuns(summary, 0, familyRuns(f));
        double lo, hi;
        lineOffsetRange(occ, f, lo, hi);
        for (int k = -f.n; k <= f.n; ++k) {
            for (int m = 0; m < T; ++m) {
                const double off = k * double(spacing) + (T >= 2 ? (m - (T - 1) / 2.0) * subSpacing : 0.0);
                if (!(off >= lo && off <= hi))
                    continue;
                runs.clear();
                scanFamilyLine(region, summary, blocks, f, off, minRun, runs);
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

// The cell's column and row; false for a point in no cell.
bool endCellXY(PolyPoint q, float size, qint64 &x, qint64 &y)
{
    const double cx = std::floor(double(q.x) / size), cy = std::floor(double(q.y) / size);
    if (!(std::fabs(cx) < 1e9) || !(std::fabs(cy) < 1e9))
        return false; // never within a finite distance of anything
    x = qint64(cx);
    y = qint64(cy);
    return true;
}

qint64 endCell(PolyPoint q, float size)
{
    qint64 x, y;
    return endCellXY(q, size, x, y) ? y * kCellRow + x : kNoCell;
}

// Up to this many path ends a line's runs look at all of them (in the
// 3 x 3 cells around), more go through the map of cells.
constexpr size_t kFewEnds = 16;

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
    PathList built;
    // Paths that took a run of the previous line: the only ones a run may
    // join, so a run never bridges to a line further back or to its own line.
    std::vector<int> prevLine, thisLine;
    std::vector<char> joined; // by path: took a run of this line already
    std::unordered_map<qint64, std::vector<int>> ends;
    struct FewEnd {
        int pos;
        qint64 cx, cy;
    };
    std::vector<FewEnd> fewEnds;
    std::vector<ScanRun> runs;
    // The lines that can meet the region, all at once from its outline.
    std::vector<double> offsets;
    int kFirst = 0;
    for (int k = -f.n; k <= f.n; ++k) {
        const double off = k * double(spacing);
        if (off >= lo && off <= hi) {
            if (offsets.empty())
                kFirst = k;
            offsets.push_back(off);
        }
    }
    LineFamilyRuns lines(region, &summary, nullptr, f.ox, f.oy, f.ux, f.uy, f.R, offsets, minLen);
    if (lines.walkedLines() > 0) // the walk's block runs, made only for it
        lines.setBlocks(&cachedBlockRuns(summary, 1, familyRuns(f)));
    for (int k = -f.n; k <= f.n; ++k) {
        const double off = k * double(spacing);
        if (!(off >= lo && off <= hi)) {
            prevLine.clear(); // a line without runs: the next one joins nothing
            continue;
        }
        runs.clear();
        lines.lineRuns(k - kFirst, runs);
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
        // Usually a line meets a few islands: their ends' cells are kept in
        // a short list and each run looks at all of them; the same ends as
        // the map would give, so the same choice.
        const bool few = prevLine.size() <= kFewEnds;
        if (few) {
            fewEnds.clear();
            if (twoP > 0)
                for (int pos = 0; pos < int(prevLine.size()); ++pos) {
                    FewEnd f{pos, 0, 0};
                    if (endCellXY(built[prevLine[size_t(pos)]].pts.last(), twoP, f.cx, f.cy))
                        fewEnds.push_back(f);
                }
        } else {
            ends.clear();
            if (twoP > 0)
                for (int pos = 0; pos < int(prevLine.size()); ++pos) {
                    const PolyPoint e = built[prevLine[size_t(pos)]].pts.last();
                    const qint64 key = endCell(e, twoP);
                    if (key != kNoCell)
                        ends[key].push_back(pos);
                }
        }
        thisLine.clear();
        for (const ScanRun &r : runs) {
            int best = -1, bestPos = INT_MAX;
            float bestD = twoP;
            if (few) {
                qint64 ax = 0, ay = 0;
                if (twoP > 0 && endCellXY(r.a, twoP, ax, ay))
                    for (const FewEnd &f : fewEnds) {
                        if (f.cx < ax - 1 || f.cx > ax + 1 || f.cy < ay - 1 || f.cy > ay + 1)
                            continue;
                        const int idx = prevLine[size_t(f.pos)];
                        const PolyPoint e = built[idx].pts.last();
                        const float d = std::fabs(e.x - r.a.x) + std::fabs(e.y - r.a.y);
                        if ((d < bestD || (d == bestD && best >= 0 && f.pos < bestPos)) && !joined[size_t(idx)]) {
                            bestD = d;
                            best = idx;
                            bestPos = f.pos;
                        }
                    }
            }
            const qint64 at = twoP > 0 && !few ? endCell(r.a, twoP) : kNoCell;
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
