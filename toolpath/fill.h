#pragma once
// Infill and horizontal-shell fills of one layer's regions.
//
// Regions are Plane1 masks of the layer raster with set bit = inside; paths
// are in raster units (pixel (x, y) covers [x, x + 1) x [y, y + 1)).
// p = one extrusion width in pixels (about 3.003).
#include "raster/layergrid.h"
#include "raster/plane1.h"
#include "geometry/polyline.h"

#include <vector>

struct SlicerParams;
struct OffsetScratch;

// One run of region pixels along a scanned line: where the line enters its
// first pixel and leaves its last one.
struct ScanRun {
    PolyPoint a, b;
};

// Per block of a block summary, how many blocks of its state follow in a
// row or column, itself included, towards +x (right), -x (left), +y (down)
// and -y (up); index y * width + x.
struct BlockRuns {
    int width = 0, height = 0;
    std::vector<int> right, left, down, up;
};
// The arrays to make (others stay empty).
enum : unsigned { kRunsRight = 1, kRunsLeft = 2, kRunsDown = 4, kRunsUp = 8, kRunsAll = 15 };
BlockRuns blockRuns(const Plane8 &summary, unsigned which = kRunsAll);

// The runs longer than minRun along the segment a -> b, clipped to the
// plane: an exact grid traversal of the pixels the segment crosses. summary
// is the region's 16 x 16 block summary (Plane1::blockSummary) or null; with
// it, uniform blocks of the current run state are crossed without reading
// pixels, with the same traversal and crossing times. blocks (blockRuns of
// the summary, or null) lets the walk cross a whole rectangle of such blocks
// at once, so a line through a uniform area costs about the same whatever
// its length. Appends to runs.
void scanLineRuns(const Plane1 &region, const Plane8 *summary, double ax, double ay, double bx, double by,
                  float minRun, std::vector<ScanRun> &runs, const BlockRuns *blocks = nullptr);

// The pixel-by-pixel walk of scanLineRuns, without any block skipping: the
// reference the fast walk is tested against.
void scanLineRunsScalar(const Plane1 &region, double ax, double ay, double bx, double by, float minRun,
                        std::vector<ScanRun> &runs);

// s after k steps of s += c in doubles, bit for bit, in a few operations per
// binade crossed instead of k (the line walk's running crossing times); the
// scalar twin adds one by one.
double repeatedSum(double s, double c, long long k);
double repeatedSumScalar(double s, double c, long long k);

// repeatedSum(start, step, i) for many i from one start: each binade the
// sums cross is worked out once, when first reached, and an i within the
// binades reached costs a multiplication.
class RunningSum {
public:
    RunningSum(double start, double step);
    double at(long long i)
    {
        const Piece &p = pieces[cur];
        if (cur < count && i >= p.i0 && i <= p.last)
            return double(p.S + (i - p.i0) * p.R) * p.unit;
        return atSlow(i);
    }

private:
    double atSlow(long long i);
    void extend(long long upTo);
    static constexpr int kPieces = 64;
    struct Piece {
        long long i0, last, S, R; // sum after i steps, i in [i0, last]: (S + (i - i0) R) unit
        double unit;
    };
    Piece pieces[kPieces];
    int count = 0, cur = 0;
    bool stopped = false;
    double c, endV;
    long long endI = 0; // the sum after endI steps is endV; later ones add from there
};

// The runs of a family of parallel lines, found together: line i is the
// segment c - R u -> c + R u, u = (ux, uy), c = (ox, oy) + offsets[i] (-uy, ux),
// and lineRuns(i) appends exactly what scanLineRuns (with the same summary
// and blocks) appends for it. Rather than walking every line, the region's
// boundary edges (a pixel side between a set and a clear pixel) are handed
// to the lines that cross them, so the cost follows the outline and not the
// lines' length; each run end is still the walk's own running crossing
// time. A line that passes within a hair of the corner of a boundary edge
// or of its own ends, and every line of a family within about half a degree
// of an axis, is walked instead.
class LineFamilyRuns {
public:
    LineFamilyRuns(const Plane1 &region, const Plane8 *summary, const BlockRuns *blocks, double ox, double oy,
                   double ux, double uy, double R, std::vector<double> offsets, float minRun);
    int lineCount() const { return int(m_lines.size()); }
    void lineRuns(int i, std::vector<ScanRun> &runs) const;
    // Lines that lineRuns walks.
    int walkedLines() const;
    // The block runs those walks read (scanLineRuns' blocks), when made later.
    void setBlocks(const BlockRuns *blocks) { m_blocks = blocks; }

private:
    struct Line {
        double ax, ay, bx, by;
        double dx, dy, len, t0, t1;
        bool clipped = false; // meets the plane with a positive length
        bool walk = false;
        int first = 0, count = 0; // its events in m_events
    };
    struct Event {
        double t;   // where the line crosses the edge (not the walk's exact time)
        int x, y;   // the edge: x = X, rows y .. y + 1 (vertical) or y = Y, columns x .. x + 1
        bool vertical;
    };
    void walkLine(const Line &l, std::vector<ScanRun> &runs) const;

    const Plane1 &m_region;
    const Plane8 *m_summary;
    const BlockRuns *m_blocks;
    float m_minRun;
    std::vector<Line> m_lines;
    std::vector<Event> m_events;
};

// Line directions of an InfillType: 0 Disabled, 1 lines, 2 square grid,
// 3 triangle grid; anything else draws nothing.
int infillDirections(int infillType);
// trunc(inc × layerIndex + base) in whole degrees (toward zero).
int layerAngle(float base, float inc, int layerIndex);

// Lines of `directions` families (directions × (180 / directions) degrees
// apart, the first at angleDeg), `spacing` pixels apart, laid over the whole
// plane around ((w - 2) / 2, (h - 2) / 2). Every run of region pixels along a
// line longer than minRun becomes one open two-point path of `type`, with its
// ends on the borders of the first and last region pixel crossed. With
// thickness >= 2 each line is a bundle of that many lines subSpacing apart,
// centred on it. Nothing for directions <= 0 or a spacing that is not a
// positive number; spacings below a quarter pixel count as a quarter pixel.
// regionSummary: the region's exact block summary (Plane1::blockSummary)
// when the caller has it; made here otherwise (or when of another size).
void patternFill(PathList &pool, const Plane1 &region, int type, float spacing, float angleDeg,
                 int directions, int thickness, float subSpacing, float minRun,
                 const Plane8 *regionSummary = nullptr);

// Horizontal-shell lines: one direction, successive lines alternating in
// direction; runs not longer than minLen are dropped; a run whose start lies
// within twoP (Manhattan) of the end of a path that took a run of the
// previous line is appended to the nearest such path, else starts a new one.
void shellLineFill(PathList &pool, const Plane1 &region, int type, float spacing, float angleDeg,
                   float minLen, float twoP, const Plane8 *regionSummary = nullptr);

// Concentric horizontal shells (HShellType 1): the shell region shrunk by
// half a width, then by whole widths until nothing is left (at most 10000
// steps), each step's outline traced as HShell paths, with hair detection
// on every step (its hairs are HShell paths with widths). Appends to pool.
void concentricShells(const LayerGrid &grid, const Plane1 &shellRegion, const SlicerParams &sp, PathList &pool,
                      OffsetScratch &scratch);

// The per-layer fill of layer `layerIndex`: infill lines over infillRegion,
// parallel shell lines over shellRegion (HShellType 0; concentric shells come
// from concentricShells), then `outlines` (perimeter and loops) as they are.
// Hairs are left to the caller. Safe to run on several layers in parallel.
// The regions' exact block summaries may come with them.
void fillLayer(const LayerGrid &grid, int layerIndex, const SlicerParams &sp, const Plane1 &infillRegion,
               const Plane1 &shellRegion, const PathList &outlines, PathList &pool,
               const Plane8 *infillSummary = nullptr, const Plane8 *shellSummary = nullptr);
