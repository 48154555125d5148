#pragma once
// The raster frame of a job: the window and grid every layer plane shares,
// and the one fill of a layer's cross-section into it.
#include "geometry/segment.h"
#include "raster/plane1.h"
#include "raster/plane8.h"

// Extrusion widths per pixel: the raster pitch is ExtrusionWidth × 0.333.
// Only layerGrid() reads it; everyone else takes the job's LayerGrid.
constexpr float kPixelFactor = 0.333f;

// Raster geometry of a job, made once by layerGrid() and handed by const
// reference to every stage. Pixel (0, 0) covers [origin, origin + pitch).
struct LayerGrid {
    Extents extents;        // mm: the scene rectangle grown by one ExtrusionWidth
    int width = 0;          // pixels, multiple of 32
    int height = 0;         // pixels, multiple of 32
    float pixelFactor = kPixelFactor; // pixel pitch in extrusion widths
    float pixelSize = 0;    // nominal mm per pixel: ExtrusionWidth * pixelFactor
    float widthInPixels = 0;// ExtrusionWidth / pixelSize (about 3.003)
    float pitchX = 0;       // actual mm per pixel (pixelSize up to float rounding)
    float pitchY = 0;
    float originX = 0;      // mm position of pixel (0, 0)
    float originY = 0;
};

// Throws a message for an ExtrusionWidth that is not a positive number and
// for a raster beyond kMaxLayerPixels (a scene far larger than any bed, or
// a mesh with stray far-away vertices).
LayerGrid layerGrid(const Extents &sceneRect, float extrusionWidth);
const long long kMaxLayerPixels = 1LL << 26; // 8192 x 8192: 1090 mm square at 0.4 mm width

// One fill of segs into raster (size already set) by PolyFillerAlg:
// 0 NonZero, 1 Positive, anything else Odd. Returns the fill's "a row did
// not close" flag (only in checking mode). summary, when given, becomes the
// raster's exact block summary (Plane8::blockSummary), made mostly from what
// the fill knows rather than from the pixels. With summaryKnown, *summary on
// entry is the exact block summary of raster's pixels (as the last call
// left them): blocks that keep their uniform value are not written again.
bool rasterizeLayer(const Segments &segs, const Extents &ext, int polyFillerAlg, Plane8 &raster,
                    Plane1 &scratch, bool check, Plane8 *summary = nullptr, bool summaryKnown = false);
