#pragma once
// Cutting the scene's triangles into per-layer cross-section segments.
//
// Units: mm, scene frame (Y up). Segment x is scene x, segment y is scene z.
// Layer j (j >= 1) is printed around z = (j - 0.5) * LH + zmin + firstLayerHeight;
// its cutting plane is y = zmin + (j + 0.5) * LH.
#include "geometry/segment.h"
#include "driver/slicelayer.h"

class Project;
struct SlicerParams;

// One support bar's mesh as SliceFaces reads it: triangles of 12 floats
// (three corners and a normal), taken in groups of four (see slicefaces.cpp).
struct SliceBar {
    const float *tris = nullptr;
    int triCount = 0;
    float width = 0;  // side of the square cross-section, mm
    float size2 = 0;  // second size field, compared with barSizeLimit
};

// What SliceFaces keeps for the job.
struct SliceFrame {
    float box[6] = {0, 0, 0, 0, 0, 0}; // min x, y, z, max x, y, z of objects and bars
    Extents rect;                      // horizontal part: min x, min z, max x, max z
    float zmin = 0;                    // mm, the bottom of layer 0: the scene's or the lower limit
};

// Cuts `triCount` placed triangles (12 floats each, vertex order gives the
// facing) and the bars into layers. `layers` is replaced by one record per
// layer with its object and support segments. Triangles with non-finite
// coordinates cannot be placed and are skipped. Throws a message when the
// layer height is not a positive number or the layer count would be absurd.
SliceFrame SliceFaces(const float *tris, int triCount, const QVector<SliceBar> &bars,
                      float lowerLimit, float upperLimit, float layerHeight,
                      float firstLayerHeight, float barWidthLimit, float barSizeLimit,
                      QVector<SliceLayer> &layers);

// The scene's form: gathers every object's placed triangles and the support
// bars' meshes and cuts them. The second size field of a bar is 0 (a bar has
// one size), so bars no wider than barWidthLimit are cut as two walls.
SliceFrame SliceFaces(Project &scene, float lowerLimit, float upperLimit, float layerHeight,
                      float firstLayerHeight, float barWidthLimit, float barSizeLimit,
                      QVector<SliceLayer> &layers);

// The job's cut, the one every caller uses (the driver, `tessavo-cli
// layers`): the parameter set's slicing height limits and layer heights,
// bars no wider than 1.1 times the scene's thinnest bar cut as two walls.
SliceFrame SliceFaces(Project &scene, const SlicerParams &sp, QVector<SliceLayer> &layers);
