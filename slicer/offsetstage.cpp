// The offsetting stage: perimeters, loops, hairs and the inner region of a
// layer from its raster (or, with UseVectorOffseter, from its cross-section
// polygons), and the concentric horizontal shells.
#include "common/perfdata.h"
#include "slicer/slicer.h"
#include "toolpath/fill.h"
#include "toolpath/vectoroffset.h"

#include <utility>

void Slicer::offsetLayer(int L)
{
    PerfScope perf("offsetting");
    Plane1 &inner = innerRegions->acquire(L);
    if (L < 0 || L >= layerCount) {
        // The shell-region step reads the regions of the missing layers
        // below and above the object as empty.
        inner.setSize(QSize(grid.width, grid.height));
        inner.fill(0);
        return;
    }
    if (params->UseVectorOffseter) {
        // Outlines from the cross-section's polygons; no hairs on this path.
        VectorOffsetResult v;
        vectorOffsetLayer(layers[L].segs, grid, *params, v);
        loopLists->acquire(L) = std::move(v.outlines);
        fillLists->acquire(L).clear();
        std::swap(inner, v.infill);
        return;
    }
    shellSteps(rasterizer->raster(), *params, shellResult, offsetScratch);
    loopLists->acquire(L) = std::move(shellResult.outlines);
    fillLists->acquire(L) = std::move(shellResult.hairs);
    std::swap(inner, shellResult.infill);
    shellResult.outlines.clear();
    shellResult.hairs.clear();
}

void Slicer::concentricShellStep(int i)
{
    PerfScope perf("concentricShells");
    concentricShells(shellRegions->get(i), *params, fillLists->get(i), offsetScratch);
}
