#pragma once
// Routes travel moves of one layer around the outside of the part.
//
// The routing plane is the layer mask as the driver makes it (a set bit is
// outside the solid area) after shrinking it by about 1.333 extrusion widths:
// a clear bit is where the nozzle may travel. A travel between two points
// of the same clear area never leaves that area: when the straight line stays
// inside it is used as it is; otherwise the shortest 8-connected pixel path
// (A*, octile distance) is found and pulled straight where the mask allows.
// Points in different areas, or outside every area, get no route: the writer
// then travels straight, with its far-travel retract rules.
//
// Deterministic: ties in the search are broken by pixel index.
#include "slicer/plane1.h"
#include "toolpath/polyline.h"
#include "toolpath/runlabels.h"

class TravelRouter {
public:
    // Keeps a reference to `mask`: it must outlive the router.
    explicit TravelRouter(const Plane1 &mask);

    // A Travel path from `from` to `to` (raster units) with at least the two
    // end points, or an empty path when no route inside the mask exists.
    PolyLine route(PolyPoint from, PolyPoint to) const;

    // Whether every pixel the segment touches (sampled every half pixel) is
    // free.
    bool segmentFree(PolyPoint a, PolyPoint b) const;
    bool freeAt(int x, int y) const;

private:
    // The free pixel nearest to p (within 3 pixels), or false.
    bool snap(PolyPoint p, int &x, int &y) const;
    bool search(int sx, int sy, int gx, int gy, int x0, int y0, int x1, int y1,
                QVector<PolyPoint> &pixels) const;

    const Plane1 &m_mask;
    RunLabels m_areas;
};
