#pragma once
// Hairs: features too thin to survive an offset step of the shell sequence,
// drawn as single open lines whose width follows the feature.
//
// Units: raster pixels; pixel (x, y) covers [x, x + 1) x [y, y + 1), like the
// contour tracer. p = one extrusion width in pixels (about 3.003).
#include "raster/plane8.h"
#include "geometry/polyline.h"

#include <QVector>

#include <vector>

// One detector setting. `packed` holds four small integers, low byte first:
// two blurred levels and a lower and upper run bound, the record the blur
// kernel's thin-run mode takes. Our own run scan (thinRunMarkers) measures
// runs on the coverage directly and does not read them.
// The window [minWidth, maxWidth] is compared with the run width plus one
// extrusion width (see hairDetect1).
struct HairConsts {
    quint32 packed;
    float minWidth;
    float maxWidth;
    uchar levelLow() const { return uchar(packed); }
    uchar levelHigh() const { return uchar(packed >> 8); }
    uchar lowerBound() const { return uchar(packed >> 16); }
    uchar upperBound() const { return uchar(packed >> 24); }
    // The record for blur2's thin-run mode.
    BlurHairParams blurParams() const { return {levelLow(), levelHigh(), lowerBound(), upperBound()}; }
};
// Set A: half steps (first and last). Set B: full steps.
extern const HairConsts HairConstsA;
extern const HairConsts HairConstsB;

// Thin-run markers, one list per 16-row group of the pass (list r holds rows
// 16 r .. 16 r + 15). Packing: bits 0-15 the run's far edge along the row in
// quarter pixels (signed), bits 16-23 the run width in sixteenths of a pixel,
// bits 24-27 the row within the group and bits 28-31 the far edge's
// remainder in 64ths of a pixel (a quarter pixel placed hairs up to 0.017 mm
// off centre). A marker of list r is the detector point (position - width /
// 2, 16 r + offset + 0.5). Markers of the column pass describe columns: x and
// y are exchanged.
using HairMarkers = QVector<QVector<quint32>>;
quint32 packThinRun(float farEdge, float width, int rowInGroup);
PolyPoint thinRunPoint(quint32 marker, int group, float *width);

// A plane kept by its 16 x 16 blocks: a uniform block (all 0 or all 255 by
// the block summary) by its value alone, every other block's pixels copied.
// The hair search's view of the region before a step: the steps change
// pixels only near the outline, so this holds a band's worth of pixels where
// a copy of the plane held all of them.
class BlockSnapshot {
public:
    // plane's pixels; summary, plane's exact block summary (blockSummary8;
    // another size is replaced by one made here).
    void take(const Plane8 &plane, const Plane8 &summary);
    int width() const { return m_width; }
    int height() const { return m_height; }
    const Plane8 &summary() const { return m_summary; }
    uchar at(int x, int y) const
    {
        return m_block[size_t(y >> 4) * size_t(m_bw) + size_t(x >> 4)][(y & 15) * 16 + (x & 15)];
    }
    // Block (bx, by)'s 16 x 16 pixels, rows 16 bytes apart (past the plane's
    // border: 0).
    const uchar *block(int bx, int by) const { return m_block[size_t(by) * size_t(m_bw) + size_t(bx)]; }
    // Every block's pixels, row by row of blocks, blocksPerRow() a row.
    const uchar *const *blocks() const { return m_block.data(); }
    int blocksPerRow() const { return m_bw; }
    Plane8 toPlane() const; // the plane again (for tests)

private:
    static const uchar kBlock0[256], kBlock255[256];
    int m_width = 0, m_height = 0, m_bw = 0;
    Plane8 m_summary;
    // Per block (partial ones included): its pixels, kBlock0 or kBlock255.
    std::vector<const uchar *> m_block;
    std::vector<uchar> m_pixels; // the other blocks' pixels
};

// Runs of the region `before` (coverage >= 128) that disappear in `after`
// (no pixel >= 128 left), along rows (columnPass false) or columns. A run's
// width and centre are the covered area of its pixels (with the partly
// covered ones beside it) and their centroid. A run is
// recorded only in the pass that crosses it more squarely (its run across
// the other axis through its middle is longer), and only when its width is
// at most maxRun, so long runs along a wall never become markers.
// Planes of equal size; planes wider or taller than 8191 pixels record nothing
// beyond that (the position field's range).
// beforeSummary, when given, is before's exact 16 x 16 block summary
// (blockSummary8): uniform blocks are then not looked at pixel by pixel.
void thinRunMarkers(const Plane8 &before, const Plane8 &after, bool columnPass, float maxRun,
                    HairMarkers &out, const Plane8 *beforeSummary = nullptr);
// The same with `before` kept as a block snapshot (its summary read).
void thinRunMarkers(const BlockSnapshot &before, const Plane8 &after, bool columnPass, float maxRun,
                    HairMarkers &out);

// The pixels of `plane` at or above the 128 level as bits along lines: rows
// (columnPass false) or columns, 64 pixels per word, `words` words per line,
// bit (i & 63) of word i >> 6 for the pixel i along the line. With an exact
// 16 x 16 block summary (blockSummary8; another size is ignored) uniform
// blocks are filled without reading their pixels. The scalar twin reads
// every pixel and defines the result.
void levelLineBits(const Plane8 &plane, const Plane8 *summary, bool columnPass, std::vector<quint64> &bits,
                   int &words);
void levelLineBitsScalar(const Plane8 &plane, bool columnPass, std::vector<quint64> &bits, int &words);

// Points collected for one step, in 32 x 32 pixel cells.
struct HairDetector {
    int cellsX = 0, cellsY = 0;
    QVector<QVector<PolyPoint>> cellPts;  // row-major cells
    QVector<QVector<float>> cellW;
    QVector<QVector<char>> cellColumn;  // 1: measured along a column
    HairConsts consts = HairConstsA;
    // Width the neighbouring extrusions already cover: 0 on the first step of
    // a region (nothing beside the hair yet), p on later steps (half a width
    // of the shell on either side).
    float coveredWidth = 0;
    // When above 0, the top of the width window instead of the set's (run
    // widths, pixels): after the distance step a wall vanishes on the first
    // step up to two widths thick, and its hair carries all of it.
    float widestRun = 0;
    // Shorter hairs are dropped (pixels; 0: one width, p).
    float minLength = 0;
    float p = 3.003f;
    // After hairDetect1: one point of every chain that gave no hair.
    QVector<PolyPoint> unlinked;

    void reset(int planeWidth, int planeHeight);
    void addPoint(const PolyPoint &pt, float width, bool column = false);
    int pointCount() const;
};

// Resets the detector to the plane's size and adds the column-pass markers.
void hairDetect0(HairDetector &det, int planeWidth, int planeHeight, const HairMarkers &columnMarkers);
// Adds the row-pass markers and turns all points into hairs of `type`
// (appended to `hairs`): linking (Chebyshev reach 2.0), smoothed(3), width
// correction for direction, the set's width window (points below it are cut
// away, points above it are clamped to it), simplification (1.2). Hairs
// shorter than one width are dropped. The resulting widths are the gap left
// to fill: run width - coveredWidth.
void hairDetect1(HairDetector &det, const HairMarkers &rowMarkers, PathList &hairs, int type);

// Islands of `before` (its pixels above 0, 8-connected, at most four widths
// across) that at most a few pixels of `after` reach the level in: a pin about one
// width across crosses too few rows for a hair (det.unlinked after
// hairDetect1 holds its chain), and the rows of a hair across a round island
// stick out where the island narrows. Each such island of at least half a
// width squared that got no hair, or is round (its hairs in `hairs` are
// replaced), becomes a two-point line along its main axis: the rectangle
// inscribed in the ellipse of the island's area and second moments (a pin
// gets a square within its circle, no material outside it).
void islandDots(const HairDetector &det, const Plane8 &before, const Plane8 &after, PathList &hairs, int type);
void islandDots(const HairDetector &det, const BlockSnapshot &before, const Plane8 &after, PathList &hairs, int type);

// Fits every hair vertex whose bead would reach past `edge` (the section's
// outline, closed loops) into the gap across the hair there: the vertex
// moves along the normal of the hair's direction until the bead fits, or to
// the middle of the gap where the bead is wider, narrowing to the gap (and a
// tenth of a pixel: the trace's own error). A hair's width is measured along
// a row or column and corrected by its chain's direction, which on a thin
// tube near 45 degrees or a slanted wall leaves it too wide or off centre
// by up to 0.04 mm. Vertices in pixels of `cov` below the level stay. The
// ends of a hair of more than two vertices bend off its course: they are
// fitted across their last segment, and an end beyond the traced edge (a
// spike's blunt traced tip) is pulled back along that segment until its
// bead fits, or dropped while three vertices remain.
void fitHairsToEdge(PathList &hairs, const PathList &edge, const Plane8 &cov);
void fitHairsToEdge(PathList &hairs, const PathList &edge, const BlockSnapshot &cov);

// Clears the coverage of `cov` within (w + maskFactor) / 2 of every hair
// vertex and segment, w the local hair width: with maskFactor = p the next
// loop's centre line keeps half its width away from the hair's side, so no
// later loop, shell or infill covers it again.
void hairMasking(Plane8 &cov, const PathList &hairs, float maskFactor);
