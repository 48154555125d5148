#include "common/perfdata.h"
#include "driver/catchmessage.h"
#include "driver/stages.h"
#include "params/slicerparams.h"
#include "toolpath/pathorder.h"
#include "toolpath/travelrouter.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Start target of a layer for LayerStartPos 1..6: a point far outside the
// bed in the chosen direction, in whole raster units (truncated toward 0).
PolyPoint startTarget(int layerStartPos, int layer, const BuildVolume &bv, float widthInPixels)
{
    const PolyPoint t = layerStartTarget(layerStartPos, layer, bv.W, bv.D, widthInPixels);
    return PolyPoint(std::trunc(t.x), std::trunc(t.y));
}

} // namespace

void prepareLayerWork(const LayerGrid &grid, const SlicerParams &sp, const LayerRings &rings, const SliceLayer &layer,
                      float minBarWidth, TravelCache *c, LayerWork &work)
{
    work = prepareLayer(grid, sp, rings, layer, minBarWidth);
    // Made here, on the batch's threads, rather than in the driver's
    // ordering of the layers in turn.
    const Plane1 &mask = rings.layerMasks.get(layer.index);
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

QVector<LayerWork> paralellLayerProcessing(const LayerGrid &grid, const SlicerParams &sp,
                                           const BuildVolume &volume, const LayerRings &rings,
                                           const QVector<SliceLayer> &layers,
                                           const FirstLayerExtras &firstLayer, float minBarWidth,
                                           int first, int last, std::vector<TravelCache> *travelCache)
{
    PerfScope perf("paralellLayerProcessing");
    const int n = last - first + 1;
    QVector<LayerWork> batch(n);
    std::vector<QString> errors(n);
    std::vector<char> failed(n, 0);
    // Raw pointers: no container may detach while the threads share it.
    LayerWork *const work = batch.data();
    const SliceLayer *const rec = layers.constData() + first;
    const int threads = std::max(1, omp_get_max_threads());
    if (travelCache && int(travelCache->size()) < threads)
        travelCache->resize(size_t(threads));
    TravelCache *const caches = travelCache ? travelCache->data() : nullptr;

#pragma omp parallel for schedule(static)
    for (int k = 0; k < n; ++k) {
        failed[k] = !catchMessage([&] {
            prepareLayerWork(grid, sp, rings, rec[k], minBarWidth, caches ? &caches[omp_get_thread_num()] : nullptr,
                             work[k]);
            if (sp.LayerStartPos > 0) {
                const int L = rec[k].index;
                PolyPoint head = startTarget(sp.LayerStartPos, L, volume, grid.widthInPixels);
                work[k].gcode = orderAndWriteLayer(grid, sp, volume, rec[k], rings.layerMasks.get(L), firstLayer,
                                                   minBarWidth, work[k], head);
            }
        }, errors[k]);
    }
    for (int k = 0; k < n; ++k)
        if (failed[k])
            throw errors[k];
    return batch;
}
