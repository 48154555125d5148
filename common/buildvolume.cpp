#include "common/buildvolume.h"

#include <algorithm>

BuildVolume BuildVolume::fromOptions(int width, int depth, int height, int widthOrigin,
                                     int widthDirection, int depthOrigin, int depthDirection)
{
    BuildVolume bv;
    bv.W = float(width);
    bv.H = float(height);
    bv.D = float(depth);
    bv.cx = float(std::clamp(widthOrigin, 0, 2)) * bv.W * 0.5f;
    bv.cy = float(2 - std::clamp(depthOrigin, 0, 2)) * bv.D * 0.5f;
    bv.kx = widthDirection == 1 ? -1.0f : 1.0f;
    bv.ky = depthDirection == 1 ? 1.0f : -1.0f;
    return bv;
}

BuildVolume BuildVolume::fromArray(const std::array<float, 7> &v)
{
    BuildVolume bv;
    bv.W = v[0];
    bv.H = v[1];
    bv.D = v[2];
    bv.cx = v[3];
    bv.cy = v[4];
    bv.kx = v[5];
    bv.ky = v[6];
    return bv;
}

MachineXY sceneToMachine(const BuildVolume &bv, float x, float z)
{
    return {bv.kx * (x - (bv.cx - bv.W * 0.5f)), bv.ky * (z - (bv.cy - bv.D * 0.5f))};
}
