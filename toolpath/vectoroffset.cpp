#include "toolpath/vectoroffset.h"
#include "common/perfdata.h"
#include "params/slicerparams.h"
#include "raster/plane8.h"
#include "toolpath/shellsteps.h"
#include "toolpath/stripegraph.h"

#include <algorithm>
#include <cmath>

double vectorStepDistance(int k, const SlicerParams &sp)
{
    const int last = std::max(sp.VShellCnt, 0);
    const double ew = sp.ExtrusionWidth;
    double d = (k == 0 || k == last) ? -0.5 * ew : -1.0 * ew;
    if (k == 0)
        d += sp.VShellOffset;
    if (k == last)
        d -= ew * 0.16666667 * sp.LoopFillOverlap;
    return d;
}

void vectorOffsetLayer(const Segments &segs, const LayerGrid &grid, const SlicerParams &sp,
                       VectorOffsetResult &out)
{
    out.outlines.clear();
    const int last = std::max(sp.VShellCnt, 0);

    StripeGraph current;
    {
        PerfScope perf("VOffseter.1load");
        current = StripeGraph::fromSegs(segs, sp.PolyFillerAlg);
    }
    // Step 4's output: the region inside the last offset, rasterised like
    // the layer itself. The segments come in the slicer's orientation, so
    // NonZero and Positive agree.
    auto storeInfill = [&](const StripeGraph &g) {
        PerfScope perf("VOffseter.4stripeGraphToSegs");
        const Segments inner = g.toSegs();
        Plane8 raster(grid.width, grid.height);
        Plane1 scratch;
        raster.fromSegs3(inner, grid.extents, scratch, true, false);
        out.infill.fromPlane8(raster, 128, false);
    };
    for (int k = 0; k <= last; k++) {
        StripeGraph moved;
        {
            PerfScope perf("VOffseter.2offset");
            moved = current.offset(vectorStepDistance(k, sp));
        }
        if (k < last) {
            PerfScope perf("VOffseter.3stripeGraphToPolyLines");
            // Specks print as blobs: the raster chain's minimum outline area.
            const float minArea = minOutlineArea(grid.widthInPixels);
            for (PolyLine &pl : moved.toPolyLines(k == 0 ? Perimeter : Loop, grid.originX, grid.originY,
                                                  grid.pitchX, grid.pitchY))
                if (std::fabs(pl.area()) >= minArea)
                    out.outlines.append(std::move(pl));
        } else {
            storeInfill(moved);
        }
        {
            PerfScope perf("VOffseter.5transition");
            current = moved.transition();
        }
        // Nothing left to offset: the remaining steps are empty, and an
        // absurd VShellCnt must not cost a pass each.
        if (current.isEmpty() && k < last) {
            storeInfill(current);
            break;
        }
    }
}
