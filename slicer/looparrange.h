#pragma once
// Arranges a layer's traced outlines into the shell lists path ordering
// sweeps over: shells[0] the perimeters (outer contours and holes), shells[1]
// the loops. Loops of all inner shells share shells[1]: the shell steps hand
// over one list without step boundaries, and a single inner list still
// draws a contour's loops before its perimeter.
#include "toolpath/polyline.h"

#include <QVector>

QVector<PathList> arrangeLoops(const PathList &outlines, int vshellCnt);
