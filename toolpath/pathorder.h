#pragma once
// Path ordering: turns a layer's unordered pool of paths into drawing order.
//
// All coordinates are raster units of the layer plane (one extrusion width is
// p = 1 / 0.333 units). `a` is the ordering unit (raster units): the
// good-enough radius is 1.5 a, joins reach k a (Manhattan), the perimeter gap
// is gap × a long. The head position is owned by the caller and updated here.
// Everything here is a pure function of its arguments: no state between calls.
//
// Travel: within an island, a travel whose straight line would leave the
// travel mask (the layer region grown by about 1.333 extrusion widths) is
// replaced by an explicit Travel path routed inside it (TravelRouter), so the
// nozzle does not cross outer walls or gaps of the part when a way round
// exists. Paths themselves are never cut at the mask: a path that leaves it
// is drawn as it stands.
#include "params/slicerparams.h"
#include "raster/plane1.h"
#include "geometry/polyline.h"

#include <vector>

class RunLabels;

class TravelRouter;

// Index of the pool path whose start is nearest to `head` (closed paths: any
// vertex; open paths: vertex 0, and the last vertex when allowReverse), or -1
// for an empty pool. Pool order is searched; the first candidate within 1.5 a
// wins at once; ties keep the earlier candidate. `vertex` gets the vertex.
int findNearest(const PathList &pool, float a, PolyPoint head, bool allowReverse, int *vertex);

// Shortens both ends of an opened loop by gapLength / 2 each, moving the end
// vertices towards their neighbours (never past them).
void removePerimeterGap(PolyLine &path, float gapLength);

// A loop opened at a sharp tip (a turn of more than 100 degrees) starts and
// ends up to a / 2 further along its first edge instead, so the perimeter gap
// lies on a straight edge and the tip itself is drawn through: a gap at the
// tip leaves the whole corner unfilled. Loops with hairs are left as they are.
void moveSeamOffSharpTip(PolyLine &path, float a);

// Moves paths from `pool` to `output` in drawing order (see pathorder.cpp),
// updating `head`. With `single` it places one path and returns. With a
// router, a path that is not joined to the previous one is preceded by a
// Travel path through the router's mask when the route bends. Returns
// whether `output` is non-empty.
// With `later`, the travels are not routed here: each is noted (where in
// `output` it goes, from and to) for routeTravels, which inserts them.
struct TravelRequest {
    int at;  // index in output of the path it leads to
    PolyPoint from, to;
};
bool orderPaths(float a, float k, float gap, PathList &pool, PathList &output, bool allowReverse,
                PolyPoint &head, bool single = false, const TravelRouter *router = nullptr,
                std::vector<TravelRequest> *later = nullptr);

// Routes the noted travels (on the OpenMP threads: a route depends only on
// its ends and the router) and inserts those orderPaths would have added
// before the paths they lead to.
void routeTravels(const TravelRouter &router, const std::vector<TravelRequest> &later, PathList &output);

// Far start target of layer `layer` for LayerStartPos 1..6, in raster units.
// bedWidth and bedDepth in mm (build-volume entries 0 and 2), widthInPixels
// one extrusion width in raster units. Throws "FATAL ERROR: invalid
// sp.LayerStartPos while paralellLayerProcessing <value>" for other values.
PolyPoint layerStartTarget(int layerStartPos, int layer, float bedWidth, float bedDepth,
                           float widthInPixels);

// One connected region of a layer: its shell loops and what is drawn inside.
struct Island {
    // shells[0] holds the perimeter loops (outer contour and holes),
    // shells[k] the loops of shell k; higher k lies further inside.
    QVector<PathList> shells;
    PathList fill; // HShell and Infill lines, inner hairs
    bool isEmpty() const;
};

// Sorts a layer's traced outlines (Perimeter and Loop paths, as the shell
// steps hand them over in one list) into shell lists for formIslands:
// shells[0] the perimeters, shells[k] the loops of shell k. A loop's shell
// is read from its distance to the layer outline (the nearest of a few of
// its vertices): shell k lies firstOffset + k·p pixels inside, firstOffset being
// the perimeter's own offset (0.5 p − VShellOffset·p²). `layerMask` is the
// driver's layer mask (set bit = outside).
QVector<PathList> splitShells(const Plane1 &layerMask, const PathList &outlines, float p,
                              float firstOffset);

// Splits the layer's paths into islands by the connected area of the layer
// region each path's first inside vertex lies in. `layerMask` is the driver's
// layer mask (a set bit is outside the solid area). Paths with no vertex
// inside any area (outer hairs, skirt, support) go to `remaining`, in their
// order. Islands are numbered in scan order of their areas.
// `areas`, when given, is RunLabels(layerMask, false), made elsewhere.
QVector<Island> formIslands(const Plane1 &layerMask, const QVector<PathList> &shells,
                            const PathList &fill, PathList &remaining, const RunLabels *areas = nullptr);

// Places the islands one by one, nearest first: shell loops in sweeps from
// the innermost shell to the perimeter (one loop per shell list per sweep,
// a = p, no joins, no reversal), then the island's fill (join factor 2.5,
// 0.5 with concentric shells, reversal allowed). Travels within an island are
// routed through `routing` when given (see TravelRouter). Then the remaining
// paths with the general ordering (unit a, join factor 2.5). Appends to
// `output`, updates `head`. Throws "FATAL ERROR: processIslands_and_RemainingHairs()
// islandIdx<0 <count>" when no island can be chosen.
// `routingAreas`, when given, is RunLabels(*routing, false), made elsewhere.
void processIslands(const SlicerParams &sp, float p, float a, QVector<Island> islands,
                    PathList remaining, PolyPoint &head, PathList &output,
                    const Plane1 *routing = nullptr, const RunLabels *routingAreas = nullptr);

// The whole ordering of one layer as the driver calls it: `shells` and `fill`
// are split into islands by `layerMask` (formIslands), `other` (support,
// outer hairs, anything outside the islands) is ordered after them, and
// travels inside an island are routed through `travelMask` (driver sense:
// set bit = outside; pass nullptr for straight travels). Appends to `output`
// (which may already hold the layer's skirt) and updates `head`.
// The labels of the two masks' clear areas may be made beforehand (on
// other threads): `maskAreas` and `travelAreas`, as RunLabels(mask, false).
void orderLayer(const SlicerParams &sp, float p, float a, const Plane1 &layerMask,
                const Plane1 *travelMask, const QVector<PathList> &shells, const PathList &fill,
                const PathList &other, PolyPoint &head, PathList &output,
                const RunLabels *maskAreas = nullptr, const RunLabels *travelAreas = nullptr);
