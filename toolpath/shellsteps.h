#pragma once
// Vertical shells of one layer on the raster: the region is offset inwards
// step by step (box blur + threshold) and its outline traced after each step;
// features too thin to survive a step become hairs.
//
// Units: raster pixels; p = one extrusion width in pixels (the grid's widthInPixels).
#include "raster/layergrid.h"
#include "raster/plane1.h"
#include "raster/plane8.h"
#include "geometry/polyline.h"
#include "toolpath/hairdetect.h"

#include <functional>

struct SlicerParams;


// Scratch planes reused from layer to layer (one set per calling thread).
struct OffsetScratch {
    Plane8 tmp, tmpSummary, before, beforeSummary;
    // shellSteps' section, and its region before a later step, for the
    // hair search and the corners' test.
    BlockSnapshot section, beforeBlocks;
    // shellSteps' working plane, kept between layers with the summary that
    // describes it (empty when it does not).
    Plane8 cov, covSummary;
    Plane1 visited;
    // tmp and tmpSummary belong to offsetCoverage: once set, tmpSummary
    // describes tmp, so the next offset rewrites only what changed.
    bool tmpKnown = false;
    PathList edge;  // the outline the last distance step measured to
};

// Moves the 128 level of `cov` inwards by `distance` pixels (negative moves
// it outwards): two blur2 passes with the window and threshold of
// ThresholdScaleFromWinsize(distance, factor), then the contrast stretch
// (v - threshold) × scale + 128, so the new edge sits at 128 again and `cov`
// can be offset or traced once more. `summary` is cov's 16 × 16 block summary
// on entry and is updated. The distance is kept within what the window can
// reach (about -1.4 … 7 pixels) instead of failing deep inside a layer.
// `rampWidth` is how many pixels cov's edges take to rise from 0 to 255 on
// entry (rampAfter of the step that made it); wider ramps are sharpened to
// one pixel first: a wide ramp bends the blur near the level and the
// step lands too far in.
void offsetCoverage(Plane8 &cov, Plane8 &summary, float distance, float factor, OffsetScratch &s,
                    float rampWidth = 1);

// Width in pixels of the ramp offsetCoverage leaves across an axis-aligned edge.
float rampAfter(float distance, float factor);

// Exact block summary of an 8-bit plane: 0 all bytes 0, 255 all 255, 128
// otherwise (what blur2 needs to skip uniform blocks, and a valid summary for
// contour tracing). Sizes must be multiples of 16.
void blockSummary8(const Plane8 &src, Plane8 &summary);

// Whether any pixel of cov is at or above the 128 level (summary: cov's
// exact block summary, read to skip uniform blocks).
bool anyInside(const Plane8 &cov, const Plane8 &summary);

// Outlines of the region cov >= 128 (closed, counter-clockwise outside and
// clockwise around holes), of the given type; outlines enclosing less than
// minArea square pixels are dropped.
PathList traceOutlines(const Plane8 &cov, const Plane8 &summary, const PathParams &pp, int type,
                       float minArea, OffsetScratch &s);

// What traceOutlines gives, from the trace of the same plane with every
// crossing kept (contourDetect3 with keepEveryCrossing()).
PathList outlinesFromTrace(const PathList &traced, const PathParams &pp, int type, float minArea);

// Straightens corners that the blur rounded: where two straight stretches of
// at least `minSide` pixels are joined by a short cut, and the corner point
// where their lines meet lies within `maxReach` pixels of both ends of the
// cut, the cut is replaced by that point. Lines meeting at less than
// `minSine` (sine of the angle) are left alone; with `convexOnly`, so are
// corners turning away from the material (right turns), and with `accept`
// a corner point it refuses.
// Corners that turn by less than 60 degrees reach at most `gentleReach`
// (when given): a chain of facets on a round wall is no corner.
void repairCorners(PolyLine &outline, float minSide, float maxReach, float minSine,
                   bool convexOnly = false,
                   const std::function<bool(PolyPoint)> &accept = {}, float gentleReach = -1);

// The square box blur of offsetCoverage moves an edge as far as the window
// and threshold say only when the edge runs along an axis; on a diagonal the
// spread is a trapezoid and the edge moves less (about 0.1 width less at 45°
// for the half-width step). boxOffsetAt is the distance (pixels, inwards
// positive) at which a straight edge with unit normal (nx, ny) reaches level
// t (0 … 1) after a win × win box blur; straightenOffset moves the vertices
// of a traced outline along its inward normal by the difference to the
// axis-aligned distance, on straight and gently curved stretches (the
// direction is taken over `reach` pixels either side). On curves it also
// undoes the blur's pull towards the centre of curvature (variance ×
// curvature / 2), which shrinks bosses and holes alike.
float boxOffsetAt(float t, int win, float nx, float ny);
void straightenOffset(PolyLine &outline, int win, float threshold, float reach);

// Smallest outline area kept (square pixels): specks below a quarter of a
// square extrusion width print as blobs.
float minOutlineArea(float p);

struct ShellStepsResult {
    PathList outlines;        // Perimeter (shell 0) then Loop (shells 1 …), closed
    QVector<PathList> shells; // the same outlines by shell: shells[0] the perimeter
                              // loops (outer contours and holes), shells[k] loop k
    PathList hairs;     // OuterHair / InnerHair, open, widths = gap to fill
    Plane1 infill;      // region inside the innermost loop, set = inside;
                        // the layer's inner region R for shellRegionsStep
};

// The shell step sequence for one layer. `coverage` is the layer raster
// (0 outside, 255 inside, the 128 level on the outline; sizes multiples of
// 32). Reads VShellCnt, VShellOffset, OuterHair, InnerHair, RepairCorners,
// LoopFillOverlap and PathSmoothing. Call from the driver's thread: it
// records the profiling stages "hairDetect0", "hairDetect1", "hairMasking".
// coverageSummary, when given, is coverage's exact block summary
// (Plane8::blockSummary); otherwise it is made here.
void shellSteps(const LayerGrid &grid, const Plane8 &coverage, const SlicerParams &sp, ShellStepsResult &out,
                OffsetScratch &scratch, const Plane8 *coverageSummary = nullptr);
// The same steps on the section in place: `cov` is the section on entry and
// `summary` its exact block summary (another size is replaced); on return
// cov holds the region inside the innermost loop (what out.infill is made
// from, before LoopFillOverlap) and summary describes it. A step that throws
// leaves both undefined. Saves the working plane's copy of the section.
void shellStepsInPlace(const LayerGrid &grid, Plane8 &cov, Plane8 &summary, const SlicerParams &sp,
                       ShellStepsResult &out, OffsetScratch &scratch);
