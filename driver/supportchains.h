#pragma once
// Support paths of one layer: the support-bar cross-section segments chained
// into polylines of type Support.
#include "geometry/segment.h"
#include "geometry/polyline.h"

// segs: the layer's support segments in mm (undirected). Each segment is put
// start-before-end (by x, then y), the list is sorted by start x (stable),
// converted to raster units ((point - origin) / pitch per axis) and chained:
// a segment joins the newest chain whose last point lies within
// |dx| + 2 |dy| < D of its start, D = 1.9 x minBarWidth / pitchX raster
// units; otherwise, and always when its ends share x, it starts a new chain.
// Segments with non-finite coordinates are skipped.
PathList supportChains(const Segments &segs, float originX, float originY, float pitchX,
                       float pitchY, float minBarWidth);
