#pragma once
// From a layer's cross-section segments to its raster mask: the raster
// window and grid of a job, the fill chosen by PolyFillerAlg with the
// check-and-repair rule, and the 128 threshold.
#include "slicer/plane1.h"
#include "slicer/plane8.h"
#include "slicer/segment.h"
#include "slicer/slicelayer.h"

#include <QVector>
#include <functional>

// Raster geometry of a job. Pixel (0, 0) covers [origin, origin + pitch).
struct LayerGrid {
    Extents extents;        // mm: the scene rectangle grown by one ExtrusionWidth
    int width = 0;          // pixels, multiple of 32
    int height = 0;         // pixels, multiple of 32
    float pixelSize = 0;    // nominal mm per pixel: ExtrusionWidth * 0.333
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
// not close" flag (only in checking mode).
bool rasterizeLayer(const Segments &segs, const Extents &ext, int polyFillerAlg, Plane8 &raster,
                    Plane1 &scratch, bool check);

// The per-layer road of a job, layer after layer in ascending order:
// while at most 20 layers needed repair, a layer is filled with checking and
// repaired (repairPolygons, tolerance widthInPixels * 0.01 mm) and filled
// again only when a row did not close; after that every layer is repaired
// before its only fill.
class LayerRasterizer {
public:
    LayerRasterizer(const LayerGrid &grid, int polyFillerAlg);

    // Fills segs (closing segments may be appended) into raster(); true
    // when the layer needed repair.
    bool fill(Segments &segs);
    // Clears raster(), the raster of a layer beyond the object.
    void clear();
    // The layer mask: set bit = outside (coverage below 128).
    void mask(Plane1 &out) const { out.fromPlane8(m_raster, 128, true); }

    const Plane8 &raster() const { return m_raster; }
    const LayerGrid &grid() const { return m_grid; }
    int repairCount() const { return m_repairCount; }

private:
    LayerGrid m_grid;
    int m_alg;
    int m_repairCount = 0;
    Plane8 m_raster;
    Plane1 m_scratch;
};

// The same road for all layers at once, in batches of layers filled and
// thresholded in parallel (one layer per thread, which suits layer-sized
// planes better than splitting rows). Which layers are repaired, every
// raster and every mask are exactly what LayerRasterizer gives layer after
// layer. sink is called on the calling thread in ascending layer order with
// the layer (its segments possibly repaired), its coverage raster, its mask
// (set = outside) and whether it needed repair.
// Returns the number of repaired layers.
using LayerSink = std::function<void(SliceLayer &layer, const Plane8 &raster, const Plane1 &mask,
                                     bool repaired)>;
int rasterizeLayers(QVector<SliceLayer> &layers, const LayerGrid &grid, int polyFillerAlg,
                    const LayerSink &sink);
