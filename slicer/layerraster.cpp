#include "slicer/layerraster.h"
#include "slicer/repairpolygons.h"

#include <QString>
#include <cmath>

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
    if (!(w * h <= double(kMaxLayerPixels)) || !(w >= 0) || !(h >= 0))
        throw QString("The layer raster would be too large (%1 x %2 mm at %3 mm per pixel)")
            .arg(double(g.extents.width())).arg(double(g.extents.height())).arg(double(g.pixelSize));
    g.width = std::max(32, (int(w) + 31) / 32 * 32);
    g.height = std::max(32, (int(h) + 31) / 32 * 32);
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
