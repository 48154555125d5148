#pragma once
// The stages of a slicing job, in the order Slicer::slice calls them. Each
// lives in its own file (driver/<stage>.cpp), is timed under its profiling
// name, takes the job's raster frame and parameters, then its inputs, and
// returns its output. The horizontal-shell region step is
// shellRegionsStep (driver/shellregions.h).
#include "driver/cutlayers.h"
#include "driver/layerrings.h"
#include "driver/slicelayer.h"
#include "common/buildvolume.h"
#include "geometry/polyline.h"
#include "raster/layergrid.h"
#include "raster/plane1.h"
#include "raster/plane8.h"
#include "toolpath/runlabels.h"
#include "toolpath/shellsteps.h"
#include "toolpath/skirtbrimraft.h"

#include <QByteArray>
#include <QVector>
#include <memory>
#include <vector>

struct SlicerParams;

// Whether two planes hold the same pixels, given their exact block summaries
// (sizes whole blocks): equal summaries, then the mixed blocks' bytes.
bool sameSection(const Plane8 &a, const Plane8 &aSummary, const Plane8 &b, const Plane8 &bSummary);
// The same against a kept section (whole blocks; none kept: false), and
// keeping one: `last` takes raster's size, summary and mixed blocks.
bool sameSection(const Plane8 &a, const Plane8 &aSummary, const LastSection &last);
void keepSection(const Plane8 &raster, const Plane8 &summary, LastSection &last);

// "cutAndOffset": cuts layers first … first + count - 1 (cutLayers) and,
// while each layer's raster is at hand, makes its perimeters, loops, hairs
// and inner region: the raster shell steps, or the vector offsetter with
// UseVectorOffseter (no hairs then). recycled: earlier cuts whose planes may
// be reused (as in cutLayers).
QVector<CutLayer> cutAndOffsetLayers(const LayerGrid &grid, const SlicerParams &sp,
                                     QVector<SliceLayer> &layers, int first, int count, CutState &state,
                                     QVector<CutLayer> recycled = {});

// The offsetting cutAndOffsetLayers runs after each layer's cut (grid and
// sp must outlive it), for a driver that cuts one layer at a time (cutOneLayer).
CutFollowUp offsetFollowUp(const LayerGrid &grid, const SlicerParams &sp);

// "firstLayerExtras": the skirt, brim or raft, made once from layer 0's
// footprint (its mask, set bit = outside, and its support-bar segments).
// Moves `head` to where the skirt or brim ends.
FirstLayerExtras firstLayerExtras(const LayerGrid &grid, const SlicerParams &sp, const Plane1 &mask,
                                  const Segments &supportSegs, PolyPoint &head);

// "concentricShells" (HShellType 1): a layer's shell region offset inwards
// into concentric shell paths, appended to its fill list.
void concentricShellStep(const LayerGrid &grid, const SlicerParams &sp, const Plane1 &shellRegion,
                         PathList &fill, OffsetScratch &scratch);

// What a layer's preparation leaves for its ordering and writing.
struct LayerWork {
    QVector<PathList> shells; // shells[0] perimeters, shells[k] loops of shell k
    PathList fill;            // infill, shell lines and hairs
    PathList other;           // support chains
    QByteArray gcode;         // the layer's G-code, once ordered and written
    // travelArea of the layer's mask, made beside prepareLayer and shared
    // with the thread's TravelCache (null: orderAndWriteLayer makes it).
    std::shared_ptr<const Plane1> travel;
    // The clear areas of the mask and of `travel` (RunLabels(…, false)),
    // made with it (valid when `travel` is).
    RunLabels maskAreas, travelAreas;
};

// The area travel may use: the layer's solid area grown by about 1.333
// widths (set bits outside it, as in the mask).
Plane1 travelArea(const LayerGrid &grid, const Plane1 &mask);
// The pixels travelArea shrinks the mask's outside by.
int travelShrink(const LayerGrid &grid);

// A thread's last layer mask with its travel area and area labels: the
// next layer with the same mask (a prism's) takes them (they are functions
// of the mask and the grid alone).
struct TravelCache {
    bool valid = false;
    Plane1 mask;
    std::shared_ptr<const Plane1> travel; // shared with the layers that took it
    RunLabels maskAreas, travelAreas;
};

// A layer's entries of the driver's rings, looked up while nothing else
// moves them: the stages below read them through these from any thread
// while the driver fills other slots of the rings.
struct LayerInputs {
    const Plane1 *mask = nullptr;          // set bit = outside
    const PathList *loops = nullptr;       // traced perimeters and loops
    const PathList *fill = nullptr;        // hairs and concentric shells
    const Plane1 *shellRegion = nullptr, *infillRegion = nullptr;
    const Plane8 *shellSummary = nullptr, *infillSummary = nullptr; // null: none made
};
LayerInputs layerInputs(const LayerRings &rings, int layer);

// "prepareLayer": a layer's infill and shell lines over its regions, its
// support chains and its loops sorted into shell lists.
LayerWork prepareLayer(const LayerGrid &grid, const SlicerParams &sp, const LayerInputs &in,
                       const SliceLayer &layer, float minBarWidth);

// "orderAndWriteLayer": the layer's paths ordered from `head` (layer 0
// starting with the skirt or brim) and written as G-code at the layer's
// print height; `head` moves to where the layer ends.
QByteArray orderAndWriteLayer(const LayerGrid &grid, const SlicerParams &sp, const BuildVolume &volume,
                              const SliceLayer &layer, const Plane1 &mask,
                              const FirstLayerExtras &firstLayer, float minBarWidth,
                              const LayerWork &work, PolyPoint &head);
// Its two halves: the ordering, which hands `head` on from layer to layer,
// and the writing, which is the layer's own (any thread may write a layer
// once it is ordered).
PathList orderLayerPaths(const LayerGrid &grid, const SlicerParams &sp, const SliceLayer &layer,
                         const Plane1 &mask, const FirstLayerExtras &firstLayer, float minBarWidth,
                         const LayerWork &work, PolyPoint &head);
QByteArray writeOrderedLayer(const LayerGrid &grid, const SlicerParams &sp, const BuildVolume &volume,
                             const SliceLayer &layer, const FirstLayerExtras &firstLayer, const PathList &ordered);

// prepareLayer into `work`, with the travel area of the layer's mask and
// its area labels (from `cache`, a thread's own, when the mask is the one
// it holds; the cache then holds this layer's).
void prepareLayerWork(const LayerGrid &grid, const SlicerParams &sp, const LayerInputs &in, const SliceLayer &layer,
                      float minBarWidth, TravelCache *cache, LayerWork &work);

// Where layer `layer`'s ordering starts for LayerStartPos 1 … 6: a point far
// outside the bed in the chosen direction (whole raster units).
PolyPoint layerStartHead(const LayerGrid &grid, int layerStartPos, int layer, const BuildVolume &volume);
