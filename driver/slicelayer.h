#pragma once
// The per-layer record of a slicing job, created by SliceFaces with the
// layer's cross-section segments.
#include "geometry/segment.h"

struct SliceLayer {
    int index = 0;
    float z = 0;               // mm, the middle of the printed layer
    float printZ = 0;          // mm above zmin: the layer's top, the height it is printed at
                               // before the raft and ZAdjust lift it
    Segments segs;             // object cross-section, directed (see segment.h)
    Segments supportSegs;      // support-bar cross-section, undirected
};
