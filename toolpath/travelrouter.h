#pragma once
// Routes travel moves of one layer around the outside of the part.
//
// The routing plane is the layer mask as the driver makes it (a set bit is
// outside the solid area) after shrinking it by about 1.333 extrusion widths:
// a clear bit is where the nozzle may travel. A travel between two points
// of the same clear area never leaves that area: when the straight line stays
// inside it is used as it is; otherwise the shortest 8-connected path (A*,
// octile distance) is found, first over 4 x 4 pixel blocks that are wholly
// free (fast), then, when the blocks leave no way through a narrow passage,
// over single pixels; the path is then pulled straight where the mask allows.
// Points in different areas, or outside every area, get no route: the writer
// then travels straight, with its far-travel retract rules.
//
// Deterministic: ties in the search are broken by cell index. A router caches
// its block grid; route() may be called from several threads at once.
#include "raster/plane1.h"
#include "geometry/polyline.h"
#include "toolpath/runlabels.h"

#include <atomic>

// Per 4 x 4 pixel block of `mask` (width / 4 x height / 4 blocks, row by
// row): 1 when all 16 pixels are clear. The byte road reads four rows of a
// block row at once; the twin tests pixel by pixel (exported for tests).
QVector<unsigned char> freeBlocks4(const Plane1 &mask);
QVector<unsigned char> freeBlocks4Scalar(const Plane1 &mask);

// plane.offsetN(n, 'a', 'a'): n one-pixel shrinks of the set pixels over
// their 4-neighbourhood, the first and last rows kept and pixels beyond the
// left and right edges clear. A pixel of another row stays set when every
// pixel within n steps of it (Manhattan, rows outside the plane left out) is
// set, so one pass over the rows does it: each row's horizontal shrinks by
// 0 .. n pixels are made once, 64 pixels a word, and ANDed down the window.
// Other widths than multiples of 32, and n over 64, take offsetN itself.
Plane1 shrinkManhattan(const Plane1 &plane, int n);
// shrinkManhattan(mask, n) into `out` and RunLabels(out, false) into
// `outAreas`, made from the clear runs of the mask (maskAreas, its
// RunLabels(mask, false)): a row's clear pixels are those of the window's
// rows widened by n - |d| on either side, and the n pixels at each side.
void shrinkManhattanRuns(const Plane1 &mask, const RunLabels &maskAreas, int n, Plane1 &out, RunLabels &outAreas);

class TravelRouter {
public:
    // Keeps a reference to `mask`: it must outlive the router.
    explicit TravelRouter(const Plane1 &mask);
    // The same with the mask's clear areas already labelled
    // (RunLabels(mask, false)), made elsewhere.
    TravelRouter(const Plane1 &mask, const RunLabels &areas);

    // A Travel path from `from` to `to` (raster units) with at least the two
    // end points, or an empty path when no route inside the mask exists.
    PolyLine route(PolyPoint from, PolyPoint to) const;

    // Whether every pixel the segment touches (sampled every half pixel) is
    // free.
    bool segmentFree(PolyPoint a, PolyPoint b) const;
    bool freeAt(int x, int y) const
    {
        return x >= 0 && y >= 0 && x < m_mask.width && y < m_mask.height && !m_mask.pixel(x, y);
    }

private:
    // The free pixel nearest to p (within 3 pixels), or false.
    bool snap(PolyPoint p, int &x, int &y) const;
    // Way from `from` to `to` over wholly free blocks, as block centres with
    // the end points; false when the blocks do not connect them.
    bool blockRoute(PolyPoint from, PolyPoint to, QVector<PolyPoint> &way) const;
    bool pixelRoute(PolyPoint from, PolyPoint to, int sx, int sy, int gx, int gy,
                    QVector<PolyPoint> &way) const;
    bool blockFree(int bx, int by) const;

    const Plane1 &m_mask;
    RunLabels m_areas;
    // 1 = all 16 pixels free; built on first use (by one thread: routes may
    // be found on several at once).
    mutable QVector<unsigned char> m_blocks;
    mutable int m_bw = 0, m_bh = 0;
    mutable std::atomic<bool> m_blocksMade{false};
};
