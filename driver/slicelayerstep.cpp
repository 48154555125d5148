// sliceLayer: a layer's cross-section becomes its mask in the layer-mask ring.
#include "driver/slicer.h"

#include <utility>

void Slicer::sliceLayer(int L)
{
    Plane1 &slot = layerMasks->acquire(L);
    if (L < 0 || L >= layerCount) {
        // Beyond the object's bottom or top: every pixel is outside.
        slot = outsideMask;
        return;
    }
    if (L < stagedFirst || L >= stagedFirst + staged.size())
        cutAhead(L);
    std::swap(slot, staged[L - stagedFirst].mask);
}
