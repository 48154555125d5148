#include "driver/slicer.h"
#include "common/perfdata.h"
#include "scene/project.h"
#include "raster/paralell.h"
#include "driver/shellregions.h"
#include "driver/slicefaces.h"
#include "gcode/gcodewriter.h"
#include "gcode/paramcheck.h"

#include <QDebug>
#include <algorithm>
#include <cmath>

namespace {

Slicer *g_running = nullptr;

// Clears the running-job pointer however slice() is left.
struct RunningGuard {
    ~RunningGuard() { g_running = nullptr; }
};

} // namespace

Slicer::Slicer(Project *scene_, const SlicerParams *params_, const BuildVolume *machineSize_,
               SliceProgress progress_)
    : scene(scene_), params(params_), machineSize(machineSize_), progress(std::move(progress_))
{
    progressTimer.start();
}

Slicer::~Slicer() = default;

Slicer *Slicer::running()
{
    return g_running;
}

QByteArray sliceScene(Project *scene, const SlicerParams *params, const BuildVolume *machineSize,
                      const SliceProgress &progress)
{
    Slicer s(scene, params, machineSize, progress);
    return s.slice();
}

QByteArray Slicer::slice()
{
    if (g_running)
        throw QString("FATAL ERROR: Already slicing.");
    g_running = this;
    RunningGuard guard;

    // Before any work: a parameter the writer cannot print fails the job
    // with one message naming it, not with garbage G-code.
    validateParams(*params);
    perfClear();
    initialise();

    const int N = layerCount, H = lookahead, B = batchSize;
    ShellRegionRings rings{*innerRegions, *regionPairs, *stackIntersections, *shellRegions,
                           *infillRegions};
    QByteArray result, pending;
    for (int i = -2 * H; i < N; ++i) {
        const int L = i + H;
        sliceLayer(L);
        if (L == 0)
            brimSkirtRaftStage();
        offsetLayer(L);
        {
            PerfScope perf("shellRegions");
            shellRegionsStep(i, H, N, rings);
        }
        if (i >= 0) {
            if (params->HShellType == 1)
                concentricShellStep(i);
            if (i % B == B - 1 || i == N - 1)
                runBatch(i / B * B, i, result, pending);
        }
        reportProgress(i, pending, false);
    }
    if (progress)
        progress(100, QByteArray(pending));
    pending.clear();

    qDebug().noquote() << perfReport();
    return result;
}

void Slicer::initialise()
{
    const SlicerParams &sp = *params;
    batchSize = std::max(1, threadBudget());
    vshellCount = sp.VShellCnt;
    minBarWidth = scene->minBarWidth();
    parallelStarts = sp.LayerStartPos > 0;
    bedCentre[0] = machineSize->W * 0.5f;
    bedCentre[1] = machineSize->D * 0.5f;
    lastHeadPos = PolyPoint(0, 0);
    repairCount = 0;

    const SliceFrame frame = SliceFaces(*scene, sp.MinSliceHeight, sp.MaxSliceHeight, sp.LayerHeight,
                                        sp.FirstLayerHeight, minBarWidth * 1.1f, 0.5f, layers);
    layerCount = layers.size();
    // More shell layers than the object has change nothing (every layer is
    // shell either way) but would stretch the loop and the rings: clamp.
    lookahead = std::min(std::max(sp.HShellCnt, 0), layerCount);

    grid = layerGrid(frame.rect, sp.ExtrusionWidth);
    xf.sx = grid.pitchX;
    xf.sy = grid.pitchY;
    xf.ox = grid.originX;
    xf.oy = grid.originY;
    xf.volume = *machineSize;
    initRings();
}

void Slicer::initRings()
{
    const int B = batchSize, H = lookahead;
    loopLists = std::make_unique<FIFO<PathList>>(B + H);
    fillLists = std::make_unique<FIFO<PathList>>(B + H);
    layerMasks = std::make_unique<FIFO<Plane1>>(B + H + 1);
    innerRegions = std::make_unique<FIFO<Plane1>>(H + 1);
    regionPairs = std::make_unique<FIFO<Plane1>>((H + 1) / 2);
    stackIntersections = std::make_unique<FIFO<Plane1>>(H + 2);
    shellRegions = std::make_unique<FIFO<Plane1>>(B);
    infillRegions = std::make_unique<FIFO<Plane1>>(B);
    outsideMask.setSize(QSize(grid.width, grid.height));
    outsideMask.fill(0xFF);
    staged.clear();
    stagedFirst = 0;
}

void Slicer::runBatch(int first, int last, QByteArray &result, QByteArray &pending)
{
    PerfScope perf("LineFill_OptToolPath_MakeGCode");
    paralellLayerProcessing(first, last);

    QByteArray batch;
    for (int L = first; L <= last; ++L) {
        LayerWork &work = batchWork[L - first];
        if (!parallelStarts)
            orderAndWriteLayer(L, work, lastHeadPos);
        SliceLayer &rec = layers[L];
        if (L == 0)
            batch += gcodeFilePrefix(*params, raftText);
        batch += rec.gcode;
        if (L == layerCount - 1)
            batch += gcodeFileSuffix(*params);
        rec.release();
        rec.segs = Segments();
        rec.supportSegs = Segments();
        work = LayerWork();
    }
    result += batch;
    pending += batch;
}

void Slicer::reportProgress(int i, QByteArray &pending, bool force)
{
    if (i < 0)
        return;
    // The first layers go out as soon as they are written (a preview shows
    // them at once); after that at most every 200 ms. The last layer is
    // left to the final report.
    const bool firstLayers = !progressReported && !pending.isEmpty() && i < layerCount - 1;
    if (!force && !firstLayers && progressTimer.elapsed() <= 200)
        return;
    progressReported = true;
    progressTimer.restart();
    const int percent = int(std::lround((i + 1) * 100.0 / layerCount));
    if (progress)
        progress(percent, QByteArray(pending));
    pending.clear();
}
