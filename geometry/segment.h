#pragma once
// A layer's cross-section is a list of directed 2D segments in the
// horizontal plane, in mm: segment x is scene x, segment y is scene z.
// Direction carries the facing of the triangle that made it: under the
// winding fills the inside of a correctly facing mesh has winding +1.
#include <QVector>

struct Segment {
    float x0, y0, x1, y1;
};
using Segments = QVector<Segment>;

// Raster window in mm (minX, minY, maxX, maxY); it maps onto the whole plane.
struct Extents {
    float minX = 0, minY = 0, maxX = 0, maxY = 0;
    float width() const { return maxX - minX; }
    float height() const { return maxY - minY; }
};
