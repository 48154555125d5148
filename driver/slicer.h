#pragma once
// The slicing driver: one complete job from the scene to the G-code text.
//
// Slicer::slice decides the order of the stages (driver/stages.h), how far
// cutting runs ahead of the G-code output, and in which order layer texts
// are emitted (always ascending, so the output never depends on the thread
// count or timing). It streams the layers through one parallel region: the
// OpenMP threads take each layer's cut, its steps in turn (into the rings
// that hold each layer's planes and paths between the stages), its
// preparation, its ordering (in turn: each starts where the last ended) and
// its writing as soon as what they need is done; the calling thread alone
// emits the texts and calls the progress callback.
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
#include <memory>
#include <vector>

class Project;

using SliceProgress = std::function<void(int percent, const QByteArray &chunk)>;

struct TravelCache;
struct LayerWork;
struct LayerInputs;
struct ShellRegionRings;

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

    // Call before slice(): every layer's text goes to the progress callback
    // as soon as it is emitted, and slice() returns an empty text. For a
    // caller that writes and reads the text as it comes: it is not held
    // twice, and the reading keeps pace with the slicing.
    void setStreaming(bool on) { m_streaming = on; }

private:
    void initialise();
    // The layers through the stages (see slicer.cpp), their texts appended
    // to `result`.
    void streamLayers(QByteArray &result);
    // Step i of the layers in turn (i = -2H … N - 1): layer i + H's cut into
    // the rings (after the repair rule, on `scratch`, the calling thread's),
    // beyond the object an all-outside mask and an empty inner region; then
    // the shell regions of layer i and, for i >= 0, its inputs looked up.
    // Layer 0's skirt, brim or raft is made beside the steps (its own item).
    void stepLayer(int i, CutScratch &scratch, ShellRegionRings &regions);
    // Layer i's text appended to `result` (the file's prefix before layer 0,
    // its suffix after the last), its work dropped.
    void emitLayer(int i, QByteArray &result);
    // The text after m_reportedBytes to the progress callback, when due
    // (streamed: every layer's text, which `result` then drops).
    void reportProgress(int i, QByteArray &result);

    Project *m_scene;
    const SlicerParams *m_params;
    const BuildVolume *m_machineSize;
    SliceProgress m_progress;
    bool m_streaming = false;
    QElapsedTimer m_progressTimer;
    bool m_progressReported = false;
    int m_reportedBytes = 0;   // how much of the text the callback has had

    // The job, set by initialise().
    int m_window = 1;         // layers prepared ahead of the ordering (ring sizes)
    int m_lookahead = 0;
    int m_layerCount = 0;
    float m_minBarWidth = 0;  // mm, the scene's thinnest support bar
    LayerGrid m_grid;         // the raster frame
    QVector<SliceLayer> m_layers;
    FirstLayerExtras m_firstLayer; // skirt paths of layer 0, raft layers and height
    const Plane1 *m_firstMask = nullptr; // layer 0's mask in its ring slot, set by its step
    PolyPoint m_head;              // where the previous layer's ordering left the head

    std::unique_ptr<LayerRings> m_rings;
    // The layers cut ahead of the steps: layer L in slot L % size, with the
    // message of a cut that failed.
    QVector<CutLayer> m_cuts;
    std::vector<QString> m_cutErrors;
    std::vector<char> m_cutFailed;
    CutState m_cutState;
    CutFollowUp m_offsetFollowUp;   // the offsetting after each layer's cut
    std::vector<LayerWork> m_work;  // per layer, from its preparation to its emission
    std::vector<LayerInputs> m_inputs; // per layer, set by its step
    std::vector<TravelCache> m_travelCache; // per thread, see prepareLayerWork
    OffsetScratch m_offsetScratch; // concentric shells, in the steps
};

// Constructs a Slicer for one job, runs it and returns the G-code text.
QByteArray sliceScene(Project *scene, const SlicerParams *params, const BuildVolume *machineSize,
                      const SliceProgress &progress);
// The same job streamed (Slicer::setStreaming): the text reaches `progress`
// layer by layer, in order, and is not returned.
void sliceSceneStreaming(Project *scene, const SlicerParams *params, const BuildVolume *machineSize,
                         const SliceProgress &progress);
