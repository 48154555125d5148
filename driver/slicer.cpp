#include "driver/slicer.h"
#include "common/perfdata.h"
#include "driver/catchmessage.h"
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
#include <condition_variable>
#include <mutex>
#include <exception>
#include <limits>
#include <cmath>
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

namespace {

// Hands out the work of a job's layers to the threads of one parallel
// region. Step i (layer i + H's cut into the rings, layer i's shell regions)
// runs in turn and needs that cut done; it overwrites the ring slots of
// layer i - W (loops, fills, regions) and i - W - 1 (mask), so it waits for
// their preparation and ordering. A layer's preparation needs its step; its
// ordering its preparation and (in turn) the previous ordering; its writing
// its ordering; its emission (in turn, by the calling thread only) its
// writing. A cut needs a free slot: the step that took the slot's last cut.
// Layer 0's skirt, brim or raft (the extras) needs layer 0's step; layer 0's
// ordering and every writing (the raft's height) need it. Without orderings
// in turn (each layer from its own start point) a layer's preparation orders
// and writes it too, so it needs the extras as well.
//
// The items go out as: emission (calling thread), ordering, step, extras,
// preparation, writing, cut: the short items that unlock others first, the
// cuts (the bulk of the work, free of order) fill the rest.
//
// A failure stops the items after it in the order the layers would meet
// them one after the other (step i, then layer i's preparation, ordering,
// writing, emission, then step i + 1); the items before it still run, so
// the failure reported is the first in that order, whatever the timing.
class LayerSchedule {
public:
    // Extras: layer 0's skirt, brim or raft (after layer 0's step; before
    // layer 0's ordering and any writing, which read the raft's height).
    enum Kind { None, Cut, Step, Prepare, Order, Write, Emit, Extras };
    struct Item {
        Kind kind;
        int k;
    };

    LayerSchedule(int layers, int lookahead, int window, int cutSlots, bool inTurn)
        : m_n(layers), m_h(lookahead), m_w(window), m_c(cutSlots), m_inTurn(inTurn), m_nextStep(-2 * lookahead),
          m_cut(size_t(layers), 0), m_prepared(size_t(layers), 0), m_written(size_t(layers), 0)
    {
    }

    // The next item for the calling thread (`emits`: the one that emits);
    // None once nothing is left to it.
    Item take(bool emits)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            if (emits && m_nextEmit < m_n && m_written[size_t(m_nextEmit)] && open(Emit, m_nextEmit))
                return begin(Emit, m_nextEmit++);
            if (m_inTurn && !m_ordering && m_nextOrder < m_n && m_prepared[size_t(m_nextOrder)]
                && (m_nextOrder > 0 || m_extrasDone) && open(Order, m_nextOrder)) {
                m_ordering = true;
                return begin(Order, m_nextOrder++);
            }
            if (!m_stepping && m_nextStep < m_n && stepReady(m_nextStep) && open(Step, m_nextStep)) {
                m_stepping = true;
                return begin(Step, m_nextStep++);
            }
            if (!m_extrasTaken && m_n > 0 && stepsDone() > -m_h && open(Extras, -m_h)) {
                m_extrasTaken = true;
                return begin(Extras, 0);
            }
            if (m_nextPrepare < stepsDone() && (m_inTurn || m_extrasDone) && open(Prepare, m_nextPrepare))
                return begin(Prepare, m_nextPrepare++);
            if (m_inTurn && m_nextWrite < ordersDone() && open(Write, m_nextWrite))
                return begin(Write, m_nextWrite++);
            if (m_nextCut < m_n && m_nextCut < stepsDone() + m_h + m_c && open(Step, m_nextCut - m_h))
                return begin(Cut, m_nextCut++);
            if (m_running == 0)
                return {None, 0};
            m_wake.wait(lock);
        }
    }

    // `error`: the item failed.
    void done(Item item, std::exception_ptr error)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            --m_running;
            const size_t k = size_t(item.k);
            switch (item.kind) {
            case Cut:
                m_cut[k] = 1;
                break;
            case Step:
                m_stepping = false;
                break;
            case Prepare:
                m_prepared[k] = 1;
                while (m_preparedPrefix < m_n && m_prepared[size_t(m_preparedPrefix)])
                    ++m_preparedPrefix;
                if (!m_inTurn)
                    m_written[k] = 1;
                break;
            case Order:
                m_ordering = false;
                break;
            case Write:
                m_written[k] = 1;
                break;
            case Extras:
                m_extrasDone = true;
                break;
            default:
                break;
            }
            const qint64 at = item.kind == Extras ? key(Extras, -m_h) : key(item.kind, item.k);
            if (error && at < m_stop) {
                m_stop = at;
                m_error = error;
            }
        }
        m_wake.notify_all();
    }

    // After the region: the first failure, or null.
    std::exception_ptr failure() const { return m_error; }

private:
    // Position in the order one thread would meet the items (a cut counts
    // as the step that takes it; the extras come right after layer 0's step).
    qint64 key(Kind kind, int i) const { return (qint64(i) + 2 * m_h) * 8 + kind; }
    bool open(Kind kind, int i) const { return key(kind, i) < m_stop; }
    int stepsDone() const { return m_stepping ? m_nextStep - 1 : m_nextStep; }
    int ordersDone() const { return m_inTurn ? (m_ordering ? m_nextOrder - 1 : m_nextOrder) : m_preparedPrefix; }
    bool stepReady(int i) const
    {
        const int L = i + m_h;
        if (L >= 0 && L < m_n && !m_cut[size_t(L)])
            return false;
        return m_preparedPrefix > i - m_w && ordersDone() > i - m_w - 1;
    }
    Item begin(Kind kind, int k)
    {
        ++m_running;
        return {kind, k};
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    const int m_n, m_h, m_w, m_c;
    const bool m_inTurn;
    int m_nextCut = 0, m_nextStep, m_nextPrepare = 0, m_preparedPrefix = 0, m_nextOrder = 0, m_nextWrite = 0,
        m_nextEmit = 0, m_running = 0;
    bool m_stepping = false, m_ordering = false, m_extrasTaken = false, m_extrasDone = false;
    std::vector<char> m_cut, m_prepared, m_written;
    qint64 m_stop = std::numeric_limits<qint64>::max();
    std::exception_ptr m_error;
};

} // namespace

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
