// Polygon fills of Plane8: crossings are marked into a bit-packed sample
// store, then each pixel row is resolved with one table lookup per sample row
// and pixel. The plane is processed in bands of eight pixel rows: a band's
// part of the store is cleared, marked and resolved while it is hot in cache,
// and bands run in parallel. Marking a band only needs the segments that
// cross it, so segments are bucketed by band first.
#include "raster/plane1.h"
#include "raster/plane8.h"
#include "raster/rasterkernels.h"
#include "raster/rasterperf.h"

#include <emmintrin.h>
#include <omp.h>
#include <climits>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// Maps mm onto sample coordinates: samplesPerPixel samples per pixel.
struct SampleMap {
    double ox = 0, oy = 0, kx = 0, ky = 0;
    int cols = 0, rows = 0; // samples per row, sample rows
    bool valid = false;

    SampleMap(const Extents &e, int w, int h, int samplesPerPixel)
    {
        const double ew = double(e.maxX) - e.minX, eh = double(e.maxY) - e.minY;
        cols = w * samplesPerPixel;
        rows = h * samplesPerPixel;
        valid = w > 0 && h > 0 && std::isfinite(ew) && std::isfinite(eh) && ew > 0 && eh > 0;
        if (valid) {
            ox = e.minX;
            oy = e.minY;
            kx = cols / ew;
            ky = rows / eh;
        }
    }
};

// Nearest integer, halves upward; false when the value cannot be placed.
inline bool roundSample(double v, int &out)
{
    const double big = double(1 << 30);
    if (!(v > -big && v < big)) // also rejects NaN
        return false;
    // floor(v + 0.5) by truncating a positive value: no libm call.
    out = int(qint64(v + 0.5 + big) - qint64(big));
    return true;
}

// Nearest column, halves upward; every column left of the plane comes as -1
// (callers clamp them to column 0), which avoids a floor call per crossing.
inline int crossingColumn(float x)
{
    const float v = x + 0.5f;
    return v < 0 ? -1 : v < float(1 << 30) ? int(v) : 1 << 30;
}

// A segment in sample units, its ends where the mesh put them. Sample row s
// stands for the band [s, s + 1) with its centre at s + 0.5; the segment
// covers the rows whose centres lie in (lower end, upper end], and its column
// in a row is the segment's x at that centre. Rounding the ends to whole
// samples instead moved and turned every slanted side by up to half a sample,
// which the shell offsets carried into the walls. up: the segment runs
// toward larger y.
struct SampleSeg {
    double x0, y0;
    double slope; // x change per unit of y
    int lo, hi;   // sample rows covered, clipped to the plane: lo .. hi
    bool up;

    // Column of the crossing in sample row r (lo <= r <= hi).
    int column(int r) const
    {
        return crossingColumn(float(x0 + (double(r) + 0.5 - y0) * slope));
    }
};

// Pixel rows per band, and the sample rows of a band as a shift.
constexpr int kBandPixelRows = 8;
constexpr int kBandSampleShift = 5;

// Placeable segments, bucketed by band of sample rows. Segments that span
// many bands are kept in one list that every band scans, so memory stays
// proportional to the segment count whatever their lengths.
struct SegBands {
    std::vector<SampleSeg> segs;
    std::vector<int> start; // band b: items[start[b] .. start[b + 1])
    std::vector<int> items;
    std::vector<int> longSegs;

    // Bands of 2^bandShift sample rows.
    SegBands(const Segments &in, const SampleMap &map, int bandShift)
    {
        if (!map.valid)
            return;
        segs.reserve(size_t(in.size()));
        for (const Segment &s : in) {
            const double x0 = (s.x0 - map.ox) * map.kx, y0 = (s.y0 - map.oy) * map.ky;
            const double x1 = (s.x1 - map.ox) * map.kx, y1 = (s.y1 - map.oy) * map.ky;
            int c0, c1, r0, r1;
            if (!roundSample(x0, c0) || !roundSample(y0, r0) || !roundSample(x1, c1) || !roundSample(y1, r1))
                continue; // non-finite or absurdly far: nothing to place
            if (r0 == r1)
                continue; // crosses no row centre
            SampleSeg g;
            g.up = y1 > y0;
            g.x0 = x0;
            g.y0 = y0;
            g.slope = (x1 - x0) / (y1 - y0);
            g.lo = qMax(0, g.up ? r0 : r1);
            g.hi = qMin(map.rows - 1, (g.up ? r1 : r0) - 1);
            if (g.lo <= g.hi)
                segs.push_back(g);
        }
        const int bands = ((map.rows - 1) >> bandShift) + 1;
        start.assign(size_t(bands) + 1, 0);
        for (int i = 0; i < int(segs.size()); i++) {
            const int b0 = segs[size_t(i)].lo >> bandShift, b1 = segs[size_t(i)].hi >> bandShift;
            if (b1 - b0 >= 4) {
                longSegs.push_back(i);
                continue;
            }
            for (int b = b0; b <= b1; b++)
                start[size_t(b) + 1]++;
        }
        for (int b = 0; b < bands; b++)
            start[size_t(b) + 1] += start[size_t(b)];
        items.resize(size_t(start[size_t(bands)]));
        std::vector<int> fill(start.begin(), start.end() - 1);
        for (int i = 0; i < int(segs.size()); i++) {
            const int b0 = segs[size_t(i)].lo >> bandShift, b1 = segs[size_t(i)].hi >> bandShift;
            if (b1 - b0 >= 4)
                continue;
            for (int b = b0; b <= b1; b++)
                items[size_t(fill[size_t(b)]++)] = i;
        }
    }

    int bandCount() const { return int(start.size()) - 1; }

    // The same with every crossing through mark.
    template <typename Mark>
    void forEachCrossing(int band, int r0, int r1, Mark mark) const
    {
        forEachCrossing(
            band, r0, r1, mark,
            [&](int a, int b, int c, bool up) {
                for (int r = a; r <= b; r++)
                    mark(r, c, up);
            },
            [](int, int) {});
    }

    // Calls mark(row, column, up) for every crossing in sample rows r0 ..
    // r1 - 1, in rows a .. b of one column (a wall along the rows) through
    // markRun(a, b, column, up), which must do the same as mark row by row;
    // slanted(a, b) before the crossings of any other side in rows a .. b.
    template <typename Mark, typename MarkRun, typename Slanted>
    void forEachCrossing(int band, int r0, int r1, Mark mark, MarkRun markRun, Slanted slanted) const
    {
        auto one = [&](const SampleSeg &g) {
            const int a = qMax(g.lo, r0), b = qMin(g.hi, r1 - 1);
            if (g.slope == 0 && a <= b) {
                // A wall along the rows: x0 + (...) * 0 is x0 in every row.
                markRun(a, b, g.column(a), g.up);
                return;
            }
            if (a <= b)
                slanted(a, b);
            for (int r = a; r <= b; r++)
                mark(r, g.column(r), g.up);
        };
        for (int i = start[size_t(band)]; i < start[size_t(band) + 1]; i++)
            one(segs[size_t(items[size_t(i)])]);
        for (int i : longSegs)
            one(segs[size_t(i)]);
    }
};

// A thread's sample store, all zero between fills: a fill clears every
// sample it marks (with its group or row) before it ends, so only new room
// is cleared. Kept for the thread's life (a band of the widest plane is
// 256 KB) instead of a store per plane cleared at every fill.
uchar *threadSamples(size_t bytes)
{
    thread_local std::vector<uchar> store;
    if (store.size() < bytes)
        store.assign(bytes, 0);
    return store.data();
}

// Per-thread sample store of one band, kept clean between bands: the resolve
// clears only the 16-pixel groups that marking touched (recorded in `dirty`),
// so neither clearing nor resolving walks the empty parts of the plane.
struct BandStore {
    uchar *samples = nullptr; // the band's rows of rowBytes
    qint64 rowBytes;
    int dirtyWords; // 64-bit words of dirty group bits per pixel row
    std::vector<quint64> dirty;

    BandStore(qint64 rowBytes, int width) : rowBytes(rowBytes)
    {
        samples = threadSamples(size_t(rowBytes * kBandPixelRows));
        dirtyWords = ((width + 15) / 16 + 63) / 64;
        dirty.assign(size_t(dirtyWords) * kBandPixelRows, 0);
    }
    uchar *row(int localRow) { return samples + rowBytes * localRow; }
    void markDirty(int localRow, int pixel)
    {
        dirty[size_t(localRow * dirtyWords + (pixel >> 10))] |= quint64(1) << ((pixel >> 4) & 63);
    }
    // The first dirty group of g .. groups - 1, or groups: a word of 64
    // groups at a time, so a long clean stretch of a row costs a few steps.
    int nextDirty(int localRow, int g, int groups) const
    {
        if (g >= groups)
            return groups;
        const quint64 *d = dirty.data() + size_t(localRow) * size_t(dirtyWords);
        int wi = g >> 6;
        quint64 word = d[wi] & (~quint64(0) << (g & 63));
        while (!word) {
            if (++wi >= dirtyWords)
                return groups;
            word = d[wi];
        }
        return qMin(groups, wi * 64 + __builtin_ctzll(word));
    }
    void clearDirty(int localRow) { std::fill_n(dirty.begin() + localRow * dirtyWords, dirtyWords, 0); }
    // Whether row l + 1 holds the same samples as row l: the same groups
    // marked, with the same 64 bytes each (rows of whole groups only).
    bool sameAsNext(int l) const
    {
        const quint64 *a = dirty.data() + size_t(l) * size_t(dirtyWords), *b = a + dirtyWords;
        for (int wi = 0; wi < dirtyWords; ++wi)
            if (a[wi] != b[wi])
                return false;
        const uchar *rowA = samples + rowBytes * l;
        for (int wi = 0; wi < dirtyWords; ++wi)
            for (quint64 word = a[wi]; word; word &= word - 1) {
                const uchar *p = rowA + 64 * (wi * 64 + __builtin_ctzll(word)), *q = p + rowBytes;
                __m128i eq = _mm_set1_epi8(char(-1));
                for (int k = 0; k < 64; k += 16)
                    eq = _mm_and_si128(eq, _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p + k)),
                                                          _mm_loadu_si128(reinterpret_cast<const __m128i *>(q + k))));
                if (_mm_movemask_epi8(eq) != 0xFFFF)
                    return false;
            }
        return true;
    }
    // Row l's marked groups of pixels copied from `from` to `to`, and its
    // samples and marks cleared (rows of whole groups).
    void copyGroupsAndClear(int l, const uchar *from, uchar *to)
    {
        quint64 *d = dirty.data() + size_t(l) * size_t(dirtyWords);
        uchar *rowL = samples + rowBytes * l;
        for (int wi = 0; wi < dirtyWords; ++wi) {
            for (quint64 word = d[wi]; word; word &= word - 1) {
                const int g = wi * 64 + __builtin_ctzll(word);
                _mm_storeu_si128(reinterpret_cast<__m128i *>(to + 16 * g),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + 16 * g)));
                uchar *p = rowL + 64 * g;
                for (int k = 0; k < 64; k += 16)
                    _mm_storeu_si128(reinterpret_cast<__m128i *>(p + k), _mm_setzero_si128());
            }
            d[wi] = 0;
        }
    }
};

// ---- winding tables (NonZero, Positive) ----

// Built by the compiler: a table made at run time cost every job 0.3 M
// instructions, as much as filling a few small layers.
struct WindingTables {
    // [rule][winding + 8][sample-pair byte]: (w_out - w_in) * 16 + covered
    qint8 t[2][16][256] = {};
    constexpr WindingTables()
    {
        for (int rule = 0; rule < 2; rule++)
            for (int w = -8; w < 8; w++)
                for (int b = 0; b < 256; b++) {
                    int cur = w, covered = 0;
                    for (int pair = 0; pair < 4; pair++) {
                        if (b & (1 << (2 * pair)))
                            cur++;
                        if (b & (2 << (2 * pair)))
                            cur--;
                        covered += rule == 0 ? cur != 0 : cur > 0;
                    }
                    t[rule][w + 8][b] = qint8((cur - w) * 16 + covered);
                }
    }
};

constexpr WindingTables kWindingTables;

// ---- odd table ----

struct OddTable {
    // [parity state][16-bit sample word]: min(15, covered) * 16 + new state
    uchar t[16][65536];
    OddTable()
    {
        // Per sample row: (parity in, 4 samples) -> covered count and parity out.
        uchar rowCovered[2][16], rowParity[2][16];
        for (int p = 0; p < 2; p++)
            for (int m = 0; m < 16; m++) {
                int par = p, cov = 0;
                for (int i = 0; i < 4; i++) {
                    par ^= (m >> i) & 1;
                    cov += par;
                }
                rowCovered[p][m] = uchar(cov);
                rowParity[p][m] = uchar(par);
            }
        for (int s = 0; s < 16; s++)
            for (int m = 0; m < 65536; m++) {
                int cov = 0, ns = 0;
                for (int r = 0; r < 4; r++) {
                    const int p = (s >> r) & 1, nib = (m >> (4 * r)) & 15;
                    cov += rowCovered[p][nib];
                    ns |= rowParity[p][nib] << r;
                }
                t[s][m] = uchar(qMin(15, cov) * 16 + ns);
            }
    }
};

const OddTable &oddTable()
{
    static const OddTable *table = new OddTable; // 1 MB, kept for the process
    return *table;
}

inline uchar uniformLevel(int rowsInside) { return uchar(qMin(255, rowsInside * 64)); }

// Per band of pixel rows, what every row of the band wrote to each 16-pixel
// group: 0 or 255 when the group was filled with that value without
// resolving samples, else 128 (a hint towards the block summary). A row
// with the same clean runs as the row before, as most rows are, costs one
// comparison.
struct BandHint {
    uchar *states = nullptr; // the band's groups; null: no hint wanted
    int groups = 0;
    bool first = true;
    bool same = true; // the row's runs so far match the row before's
    // The row's clean runs and the row before's: first group, end group,
    // level, in two buffers of room for every run a row can have.
    std::vector<int> bufA, bufB;
    int *cur = nullptr, *prev = nullptr;
    int nCur = 0, nPrev = 0;

    explicit BandHint(int groupCount) : groups(groupCount)
    {
        bufA.resize(size_t(3 * (groups + 1)));
        bufB.resize(size_t(3 * (groups + 1)));
        cur = bufA.data();
        prev = bufB.data();
    }
    void beginBand(uchar *bandStates)
    {
        states = bandStates;
        first = true;
        same = true;
        nCur = nPrev = 0;
    }
    void run(int g, int g2, uchar level)
    {
        if (states) {
            const int i = nCur;
            same = same && i + 3 <= nPrev && prev[i] == g && prev[i + 1] == g2 && prev[i + 2] == level;
            cur[i] = g;
            cur[i + 1] = g2;
            cur[i + 2] = level;
            nCur = i + 3;
        }
    }
    bool sameRuns() const { return same && nCur == nPrev; }
    void endRow()
    {
        if (!states)
            return;
        if (first) {
            std::memset(states, 128, size_t(groups));
            for (int i = 0; i < nCur; i += 3)
                if (cur[i + 2] == 0 || cur[i + 2] == 255)
                    std::memset(states + cur[i], cur[i + 2], size_t(cur[i + 1] - cur[i]));
            first = false;
        } else if (!sameRuns()) {
            int g = 0;
            for (int i = 0; i < nCur; i += 3) {
                for (; g < cur[i]; ++g) // resolved here
                    states[g] = 128;
                const uchar level = uchar(cur[i + 2]);
                for (; g < cur[i + 1]; ++g)
                    if (states[g] != level)
                        states[g] = 128;
            }
            for (; g < groups; ++g)
                states[g] = 128;
        }
        std::swap(cur, prev);
        nPrev = nCur;
        nCur = 0;
        same = true;
    }
};

// The block summary hint from the bands' hints: 0 / 255 where both bands of
// eight rows of a block agree on it, else 128.
void blockHintFromBands(const std::vector<uchar> &bandStates, int groups, Plane8 &hint)
{
    for (int by = 0; by < hint.height; ++by) {
        const uchar *a = bandStates.data() + size_t(2 * by) * groups, *b = a + groups;
        uchar *out = hint.row(by);
        int bx = 0;
        for (; bx + 16 <= hint.width; bx += 16) { // sixteen blocks at a time
            const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a + bx));
            const __m128i eq = _mm_cmpeq_epi8(va, _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + bx)));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + bx),
                             _mm_or_si128(_mm_and_si128(eq, va), _mm_andnot_si128(eq, _mm_set1_epi8(char(128)))));
        }
        for (; bx < hint.width; ++bx)
            out[bx] = a[bx] == b[bx] ? a[bx] : 128;
    }
}

// The groups of one row of a plane's exact block summary (blockSummary)
// that do not hold 0, and those that do not hold 255, one bit a group:
// fillGroups finds the groups it must write 64 at a time. A band's eight
// pixel rows share a block row, so it is made once per band.
struct KnownBits {
    std::vector<quint64> not0, not255;

    void build(const uchar *known, int groups)
    {
        const size_t words = size_t(groups + 63) / 64;
        not0.assign(words, 0);
        not255.assign(words, 0);
        int g = 0;
        for (; g + 16 <= groups; g += 16) { // 16 groups never straddle a word
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(known + g));
            const unsigned z = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128()))) ^ 0xFFFFu;
            const unsigned f = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(char(-1))))) ^ 0xFFFFu;
            not0[size_t(g >> 6)] |= quint64(z) << (g & 63);
            not255[size_t(g >> 6)] |= quint64(f) << (g & 63);
        }
        for (; g < groups; ++g) {
            not0[size_t(g >> 6)] |= quint64(known[g] != 0) << (g & 63);
            not255[size_t(g >> 6)] |= quint64(known[g] != 255) << (g & 63);
        }
    }
    // Null for a level no block is summarised as.
    const quint64 *notLevel(uchar level) const
    {
        return level == 0 ? not0.data() : level == 255 ? not255.data() : nullptr;
    }
};

// The first group of g .. end - 1 whose bit is set (clear: is clear), or end.
inline int nextBit(const quint64 *bits, int g, int end, bool clear)
{
    if (g >= end)
        return end;
    const quint64 flip = clear ? ~quint64(0) : 0;
    int wi = g >> 6;
    quint64 word = (bits[wi] ^ flip) & (~quint64(0) << (g & 63));
    while (!word) {
        if (++wi * 64 >= end)
            return end;
        word = bits[wi] ^ flip;
    }
    return qMin(end, wi * 64 + __builtin_ctzll(word));
}

// Writes `level` to groups g .. g2 - 1 of a pixel row (16 pixels a group).
// known, when given, describes the plane's exact block summary for this
// pixel row: groups whose block is uniform at `level` hold it already and
// are not written, so an unchanged area costs a look at its bits instead of
// a write of its pixels.
inline void fillGroups(uchar *out, int w, int g, int g2, uchar level, const KnownBits *known)
{
    const quint64 *bits = known ? known->notLevel(level) : nullptr;
    if (!bits) {
        std::memset(out + 16 * g, level, size_t(qMin(w, 16 * g2) - 16 * g));
        return;
    }
    while (g < g2) {
        const int a = nextBit(bits, g, g2, false);
        if (a >= g2)
            return;
        const int b = nextBit(bits, a + 1, g2, true);
        std::memset(out + 16 * a, level, size_t(16 * (b - a)));
        g = b;
    }
}

} // namespace

bool Plane8::fromSegs3(const Segments &segs, const Extents &ext, Plane1 &scratch, bool nonZero, bool check,
                       Plane8 *summaryHint, const Plane8 *known)
{
    RasterPerf perf("Plane8.fromSegs3");
    const WindingTables &tables = kWindingTables;
    const int w = width, h = height;
    // 32 bits per pixel: 4 x 4 samples, 2 bits each (low +1, high -1).
    if (qint64(w) * 32 > INT_MAX)
        throw QString("Plane8::fromSegs3() plane too wide");
    const SampleMap map(ext, w, h, 4);
    const SegBands bands(segs, map, kBandSampleShift);
    const int bandCount = (h + kBandPixelRows - 1) / kBandPixelRows, groups = (w + 15) / 16;
    const qint8(*table)[256] = tables.t[nonZero ? 0 : 1];
    auto inside = [nonZero](int v) { return nonZero ? v != 0 : v > 0; };
    int unclosed = 0;
    const bool hinted = summaryHint && w % 16 == 0 && h % 16 == 0;
    std::vector<uchar> bandStates(hinted ? size_t(bandCount) * groups : 0);
    if (known && (w % 16 || h % 16 || known->size() != QSize(w / 16, h / 16)))
        known = nullptr;

    // Bands firstBand .. endBand - 1 with one thread's stores; a row that
    // does not close sets rowOpen.
    auto fillBands = [&, w_ = w, h_ = h, groups_ = groups, table_ = table, hinted_ = hinted, known_ = known,
                      map_ = map, inside_ = inside](int firstBand, int endBand, int &rowOpen) {
        // Locals, not the closure's members: the pixel writes below would
        // make the compiler reload those at every turn.
        const int w = w_, h = h_, groups = groups_;
        const qint8(*const table)[256] = table_;
        const bool hinted = hinted_;
        const Plane8 *const known = known_;
        const SampleMap map = map_;
        const auto inside = inside_;
        // A pixel with crossings: each sample row's winding moves on by its
        // samples; gives the pixel's coverage.
        auto resolve = [table](int *wind, quint32 word) {
            int covered = 0;
            for (int k = 0; k < 4; k++) {
                const qint8 e = table[qBound(-8, wind[k], 7) + 8][(word >> (8 * k)) & 0xFF];
                wind[k] += e >> 4;
                covered += e & 15;
            }
            return uchar(qMin(255, covered * 16));
        };
        // An edge-free pixel's value at the current winding.
        auto levelAt = [inside](const int *wind) {
            return uniformLevel(inside(wind[0]) + inside(wind[1]) + inside(wind[2]) + inside(wind[3]));
        };
        BandStore store(qint64(4) * w, w);
        BandHint hint(groups);
        KnownBits knownBits;
        std::vector<int> runs(size_t(3 * (groups + 1))); // the last resolved row's clean runs: first, end, level
        int nRuns = 0;
        // Where a walk past taken samples ended, per lane (sample row and
        // direction) and column, plus two (0: no link; 1: past column 0): many coincident walls
        // put their crossings on one sample, and walking past all taken ones
        // for each crossing was quadratic in their number. Links are made
        // only by such walks (the store is allocated at the first one), so
        // the usual crossing on a free sample costs nothing more.
        std::vector<int> link, linked;
        const qint64 cols = map.cols;
        for (int band = firstBand; band < endBand; band++) {
            const int py0 = band * kBandPixelRows, py1 = qMin(h, py0 + kBandPixelRows);
            hint.beginBand(hinted ? bandStates.data() + size_t(band) * groups : nullptr);
            if (known)
                knownBits.build(known->row(py0 >> 4), groups);
            for (int i : linked)
                link[size_t(i)] = 0;
            linked.clear();
            auto mark = [&](int r, int col, bool up) {
                if (col >= map.cols)
                    return;
                col = qMax(0, col);
                const int local = (r >> 2) - py0;
                uchar *words = store.row(local);
                const int bitRow = 8 * (r & 3) + (up ? 0 : 1);
                auto taken = [&](int c) {
                    return (load32(words + 4 * (c >> 2)) >> (bitRow + 2 * (c & 3))) & 1u;
                };
                // A taken sample moves the crossing one sample left, until
                // a free one. The set of samples taken does not depend on
                // the order of the crossings, so neither does the result.
                // Every sample between a link's start and its target is
                // taken (samples are never freed within a band), so the
                // walk may jump along links and still finds the same one.
                if (taken(col)) {
                    if (link.empty())
                        link.assign(size_t(cols) * 2 * 4 * kBandPixelRows, 0);
                    const qint64 lane = (qint64(local) * 8 + 2 * (r & 3) + (up ? 0 : 1)) * cols;
                    const int first = col;
                    while (col >= 0 && taken(col)) {
                        const int l = link[size_t(lane + col)];
                        col = l ? l - 2 : col - 1;
                    }
                    // Every sample walked now links to the end of the walk.
                    for (int c = first; c > col;) {
                        int &l = link[size_t(lane + c)];
                        const int next = l ? l - 2 : c - 1;
                        if (!l)
                            linked.push_back(int(lane + c));
                        l = col + 2;
                        c = next;
                    }
                }
                if (col < 0)
                    return; // moved past column 0: dropped
                uchar *word = words + 4 * (col >> 2);
                store32(word, load32(word) | (1u << (bitRow + 2 * (col & 3))));
                store.markDirty(local, col >> 2);
            };
            // A wall along the rows, as mark does it row by row: its crossings
            // in one pixel row share a sample word, and each sample row's
            // bits are a lane of their own (a crossing moves only along its
            // lane), so they are set together unless one is taken; only
            // then does each take mark's walk, in row order.
            auto markRun = [&](int a, int b, int c, bool up) {
                if (c >= map.cols)
                    return;
                const int col = qMax(0, c), wordOffset = 4 * (col >> 2);
                const quint32 lanes = 0x01010101u << (2 * (col & 3) + (up ? 0 : 1));
                for (int r = a; r <= b;) {
                    const int last = qMin(b, r | 3), local = (r >> 2) - py0;
                    uchar *word = store.row(local) + wordOffset;
                    // The bytes of sample rows r & 3 .. last & 3.
                    const quint32 rows = (~0u << (8 * (r & 3))) & (~0u >> (8 * (3 - (last & 3))));
                    const quint32 bits = lanes & rows, v = load32(word);
                    if (v & bits) {
                        for (int k = r; k <= last; ++k)
                            mark(k, c, up);
                    } else {
                        store32(word, v | bits);
                        store.markDirty(local, col >> 2);
                    }
                    r = last + 1;
                }
            };
            // Pixel rows crossed by a side that is not along the rows: bit
            // local. Their samples differ from row to row, mostly, and are
            // not compared.
            unsigned slantedRows = 0;
            auto slanted = [&](int a, int b) {
                slantedRows |= (2u << ((b >> 2) - py0)) - (1u << ((a >> 2) - py0));
            };
            if (map.valid)
                bands.forEachCrossing(band, 4 * py0, 4 * py1, mark, markRun, slanted);

            // A row with the same samples as the row before (beside walls
            // along the rows, most rows are) resolves to the same pixels,
            // clean runs and winding: it takes the row before's clean runs
            // and resolved groups, and its hint is left as the row before's.
            bool repeat = false;
            for (int y = py0; y < py1; y++) {
                const int local = y - py0;
                const bool nextRepeats = w % 16 == 0 && y + 1 < py1 && !((slantedRows >> local) & 3u)
                                         && store.sameAsNext(local);
                uchar *out = row(y);
                if (repeat) {
                    for (int i = 0; i < nRuns; i += 3)
                        fillGroups(out, w, runs[i], runs[i + 1], uchar(runs[i + 2]), known ? &knownBits : nullptr);
                    store.copyGroupsAndClear(local, row(y - 1), out);
                    repeat = nextRepeats;
                    continue;
                }
                repeat = nextRepeats;
                nRuns = 0;
                uchar *words = store.row(local);
                int wind[4] = {0, 0, 0, 0};
                uchar level = 0; // value of an edge-free pixel at the current winding
                for (int g = 0; g < groups;) {
                    const int g2 = store.nextDirty(local, g, groups);
                    if (g2 > g) {
                        fillGroups(out, w, g, g2, level, known ? &knownBits : nullptr);
                        hint.run(g, g2, level);
                        runs[nRuns] = g;
                        runs[nRuns + 1] = g2;
                        runs[nRuns + 2] = level;
                        nRuns += 3;
                        g = g2;
                        continue;
                    }
                    const int x1 = qMin(w, 16 * g + 16);
                    if (x1 - 16 * g == 16) {
                        // A whole group: the pixels with crossings from one
                        // compare of its 64 bytes, the others take the level
                        // left of them. The group is put together in a
                        // buffer and stored once; its samples are cleared.
                        uchar *gw = words + 64 * g;
                        unsigned edges = 0;
                        for (int q = 0; q < 4; q++) {
                            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(gw + 16 * q));
                            edges |= unsigned(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(v, _mm_setzero_si128()))) ^ 15)
                                     << (4 * q);
                        }
                        alignas(16) uchar buf[32];
                        _mm_store_si128(reinterpret_cast<__m128i *>(buf), _mm_set1_epi8(char(level)));
                        while (edges) {
                            const int i = __builtin_ctz(edges);
                            edges &= edges - 1;
                            buf[i] = resolve(wind, load32(gw + 4 * i));
                            const uchar next = levelAt(wind);
                            if (next != level) {
                                level = next;
                                _mm_storeu_si128(reinterpret_cast<__m128i *>(buf + i + 1), _mm_set1_epi8(char(level)));
                            }
                        }
                        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 16 * g),
                                         _mm_load_si128(reinterpret_cast<const __m128i *>(buf)));
                        for (int q = 0; q < 4; q++)
                            _mm_storeu_si128(reinterpret_cast<__m128i *>(gw + 16 * q), _mm_setzero_si128());
                        g++;
                        continue;
                    }
                    for (int x = 16 * g; x < x1; x++) {
                        // Four pixels without crossings at once.
                        if (x + 4 <= x1 && (x & 3) == 0) {
                            const __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i *>(words + 4 * x));
                            if (_mm_movemask_epi8(_mm_cmpeq_epi8(four, _mm_setzero_si128())) == 0xFFFF) {
                                store32(out + x, level * 0x01010101u);
                                x += 3;
                                continue;
                            }
                        }
                        const quint32 word = load32(words + 4 * x);
                        if (!word) {
                            out[x] = level;
                            continue;
                        }
                        out[x] = resolve(wind, word);
                        level = levelAt(wind);
                    }
                    std::memset(words + 64 * g, 0, size_t(4 * (x1 - 16 * g)));
                    g++;
                }
                store.clearDirty(local);
                hint.endRow();
                if (wind[0] | wind[1] | wind[2] | wind[3])
                    rowOpen = 1;
            }
        }
    };
    // Within the layer threads' region a nested one gets a single thread:
    // the bands then run here directly, not through the OpenMP runtime (a
    // cost per layer that small layers felt). Each band is filled the same
    // whichever thread takes it.
    if (bandCount >= 8 && omp_get_max_threads() > 1 && !omp_in_parallel()) {
#pragma omp parallel reduction(| : unclosed)
        {
            const qint64 t = omp_get_thread_num(), nt = omp_get_num_threads();
            fillBands(int(bandCount * t / nt), int(bandCount * (t + 1) / nt), unclosed);
        }
    } else {
        fillBands(0, bandCount, unclosed);
    }
    if (summaryHint)
        summaryHint->setSize(hinted ? QSize(w / 16, h / 16) : QSize());
    if (hinted)
        blockHintFromBands(bandStates, groups, *summaryHint);
    return check && unclosed;
}

bool Plane8::fromSegs2(const Segments &segs, const Extents &ext, Plane1 &scratch, bool check, Plane8 *summaryHint,
                       const Plane8 *known)
{
    RasterPerf perf("Plane8.fromSegs2");
    const OddTable &table = oddTable();
    const int w = width, h = height;
    // 16 bits per pixel: bit (x mod 4) + 4 (y mod 4).
    if (qint64(w) * 16 > INT_MAX)
        throw QString("Plane8::fromSegs2() plane too wide");
    const SampleMap map(ext, w, h, 4);
    const SegBands bands(segs, map, kBandSampleShift);
    const int bandCount = (h + kBandPixelRows - 1) / kBandPixelRows, groups = (w + 15) / 16;
    // Edge-free pixels take the level of the sample rows inside: 0, 64, 128, 192, 255.
    static const uchar uniform[16] = {0, 64, 64, 128, 64, 128, 128, 192, 64, 128, 128, 192, 128, 192, 192, 255};
    int unclosed = 0;
    const bool hinted = summaryHint && w % 16 == 0 && h % 16 == 0;
    std::vector<uchar> bandStates(hinted ? size_t(bandCount) * groups : 0);
    if (known && (w % 16 || h % 16 || known->size() != QSize(w / 16, h / 16)))
        known = nullptr;

#pragma omp parallel reduction(| : unclosed) if (bandCount >= 8)
    {
        BandStore store(qint64(2) * w, w);
        BandHint hint(groups);
        KnownBits knownBits;
#pragma omp for schedule(static)
        for (int band = 0; band < bandCount; band++) {
            const int py0 = band * kBandPixelRows, py1 = qMin(h, py0 + kBandPixelRows);
            hint.beginBand(hinted ? bandStates.data() + size_t(band) * groups : nullptr);
            if (known)
                knownBits.build(known->row(py0 >> 4), groups);
            if (map.valid)
                bands.forEachCrossing(band, 4 * py0, 4 * py1, [&](int r, int col, bool) {
                    if (col >= map.cols)
                        return;
                    col = qMax(0, col);
                    const int local = (r >> 2) - py0;
                    uchar *word = store.row(local) + 2 * (col >> 2);
                    const int bit = (col & 3) + 4 * (r & 3);
                    word[bit >> 3] ^= uchar(1 << (bit & 7));
                    store.markDirty(local, col >> 2);
                });

            for (int y = py0; y < py1; y++) {
                const int local = y - py0;
                uchar *words = store.row(local);
                uchar *out = row(y);
                int state = 0;
                for (int g = 0; g < groups;) {
                    const int g2 = store.nextDirty(local, g, groups);
                    if (g2 > g) {
                        fillGroups(out, w, g, g2, uniform[state], known ? &knownBits : nullptr);
                        hint.run(g, g2, uniform[state]);
                        g = g2;
                        continue;
                    }
                    const int x1 = qMin(w, 16 * g + 16);
                    int x = 16 * g;
                    // Four pixels at a time; edge-free quads take the uniform level.
                    for (; x + 4 <= x1; x += 4) {
                        quint64 four;
                        std::memcpy(&four, words + 2 * x, 8);
                        if (four == 0) {
                            store32(out + x, uniform[state] * 0x01010101u);
                            continue;
                        }
                        for (int i = 0; i < 4; i++) {
                            const uchar e = table.t[state][(four >> (16 * i)) & 0xFFFF];
                            out[x + i] = e & 0xF0;
                            state = e & 15;
                        }
                    }
                    for (; x < x1; x++) {
                        const uchar e = table.t[state][words[2 * x] | words[2 * x + 1] << 8];
                        out[x] = e & 0xF0;
                        state = e & 15;
                    }
                    std::memset(words + 32 * g, 0, size_t(2 * (x1 - 16 * g)));
                    g++;
                }
                store.clearDirty(local);
                hint.endRow();
                if (state)
                    unclosed = 1;
            }
        }
    }
    if (summaryHint)
        summaryHint->setSize(hinted ? QSize(w / 16, h / 16) : QSize());
    if (hinted)
        blockHintFromBands(bandStates, groups, *summaryHint);
    return check && unclosed;
}

void Plane8::fromSegs(const Segments &segs, const Extents &ext)
{
    RasterPerf perf("Plane8.fromSegs");
    fill(0);
    const int w = width, h = height;
    const SampleMap map(ext, w, h, 1);
    const SegBands bands(segs, map, 30); // one band: the plane is its own store
    for (int b = 0; b < bands.bandCount(); b++)
        bands.forEachCrossing(b, 0, h, [&](int r, int col, bool up) {
            if (col >= w)
                return;
            uchar &p = row(r)[qMax(0, col)];
            p = uchar(p + (up ? -1 : 1));
        });
#pragma omp parallel for schedule(static) if (qint64(w) * h >= (1 << 20))
    for (int y = 0; y < h; y++)
        rk::prefixSumRowSse2(row(y), w);
}
