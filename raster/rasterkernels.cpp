#include "raster/rasterkernels.h"

#include <emmintrin.h>
#include <cstring>

namespace rk {

// ---- threshold packing ----------------------------------------------------

void thresholdRowScalar(const uchar *src, int width, int threshold, bool invert, uchar *dst)
{
    const int bytes = (width + 7) >> 3;
    for (int i = 0; i < bytes; i++) {
        uchar v = 0;
        for (int b = 0; b < 8; b++) {
            const int x = i * 8 + b;
            if (x >= width)
                break;
            const bool on = (src[x] >= threshold) != invert;
            v |= uchar(on) << b;
        }
        dst[i] = v;
    }
}

void thresholdRowSse2(const uchar *src, int width, int threshold, bool invert, uchar *dst)
{
    // src + (255 - t) saturates to 255 exactly when src >= t.
    const __m128i add = _mm_set1_epi8(char(255 - threshold));
    const __m128i full = _mm_set1_epi8(char(255));
    const quint32 flip = invert ? 0xFFFFFFFFu : 0u;
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        const __m128i a = _mm_adds_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + x)), add);
        const __m128i b = _mm_adds_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + x + 16)), add);
        const quint32 lo = quint32(_mm_movemask_epi8(_mm_cmpeq_epi8(a, full)));
        const quint32 hi = quint32(_mm_movemask_epi8(_mm_cmpeq_epi8(b, full)));
        const quint32 w = (lo | hi << 16) ^ flip;
        std::memcpy(dst + (x >> 3), &w, 4);
    }
    if (x + 16 <= width) { // a lone 16-pixel block (the summary's mixed blocks)
        const __m128i a = _mm_adds_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + x)), add);
        const quint16 w = quint16(quint32(_mm_movemask_epi8(_mm_cmpeq_epi8(a, full))) ^ flip);
        std::memcpy(dst + (x >> 3), &w, 2);
        x += 16;
    }
    if (x < width)
        thresholdRowScalar(src + x, width - x, threshold, invert, dst + (x >> 3));
}

// ---- bit-plane operations -------------------------------------------------

static inline uchar bitOp(int op, uchar a, uchar b, uchar c)
{
    switch (op) {
    case 1: return b;
    case 2: return a & b;
    case 3: return a ^ b;
    case 4: return b & c;
    case 5: return c & uchar(~(a & b));
    case 6: return a | b;
    case 7: return a | uchar(~b);
    default: return a;
    }
}

void bitwiseScalar(int op, uchar *a, const uchar *b, const uchar *c, int bytes)
{
    if (op < 1 || op > 7)
        return;
    for (int i = 0; i < bytes; i++)
        a[i] = bitOp(op, a[i], b[i], c ? c[i] : 0);
}

static inline __m128i bitOpVec(int op, __m128i a, __m128i b, __m128i c)
{
    switch (op) {
    case 1: return b;
    case 2: return _mm_and_si128(a, b);
    case 3: return _mm_xor_si128(a, b);
    case 4: return _mm_and_si128(b, c);
    case 5: return _mm_andnot_si128(_mm_and_si128(a, b), c);
    case 6: return _mm_or_si128(a, b);
    case 7: return _mm_or_si128(a, _mm_xor_si128(b, _mm_set1_epi32(-1)));
    default: return a;
    }
}

template <int Op>
static int bitwiseLoop(uchar *a, const uchar *b, const uchar *c, int bytes)
{
    // 32 bytes (256 pixels) per step.
    int i = 0;
    const __m128i zero = _mm_setzero_si128();
    for (; i + 32 <= bytes; i += 32) {
        auto ld = [](const uchar *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); };
        const __m128i a0 = ld(a + i), a1 = ld(a + i + 16);
        const __m128i b0 = ld(b + i), b1 = ld(b + i + 16);
        const __m128i c0 = c ? ld(c + i) : zero, c1 = c ? ld(c + i + 16) : zero;
        _mm_storeu_si128(reinterpret_cast<__m128i *>(a + i), bitOpVec(Op, a0, b0, c0));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(a + i + 16), bitOpVec(Op, a1, b1, c1));
    }
    return i;
}

void bitwiseSse2(int op, uchar *a, const uchar *b, const uchar *c, int bytes)
{
    int done = 0;
    switch (op) {
    case 1: done = bitwiseLoop<1>(a, b, c, bytes); break;
    case 2: done = bitwiseLoop<2>(a, b, c, bytes); break;
    case 3: done = bitwiseLoop<3>(a, b, c, bytes); break;
    case 4: done = bitwiseLoop<4>(a, b, c, bytes); break;
    case 5: done = bitwiseLoop<5>(a, b, c, bytes); break;
    case 6: done = bitwiseLoop<6>(a, b, c, bytes); break;
    case 7: done = bitwiseLoop<7>(a, b, c, bytes); break;
    default: return;
    }
    if (done < bytes)
        bitwiseScalar(op, a + done, b + done, c ? c + done : nullptr, bytes - done);
}

void shellSplitScalar(const uchar *below, const uchar *above, const uchar *r, uchar *shell, uchar *infill,
                      int bytes)
{
    for (int i = 0; i < bytes; i++) {
        const uchar buried = uchar(below[i] & above[i]);
        shell[i] = uchar(r[i] & ~buried);
        infill[i] = uchar(r[i] & buried);
    }
}

void shellSplitSse2(const uchar *below, const uchar *above, const uchar *r, uchar *shell, uchar *infill,
                    int bytes)
{
    auto ld = [](const uchar *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); };
    int i = 0;
    for (; i + 16 <= bytes; i += 16) {
        const __m128i buried = _mm_and_si128(ld(below + i), ld(above + i)), rr = ld(r + i);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(shell + i), _mm_andnot_si128(buried, rr));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(infill + i), _mm_and_si128(buried, rr));
    }
    if (i < bytes)
        shellSplitScalar(below + i, above + i, r + i, shell + i, infill + i, bytes - i);
}

void shellSplitSummaryScalar(const uchar *below, const uchar *above, const uchar *r, uchar *shell,
                             uchar *infill, int stride, int rows, uchar *shellSummary, uchar *infillSummary)
{
    shellSplitScalar(below, above, r, shell, infill, stride * rows);
    const int blocks = stride / 2;
    for (int by = 0; by < rows / 16; by++) {
        blockSummaryRowScalar(shell + by * 16 * stride, stride, blocks, shellSummary + by * blocks);
        blockSummaryRowScalar(infill + by * 16 * stride, stride, blocks, infillSummary + by * blocks);
    }
}

namespace {

// 0 / 255 / 128 of the eight 2-byte blocks of a 16-byte column, from the OR
// and AND of its 16 rows.
inline void blockStates8(__m128i any, __m128i all, uchar *out)
{
    const __m128i zero = _mm_cmpeq_epi16(any, _mm_setzero_si128());
    const __m128i full = _mm_cmpeq_epi16(all, _mm_set1_epi32(-1));
    // 0x00FF full, 0x0080 mixed, 0 empty per 16-bit lane, packed to bytes.
    const __m128i v = _mm_or_si128(_mm_and_si128(full, _mm_set1_epi16(255)),
                                   _mm_andnot_si128(_mm_or_si128(zero, full), _mm_set1_epi16(128)));
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out), _mm_packus_epi16(v, v));
}

} // namespace

void shellSplitSummarySse2(const uchar *below, const uchar *above, const uchar *r, uchar *shell, uchar *infill,
                           int stride, int rows, uchar *shellSummary, uchar *infillSummary)
{
    auto ld = [](const uchar *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); };
    const int blocks = stride / 2;
    for (int by = 0; by < rows / 16; by++) {
        const qint64 base = qint64(by) * 16 * stride;
        int x = 0;
        for (; x < stride; x += 16) {
            // The last few blocks of a block row at least 16 bytes wide: the
            // last 16 bytes again, overlapping blocks already done (they get
            // the same bytes and states), rather than a byte loop.
            if (x + 16 > stride) {
                if (stride < 16 || stride % 2)
                    break;
                x = stride - 16;
            }
            __m128i anyS = _mm_setzero_si128(), allS = _mm_set1_epi32(-1), anyF = anyS, allF = allS;
            for (int y = 0; y < 16; y++) {
                const qint64 o = base + qint64(y) * stride + x;
                const __m128i buried = _mm_and_si128(ld(below + o), ld(above + o)), rr = ld(r + o);
                const __m128i sv = _mm_andnot_si128(buried, rr), fv = _mm_and_si128(buried, rr);
                _mm_storeu_si128(reinterpret_cast<__m128i *>(shell + o), sv);
                _mm_storeu_si128(reinterpret_cast<__m128i *>(infill + o), fv);
                anyS = _mm_or_si128(anyS, sv);
                allS = _mm_and_si128(allS, sv);
                anyF = _mm_or_si128(anyF, fv);
                allF = _mm_and_si128(allF, fv);
            }
            blockStates8(anyS, allS, shellSummary + by * blocks + x / 2);
            blockStates8(anyF, allF, infillSummary + by * blocks + x / 2);
        }
        if (x < stride && stride < 16 && stride % 4 == 0) {
            // A plane narrower than 128 pixels (a small part's): its rows of
            // 4, 8 or 12 bytes in the low lanes, the others clear, rather
            // than byte by byte.
            auto load4 = [](const uchar *p) {
                int v;
                std::memcpy(&v, p, 4);
                return _mm_cvtsi32_si128(v);
            };
            auto store4 = [](uchar *p, __m128i v) {
                const int w = _mm_cvtsi128_si32(v);
                std::memcpy(p, &w, 4);
            };
            auto part = [stride, load4](const uchar *p) {
                const __m128i lo = stride >= 8 ? _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p))
                                               : load4(p);
                return stride == 12 ? _mm_unpacklo_epi64(lo, load4(p + 8)) : lo;
            };
            auto put = [stride, store4](uchar *p, __m128i v) {
                if (stride >= 8)
                    _mm_storel_epi64(reinterpret_cast<__m128i *>(p), v);
                else
                    store4(p, v);
                if (stride == 12)
                    store4(p + 8, _mm_srli_si128(v, 8));
            };
            __m128i anyS = _mm_setzero_si128(), allS = _mm_set1_epi32(-1), anyF = anyS, allF = allS;
            for (int y = 0; y < 16; y++) {
                const qint64 o = base + qint64(y) * stride;
                const __m128i buried = _mm_and_si128(part(below + o), part(above + o)), rr = part(r + o);
                const __m128i sv = _mm_andnot_si128(buried, rr), fv = _mm_and_si128(buried, rr);
                put(shell + o, sv);
                put(infill + o, fv);
                anyS = _mm_or_si128(anyS, sv);
                allS = _mm_and_si128(allS, sv);
                anyF = _mm_or_si128(anyF, fv);
                allF = _mm_and_si128(allF, fv);
            }
            // The states of the row's blocks; the clear lanes after them are no blocks.
            uchar states[8];
            blockStates8(anyS, allS, states);
            std::memcpy(shellSummary + by * blocks, states, size_t(blocks));
            blockStates8(anyF, allF, states);
            std::memcpy(infillSummary + by * blocks, states, size_t(blocks));
        } else if (x < stride) { // the last few blocks of the block row
            for (int y = 0; y < 16; y++) {
                const qint64 o = base + qint64(y) * stride + x;
                shellSplitScalar(below + o, above + o, r + o, shell + o, infill + o, stride - x);
            }
            blockSummaryRowScalar(shell + base + x, stride, (stride - x) / 2, shellSummary + by * blocks + x / 2);
            blockSummaryRowScalar(infill + base + x, stride, (stride - x) / 2, infillSummary + by * blocks + x / 2);
        }
    }
}

// ---- block summary --------------------------------------------------------

void blockSummaryRowScalar(const uchar *rows16, int stride, int blocks, uchar *out)
{
    for (int b = 0; b < blocks; b++) {
        quint16 any = 0, all = 0xFFFF;
        for (int r = 0; r < 16; r++) {
            const uchar *p = rows16 + r * stride + 2 * b;
            const quint16 v = quint16(p[0] | p[1] << 8);
            any |= v;
            all &= v;
        }
        out[b] = any == 0 ? 0 : all == 0xFFFF ? 255 : 128;
    }
}

void blockSummaryRowSse2(const uchar *rows16, int stride, int blocks, uchar *out)
{
    // Eight blocks side by side: 16 rows of 16 bytes.
    int b = 0;
    const __m128i ones = _mm_set1_epi32(-1);
    for (; b + 8 <= blocks; b += 8) {
        __m128i any = _mm_setzero_si128(), all = ones;
        for (int r = 0; r < 16; r++) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows16 + r * stride + 2 * b));
            any = _mm_or_si128(any, v);
            all = _mm_and_si128(all, v);
        }
        const __m128i empty = _mm_cmpeq_epi16(any, _mm_setzero_si128());
        const __m128i full = _mm_cmpeq_epi16(all, ones);
        const __m128i mixed = _mm_andnot_si128(_mm_or_si128(empty, full), _mm_set1_epi16(128));
        const __m128i res = _mm_or_si128(mixed, _mm_and_si128(full, _mm_set1_epi16(255)));
        const __m128i packed = _mm_packus_epi16(res, res);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + b), packed);
    }
    if (b < blocks)
        blockSummaryRowScalar(rows16 + 2 * b, stride, blocks - b, out + b);
}

// ---- bits to bytes --------------------------------------------------------

namespace {
struct ExpandTable {
    quint64 e[256];
    ExpandTable()
    {
        for (int v = 0; v < 256; v++) {
            quint64 x = 0;
            for (int i = 0; i < 8; i++)
                if (v & (1 << i))
                    x |= quint64(0xFF) << (8 * i);
            e[v] = x;
        }
    }
};
} // namespace

void expandBitsScalar(const uchar *src, int bytes, uchar *dst)
{
    static const ExpandTable table;
    for (int i = 0; i < bytes; i++)
        std::memcpy(dst + 8 * i, &table.e[src[i]], 8);
}

void expandBitsSse2(const uchar *src, int bytes, uchar *dst)
{
    const __m128i bits = _mm_set_epi8(char(128), 64, 32, 16, 8, 4, 2, 1, char(128), 64, 32, 16, 8, 4, 2, 1);
    int i = 0;
    for (; i + 2 <= bytes; i += 2) {
        const __m128i v = _mm_unpacklo_epi64(_mm_set1_epi8(char(src[i])), _mm_set1_epi8(char(src[i + 1])));
        const __m128i m = _mm_cmpeq_epi8(_mm_and_si128(v, bits), bits);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 8 * i), m);
    }
    if (i < bytes)
        expandBitsScalar(src + i, bytes - i, dst + 8 * i);
}

// ---- one-pixel morphology ------------------------------------------------

static inline quint32 word32(const uchar *p)
{
    quint32 v;
    std::memcpy(&v, p, 4);
    return v;
}

// Words [first, words) of a row; neighbours outside the row read as 0.
static void offsetRowRange(char op, const uchar *up, const uchar *mid, const uchar *down, uchar *out, int first,
                           int words)
{
    auto left = [](quint32 w, quint32 prev) { return w << 1 | prev >> 31; };
    auto right = [](quint32 w, quint32 next) { return w >> 1 | next << 31; };
    auto at = [&](const uchar *row, int i) { return i >= 0 && i < words ? word32(row + 4 * i) : 0u; };
    for (int i = first; i < words; i++) {
        const quint32 pu = at(up, i - 1), pm = at(mid, i - 1), pd = at(down, i - 1);
        const quint32 u = at(up, i), m = at(mid, i), d = at(down, i);
        const quint32 nu = at(up, i + 1), nm = at(mid, i + 1), nd = at(down, i + 1);
        quint32 r;
        switch (op) {
        case 'a': r = m & left(m, pm) & right(m, nm) & u & d; break;
        case 'o': r = m | left(m, pm) | right(m, nm) | u | d; break;
        case 'A':
            r = (u & left(u, pu) & right(u, nu)) & (m & left(m, pm) & right(m, nm)) &
                (d & left(d, pd) & right(d, nd));
            break;
        default: // 'O'
            r = (u | left(u, pu) | right(u, nu)) | (m | left(m, pm) | right(m, nm)) |
                (d | left(d, pd) | right(d, nd));
            break;
        }
        std::memcpy(out + 4 * i, &r, 4);
    }
}

void offsetRowScalar(char op, const uchar *up, const uchar *mid, const uchar *down, uchar *out, int words)
{
    offsetRowRange(op, up, mid, down, out, 0, words);
}

namespace {
// Four words as one 128-bit little-endian row piece: bit i is pixel i.
struct RowVec {
    const uchar *row;
    int words;
    __m128i load(int group) const // words 4 group .. 4 group + 3, or what exists of them
    {
        const int n = words - 4 * group;
        if (group < 0 || n <= 0)
            return _mm_setzero_si128();
        const uchar *p = row + 16 * group;
        if (n >= 4)
            return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        if (n == 1)
            return _mm_cvtsi32_si128(int(word32(p)));
        const __m128i lo = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p));
        return n == 2 ? lo : _mm_unpacklo_epi64(lo, _mm_cvtsi32_si128(int(word32(p + 8))));
    }
};
// Stores the words of v that row out has from word 4 group on (at most four).
inline void storeGroup(uchar *out, int words, int group, __m128i v)
{
    const int n = words - 4 * group;
    uchar *p = out + 16 * group;
    if (n >= 4) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v);
        return;
    }
    if (n == 1) {
        const quint32 w = quint32(_mm_cvtsi128_si32(v));
        std::memcpy(p, &w, 4);
        return;
    }
    _mm_storel_epi64(reinterpret_cast<__m128i *>(p), v);
    if (n == 3) {
        const quint32 w = quint32(_mm_cvtsi128_si32(_mm_srli_si128(v, 8)));
        std::memcpy(p + 8, &w, 4);
    }
}
// Pixel x - 1 moved to bit x (the left neighbour), carrying from prev.
inline __m128i leftOf(__m128i v, __m128i prev)
{
    const __m128i t = _mm_or_si128(_mm_slli_si128(v, 8), _mm_srli_si128(prev, 8));
    return _mm_or_si128(_mm_slli_epi64(v, 1), _mm_srli_epi64(t, 63));
}
// Pixel x + 1 moved to bit x (the right neighbour), carrying from next.
inline __m128i rightOf(__m128i v, __m128i next)
{
    const __m128i t = _mm_or_si128(_mm_srli_si128(v, 8), _mm_slli_si128(next, 8));
    return _mm_or_si128(_mm_srli_epi64(v, 1), _mm_slli_epi64(t, 63));
}
} // namespace

void offsetRowSse2(char op, const uchar *up, const uchar *mid, const uchar *down, uchar *out, int words)
{
    const RowVec ru{up, words}, rm{mid, words}, rd{down, words};
    // The last group may be partial (a row of 1 to 3 words, as on small
    // planes): its missing words load as clear pixels, which is what the
    // pixels beyond the right edge count as, and are not stored.
    const int groups = (words + 3) / 4;
    __m128i pu = _mm_setzero_si128(), pm = pu, pd = pu;
    __m128i u = groups ? ru.load(0) : pu, m = groups ? rm.load(0) : pu, d = groups ? rd.load(0) : pu;
    for (int g = 0; g < groups; g++) {
        const __m128i nu = ru.load(g + 1), nm = rm.load(g + 1), nd = rd.load(g + 1);
        __m128i r;
        switch (op) {
        case 'a':
            r = _mm_and_si128(_mm_and_si128(m, _mm_and_si128(leftOf(m, pm), rightOf(m, nm))), _mm_and_si128(u, d));
            break;
        case 'o':
            r = _mm_or_si128(_mm_or_si128(m, _mm_or_si128(leftOf(m, pm), rightOf(m, nm))), _mm_or_si128(u, d));
            break;
        case 'A': {
            const __m128i hu = _mm_and_si128(u, _mm_and_si128(leftOf(u, pu), rightOf(u, nu)));
            const __m128i hm = _mm_and_si128(m, _mm_and_si128(leftOf(m, pm), rightOf(m, nm)));
            const __m128i hd = _mm_and_si128(d, _mm_and_si128(leftOf(d, pd), rightOf(d, nd)));
            r = _mm_and_si128(hu, _mm_and_si128(hm, hd));
            break;
        }
        default: { // 'O'
            const __m128i hu = _mm_or_si128(u, _mm_or_si128(leftOf(u, pu), rightOf(u, nu)));
            const __m128i hm = _mm_or_si128(m, _mm_or_si128(leftOf(m, pm), rightOf(m, nm)));
            const __m128i hd = _mm_or_si128(d, _mm_or_si128(leftOf(d, pd), rightOf(d, nd)));
            r = _mm_or_si128(hu, _mm_or_si128(hm, hd));
            break;
        }
        }
        storeGroup(out, words, g, r);
        pu = u; pm = m; pd = d;
        u = nu; m = nm; d = nd;
    }
}

// ---- row prefix sum -------------------------------------------------------

void prefixSumRowScalar(uchar *row, int width)
{
    uchar s = 0;
    for (int x = 0; x < width; x++) {
        s = uchar(s + row[x]);
        row[x] = s;
    }
}

void prefixSumRowSse2(uchar *row, int width)
{
    __m128i carry = _mm_setzero_si128();
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + x));
        v = _mm_add_epi8(v, _mm_slli_si128(v, 1));
        v = _mm_add_epi8(v, _mm_slli_si128(v, 2));
        v = _mm_add_epi8(v, _mm_slli_si128(v, 4));
        v = _mm_add_epi8(v, _mm_slli_si128(v, 8));
        v = _mm_add_epi8(v, carry);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(row + x), v);
        // Broadcast the last byte as the next carry.
        __m128i t = _mm_srli_si128(v, 15);
        t = _mm_unpacklo_epi8(t, t);
        t = _mm_unpacklo_epi16(t, t);
        carry = _mm_shuffle_epi32(t, 0);
    }
    if (x < width) {
        uchar s = uchar(_mm_cvtsi128_si32(carry));
        for (; x < width; x++) {
            s = uchar(s + row[x]);
            row[x] = s;
        }
    }
}

// ---- blur strip -----------------------------------------------------------

static inline const uchar *stripRow(const StripArgs &a, int y, const uchar *above, const uchar *below)
{
    if (y < a.top)
        return above;
    if (y >= a.bottom)
        return below;
    return a.src + qint64(y) * a.srcStride;
}

void blurStripScalar(const StripArgs &a)
{
    uchar above[16], below[16];
    std::memset(above, a.aboveValue, 16);
    std::memset(below, a.belowValue, 16);
    const int r = a.win / 2;
    for (int c = 0; c < 16; c++) {
        int sum = 0;
        for (int k = -r; k <= r; k++)
            sum += stripRow(a, a.y0 + k, above, below)[c];
        uchar *out = a.dst + qint64(c) * a.dstStride;
        for (int y = a.y0; y < a.y1; y++) {
            out[y] = uchar(sum / a.win);
            if (a.rowAverages)
                a.rowAverages[16 * (y - a.y0) + c] = out[y];
            sum += stripRow(a, y + r + 1, above, below)[c] - stripRow(a, y - r, above, below)[c];
        }
    }
}

static inline void transposeStore16(__m128i *x, uchar *dst, int dstStride)
{
    // Four rounds of interleaving rows i and i + 8 transpose a 16 x 16 byte tile.
    for (int round = 0; round < 4; round++) {
        __m128i y[16];
        for (int i = 0; i < 8; i++) {
            y[2 * i] = _mm_unpacklo_epi8(x[i], x[i + 8]);
            y[2 * i + 1] = _mm_unpackhi_epi8(x[i], x[i + 8]);
        }
        for (int i = 0; i < 16; i++)
            x[i] = y[i];
    }
    for (int c = 0; c < 16; c++)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + qint64(c) * dstStride), x[c]);
}

void blurStripSse2(const StripArgs &a)
{
    alignas(16) uchar above[16], below[16];
    std::memset(above, a.aboveValue, 16);
    std::memset(below, a.belowValue, 16);
    const __m128i zero = _mm_setzero_si128();
    const int r = a.win / 2;
    // floor(sum / win) for sums up to 15 * 255: the reciprocal is rounded up,
    // and its excess stays below the smallest fraction gap 1 / win.
    const __m128i recip = _mm_set1_epi16(short((65536 + a.win - 1) / a.win));
    auto load = [&](int y) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i *>(stripRow(a, y, above, below)));
    };
    __m128i lo = zero, hi = zero;
    for (int k = -r; k <= r; k++) {
        const __m128i v = load(a.y0 + k);
        lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(v, zero));
        hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(v, zero));
    }
    __m128i tile[16];
    for (int y = a.y0; y < a.y1; y += 16) {
        for (int i = 0; i < 16; i++) {
            tile[i] = _mm_packus_epi16(_mm_mulhi_epu16(lo, recip), _mm_mulhi_epu16(hi, recip));
            if (a.rowAverages)
                _mm_storeu_si128(reinterpret_cast<__m128i *>(a.rowAverages + 16 * (y + i - a.y0)), tile[i]);
            const __m128i in = load(y + i + r + 1);
            const __m128i out = load(y + i - r);
            lo = _mm_sub_epi16(_mm_add_epi16(lo, _mm_unpacklo_epi8(in, zero)), _mm_unpacklo_epi8(out, zero));
            hi = _mm_sub_epi16(_mm_add_epi16(hi, _mm_unpackhi_epi8(in, zero)), _mm_unpackhi_epi8(out, zero));
        }
        transposeStore16(tile, a.dst + y, a.dstStride);
    }
}

// ---- thin-run counters ---------------------------------------------------

static inline void hairMarker(const HairCounters &h, int y, int count, int column, QVector<quint32> &out)
{
    if (count >= h.lowerBound && count <= h.upperBound)
        out.append(quint32(y & 0xFFFF) | quint32(count & 0xFF) << 16 | quint32(column) << 24);
}

void hairScanScalar(const uchar *averages, int rows, int y0, HairCounters &h, QVector<quint32> &out)
{
    const int wide = h.upperBound + 1;
    for (int i = 0; i < rows; i++)
        for (int c = 0; c < 16; c++) {
            const uchar v = averages[16 * i + c];
            if (h.inRun[c]) {
                if (v < h.levelLow) {
                    hairMarker(h, y0 + i, h.count[c], c, out);
                    h.inRun[c] = 0;
                } else if (h.count[c] < wide) {
                    h.count[c]++;
                }
            } else if (v >= h.levelHigh) {
                h.inRun[c] = 0xFF;
                h.count[c] = 1;
            }
        }
}

void hairScanSse2(const uchar *averages, int rows, int y0, HairCounters &h, QVector<quint32> &out)
{
    const __m128i zero = _mm_setzero_si128(), one = _mm_set1_epi8(1);
    const __m128i low = _mm_set1_epi8(char(h.levelLow)), high = _mm_set1_epi8(char(h.levelHigh));
    const __m128i wide = _mm_set1_epi8(char(h.upperBound + 1));
    __m128i inRun = _mm_loadu_si128(reinterpret_cast<const __m128i *>(h.inRun));
    __m128i count = _mm_loadu_si128(reinterpret_cast<const __m128i *>(h.count));
    for (int i = 0; i < rows; i++) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(averages + 16 * i));
        const __m128i below = _mm_xor_si128(_mm_cmpeq_epi8(_mm_subs_epu8(low, v), zero), _mm_set1_epi32(-1));
        const __m128i reaches = _mm_cmpeq_epi8(_mm_subs_epu8(high, v), zero);
        const __m128i ends = _mm_and_si128(inRun, below);
        if (int m = _mm_movemask_epi8(ends)) {
            alignas(16) uchar counts[16];
            _mm_store_si128(reinterpret_cast<__m128i *>(counts), count);
            for (int c = 0; c < 16; c++)
                if (m & (1 << c))
                    hairMarker(h, y0 + i, counts[c], c, out);
        }
        const __m128i goesOn = _mm_andnot_si128(below, inRun);
        const __m128i starts = _mm_andnot_si128(inRun, reaches);
        const __m128i grown = _mm_min_epu8(_mm_add_epi8(count, one), wide);
        count = _mm_or_si128(_mm_and_si128(goesOn, grown),
                             _mm_or_si128(_mm_and_si128(starts, one), _mm_andnot_si128(_mm_or_si128(goesOn, starts), count)));
        inRun = _mm_or_si128(goesOn, starts);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i *>(h.inRun), inRun);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(h.count), count);
}

} // namespace rk
