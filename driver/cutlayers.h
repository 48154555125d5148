#pragma once
// The cut of a job's layers: each layer's cross-section filled into the
// layer raster by PolyFillerAlg, checked, repaired where a row did not
// close, and thresholded into its mask. The driver, `tessavo-cli layers`,
// the repair tests and the benchmarks all cut through cutLayers.
//
// The repair rule: while at most 20 layers needed repair, a layer is filled
// with checking and repaired (repairPolygons, tolerance widthInPixels * 0.01
// mm) and filled again only when a row did not close; after that every
// layer is repaired before its only fill. Layers are cut in parallel and the
// rule is settled in layer order after the join, so the result is the
// layer-after-layer one for any thread count.
#include "driver/slicelayer.h"
#include "geometry/polyline.h"
#include "raster/layergrid.h"
#include "raster/plane1.h"
#include "raster/plane8.h"
#include "toolpath/shellsteps.h"

#include <QVector>
#include <QString>
#include <functional>
#include <vector>

struct SlicerParams;

// One layer's cut.
struct CutLayer {
    Plane1 mask;              // set bit = outside the solid area (coverage below 128)
    bool repaired = false;    // the cross-section was repaired before its final fill
    // Filled by the driver's offsetting (cutAndOffsetLayers), empty otherwise.
    PathList outlines, hairs; // perimeters and loops; hairs
    Plane1 inner;             // inner region, set bit = inside
    // Names inner's content (0: unnamed): two planes with the same nonzero id
    // hold the same pixels, so a plane that has one already needs no copy.
    quint64 innerId = 0;
};

// The last section a thread offset and what came of it: a layer with the
// same raster (a prism's layers) takes the result instead of computing it.
struct LastSection {
    bool valid = false;
    // The section, kept as its exact block summary and the pixels of the
    // blocks that summary calls mixed, 16 x 16 bytes each in summary order
    // (a whole copy cost every thread a layer raster).
    int width = 0, height = 0;
    Plane8 summary;
    std::vector<uchar> mixed;
    PathList outlines, hairs;
    Plane1 inner;
    quint64 innerId = 0;
};

// Planes one thread reuses from layer to layer.
struct CutScratch {
    Plane8 raster;            // the layer raster: coverage 0 … 255
    Plane8 summary;           // raster's exact block summary, made with its mask
    bool summaryValid = false; // summary describes raster's pixels as they are
    Plane1 fill;
    OffsetScratch offset;     // for the offsetting that follows the cut
    ShellStepsResult shells;
    LastSection last;         // kept by the driver's offsetting
};

// What the cut carries from one run of layers to the next.
struct CutState {
    int repairCount = 0;         // layers repaired so far (the repair rule's count)
    QVector<CutScratch> scratch; // one per thread
};

// Work that needs the layer raster, run on the cutting thread right after
// the layer's mask is made (again when the rule re-cuts the layer).
using CutFollowUp = std::function<void(const SliceLayer &layer, CutScratch &s, CutLayer &out)>;

// Cuts layers first … first + count - 1 of `layers` (their segments may be
// repaired in place) and returns them in layer order. Throws the message of
// the lowest failing layer. recycled: earlier cuts whose planes may be
// reused for these (fresh planes cost the kernel a page fault per 4 KB).
QVector<CutLayer> cutLayers(const LayerGrid &grid, const SlicerParams &sp, QVector<SliceLayer> &layers,
                            int first, int count, CutState &state, const CutFollowUp &followUp = {},
                            QVector<CutLayer> recycled = {});

// The same one layer at a time, for a driver that cuts beside other work:
// prepareCutState (serial) sizes the scratch for `threads` threads and the
// job's raster; cutOneLayer cuts a layer on the calling thread's scratch
// (any thread, each with its own scratch; throws the layer's message); then
// settleCut, called for the layers in order on any one thread at a time
// with that thread's scratch, applies the repair rule (cutting the layer
// again where the rule says so). `layers` entries must stay in place.
void prepareCutState(const LayerGrid &grid, CutState &state, int threads);
void cutOneLayer(const LayerGrid &grid, const SlicerParams &sp, const CutFollowUp &followUp, SliceLayer &layer,
                 CutScratch &s, CutLayer &out);
void settleCut(const LayerGrid &grid, const SlicerParams &sp, CutState &state, const CutFollowUp &followUp,
               SliceLayer &layer, CutScratch &s, CutLayer &out);
