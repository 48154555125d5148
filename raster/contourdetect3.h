#pragma once
// Tracing region boundaries out of an 8-bit plane.
#include "geometry/polyline.h"

class Plane8;
class Plane1;

// Boundaries of the region source >= 128 as polylines along the 128
// iso-line, in the source's pixel coordinates: pixel (x, y) has its centre
// at (x + 0.5, y + 0.5), so a hard edge between pixels x - 1 and x lies at
// about x. A contour that comes back to its start is closed (closed flag
// set, no repeated point); one that reaches the plane's border is open and
// ends there. Orientation: the inside is on the left of the walking
// direction, so outer boundaries run counter-clockwise (PolyLine::area() > 0,
// x right, y up) and holes clockwise. Contours of 3 points or fewer are
// dropped; the rest are simplified with pathParams.
//
// blockSummary: one byte per 16 x 16 block ((width / 16) x (height / 16)):
// 0 all pixels below 128, 255 all at or above, 128 mixed (a block may be
// called mixed when it is not). Only blocks marked mixed, and uniform blocks
// touching a uniform block of the other value, are examined. visited is scratch
// (resized here, and cleared only where a trace can mark it).
// Source sizes must be multiples of 16; a mismatch throws a QString.
// The result does not depend on the number of threads.
// Profiling stage "contourDetect3".
PathList contourDetect3(const Plane8 &source, const Plane8 &blockSummary, Plane1 &visited,
                        const PathParams &pathParams);
// The same with the walk as first written, one state for all directions:
// the twin the tracer's per-direction steps must match point for point
// (exported for tests).
PathList contourDetect3Plain(const Plane8 &source, const Plane8 &blockSummary, Plane1 &visited,
                             const PathParams &pathParams);

// The blocks contourDetect3 examines: blockSummary with every block a
// contour can pass through set to 128 (mixed blocks, and uniform blocks next
// to a uniform block of the other value, the level crossing lying between
// them), the rest as they are. The scalar twin asks each block's neighbours
// one by one.
Plane8 contourBlocksToExamine(const Plane8 &blockSummary);
Plane8 contourBlocksToExamineScalar(const Plane8 &blockSummary);
