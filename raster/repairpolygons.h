#pragma once
#include "geometry/segment.h"

// Closes a layer's open outlines in place. Points whose x and y both lie
// within +-tolerance (mm) are one vertex; every chain end that does not
// continue is joined to the nearest chain start that has no predecessor,
// globally nearest pair first, by an appended segment (end -> start), so
// chains keep their direction and winding. Existing segments are never
// changed; segments with non-finite coordinates are ignored.
// Returns the number of segments appended.
int repairPolygons(Segments &segs, float tolerance);
