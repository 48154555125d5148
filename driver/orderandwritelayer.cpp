#include "common/perfdata.h"
#include "driver/stages.h"
#include "gcode/gcodewriter.h"
#include "toolpath/pathorder.h"
#include "toolpath/travelrouter.h"

#include <cmath>

int travelShrink(const LayerGrid &grid)
{
    return int(std::lround(grid.widthInPixels * 1.333f));
}

Plane1 travelArea(const LayerGrid &grid, const Plane1 &mask)
{
    // The mask's set bits are outside, so shrinking them grows the free area.
    return shrinkManhattan(mask, travelShrink(grid));
}

PathList orderLayerPaths(const LayerGrid &grid, const SlicerParams &sp, const SliceLayer &layer,
                         const Plane1 &mask, const FirstLayerExtras &firstLayer, float minBarWidth,
                         const LayerWork &work, PolyPoint &head)
{
    PerfScope perf("orderAndWriteLayer");
    Plane1 own;
    const bool made = work.travel && work.travel->width == mask.width && work.travel->height == mask.height;
    if (!made)
        own = travelArea(grid, mask);
    const Plane1 &travel = made ? *work.travel : own;
    const float a = minBarWidth / grid.pitchX * 0.6f;

    // Layer 0 starts with the skirt or brim, already in drawing order.
    PathList out = layer.index == 0 ? firstLayer.skirt : PathList();
    orderLayer(sp, grid.widthInPixels, a, mask, &travel, work.shells, work.fill, work.other, head, out,
               made ? &work.maskAreas : nullptr, made ? &work.travelAreas : nullptr);
    return out;
}

QByteArray writeOrderedLayer(const LayerGrid &grid, const SlicerParams &sp, const BuildVolume &volume,
                             const SliceLayer &layer, const FirstLayerExtras &firstLayer, const PathList &ordered)
{
    return writeLayerGCode(sp, layer.index, layer.printZ, ordered, grid, volume, firstLayer.raft.height);
}

QByteArray orderAndWriteLayer(const LayerGrid &grid, const SlicerParams &sp, const BuildVolume &volume,
                              const SliceLayer &layer, const Plane1 &mask,
                              const FirstLayerExtras &firstLayer, float minBarWidth,
                              const LayerWork &work, PolyPoint &head)
{
    const PathList out = orderLayerPaths(grid, sp, layer, mask, firstLayer, minBarWidth, work, head);
    return writeOrderedLayer(grid, sp, volume, layer, firstLayer, out);
}
