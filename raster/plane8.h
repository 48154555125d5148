#pragma once
// 8-bit raster plane: coverage of a layer (0 empty, 255 full, 128 the edge
// level) and block summaries.
//
// Layout: row-major, row stride = width bytes, pixel data 16-byte aligned and
// byteSize rounded up to a multiple of 16. The slicer's planes have widths and
// heights that are multiples of 32 (so every row starts 16-byte aligned).
// A plane is a value: copies own their pixels. Failures throw a QString.
#include "geometry/segment.h"
#include <QByteArray>
#include <QSize>
#include <QVector>

class Plane1;

// Box blur window, level and contrast scale for an offset (see ThresholdScaleFromWinsize).
struct ThresholdScale {
    int win = 3;        // odd box width, 3 .. 15
    int threshold = 128; // blurred level of the offset edge, 1 .. 254
    int scale = 3;      // (255 - threshold) * scale + 128 >= 255
};

// Blur window and threshold that move a straight edge by `distance` pixels
// inwards; factor weighs the window (1.0 for half-width steps, 0.5 between
// loops). Throws "FATAL ERROR: ThresholdScaleFromWinsize() Threshold out of
// range (<t>)" when the distance reaches half the window.
ThresholdScale ThresholdScaleFromWinsize(float distance, float factor);

// Second mode of blur2 (thin-run detection for hairs). A per-column counter
// measures runs of region pixels along the blurred column: a run starts where
// the average reaches levelHigh and continues while it stays at or above
// levelLow; its counter counts its rows, saturating at upperBound + 1. When the
// run ends (average below levelLow) with lowerBound <= counter <= upperBound, a
// marker is emitted. Runs that touch a uniform full block are never thin.
// upperBound above 254 counts as 254.
struct BlurHairParams {
    uchar levelLow = 45, levelHigh = 75, lowerBound = 4, upperBound = 10;
};

// Marker packing: bits 0-15 the source row where the run ended (one past its
// last row; the destination x), bits 16-23 the run width, bits 24-31 the column
// within the 16-column group. Markers of source block column g go to list g;
// a marker in list g at position p, width w, column c describes the centre
// (p - w / 2, 16 g + c + 0.5) in destination coordinates.
inline quint32 packHairMarker(int position, int width, int column)
{
    return quint32(position & 0xFFFF) | quint32(width & 0xFF) << 16 | quint32(column & 0xFF) << 24;
}

class Plane8 {
public:
    int byteSize = 0;
    int width = 0;
    int height = 0;
    QByteArray storage; // owns byteSize + 15 bytes
    uchar *data;        // storage rounded up to 16 bytes

    Plane8();
    Plane8(int width, int height); // contents not cleared
    Plane8(const Plane8 &o);
    Plane8(Plane8 &&o) noexcept;
    Plane8 &operator=(const Plane8 &o);
    Plane8 &operator=(Plane8 &&o) noexcept;

    // Reallocates when the size changes; contents undefined. Negative sizes count as 0.
    void setSize(QSize size);
    QSize size() const { return QSize(width, height); }
    uchar *row(int y) { return data + y * width; }
    const uchar *row(int y) const { return data + y * width; }
    uchar pixel(int x, int y) const { return row(y)[x]; }
    void setPixel(int x, int y, uchar v) { row(y)[x] = v; }
    void fill(uchar value);
    bool operator==(const Plane8 &o) const; // same size and pixels
    bool operator!=(const Plane8 &o) const { return !(*this == o); }

    // Resizes to src's size; set bit -> 255, clear bit -> 0.
    void fromPlane1(const Plane1 &src);

    // Polygon fills into this plane, whose size must already be set. Segments
    // in mm; ext maps onto the whole plane; 4 x 4 samples per pixel, taken at
    // the sample centres (an outline on pixel borders covers whole pixels);
    // scratch is not touched: the samples live in a store each thread keeps
    // (all zero between fills). Pixel value = 16 x covered samples
    // (255 for 16). Returns whether a sample row did not close (always false
    // unless check). Every row is resolved even after an unclosed one, so the
    // plane never depends on the thread count. Segments with non-finite
    // coordinates or beyond +-2^30 samples are skipped;
    // crossings left of the plane count at column 0, right of it are dropped.
    // NonZero (nonZero) or Positive winding rule; inside of a correctly facing
    // outline has winding +1. Profiling stage "Plane8.fromSegs3".
    // summaryHint, when given, becomes a hint towards the block summary
    // (refineBlockSummary makes it exact): a block gets 0 or 255 when the fill
    // wrote that value to all its pixels without resolving samples, else
    // 128. Left empty (0 x 0) on a plane whose sizes are not multiples of 16.
    // known, when given, is the exact block summary (blockSummary) of the
    // plane's pixels on entry: a block it calls uniform is not written where
    // the fill gives it the same value (the result is the same either way).
    bool fromSegs3(const Segments &segs, const Extents &ext, Plane1 &scratch, bool nonZero, bool check,
                   Plane8 *summaryHint = nullptr, const Plane8 *known = nullptr);
    // Even-odd rule; edge pixels give at most 240, edge-free inside runs 255.
    // Profiling stage "Plane8.fromSegs2".
    bool fromSegs2(const Segments &segs, const Extents &ext, Plane1 &scratch, bool check,
                   Plane8 *summaryHint = nullptr, const Plane8 *known = nullptr);
    // One sample per pixel; each pixel gets its winding number modulo 256,
    // counted -1 for segments toward larger y and +1 toward smaller y (so the
    // inside of a correctly facing outline reads 255). Profiling stage "Plane8.fromSegs".
    void fromSegs(const Segments &segs, const Extents &ext);

    // One pass of a win-wide box blur down the columns of src, written
    // transposed into dst (dst is src.height x src.width), average =
    // floor(sum / win). Pixels beyond the plane's top and bottom read `border`.
    // Only blocks whose summary is mixed, or that neighbour (along the blur) a
    // block of another value, are computed; uniform blocks are copied into
    // dstSummary and, when writeUniform, into dst. srcSummary describes src's
    // 16 x 16 blocks ((src.width/16) x (src.height/16), or transposed when
    // summaryTransposed); dstSummary is written in dst's orientation, computed
    // blocks getting their actual 0 / 255 / 128. With hair set, thin-run
    // markers go to (*markers)[source block column] (resized here).
    // src sizes must be multiples of 16 and win odd in 3 .. 15, else throws.
    // With dstKnown, dst and dstSummary come already sized from an earlier
    // use and dstSummary describes dst's pixels on entry (0 / 255 only where
    // every pixel of the block holds it; 128 promises nothing): a uniform
    // block that already holds its new value is not written again. A size
    // change drops the promise.
    // Profiling stage "blur2".
    static void blur2(int win, uchar border, bool writeUniform, const Plane8 &src, Plane8 &dst,
                      const Plane8 &srcSummary, bool summaryTransposed, Plane8 &dstSummary,
                      const BlurHairParams *hair = nullptr, QVector<QVector<quint32>> *markers = nullptr,
                      bool dstKnown = false);

    // One byte per 16 x 16 block ((width / 16) x (height / 16), partial blocks
    // ignored): 0 all 0, 255 all 255, 128 otherwise. The summary blur2 reads.
    Plane8 blockSummary() const;
    // Makes a hint the exact block summary: blocks that say 0 or 255 are
    // taken at their word (the caller vouches for them), every other block
    // is summarised from its pixels. A hint of another size is replaced by
    // blockSummary().
    void refineBlockSummary(Plane8 &hint) const;

    // dst := src, given each plane's exact block summary (blockSummary; a
    // block may be called mixed when it is not): blocks that both summaries
    // call uniform with the same value are equal already and are not
    // copied. dstSummary becomes srcSummary. Planes of other sizes, or sizes
    // that are not whole blocks, are copied whole.
    static void copyChangedBlocks(const Plane8 &src, const Plane8 &srcSummary, Plane8 &dst, Plane8 &dstSummary);

    // Marks the end pixels of every run of pixels equal to value with 128,
    // along rows and/or columns; outside the plane counts as 0.
    // Profiling stage "edgeReduce".
    void edgeReduce(uchar value, bool rows, bool columns);

private:
    void allocate(int w, int h);
};
