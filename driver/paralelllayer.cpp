// The parallel part of a batch: whole layers on OpenMP threads.
#include "driver/slicer.h"
#include "driver/supportchains.h"
#include "toolpath/fill.h"
#include "toolpath/pathorder.h"

#include <cmath>
#include <exception>

namespace {

// Start target of a layer for LayerStartPos 1..6: a point far outside the
// bed in the chosen direction, in whole raster units (truncated toward 0).
PolyPoint startTarget(int layerStartPos, int layer, const BuildVolume &bv, float widthInPixels)
{
    const PolyPoint t = layerStartTarget(layerStartPos, layer, bv.W, bv.D, widthInPixels);
    return PolyPoint(std::trunc(t.x), std::trunc(t.y));
}

} // namespace

void Slicer::paralellLayerProcessing(int first, int last)
{
    const int n = last - first + 1;
    batchWork = QVector<LayerWork>(n);
    // Raw pointers: no container may detach while the threads share it.
    LayerWork *work = batchWork.data();

    // An exception must not leave an OpenMP region (the process would end):
    // every layer catches its own, and the lowest layer's is thrown after
    // the join, so the message never depends on thread timing.
#pragma omp parallel for schedule(static)
    for (int k = 0; k < n; ++k) {
        const int L = first + k;
        LayerWork &w = work[k];
        try {
            prepareLayer(L, w);
            if (parallelStarts) {
                PolyPoint head = startTarget(params->LayerStartPos, L, *machineSize, grid.widthInPixels);
                orderAndWriteLayer(L, w, head);
            }
        } catch (const QString &e) {
            w.failed = true;
            w.error = e;
        } catch (const char *e) {
            w.failed = true;
            w.error = QString::fromUtf8(e);
        } catch (const std::exception &e) {
            w.failed = true;
            w.error = QString::fromUtf8(e.what());
        } catch (...) {
            w.failed = true;
            w.error = QStringLiteral("unknown exception type");
        }
    }
    for (int k = 0; k < n; ++k)
        if (work[k].failed)
            throw work[k].error;
}

void Slicer::prepareLayer(int L, LayerWork &w)
{
    const SlicerParams &sp = *params;
    const FIFO<PathList> &loops = *loopLists;
    const FIFO<Plane1> &layerMasksRing = *layerMasks;
    const FIFO<PathList> &fills = *fillLists;
    const FIFO<Plane1> &shell = *shellRegions;
    const FIFO<Plane1> &infill = *infillRegions;

    // Hairs (and concentric shells) first, then infill and shell lines.
    w.fill = fills.get(L);
    fillLayer(grid, L, sp, infill.get(L), shell.get(L), PathList(), w.fill);

    const SliceLayer &rec = layers.constData()[L];
    w.other = supportChains(rec.supportSegs, grid.originX, grid.originY, grid.pitchX, grid.pitchY,
                            minBarWidth);

    // Loops into shell lists by their depth below the outline: the shell
    // steps place the perimeter 0.5 p - VShellOffset p^2 inside, each loop p
    // further.
    const float p = grid.widthInPixels;
    w.shells = splitShells(layerMasksRing.get(L), loops.get(L), p, 0.5f * p - sp.VShellOffset * p * p);
}
