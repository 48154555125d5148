// One real layer through shells, fill, ordering and the writer: the order of
// the shells and where the travels go are checked on the result.
#include "fixtures/rasterfixtures.h"
#include "params/slicerparams.h"
#include "toolpath/fill.h"
#include "gcode/gcodewriter.h"
#include "toolpath/pathorder.h"
#include "toolpath/shellsteps.h"
#include "toolpath/travelrouter.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// A U-shaped layer: two arms (x 16..47 and 80..111) standing on a base
// (y 100..111) too thin for infill, the slot between the arms open at y = 16.
Plane8 uCoverage()
{
    Plane8 cov(128, 128);
    cov.fill(0);
    for (int y = 16; y < 112; ++y)
        for (int x = 16; x < 112; ++x)
            if (y >= 100 || x < 48 || x >= 80)
                cov.setPixel(x, y, 255);
    return cov;
}

} // namespace

TEST(LayerOrder, UShapeShellsInnerFirstAndTravelsInside)
{
    const float p = testGrid().widthInPixels;
    SlicerParams sp;
    sp.VShellCnt = 3;
    sp.InfillDensity = 0.25f;
    const Plane8 cov = uCoverage();

    ShellStepsResult shellsOut;
    OffsetScratch scratch;
    shellSteps(testGrid(), cov, sp, shellsOut, scratch);
    PathList fill;
    // Finishing the fill of one arm, the head has to get to the other: the
    // straight way crosses the slot, the routed one runs through the base.
    patternFill(fill, shellsOut.infill, Infill, p / sp.InfillDensity, 0, 1, 1, p, 2 * p);
    ASSERT_FALSE(fill.isEmpty());

    Plane1 layerMask;
    layerMask.fromPlane8(cov, 128, true); // set = outside, as the driver makes it
    const Plane1 travelMask = layerMask.offsetN(int(std::floor(p * 1.333f + 0.5f)), 'a', 'a');

    const QVector<PathList> shells = splitShells(layerMask, shellsOut.outlines, p, 0.5f * p);
    // The base is too thin for a third loop: the innermost shell is one
    // loop per arm.
    ASSERT_EQ(shells.size(), 3);
    const int counts[3] = {1, 1, 2};
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(shells[k].size(), counts[k]) << "shell " << k;

    PathList out;
    PolyPoint head{0, 0};
    orderLayer(sp, p, 1.8f, layerMask, &travelMask, shells, fill, shellsOut.hairs, head, out);

    // Sweeps: innermost loop, middle loop, perimeter, then the other arm's
    // innermost loop; the fill after all shells.
    QVector<int> types;
    for (const PolyLine &path : out)
        if (path.type != Travel)
            types.append(path.type);
    ASSERT_GE(types.size(), 5);
    EXPECT_EQ(types[0], Loop);
    EXPECT_EQ(types[1], Loop);
    EXPECT_EQ(types[2], Perimeter);
    EXPECT_EQ(types[3], Loop);
    for (int i = 4; i < types.size(); ++i)
        EXPECT_TRUE(types[i] == Infill || types[i] == OuterHair || types[i] == InnerHair) << i;

    // Every move between two paths stays inside the travel mask: either a
    // routed Travel path or a straight line that does.
    const TravelRouter router(travelMask);
    int routed = 0;
    for (int i = 1; i < out.size(); ++i) {
        const PolyLine &prev = out[i - 1], &next = out[i];
        if (next.type == Travel) {
            ++routed;
            for (int k = 1; k < next.pts.size(); ++k)
                EXPECT_TRUE(router.segmentFree(next.pts[k - 1], next.pts[k])) << i;
            continue;
        }
        if (prev.type == Travel)
            continue;
        EXPECT_TRUE(router.segmentFree(prev.pts.last(), next.pts.first()))
            << "straight travel out of the part before path " << i;
    }

    // The writer takes the whole list; one layer, CR LF throughout.
    LayerGrid unitGrid;
    unitGrid.pitchX = unitGrid.pitchY = 1;
    const QByteArray text = writeLayerGCode(sp, 3, 0.8f, out, unitGrid, BuildVolume(), 0);
    EXPECT_EQ(text.count("\n"), text.count("\r\n"));
    EXPECT_TRUE(text.contains(";segType:Loop\r\n"));
    EXPECT_TRUE(text.contains(";segType:Infill\r\n"));
    EXPECT_GT(routed, 0);
}
