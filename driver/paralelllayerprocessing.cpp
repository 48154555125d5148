#include "driver/stages.h"
#include "params/slicerparams.h"
#include "toolpath/pathorder.h"
#include "toolpath/travelrouter.h"

#include <cmath>

PolyPoint layerStartHead(const LayerGrid &grid, int layerStartPos, int layer, const BuildVolume &volume)
{
    const PolyPoint t = layerStartTarget(layerStartPos, layer, volume.W, volume.D, grid.widthInPixels);
    return PolyPoint(std::trunc(t.x), std::trunc(t.y)); // truncated toward 0
}

void prepareLayerWork(const LayerGrid &grid, const SlicerParams &sp, const LayerInputs &in, const SliceLayer &layer,
                      float minBarWidth, TravelCache *c, LayerWork &work)
{
    work = prepareLayer(grid, sp, in, layer, minBarWidth);
    // Made here, on the threads that prepare the layers, rather than in the
    // ordering of the layers in turn.
    const Plane1 &mask = *in.mask;
    if (c && c->valid && c->mask == mask) {
        work.travel = c->travel;
        work.maskAreas = c->maskAreas;
        work.travelAreas = c->travelAreas;
        return;
    }
    if (c)
        c->valid = false;
    // The travel area and its labels come from the mask's clear runs.
    work.maskAreas = RunLabels(mask, false);
    auto travel = std::make_shared<Plane1>();
    shrinkManhattanRuns(mask, work.maskAreas, travelShrink(grid), *travel, work.travelAreas);
    work.travel = std::move(travel);
    if (c) {
        c->mask = mask;
        c->travel = work.travel;
        c->maskAreas = work.maskAreas;
        c->travelAreas = work.travelAreas;
        c->valid = true;
    }
}
