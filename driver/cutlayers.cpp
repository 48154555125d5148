// Cutting and offsetting of whole layers on OpenMP threads, ahead of the
// layer loop. Each layer depends only on its own segments, except for the
// repair rule (after more than 20 repaired layers every later layer is
// repaired before its only fill), which is settled in layer order after the
// join, so the result is the sequential one for any thread count.
#include "common/perfdata.h"
#include "raster/repairpolygons.h"
#include "driver/slicer.h"
#include "toolpath/vectoroffset.h"

#include <omp.h>

#include <exception>

void Slicer::cutLayer(int L, bool repairFirst, CutLayer &out, CutScratch &s)
{
    Segments &segs = layers[L].segs;
    const Extents &ext = grid.extents;
    const int alg = params->PolyFillerAlg;
    out.repaired = repairFirst;
    if (repairFirst || rasterizeLayer(segs, ext, alg, s.raster, s.fillScratch, true)) {
        out.repaired = true;
        repairPolygons(segs, grid.widthInPixels * 0.01f);
        rasterizeLayer(segs, ext, alg, s.raster, s.fillScratch, false);
    }
    out.mask.fromPlane8(s.raster, 128, true);
    if (params->UseVectorOffseter) {
        // Outlines from the cross-section's polygons; no hairs on this path.
        VectorOffsetResult v;
        vectorOffsetLayer(segs, grid, *params, v);
        out.outlines = std::move(v.outlines);
        out.hairs.clear();
        std::swap(out.inner, v.infill);
        return;
    }
    shellSteps(grid, s.raster, *params, s.shells, s.offset);
    out.outlines = std::move(s.shells.outlines);
    out.hairs = std::move(s.shells.hairs);
    std::swap(out.inner, s.shells.infill);
    s.shells.outlines.clear();
    s.shells.hairs.clear();
}

void Slicer::cutAhead(int first)
{
    PerfScope perf("cutAndOffset");
    // Several layers per thread and dynamic hand-out: layers differ in cost,
    // and with only a batch's few layers per region one thread often waited
    // for the other. Each layer's result depends on its own segments only.
    const int threads = std::max(1, omp_get_max_threads());
    const int n = std::min(std::max(batchSize, 4 * threads), layerCount - first);
    staged = QVector<CutLayer>(n);
    stagedFirst = first;
    layers.detach(); // never copied from inside the parallel region below
    if (cutScratch.size() < threads)
        cutScratch.resize(threads);
    for (CutScratch &s : cutScratch)
        s.raster.setSize(QSize(grid.width, grid.height));
    CutLayer *out = staged.data();
    CutScratch *scratch = cutScratch.data();

#pragma omp parallel for schedule(dynamic, 1)
    for (int k = 0; k < n; ++k) {
        CutLayer &c = out[k];
        try {
            cutLayer(first + k, false, c, scratch[omp_get_thread_num()]);
        } catch (const QString &e) {
            c.failed = true;
            c.error = e;
        } catch (const char *e) {
            c.failed = true;
            c.error = QString::fromUtf8(e);
        } catch (const std::exception &e) {
            c.failed = true;
            c.error = QString::fromUtf8(e.what());
        } catch (...) {
            c.failed = true;
            c.error = QStringLiteral("unknown exception type");
        }
    }

    for (int k = 0; k < n; ++k) {
        if (out[k].failed)
            throw out[k].error;
        if (repairCount > 20 && !out[k].repaired)
            cutLayer(first + k, true, out[k], scratch[0]);
        if (out[k].repaired)
            ++repairCount;
    }
}
