// The offsetting stage: perimeters, loops, hairs and the inner region of a
// layer (raster chain, or the vector offsetter with UseVectorOffseter) into
// the rings, and the concentric horizontal shells.
#include "common/perfdata.h"
#include "driver/slicer.h"
#include "toolpath/fill.h"

#include <utility>

void Slicer::offsetLayer(int L)
{
    Plane1 &inner = innerRegions->acquire(L);
    if (L < 0 || L >= layerCount) {
        // The shell-region step reads the regions of the missing layers
        // below and above the object as empty.
        inner.setSize(QSize(grid.width, grid.height));
        inner.fill(0);
        return;
    }
    // Made by cutAhead together with the mask (sliceLayer ran first).
    CutLayer &c = staged[L - stagedFirst];
    loopLists->acquire(L) = std::move(c.outlines);
    fillLists->acquire(L) = std::move(c.hairs);
    std::swap(inner, c.inner);
}

void Slicer::concentricShellStep(int i)
{
    PerfScope perf("concentricShells");
    concentricShells(grid, shellRegions->get(i), *params, fillLists->get(i), offsetScratch);
}
