#include "raster/plane1.h"
#include "raster/plane8.h"
#include "raster/rasterkernels.h"
#include "raster/rasterperf.h"

#include <emmintrin.h>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

int planeByteSize(qint64 bytes, const char *who)
{
    const qint64 rounded = (bytes + 15) & ~qint64(15);
    if (rounded > qint64(INT_MAX) - 64)
        throw QString("%1 plane too large").arg(QLatin1String(who));
    return int(rounded);
}

static uchar *alignedStart(QByteArray &storage)
{
    const quintptr p = reinterpret_cast<quintptr>(storage.data());
    return reinterpret_cast<uchar *>((p + 15) & ~quintptr(15));
}

Plane1::Plane1() { allocate(0, 0); }

Plane1::Plane1(int w, int h) { allocate(w, h); }

Plane1::Plane1(const Plane1 &o)
{
    allocate(o.width, o.height);
    std::memcpy(data, o.data, size_t(byteSize));
}

Plane1::Plane1(Plane1 &&o) noexcept : Plane1()
{
    std::swap(byteSize, o.byteSize);
    std::swap(width, o.width);
    std::swap(height, o.height);
    storage.swap(o.storage);
    std::swap(data, o.data);
}

Plane1 &Plane1::operator=(const Plane1 &o)
{
    if (this != &o) {
        setSize(o.size());
        std::memcpy(data, o.data, size_t(byteSize));
    }
    return *this;
}

Plane1 &Plane1::operator=(Plane1 &&o) noexcept
{
    std::swap(byteSize, o.byteSize);
    std::swap(width, o.width);
    std::swap(height, o.height);
    storage.swap(o.storage);
    std::swap(data, o.data);
    return *this;
}

void Plane1::allocate(int w, int h)
{
    w = qMax(0, w);
    h = qMax(0, h);
    const int bytes = planeByteSize(qint64((w + 7) >> 3) * h, "Plane1");
    storage = QByteArray(bytes + 15, Qt::Uninitialized);
    data = alignedStart(storage);
    byteSize = bytes;
    width = w;
    height = h;
}

void Plane1::setSize(QSize size)
{
    if (size.width() == width && size.height() == height)
        return;
    allocate(size.width(), size.height());
}

void Plane1::setPixel(int x, int y, bool on)
{
    uchar &b = row(y)[x >> 3];
    const uchar m = uchar(1 << (x & 7));
    b = on ? (b | m) : (b & ~m);
}

void Plane1::fill(uchar value) { std::memset(data, value, size_t(byteSize)); }

bool Plane1::operator==(const Plane1 &o) const
{
    if (width != o.width || height != o.height)
        return false;
    const int bytes = stride();
    const int full = width >> 3;
    const uchar tailMask = uchar((1 << (width & 7)) - 1);
    for (int y = 0; y < height; y++) {
        if (std::memcmp(row(y), o.row(y), size_t(full)) != 0)
            return false;
        if (bytes > full && ((row(y)[full] ^ o.row(y)[full]) & tailMask))
            return false;
    }
    return true;
}

void Plane1::fromPlane8(const Plane8 &src, int threshold, bool invert)
{
    RasterPerf perf("Plane1.fromPlane8");
    setSize(src.size());
    const int w = width, h = height, chunks = (h + 15) / 16;
    if (threshold > 255) { // no byte reaches it
        fill(invert ? 0xFF : 0x00);
        return;
    }
    threshold = qMax(0, threshold);
    // Small planes: a parallel region would cost more than it saves.
#pragma omp parallel for schedule(static) if (qint64(w) * h >= (1 << 20))
    for (int chunk = 0; chunk < chunks; chunk++) {
        const int yEnd = qMin(h, chunk * 16 + 16);
        for (int y = chunk * 16; y < yEnd; y++)
            rk::thresholdRowSse2(src.row(y), w, threshold, invert, row(y));
    }
}

void Plane1::fromPlane8(const Plane8 &src, int threshold, bool invert, const Plane8 *summary)
{
    const int w = src.width, h = src.height, bw = w / 16, bh = h / 16;
    if (!summary || summary->width != bw || summary->height != bh || threshold > 255) {
        fromPlane8(src, threshold, invert);
        return;
    }
    RasterPerf perf("Plane1.fromPlane8");
    setSize(src.size());
    threshold = qMax(0, threshold);
    // What a block of all 0 or all 255 turns into, a byte of eight pixels.
    const uchar low = (0 >= threshold) != invert ? 0xFF : 0x00;
    const uchar high = (255 >= threshold) != invert ? 0xFF : 0x00;
    const int bytes = 2 * bw; // a row's bytes of whole blocks
    std::vector<uchar> pattern(static_cast<size_t>(bytes));
    std::vector<quint64> mixedBits(size_t(bw + 63) / 64);
    std::vector<int> mixed; // runs of mixed blocks: first, end
    const __m128i lowV = _mm_set1_epi8(char(low)), highV = _mm_set1_epi8(char(high));
    // src + (255 - threshold) saturates to 255 exactly where src >= threshold.
    const __m128i add = _mm_set1_epi8(char(255 - threshold)), allSet = _mm_set1_epi8(char(-1));
    const unsigned flip = invert ? 0xFFFFu : 0u;
    for (int by = 0; by < bh; ++by) {
        // The uniform blocks' bytes of the block row, the same in its 16
        // rows: one copy a row, then the mixed runs thresholded over it.
        const uchar *states = summary->data + size_t(by) * bw;
        std::fill(mixedBits.begin(), mixedBits.end(), 0);
        int bx = 0;
        for (; bx + 16 <= bw; bx += 16) { // 16 blocks never straddle a word
            const __m128i st = _mm_loadu_si128(reinterpret_cast<const __m128i *>(states + bx));
            const __m128i zero = _mm_cmpeq_epi8(st, _mm_setzero_si128());
            const __m128i full = _mm_cmpeq_epi8(st, _mm_set1_epi8(char(-1)));
            const __m128i v = _mm_or_si128(_mm_and_si128(zero, lowV), _mm_andnot_si128(zero, highV));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(pattern.data() + 2 * bx), _mm_unpacklo_epi8(v, v));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(pattern.data() + 2 * bx + 16), _mm_unpackhi_epi8(v, v));
            const unsigned uniform = unsigned(_mm_movemask_epi8(_mm_or_si128(zero, full)));
            mixedBits[size_t(bx >> 6)] |= quint64(uniform ^ 0xFFFFu) << (bx & 63);
        }
        for (; bx < bw; ++bx) {
            const uchar st = states[bx];
            pattern[size_t(2 * bx)] = pattern[size_t(2 * bx + 1)] = st == 0 ? low : high;
            mixedBits[size_t(bx >> 6)] |= quint64(st != 0 && st != 255) << (bx & 63);
        }
        mixed.clear();
        int first = 0, end = 0;
        for (bx = 0; rk::nextSetRun(mixedBits.data(), bw, bx, first, end); bx = end) {
            mixed.push_back(first);
            mixed.push_back(end);
        }
        for (int y = by * 16; y < by * 16 + 16; ++y) {
            uchar *out = row(y);
            if (bytes >= 16) {
                int i = 0;
                for (; i + 16 <= bytes; i += 16)
                    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i),
                                     _mm_loadu_si128(reinterpret_cast<const __m128i *>(pattern.data() + i)));
                if (i < bytes) // the last 16 bytes again
                    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + bytes - 16),
                                     _mm_loadu_si128(reinterpret_cast<const __m128i *>(pattern.data() + bytes - 16)));
            } else if (bytes > 0) {
                std::memcpy(out, pattern.data(), size_t(bytes));
            }
            // Mixed blocks, 16 pixels to two bytes as thresholdRowSse2 does
            // it, without a call per run and row: most runs are a block or two.
            const uchar *in = src.row(y);
            for (size_t k = 0; k < mixed.size(); k += 2)
                for (int b = mixed[k]; b < mixed[k + 1]; ++b) {
                    const __m128i v = _mm_adds_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 16 * b)), add);
                    const quint16 bits = quint16(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, allSet))) ^ flip);
                    std::memcpy(out + 2 * b, &bits, 2);
                }
        }
        if (w > 16 * bw) // the columns right of the whole blocks
            for (int y = by * 16; y < by * 16 + 16; ++y)
                rk::thresholdRowSse2(src.row(y) + 16 * bw, w - 16 * bw, threshold, invert, row(y) + 2 * bw);
    }
    for (int y = 16 * bh; y < h; ++y) // the rows below them
        rk::thresholdRowSse2(src.row(y), w, threshold, invert, row(y));
}

void Plane1::bitwiseOp(int op, Plane1 *a, const Plane1 *b, const Plane1 *c, bool noProfile)
{
    RasterPerf perf("Bitwise", !noProfile);
    if (!a || !b)
        throw QString("Plane1::bitwiseOp() incompatible input planes");
    if (op == 1 || op == 4)
        a->setSize(b->size());
    if (a->size() != b->size() || (c && c->size() != a->size()))
        throw QString("Plane1::bitwiseOp() incompatible input planes");
    if ((op == 4 || op == 5) && !c)
        throw QString("Plane1::bitwiseOp() c operand is needed");
    if (op < 1 || op > 7 || (a == b && (op == 1 || op == 2 || op == 6)))
        return;
    rk::bitwiseSse2(op, a->data, b->data, c ? c->data : nullptr, a->byteSize);
}

void Plane1::offset1(Plane1 &dst, char op) const
{
    if (width % 32 != 0)
        throw QString("Plane1::offset1 width must be aigned to 32");
    if (op != 'a' && op != 'A' && op != 'o' && op != 'O')
        throw QString("Plane1::offset1() invalid operation");
    if (&dst == this) {
        Plane1 tmp;
        offset1(tmp, op);
        dst = std::move(tmp);
        return;
    }
    dst.setSize(size());
    const int h = height, words = width / 32, s = stride();
    if (h == 0 || words == 0)
        return;
    std::memcpy(dst.row(0), row(0), size_t(s));
    std::memcpy(dst.row(h - 1), row(h - 1), size_t(s));
#pragma omp parallel for schedule(static) if (qint64(width) * h >= (1 << 20))
    for (int y = 1; y < h - 1; y++)
        rk::offsetRowSse2(op, row(y - 1), row(y), row(y + 1), dst.row(y), words);
}

bool Plane1::bounds(int &y0, int &y1, int &x0, int &x1) const
{
    // Whole 32-pixel words, then the bytes of a width that is no multiple of
    // 32 (the last one masked to the row's pixels), as one more word.
    const int s = stride(), fullWords = (width % 8 ? s - 1 : s) / 4, tail = s - 4 * fullWords;
    const quint32 tailMask = width % 8 ? (1u << (8 * (tail - 1) + width % 8)) - 1 : ~0u;
    std::vector<quint32> any(size_t(fullWords) + (tail ? 1 : 0), 0);
    int first = -1, last = -1;
    for (int y = 0; y < height; y++) {
        const uchar *r = row(y);
        quint32 rowAny = 0;
        for (int k = 0; k < fullWords; k++) {
            quint32 v;
            std::memcpy(&v, r + 4 * k, 4);
            any[size_t(k)] |= v;
            rowAny |= v;
        }
        if (tail) {
            quint32 v = 0;
            std::memcpy(&v, r + 4 * fullWords, size_t(tail));
            v &= tailMask;
            any[size_t(fullWords)] |= v;
            rowAny |= v;
        }
        if (rowAny) {
            if (first < 0)
                first = y;
            last = y;
        }
    }
    if (first < 0)
        return false;
    y0 = first;
    y1 = last;
    int k0 = 0, k1 = int(any.size()) - 1;
    while (!any[size_t(k0)])
        k0++;
    while (!any[size_t(k1)])
        k1--;
    x0 = 32 * k0 + __builtin_ctz(any[size_t(k0)]);
    x1 = 32 * k1 + 31 - __builtin_clz(any[size_t(k1)]);
    return true;
}

Plane1 Plane1::offsetN(int n, char opFirst, char opSecond) const
{
    Plane1 cur(*this);
    if (n <= 0)
        return cur;
    Plane1 next;
    int unchanged = 0;
    // The steps only touch the box of set pixels, grown by a pixel per
    // growing step: a skirt's plane or a small part's keeps wide clear
    // margins that a whole-plane step would pass over every time. Both
    // planes stay clear outside the box (it never shrinks), and the first
    // and last rows are copied as offset1 copies them.
    int y0 = 0, y1 = 0, x0 = 0, x1 = 0;
    const bool aligned = width % 32 == 0 && height > 0 && width > 0;
    const bool boxed = aligned && cur.bounds(y0, y1, x0, x1);
    auto checkOp = [](char op) {
        if (op != 'a' && op != 'A' && op != 'o' && op != 'O')
            throw QString("Plane1::offset1() invalid operation");
    };
    if (aligned && !boxed) { // clear, and every step keeps it clear
        checkOp(opFirst);
        if (n > 1)
            checkOp(opSecond);
        return cur;
    }
    if (boxed) {
        next = Plane1(width, height);
        next.fill(0);
    }
    for (int i = 0; i < n; i++) {
        const char op = i % 2 == 0 ? opFirst : opSecond;
        if (!boxed) {
            cur.offset1(next, op);
        } else {
            checkOp(op);
            if (op == 'o' || op == 'O') {
                y0 = std::max(0, y0 - 1);
                y1 = std::min(height - 1, y1 + 1);
                x0 = std::max(0, x0 - 1);
                x1 = std::min(width - 1, x1 + 1);
            }
            const int s = stride(), k0 = x0 / 32, k1 = x1 / 32;
            std::memcpy(next.row(0), cur.row(0), size_t(s));
            std::memcpy(next.row(height - 1), cur.row(height - 1), size_t(s));
            const int ya = std::max(1, y0), yb = std::min(height - 2, y1);
            auto step = [&](int y) {
                rk::offsetRowSse2(op, cur.row(y - 1) + 4 * k0, cur.row(y) + 4 * k0, cur.row(y + 1) + 4 * k0,
                                  next.row(y) + 4 * k0, k1 - k0 + 1);
            };
            // A small box (every skirt step, most of a small part's) stays
            // out of OpenMP altogether.
            if (qint64(k1 - k0 + 1) * 32 * (yb - ya + 1) >= (1 << 20)) {
#pragma omp parallel for schedule(static)
                for (int y = ya; y <= yb; y++)
                    step(y);
            } else {
                for (int y = ya; y <= yb; y++)
                    step(y);
            }
        }
        // A user-sized n (LoopFillOverlap) can be in the millions. Once both
        // ops in turn change nothing the region has filled or emptied all it
        // can, and so would every later step: stop there. Small n, the
        // common case, skips the comparison.
        if (n > 16)
            unchanged = next == cur ? unchanged + 1 : 0;
        std::swap(cur, next);
        if (unchanged == 2)
            break;
    }
    return cur;
}

namespace {

struct PixelRun {
    int x0, x1; // first and last pixel
};

// The runs of set pixels of every row: those of row y are
// runs[first[y]] .. runs[first[y + 1] - 1], left to right. Width a multiple of 32.
void rowRuns(const Plane1 &src, std::vector<PixelRun> &runs, std::vector<int> &first)
{
    const int w = src.width;
    runs.clear();
    first.assign(size_t(src.height) + 1, 0);
    for (int y = 0; y < src.height; y++) {
        first[size_t(y)] = int(runs.size());
        const uchar *r = src.row(y);
        bool in = false;
        int start = 0;
        // 64 pixels at a time; a width that is an odd multiple of 32 ends
        // with a half word whose upper pixels repeat the last one.
        for (int x0 = 0; x0 < w; x0 += 64) {
            quint64 v = 0;
            if (w - x0 >= 64) {
                std::memcpy(&v, r + x0 / 8, 8);
            } else {
                quint32 half;
                std::memcpy(&half, r + x0 / 8, 4);
                v = half | ((half >> 31) ? ~quint64(0) << 32 : 0);
            }
            if (v == (in ? ~quint64(0) : 0))
                continue;
            // Bit i of t: pixel i differs from the one left of it.
            quint64 t = v ^ ((v << 1) | (in ? 1u : 0u));
            while (t) {
                const int x = x0 + __builtin_ctzll(t);
                if (!in)
                    start = x;
                else
                    runs.push_back({start, x - 1});
                in = !in;
                t &= t - 1;
            }
        }
        if (in)
            runs.push_back({start, w - 1});
    }
    first[size_t(src.height)] = int(runs.size());
}

void setBits(uchar *row, int x0, int x1)
{
    const int b0 = x0 >> 3, b1 = x1 >> 3;
    const uchar m0 = uchar(0xFF << (x0 & 7)), m1 = uchar(0xFF >> (7 - (x1 & 7)));
    if (b0 == b1) {
        row[b0] |= uchar(m0 & m1);
    } else {
        row[b0] |= m0;
        std::memset(row + b0 + 1, 0xFF, size_t(b1 - b0 - 1));
        row[b1] |= m1;
    }
}

// n steps of which ceil(n/2) grow by the 3x3 square and floor(n/2) by the
// 4-neighbour cross add up to the octagon |dx|, |dy| <= n,
// |dx| + |dy| <= n + ceil(n/2): row y + dy of the source, its runs widened by
// min(n, n + ceil(n/2) - |dy|), lands on row y. False (out untouched) where
// the steps would reach the first or last row, which they keep as they are,
// or, unless forced, where the steps are likely the cheaper way.
bool growFromRuns(const Plane1 &src, int n, bool forced, Plane1 &out)
{
    const int w = src.width, h = src.height;
    if (n <= 0 || w % 32 != 0 || n >= h)
        return false;
    std::vector<PixelRun> runs;
    std::vector<int> first;
    rowRuns(src, runs, first);
    int y0 = 0, y1 = h - 1;
    while (y0 < h && first[size_t(y0)] == first[size_t(y0) + 1])
        y0++;
    if (y0 == h) { // nothing set: nothing grows
        out = Plane1(w, h);
        out.fill(0);
        return true;
    }
    while (first[size_t(y1)] == first[size_t(y1) + 1])
        y1--;
    if (y0 - n < 1 || y1 + n > h - 2)
        return false;
    const int reach = n + (n + 1) / 2;
    // Consecutive rows with the same runs form a group: its row nearest to an
    // output row widens them most, so each group is visited once per row.
    struct Group {
        int y0, y1, r0, r1;
    };
    std::vector<Group> groups;
    for (int sy = y0; sy <= y1; sy++) {
        const int r0 = first[size_t(sy)], r1 = first[size_t(sy) + 1];
        if (r0 == r1)
            continue;
        if (!groups.empty()) {
            Group &g = groups.back();
            if (g.y1 == sy - 1 && g.r1 - g.r0 == r1 - r0
                && std::equal(runs.begin() + g.r0, runs.begin() + g.r1, runs.begin() + r0,
                              [](const PixelRun &a, const PixelRun &b) { return a.x0 == b.x0 && a.x1 == b.x1; })) {
                g.y1 = sy;
                continue;
            }
        }
        groups.push_back({sy, sy, r0, r1});
    }
    // A group's runs are visited once for each of its rows and n on either
    // side, against n passes over all words.
    qint64 visits = 0;
    for (const Group &g : groups)
        visits += qint64(g.y1 - g.y0 + 2 * n + 1) * (g.r1 - g.r0);
    if (!forced && visits * 4 > qint64(n) * h * (w / 32))
        return false;
    out = Plane1(w, h);
    out.fill(0);
    std::vector<PixelRun> wide;
    size_t g0 = 0;
    for (int y = y0 - n; y <= y1 + n; y++) {
        wide.clear();
        while (groups[g0].y1 < y - n)
            g0++;
        for (size_t gi = g0; gi < groups.size() && groups[gi].y0 <= y + n; gi++) {
            const Group &g = groups[gi];
            const int dist = y < g.y0 ? g.y0 - y : y > g.y1 ? y - g.y1 : 0;
            const int d = std::min(n, reach - dist);
            for (int i = g.r0; i < g.r1; i++)
                wide.push_back({runs[size_t(i)].x0 - d, runs[size_t(i)].x1 + d});
        }
        if (wide.empty())
            continue;
        const auto byStart = [](const PixelRun &a, const PixelRun &b) { return a.x0 < b.x0; };
        if (!std::is_sorted(wide.begin(), wide.end(), byStart))
            std::sort(wide.begin(), wide.end(), byStart);
        uchar *row = out.row(y);
        PixelRun cur = wide[0];
        for (size_t i = 1; i <= wide.size(); i++) {
            if (i < wide.size() && wide[i].x0 <= cur.x1 + 1) {
                cur.x1 = std::max(cur.x1, wide[i].x1);
                continue;
            }
            // Pixels beyond the left and right edges count as clear.
            const int a = std::max(cur.x0, 0), b = std::min(cur.x1, w - 1);
            if (a <= b)
                setBits(row, a, b);
            if (i < wide.size())
                cur = wide[i];
        }
    }
    return true;
}

} // namespace

Plane1 Plane1::grownByRuns(int n) const
{
    Plane1 out;
    if (growFromRuns(*this, n, true, out))
        return out;
    return offsetN(n, 'O', 'o');
}

Plane1 Plane1::offsetBy(int n) const
{
    Plane1 out;
    if (n >= 4 && growFromRuns(*this, n, false, out))
        return out;
    if (n > 0)
        return offsetN(n, 'O', 'o');
    // -INT_MIN overflows; one step less shrinks just the same.
    return offsetN(n == INT_MIN ? INT_MAX : -n, 'A', 'a');
}

void Plane1::inflate64(uchar fill)
{
    if (width % 32 != 0 || height % 32 != 0)
        throw QString("Plane1::inflate64() size must be aligned to 32");
    Plane1 big(width + 64, height + 64);
    big.fill(fill);
    const int s = stride();
    for (int y = 0; y < height; y++)
        std::memcpy(big.row(y + 32) + 4, row(y), size_t(s));
    *this = std::move(big);
}

Plane8 Plane1::blockSummary() const
{
    Plane8 out(width / 16, height / 16);
    const int blocks = width / 16, s = stride();
    for (int by = 0; by < out.height; by++)
        rk::blockSummaryRowSse2(row(by * 16), s, blocks, out.row(by));
    return out;
}
