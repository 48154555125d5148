#include "raster/layergrid.h"
#include "raster/exactcoverage.h"

#include <QString>
#include <algorithm>
#include <utility>
#include <cmath>

LayerGrid layerGrid(const Extents &rect, float extrusionWidth)
{
    if (!(extrusionWidth > 0) || !std::isfinite(extrusionWidth))
        throw QString("layerGrid() ExtrusionWidth must be a positive number");
    LayerGrid g;
    g.pixelSize = extrusionWidth * g.pixelFactor;
    g.widthInPixels = extrusionWidth / g.pixelSize;
    g.extents = Extents{rect.minX - extrusionWidth, rect.minY - extrusionWidth,
                        rect.maxX + extrusionWidth, rect.maxY + extrusionWidth};
    const double w = std::ceil(double(g.extents.width()) / g.pixelSize);
    const double h = std::ceil(double(g.extents.height()) / g.pixelSize);
    // Each side on its own as well: far from the origin a float extent can
    // collapse to 0, and 0 x 7.5e14 passed the product check into an int.
    if (!(w * h <= double(kMaxLayerPixels)) || !(w >= 0) || !(h >= 0) || !(w <= double(kMaxLayerPixels))
        || !(h <= double(kMaxLayerPixels)))
        throw QString("The layer raster would be too large (%1 x %2 mm at %3 mm per pixel)")
            .arg(double(g.extents.width())).arg(double(g.extents.height())).arg(double(g.pixelSize));
    g.width = std::max(32, (int(w) + 31) / 32 * 32);
    g.height = std::max(32, (int(h) + 31) / 32 * 32);
    // Every raster distance downstream (shell steps, hair windows, skirt
    // offsets) is counted in pixels of pixelSize. Stretching the window over
    // the rounded-up grid would shrink the pixels (by up to a third on a small
    // part) and pull every wall inwards with them, so the window grows
    // instead, evenly on both sides, until the pixels are pixelSize wide.
    const float growX = (g.width * g.pixelSize - g.extents.width()) * 0.5f;
    const float growY = (g.height * g.pixelSize - g.extents.height()) * 0.5f;
    g.extents.minX -= growX;
    g.extents.maxX = g.extents.minX + g.width * g.pixelSize;
    g.extents.minY -= growY;
    g.extents.maxY = g.extents.minY + g.height * g.pixelSize;
    g.pitchX = g.extents.width() / g.width;
    g.pitchY = g.extents.height() / g.height;
    g.originX = g.extents.minX;
    g.originY = g.extents.minY;
    return g;
}

bool rasterizeLayer(const Segments &segs, const Extents &ext, int alg, Plane8 &raster,
                    Plane1 &scratch, bool check, Plane8 *summary, bool summaryKnown)
{
    Plane8 before; // the summary of raster's pixels on entry, when known
    if (summary && summaryKnown)
        std::swap(before, *summary);
    const Plane8 *known = before.width > 0 ? &before : nullptr;
    const bool unclosed = alg == 0 || alg == 1
                              ? raster.fromSegs3(segs, ext, scratch, alg == 0, check, summary, known)
                              : raster.fromSegs2(segs, ext, scratch, check, summary, known);
    // A layer that will be repaired and filled again keeps its sampled fill.
    Plane8 touched;
    if (!unclosed)
        exactEdgeCoverage(raster, segs, ext, alg, summary ? &touched : nullptr);
    if (summary) {
        // The fill vouches for the blocks it wrote whole; the exact coverage
        // may have changed a few of them.
        if (touched.size() == summary->size())
            for (int i = 0; i < touched.width * touched.height; ++i)
                if (touched.data[i])
                    summary->data[i] = 128;
        raster.refineBlockSummary(*summary);
    }
    return unclosed;
}
