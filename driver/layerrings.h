#pragma once
// The driver's layer-indexed rings: each layer's planes and path lists stay
// exactly as long as later stages look back at them (B = the driver's
// window of layers prepared ahead of the ordering, H = lookahead).
#include "driver/fifo.h"
#include "geometry/polyline.h"
#include "raster/plane1.h"
#include "raster/plane8.h"

struct LayerRings {
    LayerRings(int B, int H)
        : loopLists(B + H), fillLists(B + H), layerMasks(B + H + 1), innerRegions(H + 1),
          regionPairs((H + 1) / 2), stackIntersections(H + 2), shellRegions(B), infillRegions(B),
          innerIds(H + 1), shellSummaries(B), infillSummaries(B)
    {
    }

    FIFO<PathList> loopLists;        // traced perimeters and loops
    FIFO<PathList> fillLists;        // hairs and concentric shells
    FIFO<Plane1> layerMasks;         // set bit = outside the solid area
    FIFO<Plane1> innerRegions;       // set bit = inside the innermost loop
    FIFO<Plane1> regionPairs;        // the shell-region step's own planes
    FIFO<Plane1> stackIntersections;
    FIFO<Plane1> shellRegions;       // top/bottom shell region of a layer
    FIFO<Plane1> infillRegions;      // infill region of a layer
    FIFO<quint64> innerIds;          // CutLayer::innerId of each inner region, slot for slot
    // The exact block summaries of the shell and infill regions, made with
    // them (a summary of another size: none).
    FIFO<Plane8> shellSummaries, infillSummaries;
};
