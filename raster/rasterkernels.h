#pragma once
// Row and block kernels of the raster planes, each in an SSE2 version and a
// plain scalar twin that defines its result (tests compare the two). Kernels
// know nothing of planes or threads; the plane operations decide who runs what.
#include <QVector>
#include <QtGlobal>

namespace rk {

// int(std::floor(v)) and int(std::ceil(v)) for v well inside int's range
// (|v| < 2^31 - 1): truncate, then step once where truncation went the wrong
// way. A few instructions where the rounding without SSE4.1 takes a dozen.
inline int floorInt(double v)
{
    const int i = int(v);
    return i - (v < double(i) ? 1 : 0);
}
inline int ceilInt(double v)
{
    const int i = int(v);
    return i + (v > double(i) ? 1 : 0);
}

// The next run of set bits in bits (one bit an item, n items) at or after
// item `from`: true with its first item and end, false when there is none.
// A word of 64 items at a time, so long clear or set stretches cost little.
inline bool nextSetRun(const quint64 *bits, int n, int from, int &first, int &end)
{
    if (from >= n)
        return false;
    int wi = from >> 6;
    quint64 word = bits[wi] & (~quint64(0) << (from & 63));
    while (!word) {
        if (++wi * 64 >= n)
            return false;
        word = bits[wi];
    }
    first = wi * 64 + __builtin_ctzll(word);
    if (first >= n)
        return false;
    quint64 rest = ~bits[wi] & (~quint64(0) << (first & 63));
    while (!rest) {
        if (++wi * 64 >= n) {
            end = n;
            return true;
        }
        rest = ~bits[wi];
    }
    end = qMin(n, wi * 64 + __builtin_ctzll(rest));
    return true;
}

// Packs `width` bytes into bits (bit i of the output = src[i] >= threshold,
// negated when invert); dst gets (width + 7) / 8 bytes. threshold 0 .. 255.
void thresholdRowScalar(const uchar *src, int width, int threshold, bool invert, uchar *dst);
void thresholdRowSse2(const uchar *src, int width, int threshold, bool invert, uchar *dst);

// a op= b, c over `bytes` bytes (ops as Plane1::bitwiseOp).
void bitwiseScalar(int op, uchar *a, const uchar *b, const uchar *c, int bytes);
void bitwiseSse2(int op, uchar *a, const uchar *b, const uchar *c, int bytes);

// The shell split of one layer in one pass over `bytes` bytes:
// shell = r & ~(below & above), infill = r & below & above.
void shellSplitScalar(const uchar *below, const uchar *above, const uchar *r, uchar *shell, uchar *infill,
                      int bytes);
void shellSplitSse2(const uchar *below, const uchar *above, const uchar *r, uchar *shell, uchar *infill,
                    int bytes);

// The same over a bit plane of `rows` rows of `stride` bytes (rows a
// multiple of 16, stride even), also giving both outputs' 16 x 16 block
// summaries (as blockSummaryRow*: (stride / 2) x (rows / 16) bytes) from the
// bytes as they are made.
void shellSplitSummaryScalar(const uchar *below, const uchar *above, const uchar *r, uchar *shell,
                             uchar *infill, int stride, int rows, uchar *shellSummary, uchar *infillSummary);
void shellSplitSummarySse2(const uchar *below, const uchar *above, const uchar *r, uchar *shell, uchar *infill,
                           int stride, int rows, uchar *shellSummary, uchar *infillSummary);

// One row of 16 x 16 block summaries: rows16 points at 16 bit-plane rows of
// `stride` bytes; `blocks` blocks (2 bytes each) give out[0 .. blocks-1].
void blockSummaryRowScalar(const uchar *rows16, int stride, int blocks, uchar *out);
void blockSummaryRowSse2(const uchar *rows16, int stride, int blocks, uchar *out);

// Expands `bytes` bit bytes into 8 x bytes bytes (bit set -> 255).
void expandBitsScalar(const uchar *src, int bytes, uchar *dst);
void expandBitsSse2(const uchar *src, int bytes, uchar *dst);

// One row of a one-pixel morphology step over `words` 32-bit words, from the
// rows above, at and below: 'a' / 'A' keep a pixel whose 4- / 8-neighbourhood
// is all set, 'o' / 'O' set one with any neighbour set. Pixels beyond both
// ends of the row read as clear.
void offsetRowScalar(char op, const uchar *up, const uchar *mid, const uchar *down, uchar *out, int words);
void offsetRowSse2(char op, const uchar *up, const uchar *mid, const uchar *down, uchar *out, int words);

// Running sum of each row modulo 256, in place.
void prefixSumRowScalar(uchar *row, int width);
void prefixSumRowSse2(uchar *row, int width);

// Box blur of one 16-column strip of a Plane8, written transposed. For source
// rows y in [y0, y1) and strip columns c in 0 .. 15:
//   dst[c * dstStride + y] = floor(sum of src rows y - win/2 .. y + win/2 / win)
// where rows above `top` read aboveValue and rows from `bottom` on read
// belowValue. y0, y1 are multiples of 16; win is odd, 3 .. 15.
struct StripArgs {
    const uchar *src;  // strip column 0 of source row 0
    int srcStride;
    int top, bottom;   // source rows that may be read: [top, bottom)
    uchar aboveValue, belowValue;
    int y0, y1;
    int win;
    uchar *dst;        // destination row of strip column 0 (x = 0)
    int dstStride;
    // When set, also receives the 16 averages of every source row y, not
    // transposed, at rowAverages[16 * (y - y0)].
    uchar *rowAverages = nullptr;
};
void blurStripScalar(const StripArgs &a);
void blurStripSse2(const StripArgs &a);

// Thin-run counters of 16 columns (blur2's second mode). A run starts where
// the average reaches levelHigh and lasts while it stays at or above
// levelLow; its count saturates at upperBound + 1. When a run ends in row y
// with lowerBound <= count <= upperBound, the marker (y, count, column) is
// appended, rows in order and columns in order within a row.
struct HairCounters {
    uchar levelLow, levelHigh, lowerBound, upperBound; // upperBound at most 254
    uchar inRun[16];  // 0 or 0xFF
    uchar count[16];
};
// Scans rows y0 .. y0 + rows - 1 of averages (16 per row).
void hairScanScalar(const uchar *averages, int rows, int y0, HairCounters &h, QVector<quint32> &out);
void hairScanSse2(const uchar *averages, int rows, int y0, HairCounters &h, QVector<quint32> &out);

} // namespace rk
