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

void prepareCutState(const LayerGrid &grid, CutState &state, int threads)
{
    if (state.scratch.size() < threads)
        state.scratch.resize(threads);
    for (CutScratch &s : state.scratch) {
        if (s.raster.size() != QSize(grid.width, grid.height))
            s.summaryValid = false; // a new plane: its pixels are undefined
        s.raster.setSize(QSize(grid.width, grid.height));
    }
}

void cutOneLayer(const LayerGrid &grid, const SlicerParams &sp, const CutFollowUp &followUp, SliceLayer &layer,
                 CutScratch &s, CutLayer &out)
{
    // `out` may be a recycled cut: it keeps its planes' storage; everything
    // else the cut sets, or clears here.
    out.outlines.clear();
    out.hairs.clear();
    if (!followUp) {
        out.inner = Plane1();
        out.innerId = 0;
    }
    cutLayer(grid, sp.PolyFillerAlg, layer.segs, false, s, out);
    if (followUp)
        followUp(layer, s, out);
}

void settleCut(const LayerGrid &grid, const SlicerParams &sp, CutState &state, const CutFollowUp &followUp,
               SliceLayer &layer, CutScratch &s, CutLayer &out)
{
    if (state.repairCount > 20 && !out.repaired) {
        cutLayer(grid, sp.PolyFillerAlg, layer.segs, true, s, out);
        if (followUp)
            followUp(layer, s, out);
    }
    if (out.repaired)
        ++state.repairCount;
}

QVector<CutLayer> cutLayers(const LayerGrid &grid, const SlicerParams &sp, QVector<SliceLayer> &layers,
                            int first, int count, CutState &state, const CutFollowUp &followUp,
                            QVector<CutLayer> recycled)
{
    prepareCutState(grid, state, std::max(1, omp_get_max_threads()));
    QVector<CutLayer> cuts = std::move(recycled);
    cuts.resize(count);
    std::vector<QString> errors{size_t(count)};
    std::vector<char> failed(size_t(count), 0);
    // Raw pointers, taken here: no container may detach (copy itself) from
    // inside a parallel region.
    SliceLayer *const rec = layers.data() + first;
    CutLayer *const out = cuts.data();
    CutScratch *const scratch = state.scratch.data();
    // Dynamic hand-out: layers differ in cost, and each layer's result
    // depends on its own segments only.
#pragma omp parallel for schedule(dynamic, 1)
    for (int k = 0; k < count; ++k)
        failed[size_t(k)] = !catchMessage(
            [&] { cutOneLayer(grid, sp, followUp, rec[k], scratch[omp_get_thread_num()], out[k]); },
            errors[size_t(k)]);
    for (int k = 0; k < count; ++k) {
        if (failed[size_t(k)])
            throw errors[size_t(k)];
        settleCut(grid, sp, state, followUp, rec[k], scratch[0], out[k]);
    }
    return cuts;
}
