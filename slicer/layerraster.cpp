#include "slicer/layerraster.h"
#include "slicer/repairpolygons.h"

#include <QString>
#include <omp.h>
#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

LayerGrid layerGrid(const Extents &rect, float extrusionWidth)
{
    if (!(extrusionWidth > 0) || !std::isfinite(extrusionWidth))
        throw QString("layerGrid() ExtrusionWidth must be a positive number");
    LayerGrid g;
    g.pixelSize = extrusionWidth * 0.333f;
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
                    Plane1 &scratch, bool check)
{
    if (alg == 0 || alg == 1)
        return raster.fromSegs3(segs, ext, scratch, alg == 0, check);
    return raster.fromSegs2(segs, ext, scratch, check);
}

LayerRasterizer::LayerRasterizer(const LayerGrid &grid, int polyFillerAlg)
    : m_grid(grid), m_alg(polyFillerAlg)
{
    m_raster.setSize(QSize(grid.width, grid.height));
}

bool LayerRasterizer::fill(Segments &segs)
{
    if (m_repairCount <= 20 && !rasterizeLayer(segs, m_grid.extents, m_alg, m_raster, m_scratch, true))
        return false;
    ++m_repairCount;
    repairPolygons(segs, m_grid.widthInPixels * 0.01f);
    rasterizeLayer(segs, m_grid.extents, m_alg, m_raster, m_scratch, false);
    return true;
}

void LayerRasterizer::clear()
{
    m_raster.fill(0);
}

int rasterizeLayers(QVector<SliceLayer> &layers, const LayerGrid &grid, int alg, const LayerSink &sink)
{
    const int n = layers.size();
    // Larger batches mean fewer joins; the planes of a batch (raster, mask
    // and a 32-bit sample store per pixel) stay within about 256 MB. A batch
    // of one layer keeps the fills' own row parallelism.
    const int threads = std::max(1, omp_get_max_threads());
    const long long perLayer = 6LL * grid.width * grid.height;
    const int batch = int(std::max(1LL, std::min<long long>(8LL * threads, (256LL << 20) / std::max(1LL, perLayer))));
    std::vector<Plane8> rasters(batch);
    std::vector<Plane1> scratch(batch), masks(batch);
    std::vector<char> bad(batch), repair(batch);
    for (Plane8 &r : rasters)
        r.setSize(QSize(grid.width, grid.height));
    const float tolerance = grid.widthInPixels * 0.01f;
    int repairCount = 0;
    QString error;
    int errorSlot = INT_MAX;

    // Runs f(slot) for the batch's slots on the threads; exceptions cannot
    // leave a parallel region, so the message of the lowest failing slot is
    // carried out (the same one whatever the thread timing).
    auto forSlots = [&](int count, const std::function<void(int)> &f) {
        if (count == 1) {
            f(0);
            return;
        }
#pragma omp parallel for schedule(static)
        for (int k = 0; k < count; ++k) {
            QString msg;
            bool failed = false;
            try {
                f(k);
            } catch (const QString &e) {
                msg = e;
                failed = true;
            } catch (...) {
                msg = "rasterizeLayers() failed";
                failed = true;
            }
            if (failed) {
#pragma omp critical
                if (k < errorSlot) {
                    errorSlot = k;
                    error = msg;
                }
            }
        }
        if (!error.isEmpty())
            throw error;
    };

    // Detach the (implicitly shared) layer vector here, on one thread: the
    // first non-const access from inside a parallel region would otherwise
    // copy it from several threads at once and fill stale copies.
    SliceLayer *const L = layers.data();
    for (int b = 0; b < n; b += batch) {
        const int count = std::min(batch, n - b);
        // Checked fills first; their outcome does not depend on the order.
        const bool checking = repairCount <= 20;
        if (checking)
            forSlots(count, [&](int k) {
                bad[k] = rasterizeLayer(L[b + k].segs, grid.extents, alg, rasters[k], scratch[k], true);
            });
        // The repair decisions in layer order, as LayerRasterizer takes them.
        for (int k = 0; k < count; ++k) {
            repair[k] = repairCount <= 20 && checking ? bad[k] : 1;
            repairCount += repair[k];
        }
        forSlots(count, [&](int k) {
            if (repair[k]) {
                repairPolygons(L[b + k].segs, tolerance);
                rasterizeLayer(L[b + k].segs, grid.extents, alg, rasters[k], scratch[k], false);
            }
            masks[k].fromPlane8(rasters[k], 128, true);
        });
        for (int k = 0; k < count; ++k)
            sink(L[b + k], rasters[k], masks[k], repair[k]);
    }
    return repairCount;
}
