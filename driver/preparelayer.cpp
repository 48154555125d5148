#include "common/perfdata.h"
#include "driver/stages.h"
#include "driver/supportchains.h"
#include "params/slicerparams.h"
#include "toolpath/fill.h"
#include "toolpath/pathorder.h"

LayerWork prepareLayer(const LayerGrid &grid, const SlicerParams &sp, const LayerRings &rings,
                       const SliceLayer &layer, float minBarWidth)
{
    PerfScope perf("prepareLayer");
    const int L = layer.index;
    LayerWork w;
    // Hairs (and concentric shells) first, then infill and shell lines.
    w.fill = rings.fillLists.get(L);
    fillLayer(grid, L, sp, rings.infillRegions.get(L), rings.shellRegions.get(L), PathList(), w.fill,
              rings.infillSummaries.contains(L) ? &rings.infillSummaries.get(L) : nullptr,
              rings.shellSummaries.contains(L) ? &rings.shellSummaries.get(L) : nullptr);

    w.other = supportChains(layer.supportSegs, grid.originX, grid.originY, grid.pitchX, grid.pitchY,
                            minBarWidth);

    // Loops into shell lists by their depth below the outline: the shell
    // steps place the perimeter 0.5 p - VShellOffset p^2 inside, each loop p
    // further.
    const float p = grid.widthInPixels;
    w.shells = splitShells(rings.layerMasks.get(L), rings.loopLists.get(L), p,
                           0.5f * p - sp.VShellOffset * p * p);
    return w;
}
