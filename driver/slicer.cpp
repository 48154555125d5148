#include "driver/slicer.h"
#include "common/perfdata.h"
#include "driver/catchmessage.h"
#include "driver/layerschedule.h"
#include "driver/raftgcode.h"
#include "driver/shellregions.h"
#include "driver/slicefaces.h"
#include "driver/stages.h"
#include "gcode/gcodewriter.h"
#include "gcode/paramcheck.h"
#include "raster/paralell.h"
#include "scene/project.h"

#include <QDebug>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <utility>

namespace {

Slicer *g_running = nullptr;

// Clears the running-job pointer however slice() is left.
struct RunningGuard {
    ~RunningGuard() { g_running = nullptr; }
};

} // namespace

Slicer::Slicer(Project *scene, const SlicerParams *params, const BuildVolume *machineSize,
               SliceProgress progress)
    : m_scene(scene), m_params(params), m_machineSize(machineSize), m_progress(std::move(progress))
{
    m_progressTimer.start();
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

void sliceSceneStreaming(Project *scene, const SlicerParams *params, const BuildVolume *machineSize,
                         const SliceProgress &progress)
{
    Slicer s(scene, params, machineSize, progress);
    s.setStreaming(true);
    s.slice();
}

QByteArray Slicer::slice()
{
    if (g_running)
        throw QString("FATAL ERROR: Already slicing.");
    g_running = this;
    RunningGuard guard;

    // Before any work: a parameter the writer cannot print fails the job
    // with one message naming it, not with garbage G-code.
    validateParams(*m_params);
    perfClear();
    initialise();

    QByteArray result;
    streamLayers(result);
    if (m_progress)
        m_progress(100, result.mid(m_reportedBytes));
    if (m_streaming)
        result.clear();

    // The stage timings only for whoever asked for them: the logging's own
    // set-up (it looks for configuration files) costs a small job a percent.
    if (qEnvironmentVariableIsSet("TESSAVO_PERF"))
        qDebug().noquote() << perfReport();
    return result;
}

void Slicer::initialise()
{
    const SlicerParams &sp = *m_params;
    m_window = std::max(1, threadBudget());
    m_minBarWidth = m_scene->minBarWidth();
    m_head = PolyPoint(0, 0);
    m_reportedBytes = 0;

    const SliceFrame frame = SliceFaces(*m_scene, sp, m_layers);
    m_layerCount = m_layers.size();
    // More shell layers than the object has change nothing (every layer is
    // shell either way) but would stretch the steps and the rings: clamp.
    m_lookahead = std::min(std::max(sp.HShellCnt, 0), m_layerCount);

    m_grid = layerGrid(frame.rect, sp.ExtrusionWidth);
    // Two layers per thread prepared ahead let the orderings (in turn) run
    // beside the other layers' preparation, but every such layer holds a
    // mask and two region planes in the rings: so only while those planes
    // stay small (about 2 MB in all).
    const qint64 planeBytes = qint64(m_grid.width + 7) / 8 * m_grid.height;
    const qint64 perThread = 3 * planeBytes * m_window;
    m_window *= int(std::clamp<qint64>(perThread > 0 ? (qint64(2) << 20) / perThread : 2, 1, 2));

    m_rings = std::make_unique<LayerRings>(m_window, m_lookahead);
    // Cut up to two windows ahead of the steps: a cut is the largest piece of
    // a layer's work, and one always at hand keeps a thread from waiting for
    // the orderings in turn.
    m_cuts = QVector<CutLayer>(2 * m_window);
    m_cutErrors.assign(size_t(m_cuts.size()), QString());
    m_cutFailed.assign(size_t(m_cuts.size()), 0);
    m_offsetFollowUp = offsetFollowUp(m_grid, sp);
    m_cutState = CutState();
    m_travelCache.clear();
    m_work.assign(size_t(m_layerCount), LayerWork());
    m_inputs.assign(size_t(m_layerCount), LayerInputs());
}

void Slicer::stepLayer(int i, CutScratch &scratch, ShellRegionRings &regions)
{
    const SlicerParams &sp = *m_params;
    const int L = i + m_lookahead, N = m_layerCount;
    LayerRings &r = *m_rings;
    Plane1 &mask = r.layerMasks.acquire(L);
    Plane1 &inner = r.innerRegions.acquire(L);
    quint64 &innerId = r.innerIds.acquire(L);
    if (L < 0 || L >= N) {
        innerId = 0;
        // Beyond the object's bottom or top every pixel is outside, and the
        // shell-region step reads the inner regions there as empty.
        mask.setSize(QSize(m_grid.width, m_grid.height));
        mask.fill(0xFF);
        inner.setSize(QSize(m_grid.width, m_grid.height));
        inner.fill(0);
    } else {
        const size_t slot = size_t(L % m_cuts.size());
        if (m_cutFailed[slot])
            throw m_cutErrors[slot];
        // The slot gives its cut to the rings and takes their oldest planes
        // for a later cut to reuse.
        CutLayer &c = m_cuts[int(slot)];
        settleCut(m_grid, sp, m_cutState, m_offsetFollowUp, m_layers[L], scratch, c);
        std::swap(mask, c.mask);
        r.loopLists.acquire(L) = std::move(c.outlines);
        r.fillLists.acquire(L) = std::move(c.hairs);
        std::swap(inner, c.inner);
        std::swap(innerId, c.innerId);
        if (L == 0)
            m_firstMask = &mask;
    }
    shellRegionsStep(i, m_lookahead, N, regions);
    if (i < 0)
        return;
    if (sp.HShellType == 1)
        concentricShellStep(m_grid, sp, r.shellRegions.get(i), r.fillLists.get(i), m_offsetScratch);
    m_inputs[size_t(i)] = layerInputs(r, i);
}

void Slicer::emitLayer(int i, QByteArray &result)
{
    const SlicerParams &sp = *m_params;
    if (i == 0)
        result += gcodeFilePrefix(sp, raftGCode(sp, m_firstLayer.raft, m_grid, *m_machineSize));
    result += m_work[size_t(i)].gcode;
    if (i == m_layerCount - 1)
        result += gcodeFileSuffix(sp);
    m_work[size_t(i)] = LayerWork();
    m_layers[i].segs = Segments();
    m_layers[i].supportSegs = Segments();
}

void Slicer::streamLayers(QByteArray &result)
{
    PerfScope perf("layerStream");
    const SlicerParams &sp = *m_params;
    const int N = m_layerCount, H = m_lookahead;
    const bool inTurn = sp.LayerStartPos <= 0;
    const int threads = std::max(1, omp_get_max_threads());
    prepareCutState(m_grid, m_cutState, threads);
    if (int(m_travelCache.size()) < threads)
        m_travelCache.resize(size_t(threads));
    LayerRings &r = *m_rings;
    ShellRegionRings regions{r.innerRegions, r.regionPairs, r.stackIntersections, r.shellRegions,
                             r.infillRegions, &r.shellSummaries, &r.infillSummaries};
    std::vector<PathList> ordered(size_t(inTurn ? N : 0));
    // Raw pointers: no container may detach while the threads share it.
    SliceLayer *const layers = m_layers.data();
    CutLayer *const cuts = m_cuts.data();
    CutScratch *const scratch = m_cutState.scratch.data();
    TravelCache *const caches = m_travelCache.data();
    LayerWork *const work = m_work.data();
    const LayerInputs *const inputs = m_inputs.data();
    const int cutSlots = m_cuts.size();
    LayerSchedule schedule(N, H, m_window, cutSlots, inTurn);
#pragma omp parallel
    {
        const int t = omp_get_thread_num();
        for (;;) {
            const LayerSchedule::Item item = schedule.take(t == 0);
            if (item.kind == LayerSchedule::None)
                break;
            const int k = item.k;
            std::exception_ptr error;
            try {
                switch (item.kind) {
                case LayerSchedule::Cut:
                    m_cutFailed[size_t(k % cutSlots)] = !catchMessage(
                        [&] { cutOneLayer(m_grid, sp, m_offsetFollowUp, layers[k], scratch[t], cuts[k % cutSlots]); },
                        m_cutErrors[size_t(k % cutSlots)]);
                    break;
                case LayerSchedule::Step:
                    stepLayer(k, scratch[t], regions);
                    break;
                case LayerSchedule::Extras:
                    m_firstLayer = firstLayerExtras(m_grid, sp, *m_firstMask, layers[0].supportSegs, m_head);
                    break;
                case LayerSchedule::Prepare: {
                    QString message;
                    const bool ok = catchMessage(
                        [&] {
                            LayerWork &w = work[k];
                            prepareLayerWork(m_grid, sp, inputs[k], layers[k], m_minBarWidth, &caches[t], w);
                            if (inTurn)
                                return;
                            PolyPoint head = layerStartHead(m_grid, sp.LayerStartPos, layers[k].index, *m_machineSize);
                            QByteArray gcode = orderAndWriteLayer(m_grid, sp, *m_machineSize, layers[k], *inputs[k].mask,
                                                                  m_firstLayer, m_minBarWidth, w, head);
                            w = LayerWork();
                            w.gcode = std::move(gcode);
                        },
                        message);
                    if (!ok)
                        throw message;
                    break;
                }
                case LayerSchedule::Order:
                    ordered[size_t(k)] = orderLayerPaths(m_grid, sp, layers[k], *inputs[k].mask, m_firstLayer,
                                                         m_minBarWidth, work[k], m_head);
                    break;
                case LayerSchedule::Write: {
                    QByteArray gcode = writeOrderedLayer(m_grid, sp, *m_machineSize, layers[k], m_firstLayer,
                                                         ordered[size_t(k)]);
                    ordered[size_t(k)] = PathList();
                    work[k] = LayerWork();
                    work[k].gcode = std::move(gcode);
                    break;
                }
                case LayerSchedule::Emit:
                    emitLayer(k, result);
                    reportProgress(k, result);
                    break;
                case LayerSchedule::None:
                    break;
                }
            } catch (...) {
                error = std::current_exception();
            }
            schedule.done(item, error);
        }
    }
    if (std::exception_ptr error = schedule.failure())
        std::rethrow_exception(error);
}

void Slicer::reportProgress(int i, QByteArray &result)
{
    // The first layers go out as soon as they are written (a preview shows
    // them at once); after that every 200 ms, or sooner once the text since
    // the last report is half as long as the text before it: the chunk is a
    // copy of that text, which so stays a fraction of the whole however fast
    // the job runs. The last layer is left to the final report.
    if (i >= m_layerCount - 1)
        return;
    if (m_streaming) {
        // Every layer as it comes; nothing is kept.
        m_progressReported = true;
        if (m_progress)
            m_progress(int(std::lround((i + 1) * 100.0 / m_layerCount)), result);
        result.clear();
        return;
    }
    const int unreported = result.size() - m_reportedBytes;
    const bool large = unreported > std::max(1 << 20, m_reportedBytes / 2);
    if (m_progressReported && !large && m_progressTimer.elapsed() <= 200)
        return;
    m_progressReported = true;
    m_progressTimer.restart();
    const int percent = int(std::lround((i + 1) * 100.0 / m_layerCount));
    const int from = m_reportedBytes;
    m_reportedBytes = result.size();
    if (m_progress)
        m_progress(percent, result.mid(from));
}
