#pragma once
// Raster coordinates of a layer plane -> machine coordinates in mm, as the
// G-code writer prints them.
#include "common/buildvolume.h"
#include "geometry/polyline.h"
#include "raster/layergrid.h"

struct GCodeTransform {
    // Raster -> world mm on the bed: x = sx * px + ox (scene x),
    // y = sy * py + oy (scene z, growing toward the front).
    float sx = 1, sy = 1;
    float ox = 0, oy = 0;
    BuildVolume volume;

    PolyPoint toMachine(const PolyPoint &raster) const
    {
        const MachineXY m = sceneToMachine(volume, sx * raster.x + ox, sy * raster.y + oy);
        return {m.X, m.Y};
    }

    // The job's raster frame on the given machine.
    static GCodeTransform of(const LayerGrid &grid, const BuildVolume &volume)
    {
        GCodeTransform xf;
        xf.sx = grid.pitchX;
        xf.sy = grid.pitchY;
        xf.ox = grid.originX;
        xf.oy = grid.originY;
        xf.volume = volume;
        return xf;
    }
};
