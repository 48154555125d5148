#pragma once
// The per-layer record of a slicing job. SliceFaces creates the records with
// their cross-section segments; the toolpath stages fill the rest.
#include "slicer/segment.h"
#include <QByteArray>

class Project;

struct SliceLayer {
    Project *owner = nullptr;  // the scene the layer was cut from; not owned
    int index = 0;
    float z = 0;               // mm, the middle of the printed layer
    Segments segs;             // object cross-section, directed (see segment.h)
    Segments supportSegs;      // support-bar cross-section, undirected
    QByteArray gcode;
};
