#pragma once
// Exact area coverage of a layer's edge pixels.
//
// The 4 x 4 sampled fills place an edge only to a quarter pixel across each
// sample row and count whole sample rows along it, so a wall's edge can sit
// up to an eighth of a pixel (0.017 mm at 0.4 mm width) from where the mesh
// put it, the same on every layer. This pass computes, for every pixel a
// segment passes through, the exact fraction of the pixel covered (signed
// area accumulation, as font rasterisers do) and writes it over the sampled
// value where the two agree within what sampling can explain. Where they do
// not, the winding is more than simple there (overlapping solids, doubled
// walls, an outline that did not close) and the sampled value, which follows
// the fill rule, stays.
#include "raster/plane8.h"
#include "geometry/segment.h"

// raster: the fill of segs over ext (Plane8::fromSegs2/fromSegs3). rule as
// PolyFillerAlg: 0 NonZero, 1 Positive, anything else Odd. Only pixels that a
// segment passes through are rewritten; the result does not depend on the
// thread count. touched, when given, gets one byte per 16 x 16 block, 1 where
// a pixel changed (left empty on a plane whose sizes are not multiples of 16).
void exactEdgeCoverage(Plane8 &raster, const Segments &segs, const Extents &ext, int rule,
                       Plane8 *touched = nullptr);

// The largest difference (in 0 … 255 levels) between the sampled and the
// exact value of a pixel that is still put down to sampling.
constexpr int kExactCoverageTolerance = 72;
