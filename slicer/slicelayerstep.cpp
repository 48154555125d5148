// sliceLayer: a layer's cross-section becomes its mask in the layer-mask ring.
#include "common/perfdata.h"
#include "slicer/slicer.h"

void Slicer::sliceLayer(int L)
{
    PerfScope perf("sliceLayer");
    if (L < 0 || L >= layerCount) {
        // Beyond the object's bottom or top: every pixel is outside.
        rasterizer->clear();
    } else {
        // Fills with checking while at most 20 layers needed repair; a layer
        // whose fill leaves a row open is repaired and filled again.
        rasterizer->fill(layers[L].segs);
        repairCount = rasterizer->repairCount();
    }
    rasterizer->mask(layerMasks->acquire(L));
}
