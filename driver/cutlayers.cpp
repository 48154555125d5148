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

QVector<CutLayer> cutLayers(const LayerGrid &grid, const SlicerParams &sp, QVector<SliceLayer> &layers,
                            int first, int count, CutState &state, const CutFollowUp &followUp,
                            QVector<CutLayer> recycled)
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
    QVector<CutLayer> cuts = std::move(recycled);
    cuts.resize(count);
    for (CutLayer &c : cuts) {
        c.repaired = false;
        c.outlines.clear();
        c.hairs.clear();
        if (!followUp) {
            c.inner = Plane1();
            c.innerId = 0;
        }
    }
    std::vector<QString> errors(count);
    std::vector<char> failed(count, 0);
    // Raw pointers, taken here: no container may detach (copy itself) from
    // inside the parallel region.
    SliceLayer *const rec = layers.data() + first;
    CutLayer *const out = cuts.data();
    CutScratch *const scratch = state.scratch.data();
    const int alg = sp.PolyFillerAlg;
    auto cut = [&](int k, bool repairFirst, CutScratch &s) {
        cutLayer(grid, alg, rec[k].segs, repairFirst, s, out[k]);
        if (followUp)
            followUp(rec[k], s, out[k]);
    };

    // Dynamic hand-out: layers differ in cost, and each layer's result
    // depends on its own segments only.
#pragma omp parallel for schedule(dynamic, 1)
    for (int k = 0; k < count; ++k)
        failed[k] = !catchMessage([&] { cut(k, false, scratch[omp_get_thread_num()]); }, errors[k]);

    for (int k = 0; k < count; ++k) {
        if (failed[k])
            throw errors[k];
        if (state.repairCount > 20 && !out[k].repaired)
            cut(k, true, scratch[0]);
        if (out[k].repaired)
            ++state.repairCount;
    }
    return cuts;
}
