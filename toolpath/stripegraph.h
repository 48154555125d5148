#pragma once
// Vector-space offsetting of a layer's outlines: a graph of stripes
// (directed boundary edges) meeting at joints (merged end points).
//
// Units: StripeGraph's public operations take and give millimetres in the
// cross-section's frame (segment x, segment y); inside, points are fixed
// point with kScale units per mm. Orientation inside the graph: outer
// boundaries run counter-clockwise (x right, y up) and holes clockwise, so
// the filled region lies left of every stripe. Segments in and out follow the
// slicer's convention (segment.h), which is the reverse.
//
// Failures throw a QString: "StripePoly::build() FATAL ERROR" for a ring that
// cannot be closed, the repairJoints() messages for a graph that cannot be
// mended. Log lines go to the debug log only.
#include "geometry/segment.h"
#include "geometry/polyline.h"

#include <QHash>
#include <QVector>

struct StripePoint {
    qint64 x = 0, y = 0;
    bool operator==(const StripePoint &o) const { return x == o.x && y == o.y; }
};

struct StripeJoint {
    StripePoint pos;
    QVector<int> in, out; // stripes ending / starting here (indices, ascending)
};

struct Stripe {
    int from = -1, to = -1; // joints
    int ring = -1;          // the input ring it came from; walks prefer staying on it
};

class StripeGraph;

// One closed polygon of the graph: the joints' positions along a walk of
// stripes back to its start; the closing edge last -> first is implied.
class StripePoly {
public:
    QVector<StripePoint> pts;
    QVector<int> stripes; // the stripes walked, in order

    // Walks from stripe `first` (not yet in `used`) along unused stripes,
    // preferring the current stripe's ring at joints with a choice, until the
    // walk returns to first's start joint; marks the stripes walked in `used`.
    // Throws "StripePoly::build() FATAL ERROR" when a joint has no unused way
    // on (the graph is not balanced).
    void build(const StripeGraph &g, int first, QVector<bool> &used);
    // Signed area in square fixed-point units, positive counter-clockwise.
    double area() const;
};

class StripeGraph {
public:
    static constexpr double kScale = 65536.0;         // fixed-point units per mm
    static constexpr double kTolerance = 0.0009765625; // mm: 1/1024
    static constexpr qint64 kTol = 64;                 // kTolerance in units
    // Mitre joins reach at most this many distances from the corner: corners
    // down to 39 degrees stay sharp (the notches between a star's spikes
    // were cut 0.12 mm short at 2), needles are cut off square.
    static constexpr double kMiterLimit = 3.0;

    // Winding rule of the input, as PolyFillerAlg: 0 NonZero, 1 Positive
    // (inside winding +1 in the slicer's convention), anything else Odd.
    int fillRule = 0;

    QVector<StripeJoint> joints;
    QVector<Stripe> stripes;

    // Builds the graph of a layer's cross-section (mm, slicer orientation).
    // Segments with a non-finite coordinate or one beyond +-1e6 mm are
    // dropped; end points within kTolerance (in x and y) become one joint;
    // stripes of zero length are dropped. Then sgRepair and repairJoints.
    static StripeGraph fromSegs(const Segments &segs, int polyFillerAlg);

    // The region inside the outlines (by fillRule) moved `distance` mm
    // outwards (negative: inwards): exact, with mitred corners; islands that
    // vanish are gone, islands that split come out as separate rings. The
    // result is built with kTolerance, repaired (sgRepair, repairJoints) and
    // uses the NonZero rule. Throws for a non-finite distance.
    StripeGraph offset(double distance) const;

    // The graph to be offset by the next step: rings with vertices that lie
    // within kTolerance of the line through their neighbours lose them, and
    // rings that enclose no area are dropped.
    StripeGraph transition() const;

    // Closed outlines of `type` in raster units: x = (mm x - originX) / pitchX,
    // likewise y; outer outlines counter-clockwise, holes clockwise.
    PathList toPolyLines(int type, double originX, double originY, double pitchX, double pitchY) const;

    // Every stripe as a segment in mm, slicer orientation (fills with any rule).
    Segments toSegs() const;

    // The closed rings of the graph; a balanced graph splits into rings
    // completely. Rings of fewer than three points are skipped.
    QVector<StripePoly> polys() const;

    // Connects the broken ends: a joint with more incoming than outgoing
    // stripes is joined to the nearest joint with more outgoing than incoming
    // ones, globally nearest pair first, by an added stripe. Returns the
    // number of stripes added.
    int sgRepair();

    // Removes the stripes of open chains at terminal joints (joints whose
    // incoming and outgoing stripes do not balance). Pass 0 removes, pass 1
    // only checks; terminal joints left then throw.
    void repairJoints();

    int terminalJointCount() const;
    // Appends a stripe between two points (fixed point); end points within
    // kTol of an existing joint use it. Zero-length stripes are not added.
    // Returns the stripe's index or -1.
    int addStripe(StripePoint a, StripePoint b, int ring = -1);
    // addStripe for the closed ring pts[0] -> pts[1] -> ... -> pts[0], each
    // point looked up once.
    void addRing(const QVector<StripePoint> &pts, int ring);
    // Removes the stripes whose `dead` flag is set and renumbers.
    void removeStripes(const QVector<bool> &dead);
    bool isEmpty() const { return stripes.isEmpty(); }

private:
    int jointAt(StripePoint p);
    int addStripeBetween(int ja, int jb, int ring);
    QHash<quint64, QVector<int>> m_cells; // joints by kTol cell, for jointAt
};
