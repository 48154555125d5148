#pragma once
// The first shell step by exact distance.
//
// A box blur and a threshold move a straight, axis-aligned edge by the wanted
// distance, but they pull a curved edge towards its centre of curvature, round
// every convex corner and place slanted edges by a profile that needs
// correcting afterwards: small pins came out up to 0.06 mm too small. The
// first step's outline is the perimeter, the wall a user measures, so this
// step works from the section's edge itself: the 128 level of the coverage is
// traced, each crossing is moved to where the covered area of its pixel row
// (or column) puts the edge (exact for a straight edge at any slant), and
// every pixel near it gets its distance to that outline. The result is again
// a coverage-like plane whose 128 level lies `distance` inside the section,
// with a linear ramp, so tracing it with interpolation gives the offset line.
// Parts of the offset region that are nowhere wider than kThinInset are
// dropped whole, so that they vanish into hairs of their exact width.
#include "raster/plane1.h"
#include "raster/plane8.h"
#include "geometry/polyline.h"

#include <vector>

// Parts of the offset region no wider than this anywhere (pixels) are
// dropped: a wall up to 1.6 widths thick is one hair of its own width rather
// than a perimeter doubled back on itself (two widths of material in it).
constexpr float kThinInset = 3.003f;
// How many pixels the result's ramp takes from 0 to 255.
constexpr float kDistanceRamp = 2.0f;
// The steps (pixels, inwards) this takes; outside them the caller uses the
// blur. Distances are measured inside the section only, so the new level
// must lie at least half the ramp inside.
constexpr float kMinDistanceStep = kDistanceRamp / 2;
constexpr float kMaxDistanceStep = 12.0f;

// Moves the 128 level of `cov` (area coverage: 255 inside, 0 outside, edge
// pixels their covered fraction) inwards by `distance` pixels,
// kMinDistanceStep <= distance <= kMaxDistanceStep. `summary` is cov's 16 x 16 block
// summary on entry and is kept up to date; `visited` is scratch.
// `edge` gets the outline the distances were measured to. With
// `areaCoverage` false, cov is the result of an earlier step (its level
// runs linearly across the ramp) and its outline is traced as it is.
// `traced`, when given with `areaCoverage` false, is cov's level as
// contourDetect3 traces it with keepEveryCrossing() (the caller traced it
// already).
void distanceOffset(Plane8 &cov, Plane8 &summary, float distance, Plane1 &visited,
                    PathList *edge = nullptr, bool areaCoverage = true, const PathList *traced = nullptr);
// The same step through the band kernels' first, plainer forms: the twin the
// faster kernels must match byte for byte (exported for tests).
void distanceOffsetReference(Plane8 &cov, Plane8 &summary, float distance, Plane1 &visited,
                             PathList *edge = nullptr, bool areaCoverage = true, const PathList *traced = nullptr);

// The blocks of the distance pass's band: edge blocks of the block summary
// (mixed, or uniform beside a block of the other uniform value; with
// `borderIsEdge` also inside blocks on the plane's border) grown by one
// block; 1 in, 0 out, row by row. The twin keeps the plain per-block tests
// (exported for tests).
std::vector<uchar> bandBlocks(const Plane8 &summary, bool borderIsEdge);
std::vector<uchar> bandBlocksScalar(const Plane8 &summary, bool borderIsEdge);

// Path parameters under which contourDetect3 keeps every crossing of the
// level (no smoothing).
PathParams keepEveryCrossing();

// Moves every vertex of the outlines onto the level `distance` of the
// distance to `edge` (along the line from its nearest point of the edge), so
// the traced offset lies exactly where the distance says: linear
// interpolation between pixel centres cuts a little inside a round wall
// (the distance to a curve is not linear across it). Vertices further than a
// pixel from the level stay.
void snapToDistance(PathList &outlines, const PathList &edge, float distance);

// The outline of the region of `cov` (128 level) with each crossing placed by
// the covered area of its pixel row or column (exported for tests).
PathList areaOutline(const Plane8 &cov, const Plane8 &summary, Plane1 &visited);

// Whether every one of `count` points lies within sqrt(tol2) of the segment
// a-b (squared distances compared, NaN fails); the vector road and its
// scalar twin give the same answer bit for bit (exported for tests).
bool pointsNearChord(const PolyPoint *pts, int count, PolyPoint a, PolyPoint b, float tol2);
bool pointsNearChordScalar(const PolyPoint *pts, int count, PolyPoint a, PolyPoint b, float tol2);

// Drops the points that lie within `tolerance` of the chord between the last
// kept point and the next one, at most `maxRun` in a row (a greedy pass; the
// ends stay): straight runs of crossings become one segment each, since the
// distance pass costs a box around every segment. The scalar twin tests
// every chord point by point (exported for tests).
void mergeStraightRuns(PolyLine &pl, float tolerance, int maxRun);
void mergeStraightRunsScalar(PolyLine &pl, float tolerance, int maxRun);
