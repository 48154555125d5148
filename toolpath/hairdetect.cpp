#include "toolpath/hairdetect.h"

#include "raster/plane8.h"
#include "toolpath/shellsteps.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <vector>

#include <emmintrin.h>
#include <cmath>

const HairConsts HairConstsA = {45u | 75u << 8 | 4u << 16 | 10u << 24, 3.91f, 7.62f};
const HairConsts HairConstsB = {45u | 75u << 8 | 6u << 16 | 14u << 24, 7.22f, 9.99f};

namespace {

constexpr float kLinkReach = 2.0f;       // Chebyshev distance between linked points
constexpr float kSimplifyTolerance = 0.005f;
constexpr int kCell = 32;
// Islands whose length is below this many times their width count as round
// (islandDots).
constexpr double kRoundIsland = 1.6;
// Most pixels of an island still at the level after the step for it to count
// as gone.
constexpr int kIslandSurvivors = 4;
// Narrowest inset (widths) of a round island that is traced as its perimeter:
// its area is half as much again as the smallest outline kept.
constexpr double kLoopInset = 0.35;

} // namespace

quint32 packThinRun(float farEdge, float width, int rowInGroup)
{
    const int w = std::clamp(int(std::lround(width * 16)), 1, 255);
    // The centre is what places the hair: keep it exact by shifting the far
    // edge to go with the width as packed, then store that edge in 64ths of
    // a pixel (quarter pixels in the low 16 bits, the rest in the top four).
    const float centre = farEdge - width / 2;
    const int pos = int(std::lround((centre + float(w) / 32) * 64));
    const int quarters = pos >> 4, fraction = pos & 15;
    return quint32(quint16(qint16(quarters))) | quint32(w) << 16 | quint32(rowInGroup & 15) << 24
           | quint32(fraction) << 28;
}

PolyPoint thinRunPoint(quint32 marker, int group, float *width)
{
    const int pos = int(qint16(quint16(marker & 0xFFFF))) * 16 + int(marker >> 28);
    const float w = float((marker >> 16) & 0xFF) / 16;
    if (width)
        *width = w;
    return PolyPoint(float(pos) / 64 - w / 2, float(16 * group + int((marker >> 24) & 15)) + 0.5f);
}

namespace {

// The bits of one 16-pixel piece of a row: bit i set when p[i] >= 128.
inline unsigned levelMask16(const uchar *p)
{
    return unsigned(_mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p))));
}

inline void setLineBit(std::vector<quint64> &bits, int words, int along, int line)
{
    bits[size_t(line) * words + size_t(along >> 6)] |= quint64(1) << (along & 63);
}

// The pixels the run scan reads: a whole plane, or a block snapshot of one.
struct PlanePixels {
    const Plane8 &pl;
    int width() const { return pl.width; }
    int height() const { return pl.height; }
    uchar at(int x, int y) const { return pl.data[size_t(y) * size_t(pl.width) + size_t(x)]; }
    // The 16 x 16 block at (x0, y0), rows `stride` apart.
    const uchar *block(int x0, int y0, size_t &stride) const
    {
        stride = size_t(pl.width);
        return pl.data + size_t(y0) * stride + size_t(x0);
    }
    // Pixel k along row `line` (or column, with columnPass) as rd(k).
    struct Line {
        const uchar *p;
        size_t step;
        int operator()(int k) const { return p[size_t(k) * step]; }
    };
    Line line(bool columnPass, int line) const
    {
        const size_t W = size_t(pl.width);
        return columnPass ? Line{pl.data + size_t(line), W} : Line{pl.data + size_t(line) * W, 1};
    }
};

struct SnapshotPixels {
    const BlockSnapshot &s;
    int width() const { return s.width(); }
    int height() const { return s.height(); }
    uchar at(int x, int y) const { return s.at(x, y); }
    const uchar *block(int x0, int y0, size_t &stride) const
    {
        stride = 16;
        return s.block(x0 >> 4, y0 >> 4);
    }
    // A line's blocks and its place within them, found once.
    struct Line {
        const uchar *const *blocks;
        size_t blockStep;
        int offset, pixelStep;
        int operator()(int k) const { return blocks[size_t(k >> 4) * blockStep][offset + (k & 15) * pixelStep]; }
    };
    Line line(bool columnPass, int line) const
    {
        const size_t bw = size_t(s.blocksPerRow());
        return columnPass ? Line{s.blocks() + (line >> 4), bw, line & 15, 16}
                          : Line{s.blocks() + size_t(line >> 4) * bw, 1, (line & 15) * 16, 1};
    }
};

// Pixels [x0, x1) x [y0, y1) one by one.
template <class Pixels>
void levelBitsArea(const Pixels &pl, bool columnPass, int x0, int x1, int y0, int y1,
                   std::vector<quint64> &bits, int words)
{
    if (x0 >= x1)
        return;  // (an empty strip beside whole blocks: no row to walk)
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            if (pl.at(x, y) >= 128)
                columnPass ? setLineBit(bits, words, y, x) : setLineBit(bits, words, x, y);
}

// The row pass of one 16 x 16 block at (x0, y0) whose pixels must be
// looked at.
template <class Pixels>
void levelBitsBlock(const Pixels &pl, int x0, int y0, std::vector<quint64> &bits, int words)
{
    size_t stride = 0;
    const uchar *p = pl.block(x0, y0, stride);
    for (int y = y0; y < y0 + 16; ++y, p += stride) {
        const unsigned m = levelMask16(p);
        // x0 is a multiple of 16: its 16 bits share one word.
        bits[size_t(y) * words + size_t(x0 >> 6)] |= quint64(m) << (x0 & 63);
    }
}

// The column pass of one mixed block: the 16 x 16 bytes are transposed
// (four rounds of interleaving rows i and i + 8 put byte x of row k at
// byte k of vector x), so one movemask gives a column's 16 level bits.
template <class Pixels>
void levelBitsBlockColumns(const Pixels &pl, int x0, int y0, std::vector<quint64> &bits, int words)
{
    __m128i v[16], t[16];
    size_t stride = 0;
    const uchar *p = pl.block(x0, y0, stride);
    for (int k = 0; k < 16; ++k)
        v[k] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + size_t(k) * stride));
    for (int round = 0; round < 4; ++round) {
        for (int i = 0; i < 8; ++i) {
            t[2 * i] = _mm_unpacklo_epi8(v[i], v[i + 8]);
            t[2 * i + 1] = _mm_unpackhi_epi8(v[i], v[i + 8]);
        }
        for (int k = 0; k < 16; ++k)
            v[k] = t[k];
    }
    // y0 is a multiple of 16: a column's 16 bits share one word.
    const size_t word = size_t(y0 >> 6);
    const int shift = y0 & 63;
    for (int x = 0; x < 16; ++x) {
        const quint64 m = quint64(unsigned(_mm_movemask_epi8(v[x])));
        if (m)
            bits[size_t(x0 + x) * words + word] |= m << shift;
    }
}

// The block states along each group of 16 lines (a summary row for the row
// pass, a column for the column pass), each group padded with 0 to whole
// vectors of 16.
struct GroupStates {
    int groups = 0, across = 0, stride = 0;
    std::vector<uchar> s;

    GroupStates(const Plane8 &summary, bool columnPass)
        : groups(columnPass ? summary.width : summary.height), across(columnPass ? summary.height : summary.width),
          stride((across + 15) & ~15), s(size_t(groups) * size_t(stride), 0)
    {
        const int bw = summary.width;
        if (!columnPass) {
            for (int g = 0; g < groups; ++g)
                std::copy(summary.data + size_t(g) * bw, summary.data + size_t(g) * bw + across, s.begin() + std::ptrdiff_t(size_t(g) * stride));
            return;
        }
        for (int a = 0; a < across; ++a) {
            const uchar *row = summary.data + size_t(a) * bw;
            for (int g = 0; g < groups; ++g)
                s[size_t(g) * stride + a] = row[g];
        }
    }
    // Bits k of the masks: whether block a0 + k is all 0, all 255.
    void masks(int g, int a0, unsigned &all0, unsigned &all255) const
    {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s.data() + size_t(g) * stride + a0));
        const unsigned valid = a0 + 16 <= across ? 0xFFFFu : (1u << (across - a0)) - 1;
        all0 = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128()))) & valid;
        all255 = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(char(0xFF))))) & valid;
    }
};

} // namespace

void levelLineBitsScalar(const Plane8 &plane, bool columnPass, std::vector<quint64> &bits, int &words)
{
    const int len = columnPass ? plane.height : plane.width;
    const int lines = columnPass ? plane.width : plane.height;
    words = (len + 63) / 64;
    bits.assign(size_t(lines) * size_t(words), 0);
    levelBitsArea(PlanePixels{plane}, columnPass, 0, plane.width, 0, plane.height, bits, words);
}

namespace {

// levelLineBits, with the summary's states along the groups when the caller
// has them already. With `wordFrom` and `wordTo` (per group of 16 lines,
// with a summary), only the words [wordFrom, wordTo) of a group's lines are
// written: the caller reads no other (the rest may hold anything).
template <class Pixels>
void levelLineBitsWith(const Pixels &plane, const Plane8 *summary, bool columnPass, std::vector<quint64> &bits,
                       int &words, const GroupStates *given, const std::vector<int> *wordFrom = nullptr,
                       const std::vector<int> *wordTo = nullptr)
{
    const int W = plane.width(), H = plane.height();
    const int bw = W / 16, bh = H / 16;
    if (!summary || summary->width != bw || summary->height != bh) {
        // Without a summary every block is looked at.
        words = ((columnPass ? H : W) + 63) / 64;
        bits.assign(size_t(columnPass ? W : H) * size_t(words), 0);
        for (int by = 0; by < bh; ++by)
            for (int bx = 0; bx < bw; ++bx) {
                if (columnPass)
                    levelBitsBlockColumns(plane, bx * 16, by * 16, bits, words);
                else
                    levelBitsBlock(plane, bx * 16, by * 16, bits, words);
            }
    } else {
        words = ((columnPass ? H : W) + 63) / 64;
        const int lines = columnPass ? W : H;
        bits.resize(size_t(lines) * size_t(words));
        // Lines come in groups of 16 that cross the same blocks: the full
        // blocks' bits are laid out once per group and copied to its lines,
        // then the mixed blocks are looked at.
        // Sixteen blocks' states at a time: four blocks fill a word, so a
        // nibble of the all-255 mask picks the word from a table.
        std::optional<GroupStates> own;
        const GroupStates &st = given ? *given : own.emplace(*summary, columnPass);
        const int groups = st.groups, across = st.across;
        quint64 nibbleWord[16];
        for (int m = 0; m < 16; ++m) {
            nibbleWord[m] = 0;
            for (int k = 0; k < 4; ++k)
                if (m >> k & 1)
                    nibbleWord[m] |= quint64(0xFFFF) << (k * 16);
        }
        std::vector<quint64> full(static_cast<size_t>(words));
        std::vector<int> mixed;
        for (int g = 0; g < groups; ++g) {
            int w0 = 0, w1 = words;
            if (wordFrom) {
                w0 = (*wordFrom)[size_t(g)];
                w1 = (*wordTo)[size_t(g)];
                if (w0 >= w1)
                    continue;
            }
            std::fill(full.begin() + w0, full.begin() + w1, quint64(0));
            mixed.clear();
            // (Blocks outside the range are all 0: nothing to set there.)
            for (int a0 = (w0 * 4) & ~15; a0 < across && a0 < w1 * 4; a0 += 16) {
                unsigned all0, all255;
                st.masks(g, a0, all0, all255);
                for (int q = 0; q < 4; ++q)
                    if (const unsigned nib = (all255 >> (4 * q)) & 15u)
                        full[size_t(a0 / 4 + q)] = nibbleWord[nib];
                const unsigned valid = a0 + 16 <= across ? 0xFFFFu : (1u << (across - a0)) - 1;
                for (unsigned m = valid & ~(all0 | all255); m; m &= m - 1)
                    mixed.push_back(a0 + __builtin_ctz(m));
            }
            // Word by word down the group's lines: a range is a few words,
            // too short to pay a copy call per line.
            for (int w = w0; w < w1; ++w) {
                quint64 *d = bits.data() + size_t(g) * 16 * size_t(words) + size_t(w);
                for (int l = 0; l < 16; ++l)
                    d[size_t(l) * size_t(words)] = full[size_t(w)];
            }
            for (const int a : mixed) {
                if (columnPass)
                    levelBitsBlockColumns(plane, g * 16, a * 16, bits, words);
                else
                    levelBitsBlock(plane, a * 16, g * 16, bits, words);
            }
        }
        std::fill(bits.begin() + std::ptrdiff_t(size_t(groups) * 16 * words), bits.end(), quint64(0));
    }
    // The pixels outside whole blocks: the right strip, then the bottom one.
    levelBitsArea(plane, columnPass, bw * 16, W, 0, bh * 16, bits, words);
    levelBitsArea(plane, columnPass, 0, W, bh * 16, H, bits, words);
}

} // namespace

void levelLineBits(const Plane8 &plane, const Plane8 *summary, bool columnPass, std::vector<quint64> &bits,
                   int &words)
{
    levelLineBitsWith(PlanePixels{plane}, summary, columnPass, bits, words, nullptr);
}

namespace {

template <class Pixels>
void thinRunMarkersWith(const Pixels &before, const Plane8 &after, bool columnPass, float maxRun,
                        HairMarkers &out, const Plane8 *beforeSummary)
{
    const int W = before.width(), H = before.height();
    // Along the pass: `len` pixels per line, `lines` lines.
    const int len = columnPass ? H : W;
    const int lines = columnPass ? W : H;
    out.clear();
    out.resize((lines + 15) / 16);
    if (after.width != W || after.height != H || W <= 0 || H <= 0 || !(maxRun > 0))
        return;
    auto at = [columnPass, W](const Plane8 &pl, int along, int line) -> int {
        return columnPass ? pl.data[along * W + line] : pl.data[line * W + along];
    };
    // Longest run across that still matters for the squareness test.
    const int crossCap = int(std::ceil(maxRun * 2)) + 2;
    const float maxPos = 8191.0f;
    // One bit per pixel at or above the level, 64 pixels a word along each
    // line, so that runs are found a word at a time rather than a pixel.
    // (Reused from call to call: levelLineBits writes every word, and
    // zeroing a plane's worth of words first cost as much as the scan.)
    int words = 0;
    static thread_local std::vector<quint64> bits;
    const int bw = W / 16, bh = H / 16;
    // The summary's states along the groups, for the line bits and for the
    // word ranges below.
    std::optional<GroupStates> states;
    if (beforeSummary && beforeSummary->width == bw && beforeSummary->height == bh)
        states.emplace(*beforeSummary, columnPass);
    // With the summary, the words of a group of 16 lines that can hold set
    // bits: those from its first block not all 0 to its last (levelLineBits
    // sets no bit elsewhere), and the only ones made and read. Without it,
    // or with pixels beyond whole blocks, every word.
    const bool ranged = states && W % 16 == 0 && H % 16 == 0;
    const int groups = columnPass ? bw : bh, across = columnPass ? bh : bw;
    words = (len + 63) / 64;
    std::vector<int> wordFrom, wordTo;  // per group; wordFrom >= wordTo: no bit
    if (ranged) {
        wordFrom.assign(size_t(groups), 0);
        wordTo.assign(size_t(groups), 0);
        const GroupStates &st = *states;
        for (int g = 0; g < groups; ++g) {
            int first = -1, last = -1;
            for (int a0 = 0; a0 < across; a0 += 16) {
                unsigned all0, all255;
                st.masks(g, a0, all0, all255);
                const unsigned valid = a0 + 16 <= across ? 0xFFFFu : (1u << (across - a0)) - 1;
                if (const unsigned some = valid & ~all0) {
                    if (first < 0)
                        first = a0 + __builtin_ctz(some);
                    last = a0 + 31 - __builtin_clz(some);
                }
            }
            if (first >= 0) {
                wordFrom[size_t(g)] = first >> 2;
                wordTo[size_t(g)] = std::min(words, (last >> 2) + 1);
            }
        }
    }
    levelLineBitsWith(before, beforeSummary, columnPass, bits, words, states ? &*states : nullptr,
                      ranged ? &wordFrom : nullptr, ranged ? &wordTo : nullptr);
    // First pixel at or after i on the line that is (set) or is not (!set)
    // at the level; len when there is none. Words from `end` on hold no set
    // bit (and are not read): no set pixel lies there, and the first pixel
    // there is not set.
    const quint64 *const lineBits = bits.data();
    auto findFrom = [&, lineBits, words](int line, int i, bool set, int end) -> int {
        const quint64 *b = lineBits + size_t(line) * size_t(words);
        int w = i >> 6;
        if (w >= end)
            return set ? len : std::min(len, i);
        quint64 x = (set ? b[w] : ~b[w]) & (~quint64(0) << (i & 63));
        while (!x) {
            if (++w >= end)
                return set ? len : std::min(len, end * 64);
            x = set ? b[w] : ~b[w];
        }
        return std::min(len, w * 64 + __builtin_ctzll(x));
    };
    for (int line = 0; line < lines; ++line) {
        int i = 0, end = words;
        if (ranged) {
            const size_t g = size_t(line >> 4);
            if (wordFrom[g] >= wordTo[g]) {
                line |= 15;  // the group's other lines are as empty
                continue;
            }
            i = wordFrom[g] * 64;
            end = wordTo[g];
        }
        while (i < len) {
            i = findFrom(line, i, true, end);
            if (i >= len)
                break;
            const int i0 = i;
            i = findFrom(line, i, false, end);
            const int i1 = i;  // run [i0, i1)
            if (i1 - i0 > maxRun + 2)
                continue;
            // The run's width and centre from the covered area of the line's
            // pixel band, the run and the partly covered pixels beside it.
            // Exact for a straight wall at any slant; the 128 crossings
            // between pixel centres are not (an edge's ramp is one pixel
            // wide, not the two between centres).
            const auto was = before.line(columnPass, line);
            int l = i0, r = i1;  // [l, r)
            while (l > 0 && l > i0 - 2 && was(l - 1) > 0 && was(l - 1) < 128)
                --l;
            while (r < len && r < i1 + 2 && was(r) > 0 && was(r) < 128)
                ++r;
            float sum = 0, moment = 0, left = 0, right = 0;
            int f0 = -1, f1 = -1;  // the first and last fully covered pixel
            for (int k = l; k < r; ++k) {
                const int v8 = was(k);
                const float v = float(v8) / 255;
                sum += v;
                moment += v * (float(k) + 0.5f);
                if (v8 == 255) {
                    if (f0 < 0)
                        f0 = k;
                    f1 = k;
                    right = 0;
                } else if (f0 < 0) {
                    left += v;
                } else {
                    right += v;
                }
            }
            const float width = sum;
            // Beside a full pixel the area before it tells where the edge
            // runs on average over the line's band: that is exact whatever
            // the edge's slant. A run without a full pixel (a sliver) is
            // placed at its area's centroid.
            const float centre = f0 >= 0 ? 0.5f * ((float(f0) - left) + (float(f1 + 1) + right))
                                         : sum > 0 ? moment / sum : 0;
            const float e1 = centre + width / 2;
            if (!(width > 0) || width > maxRun || e1 > maxPos)
                continue;
            const float e0 = e1 - width;
            bool survives = false;
            for (int k = i0; k < i1 && !survives; ++k)
                survives = at(after, k, line) >= 128;
            if (survives)
                continue;
            // Squareness: the run across the other axis through the middle.
            const int mid = std::clamp(int(std::floor((e0 + e1) * 0.5f)), i0, i1 - 1);
            int cross = 1;
            const auto wasAcross = before.line(!columnPass, mid);
            for (int l = line - 1; l >= 0 && cross <= crossCap && wasAcross(l) >= 128; --l)
                ++cross;
            for (int l = line + 1; l < lines && cross <= crossCap && wasAcross(l) >= 128; ++l)
                ++cross;
            const int along = i1 - i0;
            // Ties go to the row pass so that a run is recorded once.
            if (columnPass ? !(along < cross) : !(along <= cross))
                continue;
            out[line >> 4].append(packThinRun(e1, width, line & 15));
        }
    }
}

} // namespace

void thinRunMarkers(const Plane8 &before, const Plane8 &after, bool columnPass, float maxRun,
                    HairMarkers &out, const Plane8 *beforeSummary)
{
    thinRunMarkersWith(PlanePixels{before}, after, columnPass, maxRun, out, beforeSummary);
}

void thinRunMarkers(const BlockSnapshot &before, const Plane8 &after, bool columnPass, float maxRun,
                    HairMarkers &out)
{
    thinRunMarkersWith(SnapshotPixels{before}, after, columnPass, maxRun, out, &before.summary());
}

// Uniform blocks' pixels, for BlockSnapshot::block.
alignas(16) const uchar BlockSnapshot::kBlock0[256] = {};
alignas(16) const uchar BlockSnapshot::kBlock255[256] = {
#define TESSAVO_FF16 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    TESSAVO_FF16 TESSAVO_FF16 TESSAVO_FF16 TESSAVO_FF16 TESSAVO_FF16 TESSAVO_FF16 TESSAVO_FF16 TESSAVO_FF16
    TESSAVO_FF16 TESSAVO_FF16 TESSAVO_FF16 TESSAVO_FF16 TESSAVO_FF16 TESSAVO_FF16 TESSAVO_FF16 TESSAVO_FF16
#undef TESSAVO_FF16
};

void BlockSnapshot::take(const Plane8 &plane, const Plane8 &summary)
{
    m_width = plane.width;
    m_height = plane.height;
    const int bw = plane.width / 16, bh = plane.height / 16;
    if (summary.width != bw || summary.height != bh)
        m_summary = plane.blockSummary();
    else
        m_summary = summary;
    // Blocks cut by the plane's right or bottom border have no summary:
    // they are kept as pixels (zero beyond the border).
    m_bw = (plane.width + 15) / 16;
    const int bhAll = (plane.height + 15) / 16;
    m_block.resize(size_t(m_bw) * size_t(bhAll));
    // The blocks that keep pixels: the mixed ones, and those the border cuts.
    size_t kept = size_t(m_bw - bw) * size_t(bh) + size_t(m_bw) * size_t(bhAll - bh);
    const __m128i zero = _mm_setzero_si128(), full = _mm_set1_epi8(char(0xFF));
    // Bits k: whether block states[k] (k < n, at most 16) is all 0, all 255.
    auto uniformMask = [&](const uchar *states, int n, unsigned &all0, unsigned &all255) {
        const unsigned valid = n >= 16 ? 0xFFFFu : (1u << n) - 1;
        if (n >= 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(states));
            all0 = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)));
            all255 = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, full)));
            return valid;
        }
        all0 = all255 = 0;
        for (int k = 0; k < n; ++k) {
            all0 |= unsigned(states[k] == 0) << k;
            all255 |= unsigned(states[k] == 255) << k;
        }
        return valid;
    };
    for (int by = 0; by < bh; ++by)
        for (int bx = 0; bx < bw; bx += 16) {
            unsigned all0, all255;
            const unsigned valid = uniformMask(m_summary.data + size_t(by) * bw + bx, bw - bx, all0, all255);
            for (unsigned m = valid & ~(all0 | all255); m; m &= m - 1)
                ++kept;
        }
    m_pixels.resize(kept * 256);
    uchar *dst = m_pixels.data();
    const size_t W = size_t(plane.width);
    auto copyBlock = [&](int bx, int by) {
        const uchar *out = dst;
        const int x0 = bx * 16, y0 = by * 16;
        const uchar *src = plane.data + size_t(y0) * W + size_t(x0);
        if (bx < bw && by < bh) {
            for (int y = 0; y < 16; ++y, src += W, dst += 16)
                _mm_storeu_si128(reinterpret_cast<__m128i *>(dst),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i *>(src)));
            return out;
        }
        const int w = std::min(16, plane.width - x0), h = std::min(16, plane.height - y0);
        std::fill(dst, dst + 256, uchar(0));
        for (int y = 0; y < h; ++y, src += W)
            std::copy(src, src + w, dst + y * 16);
        dst += 256;
        return out;
    };
    for (int by = 0; by < bhAll; ++by) {
        const uchar **block = m_block.data() + size_t(by) * m_bw;
        int bx = 0;
        if (by < bh)
            for (; bx < bw; bx += 16) {
                unsigned all0, all255;
                const unsigned valid = uniformMask(m_summary.data + size_t(by) * bw + bx, bw - bx, all0, all255);
                const int n = std::min(16, bw - bx);
                if (all0 == valid || all255 == valid) { // sixteen blocks alike: the inside or outside
                    std::fill(block + bx, block + bx + n, all0 == valid ? kBlock0 : kBlock255);
                    continue;
                }
                for (int k = 0; k < n; ++k)
                    block[bx + k] = all0 >> k & 1 ? kBlock0 : all255 >> k & 1 ? kBlock255 : copyBlock(bx + k, by);
            }
        for (bx = by < bh ? bw : 0; bx < m_bw; ++bx)
            block[bx] = copyBlock(bx, by);
    }
}

Plane8 BlockSnapshot::toPlane() const
{
    Plane8 out(m_width, m_height);
    for (int y = 0; y < m_height; ++y)
        for (int x = 0; x < m_width; ++x)
            out.data[size_t(y) * m_width + x] = at(x, y);
    return out;
}

void HairDetector::reset(int planeWidth, int planeHeight)
{
    cellsX = std::max(1, (planeWidth + kCell - 1) / kCell);
    cellsY = std::max(1, (planeHeight + kCell - 1) / kCell);
    cellPts.clear();
    cellW.clear();
    cellColumn.clear();
    cellPts.resize(cellsX * cellsY);
    cellW.resize(cellsX * cellsY);
    cellColumn.resize(cellsX * cellsY);
}

void HairDetector::addPoint(const PolyPoint &pt, float width, bool column)
{
    if (cellPts.isEmpty() || !std::isfinite(pt.x) || !std::isfinite(pt.y))
        return;
    const int cx = std::clamp(int(std::floor(pt.x / kCell)), 0, cellsX - 1);
    const int cy = std::clamp(int(std::floor(pt.y / kCell)), 0, cellsY - 1);
    cellPts[cy * cellsX + cx].append(pt);
    cellW[cy * cellsX + cx].append(width);
    cellColumn[cy * cellsX + cx].append(char(column));
}

int HairDetector::pointCount() const
{
    int n = 0;
    for (const auto &c : cellPts)
        n += c.size();
    return n;
}

void hairDetect0(HairDetector &det, int planeWidth, int planeHeight, const HairMarkers &columnMarkers)
{
    det.reset(planeWidth, planeHeight);
    for (int g = 0; g < columnMarkers.size(); ++g)
        for (quint32 m : columnMarkers[g]) {
            float w;
            const PolyPoint q = thinRunPoint(m, g, &w);
            det.addPoint(PolyPoint(q.y, q.x), w, true);
        }
}

namespace {

// Links the detector's points into chains (step 1 of the hair construction).
QVector<PolyLine> linkPoints(const HairDetector &det, int type, QVector<QVector<char>> &columns)
{
    const int nc = det.cellPts.size();
    QVector<QVector<char>> used(nc);
    for (int c = 0; c < nc; ++c)  // (most cells hold no point)
        if (const int n = det.cellPts[c].size())
            used[c].fill(0, n);
    auto takeNearest = [&](const PolyPoint &end, PolyPoint *pt, float *w, char *col) {
        const int cx0 = std::clamp(int(std::floor((end.x - kLinkReach) / kCell)), 0, det.cellsX - 1);
        const int cx1 = std::clamp(int(std::floor((end.x + kLinkReach) / kCell)), 0, det.cellsX - 1);
        const int cy0 = std::clamp(int(std::floor((end.y - kLinkReach) / kCell)), 0, det.cellsY - 1);
        const int cy1 = std::clamp(int(std::floor((end.y + kLinkReach) / kCell)), 0, det.cellsY - 1);
        int bestC = -1, bestI = -1;
        float best = kLinkReach;
        for (int cy = cy0; cy <= cy1; ++cy)
            for (int cx = cx0; cx <= cx1; ++cx) {
                const int c = cy * det.cellsX + cx;
                const QVector<PolyPoint> &pts = det.cellPts[c];
                for (int i = 0; i < pts.size(); ++i) {
                    if (used[c][i])
                        continue;
                    const float d = std::max(std::fabs(pts[i].x - end.x), std::fabs(pts[i].y - end.y));
                    // Strictly nearer only: ties keep the first in grid order.
                    if (d < best || (bestC < 0 && d <= best)) {
                        best = d;
                        bestC = c;
                        bestI = i;
                    }
                }
            }
        if (bestC < 0)
            return false;
        used[bestC][bestI] = 1;
        *pt = det.cellPts[bestC][bestI];
        *w = det.cellW[bestC][bestI];
        *col = det.cellColumn[bestC][bestI];
        return true;
    };
    QVector<PolyLine> chains;
    for (int c = 0; c < nc; ++c) {
        for (int i = 0; i < det.cellPts[c].size(); ++i) {
            if (used[c][i])
                continue;
            used[c][i] = 1;
            PolyLine chain(type);
            QVector<char> col;
            chain.pts.append(det.cellPts[c][i]);
            chain.w.append(det.cellW[c][i]);
            col.append(det.cellColumn[c][i]);
            for (int side = 0; side < 2; ++side) {
                PolyPoint q;
                float w;
                char k;
                while (takeNearest(chain.pts.last(), &q, &w, &k)) {
                    chain.pts.append(q);
                    chain.w.append(w);
                    col.append(k);
                }
                if (side == 0) {
                    std::reverse(chain.pts.begin(), chain.pts.end());
                    std::reverse(chain.w.begin(), chain.w.end());
                    std::reverse(col.begin(), col.end());
                }
            }
            chains.append(chain);
            columns.append(col);
        }
    }
    return chains;
}

} // namespace

void hairDetect1(HairDetector &det, const HairMarkers &rowMarkers, PathList &hairs, int type)
{
    for (int g = 0; g < rowMarkers.size(); ++g)
        for (quint32 m : rowMarkers[g]) {
            float w;
            const PolyPoint q = thinRunPoint(m, g, &w);
            det.addPoint(q, w);
        }
    QVector<QVector<char>> columns;
    QVector<PolyLine> chains = linkPoints(det, type, columns);
    const float lo = det.consts.minWidth - det.p;
    const float hi = det.widestRun > 0 ? det.widestRun : det.consts.maxWidth - det.p;
    det.unlinked.clear();
    for (int ci = 0; ci < chains.size(); ++ci) {
        PolyLine &chain = chains[ci];
        // Two points make no hair; what they came from may still be an
        // island of its own (islandDots).
        if (chain.pts.size() <= 2) {
            det.unlinked.append(chain.pts.first());
            continue;
        }
        const int before = hairs.size();
        PolyLine s = chain.smoothed(3);
        const int n = s.pts.size();
        // A run measured along a row is too wide on a slanted hair by
        // len / |dy| (along a column, len / |dx|). Near 45 degrees a run may
        // have been measured along the less square of the two: its own axis
        // counts, not the squarer one. Every chain gets this, the last
        // included.
        QVector<float> cw = s.w;
        for (int i = 0; i < n; ++i) {
            const PolyPoint a = s.pts[std::max(i - 1, 0)], b = s.pts[std::min(i + 1, n - 1)];
            const float dx = std::fabs(b.x - a.x), dy = std::fabs(b.y - a.y);
            const float len = std::sqrt(dx * dx + dy * dy);
            if (len <= 0)
                continue;
            const float across = columns[ci][i] ? dx : dy;
            // Far from its own axis's square the chain's direction is not to
            // be trusted (a chain's end, a kink): the squarer axis stands in.
            cw[i] = s.w[i] * (across >= 0.5f * len ? across : std::max(dx, dy)) / len;
        }
        s.w = cw;
        // Window split: keep runs of segments with at least one end inside.
        // Above the window we clamp instead of dropping: the run did vanish
        // in this step, and a wall just under the blur's reach measures at
        // the window's top with some noise; dropping those points would cut
        // its hair into pieces with gaps between them.
        auto inside = [&](int i) { return s.w[i] >= lo; };
        int i = 0;
        while (i < n - 1) {
            if (!(inside(i) || inside(i + 1))) {
                ++i;
                continue;
            }
            int j = i;
            while (j < n - 1 && (inside(j) || inside(j + 1)))
                ++j;
            PolyLine piece(type);
            piece.pts = s.pts.mid(i, j - i + 1);
            piece.w = s.w.mid(i, j - i + 1);
            if (piece.pts.size() > 3)
                piece.simplifyRepeated(kSimplifyTolerance);
            // Widths become the gap the hair has to fill: the run less what
            // the shells on either side already cover, no wider than the
            // window. An end below the window (a spike's tip, kept for the
            // segment's other end) keeps its own width: raised to the
            // window's bottom, it laid 0.12 mm of bead over a narrower tip.
            float widest = 0;
            for (float &w : piece.w) {
                w = std::max(std::min(w, hi) - det.coveredWidth, 0.0f);
                widest = std::max(widest, w);
            }
            // A hair whose gap stays below a quarter of a width, or shorter
            // than one width (the tip of a square corner), prints nothing
            // useful and costs a travel with retraction.
            if (widest >= 0.25f * det.p && piece.length() >= (det.minLength > 0 ? det.minLength : det.p))
                hairs.append(piece);
            i = j;
        }
        if (hairs.size() == before)
            det.unlinked.append(chain.pts[chain.pts.size() / 2]);
    }
}

namespace {

template <class Pixels>
void islandDotsWith(const HairDetector &det, const Pixels &before, const Plane8 &after, PathList &hairs, int type)
{
    const int W = before.width(), H = before.height();
    if (W <= 0 || H <= 0 || after.width != W || after.height != H)
        return;
    // Seeds: the chains that gave no hair, then a point of every hair.
    QVector<PolyPoint> seeds = det.unlinked;
    for (const PolyLine &h : hairs)
        if (!h.pts.isEmpty())
            seeds.append(h.pts.first());
    if (seeds.isEmpty())
        return;
    std::vector<char> dropHair(size_t(hairs.size()), 0);
    PathList dots;
    const int span = int(std::ceil(4 * det.p));
    std::vector<int> done;  // pixels of islands already looked at, sorted
    std::vector<int> part, stack;
    for (const PolyPoint &seed : seeds) {
        const int sx = std::clamp(int(std::floor(seed.x)), 0, W - 1);
        const int sy = std::clamp(int(std::floor(seed.y)), 0, H - 1);
        if (before.at(sx, sy) == 0 || std::binary_search(done.begin(), done.end(), sy * W + sx))
            continue;
        part.clear();
        stack.assign(1, sy * W + sx);
        part.push_back(sy * W + sx);
        bool ok = true;
        int bx0 = sx, bx1 = sx, by0 = sy, by1 = sy;
        while (!stack.empty() && ok) {
            const int x = stack.back() % W, y = stack.back() / W;
            stack.pop_back();
            for (int dy = -1; dy <= 1 && ok; ++dy)
                for (int dx = -1; dx <= 1 && ok; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    if (nx < 0 || ny < 0 || nx >= W || ny >= H || before.at(nx, ny) == 0)
                        continue;
                    const int i = ny * W + nx;
                    if (std::find(part.begin(), part.end(), i) != part.end())
                        continue;
                    // Part of something larger (a corner's tip, a wall): not an island.
                    bx0 = std::min(bx0, nx);
                    bx1 = std::max(bx1, nx);
                    by0 = std::min(by0, ny);
                    by1 = std::max(by1, ny);
                    ok = bx1 - bx0 <= span && by1 - by0 <= span;
                    part.push_back(i);
                    stack.push_back(i);
                }
        }
        std::sort(part.begin(), part.end());
        std::vector<int> merged;
        std::merge(done.begin(), done.end(), part.begin(), part.end(), std::back_inserter(merged));
        done.swap(merged);
        if (!ok)
            continue;
        double a = 0, mx = 0, my = 0;
        int x0 = W, y0 = H, x1 = -1, y1 = -1;
        int survivors = 0;
        for (int i : part) {
            x0 = std::min(x0, i % W);
            x1 = std::max(x1, i % W);
            y0 = std::min(y0, i / W);
            y1 = std::max(y1, i / W);
            survivors += after.data[i] >= 128;
            const double v = before.at(i % W, i / W) / 255.0;
            a += v;
            mx += v * (i % W + 0.5);
            my += v * (i / W + 0.5);
        }
        if (a < 0.5 * det.p * det.p)
            continue;
        mx /= a;
        my /= a;
        double sxx = 0, syy = 0, sxy = 0;
        for (int i : part) {
            const double v = before.at(i % W, i / W) / 255.0;
            const double ex = i % W + 0.5 - mx, ey = i / W + 0.5 - my;
            sxx += v * ex * ex;
            syy += v * ey * ey;
            sxy += v * ex * ey;
        }
        sxx /= a;
        syy /= a;
        sxy /= a;
        const double mid = 0.5 * (sxx + syy), dev = std::hypot(0.5 * (sxx - syy), sxy);
        const double l1 = mid + dev, l2 = std::max(0.0, mid - dev);
        const double angle = 0.5 * std::atan2(2 * sxy, sxx - syy);
        // The ellipse of the island's area with the moments' aspect (on a few
        // pixels the moments overstate the size: edge pixels count at their
        // centres); the largest rectangle inside it is sqrt(2) times its
        // semi-axes long and wide.
        const double ratio = l2 > 0 ? std::sqrt(l1 / l2) : 1e3;
        // Hairs of the island: a hair along a long island gets all of its
        // length and width, so it stays; on a round one its rows stick out
        // of the outline where the island narrows, and the dot takes over.
        std::vector<int> own;
        for (int k = 0; k < hairs.size(); ++k) {
            bool within = !dropHair[size_t(k)];
            for (const PolyPoint &q : hairs[k].pts)
                within = within && q.x >= x0 - 1 && q.x <= x1 + 2 && q.y >= y0 - 1 && q.y <= y1 + 2;
            if (within)
                own.push_back(k);
        }
        // A round island whose inset (its radius less half a width) is wide
        // enough to trace keeps that inset as its perimeter: hairs across its
        // narrow ends would only mask it away. Pixel centres at the level
        // cannot tell: a pin centred on a pixel corner has four of them
        // whatever its inset.
        const double inset = std::sqrt(a / 3.14159265) - 0.5 * det.p;
        if (ratio < kRoundIsland && survivors > 0 && inset >= kLoopInset * det.p) {
            for (int k : own)
                dropHair[size_t(k)] = 1;
            continue;
        }
        // Otherwise a few pixels left at the level trace no perimeter (too
        // small an outline) and the dot's mask clears them; with more, the
        // island is no island.
        if (survivors > kIslandSurvivors || (!own.empty() && ratio >= kRoundIsland))
            continue;
        const double semiA = std::sqrt(a / 3.14159265 * ratio), semiB = a / 3.14159265 / semiA;
        const float len = float(std::sqrt(2.0) * semiA), width = float(std::sqrt(2.0) * semiB);
        if (width < 0.25f * det.p)
            continue;
        for (int k : own)
            dropHair[size_t(k)] = 1;
        const PolyPoint c{float(mx), float(my)};
        const PolyPoint half{float(std::cos(angle)) * len / 2, float(std::sin(angle)) * len / 2};
        PolyLine dot(type);
        dot.pts.append(c - half);
        dot.pts.append(c + half);
        dot.w.append(width);
        dot.w.append(width);
        dots.append(dot);
    }
    PathList kept;
    for (int k = 0; k < hairs.size(); ++k)
        if (!dropHair[size_t(k)])
            kept.append(hairs[k]);
    kept.append(dots);
    hairs = kept;
}

} // namespace

void islandDots(const HairDetector &det, const Plane8 &before, const Plane8 &after, PathList &hairs, int type)
{
    islandDotsWith(det, PlanePixels{before}, after, hairs, type);
}

void islandDots(const HairDetector &det, const BlockSnapshot &before, const Plane8 &after, PathList &hairs, int type)
{
    islandDotsWith(det, SnapshotPixels{before}, after, hairs, type);
}

void hairMasking(Plane8 &cov, const PathList &hairs, float maskFactor)
{
    const int W = cov.width, H = cov.height;
    if (W <= 0 || H <= 0)
        return;
    auto disc = [&](PolyPoint a, PolyPoint b, float r) {
        const int x0 = std::max(0, int(std::floor(std::min(a.x, b.x) - r)));
        const int x1 = std::min(W - 1, int(std::ceil(std::max(a.x, b.x) + r)));
        const int y0 = std::max(0, int(std::floor(std::min(a.y, b.y) - r)));
        const int y1 = std::min(H - 1, int(std::ceil(std::max(a.y, b.y) + r)));
        const float dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
        for (int y = y0; y <= y1; ++y) {
            uchar *row = cov.data + y * W;
            for (int x = x0; x <= x1; ++x) {
                const float px = x + 0.5f - a.x, py = y + 0.5f - a.y;
                const float t = len2 > 0 ? std::clamp((px * dx + py * dy) / len2, 0.0f, 1.0f) : 0.0f;
                const float ex = px - t * dx, ey = py - t * dy;
                if (ex * ex + ey * ey <= r * r)
                    row[x] = 0;
            }
        }
    };
    for (const PolyLine &h : hairs) {
        const int n = h.pts.size();
        for (int i = 0; i < n; ++i) {
            const int j = std::min(i + 1, n - 1);
            const float wi = h.w.size() == n ? std::max(h.w[i], h.w[j]) : 0.0f;
            const float r = (wi + maskFactor) * 0.5f;
            if (!std::isfinite(r) || !std::isfinite(h.pts[i].x) || !std::isfinite(h.pts[j].x))
                continue;
            disc(h.pts[i], h.pts[j], r);
        }
    }
}

namespace {

// How much wider than the traced gap across it a fitted hair may stay
// (pixels): the trace of a feature a few pixels across runs up to a tenth of
// a pixel inside its true edges, and the wall band loses what a hair gives
// up to it.
constexpr float kFitSlack = 0.1f;

// Moves the bead at q (width w) across the unit normal nrm into the gap
// between the edge's sides a and b away along it: no further than it must,
// and where the gap is narrower than the bead, centred there at the gap's
// width (and kFitSlack).
void fitAcross(PolyPoint &q, float &w, PolyPoint nrm, float a, float b)
{
    const float w1 = std::min(w, a + b + kFitSlack), half1 = 0.5f * w1;
    const float shift = a + b >= w1 ? std::max(0.0f, half1 - std::min(a, b)) : 0.5f * std::fabs(a - b);
    q = q + nrm * (a > b ? shift : -shift);
    w = w1;
}

// Fits the ends of a hair of more than two vertices, `reach` giving the
// distance to the edge along a direction. An end bends off the hair's course
// (a wall's end, a spike's tip), so across is taken as across its last
// segment, the way its bead is laid. An end between two sides of the edge is
// fitted across like any vertex; one beyond the traced edge (a blunt traced
// tip: a side is missing) is pulled back along its segment until its bead
// fits, and dropped where even the segment's other vertex does not fit or
// under a pixel would be left, while more than two vertices remain.
template <class Reach>
void fitEnds(PolyLine &h, const Reach &reach)
{
    constexpr float far = 1e9f;
    auto sides = [&reach](PolyPoint q, PolyPoint nrm, float &a, float &b) {
        a = reach(q, nrm, far);
        b = reach(q, PolyPoint{-nrm.x, -nrm.y}, far);
        return a < far && b < far;
    };
    auto fits = [&sides](PolyPoint q, PolyPoint nrm, float w) {
        float a, b;
        return sides(q, nrm, a, b) && std::min(a, b) + 0.5f * kFitSlack >= 0.5f * w;
    };
    for (int side = 0; side < 2; ++side) {
        for (;;) {
            const int n = h.pts.size();
            const int e = side == 0 ? 0 : n - 1, f = side == 0 ? 1 : n - 2;
            const PolyPoint a = h.pts[f], b = h.pts[e], d = b - a;
            const float len = std::sqrt(d.x * d.x + d.y * d.y);
            if (!(len > 0))
                break;
            const PolyPoint nrm{-d.y / len, d.x / len};
            float ra, rb;
            if (sides(b, nrm, ra, rb)) {
                if (std::min(ra, rb) + 0.5f * kFitSlack < 0.5f * h.w[e])
                    fitAcross(h.pts[e], h.w[e], nrm, ra, rb);
                break;
            }
            if (!fits(a, nrm, h.w[f])) {
                if (n <= 3)
                    break;
                h.pts.remove(e);
                h.w.remove(e);
                continue;
            }
            // The furthest point of the segment whose bead fits (widths
            // interpolated along it).
            float lo = 0, hi = 1;
            for (int it = 0; it < 12; ++it) {
                const float t = 0.5f * (lo + hi);
                if (fits(a + d * t, nrm, h.w[f] + (h.w[e] - h.w[f]) * t))
                    lo = t;
                else
                    hi = t;
            }
            if (lo * len < 1.0f && n > 3) {
                h.pts.remove(e);
                h.w.remove(e);
                break;
            }
            h.w[e] = h.w[f] + (h.w[e] - h.w[f]) * lo;
            h.pts[e] = a + d * lo;
            break;
        }
    }
}

} // namespace

namespace {

template <class Pixels>
void fitHairsToEdgeWith(PathList &hairs, const PathList &edge, const Pixels &cov)
{
    struct Seg {
        PolyPoint a, b;
    };
    std::vector<Seg> near;
    // Distance from q along the unit vector n to the first edge crossing,
    // `far` when none lies closer.
    auto reach = [&near](PolyPoint q, PolyPoint n, float far) {
        float best = far;
        for (const Seg &sg : near) {
            const PolyPoint e = sg.b - sg.a, d = sg.a - q;
            const float den = n.x * e.y - n.y * e.x;
            if (std::fabs(den) < 1e-9f)
                continue;
            const float t = (d.x * e.y - d.y * e.x) / den;  // along n
            const float u = (d.x * n.y - d.y * n.x) / den;  // along the segment
            if (t >= 0 && u >= 0 && u <= 1)
                best = std::min(best, t);
        }
        return best;
    };
    for (PolyLine &h : hairs) {
        const int n = h.pts.size();
        if (n < 2 || h.w.size() != n)
            continue;
        // The edge's segments within the widest width of the hair's box.
        float x0 = h.pts[0].x, x1 = x0, y0 = h.pts[0].y, y1 = y0, r = 0;
        for (int i = 0; i < n; ++i) {
            x0 = std::min(x0, h.pts[i].x);
            x1 = std::max(x1, h.pts[i].x);
            y0 = std::min(y0, h.pts[i].y);
            y1 = std::max(y1, h.pts[i].y);
            r = std::max(r, h.w[i]);
        }
        near.clear();
        for (const PolyLine &e : edge) {
            const int m = e.pts.size();
            for (int i = 0; i < m && m >= 2; ++i) {
                const PolyPoint a = e.pts[i], b = e.pts[(i + 1) % m];
                if (std::max(a.x, b.x) < x0 - r || std::min(a.x, b.x) > x1 + r || std::max(a.y, b.y) < y0 - r ||
                    std::min(a.y, b.y) > y1 + r)
                    continue;
                near.push_back({a, b});
            }
        }
        const QVector<PolyPoint> pts = h.pts;
        // The ends of a hair of more than two vertices bend off its course
        // where the feature's end cut its runs short (a wall's end, a
        // spike's tip): across is not to be told from along there, and they
        // stay as they are.
        const int from = n > 2 ? 1 : 0, to = n > 2 ? n - 1 : n;
        for (int i = from; i < to; ++i) {
            const PolyPoint q = pts[i];
            const int px = int(std::floor(q.x)), py = int(std::floor(q.y));
            if (px < 0 || py < 0 || px >= cov.width() || py >= cov.height() || cov.at(px, py) < 128)
                continue;
            // Across the hair: the normal of its direction at the vertex.
            const PolyPoint d = pts[std::min(i + 1, n - 1)] - pts[std::max(i - 1, 0)];
            const float len = std::sqrt(d.x * d.x + d.y * d.y);
            if (!(len > 0))
                continue;
            const PolyPoint nrm{-d.y / len, d.x / len};
            const float half = 0.5f * h.w[i];
            const float a = reach(q, nrm, 2 * half), b = reach(q, PolyPoint{-nrm.x, -nrm.y}, 2 * half);
            if (std::min(a, b) >= half)
                continue;
            // The bead pokes out on one side.
            fitAcross(h.pts[i], h.w[i], nrm, a, b);
        }
        if (n > 2)
            fitEnds(h, reach);
    }
}

} // namespace

void fitHairsToEdge(PathList &hairs, const PathList &edge, const Plane8 &cov)
{
    fitHairsToEdgeWith(hairs, edge, PlanePixels{cov});
}

void fitHairsToEdge(PathList &hairs, const PathList &edge, const BlockSnapshot &cov)
{
    fitHairsToEdgeWith(hairs, edge, SnapshotPixels{cov});
}
