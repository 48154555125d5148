#pragma once
// The printer's build volume as the slicer and the G-code writer receive it,
// and the mapping of scene points on the bed to machine coordinates.
// Scene frame: mm, Y up, bed centred on the origin, depth (scene z) growing
// toward the front. Machine frame: X/Y on the bed as the G-code addresses it.
#include <array>

struct BuildVolume {
    float W = 250;   // width (machine X extent), mm
    float H = 200;   // height, mm
    float D = 200;   // depth (machine Y extent), mm
    float cx = 0;    // machine origin across the width: 0, W/2 or W from the left edge
    float cy = 200;  // machine origin along the depth: D front, D/2 centre, 0 back
    float kx = 1;    // -1 when X runs right to left
    float ky = -1;   // +1 when Y runs back to front

    // From the options: sizes in mm, origin list indices (width: 0 Left,
    // 1 Center, 2 Right; depth: 0 Front, 1 Center, 2 Back), direction indices
    // (width: 1 "Right to Left"; depth: 1 "Back to Front"). Indices outside
    // the lists are clamped to them.
    static BuildVolume fromOptions(int width, int depth, int height, int widthOrigin,
                                   int widthDirection, int depthOrigin, int depthDirection);

    // The seven floats in descriptor order: W, H, D, cx, cy, kx, ky.
    std::array<float, 7> toArray() const { return {W, H, D, cx, cy, kx, ky}; }
    static BuildVolume fromArray(const std::array<float, 7> &v);
};

struct MachineXY {
    float X, Y;
};

// Scene point (x, z) on the bed -> machine X = kx·(x − (cx − W/2)),
// Y = ky·(z − (cy − D/2)), in mm.
MachineXY sceneToMachine(const BuildVolume &bv, float x, float z);
