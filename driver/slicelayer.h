#pragma once
// The per-layer record of a slicing job. SliceFaces creates the records with
// their cross-section segments; the toolpath stages fill the rest.
#include "geometry/segment.h"
#include "geometry/polyline.h"
#include <QByteArray>

class Project;

struct SliceLayer {
    Project *owner = nullptr;  // the scene the layer was cut from; not owned
    int index = 0;
    float z = 0;               // mm, the middle of the printed layer
    Segments segs;             // object cross-section, directed (see segment.h)
    Segments supportSegs;      // support-bar cross-section, undirected
    PathList supportPaths;     // support chains (raster units)
    PathList paths;            // ordered paths of the layer
    PathList paths2;           // the path ordering's second output list
    QByteArray gcode;          // the layer's G-code text
    PathList loops;            // arranged loops of the parallel stage

    // Drops everything the toolpath stages made once the G-code is taken.
    void release()
    {
        supportPaths.clear();
        paths.clear();
        paths2.clear();
        gcode.clear();
        loops.clear();
    }
};
