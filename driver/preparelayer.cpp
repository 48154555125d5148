#include "common/perfdata.h"
#include "driver/stages.h"
#include "driver/supportchains.h"
#include "params/slicerparams.h"
#include "toolpath/fill.h"
#include "toolpath/pathorder.h"

LayerInputs layerInputs(const LayerRings &rings, int layer)
{
    LayerInputs in;
    in.mask = &rings.layerMasks.get(layer);
    in.loops = &rings.loopLists.get(layer);
    in.fill = &rings.fillLists.get(layer);
    in.shellRegion = &rings.shellRegions.get(layer);
    in.infillRegion = &rings.infillRegions.get(layer);
    if (rings.shellSummaries.contains(layer))
        in.shellSummary = &rings.shellSummaries.get(layer);
    if (rings.infillSummaries.contains(layer))
        in.infillSummary = &rings.infillSummaries.get(layer);
    return in;
}

LayerWork prepareLayer(const LayerGrid &grid, const SlicerParams &sp, const LayerInputs &in,
                       const SliceLayer &layer, float minBarWidth)
{
    PerfScope perf("prepareLayer");
    const int L = layer.index;
    LayerWork w;
    // Hairs (and concentric shells) first, then infill and shell lines.
    w.fill = *in.fill;
    fillLayer(grid, L, sp, *in.infillRegion, *in.shellRegion, PathList(), w.fill, in.infillSummary,
              in.shellSummary);

    w.other = supportChains(layer.supportSegs, grid.originX, grid.originY, grid.pitchX, grid.pitchY,
                            minBarWidth);

    // Loops into shell lists by their depth below the outline: the shell
    // steps place the perimeter 0.5 p - VShellOffset p^2 inside, each loop p
    // further.
    const float p = grid.widthInPixels;
    w.shells = splitShells(*in.mask, *in.loops, p,
                           0.5f * p - sp.VShellOffset * p * p);
    return w;
}
