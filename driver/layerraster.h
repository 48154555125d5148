#pragma once
// From a layer's cross-section segments to its raster mask: the fill chosen
// by PolyFillerAlg with the check-and-repair rule, and the 128 threshold.
#include "driver/slicelayer.h"
#include "raster/layergrid.h"

#include <QVector>
#include <functional>

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
