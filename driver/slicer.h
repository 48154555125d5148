#pragma once
// The slicing driver: one complete job from the scene to the G-code text.
//
// Slicer::slice decides the order of the stages, how far cutting runs ahead
// of the G-code output (HShellCnt layers), which stages run in parallel
// (whole layers of a batch on OpenMP threads) and in which order layer texts
// are emitted (always ascending, so the output never depends on the thread
// count or timing). Runs on the calling thread; the progress callback is
// called from that thread only.
//
// Units: scene mm (segment y = scene z) until the raster; raster pixels
// (one extrusion width = grid.widthInPixels, about 3.003) from there on.
// Failures are exceptions carrying a QString; a failure inside the parallel
// stage is caught there and rethrown after the join (the lowest layer's).
#include "common/buildvolume.h"
#include "params/slicerparams.h"
#include "driver/fifo.h"
#include "driver/layerraster.h"
#include "raster/plane1.h"
#include "raster/plane8.h"
#include "driver/slicelayer.h"
#include "geometry/polyline.h"
#include "gcode/gcodetransform.h"
#include "toolpath/shellsteps.h"
#include "toolpath/skirtbrimraft.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QVector>
#include <functional>
#include <memory>

class Project;

using SliceProgress = std::function<void(int percent, const QByteArray &chunk)>;

class Slicer {
public:
    // Nothing is read until slice(); all pointers must outlive the Slicer.
    Slicer(Project *scene, const SlicerParams *params, const BuildVolume *machineSize,
           SliceProgress progress);
    Slicer(const Slicer &) = delete;
    Slicer &operator=(const Slicer &) = delete;
    ~Slicer();

    // The whole job (see slicer.cpp). Throws "FATAL ERROR: Already slicing."
    // while another job runs, "Invalid parameter <Key>: ..." for a parameter
    // set the writer cannot print, and any stage's message.
    QByteArray slice();

    // The job currently running in this process, or null.
    static Slicer *running();

    // --- read by the stages ---
    Project *scene;
    const SlicerParams *params;
    const BuildVolume *machineSize;
    SliceProgress progress;
    QElapsedTimer progressTimer;
    bool progressReported = false;
    int batchSize = 1;
    int lookahead = 0;
    int vshellCount = 0;
    float minBarWidth = 0;
    bool parallelStarts = false;
    float bedCentre[2] = {0, 0};
    PolyPoint lastHeadPos;
    int repairCount = 0;
    int layerCount = 0;
    LayerGrid grid;         // the raster frame: extents, size, pitch, origin, scale
    GCodeTransform xf;      // raster -> machine mm for the writer
    FirstLayerExtras firstLayer; // skirt paths of layer 0, raft layers and height
    QByteArray raftText;         // the raft's G-code, for the header block
    QVector<SliceLayer> layers;

    // Layer-indexed rings (capacities set in initRings).
    std::unique_ptr<FIFO<PathList>> loopLists;  // traced perimeters and loops
    std::unique_ptr<FIFO<PathList>> fillLists;  // hairs and concentric shells
    std::unique_ptr<FIFO<Plane1>> layerMasks;   // set bit = outside the solid area
    std::unique_ptr<FIFO<Plane1>> innerRegions; // set bit = inside the innermost loop
    std::unique_ptr<FIFO<Plane1>> regionPairs;
    std::unique_ptr<FIFO<Plane1>> stackIntersections;
    std::unique_ptr<FIFO<Plane1>> shellRegions;
    std::unique_ptr<FIFO<Plane1>> infillRegions;

    // Cutting and offsetting run ahead in parallel chunks of batchSize
    // layers; sliceLayer and offsetLayer then move a layer's results into
    // the rings in order, so the rings see exactly the sequential road.
    struct CutLayer {
        Plane1 mask;              // layer mask, set bit = outside
        PathList outlines, hairs; // perimeters and loops; hairs
        Plane1 inner;             // inner region, set bit = inside
        bool repaired = false;    // the checked fill left a row open
        QString error;
        bool failed = false;
    };
    struct CutScratch {           // one per thread
        Plane8 raster;
        Plane1 fillScratch;
        OffsetScratch offset;
        ShellStepsResult shells;
    };
    QVector<CutLayer> staged;     // layers stagedFirst .. stagedFirst + size - 1
    int stagedFirst = 0;
    QVector<CutScratch> cutScratch;
    Plane1 outsideMask;           // the mask of a layer beyond the object
    OffsetScratch offsetScratch;  // concentric shells, on the driver's thread

    // What the parallel stage leaves for the sequential part of a batch.
    struct LayerWork {
        QVector<PathList> shells; // shells[0] perimeters, shells[k] loops of shell k
        PathList fill;            // infill, shell lines and hairs
        PathList other;           // support chains
        QString error;            // first failure of the layer's parallel work
        bool failed = false;
    };
    QVector<LayerWork> batchWork;

private:
    // Stages, in the order slice() calls them (one file each).
    void initialise();
    void initRings();
    void sliceLayer(int L);                          // slicelayerstep.cpp
    void cutAhead(int L);                            // cutlayers.cpp
    void cutLayer(int L, bool repairFirst, CutLayer &out, CutScratch &s);
    void brimSkirtRaftStage();                       // firstlayerstage.cpp
    void offsetLayer(int L);                          // offsetstage.cpp
    void concentricShellStep(int i);                  // offsetstage.cpp
    void runBatch(int first, int last, QByteArray &result, QByteArray &pending);
    void paralellLayerProcessing(int first, int last); // paralelllayer.cpp
    void prepareLayer(int L, LayerWork &work);         // paralelllayer.cpp
    void orderAndWriteLayer(int L, LayerWork &work, PolyPoint &head); // layeroutput.cpp
    void reportProgress(int i, QByteArray &pending, bool force);
};

// Constructs a Slicer for one job, runs it and returns the G-code text.
QByteArray sliceScene(Project *scene, const SlicerParams *params, const BuildVolume *machineSize,
                      const SliceProgress &progress);
