// Polygon fills of Plane8: sample marking into a bit-packed store, then
// table-driven row resolves.
#include "slicer/plane1.h"
#include "slicer/plane8.h"
#include "slicer/rasterkernels.h"
#include "slicer/rasterperf.h"

#include <emmintrin.h>
#include <cmath>
#include <cstring>

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
    if (!(std::fabs(v) < 1 << 30)) // also rejects NaN
        return false;
    out = int(std::floor(v + 0.5));
    return true;
}

// Calls mark(row, column, up) for every sample row a segment crosses inside
// the map: rows r with min(y0, y1) < r <= max(y0, y1), the column being the
// segment's x at height r (accumulated in float, rounded). up: the segment
// runs toward larger y. Columns left of the plane come as negative values;
// rows outside the plane are skipped without iterating them.
template <typename Mark>
void forEachCrossing(const Segments &segs, const SampleMap &map, Mark mark)
{
    if (!map.valid)
        return;
    for (const Segment &s : segs) {
        int x0, y0, x1, y1;
        if (!roundSample((s.x0 - map.ox) * map.kx, x0) || !roundSample((s.y0 - map.oy) * map.ky, y0) ||
            !roundSample((s.x1 - map.ox) * map.kx, x1) || !roundSample((s.y1 - map.oy) * map.ky, y1))
            continue; // non-finite or absurdly far: nothing to place
        if (y0 == y1)
            continue;
        const bool up = y1 > y0;
        const int n = up ? y1 - y0 : y0 - y1;
        const float dx = float(x1 - x0) / float(n);
        if (up) {
            // rows y0+1 .. y1, x advancing from x0
            int r = y0 + 1, rEnd = qMin(y1, map.rows - 1);
            float x = float(x0) + dx;
            if (r < 0) {
                x = float(x0) + float(qint64(-y0)) * dx;
                r = 0;
            }
            for (; r <= rEnd; r++, x += dx)
                mark(r, int(std::floor(x + 0.5f)), true);
        } else {
            // rows y0 down to y1+1, x advancing from x0
            int r = y0, rEnd = qMax(y1 + 1, 0);
            float x = float(x0);
            if (r > map.rows - 1) {
                x = float(x0) + float(qint64(r - (map.rows - 1))) * dx;
                r = map.rows - 1;
            }
            for (; r >= rEnd; r--, x += dx)
                mark(r, int(std::floor(x + 0.5f)), false);
        }
    }
}

// ---- winding tables (NonZero, Positive) ----

struct WindingTables {
    // [rule][winding + 8][sample-pair byte]: (w_out - w_in) * 16 + covered
    qint8 t[2][16][256];
    WindingTables()
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

const WindingTables &windingTables()
{
    static const WindingTables tables;
    return tables;
}

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

// Clears a scratch store in parallel row chunks.
void clearParallel(uchar *p, qint64 bytes)
{
    const qint64 chunk = 1 << 16;
    const qint64 chunks = (bytes + chunk - 1) / chunk;
#pragma omp parallel for schedule(static) if (chunks > 4)
    for (qint64 i = 0; i < chunks; i++)
        std::memset(p + i * chunk, 0, size_t(qMin(chunk, bytes - i * chunk)));
}

} // namespace

bool Plane8::fromSegs3(const Segments &segs, const Extents &ext, Plane1 &scratch, bool nonZero, bool check)
{
    RasterPerf perf("Plane8.fromSegs3");
    const WindingTables &tables = windingTables();
    const int w = width, h = height;
    // 32 bits per pixel: 4 x 4 samples, 2 bits each (low +1, high -1).
    scratch.setSize(QSize(w * 32, h));
    clearParallel(scratch.data, scratch.byteSize);
    uchar *store = scratch.data;
    const SampleMap map(ext, w, h, 4);

    forEachCrossing(segs, map, [&](int r, int col, bool up) {
        if (col >= map.cols)
            return;
        col = qMax(0, col);
        const int rowBase = (r >> 2) * w, bitRow = 2 * 4 * (r & 3) + (up ? 0 : 1);
        // A taken sample moves the crossing one sample left, until a free one.
        for (; col >= 0; col--) {
            uchar *word = store + 4 * qint64(rowBase + (col >> 2));
            const quint32 bit = 1u << (bitRow + 2 * (col & 3));
            const quint32 v = load32(word);
            if (!(v & bit)) {
                store32(word, v | bit);
                return;
            }
        }
    });

    const qint8(*table)[256] = tables.t[nonZero ? 0 : 1];
    int unclosed = 0;
#pragma omp parallel for schedule(static) reduction(| : unclosed) if (h >= 64)
    for (int y = 0; y < h; y++) {
        const uchar *words = store + 4 * qint64(y) * w;
        uchar *out = row(y);
        int wind[4] = {0, 0, 0, 0};
        auto inside = [&](int v) { return nonZero ? v != 0 : v > 0; };
        int x = 0;
        while (x < w) {
            // Edge-free pixels: four at a time.
            if (x + 4 <= w &&
                _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(words + 4 * x)),
                                                 _mm_setzero_si128())) == 0xFFFF) {
                const uchar v = uniformLevel(inside(wind[0]) + inside(wind[1]) + inside(wind[2]) + inside(wind[3]));
                int end = x + 4;
                while (end + 4 <= w &&
                       _mm_movemask_epi8(_mm_cmpeq_epi8(
                           _mm_loadu_si128(reinterpret_cast<const __m128i *>(words + 4 * end)),
                           _mm_setzero_si128())) == 0xFFFF)
                    end += 4;
                std::memset(out + x, v, size_t(end - x));
                x = end;
                continue;
            }
            const quint32 word = load32(words + 4 * x);
            int covered = 0;
            for (int k = 0; k < 4; k++) {
                const qint8 e = table[qBound(-8, wind[k], 7) + 8][(word >> (8 * k)) & 0xFF];
                wind[k] += e >> 4;
                covered += e & 15;
            }
            out[x] = uchar(qMin(255, covered * 16));
            x++;
        }
        if (wind[0] | wind[1] | wind[2] | wind[3])
            unclosed = 1;
    }
    return check && unclosed;
}

bool Plane8::fromSegs2(const Segments &segs, const Extents &ext, Plane1 &scratch, bool check)
{
    RasterPerf perf("Plane8.fromSegs2");
    const OddTable &table = oddTable();
    const int w = width, h = height;
    // 16 bits per pixel: bit (x mod 4) + 4 (y mod 4).
    scratch.setSize(QSize(w * 16, h));
    clearParallel(scratch.data, scratch.byteSize);
    uchar *store = scratch.data;
    const SampleMap map(ext, w, h, 4);

    forEachCrossing(segs, map, [&](int r, int col, bool) {
        if (col >= map.cols)
            return;
        col = qMax(0, col);
        uchar *word = store + 2 * (qint64(r >> 2) * w + (col >> 2));
        const int bit = (col & 3) + 4 * (r & 3);
        word[bit >> 3] ^= uchar(1 << (bit & 7));
    });

    static const uchar uniform[16] = {0, 64, 64, 128, 64, 128, 128, 192, 64, 128, 128, 192, 128, 192, 192, 255};
    int unclosed = 0;
#pragma omp parallel for schedule(static) reduction(| : unclosed) if (h >= 64)
    for (int y = 0; y < h; y++) {
        const uchar *words = store + 2 * qint64(y) * w;
        uchar *out = row(y);
        int state = 0;
        int x = 0;
        for (; x + 4 <= w; x += 4) {
            quint64 four;
            std::memcpy(&four, words + 2 * x, 8);
            if (four == 0) {
                const quint32 v = uniform[state] * 0x01010101u;
                store32(out + x, v);
                continue;
            }
            for (int i = 0; i < 4; i++) {
                const uchar e = table.t[state][(four >> (16 * i)) & 0xFFFF];
                out[x + i] = e & 0xF0;
                state = e & 15;
            }
        }
        for (; x < w; x++) {
            const uchar e = table.t[state][words[2 * x] | words[2 * x + 1] << 8];
            out[x] = e & 0xF0;
            state = e & 15;
        }
        if (state)
            unclosed = 1;
    }
    return check && unclosed;
}

void Plane8::fromSegs(const Segments &segs, const Extents &ext)
{
    RasterPerf perf("Plane8.fromSegs");
    fill(0);
    const int w = width, h = height;
    const SampleMap map(ext, w, h, 1);
    forEachCrossing(segs, map, [&](int r, int col, bool up) {
        if (col >= w)
            return;
        uchar &p = row(r)[qMax(0, col)];
        p = uchar(p + (up ? -1 : 1));
    });
#pragma omp parallel for schedule(static) if (h >= 128)
    for (int y = 0; y < h; y++)
        rk::prefixSumRowSse2(row(y), w);
}
