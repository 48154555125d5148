#pragma once
// One toolpath of a layer: an ordered run of 2-D points in raster units
// (pixels of the layer plane; one extrusion width is about 3.003 units) with a
// segment type, optional per-vertex widths and optional child "hair" paths.
//
// Failures throw a QString with the exact message text; the polyline is left
// unchanged by every failure.
#include <QList>
#include <QString>
#include <QVector>

// Segment types. The numbers are written to G-code and index the per-type
// factor arrays; never renumber.
enum SegType : int {
    Unknown = 0,
    Perimeter = 1,
    Loop = 2,
    HShell = 3,
    Infill = 4,
    Support = 5,
    SoftSupport = 6,
    Skirt = 7,
    Raft = 8,
    OuterHair = 9,
    InnerHair = 10,
    Travel = 11,
};
constexpr int SegTypeCount = 12;
constexpr int SegTypeSchemeCount = 5;

// Names of the segment types, scheme-major: [scheme][type]. Scheme 0 is our
// own (written after ";segType:" and used in the factor keys); schemes 1-4 are
// labels other slicers write for the same type. "" = the scheme has no label.
extern const char *const SegTypeNames[SegTypeSchemeCount * SegTypeCount];

// Label of `type` in `scheme`; "" for an out-of-range type or scheme.
const char *segTypeName(int type, int scheme = 0);
// Type whose label in `scheme` equals `name`, or -1. Where a scheme gives one
// label to two types (scheme 1 "FILL"), the lower type number wins.
int segTypeFromName(const QString &name, int scheme);
// Parameter keys of the feed-rate and extrusion factors: "FFactor_"/"EFactor_"
// + scheme-0 name; only types Perimeter..InnerHair have one (else "").
QString feedFactorKey(int type);
QString extrusionFactorKey(int type);
inline bool segTypeHasFactors(int type) { return type >= Perimeter && type <= InnerHair; }

struct PolyPoint {
    float x = 0, y = 0;
    PolyPoint() = default;
    PolyPoint(float x_, float y_) : x(x_), y(y_) {}
    PolyPoint operator+(const PolyPoint &o) const { return {x + o.x, y + o.y}; }
    PolyPoint operator-(const PolyPoint &o) const { return {x - o.x, y - o.y}; }
    PolyPoint operator*(float s) const { return {x * s, y * s}; }
    bool operator==(const PolyPoint &o) const { return x == o.x && y == o.y; }
    bool operator!=(const PolyPoint &o) const { return !(*this == o); }
};

// What contour tracing hands to the point-append and simplification
// operations. Areas in square raster units, distances in raster units.
struct PathParams {
    // Widest area a removed vertex may cut off or add: widthInPixels² ×
    // `PathSmoothing`. 0 keeps every vertex that is not a repeat.
    float smoothingArea = 0;
    // How far any point of the traced outline may end up from the simplified
    // one. A tenth of a pixel: chords of a convex outline lie inside it, and
    // at a quarter pixel they pulled small round walls in by 0.014 mm.
    float maxDeviation = 0.1f;

    static PathParams fromSmoothing(float widthInPixels, float pathSmoothing)
    {
        PathParams p;
        p.smoothingArea = widthInPixels * widthInPixels * pathSmoothing;
        return p;
    }
};

class PolyLine {
public:
    QVector<PolyPoint> pts;     // vertices in drawing order, raster units
    int type = Unknown;         // a SegType value
    QVector<float> w;           // per-vertex width (raster units): empty or pts.size()
    QVector<PolyLine> hairs;    // child hairs, attached by hairKey
    bool closed = false;        // the closing segment last -> first is implied
    bool farTravelAfter = false;// the travel after this path counts as far
    bool keepFlag = false;      // not read by any operation; copied by copies only
    int hairKey = 0;            // in a parent's hairs: vertex index * 2 + reverse bit

    PolyLine() = default;
    explicit PolyLine(int segType) : type(segType) {}

    int size() const { return pts.size(); }
    bool isEmpty() const { return pts.isEmpty(); }
    bool hasWidths() const { return !w.isEmpty(); }

    // Kernel 1, 3 or 5 binomial smoothing of the interior vertices (and
    // widths); ends never move. Throws for closed polylines and other kernels.
    PolyLine smoothed(int kernel) const;
    // Cuts segments whose Manhattan length exceeds 1.5 × maxLen into
    // round(L1 / maxLen) equal pieces. Open, width- and hair-less only.
    PolyLine splitLongSegs(float maxLen) const;
    // Cuts the open polyline at arc length `length` (raster units). `walked`
    // gets the length of the whole segments before the cut one, or the full
    // length when the polyline is shorter. True when the cut was reached.
    bool truncate(float length, float *walked = nullptr);
    // Treats list[firstIndex...] as one chain and truncates it to `length`;
    // paths after the cut are removed. `total` gets the walked lengths' sum.
    static bool truncateChain(QList<PolyLine> &list, float length, int firstIndex,
                              float *total = nullptr);
    void translate(float dx, float dy);
    // Closed -> open, with the first vertex repeated at the end.
    void openLoop();
    // The same vertices from `start`, forward or backward with wrap-around.
    PolyLine rotatedFrom(int start, bool reverse) const;
    PolyLine reversed() const { return rotatedFrom(pts.size() - 1, true); }
    // Appends other's vertices (and its widths when it has any).
    void append(const PolyLine &other) { appendFrom(other, 0); }
    void appendFrom(const PolyLine &other, int skip);
    // Appends this path to `list`, expanding its hairs into separate paths;
    // without hairs and with `join`, appends the vertices to list's last path.
    void spliceInto(QList<PolyLine> &list, bool join) const;

    // Contour tracing's point-append: drops a point that repeats the last one.
    void addPoint(const PolyPoint &p, const PathParams &params);
    // Removes vertices while each removal changes the enclosed area by less
    // than params.smoothingArea and no traced point moves further than
    // params.maxDeviation from the result. Ends of open paths stay; closed
    // paths stay closed with at least three vertices. Widths follow vertices.
    void simplify(const PathParams &params);
    // The same with every candidate in one heap: simplify's tested twin.
    void simplifyOneHeap(const PathParams &params);
    // One pass of the hair simplifier: drops a vertex when it, and those
    // dropped before it, lie within `tolerance` of the chord from the last
    // kept vertex to the next one, with widths (when present) within
    // `widthTolerance` of the width interpolated along that chord.
    void simplifyPass(float tolerance, float widthTolerance = 0.3f);
    // The same pass testing the dropped vertices one by one: its twin.
    void simplifyPassScalar(float tolerance, float widthTolerance = 0.3f);
    // Repeats simplifyPass while a pass leaves at most 95 % of the vertices.
    void simplifyRepeated(float tolerance, float widthTolerance = 0.3f);

    // Euclidean length, including the closing segment of a closed path.
    float length() const;
    // Signed area (shoelace), positive for counter-clockwise in x-right/y-up.
    float area() const;

private:
    void simplifyWith(const PathParams &params, bool zeroQueue);
};

// A layer's paths in drawing order. QList keeps each PolyLine behind its own
// pointer, so reordering moves pointers, never vertex data.
using PathList = QList<PolyLine>;
