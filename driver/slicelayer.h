#pragma once
// The per-layer record of a slicing job. SliceFaces creates the records with
// their cross-section segments; the driver adds the layer's G-code.
#include "geometry/segment.h"

#include <QByteArray>

struct SliceLayer {
    int index = 0;
    float z = 0;               // mm, the middle of the printed layer
    Segments segs;             // object cross-section, directed (see segment.h)
    Segments supportSegs;      // support-bar cross-section, undirected
    QByteArray gcode;          // the layer's G-code text

    // Drops the G-code once it is taken.
    void release() { gcode.clear(); }
};
