#include "driver/layerraster.h"
#include "raster/repairpolygons.h"

#include <QString>
#include <omp.h>
#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

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
