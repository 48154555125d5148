#include "common/perfdata.h"
#include "driver/stages.h"
#include "params/slicerparams.h"
#include "toolpath/vectoroffset.h"

#include <utility>

QVector<CutLayer> cutAndOffsetLayers(const LayerGrid &grid, const SlicerParams &sp,
                                     QVector<SliceLayer> &layers, int first, int count, CutState &state)
{
    PerfScope perf("cutAndOffset");
    return cutLayers(grid, sp, layers, first, count, state, [&](const SliceLayer &layer, CutScratch &s, CutLayer &out) {
        if (sp.UseVectorOffseter) {
            // Outlines from the cross-section's polygons; no hairs on this path.
            VectorOffsetResult v;
            vectorOffsetLayer(layer.segs, grid, sp, v);
            out.outlines = std::move(v.outlines);
            out.hairs.clear();
            std::swap(out.inner, v.infill);
            return;
        }
        shellSteps(grid, s.raster, sp, s.shells, s.offset);
        out.outlines = std::move(s.shells.outlines);
        out.hairs = std::move(s.shells.hairs);
        std::swap(out.inner, s.shells.infill);
        s.shells.outlines.clear();
        s.shells.hairs.clear();
    });
}
