#pragma once
// Horizontal shell regions: splits each layer's inner region into the
// top/bottom shell region and the infill region by intersecting the inner
// regions of the H = HShellCnt layers below and above it.
#include "driver/fifo.h"
#include "raster/plane1.h"

// The rings one job keeps for this step; all planes are the layer raster's
// size, set bit = inside.
struct ShellRegionRings {
    FIFO<Plane1> &inner;      // R(k): inside the innermost loop of layer k, capacity H + 1;
                              // empty planes for layers outside 0 … N - 1
    FIFO<Plane1> &pairs;      // D(k) = R(k) AND R(k + 1), k even, H > 2; capacity (H + 1) / 2
    FIFO<Plane1> &stacks;     // T(j) = R(j) AND … AND R(j + H - 1); capacity H + 2
    FIFO<Plane1> &shell;      // S(i) output ring (the driver's window)
    FIFO<Plane1> &infill;     // F(i) output ring (the driver's window)
    // Optional, slot for slot with shell and infill: S(i)'s and F(i)'s exact
    // block summaries (Plane1::blockSummary), made with them where the
    // planes are whole blocks, else left empty.
    FIFO<Plane8> *shellSummary = nullptr, *infillSummary = nullptr;
};

// One step for layer i, called for i = -2H … N - 1 right after R(i + H) has
// been stored in rings.inner. Reads R(i … i + H) and the pair planes made by
// earlier steps; writes D(i - 1 + H) when H > 2 and it is even and in
// -H … N - 2 + H, T(i + 1) when -H <= i + 1 <= N, and, for 0 <= i < N,
// S(i) = R(i) AND NOT (below AND above) and F(i) = S(i) XOR R(i) =
// R(i) AND below AND above, where below = T(i - H) and above = T(i + 1).
// H = 0 makes every inner region shell. A ring entry that is missing throws
// "FIFO.get(): Item not found ID:<id>".
// Timed as "shellRegions".
void shellRegionsStep(int i, int H, int N, ShellRegionRings &rings);
