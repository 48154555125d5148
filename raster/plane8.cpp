#include "raster/plane8.h"
#include "raster/paralell.h"
#include "raster/plane1.h"
#include "raster/rasterkernels.h"
#include "raster/rasterperf.h"

#include <emmintrin.h>
#include <algorithm>
#include <omp.h>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

static uchar *alignedStart(QByteArray &storage)
{
    const quintptr p = reinterpret_cast<quintptr>(storage.data());
    return reinterpret_cast<uchar *>((p + 15) & ~quintptr(15));
}

Plane8::Plane8() { allocate(0, 0); }

Plane8::Plane8(int w, int h) { allocate(w, h); }

Plane8::Plane8(const Plane8 &o)
{
    allocate(o.width, o.height);
    std::memcpy(data, o.data, size_t(byteSize));
}

Plane8::Plane8(Plane8 &&o) noexcept : Plane8()
{
    *this = std::move(o);
}

Plane8 &Plane8::operator=(const Plane8 &o)
{
    if (this != &o) {
        setSize(o.size());
        std::memcpy(data, o.data, size_t(byteSize));
    }
    return *this;
}

void Plane8::copyChangedBlocks(const Plane8 &src, const Plane8 &srcSummary, Plane8 &dst, Plane8 &dstSummary)
{
    const int bw = src.width / 16, bh = src.height / 16;
    const bool blocks = src.width % 16 == 0 && src.height % 16 == 0 && dst.size() == src.size()
                        && srcSummary.width == bw && srcSummary.height == bh && dstSummary.size() == srcSummary.size();
    if (!blocks) {
        dst = src;
        dstSummary = srcSummary;
        return;
    }
    const size_t w = size_t(src.width);
    std::vector<quint64> copy(size_t(bw + 63) / 64); // the block row's blocks to copy, one bit each
    for (int by = 0; by < bh; ++by) {
        const uchar *ss = srcSummary.data + size_t(by) * bw;
        const uchar *ds = dstSummary.data + size_t(by) * bw;
        // Equal already where both summaries say the same uniform value.
        std::fill(copy.begin(), copy.end(), 0);
        int bx = 0;
        for (; bx + 16 <= bw; bx += 16) { // 16 blocks never straddle a word
            const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i *>(ss + bx));
            const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i *>(ds + bx));
            const __m128i uniform = _mm_or_si128(_mm_cmpeq_epi8(s, _mm_setzero_si128()),
                                                 _mm_cmpeq_epi8(s, _mm_set1_epi8(char(-1))));
            const unsigned keep = unsigned(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(s, d), uniform)));
            copy[size_t(bx >> 6)] |= quint64(keep ^ 0xFFFFu) << (bx & 63);
        }
        for (; bx < bw; ++bx)
            copy[size_t(bx >> 6)] |= quint64(!(ss[bx] == ds[bx] && (ss[bx] == 0 || ss[bx] == 255))) << (bx & 63);
        // Each run of blocks to copy, 16 rows of it; short runs (most are a
        // block or two) without a library call per row.
        int a = 0, end = 0;
        for (bx = 0; rk::nextSetRun(copy.data(), bw, bx, a, end); bx = end) {
            const int n = end - a;
            const uchar *from = src.data + size_t(by) * 16 * w + size_t(a) * 16;
            uchar *to = dst.data + size_t(by) * 16 * w + size_t(a) * 16;
            for (int r = 0; r < 16; ++r, from += w, to += w) {
                if (n > 4) {
                    std::memcpy(to, from, size_t(n) * 16);
                    continue;
                }
                for (int k = 0; k < n; ++k)
                    _mm_storeu_si128(reinterpret_cast<__m128i *>(to + 16 * k),
                                     _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + 16 * k)));
            }
        }
    }
    dstSummary = srcSummary;
}

Plane8 &Plane8::operator=(Plane8 &&o) noexcept
{
    std::swap(byteSize, o.byteSize);
    std::swap(width, o.width);
    std::swap(height, o.height);
    storage.swap(o.storage);
    std::swap(data, o.data);
    return *this;
}

void Plane8::allocate(int w, int h)
{
    w = qMax(0, w);
    h = qMax(0, h);
    const int bytes = planeByteSize(qint64(w) * h, "Plane8");
    storage = QByteArray(bytes + 15, Qt::Uninitialized);
    data = alignedStart(storage);
    byteSize = bytes;
    width = w;
    height = h;
}

void Plane8::setSize(QSize size)
{
    if (size.width() == width && size.height() == height)
        return;
    allocate(size.width(), size.height());
}

void Plane8::fill(uchar value) { std::memset(data, value, size_t(byteSize)); }

bool Plane8::operator==(const Plane8 &o) const
{
    return width == o.width && height == o.height &&
           std::memcmp(data, o.data, size_t(width) * size_t(height)) == 0;
}

void Plane8::fromPlane1(const Plane1 &src)
{
    setSize(src.size());
    const int w = width, h = height, full = w >> 3;
#pragma omp parallel for schedule(static) if (qint64(w) * h >= (1 << 20))
    for (int y = 0; y < h; y++) {
        rk::expandBitsSse2(src.row(y), full, row(y));
        for (int x = full * 8; x < w; x++)
            row(y)[x] = src.pixel(x, y) ? 255 : 0;
    }
}

// ---- offset parameters ----------------------------------------------------

static int roundHalfUp(double v) { return int(std::floor(v + 0.5)); }

ThresholdScale ThresholdScaleFromWinsize(float distance, float factor)
{
    ThresholdScale ts;
    if (!std::isfinite(distance) || !std::isfinite(factor) || std::fabs(distance * factor) > 1e6f)
        throw QString("FATAL ERROR: ThresholdScaleFromWinsize() Threshold out of range (%1)").arg(0);
    const float f = (distance * 4 * factor - 1) * 0.5f;
    ts.win = qBound(3, 2 * roundHalfUp(f) + 1, 15);
    const float a = -ts.win / 2.0f, b = ts.win / 2.0f;
    const float mapped = 0 + (distance - a) / (b - a) * (255 - 0);
    ts.threshold = qBound(0, roundHalfUp(mapped), 255);
    if (ts.threshold == 0 || ts.threshold == 255)
        throw QString("FATAL ERROR: ThresholdScaleFromWinsize() Threshold out of range (%1)").arg(ts.threshold);
    ts.scale = qBound(3, roundHalfUp((ts.win - 5) * 0.5 + 3), 50);
    while ((255 - ts.threshold) * ts.scale + 128 < 255)
        ts.scale++;
    return ts;
}

// ---- edgeReduce -----------------------------------------------------------

// One line of pixels p[0], p[step], ...: marks both ends of each run equal to value.
static void edgeReduceLine(uchar *p, int n, qptrdiff step, uchar value)
{
    bool inside = value == 0; // outside the plane counts as 0
    for (int i = 0; i < n; i++) {
        const bool eq = p[i * step] == value;
        if (eq == inside)
            continue;
        if (eq)
            p[i * step] = 128; // first pixel of the run
        else if (i > 0)
            p[(i - 1) * step] = 128; // last pixel of the run
        inside = eq;
    }
}

void Plane8::edgeReduce(uchar value, bool rows, bool columns)
{
    RasterPerf perf("edgeReduce");
    if (rows)
        for (int y = 0; y < height; y++)
            edgeReduceLine(row(y), width, 1, value);
    if (columns)
        for (int x = 0; x < width; x++)
            edgeReduceLine(data + x, height, width, value);
}

// ---- blur2 ----------------------------------------------------------------

static bool uniformValue(uchar v) { return v == 0 || v == 255; }

// 0 / 255 / 128 of a 16 x 16 block of a plane.
static uchar blockState(const uchar *p, int stride)
{
    __m128i lo = _mm_set1_epi8(char(255)), hi = _mm_setzero_si128();
    for (int r = 0; r < 16; r++) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + qint64(r) * stride));
        lo = _mm_min_epu8(lo, v);
        hi = _mm_max_epu8(hi, v);
    }
    const bool allZero = _mm_movemask_epi8(_mm_cmpeq_epi8(hi, _mm_setzero_si128())) == 0xFFFF;
    const bool allFull = _mm_movemask_epi8(_mm_cmpeq_epi8(lo, _mm_set1_epi8(char(255)))) == 0xFFFF;
    return allZero ? 0 : allFull ? 255 : 128;
}

Plane8 Plane8::blockSummary() const
{
    Plane8 out(width / 16, height / 16);
    for (int by = 0; by < out.height; by++)
        for (int bx = 0; bx < out.width; bx++)
            out.setPixel(bx, by, blockState(data + qint64(by) * 16 * width + bx * 16, width));
    return out;
}

void Plane8::refineBlockSummary(Plane8 &hint) const
{
    if (hint.width != width / 16 || hint.height != height / 16) {
        hint = blockSummary();
        return;
    }
    for (int by = 0; by < hint.height; by++) {
        uchar *states = hint.row(by);
        for (int bx = 0; bx < hint.width; bx++)
            if (!uniformValue(states[bx]))
                states[bx] = blockState(data + qint64(by) * 16 * width + bx * 16, width);
    }
}

void Plane8::blur2(int win, uchar border, bool writeUniform, const Plane8 &src, Plane8 &dst,
                   const Plane8 &srcSummary, bool summaryTransposed, Plane8 &dstSummary,
                   const BlurHairParams *hair, QVector<QVector<quint32>> *markers, bool dstKnown)
{
    RasterPerf perf("blur2");
    if (win < 3 || win > 15 || win % 2 == 0)
        throw QString("Plane8::blur2() invalid window %1").arg(win);
    if (src.width % 16 != 0 || src.height % 16 != 0)
        throw QString("Plane8::blur2() size must be aligned to 16");
    const int bw = src.width / 16, bh = src.height / 16;
    const QSize sumSize = summaryTransposed ? QSize(bh, bw) : QSize(bw, bh);
    if (srcSummary.size() != sumSize)
        throw QString("Plane8::blur2() incompatible block summary");
    if (&src == &dst || &srcSummary == &dstSummary)
        throw QString("Plane8::blur2() source and destination must differ");
    dstKnown = dstKnown && dst.size() == QSize(src.height, src.width) && dstSummary.size() == QSize(bh, bw);
    dst.setSize(QSize(src.height, src.width));
    dstSummary.setSize(QSize(bh, bw));
    if (hair && markers) {
        markers->resize(bw);
        for (auto &list : *markers)
            list.clear();
    } else {
        hair = nullptr;
    }

    // The source summary by block column, with the border value above and
    // below, and whether each block must be computed: when it is mixed or
    // when the blur carries a different value into it from a neighbour
    // above or below. Looked up many times per block, built once.
    const int col = bh + 2;
    std::vector<uchar> states(size_t(bw) * col), mustCompute(size_t(bw) * col);
    for (int bx = 0; bx < bw; bx++) {
        uchar *st = states.data() + size_t(bx) * col;
        st[0] = st[col - 1] = border;
        for (int by = 0; by < bh; by++)
            st[by + 1] = summaryTransposed ? srcSummary.pixel(by, bx) : srcSummary.pixel(bx, by);
        uchar *mc = mustCompute.data() + size_t(bx) * col;
        for (int by = 0; by < bh; by++) {
            const uchar v = st[by + 1];
            mc[by] = !uniformValue(v) || st[by] != v || st[by + 2] != v;
        }
    }
    auto summary = [&](int bx, int by) -> uchar { return states[size_t(bx) * col + size_t(by + 1)]; };
    auto computed = [&](int bx, int by) -> bool { return mustCompute[size_t(bx) * col + size_t(by)]; };

    // One item per block column of the source (a block row of the destination).
    const int threads = omp_in_parallel() ? 1 : qMax(1, omp_get_max_threads());
    const QVector<WorkRange> parts = paralell(threads, bw, [&](int bx) {
        int cost = 0;
        for (int by = 0; by < bh; by++)
            cost += computed(bx, by) ? 10 : 1;
        return qMax(1, cost);
    });

    auto processColumn = [&](int bx, std::vector<uchar> &averages) {
        QVector<quint32> *markerList = hair ? &(*markers)[bx] : nullptr;
        uchar *dstBlockRow = dst.data + qint64(bx) * 16 * dst.width; // dst rows 16 bx ..
        int by = 0;
        while (by < bh) {
            if (!computed(bx, by)) {
                const uchar v = summary(bx, by);
                const bool holds = dstKnown && dstSummary.pixel(by, bx) == v;
                dstSummary.setPixel(by, bx, v);
                if (writeUniform && !holds)
                    for (int r = 0; r < 16; r++)
                        std::memset(dstBlockRow + qint64(r) * dst.width + by * 16, v, 16);
                by++;
                continue;
            }
            const int by0 = by;
            while (by < bh && computed(bx, by))
                by++;
            rk::StripArgs a;
            a.src = src.data + bx * 16;
            a.srcStride = src.width;
            a.top = 0;
            a.bottom = src.height;
            a.aboveValue = border;
            a.belowValue = border;
            a.y0 = by0 * 16;
            a.y1 = by * 16;
            a.win = win;
            a.dst = dstBlockRow;
            a.dstStride = dst.width;
            if (hair) {
                averages.resize(size_t(16) * (a.y1 - a.y0));
                a.rowAverages = averages.data();
            }
            rk::blurStripSse2(a);
            for (int k = by0; k < by; k++)
                dstSummary.setPixel(k, bx, blockState(dstBlockRow + k * 16, dst.width));
            if (hair) {
                // A run reaching into a full uniform block is never thin; one
                // reaching an empty block ends at the strip's edge.
                const uchar above = summary(bx, by0 - 1), below = summary(bx, by);
                rk::HairCounters h;
                h.levelLow = hair->levelLow;
                h.levelHigh = hair->levelHigh;
                h.lowerBound = hair->lowerBound;
                h.upperBound = qMin<uchar>(hair->upperBound, 254); // the count saturates one above it
                const bool runAbove = uniformValue(above) && above >= hair->levelHigh;
                std::memset(h.inRun, runAbove ? 0xFF : 0, 16);
                std::memset(h.count, runAbove ? h.upperBound + 1 : 0, 16);
                rk::hairScanSse2(a.rowAverages, a.y1 - a.y0, a.y0, h, *markerList);
                if (!(uniformValue(below) && below >= hair->levelLow)) {
                    const uchar zeros[16] = {};
                    rk::hairScanSse2(zeros, 1, a.y1, h, *markerList);
                }
            }
        }
    };

#pragma omp parallel num_threads(threads) if (threads > 1)
    {
        const int n = omp_get_num_threads();
        std::vector<uchar> averages; // per thread: a strip's row averages for the hair counters
        for (int t = omp_get_thread_num(); t < parts.size(); t += n)
            for (int bx = parts[t].first; bx < parts[t].end; bx++)
                processColumn(bx, averages);
    }
}
