#include "common/perfdata.h"
#include "driver/stages.h"

#include <algorithm>
#include <cmath>

FirstLayerExtras firstLayerExtras(const LayerGrid &grid, const SlicerParams &sp, const Plane1 &mask,
                                  const Segments &supportSegs, PolyPoint &head)
{
    PerfScope perf("firstLayerExtras");
    // Footprint: where layer 0 prints, the solid area and the support bars'
    // cross-sections (drawn along their segments, half-pixel steps).
    Plane1 footprint;
    footprint.setSize(QSize(grid.width, grid.height));
    footprint.fill(0);
    Plane1::bitwiseOp(7, &footprint, &mask, nullptr, true);
    for (const Segment &s : supportSegs) {
        const float x0 = (s.x0 - grid.originX) / grid.pitchX, y0 = (s.y0 - grid.originY) / grid.pitchY;
        const float x1 = (s.x1 - grid.originX) / grid.pitchX, y1 = (s.y1 - grid.originY) / grid.pitchY;
        const float len = std::fabs(x1 - x0) + std::fabs(y1 - y0);
        if (!std::isfinite(len))
            continue;
        const int steps = int(std::min(len * 2.0f, 1e6f)) + 1;
        for (int k = 0; k <= steps; ++k) {
            const float t = float(k) / steps;
            const int x = int(std::floor(x0 + (x1 - x0) * t)), y = int(std::floor(y0 + (y1 - y0) * t));
            if (x >= 0 && y >= 0 && x < grid.width && y < grid.height)
                footprint.setPixel(x, y, true);
        }
    }
    return brimSkirtRaft(sp, footprint, grid.widthInPixels, grid.pixelSize, head);
}
