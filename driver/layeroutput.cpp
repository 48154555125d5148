// Path ordering hand-off and G-code of one layer.
#include "driver/slicer.h"
#include "gcode/gcodewriter.h"
#include "toolpath/pathorder.h"

#include <cmath>

void Slicer::orderAndWriteLayer(int L, LayerWork &w, PolyPoint &head)
{
    const FIFO<Plane1> &masks = *layerMasks;
    const Plane1 &mask = masks.get(L);
    // Travel may use the solid area grown by about 1.333 widths (the mask's
    // set bits are outside, so shrinking them grows the free area).
    const Plane1 travel = mask.offsetN(int(std::lround(grid.widthInPixels * 1.333f)), 'a', 'a');
    const float a = minBarWidth / grid.pitchX * 0.6f;

    SliceLayer &rec = layers.data()[L];
    // Layer 0 starts with the skirt or brim, already in drawing order.
    PathList out = L == 0 ? firstLayer.skirt : PathList();
    orderLayer(*params, grid.widthInPixels, a, mask, &travel, w.shells, w.fill, w.other, head, out);
    rec.gcode = writeLayerGCode(*params, L, out, xf, grid.pixelFactor, firstLayer.raft.height);
}
