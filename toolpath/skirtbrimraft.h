#pragma once
// Skirt, brim and raft: what is laid down before the object's first layer.
//
// All of them start from the layer-0 footprint: a Plane1 of the layer raster
// with a set bit where layer 0 prints (the caller builds it from the layer
// mask and the support). Paths come back in the footprint's raster units and
// already in drawing order; `head` (raster units) is read as the start and
// left where the last placed path ends, so the object's first layer goes on
// from there.
#include "params/slicerparams.h"
#include "raster/plane1.h"
#include "geometry/polyline.h"
#include "toolpath/rafttable.h"

#include <QVector>

// Skirt (or brim) loops: the footprint grown by round(offset × p) pixels,
// then by one extrusion width per loop. At least minCount whole loops; when
// those are shorter than minLength (raster units), further loops up to
// exactly that length, the last one cut short; at most 20 loops. With
// `brim` the chain is drawn backwards (outermost loop first, ending at the
// object). p is one extrusion width in raster units; gap the PerimeterGap.
PathList skirtLoops(const Plane1 &footprint, float p, float offset, float minLength,
                    int minCount, bool brim, float gap, float pathSmoothing, PolyPoint &head);

// One drawn raft layer: printed as layer 0 with layerHeight as its
// first-layer height, raised by zOffset (the raft below it).
struct RaftLayer {
    PathList paths;         // in drawing order, raster units
    float layerHeight = 0;  // mm
    float zOffset = 0;      // mm
};

struct RaftResult {
    QVector<RaftLayer> layers; // bottom first; rows of Type 0 draw nothing
    float height = 0;          // mm; the Z offset of every object layer
};

// Raft layers from the rows of `RaftConfig`, bottom first, over the footprint
// grown by `RaftOffset` (mm; pixelSize is mm per raster unit). Each layer with
// a Type above 0 is pattern-filled (type Raft) and ordered; every valid row
// raises the raft. The driver writes them as G-code.
RaftResult raftLayers(const SlicerParams &sp, const Plane1 &footprint, float p, float pixelSize,
                      PolyPoint &head);

struct FirstLayerExtras {
    PathList skirt;       // Skirt paths of layer 0 (skirt or brim), in drawing order
    RaftResult raft;      // raft layers and height (the zOffset of every object layer)
};

// The stage the driver calls once, for layer 0: a skirt if SkirtEnable, else a
// brim if BrimEnable, else a raft if RaftEnable (exactly one of them).
// Timed as "BrimSkirtRaft": call it on the driver's thread, not inside an
// OpenMP region.
FirstLayerExtras brimSkirtRaft(const SlicerParams &sp, const Plane1 &footprint, float p,
                               float pixelSize, PolyPoint &head);
