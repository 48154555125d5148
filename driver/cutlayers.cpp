#include "driver/cutlayers.h"
#include "driver/catchmessage.h"
#include "params/slicerparams.h"
#include "raster/repairpolygons.h"

#include <omp.h>

#include <algorithm>
#include <vector>

namespace {

// One layer into s.raster, repaired first when told to or when the checked
// fill left a row open, then its block summary and mask.
void cutLayer(const LayerGrid &grid, int alg, Segments &segs, bool repairFirst, CutScratch &s,
              CutLayer &out)
{
    out.repaired = repairFirst;
    // The raster keeps the thread's last layer; its summary lets the fill
    // skip the blocks that stay as they are. Not trusted while a fill runs
    // (one that throws leaves the raster half written).
    const bool known = s.summaryValid;
    s.summaryValid = false;
    if (repairFirst || rasterizeLayer(segs, grid.extents, alg, s.raster, s.fill, true, &s.summary, known)) {
        out.repaired = true;
        repairPolygons(segs, grid.widthInPixels * 0.01f);
        rasterizeLayer(segs, grid.extents, alg, s.raster, s.fill, false, &s.summary, !repairFirst || known);
    }
    s.summaryValid = true;
    // The summary is wanted by the offsetting as well; the mask reads only
    // the mixed blocks' pixels through it.
    out.mask.fromPlane8(s.raster, 128, true, &s.summary);
}

} // namespace

void beginCutRun(const LayerGrid &grid, QVector<SliceLayer> &layers, int first, int count, CutState &state,
                 const CutFollowUp &followUp, QVector<CutLayer> recycled, CutRun &run)
{
    const int threads = std::max(1, omp_get_max_threads());
    if (state.scratch.size() < threads)
        state.scratch.resize(threads);
    for (CutScratch &s : state.scratch) {
        if (s.raster.size() != QSize(grid.width, grid.height))
            s.summaryValid = false; // a new plane: its pixels are undefined
        s.raster.setSize(QSize(grid.width, grid.height));
    }
    // The recycled entries keep their planes' storage; everything else a
    // cut sets, or clears here.
    run.first = first;
    run.cuts = std::move(recycled);
    run.cuts.resize(count);
    for (CutLayer &c : run.cuts) {
        c.repaired = false;
        c.outlines.clear();
        c.hairs.clear();
        if (!followUp) {
            c.inner = Plane1();
            c.innerId = 0;
        }
    }
    run.errors.assign(size_t(count), QString());
    run.failed.assign(size_t(count), 0);
    // Raw pointers, taken here: no container may detach (copy itself) from
    // inside a parallel region.
    run.layers = layers.data() + first;
    run.out = run.cuts.data();
    run.scratch = state.scratch.data();
}

void cutRunLayer(const LayerGrid &grid, const SlicerParams &sp, const CutFollowUp &followUp, CutRun &run, int k)
{
    run.failed[size_t(k)] = !catchMessage(
        [&] {
            CutScratch &s = run.scratch[omp_get_thread_num()];
            cutLayer(grid, sp.PolyFillerAlg, run.layers[k].segs, false, s, run.out[k]);
            if (followUp)
                followUp(run.layers[k], s, run.out[k]);
        },
        run.errors[size_t(k)]);
}

QVector<CutLayer> finishCutRun(const LayerGrid &grid, const SlicerParams &sp, CutState &state,
                               const CutFollowUp &followUp, CutRun &run)
{
    for (int k = 0; k < run.cuts.size(); ++k) {
        if (run.failed[size_t(k)])
            throw run.errors[size_t(k)];
        if (state.repairCount > 20 && !run.out[k].repaired) {
            cutLayer(grid, sp.PolyFillerAlg, run.layers[k].segs, true, state.scratch[0], run.out[k]);
            if (followUp)
                followUp(run.layers[k], state.scratch[0], run.out[k]);
        }
        if (run.out[k].repaired)
            ++state.repairCount;
    }
    run.layers = nullptr;
    run.out = nullptr;
    run.scratch = nullptr;
    return std::move(run.cuts);
}

QVector<CutLayer> cutLayers(const LayerGrid &grid, const SlicerParams &sp, QVector<SliceLayer> &layers,
                            int first, int count, CutState &state, const CutFollowUp &followUp,
                            QVector<CutLayer> recycled)
{
    CutRun run;
    beginCutRun(grid, layers, first, count, state, followUp, std::move(recycled), run);
    // Dynamic hand-out: layers differ in cost, and each layer's result
    // depends on its own segments only.
#pragma omp parallel for schedule(dynamic, 1)
    for (int k = 0; k < count; ++k)
        cutRunLayer(grid, sp, followUp, run, k);
    return finishCutRun(grid, sp, state, followUp, run);
}
