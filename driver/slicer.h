#pragma once
// The slicing driver: one complete job from the scene to the G-code text.
//
// Slicer::slice decides the order of the stages (driver/stages.h), how far
// cutting runs ahead of the G-code output (HShellCnt layers), which stages
// run in parallel (whole layers of a batch on OpenMP threads) and in which
// order layer texts are emitted (always ascending, so the output never
// depends on the thread count or timing). It owns the rings that hold each
// layer's planes and paths between the stages. Runs on the calling thread;
// the progress callback is called from that thread only.
//
// Units: scene mm (segment y = scene z) until the raster; raster pixels
// (one extrusion width = grid.widthInPixels, about 3.003) from there on.
// Failures are exceptions carrying a QString; a failure inside a parallel
// stage is caught there and rethrown after the join (the lowest layer's).
#include "common/buildvolume.h"
#include "driver/cutlayers.h"
#include "driver/layerrings.h"
#include "driver/slicelayer.h"
#include "geometry/polyline.h"
#include "params/slicerparams.h"
#include "raster/layergrid.h"
#include "raster/plane1.h"
#include "toolpath/shellsteps.h"
#include "toolpath/skirtbrimraft.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QVector>
#include <functional>
#include <future>
#include <memory>
#include <vector>

class Project;

using SliceProgress = std::function<void(int percent, const QByteArray &chunk)>;

struct TravelCache;

struct LayerWork;

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

    // Call before slice(): every batch's text goes to the progress callback
    // as soon as it is written, and slice() returns an empty text. For a
    // caller that writes and reads the text as it comes: it is not held
    // twice, and the reading keeps pace with the slicing.
    void setStreaming(bool on) { m_streaming = on; }

private:
    void initialise();
    // Layer L's cut, offsets and inner region into the rings (cut ahead in
    // runs of layers when L is not cut yet); beyond the object an all-outside
    // mask and an empty inner region.
    void sliceLayer(int L);
    // Batch first … last: the parallel stage, then ordering and writing in
    // layer order, each text appended to `result` and `pending`.
    void runBatch(int first, int last, QByteArray &result, QByteArray &pending);
    // Prepares layers first … last, orders them in turn from m_head and
    // writes their G-code into `work` (LayerStartPos 0).
    // With `cut`, its layers are cut by the same threads (cutRunLayer).
    void prepareOrderAndWriteBatch(int first, int last, QVector<LayerWork> &work, CutRun *cut = nullptr);
    // How many layers the cut run starting at L holds.
    int cutRunLength(int L) const;
    void reportProgress(int i, QByteArray &pending, bool force);
    // Layer 0's skirt, brim or raft from its mask (cut by now): made on a
    // thread of its own when there are threads to share. finish takes it
    // into m_firstLayer and m_head (once; rethrows its failure).
    void startFirstLayerExtras();
    void finishFirstLayerExtras();

    Project *m_scene;
    const SlicerParams *m_params;
    const BuildVolume *m_machineSize;
    SliceProgress m_progress;
    bool m_streaming = false;
    QElapsedTimer m_progressTimer;
    bool m_progressReported = false;

    // The job, set by initialise().
    int m_batchSize = 1;
    int m_lookahead = 0;
    int m_layerCount = 0;
    float m_minBarWidth = 0;  // mm, the scene's thinnest support bar
    LayerGrid m_grid;         // the raster frame
    QVector<SliceLayer> m_layers;
    FirstLayerExtras m_firstLayer; // skirt paths of layer 0, raft layers and height
    PolyPoint m_head;              // where the previous layer's ordering left the head

    // The rings, and the layers cut ahead of them.
    std::unique_ptr<LayerRings> m_rings;
    QVector<CutLayer> m_cut;  // layers m_cutFirst … m_cutFirst + size - 1
    int m_cutFirst = 0;
    CutState m_cutState;
    CutFollowUp m_offsetFollowUp;   // the offsetting after each layer's cut
    // The run cut beside the last batch (layers m_aheadFirst …), and the
    // planes of the run before the current one, for the next such run.
    QVector<CutLayer> m_aheadCut, m_spareCut;
    int m_aheadFirst = 0;
    bool m_aheadValid = false;
    bool m_cutAhead = false;        // see initialise()
    std::vector<TravelCache> m_travelCache; // per thread, see paralellLayerProcessing
    OffsetScratch m_offsetScratch; // concentric shells, on the driver's thread
    struct FirstLayer {
        FirstLayerExtras extras;
        PolyPoint head;
    };
    // Last: a job still running is waited for before the rings it reads go.
    std::future<FirstLayer> m_firstLayerJob;
};

// Constructs a Slicer for one job, runs it and returns the G-code text.
QByteArray sliceScene(Project *scene, const SlicerParams *params, const BuildVolume *machineSize,
                      const SliceProgress &progress);
// The same job streamed (Slicer::setStreaming): the text reaches `progress`
// batch by batch, in order, and is not returned.
void sliceSceneStreaming(Project *scene, const SlicerParams *params, const BuildVolume *machineSize,
                         const SliceProgress &progress);
