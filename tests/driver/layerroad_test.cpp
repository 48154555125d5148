// A layer cross-section in mm through the raster fill, the shell steps, the
// shell regions and the fills, as the slicing driver chains them.
#include "params/slicerparams.h"
#include "fixtures/rasterfixtures.h"
#include "raster/plane8.h"
#include "driver/shellregions.h"
#include "toolpath/fill.h"
#include "toolpath/shellsteps.h"

#include <gtest/gtest.h>

#include <QPointF>
#include <algorithm>

namespace {

// Closed polygon as directed segments, counter-clockwise for positive area.
Segments polygon(const QVector<QPointF> &pts)
{
    Segments s;
    for (int i = 0; i < pts.size(); ++i) {
        const QPointF a = pts[i], b = pts[(i + 1) % pts.size()];
        s.append({float(a.x()), float(a.y()), float(b.x()), float(b.y())});
    }
    return s;
}

} // namespace

TEST(LayerRoad, SquareCrossSectionToPaths)
{
    SlicerParams sp;  // ExtrusionWidth 0.4 mm
    const float pitch = sp.ExtrusionWidth * testGrid().pixelFactor;
    const int W = 256, H = 256;
    const Extents ext{0, 0, W * pitch, H * pitch};
    // A 20 mm square from (5, 5) mm; try both windings so the test does not
    // depend on which one the fill calls inside.
    QVector<QPointF> sq{{5, 5}, {25, 5}, {25, 25}, {5, 25}};
    Plane8 cov(W, H);
    Plane1 scratch;
    cov.fromSegs3(polygon(sq), ext, scratch, true, false);
    if (cov.pixel(128, 128) < 128) {
        std::reverse(sq.begin(), sq.end());
        cov.fromSegs3(polygon(sq), ext, scratch, true, false);
    }
    ASSERT_GE(cov.pixel(128, 128), 128);

    ShellStepsResult r;
    OffsetScratch s;
    shellSteps(testGrid(), cov, sp, r, s);
    ASSERT_EQ(r.shells.size(), 2);
    ASSERT_EQ(r.shells[0].size(), 1);
    const QVector<float> xs = crossingsAtY(r.shells[0][0], 110.5f);
    ASSERT_EQ(xs.size(), 2);
    // Half an extrusion width (0.2 mm) inside the 5 mm edge.
    EXPECT_NEAR(xs[0] * pitch, 5.2, 0.02);
    EXPECT_NEAR(xs[1] * pitch, 24.8, 0.02);

    // A column of three such layers with H = 1: the middle one is infill,
    // the others shell, and the fill lines stay in their regions.
    FIFO<Plane1> inner(2), pairs(1), stacks(3), shell(3), infill(3);
    ShellRegionRings rings{inner, pairs, stacks, shell, infill};
    const int N = 3, Hs = 1;
    for (int i = -2 * Hs; i < N; ++i) {
        const int L = i + Hs;
        inner.acquire(L) = (L >= 0 && L < N) ? r.infill : emptyMask(W, H);
        shellRegionsStep(i, Hs, N, rings);
    }
    EXPECT_EQ(countSet(shell.get(1)), 0);
    EXPECT_EQ(countSet(infill.get(1)), countSet(r.infill));
    EXPECT_EQ(countSet(shell.get(0)), countSet(r.infill));
    for (int i = 0; i < N; ++i) {
        PathList pool;
        fillLayer(testGrid(), i, sp, infill.get(i), shell.get(i), r.outlines, pool);
        int fills = 0;
        for (const PolyLine &pl : pool) {
            if (pl.type != Infill && pl.type != HShell)
                continue;
            ++fills;
            for (const PolyPoint &q : pl.pts) {
                // Inside the inner region: half a width inside the last
                // loop, which lies 1.5 widths in. The region is whole
                // pixels, so a line may start at the outer side of a pixel
                // whose centre is on the edge: half a pixel more.
                EXPECT_GT(q.x * pitch, 5 + 0.4 * 2.0 - 0.02 - 0.5 * pitch);
                EXPECT_LT(q.x * pitch, 25 - 0.4 * 2.0 + 0.02 + 0.5 * pitch);
            }
        }
        EXPECT_GT(fills, 0) << i;
    }
}
