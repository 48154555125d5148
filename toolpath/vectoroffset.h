#pragma once
// The vector offsetter's layer step: perimeters and loops of one layer by
// offsetting its cross-section polygons as vectors (StripeGraph), which keeps
// sharp corners sharp. It makes no hairs.
//
// Units: the cross-section in mm (segment.h); the outlines it returns in
// raster units of `grid` (x = (mm - originX) / pitchX), like the raster chain.
#include "raster/layergrid.h"
#include "raster/plane1.h"
#include "geometry/polyline.h"

struct SlicerParams;

// Step distance (mm, negative inwards) of offset step k, k = 0 … VShellCnt:
// half an extrusion width on the first and the last step, a whole one in
// between; the first step adds VShellOffset, the last subtracts
// LoopFillOverlap sixths of an extrusion width.
double vectorStepDistance(int k, const SlicerParams &sp);

struct VectorOffsetResult {
    PathList outlines;  // Perimeter (shell 0) then Loop (shells 1 …), closed
    Plane1 infill;      // grid-sized, set = inside the last offset (the inner region)
};

// The whole step sequence for one layer; outlines enclosing less than
// minOutlineArea are dropped, as in the raster chain. `segs` is the layer's cross-section
// (mm, slicer orientation); reads ExtrusionWidth, VShellCnt, VShellOffset,
// LoopFillOverlap and PolyFillerAlg. Records the profiling stages
// "VOffseter.1load" … "VOffseter.5transition", so call it from the driver's
// thread. Throws the graph's repair failures.
void vectorOffsetLayer(const Segments &segs, const LayerGrid &grid, const SlicerParams &sp,
                       VectorOffsetResult &out);
